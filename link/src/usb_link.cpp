#include "link/usb_link.h"

#include "protocol/json_coding.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace morvane {

namespace {

constexpr std::size_t headerSize = 5;
constexpr const char* proofLabel = "morvane-usb-proof-1";
constexpr std::size_t maxNameBytes = 1024;

void putU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t getU32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

using SteadyClock = std::chrono::steady_clock;

// Milliseconds left until the deadline; -1 for none, 0 once passed.
int remainingMs(std::optional<SteadyClock::time_point> deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - SteadyClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

std::optional<SteadyClock::time_point> deadlineAfter(int timeoutMs) {
    if (timeoutMs < 0) return std::nullopt;
    return SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
}

}  // namespace

// MARK: messages

std::size_t USBLink::maxBody(std::uint8_t kind) {
    switch (static_cast<Kind>(kind)) {
        case Kind::hello:
        case Kind::fileStart:
            return maxControlBody;
        case Kind::proof:
        case Kind::fileEnd:
            return 32;
        case Kind::fileData:
            return maxChunk;
        case Kind::ack:
            return 17;
    }
    return 0;
}

Bytes USBLink::frame(Kind kind, const std::uint8_t* body, std::size_t size) {
    Bytes out(headerSize + size);
    putU32(out.data(), static_cast<std::uint32_t>(size + 1));
    out[4] = static_cast<std::uint8_t>(kind);
    if (size > 0) std::memcpy(out.data() + headerSize, body, size);
    return out;
}

Bytes USBLink::encodeHello(const Hello& hello) {
    Json j = Json::object();
    j["version"] = protocolVersion;
    j["role"] = hello.role;
    j["name"] = hello.name;
    j["key"] = base64Encode(hello.identityKey);
    j["nonce"] = base64Encode(hello.nonce);
    // Names come cleaned of invalid UTF-8; replace rather than throw should one slip through.
    const std::string text = j.dump(-1, ' ', false, Json::error_handler_t::replace);
    return Bytes(text.begin(), text.end());
}

std::optional<USBLink::Hello> USBLink::decodeHello(const std::uint8_t* body, std::size_t size) {
    if (size == 0 || size > maxControlBody) return std::nullopt;
    auto j = parseJson(std::string_view(reinterpret_cast<const char*>(body), size));
    if (!j || !j->is_object()) return std::nullopt;
    try {
        const auto& version = j->at("version");
        const auto& role = j->at("role");
        const auto& name = j->at("name");
        const auto& key = j->at("key");
        const auto& nonce = j->at("nonce");
        if (!version.is_number_integer() || version.get<std::int64_t>() != protocolVersion) return std::nullopt;
        if (!role.is_number_unsigned()) return std::nullopt;
        const auto roleValue = role.get<std::uint64_t>();
        if (roleValue != TrustedPeer::cameraRole && roleValue != TrustedPeer::remoteRole) return std::nullopt;
        if (!name.is_string() || !key.is_string() || !nonce.is_string()) return std::nullopt;
        Hello hello;
        hello.role = static_cast<std::uint8_t>(roleValue);
        hello.name = name.get<std::string>();
        if (hello.name.size() > maxNameBytes) return std::nullopt;
        auto keyBytes = base64Decode(key.get<std::string>());
        auto nonceBytes = base64Decode(nonce.get<std::string>());
        if (!keyBytes || keyBytes->size() != 32 || !nonceBytes || nonceBytes->size() != nonceSize) return std::nullopt;
        hello.identityKey = std::move(*keyBytes);
        hello.nonce = std::move(*nonceBytes);
        return hello;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<Bytes> USBLink::encodeFileStart(const FileStart& start) {
    auto json = encodeJsonText(start.info);
    if (!json || json->size() + 8 > maxControlBody) return std::nullopt;
    Bytes out(8 + json->size());
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(start.size >> (56 - 8 * i));
    std::memcpy(out.data() + 8, json->data(), json->size());
    return out;
}

std::optional<USBLink::FileStart> USBLink::decodeFileStart(const std::uint8_t* body, std::size_t size) {
    if (size <= 8 || size > maxControlBody) return std::nullopt;
    FileStart start;
    for (int i = 0; i < 8; ++i) start.size = (start.size << 8) | body[i];
    if (start.size > maxFileSize) return std::nullopt;
    auto info = decodeJsonText<TransferInfo>(std::string_view(reinterpret_cast<const char*>(body + 8), size - 8));
    if (!info) return std::nullopt;
    start.info = std::move(*info);
    return start;
}

std::optional<crypto::Digest> USBLink::decodeDigest(const std::uint8_t* body, std::size_t size) {
    crypto::Digest digest{};
    if (size != digest.size()) return std::nullopt;
    std::memcpy(digest.data(), body, size);
    return digest;
}

Bytes USBLink::encodeAck(const Ack& ack) {
    Bytes out(ack.id.bytes().begin(), ack.id.bytes().end());
    out.push_back(ack.ok ? 1 : 0);
    return out;
}

std::optional<USBLink::Ack> USBLink::decodeAck(const std::uint8_t* body, std::size_t size) {
    if (size != 17 || body[16] > 1) return std::nullopt;
    std::array<std::uint8_t, 16> id{};
    std::memcpy(id.data(), body, 16);
    return Ack{Uuid(id), body[16] == 1};
}

// MARK: frame reader

std::uint8_t* USBLink::FrameReader::space(std::size_t minimum, std::size_t& available) {
    if (consumed_ > 0) {
        begin_ += consumed_;
        consumed_ = 0;
    }
    if (begin_ == end_) begin_ = end_ = 0;
    if (buffer_.size() - end_ < minimum) {
        // Move what is left to the front before growing; the buffer never grows past one frame plus a read.
        if (begin_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (buffer_.size() - end_ < minimum) buffer_.resize(end_ + minimum);
    }
    available = buffer_.size() - end_;
    return buffer_.data() + end_;
}

void USBLink::FrameReader::commit(std::size_t count) {
    end_ += count;
}

USBLink::FrameReader::State USBLink::FrameReader::next(Frame& frame) {
    if (invalid_) return State::invalid;
    if (consumed_ > 0) {
        begin_ += consumed_;
        consumed_ = 0;
    }
    const std::size_t have = end_ - begin_;
    if (have < 4) return State::needMore;
    const std::uint8_t* p = buffer_.data() + begin_;
    const std::uint32_t length = getU32(p);
    // Judge the length before waiting for the body, so that a hostile length costs nothing.
    if (length == 0 || length - 1 > maxChunk) {
        invalid_ = true;
        return State::invalid;
    }
    if (have < headerSize) return State::needMore;
    const std::uint8_t kind = p[4];
    if (length - 1 > maxBody(kind) || maxBody(kind) == 0) {
        invalid_ = true;
        return State::invalid;
    }
    if (have < 4 + std::size_t{length}) return State::needMore;
    frame.kind = kind;
    frame.body = p + headerSize;
    frame.size = length - 1;
    consumed_ = 4 + std::size_t{length};
    return State::frame;
}

std::size_t USBLink::FrameReader::missing() const {
    const std::size_t begin = begin_ + consumed_;
    const std::size_t have = end_ - begin;
    if (have < headerSize) return headerSize - have;
    const std::size_t whole = 4 + std::size_t{getU32(buffer_.data() + begin)};
    return whole > have ? whole - have : 0;
}

// MARK: channel

USBLink::Channel::Channel(int fd) : fd_(fd) {
    const int flags = fcntl(fd_, F_GETFL, 0);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
}

USBLink::Channel::~Channel() {
    if (fd_ >= 0) ::close(fd_);
}

void USBLink::Channel::shutdown() {
    std::lock_guard lock(stateMutex_);
    if (shutDown_) return;
    shutDown_ = true;
    ::shutdown(fd_, SHUT_RDWR);
}

bool USBLink::Channel::isShutDown() const {
    std::lock_guard lock(stateMutex_);
    return shutDown_;
}

USBLink::Channel::Result USBLink::Channel::receive(Frame& frame, int timeoutMs, int wakeFd) {
    const auto deadline = deadlineAfter(timeoutMs);
    for (;;) {
        switch (reader_.next(frame)) {
            case FrameReader::State::frame:
                return Result::frame;
            case FrameReader::State::invalid:
                return Result::invalid;
            case FrameReader::State::needMore:
                break;
        }
        if (isShutDown()) return Result::closed;
        // No further than the end of this frame: once it is handed out the buffer is empty again, and the start of
        // the next (up to a megabyte of file) never has to be moved to the front.
        const std::size_t wanted = reader_.missing();
        std::size_t available = 0;
        std::uint8_t* into = reader_.space(wanted, available);
        const ssize_t n = ::recv(fd_, into, std::min(available, wanted), 0);
        if (n > 0) {
            reader_.commit(static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) return Result::closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Result::closed;
        pollfd pfds[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int wait = remainingMs(deadline);
        if (wait == 0) return Result::timeout;
        const int r = ::poll(pfds, wakeFd >= 0 ? 2 : 1, wait);
        if (r == 0) return Result::timeout;
        if (r < 0 && errno != EINTR) return Result::closed;
        if (r > 0 && wakeFd >= 0 && (pfds[1].revents & POLLIN)) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto drained = ::read(wakeFd, &count, sizeof count);
            return Result::woken;
        }
    }
}

bool USBLink::Channel::writeAll(const std::uint8_t* data, std::size_t size) {
    auto deadline = deadlineAfter(sendTimeoutMs);
    while (size > 0) {
        if (isShutDown()) return false;
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            deadline = deadlineAfter(sendTimeoutMs);  // the limit is on a stall, not on the whole message
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd pfd{fd_, POLLOUT, 0};
        const int wait = remainingMs(deadline);
        if (wait == 0) return false;
        const int r = ::poll(&pfd, 1, wait);
        if (r == 0) return false;
        if (r < 0 && errno != EINTR) return false;
        if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(pfd.revents & POLLOUT)) return false;
    }
    return true;
}

bool USBLink::Channel::send(Kind kind, const std::uint8_t* body, std::size_t size) {
    if (size > maxBody(static_cast<std::uint8_t>(kind))) return false;
    std::uint8_t header[headerSize];
    putU32(header, static_cast<std::uint32_t>(size + 1));
    header[4] = static_cast<std::uint8_t>(kind);
    std::lock_guard lock(sendMutex_);
    return writeAll(header, headerSize) && (size == 0 || writeAll(body, size));
}

// MARK: handshake

USBLink::Handshake::Handshake(const DeviceIdentity& identity, TrustedPeers trusted, std::uint8_t ownRole)
    : trusted_(std::move(trusted)), key_(identity.identityKey()), role_(ownRole) {
    ownNonce_ = crypto::randomBytes(nonceSize);
    Hello hello{ownRole, identity.deviceName(), key_.publicKey(), ownNonce_};
    ownHelloBody_ = encodeHello(hello);
}

crypto::Digest USBLink::Handshake::proof(const Bytes& linkKey, std::uint8_t role, const Bytes& cameraNonce,
                                         const Bytes& remoteNonce, const Bytes& cameraHello, const Bytes& remoteHello) {
    Bytes message(proofLabel, proofLabel + std::strlen(proofLabel));
    message.push_back(role);
    message.insert(message.end(), cameraNonce.begin(), cameraNonce.end());
    message.insert(message.end(), remoteNonce.begin(), remoteNonce.end());
    const auto cameraDigest = crypto::sha256(cameraHello);
    const auto remoteDigest = crypto::sha256(remoteHello);
    message.insert(message.end(), cameraDigest.begin(), cameraDigest.end());
    message.insert(message.end(), remoteDigest.begin(), remoteDigest.end());
    return crypto::hmacSha256(linkKey, message);
}

USBLink::Handshake::Outcome USBLink::Handshake::run(Channel& channel, int timeoutMs) {
    const auto deadline = deadlineAfter(timeoutMs);
    auto receiveKind = [&](Kind expected, Frame& frame) -> std::optional<Outcome> {
        switch (channel.receive(frame, remainingMs(deadline))) {
            case Channel::Result::frame:
                if (frame.kind != static_cast<std::uint8_t>(expected)) return Outcome::malformed;
                return std::nullopt;
            case Channel::Result::closed:
                return Outcome::closed;
            case Channel::Result::timeout:
                return Outcome::timeout;
            case Channel::Result::invalid:
            case Channel::Result::woken:
                return Outcome::malformed;
        }
        return Outcome::malformed;
    };

    if (!channel.send(Kind::hello, ownHelloBody_)) return Outcome::closed;
    Frame frame;
    if (auto failed = receiveKind(Kind::hello, frame)) return *failed;
    auto hello = decodeHello(frame.body, frame.size);
    if (!hello) return Outcome::malformed;
    peerHelloBody_.assign(frame.body, frame.body + frame.size);
    peer_ = std::move(*hello);

    const std::uint8_t expectedRole =
        role_ == TrustedPeer::cameraRole ? TrustedPeer::remoteRole : TrustedPeer::cameraRole;
    if (peer_.role != expectedRole) return Outcome::wrongRole;
    peerEntry_ = trusted_.find(peer_.identityKey);
    if (!peerEntry_ || peerEntry_->role != expectedRole) return Outcome::untrusted;
    auto linkKey = DeviceIdentity::linkKey(key_, peer_.identityKey);
    if (!linkKey) return Outcome::untrusted;

    const bool isCamera = role_ == TrustedPeer::cameraRole;
    const Bytes& cameraNonce = isCamera ? ownNonce_ : peer_.nonce;
    const Bytes& remoteNonce = isCamera ? peer_.nonce : ownNonce_;
    const Bytes& cameraHello = isCamera ? ownHelloBody_ : peerHelloBody_;
    const Bytes& remoteHello = isCamera ? peerHelloBody_ : ownHelloBody_;
    const auto ownProof = proof(*linkKey, role_, cameraNonce, remoteNonce, cameraHello, remoteHello);
    const auto expected = proof(*linkKey, expectedRole, cameraNonce, remoteNonce, cameraHello, remoteHello);
    if (!channel.send(Kind::proof, ownProof.data(), ownProof.size())) return Outcome::closed;

    if (auto failed = receiveKind(Kind::proof, frame)) return *failed;
    if (frame.size != expected.size() || !crypto::constantTimeEqual(frame.body, expected.data(), expected.size())) {
        return Outcome::badProof;
    }
    return Outcome::ok;
}

std::string USBLink::Handshake::peerName() const {
    std::string name = DeviceIdentity::cleanName(peer_.name);
    if (name.empty() && peerEntry_) name = DeviceIdentity::cleanName(peerEntry_->name);
    if (name.empty()) name = role_ == TrustedPeer::cameraRole ? "Remote" : "Camera";
    return name;
}

const char* USBLink::Handshake::describe(Outcome outcome) {
    switch (outcome) {
        case Outcome::ok:
            return "authenticated";
        case Outcome::closed:
            return "the link closed during the greeting";
        case Outcome::timeout:
            return "no greeting in time";
        case Outcome::malformed:
            return "a malformed greeting";
        case Outcome::wrongRole:
            return "a device of the wrong role";
        case Outcome::untrusted:
            return "a device that is not paired";
        case Outcome::badProof:
            return "a wrong proof of identity";
    }
    return "";
}

}  // namespace morvane
