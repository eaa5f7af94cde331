#include "app/nearby_rules.h"

#include <algorithm>

namespace morvane {

NearbyRowLook nearbyRowLook(const PeerSession::NearbyCamera& camera) {
    using Control = NearbyRowLook::Control;
    const NearbyRowLook::Label paired{QStringLiteral("Paired"), QStringLiteral("checkmark.seal.fill"), true};
    if (camera.isThisDevice)
        return {NearbyRowLook::Label{QStringLiteral("This Mac"), QStringLiteral("laptopcomputer"), false}, Control::none};
    if (camera.isConnected)
        return {NearbyRowLook::Label{QStringLiteral("Connected"), QStringLiteral("dot.radiowaves.left.and.right"), true},
                Control::disconnect};
    if (camera.isConnecting)
        return {camera.isPaired ? std::optional(paired) : std::nullopt, Control::spinner};
    if (camera.isPaired) return {paired, Control::connect};
    return {std::nullopt, Control::pair};
}

std::optional<QString> nearbyCountLine(std::size_t connected, int cameraLimit) {
    if (cameraLimit < 2) return std::nullopt;
    return QString::number(connected) + QStringLiteral(" of ") + QString::number(cameraLimit) +
           QStringLiteral(" connected");
}

bool nearbyShowsWaiting(const std::vector<PeerSession::NearbyCamera>& cameras) {
    return std::all_of(cameras.begin(), cameras.end(), [](const auto& c) { return c.isThisDevice; });
}

}  // namespace morvane
