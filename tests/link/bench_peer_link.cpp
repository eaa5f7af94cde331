// Peer link against plain TCP on the loopback: application-data throughput, per-message round trip, and the round
// trip while a large file is on its way over the same link.
//
//   bench_peer_link [both|link|tcp] [--mib N] [--size BYTES] [--pings N] [--file-mib N]
//
// "both" (the default) measures the two in one run and prints their ratio; "link" or "tcp" alone suit timing the
// whole process with farm-bench --vs.

#include "link/device_identity.h"
#include "link/peer_session.h"
#include "link/trusted_peers.h"
#include "platform/dispatch_queue.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

struct Settings {
    std::string mode = "both";
    std::size_t mib = 256;
    std::size_t size = 64 * 1024;
    int pings = 2000;
    std::size_t fileMib = 200;
};

struct Results {
    double throughputMiBs = 0;
    double rttMedianUs = 0;
    double rttP99Us = 0;
    double loadedMedianUs = 0;
    double loadedP99Us = 0;
    double fileMiBs = 0;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

/// A counter one thread bumps and another waits on.
struct Counter {
    std::mutex mutex;
    std::condition_variable cv;
    std::uint64_t value = 0;
    void add(std::uint64_t n) {
        {
            std::lock_guard lock(mutex);
            value += n;
        }
        cv.notify_all();
    }
    std::uint64_t get() {
        std::lock_guard lock(mutex);
        return value;
    }
    bool waitAtLeast(std::uint64_t target, double limit = 60) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::duration<double>(limit), [&] { return value >= target; });
    }
};

// ----- The peer link -----

struct LinkPair {
    std::filesystem::path dir;
    std::shared_ptr<DispatchQueue> main = std::make_shared<DispatchQueue>("bench.main");
    std::shared_ptr<PeerSession> monitor, camera;
    PeerId cameraId, monitorId;

    explicit LinkPair(const std::filesystem::path& folder) : dir(folder) {
        auto monitorKeys = std::make_shared<Keychain>(dir / "monitor");
        auto cameraKeys = std::make_shared<Keychain>(dir / "camera");
        // Paired beforehand, so that the run measures the link rather than a person.
        const auto monitorKey = DeviceIdentity(monitorKeys).publicKey();
        const auto cameraKey = DeviceIdentity(cameraKeys).publicKey();
        TrustedPeers(monitorKeys).add(TrustedPeer{cameraKey, "Bench Cam", TrustedPeer::cameraRole, Date::now()});
        TrustedPeers(cameraKeys).add(TrustedPeer{monitorKey, "Bench Desk", TrustedPeer::remoteRole, Date::now()});
        std::mt19937 random(static_cast<unsigned>(::getpid()) ^
                            static_cast<unsigned>(Clock::now().time_since_epoch().count()));
        PeerSession::Options options;
        options.mainExecutor = main;
        options.interfaces = {"127.0.0.1"};
        options.multicastGroup = "239.255.201." + std::to_string(1 + random() % 250);
        options.multicastPort = static_cast<std::uint16_t>(40000 + random() % 20000);
        options.timing.announceInterval = 0.2;
        options.timing.announceBurstInterval = 0.05;
        options.keychain = monitorKeys;
        options.temporaryFolder = dir / "monitor-incoming";
        monitor = PeerSession::create(PeerSession::Role::monitor, true, 7, "morvane", options);
        options.keychain = cameraKeys;
        options.temporaryFolder = dir / "camera-incoming";
        camera = PeerSession::create(PeerSession::Role::camera, true, 7, "morvane", options);
    }

    bool connect() {
        Counter ready;
        monitor->onPeerConnected = [&](const PeerId&) { ready.add(1); };
        camera->onPeerConnected = [&](const PeerId&) { ready.add(1); };
        main->sync([&] {
            camera->start();
            monitor->start();
        });
        if (!ready.waitAtLeast(2, 20)) return false;
        monitor->onPeerConnected = nullptr;
        camera->onPeerConnected = nullptr;
        cameraId = monitor->queue().syncResult([&] { return monitor->readyPeers(); }).at(0);
        monitorId = camera->queue().syncResult([&] { return camera->readyPeers(); }).at(0);
        return true;
    }

    ~LinkPair() {
        for (auto* s : {&monitor, &camera}) {
            (*s)->onData = nullptr;
            (*s)->onResource = nullptr;
            main->sync([&] { (*s)->stop(); });
        }
        monitor.reset();
        camera.reset();
    }
};

Results benchLink(const Settings& settings, const std::filesystem::path& dir) {
    Results results;
    LinkPair pair(dir);
    if (!pair.connect()) {
        std::fprintf(stderr, "the link did not come up\n");
        std::exit(1);
    }
    // Throughput, camera to remote; at most 8 MiB on its way at once, as a paced sender keeps it.
    Counter received;
    pair.monitor->onData = [&](const Bytes& packet, const PeerId&) { received.add(packet.size()); };
    const Bytes packet(settings.size, 0x2A);
    const std::uint64_t total = settings.mib << 20;
    const std::uint64_t window = 8 << 20;
    const auto start = Clock::now();
    for (std::uint64_t sent = 0; sent < total; sent += packet.size()) {
        received.waitAtLeast(sent > window ? sent - window : 0);
        pair.camera->queue().sync([&] { pair.camera->send(packet, pair.monitorId); });
    }
    received.waitAtLeast(total / packet.size() * packet.size());
    results.throughputMiBs = static_cast<double>(received.get()) / (1 << 20) / seconds(start);

    // Round trips of a small packet: the camera echoes.
    pair.camera->onData = [&](const Bytes& p, const PeerId& from) {
        pair.camera->queue().sync([&] { pair.camera->send(p, from); });
    };
    auto pingPong = [&](int count) {
        std::vector<double> rtts;
        const Bytes ping(200, 7);
        for (int i = 0; i < count; ++i) {
            const auto before = received.get();
            const auto t0 = Clock::now();
            pair.monitor->queue().sync([&] { pair.monitor->send(ping, pair.cameraId); });
            received.waitAtLeast(before + ping.size());
            rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        return rtts;
    };
    auto rtts = pingPong(settings.pings);
    results.rttMedianUs = percentile(rtts, 0.5);
    results.rttP99Us = percentile(rtts, 0.99);

    // The same while a large file goes from the camera to the remote.
    const auto file = dir / "large.bin";
    {
        std::ofstream out(file, std::ios::binary);
        std::vector<char> block(1 << 20, 'f');
        for (std::size_t i = 0; i < settings.fileMib; ++i)
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    Counter fileDone;
    pair.monitor->onResource = [](const std::filesystem::path&, const std::string&, const PeerId&) {};
    const auto fileStart = Clock::now();
    double fileSeconds = 0;
    auto progress =
        pair.camera->sendResource(file, "large", pair.monitorId, [&](const std::optional<std::string>& error) {
            if (error) std::fprintf(stderr, "file: %s\n", error->c_str());
            fileSeconds = seconds(fileStart);
            fileDone.add(1);
        });
    std::vector<double> loaded;
    while (fileDone.get() == 0 && loaded.size() < 100000) {
        auto some = pingPong(20);
        loaded.insert(loaded.end(), some.begin(), some.end());
    }
    fileDone.waitAtLeast(1, 120);
    results.loadedMedianUs = percentile(loaded, 0.5);
    results.loadedP99Us = percentile(loaded, 0.99);
    results.fileMiBs = static_cast<double>(settings.fileMib) / fileSeconds;
    return results;
}

// ----- Plain TCP -----

bool sendAll(int fd, const void* data, std::size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size) {
        const auto n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size) {
        const auto n = ::recv(fd, p, size, 0);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool sendFrame(int fd, const Bytes& payload) {
    const std::uint32_t length = htonl(static_cast<std::uint32_t>(payload.size()));
    Bytes frame(4 + payload.size());
    std::memcpy(frame.data(), &length, 4);
    std::memcpy(frame.data() + 4, payload.data(), payload.size());
    return sendAll(fd, frame.data(), frame.size());
}

bool readFrame(int fd, Bytes& payload) {
    std::uint32_t length = 0;
    if (!readAll(fd, &length, 4)) return false;
    payload.resize(ntohl(length));
    return readAll(fd, payload.data(), payload.size());
}

void noDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Results benchTcp(const Settings& settings) {
    Results results;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int server = ::accept(listener, nullptr, nullptr);
    noDelay(client);
    noDelay(server);

    // Throughput, server to client, with a reader thread counting.
    Counter received;
    std::atomic<bool> echo{false};
    std::thread reader([&] {
        Bytes payload;
        while (readFrame(client, payload)) received.add(payload.size());
    });
    const Bytes packet(settings.size, 0x2A);
    const std::uint64_t total = settings.mib << 20;
    const auto start = Clock::now();
    for (std::uint64_t sent = 0; sent < total; sent += packet.size()) sendFrame(server, packet);
    received.waitAtLeast(total / packet.size() * packet.size());
    results.throughputMiBs = static_cast<double>(received.get()) / (1 << 20) / seconds(start);

    // Round trips: the server side echoes.
    std::thread echoer([&] {
        Bytes payload;
        while (readFrame(server, payload)) sendFrame(server, payload);
    });
    std::vector<double> rtts;
    const Bytes ping(200, 7);
    for (int i = 0; i < settings.pings; ++i) {
        const auto before = received.get();
        const auto t0 = Clock::now();
        sendFrame(client, ping);
        received.waitAtLeast(before + ping.size());
        rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    results.rttMedianUs = percentile(rtts, 0.5);
    results.rttP99Us = percentile(rtts, 0.99);
    (void)echo;
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
    reader.join();
    echoer.join();
    ::close(client);
    ::close(server);
    ::close(listener);
    return results;
}

void print(const char* what, const Results& r, bool withFile) {
    std::printf("%-5s throughput %8.1f MiB/s   round trip median %7.1f us  p99 %7.1f us\n", what, r.throughputMiBs,
                r.rttMedianUs, r.rttP99Us);
    if (withFile) {
        std::printf("      during a file transfer: round trip median %7.1f us  p99 %7.1f us; file %6.1f MiB/s\n",
                    r.loadedMedianUs, r.loadedP99Us, r.fileMiBs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return i + 1 < argc ? std::stoul(argv[++i]) : 0ul; };
        if (arg == "both" || arg == "link" || arg == "tcp") {
            settings.mode = arg;
        } else if (arg == "--mib") {
            settings.mib = next();
        } else if (arg == "--size") {
            settings.size = next();
        } else if (arg == "--pings") {
            settings.pings = static_cast<int>(next());
        } else if (arg == "--file-mib") {
            settings.fileMib = next();
        } else {
            std::fprintf(
                stderr, "usage: bench_peer_link [both|link|tcp] [--mib N] [--size BYTES] [--pings N] [--file-mib N]\n");
            return 64;
        }
    }
    if (settings.size == 0 || settings.size > 16'777'216) settings.size = 64 * 1024;
    char pattern[] = "/tmp/morvane-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const std::filesystem::path dir = pattern;
    ::setenv("MORVANE_TEST_LOOPBACK_ONLY", "1", 1);

    std::optional<Results> link, tcp;
    if (settings.mode != "tcp") link = benchLink(settings, dir);
    if (settings.mode != "link") tcp = benchTcp(settings);
    std::printf("%zu MiB in packets of %zu bytes, %d round trips of 200 bytes, a %zu MiB file\n", settings.mib,
                settings.size, settings.pings, settings.fileMib);
    if (link) print("link", *link, true);
    if (tcp) print("tcp", *tcp, false);
    if (link && tcp) {
        std::printf("ratio link/tcp: throughput %.2f, round trip median %.2f\n",
                    link->throughputMiBs / tcp->throughputMiBs, link->rttMedianUs / tcp->rttMedianUs);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
