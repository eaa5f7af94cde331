// The peer link against a plain TLS 1.3 connection over the loopback with the same framing
// (`[u32 big-endian length][kind][body]`): bulk packets, files (SHA-256 on both sides, the receiver writes the file,
// flushes it to the disk and answers), round trips of 200 bytes, idle and while a file is on its way.
// The round trips are sent open-loop, on a fixed schedule whatever the answers do, and each is timed from when it was
// due: a stall then counts against every ping that fell into it, as it does for a remote's steady traffic.
//
//   bench_peer_link [--pairs N] [--mib N] [--size BYTES] [--file-mib N] [--pings N] [--ping-interval-us N]
//
// Each pair runs the link and the plain TLS connection back to back, in alternating order, so that other work on
// the machine weighs on both alike; the figures are medians over the pairs. The round trips during a file run over as
// many transfers as there are pairs (at least 3), so that a stall in one transfer does not make the p99 alone.

#include "link/device_identity.h"
#include "link/peer_session.h"
#include "link/trusted_peers.h"
#include "platform/crypto.h"
#include "platform/dispatch_queue.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

struct Settings {
    int pairs = 12;
    std::size_t mib = 256;
    std::size_t size = 64 * 1024;
    // Long enough that the receiver's backlog of file data fills and reading pauses again and again, as it does
    // for a take of a few minutes; a shorter file ends before that.
    std::size_t fileMib = 512;
    int pings = 1000;
    int pingIntervalMicros = 2000;
    std::string only;  // "link" or "tls": one side alone, for profiling
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

double median(const std::vector<double>& v) {
    return percentile(v, 0.5);
}

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

/// A counter one thread bumps and another waits on. The waiter is woken once, when what it waits for is reached,
/// rather than at every bump: a wake-up per packet would cost the receiving thread more than the packet itself.
struct Counter {
    std::mutex mutex;
    std::condition_variable cv;
    std::uint64_t value = 0;
    std::uint64_t wanted = std::numeric_limits<std::uint64_t>::max();
    void add(std::uint64_t n) {
        bool reached = false;
        {
            std::lock_guard lock(mutex);
            value += n;
            reached = value >= wanted;
        }
        if (reached) cv.notify_all();
    }
    std::uint64_t get() {
        std::lock_guard lock(mutex);
        return value;
    }
    /// One waiter at a time.
    bool waitAtLeast(std::uint64_t target, double limit = 120) {
        std::unique_lock lock(mutex);
        wanted = target;
        const bool ok = cv.wait_for(lock, std::chrono::duration<double>(limit), [&] { return value >= target; });
        wanted = std::numeric_limits<std::uint64_t>::max();
        return ok;
    }
};

// ----- The peer link -----

class LinkBench {
public:
    explicit LinkBench(const std::filesystem::path& folder) : dir_(folder) {
        auto monitorKeys = std::make_shared<Keychain>(dir_ / "monitor");
        auto cameraKeys = std::make_shared<Keychain>(dir_ / "camera");
        // Paired beforehand, so that the run measures the link rather than a person.
        const auto monitorKey = DeviceIdentity(monitorKeys).publicKey();
        const auto cameraKey = DeviceIdentity(cameraKeys).publicKey();
        TrustedPeers(monitorKeys).add(TrustedPeer{cameraKey, "Bench Cam", TrustedPeer::cameraRole, Date::now()});
        TrustedPeers(cameraKeys).add(TrustedPeer{monitorKey, "Bench Desk", TrustedPeer::remoteRole, Date::now()});
        std::mt19937 random(static_cast<unsigned>(::getpid()) ^
                            static_cast<unsigned>(Clock::now().time_since_epoch().count()));
        PeerSession::Options options;
        options.mainExecutor = main_;
        options.interfaces = {"127.0.0.1"};
        options.multicastGroup = "239.255.201." + std::to_string(1 + random() % 250);
        options.multicastPort = static_cast<std::uint16_t>(40000 + random() % 20000);
        options.timing.announceInterval = 0.2;
        options.timing.announceBurstInterval = 0.05;
        options.keychain = monitorKeys;
        options.temporaryFolder = dir_ / "monitor-incoming";
        monitor_ = PeerSession::create(PeerSession::Role::monitor, true, 7, "morvane", options);
        options.keychain = cameraKeys;
        options.temporaryFolder = dir_ / "camera-incoming";
        camera_ = PeerSession::create(PeerSession::Role::camera, true, 7, "morvane", options);
    }

    ~LinkBench() {
        for (auto* s : {&monitor_, &camera_}) {
            (*s)->onData = nullptr;
            (*s)->onResource = nullptr;
            main_->sync([&] { (*s)->stop(); });
        }
        monitor_.reset();
        camera_.reset();
    }

    bool connect() {
        Counter ready;
        monitor_->onPeerConnected = [&](const PeerId&) { ready.add(1); };
        camera_->onPeerConnected = [&](const PeerId&) { ready.add(1); };
        main_->sync([&] {
            camera_->start();
            monitor_->start();
        });
        if (!ready.waitAtLeast(2, 20)) return false;
        monitor_->onPeerConnected = nullptr;
        camera_->onPeerConnected = nullptr;
        cameraId_ = monitor_->queue().syncResult([&] { return monitor_->readyPeers(); }).at(0);
        monitorId_ = camera_->queue().syncResult([&] { return camera_->readyPeers(); }).at(0);
        // The remote counts what arrives; the camera echoes what it gets.
        monitor_->onData = [this](const Bytes& packet, const PeerId&) {
            if (packet.size() == kPingSize && packet[0] == kPingMark) {
                std::uint64_t index = 0;
                std::memcpy(&index, packet.data() + 1, sizeof index);
                std::lock_guard lock(pingMutex_);
                if (index < answered_.size()) answered_[index] = Clock::now();
            }
            received_.add(packet.size());
        };
        camera_->onData = [this](const Bytes& p, const PeerId& from) {
            camera_->queue().sync([&] { camera_->send(p, from); });
        };
        monitor_->onResource = [](const std::filesystem::path&, const std::string&, const PeerId&) {};
        return true;
    }

    /// Packets from the camera to the remote, with at most 8 MiB on their way, as a paced sender keeps it: when
    /// 8 MiB are on their way it waits until half of them have arrived (as TCP's window lets a blocked sender go).
    double bulk(const Settings& settings) {
        const Bytes packet(settings.size, 0x2A);
        const std::uint64_t count = (settings.mib << 20) / packet.size();
        const std::uint64_t window = 8 << 20;
        const auto base = received_.get();
        const auto start = Clock::now();
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto sent = i * packet.size();
            if (sent >= window && received_.get() < base + sent - window) {
                received_.waitAtLeast(base + sent - window / 2);
            }
            camera_->queue().sync([&] { camera_->send(packet, monitorId_); });
        }
        received_.waitAtLeast(base + count * packet.size());
        return static_cast<double>(count * packet.size()) / (1 << 20) / seconds(start);
    }

    /// 200-byte round trips, one due every `interval`, until `count` have been sent or `stop` says so; each timed
    /// from when it was due to its answer. Answers still missing a second after the last ping count as that late.
    std::vector<double> roundTrips(int count, std::chrono::microseconds interval,
                                   const std::function<bool()>& stop = nullptr) {
        {
            std::lock_guard lock(pingMutex_);
            answered_.assign(static_cast<std::size_t>(count), Clock::time_point{});
        }
        std::vector<Clock::time_point> due;
        const auto begin = Clock::now();
        for (int i = 0; i < count && !(stop && stop()); ++i) {
            due.push_back(begin + interval * i);
            std::this_thread::sleep_until(due.back());
            Bytes ping(kPingSize, 7);
            ping[0] = kPingMark;
            const auto index = static_cast<std::uint64_t>(i);
            std::memcpy(ping.data() + 1, &index, sizeof index);
            // Handed over without waiting, so a busy link delays this ping but never the schedule.
            monitor_->queue().async([this, ping = std::move(ping)] { monitor_->send(ping, cameraId_); });
        }
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        auto allAnswered = [&] {
            std::lock_guard lock(pingMutex_);
            return std::all_of(answered_.begin(), answered_.begin() + static_cast<std::ptrdiff_t>(due.size()),
                               [](Clock::time_point t) { return t != Clock::time_point{}; });
        };
        while (!allAnswered() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::vector<double> rtts;
        std::lock_guard lock(pingMutex_);
        for (std::size_t i = 0; i < due.size(); ++i) {
            const auto answer = answered_[i] == Clock::time_point{} ? deadline : answered_[i];
            rtts.push_back(std::chrono::duration<double, std::micro>(answer - due[i]).count());
        }
        return rtts;
    }

    struct FileRun {
        double mibs = 0;
        std::vector<double> rtts;
    };

    /// A file from the camera to the remote; with `pinging`, 200-byte round trips run all the while.
    FileRun file(const std::filesystem::path& path, std::size_t mib, bool pinging,
                 std::chrono::microseconds interval = std::chrono::microseconds(2000)) {
        Counter done;
        const auto start = Clock::now();
        double elapsed = 0;
        camera_->sendResource(path, "bench", monitorId_, [&](const std::optional<std::string>& error) {
            if (error) std::fprintf(stderr, "file: %s\n", error->c_str());
            elapsed = seconds(start);
            done.add(1);
        });
        FileRun run;
        if (pinging) run.rtts = roundTrips(1'000'000, interval, [&] { return done.get() != 0; });
        done.waitAtLeast(1);
        run.mibs = static_cast<double>(mib) / elapsed;
        return run;
    }

private:
    std::filesystem::path dir_;
    std::shared_ptr<DispatchQueue> main_ = std::make_shared<DispatchQueue>("bench.main");
    std::shared_ptr<PeerSession> monitor_, camera_;
    PeerId cameraId_, monitorId_;
    Counter received_;
    static constexpr std::size_t kPingSize = 200;
    static constexpr std::uint8_t kPingMark = 0x50;  // bulk packets are all 0x2A
    std::mutex pingMutex_;
    std::vector<Clock::time_point> answered_;
};

// ----- Plain TLS 1.3 with the same framing -----

constexpr std::uint8_t dataKind = 0x21;
constexpr std::uint8_t fileStartKind = 0x30;
constexpr std::uint8_t fileChunkKind = 0x31;
constexpr std::uint8_t fileEndKind = 0x32;
constexpr std::uint8_t fileResultKind = 0x34;
constexpr std::size_t tlsFileChunk = 256 * 1024;

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};

/// Blocking OpenSSL on a connected loopback pair: the sender on the caller's thread, the receiver on its own.
class TlsBench {
public:
    explicit TlsBench(std::filesystem::path folder) : dir_(std::move(folder)) {
        serverCtx_ = SSL_CTX_new(TLS_server_method());
        clientCtx_ = SSL_CTX_new(TLS_client_method());
        for (auto* ctx : {serverCtx_, clientCtx_}) {
            SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
            SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
        }
        std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_EC_gen("P-256"));
        std::unique_ptr<X509, X509Free> cert(X509_new());
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
        X509_set_pubkey(cert.get(), key.get());
        X509_sign(cert.get(), key.get(), EVP_sha256());
        SSL_CTX_use_certificate(serverCtx_, cert.get());
        SSL_CTX_use_PrivateKey(serverCtx_, key.get());

        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        clientFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(clientFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        serverFd_ = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        int one = 1;
        ::setsockopt(clientFd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(serverFd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        server_ = SSL_new(serverCtx_);
        client_ = SSL_new(clientCtx_);
        SSL_set_fd(server_, serverFd_);
        SSL_set_fd(client_, clientFd_);
        std::thread accept([&] { SSL_accept(server_); });
        SSL_connect(client_);
        accept.join();
        receiver_ = std::thread([this] { receive(); });
    }

    ~TlsBench() {
        ::shutdown(serverFd_, SHUT_RDWR);
        ::shutdown(clientFd_, SHUT_RDWR);
        receiver_.join();
        SSL_free(server_);
        SSL_free(client_);
        SSL_CTX_free(serverCtx_);
        SSL_CTX_free(clientCtx_);
        ::close(serverFd_);
        ::close(clientFd_);
    }

    double bulk(const Settings& settings) {
        const Bytes packet(settings.size, 0x2A);
        const std::uint64_t count = (settings.mib << 20) / packet.size();
        const auto base = received_.get();
        const auto start = Clock::now();
        for (std::uint64_t i = 0; i < count; ++i) sendFrame(dataKind, packet.data(), packet.size());
        received_.waitAtLeast(base + count * packet.size());
        return static_cast<double>(count * packet.size()) / (1 << 20) / seconds(start);
    }

    /// Reads and hashes the file, sends it in chunks, then its digest, and waits for the receiver's answer.
    double file(const std::filesystem::path& path, std::size_t mib) {
        const auto start = Clock::now();
        std::FILE* in = std::fopen(path.c_str(), "rb");
        crypto::Sha256 hasher;
        Bytes chunk(tlsFileChunk);
        sendFrame(fileStartKind, nullptr, 0);
        for (;;) {
            const auto n = std::fread(chunk.data(), 1, chunk.size(), in);
            if (n == 0) break;
            hasher.update(chunk.data(), n);
            sendFrame(fileChunkKind, chunk.data(), n);
        }
        std::fclose(in);
        const auto digest = hasher.finish();
        sendFrame(fileEndKind, digest.data(), digest.size());
        std::uint8_t header[5];
        std::uint8_t status = 0;
        if (!readAll(server_, header, 5) || !readAll(server_, &status, 1) || status != 0) {
            std::fprintf(stderr, "plain TLS: the file did not arrive whole\n");
        }
        return static_cast<double>(mib) / seconds(start);
    }

private:
    static bool readAll(SSL* ssl, std::uint8_t* data, std::size_t size) {
        while (size) {
            std::size_t n = 0;
            if (SSL_read_ex(ssl, data, size, &n) != 1) return false;
            data += n;
            size -= n;
        }
        return true;
    }

    static bool writeAll(SSL* ssl, const std::uint8_t* data, std::size_t size) {
        std::size_t n = 0;
        return size == 0 || SSL_write_ex(ssl, data, size, &n) == 1;
    }

    void sendFrame(std::uint8_t kind, const std::uint8_t* body, std::size_t size) {
        frame_.resize(5 + size);
        const auto length = static_cast<std::uint32_t>(size + 1);
        frame_[0] = static_cast<std::uint8_t>(length >> 24);
        frame_[1] = static_cast<std::uint8_t>(length >> 16);
        frame_[2] = static_cast<std::uint8_t>(length >> 8);
        frame_[3] = static_cast<std::uint8_t>(length);
        frame_[4] = kind;
        if (size) std::memcpy(frame_.data() + 5, body, size);
        writeAll(server_, frame_.data(), frame_.size());
    }

    void receive() {
        std::uint8_t header[5];
        Bytes body;
        std::FILE* out = nullptr;
        crypto::Sha256 hasher;
        while (readAll(client_, header, 5)) {
            const std::uint32_t length = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                                         (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
            body.resize(length - 1);
            if (!readAll(client_, body.data(), body.size())) break;
            switch (header[4]) {
                case dataKind:
                    received_.add(body.size());
                    break;
                case fileStartKind:
                    out = std::fopen((dir_ / "tls-incoming.part").c_str(), "wb");
                    break;
                case fileChunkKind:
                    hasher.update(body.data(), body.size());
                    std::fwrite(body.data(), 1, body.size(), out);
                    break;
                case fileEndKind: {
                    const bool flushed = std::fflush(out) == 0 && ::fsync(::fileno(out)) == 0;
                    std::fclose(out);
                    std::filesystem::remove(dir_ / "tls-incoming.part");
                    const auto digest = hasher.finish();
                    const bool ok = flushed && std::equal(digest.begin(), digest.end(), body.begin(), body.end());
                    const std::uint8_t answer[6] = {0, 0, 0, 2, fileResultKind, static_cast<std::uint8_t>(ok ? 0 : 1)};
                    writeAll(client_, answer, sizeof answer);
                    break;
                }
                default:
                    break;
            }
        }
    }

    std::filesystem::path dir_;
    SSL_CTX* serverCtx_ = nullptr;
    SSL_CTX* clientCtx_ = nullptr;
    SSL* server_ = nullptr;
    SSL* client_ = nullptr;
    int serverFd_ = -1;
    int clientFd_ = -1;
    Bytes frame_;
    Counter received_;
    std::thread receiver_;
};

void makeFile(const std::filesystem::path& path, std::size_t mib) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> block((1 << 20) / 8);
    for (std::size_t i = 0; i < mib; ++i) {
        for (auto& word : block) word = random();
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
    }
}

void line(const char* what, const std::vector<double>& link, const std::vector<double>& tls, const char* unit) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < link.size() && i < tls.size(); ++i) ratios.push_back(link[i] / tls[i]);
    std::printf(
        "%-8s link %8.1f %s   plain TLS %8.1f %s   ratio %.2f (median of the pairs' ratios; min %.2f, max "
        "%.2f)\n",
        what, median(link), unit, median(tls), unit, median(ratios), *std::min_element(ratios.begin(), ratios.end()),
        *std::max_element(ratios.begin(), ratios.end()));
}

void report(const Settings& settings, const std::vector<double>& linkBulk, const std::vector<double>& tlsBulk,
            const std::vector<double>& linkFile, const std::vector<double>& tlsFile, LinkBench& link,
            const std::filesystem::path& file) {
    std::vector<double> loaded;
    const std::chrono::microseconds interval(settings.pingIntervalMicros);
    const auto idle = link.roundTrips(settings.pings, interval);
    std::vector<double> loadedMedians, loadedP99s;
    for (int run = 0; run < std::max(3, settings.pairs); ++run) {
        auto r = link.file(file, settings.fileMib, true, interval);
        loaded.insert(loaded.end(), r.rtts.begin(), r.rtts.end());
        loadedMedians.push_back(median(r.rtts));
        loadedP99s.push_back(percentile(r.rtts, 0.99));
    }

    std::printf(
        "%d alternating pairs; %zu MiB in packets of %zu bytes; a %zu MiB file (SHA-256 on both sides, "
        "flushed to the disk); loopback, TLS 1.3\n",
        settings.pairs, settings.mib, settings.size, settings.fileMib);
    line("bulk", linkBulk, tlsBulk, "MiB/s");
    line("files", linkFile, tlsFile, "MiB/s");
    std::printf("200-byte round trips sent open-loop, one every %d us\n", settings.pingIntervalMicros);
    std::printf("200-byte round trip over the link, idle: median %.0f us, p99 %.0f us (%d)\n", median(idle),
                percentile(idle, 0.99), settings.pings);
    std::printf(
        "200-byte round trip during a file transfer: median %.0f us, p99 %.0f us (%zu round trips in %zu "
        "transfers; per transfer median of medians %.0f us, of p99s %.0f us)\n",
        median(loaded), percentile(loaded, 0.99), loaded.size(), loadedMedians.size(), median(loadedMedians),
        median(loadedP99s));
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return i + 1 < argc ? std::stoul(argv[++i]) : 0ul; };
        if (arg == "--pairs") {
            settings.pairs = static_cast<int>(next());
        } else if (arg == "--mib") {
            settings.mib = next();
        } else if (arg == "--size") {
            settings.size = next();
        } else if (arg == "--file-mib") {
            settings.fileMib = next();
        } else if (arg == "--pings") {
            settings.pings = static_cast<int>(next());
        } else if (arg == "--ping-interval-us") {
            settings.pingIntervalMicros = std::max(100, static_cast<int>(next()));
        } else if (arg == "--only" && i + 1 < argc) {
            settings.only = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: bench_peer_link [--pairs N] [--mib N] [--size BYTES] [--file-mib N] [--pings N] "
                         "[--ping-interval-us N] [--only link|tls]\n");
            return 64;
        }
    }
    if (settings.size == 0 || settings.size > 16'777'216) settings.size = 64 * 1024;
    settings.pairs = std::max(settings.pairs, 1);
    ::signal(SIGPIPE, SIG_IGN);
    // TMPDIR chooses the disk the files are written to.
    auto pattern = (std::filesystem::temp_directory_path() / "morvane-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const std::filesystem::path dir = pattern;
    ::setenv("MORVANE_TEST_LOOPBACK_ONLY", "1", 1);
    const auto file = dir / "large.bin";
    makeFile(file, settings.fileMib);

    LinkBench link(dir);
    if (!link.connect()) {
        std::fprintf(stderr, "the link did not come up\n");
        return 1;
    }
    TlsBench tls(dir);

    std::vector<double> linkBulk, tlsBulk, linkFile, tlsFile;
    for (int pair = 0; pair < settings.pairs; ++pair) {
        // Alternate which goes first, so that neither always runs on a warmer (or busier) machine.
        const bool linkFirst = pair % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == linkFirst) {
                if (settings.only == "tls") continue;
                linkBulk.push_back(link.bulk(settings));
                linkFile.push_back(link.file(file, settings.fileMib, false).mibs);
            } else {
                if (settings.only == "link") continue;
                tlsBulk.push_back(tls.bulk(settings));
                tlsFile.push_back(tls.file(file, settings.fileMib));
            }
        }
        if (!settings.only.empty()) continue;
        std::fprintf(stderr, "pair %d: bulk %.0f / %.0f MiB/s, file %.0f / %.0f MiB/s\n", pair + 1, linkBulk.back(),
                     tlsBulk.back(), linkFile.back(), tlsFile.back());
    }
    if (!settings.only.empty()) {
        const auto& bulk = settings.only == "link" ? linkBulk : tlsBulk;
        const auto& files = settings.only == "link" ? linkFile : tlsFile;
        std::printf("%s alone: bulk %.1f MiB/s, files %.1f MiB/s (medians of %d)\n", settings.only.c_str(),
                    median(bulk), median(files), settings.pairs);
    } else {
        report(settings, linkBulk, tlsBulk, linkFile, tlsFile, link, file);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
