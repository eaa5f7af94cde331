#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// Which of the camera's unfinished connections a newcomer may take the place of, which pairing requests it keeps,
/// and which of them it shows. Anyone can open a connection, take it through TLS and on to a pairing code: a code
/// shown proves nothing but that the other side can count. So pairing requests get few places of their own (one per
/// address: a remote pairs from where it is) and never take a newcomer's; a connection whose hello names a trusted
/// key stands apart from the strangers (one per key: a restarting peer's newer connection wins) until its proof
/// settles it. The others compete among themselves: the place goes from the address that holds the most, then from
/// the address whose connections ended unfinished most often lately (a neighbour renewing what was dropped), then the
/// one that has waited longest at its step of the handshake (a genuine peer moves on within moments). It knows no
/// link: the session asks and tells it.
class HandshakeTable {
public:
    using Clock = std::chrono::steady_clock;

    /// Unfinished connections a camera keeps at once, in all and from one address; pairing requests among them.
    static constexpr std::size_t maxPlaces = 16;
    static constexpr std::size_t maxPerAddress = 4;
    static constexpr std::size_t maxPairings = 4;
    /// Pairing requests held at once when the newcomer's address has not been renewing its connections: strangers who
    /// hold their requests, before or after a remote's, must leave it a place.
    static constexpr std::size_t maxFreshPairings = 8;
    /// A pairing request keeps its place this long against newer ones (from addresses that renew their connections
    /// no less): a user's time to read the code at the remote and type it here.
    static constexpr Clock::duration pairingKeep = std::chrono::seconds(10);

    enum class Stage {
        greeting,  ///< shown nothing yet that sets it apart
        trusted,   ///< its hello named a trusted key; its proof is due
        pairing,   ///< a pairing request is under way, its code shown
    };

    struct Place {
        std::uint64_t id = 0;  ///< newer connections have larger ids
        std::string address;
        Stage stage = Stage::greeting;
        Clock::time_point since;  ///< when it reached its present step (or was accepted)
        std::string key;          ///< the trusted key its hello named
        bool answered = false;    ///< the user here accepted its code: the peer's confirmation is due
    };

    struct Room {
        bool admit = true;                   ///< false: the connection is closed, nothing of the others goes
        std::optional<std::uint64_t> close;  ///< the place it takes
    };

    /// Where a newcomer from `address` goes, given the places held now.
    Room roomFor(const std::string& address, const std::vector<Place>& places, Clock::time_point now) const;
    /// Where the place `mover` (among `places`, with its new stage) goes now that it reached the trusted or the
    /// pairing stage. A pairing request takes, when all are held (`maxPairings`, or `maxFreshPairings` from an address
    /// that has not been renewing), the place of one that has waited past `pairingKeep` or whose address renews more
    /// than its own; else it is refused.
    Room moveOn(const Place& mover, const std::vector<Place>& places, Clock::time_point now) const;
    /// Of the pairing requests under way, the one to show the user: none has a better claim to be the one the user
    /// started than the latest from an address that has not been renewing its connections. None when none waits.
    std::optional<std::uint64_t> shown(const std::vector<Place>& places, Clock::time_point now) const;
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
