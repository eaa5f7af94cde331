#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// Which of the camera's unfinished connections a newcomer may take the place of. Anyone can open a connection and
/// take it through TLS; only a pairing request under way (its code shown to the user) proves that somebody means it.
/// So a full table never closes such a connection for a newcomer; the others compete among themselves: the place
/// goes from the address that holds the most, then from the address whose connections ended unfinished most often
/// lately (a neighbour renewing what was dropped), then the one that has waited longest at its step of the handshake
/// (a genuine peer moves on within moments). It knows no link: the session asks and tells it.
class HandshakeTable {
public:
    using Clock = std::chrono::steady_clock;

    /// Unfinished connections a camera keeps at once, in all and from one address.
    static constexpr std::size_t maxPlaces = 16;
    static constexpr std::size_t maxPerAddress = 4;

    struct Place {
        std::uint64_t id = 0;  ///< newer connections have larger ids
        std::string address;
        bool proven = false;      ///< a pairing request is under way
        Clock::time_point since;  ///< when it reached its present step (or was accepted)
    };

    struct Room {
        bool admit = true;                   ///< false: the newcomer is closed, every place is held by a proven one
        std::optional<std::uint64_t> close;  ///< the place the newcomer takes
    };

    /// Where a newcomer from `address` goes, given the places held now.
    Room roomFor(const std::string& address, const std::vector<Place>& places, Clock::time_point now) const;
    /// A connection from `address` ended before it was ready.
    void endedUnfinished(const std::string& address, Clock::time_point now);

private:
    // Connections from one address that ended unfinished, each counting less as it ages.
    struct Endings {
        double count = 0;
        Clock::time_point at;
    };
    long recentEndings(const std::string& address, Clock::time_point now) const;

    std::map<std::string, Endings> endings_;
};

}  // namespace morvane
