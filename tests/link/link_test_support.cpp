#include "link_test_support.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <random>

namespace morvane::test {

Discovery Discovery::unique() {
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(::getpid()));
    Discovery d;
    d.group = "239.255." + std::to_string(100 + random() % 100) + "." + std::to_string(1 + random() % 250);
    d.port = static_cast<std::uint16_t>(40000 + random() % 20000);
    return d;
}

bool eventually(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

PeerSession::Timing fastTiming() {
    PeerSession::Timing t;
    t.handshakeTimeout = 5;
    t.stepTimeout = 2;
    t.firstBytesTimeout = 1;
    t.retryMinimum = 0.1;
    t.retryMaximum = 0.8;
    t.pairingTimeout = 20;
    t.refusalDelay = 0.2;
    t.maintenanceInterval = 0.4;
    t.pingAfter = 0.5;
    t.silenceTimeout = 4;
    t.tickInterval = 0.1;
    t.announceInterval = 0.3;
    t.announceBurstInterval = 0.05;
    t.nearbyExpiry = 2;
    return t;
}

void Recorder::record(const std::string& what, const std::string& detail) {
    std::lock_guard lock(mutex_);
    events_.push_back({what, detail});
}

void Recorder::fault(const std::string& text) {
    std::lock_guard lock(mutex_);
    faults_.push_back(text);
}

void Recorder::attach(PeerSession& session, const std::shared_ptr<DispatchQueue>& main) {
    auto* sessionQueue = &session.queue();
    auto* mainQueue = main.get();
    auto onMain = [this, mainQueue](const char* what) {
        if (!mainQueue->isCurrent()) fault(std::string(what) + " off the main queue");
    };
    session.onPeerConnected = [this, onMain](const PeerId& id) {
        onMain("onPeerConnected");
        record("connected", id.text());
    };
    session.onPeerDisconnected = [this, onMain](const PeerId& id) {
        onMain("onPeerDisconnected");
        record("disconnected", id.text());
    };
    session.onPeersChanged = [this, onMain](const std::vector<PeerSession::Peer>& list) {
        onMain("onPeersChanged");
        {
            std::lock_guard lock(mutex_);
            peers_ = list;
        }
        record("peers", std::to_string(list.size()));
    };
    session.onNearbyChanged = [this, onMain](const std::vector<PeerSession::NearbyCamera>& list) {
        onMain("onNearbyChanged");
        std::string names;
        for (const auto& camera : list) names += (names.empty() ? "" : ",") + camera.name;
        {
            std::lock_guard lock(mutex_);
            nearby_ = list;
        }
        record("nearby", names);
    };
    session.onPairingRequest = [this, onMain](const std::optional<PeerSession::PairingRequest>& request) {
        onMain("onPairingRequest");
        {
            std::lock_guard lock(mutex_);
            current_ = request;
            if (request) requests_.push_back(*request);
        }
        record("pairing", request ? request->code : "none");
    };
    session.onIssue = [this, onMain](const std::string& text) {
        onMain("onIssue");
        {
            std::lock_guard lock(mutex_);
            issues_.push_back(text);
        }
        record("issue", text);
    };
    session.onData = [this, sessionQueue](const Bytes& packet, const PeerId&) {
        // The delivery thread: neither the main queue nor the session's queue (nor any other serial queue).
        if (DispatchQueue::current() != nullptr || sessionQueue->isCurrent()) fault("onData on a queue");
        std::lock_guard lock(mutex_);
        data_.push_back(packet);
    };
    session.onResource = [this, sessionQueue, mainQueue](const std::filesystem::path& path, const std::string& name,
                                                         const PeerId& peer) {
        if (sessionQueue->isCurrent() || mainQueue->isCurrent()) fault("onResource on the session or main queue");
        std::ifstream in(path, std::ios::binary);
        Bytes contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        {
            std::lock_guard lock(mutex_);
            resources_.push_back({path, name, peer, std::move(contents)});
        }
        record("resource", name);
        if (resourceHook) resourceHook(path, name, peer);
    };
}

std::vector<Recorder::Event> Recorder::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}
std::vector<std::string> Recorder::issues() const {
    std::lock_guard lock(mutex_);
    return issues_;
}
std::vector<PeerSession::PairingRequest> Recorder::pairingRequests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}
std::optional<PeerSession::PairingRequest> Recorder::currentRequest() const {
    std::lock_guard lock(mutex_);
    return current_;
}
std::vector<PeerSession::NearbyCamera> Recorder::nearby() const {
    std::lock_guard lock(mutex_);
    return nearby_;
}
std::vector<PeerSession::Peer> Recorder::peers() const {
    std::lock_guard lock(mutex_);
    return peers_;
}
std::vector<Bytes> Recorder::data() const {
    std::lock_guard lock(mutex_);
    return data_;
}
std::vector<Recorder::Resource> Recorder::resources() const {
    std::lock_guard lock(mutex_);
    return resources_;
}
std::size_t Recorder::count(const std::string& what) const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& e : events_) n += e.what == what ? 1 : 0;
    return n;
}
std::optional<PeerSession::NearbyCamera> Recorder::nearbyNamed(const std::string& name) const {
    std::lock_guard lock(mutex_);
    for (const auto& camera : nearby_) {
        if (camera.name == name) return camera;
    }
    return std::nullopt;
}
bool Recorder::threadsRight() const {
    std::lock_guard lock(mutex_);
    return faults_.empty();
}
std::vector<std::string> Recorder::threadFaults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

Node::Node(PeerSession::Role role, const Discovery& discovery, std::filesystem::path keychainFolder,
           std::string deviceName, int maxCameras, bool allowsPairing, const PeerSession::Timing& timing)
    : keychain(std::make_shared<Keychain>(keychainFolder / "keychain")),
      main(std::make_shared<DispatchQueue>("test.main")),
      temporaryFolder(keychainFolder / "incoming") {
    if (!deviceName.empty()) keychain->write("device-name", Bytes(deviceName.begin(), deviceName.end()));
    PeerSession::Options options;
    options.keychain = keychain;
    options.mainExecutor = main;
    options.interfaces = {"127.0.0.1"};
    options.multicastGroup = discovery.group;
    options.multicastPort = discovery.port;
    options.temporaryFolder = temporaryFolder;
    options.timing = timing;
    session = PeerSession::create(role, allowsPairing, maxCameras, "morvane", options);
    recorder.attach(*session, main);
}

Node::~Node() {
    // Stop on the main queue, as the application does, then let the session go before the main queue.
    main->sync([&] { session->stop(); });
    // The link's threads may hold the session a moment longer than we do: nothing may call back into the recorder.
    session->onData = nullptr;
    session->onPeerConnected = nullptr;
    session->onPeerDisconnected = nullptr;
    session->onPeersChanged = nullptr;
    session->onNearbyChanged = nullptr;
    session->onPairingRequest = nullptr;
    session->onIssue = nullptr;
    session->onResource = nullptr;
    // A callback that started on the main queue before the slots were cleared must end before the recorder goes.
    main->sync([] {});
    std::weak_ptr<PeerSession> gone = session;
    session.reset();
    eventually([&] { return gone.expired(); }, 5);
    main.reset();
}

std::optional<PeerId> pair(Node& monitor, Node& camera, const std::string& cameraName) {
    if (!eventually([&] { return monitor.recorder.nearbyNamed(cameraName).has_value(); })) return std::nullopt;
    const auto id = monitor.recorder.nearbyNamed(cameraName)->id;
    monitor.session->connect(id);
    if (!eventually([&] { return monitor.recorder.currentRequest() && camera.recorder.currentRequest(); })) {
        return std::nullopt;
    }
    const auto onMonitor = *monitor.recorder.currentRequest();
    const auto onCamera = *camera.recorder.currentRequest();
    if (onMonitor.code != onCamera.code) return std::nullopt;
    monitor.session->acceptPairing(onMonitor.id);
    camera.session->acceptPairing(onCamera.id);
    if (!waitConnected(monitor, camera)) return std::nullopt;
    return id;
}

bool waitConnected(Node& monitor, Node& camera, double seconds) {
    return eventually([&] { return !monitor.recorder.peers().empty() && !camera.recorder.peers().empty(); }, seconds);
}

Bytes randomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

Scheduling scheduling() {
    struct {
        std::uint32_t size;
        std::uint32_t policy;
        std::uint64_t flags;
        std::int32_t nice;
        std::uint32_t priority;
        std::uint64_t runtime, deadline, period;
    } attr{};
    Scheduling result;
    result.niceness = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    if (::syscall(SYS_sched_getattr, ::gettid(), &attr, sizeof attr, 0u) == 0) result.turn = attr.runtime;
    return result;
}

}  // namespace morvane::test
