#pragma once

#include "platform/base64.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace morvane::test {

/// A TLS client on plain OpenSSL that writes whatever bytes a test wants, framed or not: the hostile peer.
class RawTlsClient {
public:
    RawTlsClient() = default;
    ~RawTlsClient();
    RawTlsClient(const RawTlsClient&) = delete;
    RawTlsClient& operator=(const RawTlsClient&) = delete;

    /// TCP from `source` to 127.0.0.1:port and the TLS handshake.
    bool connect(std::uint16_t port, const std::string& source = "127.0.0.1");
    bool writeRaw(const Bytes& bytes);
    bool writeFrame(std::uint8_t kind, const Bytes& body);
    /// The next frame, or none when the connection closed or nothing came in time.
    std::optional<std::pair<std::uint8_t, Bytes>> readFrame(double seconds = 5);
    /// True once the peer has closed the connection (reading anything it still sends meanwhile).
    bool closedByPeer(double seconds = 5);
    Bytes exporter(const std::string& label) const;
    void close();

private:
    bool readExactly(std::uint8_t* data, std::size_t size, double seconds);

    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    bool eof_ = false;
};

}  // namespace morvane::test
