#pragma once

#include "link/device_identity.h"
#include "link/peer_session.h"
#include "link/trusted_peers.h"
#include "platform/dispatch_queue.h"
#include "platform/keychain.h"
#include "temp_dir.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace morvane::test {

/// A multicast group and port of its own for each test, so that concurrent test programs keep apart.
struct Discovery {
    std::string group;
    std::uint16_t port = 0;
    static Discovery unique();
};

/// Polls `condition` until it holds or `seconds` pass.
bool eventually(const std::function<bool()>& condition, double seconds = 10);

/// Short delays for tests.
PeerSession::Timing fastTiming();

/// Everything one session reported, in order, guarded for the threads the callbacks come from.
class Recorder {
public:
    struct Event {
        std::string what;  // "connected", "disconnected", "peers", "pairing", "issue", ...
        std::string detail;
    };

    void attach(PeerSession& session, const std::shared_ptr<DispatchQueue>& main);

    std::vector<Event> events() const;
    std::vector<std::string> issues() const;
    std::vector<PeerSession::PairingRequest> pairingRequests() const;
    std::optional<PeerSession::PairingRequest> currentRequest() const;
    std::vector<PeerSession::NearbyCamera> nearby() const;
    std::vector<PeerSession::Peer> peers() const;
    std::vector<Bytes> data() const;
    std::size_t count(const std::string& what) const;
    /// A nearby camera with this name.
    std::optional<PeerSession::NearbyCamera> nearbyNamed(const std::string& name) const;
    /// Every thread check of the callbacks held so far.
    bool threadsRight() const;
    std::vector<std::string> threadFaults() const;

    /// Run inside `onResource` (on the delivery thread).
    std::function<void(const std::filesystem::path&, const std::string&, const PeerId&)> resourceHook;

    struct Resource {
        std::filesystem::path path;
        std::string name;
        PeerId peer;
        Bytes contents;
    };
    std::vector<Resource> resources() const;

private:
    void record(const std::string& what, const std::string& detail = {});
    void fault(const std::string& text);

    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::vector<std::string> issues_;
    std::vector<PeerSession::PairingRequest> requests_;
    std::optional<PeerSession::PairingRequest> current_;
    std::vector<PeerSession::NearbyCamera> nearby_;
    std::vector<PeerSession::Peer> peers_;
    std::vector<Bytes> data_;
    std::vector<Resource> resources_;
    std::vector<std::string> faults_;
};

/// One session with its own keychain, main queue and recorder.
struct Node {
    Node(PeerSession::Role role, const Discovery& discovery, std::filesystem::path keychainFolder,
         std::string deviceName = {}, int maxCameras = 4, bool allowsPairing = true,
         const PeerSession::Timing& timing = fastTiming());
    ~Node();

    void start() { session->start(); }
    Bytes publicKey() const { return DeviceIdentity(keychain).publicKey(); }
    std::vector<TrustedPeer> trustedList() const { return TrustedPeers(keychain).load(); }
    std::vector<PeerId> readyPeers() {
        return session->queue().syncResult([&] { return session->readyPeers(); });
    }
    bool send(const Bytes& packet, const std::optional<PeerId>& peer = std::nullopt) {
        return session->queue().syncResult([&] { return session->send(packet, peer); });
    }

    std::shared_ptr<Keychain> keychain;
    std::shared_ptr<DispatchQueue> main;
    Recorder recorder;
    std::filesystem::path temporaryFolder;
    std::shared_ptr<PeerSession> session;
};

/// Brings a monitor and a camera to a ready link by pairing; returns the camera's id as the monitor sees it.
std::optional<PeerId> pair(Node& monitor, Node& camera, const std::string& cameraName);

/// Waits for a ready link between the two without any pairing.
bool waitConnected(Node& monitor, Node& camera, double seconds = 10);

Bytes randomBytes(std::size_t size, std::uint32_t seed);

/// How the scheduler treats the calling thread: its nice value and its turn in ns (0 where the kernel reports none).
struct Scheduling {
    int niceness = 0;
    std::uint64_t turn = 0;
};
Scheduling scheduling();

}  // namespace morvane::test
