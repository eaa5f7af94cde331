#include "usb_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace morvane::test {

std::shared_ptr<Keychain> makeDevice(const std::filesystem::path& folder, const std::string& name) {
    auto keychain = std::make_shared<Keychain>(folder);
    DeviceIdentity(keychain).setDeviceName(name);
    return keychain;
}

void pair(const std::shared_ptr<Keychain>& camera, const std::shared_ptr<Keychain>& remote) {
    DeviceIdentity cameraIdentity(camera);
    DeviceIdentity remoteIdentity(remote);
    TrustedPeers(camera).add(
        TrustedPeer{remoteIdentity.publicKey(), remoteIdentity.deviceName(), TrustedPeer::remoteRole, Date::now()});
    TrustedPeers(remote).add(
        TrustedPeer{cameraIdentity.publicKey(), cameraIdentity.deviceName(), TrustedPeer::cameraRole, Date::now()});
}

TransferInfo sampleInfo(const std::string& fileName) {
    TransferInfo info;
    info.id = Uuid();
    info.fileName = fileName;
    info.capturedAt = Date{794'000'000.25};
    info.isVideo = true;
    info.duration = 12.5;
    info.cuts =
        std::vector<ProgramCut>{ProgramCut{"Cam A", Date{794'000'001.0}}, ProgramCut{"Cam B", Date{794'000'007.5}}};
    return info;
}

crypto::Digest makeFile(const std::filesystem::path& path, std::uint64_t size, std::uint32_t seed) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot create " + path.string());
    std::vector<std::uint8_t> block(1u << 20);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : block) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    crypto::Sha256 digest;
    std::uint64_t written = 0;
    for (std::uint64_t index = 0; written < size; ++index) {
        for (int i = 0; i < 8; ++i) block[i] = static_cast<std::uint8_t>(index >> (8 * i));
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - written));
        if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path.string());
        }
        digest.update(block.data(), n);
        written += n;
    }
    ::close(fd);
    return digest.finish();
}

crypto::Digest fileDigest(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::vector<std::uint8_t> block(1u << 20);
    crypto::Sha256 digest;
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n <= 0) break;
        digest.update(block.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return digest.finish();
}

std::size_t countFiles(const std::filesystem::path& folder) {
    std::error_code ec;
    std::size_t count = 0;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec)) ++count;
    }
    return count;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

RawCamera::RawCamera(int fd, std::shared_ptr<Keychain> keychain) : channel_(fd), keychain_(std::move(keychain)) {}

USBLink::Handshake::Outcome RawCamera::greet() {
    DeviceIdentity identity(keychain_);
    TrustedPeers trusted(keychain_);
    USBLink::Handshake handshake(identity, trusted, TrustedPeer::cameraRole);
    return handshake.run(channel_, 10000);
}

bool RawCamera::start(const TransferInfo& info, std::uint64_t size) {
    auto body = USBLink::encodeFileStart(USBLink::FileStart{size, info});
    return body && channel_.send(USBLink::Kind::fileStart, *body);
}

bool RawCamera::data(const Bytes& bytes) {
    return channel_.send(USBLink::Kind::fileData, bytes);
}

bool RawCamera::end(const crypto::Digest& digest) {
    return channel_.send(USBLink::Kind::fileEnd, digest.data(), digest.size());
}

bool RawCamera::sendFile(const TransferInfo& info, const Bytes& content, const crypto::Digest& digest) {
    return start(info, content.size()) && (content.empty() || data(content)) && end(digest);
}

std::optional<USBLink::Ack> RawCamera::waitAck(int timeoutMs) {
    USBLink::Frame frame;
    if (channel_.receive(frame, timeoutMs) != USBLink::Channel::Result::frame) return std::nullopt;
    if (frame.kind != static_cast<std::uint8_t>(USBLink::Kind::ack)) return std::nullopt;
    return USBLink::decodeAck(frame.body, frame.size);
}

bool RawCamera::waitClosed(int timeoutMs) {
    USBLink::Frame frame;
    for (;;) {
        const auto result = channel_.receive(frame, timeoutMs);
        if (result == USBLink::Channel::Result::frame) continue;
        return result == USBLink::Channel::Result::closed || result == USBLink::Channel::Result::invalid;
    }
}

Listener::Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 4) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

Listener::~Listener() {
    if (fd_ >= 0) ::close(fd_);
}

int Listener::accept(int timeoutMs) {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0) return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

}  // namespace morvane::test
