#include "nearby_invitations.h"

#include <algorithm>

namespace morvane {

std::string NearbyInvitations::hex(const Bytes& key) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : key) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

const NearbyInvitations::Camera* NearbyInvitations::find(const PeerId& id) const {
    for (const auto& camera : cameras_) {
        if (camera.id == id) return &camera;
    }
    return nullptr;
}

void NearbyInvitations::announced(const Camera& camera) {
    auto it = std::find_if(cameras_.begin(), cameras_.end(), [&](const Camera& c) { return c.id == camera.id; });
    if (it != cameras_.end()) {
        *it = camera;
        return;
    }
    pauses_.erase(hex(camera.key));
    cameras_.push_back(camera);
}

void NearbyInvitations::lost(const PeerId& id, bool answers) {
    auto it = std::find_if(cameras_.begin(), cameras_.end(), [&](const Camera& c) { return c.id == id; });
    if (it == cameras_.end()) return;
    if (answers) {
        it->lostWhileConnected = true;
    } else {
        cameras_.erase(it);
    }
}

void NearbyInvitations::remove(const PeerId& id) {
    std::erase_if(cameras_, [&](const Camera& c) { return c.id == id; });
}

bool NearbyInvitations::mayInviteAutomatically(const Camera& camera) const {
    if (disconnectedNames_.count(camera.name)) return false;
    auto pause = pauses_.find(hex(camera.key));
    return pause == pauses_.end() || Clock::now() >= pause->second.notBefore;
}

double NearbyInvitations::failed(const Bytes& key) {
    auto& pause = pauses_[hex(key)];
    pause.failures = std::min(pause.failures + 1, 16);
    const double delay = std::min(retryMaximum_, retryMinimum_ * static_cast<double>(1 << (pause.failures - 1)));
    pause.notBefore = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(delay));
    return delay;
}

void NearbyInvitations::clearPause(const Bytes& key) {
    pauses_.erase(hex(key));
}

std::vector<NearbyInvitations::Address> NearbyInvitations::addressesOf(const Camera& camera) const {
    std::vector<Address> candidates;
    if (auto good = lastGood_.find(hex(camera.key)); good != lastGood_.end()) candidates.push_back(good->second);
    const Address announced{camera.address, camera.port};
    if (candidates.empty() || candidates.front() != announced) candidates.push_back(announced);
    return candidates;
}

void NearbyInvitations::answeredAt(const Bytes& key, const Address& address) {
    lastGood_[hex(key)] = address;
}

}  // namespace morvane
