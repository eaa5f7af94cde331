#include "handshake_table.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace morvane {

namespace {

// An ending counts half after this many seconds.
constexpr double halfLife = 10;
// Addresses remembered at once; a new one takes the place of the one heard of longest ago.
constexpr std::size_t maxAddresses = 256;

double decayed(double count, HandshakeTable::Clock::time_point at, HandshakeTable::Clock::time_point now) {
    const double age = std::chrono::duration<double>(now - at).count();
    return count * std::exp2(-std::max(0.0, age) / halfLife);
}

}  // namespace

long HandshakeTable::recentEndings(const std::string& address, Clock::time_point now) const {
    auto it = endings_.find(address);
    // Whole endings: a fraction of one more is no reason to pass over an older connection.
    return it == endings_.end() ? 0 : std::lround(decayed(it->second.count, it->second.at, now));
}

void HandshakeTable::endedUnfinished(const std::string& address, Clock::time_point now) {
    auto it = endings_.find(address);
    if (it == endings_.end()) {
        if (endings_.size() >= maxAddresses) {
            endings_.erase(std::min_element(endings_.begin(), endings_.end(),
                                            [](const auto& a, const auto& b) { return a.second.at < b.second.at; }));
        }
        it = endings_.emplace(address, Endings{0, now}).first;
    }
    it->second.count = decayed(it->second.count, it->second.at, now) + 1;
    it->second.at = now;
}

HandshakeTable::Room HandshakeTable::roomFor(const std::string& address, const std::vector<Place>& places,
                                             Clock::time_point now) const {
    std::map<std::string, std::size_t> held;
    std::size_t total = 0;
    for (const auto& place : places) {
        if (place.stage == Stage::trusted) continue;
        ++held[place.address];
        if (place.stage == Stage::greeting) ++total;
    }
    const bool addressFull = held[address] >= maxPerAddress;
    if (!addressFull && total < maxPlaces) return {};
    const Place* victim = nullptr;
    auto rank = [&](const Place& p) {
        return std::make_tuple(held[p.address], recentEndings(p.address, now), now - p.since, ~p.id);
    };
    for (const auto& place : places) {
        if (place.stage != Stage::greeting || (addressFull && place.address != address)) continue;
        if (!victim || rank(place) > rank(*victim)) victim = &place;
    }
    if (!victim) return {false, std::nullopt};
    return {true, victim->id};
}

HandshakeTable::Room HandshakeTable::moveOn(const Place& mover, const std::vector<Place>& places,
                                            Clock::time_point now) const {
    auto others = [&](Stage stage) {
        std::vector<const Place*> out;
        for (const auto& place : places) {
            if (place.id != mover.id && place.stage == stage) out.push_back(&place);
        }
        return out;
    };
    if (mover.stage == Stage::trusted) {
        for (const auto* place : others(Stage::trusted)) {
            if (place->key == mover.key) return {true, place->id};
        }
        return {};
    }
    if (mover.stage != Stage::pairing) return {};
    const auto pairings = others(Stage::pairing);
    for (const auto* place : pairings) {
        if (place->address == mover.address) return place->answered ? Room{false, std::nullopt} : Room{true, place->id};
    }
    if (pairings.size() < maxPairings) return {};
    const Place* victim = nullptr;
    auto rank = [&](const Place& p) { return std::make_tuple(recentEndings(p.address, now), now - p.since, ~p.id); };
    for (const auto* place : pairings) {
        if (place->answered || now - std::max(place->since, place->onScreen) < pairingKeep) continue;
        if (!victim || rank(*place) > rank(*victim)) victim = place;
    }
    if (!victim) return {false, std::nullopt};
    return {true, victim->id};
}

std::optional<std::uint64_t> HandshakeTable::shown(const std::vector<Place>& places, Clock::time_point now) const {
    const Place* best = nullptr;
    auto rank = [&](const Place& p) { return std::make_tuple(recentEndings(p.address, now), now - p.since, ~p.id); };
    for (const auto& place : places) {
        if (place.stage != Stage::pairing || place.answered) continue;
        if (!best || rank(place) < rank(*best)) best = &place;
    }
    if (!best) return std::nullopt;
    return best->id;
}

}  // namespace morvane
