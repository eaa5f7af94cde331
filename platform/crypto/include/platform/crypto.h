#pragma once

#include "platform/base64.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// Failures of the library underneath (out of memory, no random source) throw std::runtime_error
// rather than hand back a key, digest or random bytes that are not what they claim to be.
namespace morvane::crypto {

using Digest = std::array<std::uint8_t, 32>;

/// An X25519 private key; its public half is 32 bytes.
class X25519PrivateKey {
public:
    /// A fresh random key.
    X25519PrivateKey();
    /// A key from its 32 raw bytes; none when the length is wrong.
    static std::optional<X25519PrivateKey> fromRaw(const Bytes& raw);

    const Bytes& rawRepresentation() const { return raw_; }
    Bytes publicKey() const;
    /// The shared secret with a peer's 32-byte public key; none for a bad key (wrong length, low order).
    std::optional<Bytes> sharedSecret(const Bytes& peerPublicKey) const;

private:
    Bytes raw_;
};

Digest sha256(const std::uint8_t* data, std::size_t size);
inline Digest sha256(const Bytes& data) {
    return sha256(data.data(), data.size());
}
inline Digest sha256(std::string_view s) {
    return sha256(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

/// Incremental SHA-256 for data that arrives in pieces (files).
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const std::uint8_t* data, std::size_t size);
    void update(const Bytes& data) { update(data.data(), data.size()); }
    /// The digest of everything given so far; the object then starts over for a new message.
    Digest finish();

private:
    void* ctx_;
};

Digest hmacSha256(const Bytes& key, const Bytes& message);

/// HKDF-SHA256 (extract and expand); `length` at most 255 * 32 (longer throws std::invalid_argument),
/// `info` at most 1024 bytes. An empty salt stands for 32 zero bytes.
Bytes hkdfSha256(const Bytes& inputKey, const Bytes& salt, const Bytes& info, std::size_t length);

/// Cryptographically secure random bytes.
Bytes randomBytes(std::size_t count);

/// Compares in time independent of where the inputs differ.
bool constantTimeEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t size);

}  // namespace morvane::crypto
