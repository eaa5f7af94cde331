#pragma once

#include "link/peer_id.h"
#include "platform/base64.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace morvane {

/// What the remote knows of the cameras nearby and of inviting them: the announced cameras, the names the user
/// disconnected, the pause before a trusted camera that could not be reached is invited again, and where each
/// camera last answered. It knows no link: the session asks and tells it.
class NearbyInvitations {
public:
    using Address = std::pair<std::string, std::uint16_t>;
    using Clock = std::chrono::steady_clock;
    /// The socket an announcement came from: its host and UDP port. Anyone may announce a key, from any host, but only
    /// the camera's program sends from the camera's socket.
    struct Source {
        std::string host;
        std::uint16_t port = 0;
        friend auto operator<=>(const Source&, const Source&) = default;
    };

    struct Camera {
        PeerId id;
        std::string name;
        Bytes key;
        std::string address;
        std::uint16_t port = 0;
        std::uint16_t sourcePort = 0;  ///< the UDP port it was announced from
        // A bye (or silence) arrived while the camera still answered on its link: it goes when the link does.
        bool lostWhileConnected = false;
    };

    /// The pause after one more failure in a row: from `minimum`, doubling, up to `maximum` seconds. An address
    /// announced for a key is tried for `recent` seconds after it was last announced.
    NearbyInvitations(double minimum, double maximum, double recent)
        : retryMinimum_(minimum), retryMaximum_(maximum), recent_(recent) {}

    const std::vector<Camera>& cameras() const { return cameras_; }
    const Camera* find(const PeerId& id) const;

    /// An announcement: a camera that comes (back) into view gets a fresh chance at automatic invitation.
    void announced(const Camera& camera);
    /// Takes the camera off the list, or only marks it when its link still answers.
    void lost(const PeerId& id, bool answers);
    void remove(const PeerId& id);
    void clear();

    /// Whether an automatic invitation may go to this camera now: never to one the user disconnected, and in the
    /// pause after a failure only when it announced an address not tried lately (anyone may announce its key, so a
    /// pause earned at forged addresses must not keep the camera's own address from being tried).
    bool mayInviteAutomatically(const Camera& camera) const;
    /// An invitation tries this address for the key now; whether one did within the last `recent` seconds.
    void tried(const Bytes& key, const Address& address);
    bool triedLately(const Bytes& key, const Address& address) const;
    /// Notes a failed invitation (or a dropped link) of the camera with this key; returns the pause before the next.
    double failed(const Bytes& key);
    void clearPause(const Bytes& key);
    void disconnectedByUser(const std::string& name) { disconnectedNames_.insert(name); }
    void connectedByUser(const std::string& name) { disconnectedNames_.erase(name); }

    /// Where to try the camera: where it last answered (that address was authenticated, the announced ones were
    /// not), then every address announced for its key lately, the latest first. Anyone may announce a key, so the
    /// genuine address is among them however often a forged one is announced; all are tried at once, so that none
    /// that never answers holds up the others.
    std::vector<Address> addressesOf(const Camera& camera) const;
    void answeredAt(const Bytes& key, const Address& address);
    /// The host where the camera with this key last answered, if it did.
    std::optional<std::string> reachedAt(const Bytes& key) const;
    /// The socket that last announced this address for the key; for one not remembered, its host alone.
    Source sourceOf(const Bytes& key, const Address& address) const;

    /// Addresses one invitation tries at once; a camera answers within moments, so an attempt that has waited this
    /// long at its step gives its place to an address announced since.
    static constexpr std::size_t maxAttempts = 8;
    static constexpr double attemptGrace = 1;

    struct Attempt {
        std::uint64_t id = 0;
        Clock::time_point since;  ///< when it reached its present step (or started)
        Source source;            ///< the socket that announced the address it tries
    };
    struct Room {
        bool admit = true;
        std::optional<std::uint64_t> close;  ///< the attempt that makes way
    };
    /// Whether an address announced from `from` while an invitation is under way joins it, given the attempts still
    /// going and the host the camera was last reached at (`home`, if any). Anyone may announce the key from any socket
    /// on any host, as often as it likes, but only the camera answers where it was reached: an announcement from that
    /// host takes the place of another host's attempt at once, and no other host's takes one of its. Among the rest, an
    /// announcement names the socket it came from: a socket that holds fewer attempts than another takes a place of
    /// that one's at once, and one socket's attempts make way for the same socket's newer ones only once they have had
    /// time to answer.
    static Room roomForAttempt(const std::vector<Attempt>& attempts, const Source& from,
                               const std::optional<std::string>& home, Clock::time_point now);

private:
    struct Seen {
        Address address;
        Clock::time_point at;
        std::uint16_t sourcePort = 0;
    };
    struct Pause {
        int failures = 0;
        Clock::time_point notBefore;
    };
    static std::string hex(const Bytes& key);
    // Addresses are kept only for keys some camera on the list announced.
    void forgetAddressesOf(const Bytes& key);

    const double retryMinimum_;
    const double retryMaximum_;
    const double recent_;
    std::vector<Camera> cameras_;
    std::set<std::string> disconnectedNames_;
    std::map<std::string, Pause> pauses_;                   // by hex of the keys
    std::map<std::string, Address> lastGood_;               // by hex of the keys
    std::map<std::string, std::vector<Seen>> announcedAt_;  // by hex of the keys, the latest first
    std::map<std::string, std::vector<Seen>> triedAt_;      // by hex of the keys
};

}  // namespace morvane
