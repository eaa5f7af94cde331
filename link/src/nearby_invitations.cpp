#include "nearby_invitations.h"

#include <algorithm>
#include <tuple>

namespace morvane {

namespace {

// Addresses remembered for one key; a forger announcing many ports pushes out only the ones heard of longest ago.
constexpr std::size_t maxAddressesPerKey = 8;

}  // namespace

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
    const auto now = Clock::now();
    auto& seen = announcedAt_[hex(camera.key)];
    std::erase_if(seen, [&](const Seen& s) {
        return s.address == Address{camera.address, camera.port} || now - s.at > std::chrono::duration<double>(recent_);
    });
    if (seen.size() >= maxAddressesPerKey) seen.pop_back();
    seen.insert(seen.begin(), Seen{{camera.address, camera.port}, now, camera.sourcePort});
    auto it = std::find_if(cameras_.begin(), cameras_.end(), [&](const Camera& c) { return c.id == camera.id; });
    if (it != cameras_.end()) {
        const auto previous = it->key;
        *it = camera;
        forgetAddressesOf(previous);
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
        const auto key = it->key;
        cameras_.erase(it);
        forgetAddressesOf(key);
    }
}

void NearbyInvitations::remove(const PeerId& id) {
    auto it = std::find_if(cameras_.begin(), cameras_.end(), [&](const Camera& c) { return c.id == id; });
    if (it == cameras_.end()) return;
    const auto key = it->key;
    cameras_.erase(it);
    forgetAddressesOf(key);
}

void NearbyInvitations::clear() {
    cameras_.clear();
    announcedAt_.clear();
    triedAt_.clear();
}

void NearbyInvitations::forgetAddressesOf(const Bytes& key) {
    if (std::none_of(cameras_.begin(), cameras_.end(), [&](const Camera& c) { return c.key == key; })) {
        announcedAt_.erase(hex(key));
        triedAt_.erase(hex(key));
    }
}

bool NearbyInvitations::mayInviteAutomatically(const Camera& camera) const {
    if (disconnectedNames_.count(camera.name)) return false;
    auto pause = pauses_.find(hex(camera.key));
    return pause == pauses_.end() || Clock::now() >= pause->second.notBefore ||
           !triedLately(camera.key, {camera.address, camera.port});
}

void NearbyInvitations::tried(const Bytes& key, const Address& address) {
    const auto now = Clock::now();
    auto& seen = triedAt_[hex(key)];
    std::erase_if(seen, [&](const Seen& s) {
        return s.address == address || now - s.at > std::chrono::duration<double>(recent_);
    });
    seen.push_back({address, now});
}

bool NearbyInvitations::triedLately(const Bytes& key, const Address& address) const {
    auto seen = triedAt_.find(hex(key));
    if (seen == triedAt_.end()) return false;
    const auto now = Clock::now();
    return std::any_of(seen->second.begin(), seen->second.end(), [&](const Seen& s) {
        return s.address == address && now - s.at <= std::chrono::duration<double>(recent_);
    });
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
    triedAt_.erase(hex(key));
}

std::vector<NearbyInvitations::Address> NearbyInvitations::addressesOf(const Camera& camera) const {
    std::vector<Address> candidates;
    auto add = [&](const Address& address) {
        if (std::find(candidates.begin(), candidates.end(), address) == candidates.end()) candidates.push_back(address);
    };
    if (auto good = lastGood_.find(hex(camera.key)); good != lastGood_.end()) add(good->second);
    add({camera.address, camera.port});
    if (auto seen = announcedAt_.find(hex(camera.key)); seen != announcedAt_.end()) {
        const auto now = Clock::now();
        for (const auto& s : seen->second) {
            if (now - s.at <= std::chrono::duration<double>(recent_)) add(s.address);
        }
    }
    return candidates;
}

NearbyInvitations::Room NearbyInvitations::roomForAttempt(const std::vector<Attempt>& attempts, const Source& from,
                                                          const std::optional<std::string>& home,
                                                          Clock::time_point now) {
    if (attempts.size() < maxAttempts) return {};
    const auto atHome = [&](const Source& source) { return home && source.host == *home; };
    std::map<std::string, std::size_t> perHost;
    for (const auto& attempt : attempts) ++perHost[attempt.source.host];
    // The host the camera was reached at: the oldest attempt of the other host that holds the most makes way.
    if (atHome(from)) {
        const Attempt* victim = nullptr;
        auto rank = [&](const Attempt& a) { return std::make_tuple(perHost[a.source.host], now - a.since); };
        for (const auto& attempt : attempts) {
            if (atHome(attempt.source)) continue;
            if (!victim || rank(attempt) > rank(*victim)) victim = &attempt;
        }
        if (victim) return {true, victim->id};
    }
    std::map<Source, std::size_t> held;
    for (const auto& attempt : attempts) ++held[attempt.source];
    const auto own = held[from];
    // The oldest attempt of the socket that holds the most; a socket holding fewer than the newcomer's keeps its own.
    const Attempt* victim = nullptr;
    auto rank = [&](const Attempt& a) { return std::make_tuple(held[a.source], now - a.since); };
    for (const auto& attempt : attempts) {
        if (held[attempt.source] < own || atHome(attempt.source) != atHome(from)) continue;
        if (!victim || rank(attempt) > rank(*victim)) victim = &attempt;
    }
    if (victim &&
        (held[victim->source] > own + 1 || now - victim->since >= std::chrono::duration<double>(attemptGrace))) {
        return {true, victim->id};
    }
    return {false, std::nullopt};
}

void NearbyInvitations::answeredAt(const Bytes& key, const Address& address) {
    lastGood_[hex(key)] = address;
}

std::optional<std::string> NearbyInvitations::reachedAt(const Bytes& key) const {
    auto good = lastGood_.find(hex(key));
    if (good == lastGood_.end()) return std::nullopt;
    return good->second.first;
}

NearbyInvitations::Source NearbyInvitations::sourceOf(const Bytes& key, const Address& address) const {
    if (auto seen = announcedAt_.find(hex(key)); seen != announcedAt_.end()) {
        for (const auto& s : seen->second) {
            if (s.address == address) return {address.first, s.sourcePort};
        }
    }
    return {address.first, 0};
}

}  // namespace morvane
