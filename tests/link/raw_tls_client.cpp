#include "raw_tls_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>

namespace morvane::test {

RawTlsClient::~RawTlsClient() {
    close();
}

void RawTlsClient::close() {
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
    if (fd_ >= 0) ::close(fd_);
    ssl_ = nullptr;
    ctx_ = nullptr;
    fd_ = -1;
}

bool RawTlsClient::connect(std::uint16_t port, const std::string& source) {
    // Writing to a peer that already hung up must fail, not kill the test.
    ::signal(SIGPIPE, SIG_IGN);
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    if (::inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    timeval timeout{0, 100000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ctx_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx_, TLS1_3_VERSION);
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        const int r = SSL_connect(ssl_);
        if (r == 1) return true;
        const int error = SSL_get_error(ssl_, r);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE &&
            !(error == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK))) {
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
    }
}

bool RawTlsClient::writeRaw(const Bytes& bytes) {
    if (!ssl_) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n = SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool RawTlsClient::writeFrame(std::uint8_t kind, const Bytes& body) {
    const std::uint32_t length = static_cast<std::uint32_t>(body.size() + 1);
    Bytes frame{static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), kind};
    frame.insert(frame.end(), body.begin(), body.end());
    return writeRaw(frame);
}

bool RawTlsClient::readExactly(std::uint8_t* data, std::size_t size, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::size_t done = 0;
    while (done < size) {
        if (!ssl_ || eof_) return false;
        ERR_clear_error();
        const int n = SSL_read(ssl_, data + done, static_cast<int>(size - done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int error = SSL_get_error(ssl_, n);
        const bool timedOut = error == SSL_ERROR_WANT_READ ||
                              (error == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK) && n < 0);
        if (!timedOut) {
            eof_ = true;
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
}

std::optional<std::pair<std::uint8_t, Bytes>> RawTlsClient::readFrame(double seconds) {
    std::uint8_t header[5];
    if (!readExactly(header, 5, seconds)) return std::nullopt;
    const std::uint32_t length = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                                 (std::uint32_t{header[2]} << 8) | header[3];
    if (length == 0 || length > (1u << 25)) return std::nullopt;
    Bytes body(length - 1);
    if (!body.empty() && !readExactly(body.data(), body.size(), seconds)) return std::nullopt;
    return std::make_pair(header[4], std::move(body));
}

bool RawTlsClient::closedByPeer(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::uint8_t sink[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        if (eof_ || !ssl_) return true;
        readExactly(sink, sizeof sink, 0.05);
    }
    return eof_;
}

Bytes RawTlsClient::exporter(const std::string& label) const {
    Bytes out(32);
    SSL_export_keying_material(ssl_, out.data(), out.size(), label.data(), label.size(), nullptr, 0, 0);
    return out;
}

}  // namespace morvane::test
