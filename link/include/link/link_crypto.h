#pragma once

#include "platform/base64.h"
#include "platform/crypto.h"

#include <cstdint>
#include <string>

namespace morvane {

/// The cryptographic pieces of the link's handshake.
struct LinkCrypto {
    /// The label of the TLS exporter value E.
    static constexpr const char* exporterLabel = "EXPORTER-morvane-link";

    /// HMAC(K, label ‖ role ‖ E): proves knowledge of K on this very TLS session.
    static crypto::Digest proof(const Bytes& linkKey, std::uint8_t role, const Bytes& exporter);
    /// SHA-256 of the inviting side's nonce.
    static crypto::Digest commitment(const Bytes& nonce);
    /// The six digits both users compare: SHA-256(label ‖ E ‖ nI ‖ nR ‖ both public keys in byte order), first four
    /// bytes big-endian, modulo 1,000,000.
    static std::string pairingCode(const Bytes& exporter, const Bytes& initiatorNonce, const Bytes& responderNonce,
                                   const Bytes& publicKeyA, const Bytes& publicKeyB);
    /// HMAC(K, label ‖ role ‖ E ‖ code): the user on this side saw and accepted the code.
    static crypto::Digest confirmation(const Bytes& linkKey, std::uint8_t role, const Bytes& exporter,
                                       const std::string& code);
};

}  // namespace morvane
