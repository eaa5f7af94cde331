#pragma once

#include "link/callback.h"
#include "link/peer_id.h"
#include "link/transfer_progress.h"
#include "platform/base64.h"
#include "platform/dispatch_queue.h"
#include "platform/keychain.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// The link between the remote (monitor role) and its cameras (camera role): discovery, one encrypted session per
/// peer, pairing with a six-digit code, trusted reconnection, packets and files.
///
/// Threads: the link's state lives on `queue()` ("morvane.peer-session"); files are read and sent on `sendQueue()`
/// ("morvane.peer-send"). Packets are handed to the connection from `queue()` without waiting for the network and
/// leave in the order they were sent. `onData` runs on the network thread that received the packet, in order per
/// peer; `onResource` on the delivery thread, after every packet that was sent before the file (never the main
/// thread, never inside `queue()`); every other callback runs on the main executor given in the options.
class PeerSession : public std::enable_shared_from_this<PeerSession> {
public:
    enum class Role : std::uint8_t { camera = 1, monitor = 2 };

    /// A peer whose link has finished its handshake.
    struct Peer {
        PeerId id;
        std::string name;
        Bytes key;  ///< its identity public key, the same across its restarts
        friend bool operator==(const Peer&, const Peer&) = default;
    };

    /// A camera seen nearby.
    struct NearbyCamera {
        PeerId id;
        std::string name;
        bool isPaired = false;      ///< its key is in the trusted-peer list
        bool isConnecting = false;  ///< an invitation or pairing is under way
        bool isConnected = false;   ///< its link is ready
        bool isThisDevice = false;  ///< it announced this device's own identity key
        friend bool operator==(const NearbyCamera&, const NearbyCamera&) = default;
    };

    /// A peer asking to pair, with the code both users compare.
    struct PairingRequest {
        PeerId id;
        std::string name;
        std::string code;
        friend bool operator==(const PairingRequest&, const PairingRequest&) = default;
    };

    /// Every delay of the link, in seconds; tests shorten them.
    struct Timing {
        double handshakeTimeout = 10;  ///< connect + TLS
        double stepTimeout = 3;        ///< after TLS, each step of the handshake until the code is shown
        double firstBytesTimeout = 3;  ///< an accepted connection that sends no TLS within this is dropped
        double retryMinimum = 0.5;     ///< a trusted camera that could not be reached is tried again after this,
        double retryMaximum = 4;       ///< doubling with each failure up to this
        double pairingTimeout = 120;   ///< an unanswered pairing request counts as a refusal
        double refusalDelay = 0.5;     ///< a refusal is sent, then the link dropped this much later
        double maintenanceInterval = 20;
        double pingAfter = 5;        ///< a ping after this long without sending
        double silenceTimeout = 15;  ///< a link that hears nothing this long is dropped
        double tickInterval = 1;     ///< how often time-outs and keep-alive are checked
        double announceInterval = 2;
        double announceBurstInterval = 0.25;
        double nearbyExpiry = 6;
    };

    struct Options {
        /// Where the identity key, device name and trusted-peer list live; default: the application's keychain.
        std::shared_ptr<Keychain> keychain;
        /// Runs the callbacks other than `onData` and `onResource`; required.
        std::shared_ptr<Executor> mainExecutor;
        /// IPv4 addresses of the interfaces to use; empty: every interface that is up and multicast-capable.
        std::vector<std::string> interfaces;
        /// Discovery group and port; empty / 0: the environment's override, else the fixed defaults.
        std::string multicastGroup;
        std::uint16_t multicastPort = 0;
        /// Where received files are written until `onResource` returns; default: a new private folder under the
        /// system's temporary folder.
        std::filesystem::path temporaryFolder;
        Timing timing;
    };

    /// Resource completion: none on success, else a short reason.
    using ResourceCompletion = std::function<void(const std::optional<std::string>& error)>;
    /// The reasons of a transfer that ended because its link went (or was not there), not by the receiver's answer.
    static constexpr std::string_view connectionLost = "The connection was lost";
    static constexpr std::string_view notConnected = "The peer is not connected";

    /// `maxCameras` is clamped to 1...7. Nothing is discovered until `start`.
    static std::shared_ptr<PeerSession> create(Role role, bool allowsPairing, int maxCameras, std::string serviceType,
                                               Options options);
    ~PeerSession();
    PeerSession(const PeerSession&) = delete;
    PeerSession& operator=(const PeerSession&) = delete;

    Role role() const { return role_; }
    bool isRunning() const { return running_.load(); }

    /// Starts discovery (the monitor browses, the camera advertises and listens) and the link's upkeep. Main thread.
    /// Without this device's identity key (it could not be stored) nothing starts: `onIssue` says so and
    /// `isRunning` stays false.
    void start();
    /// Stops discovery and drops every peer's connection. Main thread.
    void stop();

    /// Hops onto the queue and returns at once.
    void setMaxCameras(int maxCameras);

    DispatchQueue& queue() { return *queue_; }
    DispatchQueue& sendQueue() { return *sendQueue_; }

    /// On `queue()`: puts 0x21 in front of the packet and sends it, without waiting, to that peer when its link is
    /// ready or to every ready peer when none is given. A packet over 16,777,216 bytes is not sent: that is logged
    /// as an error and the result is false.
    bool send(const Bytes& packet, const std::optional<PeerId>& peer = std::nullopt);
    /// On `queue()`: the peers whose link is ready, in the order they became ready.
    std::vector<PeerId> readyPeers() const;

    /// From any thread; each hops onto the queue and returns at once.
    void connect(const PeerId& peer);
    void disconnectCamera(const PeerId& peer);
    void acceptPairing(const PeerId& peer);
    void cancelPairing(const PeerId& peer);
    /// The user typed `code`: the open pairing request that shows it, whichever is shown, is accepted. False when
    /// none (or more than one) does. From any thread; waits for the queue.
    bool acceptPairingCode(const std::string& code);
    /// The user typed a code other than the one shown: both sides say so, and the request stays open.
    void codeDidNotMatch(const PeerId& peer);
    void reconnect(const PeerId& peer);
    void publishPeers();
    /// Files that start from now on are written where `folder` says at their start (made when missing) instead of
    /// in `Options::temporaryFolder`; from any thread.
    void setArrivalFolder(std::function<std::filesystem::path()> folder);

    /// Sends a file to a ready peer as resource `name`; from any thread. The completion runs on the main executor.
    std::shared_ptr<TransferProgress> sendResource(const std::filesystem::path& file, const std::string& name,
                                                   const PeerId& peer, ResourceCompletion completion);

    Callback<const Bytes&, const PeerId&> onData;
    Callback<const PeerId&> onPeerConnected;
    Callback<const PeerId&> onPeerDisconnected;
    Callback<const std::vector<Peer>&> onPeersChanged;
    /// A ready link ended that neither the user nor this session ended (the peer went away or fell silent), just
    /// before `onPeerDisconnected`; true when the session invites the peer again by itself.
    Callback<const Peer&, bool> onPeerLost;
    Callback<const std::vector<NearbyCamera>&> onNearbyChanged;
    Callback<const std::optional<PairingRequest>&> onPairingRequest;
    Callback<const std::string&> onIssue;
    /// The file is deleted as soon as the callback returns: move it away inside.
    Callback<const std::filesystem::path&, const std::string&, const PeerId&> onResource;

    struct State;

private:
    PeerSession(Role role, bool allowsPairing, int maxCameras, std::string serviceType, Options options);

    const Role role_;
    std::atomic<bool> running_{false};
    std::unique_ptr<DispatchQueue> queue_;
    std::unique_ptr<DispatchQueue> sendQueue_;
    std::unique_ptr<State> state_;
};

}  // namespace morvane
