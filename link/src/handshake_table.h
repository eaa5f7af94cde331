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
/// shown proves nothing but that the other side can count. So pairing requests get places of their own (one per
/// address: a remote pairs from where it is) and never take a newcomer's; a connection whose hello names a trusted
/// key stands apart from the strangers (one per key: a restarting peer's newer connection wins) until its proof
/// settles it. The others compete among themselves: the place goes from the address that holds the most, then from
/// the address whose connections ended unfinished most often lately (a neighbour renewing what was dropped), then the
/// one that has waited longest at its step of the handshake (a genuine peer moves on within moments). It knows no
/// link: the session asks and tells it.
///
/// Nothing tells the user's pairing request from a stranger's before its code is typed, by address or otherwise. So
/// none is pushed out while its user may be reading it: a request keeps its place for `pairingKeep` after its code
/// last showed (at the remote from the moment it was raised, on the camera's screen while it is there), and a newcomer
/// takes a free place or one past that time, else it is refused. A remote's request thus finds a place unless
/// strangers keep `maxPairings` requests in view within `pairingKeep`, and once in, no number of later ones, from any
/// addresses, can take it before its user's time is up.
class HandshakeTable {
public:
    using Clock = std::chrono::steady_clock;

    /// Unfinished connections a camera keeps at once, in all and from one address, besides the pairing requests.
    static constexpr std::size_t maxPlaces = 16;
    static constexpr std::size_t maxPerAddress = 4;
    /// Pairing requests held at once: a few hundred open connections cost the camera little, and strangers must bring
    /// more than six new ones a second to fill them with requests still kept.
    static constexpr std::size_t maxPairings = 256;
    /// A pairing request keeps its place this long against newer ones after its code last showed: a user's time to
    /// read the code at the remote and type it here, slowly.
    static constexpr Clock::duration pairingKeep = std::chrono::seconds(40);

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
        /// The last moment the camera's screen showed its code (now while it shows; never: the clock's epoch).
        Clock::time_point onScreen{};
    };

    struct Room {
        bool admit = true;                   ///< false: the connection is closed, nothing of the others goes
        std::optional<std::uint64_t> close;  ///< the place it takes
    };

    /// Where a newcomer from `address` goes, given the places held now.
    Room roomFor(const std::string& address, const std::vector<Place>& places, Clock::time_point now) const;
    /// Where the place `mover` (among `places`, with its new stage) goes now that it reached the trusted or the
    /// pairing stage. A pairing request takes, when all `maxPairings` are held, the place of one whose code has not
    /// shown for `pairingKeep` (from the address that renews the most, then the oldest); else it is refused.
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
