#pragma once

#include <QString>

#include <optional>
#include <vector>

#include "link/peer_session.h"

namespace morvane {

/// One nearby camera's row: its state label (text, symbol, green or secondary) and its control.
struct NearbyRowLook {
    struct Label {
        QString text;
        QString symbol;
        bool green = false;
        friend bool operator==(const Label&, const Label&) = default;
    };
    enum class Control { none, disconnect, spinner, connect, pair };
    std::optional<Label> label;
    Control control = Control::none;
    friend bool operator==(const NearbyRowLook&, const NearbyRowLook&) = default;
};
/// The first rule that holds: this device, connected, connecting, paired, otherwise.
NearbyRowLook nearbyRowLook(const PeerSession::NearbyCamera& camera);

/// "2 of 4 connected", only for a remote that shows two or more cameras.
std::optional<QString> nearbyCountLine(std::size_t connected, int cameraLimit);
/// The waiting text shows while no camera but this device is listed.
bool nearbyShowsWaiting(const std::vector<PeerSession::NearbyCamera>& cameras);
inline const char* const nearbyWaitingText =
    "On the other iPhone, open Brindlecroft and tap “This is the camera”.";

}  // namespace morvane
