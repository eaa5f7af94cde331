// File throughput over the USB link (camera server -> multiplexing service -> hub) against two copies of the same
// file over one TCP socket on 127.0.0.1: a plain copy, and one that does the link's work as well (SHA-256 on both
// sides, the file flushed to the disk, then an acknowledgement the sender waits for).
//
//   bench_usb_link [SIZE_MB] [ROUNDS]          all three, alternating, medians over the rounds
//   bench_usb_link link|plain|same FILE MB     one of them on FILE (made when missing), for timing whole runs

#include "fake_usbmux_service.h"
#include "link/usb_hub.h"
#include "link/usb_server.h"
#include "usb_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/crypto.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace morvane;
using namespace morvane::test;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds to move the file over the link, from queueing it to the camera's acknowledgement.
double overLink(const std::filesystem::path& file, const std::filesystem::path& work) {
    auto camera = makeDevice(work / "camera", "Cam A");
    auto remote = makeDevice(work / "remote", "Desk");
    pair(camera, remote);
    FakeUsbmuxService service(work / "usbmuxd.sock", USBLink::port);
    if (!service.start()) return -1;
    ScopedEnv env("USBMUXD_SOCKET_ADDRESS", service.address());

    USBServer server(USBServer::Options{camera, "127.0.0.1", 0});
    std::atomic<bool> done{false};
    server.onAcknowledged = [&](const TransferInfo&, bool ok) { done = ok; };
    if (!server.start()) return -1;
    USBHub hub(USBHub::Options{remote, work / "hub", USBLink::port, 2.0});
    const auto imported = work / "imported";
    hub.onFile = [&](const std::filesystem::path& received, const TransferInfo&, const std::string&) {
        std::filesystem::rename(received, imported);
    };
    service.attach(1, "bench", server.port());
    hub.start();
    if (!waitFor([&] { return server.isConnected(); }, std::chrono::seconds(10))) return -1;

    const auto start = Clock::now();
    server.send(file, sampleInfo("bench.mov"));
    if (!waitFor([&] { return done.load(); }, std::chrono::minutes(10))) return -1;
    const double seconds = secondsSince(start);
    hub.stop();
    server.stop();
    service.stop();
    std::filesystem::remove(imported);
    return seconds;
}

// Seconds to copy the file through one TCP connection into another file. With `sameWork`, the sender hashes what
// it reads and sends the digest last, the receiver hashes what it writes, compares, flushes the file to the disk and
// answers one byte, and the time runs until the sender has that answer: what the link does besides moving bytes.
double plainCopy(const std::filesystem::path& file, const std::filesystem::path& work, bool sameWork = false) {
    Listener listener;
    const auto target = work / "copy";
    const auto start = Clock::now();
    const auto size = std::filesystem::file_size(file);
    std::thread receiver([&] {
        const int fd = listener.accept(10000);
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::vector<std::uint8_t> buffer(1u << 20);
        crypto::Sha256 hasher;
        std::uint64_t left = size;
        std::vector<std::uint8_t> trailer;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            auto got = static_cast<std::size_t>(n);
            const auto data = static_cast<std::size_t>(std::min<std::uint64_t>(left, got));
            if (data && ::write(out, buffer.data(), data) != static_cast<ssize_t>(data)) break;
            if (sameWork) hasher.update(buffer.data(), data);
            left -= data;
            trailer.insert(trailer.end(), buffer.begin() + static_cast<std::ptrdiff_t>(data), buffer.begin() + n);
            if (sameWork && left == 0 && trailer.size() >= 32) {
                const auto digest = hasher.finish();
                const bool ok = std::equal(digest.begin(), digest.end(), trailer.begin()) && ::fsync(out) == 0;
                const char answer = ok ? 1 : 0;
                ::send(fd, &answer, 1, MSG_NOSIGNAL);
                break;
            }
        }
        ::close(out);
        ::close(fd);
    });
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        std::vector<std::uint8_t> buffer(1u << 20);
        crypto::Sha256 hasher;
        auto sendAll = [&](const std::uint8_t* data, std::size_t n) {
            std::size_t sent = 0;
            while (sent < n) {
                const ssize_t k = ::send(fd, data + sent, n - sent, MSG_NOSIGNAL);
                if (k <= 0) return false;
                sent += static_cast<std::size_t>(k);
            }
            return true;
        };
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n <= 0) break;
            if (sameWork) hasher.update(buffer.data(), static_cast<std::size_t>(n));
            if (!sendAll(buffer.data(), static_cast<std::size_t>(n))) break;
        }
        ::close(in);
        if (sameWork) {
            const auto digest = hasher.finish();
            char answer = 0;
            if (!sendAll(digest.data(), digest.size()) || ::recv(fd, &answer, 1, 0) != 1 || answer != 1) {
                std::fprintf(stderr, "the copy with the link's work did not arrive whole\n");
            }
        }
    }
    ::close(fd);
    receiver.join();
    const double seconds = secondsSince(start);
    std::filesystem::remove(target);
    return seconds;
}

}  // namespace

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int main(int argc, char** argv) {
    TempDir work;
    if (argc == 4) {
        const std::string mode = argv[1];
        const std::filesystem::path file = argv[2];
        const std::uint64_t size = std::strtoull(argv[3], nullptr, 10) << 20;
        if (!std::filesystem::exists(file) || std::filesystem::file_size(file) != size) makeFile(file, size);
        const double seconds =
            mode == "link" ? overLink(file, work.path()) : plainCopy(file, work.path(), mode == "same");
        std::printf("%s: %.3f s, %.0f MB/s\n", mode.c_str(), seconds, static_cast<double>(size) / 1e6 / seconds);
        return seconds > 0 ? 0 : 1;
    }
    const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512) << 20;
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 10);
    const auto file = work / "source.mov";
    makeFile(file, size);
    // Alternate the order every round, so that a busy moment of the machine weighs on all three alike.
    std::vector<double> link, plain, same, linkToSame;
    for (int round = 0; round < rounds; ++round) {
        const auto linkWork = work / ("link" + std::to_string(round));
        const auto plainWork = work / ("plain" + std::to_string(round));
        std::filesystem::create_directories(linkWork);
        std::filesystem::create_directories(plainWork);
        double l = 0, p = 0, w = 0;
        if (round % 2 == 0) {
            l = overLink(file, linkWork);
            p = plainCopy(file, plainWork);
            w = plainCopy(file, plainWork, true);
        } else {
            w = plainCopy(file, plainWork, true);
            p = plainCopy(file, plainWork);
            l = overLink(file, linkWork);
        }
        if (l < 0 || p < 0 || w < 0) {
            std::fprintf(stderr, "a transfer failed\n");
            return 1;
        }
        link.push_back(l);
        plain.push_back(p);
        same.push_back(w);
        linkToSame.push_back(w / l);
        std::filesystem::remove_all(linkWork);
        std::filesystem::remove_all(plainWork);
    }
    const double mb = static_cast<double>(size) / 1e6;
    std::printf("file of %.0f MB, medians of %d alternating rounds\n", mb, rounds);
    std::printf("over the USB link (digests, flush, acknowledgement): %.3f s, %.0f MB/s\n", median(link),
                mb / median(link));
    std::printf("socket copy doing the same work:                     %.3f s, %.0f MB/s\n", median(same),
                mb / median(same));
    std::printf("plain socket copy (bytes only):                      %.3f s, %.0f MB/s\n", median(plain),
                mb / median(plain));
    std::printf(
        "link speed / same-work copy: %.2f (median of the rounds' ratios; min %.2f, max %.2f); link time / "
        "plain copy time: %.2f\n",
        median(linkToSame), *std::min_element(linkToSame.begin(), linkToSame.end()),
        *std::max_element(linkToSame.begin(), linkToSame.end()), median(link) / median(plain));
    return 0;
}
