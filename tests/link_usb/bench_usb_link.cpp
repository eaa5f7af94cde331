// File throughput over the USB link (camera server -> multiplexing service -> hub, with both digests) against a
// plain copy of the same file over one TCP socket on 127.0.0.1.
//
//   bench_usb_link [SIZE_MB]            both, in the same run, with the ratio
//   bench_usb_link link|plain FILE MB   one of them on FILE (made when missing), for timing whole runs

#include "fake_usbmux_service.h"
#include "link/usb_hub.h"
#include "link/usb_server.h"
#include "usb_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Seconds to copy the file through one TCP connection into another file.
double plainCopy(const std::filesystem::path& file, const std::filesystem::path& work) {
    Listener listener;
    const auto target = work / "copy";
    const auto start = Clock::now();
    std::thread receiver([&] {
        const int fd = listener.accept(10000);
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::vector<char> buffer(1u << 20);
        for (;;) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) break;
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
        std::vector<char> buffer(1u << 20);
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n <= 0) break;
            ssize_t sent = 0;
            while (sent < n) {
                const ssize_t k = ::send(fd, buffer.data() + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
                if (k <= 0) break;
                sent += k;
            }
        }
        ::close(in);
    }
    ::close(fd);
    receiver.join();
    const double seconds = secondsSince(start);
    std::filesystem::remove(target);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    TempDir work;
    if (argc == 4) {
        const std::string mode = argv[1];
        const std::filesystem::path file = argv[2];
        const std::uint64_t size = std::strtoull(argv[3], nullptr, 10) << 20;
        if (!std::filesystem::exists(file) || std::filesystem::file_size(file) != size) makeFile(file, size);
        const double seconds = mode == "link" ? overLink(file, work.path()) : plainCopy(file, work.path());
        std::printf("%s: %.3f s, %.0f MB/s\n", mode.c_str(), seconds, static_cast<double>(size) / 1e6 / seconds);
        return seconds > 0 ? 0 : 1;
    }
    const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512) << 20;
    const auto file = work / "source.mov";
    makeFile(file, size);
    // Alternate, and keep each one's best, so that a busy moment of the machine does not decide.
    double link = 1e9;
    double plain = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto linkWork = work / ("link" + std::to_string(round));
        const auto plainWork = work / ("plain" + std::to_string(round));
        std::filesystem::create_directories(linkWork);
        std::filesystem::create_directories(plainWork);
        const double l = overLink(file, linkWork);
        const double p = plainCopy(file, plainWork);
        if (l < 0 || p < 0) {
            std::fprintf(stderr, "a transfer failed\n");
            return 1;
        }
        link = std::min(link, l);
        plain = std::min(plain, p);
    }
    const double mb = static_cast<double>(size) / 1e6;
    std::printf("file of %.0f MB, best of 3\n", mb);
    std::printf("over the USB link: %.3f s, %.0f MB/s\n", link, mb / link);
    std::printf("plain socket copy: %.3f s, %.0f MB/s\n", plain, mb / plain);
    std::printf("link / plain time: %.2f\n", link / plain);
    return 0;
}
