#include "link/link_crypto.h"

#include <cstdio>

namespace morvane {

namespace {

Bytes labelled(std::string_view label) {
    return Bytes(label.begin(), label.end());
}

void appendKeysInOrder(Bytes& out, const Bytes& a, const Bytes& b) {
    const bool aFirst = a < b;
    const Bytes& first = aFirst ? a : b;
    const Bytes& second = aFirst ? b : a;
    out.insert(out.end(), first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
}

}  // namespace

crypto::Digest LinkCrypto::proof(const Bytes& linkKey, std::uint8_t role, const Bytes& exporter) {
    auto message = labelled("morvane link proof v1");
    message.push_back(role);
    message.insert(message.end(), exporter.begin(), exporter.end());
    return crypto::hmacSha256(linkKey, message);
}

crypto::Digest LinkCrypto::commitment(const Bytes& nonce) {
    return crypto::sha256(nonce);
}

std::string LinkCrypto::pairingCode(const Bytes& exporter, const Bytes& initiatorNonce, const Bytes& responderNonce,
                                    const Bytes& publicKeyA, const Bytes& publicKeyB) {
    auto message = labelled("morvane pairing code v1");
    message.insert(message.end(), exporter.begin(), exporter.end());
    message.insert(message.end(), initiatorNonce.begin(), initiatorNonce.end());
    message.insert(message.end(), responderNonce.begin(), responderNonce.end());
    appendKeysInOrder(message, publicKeyA, publicKeyB);
    const auto digest = crypto::sha256(message);
    const std::uint32_t value = (std::uint32_t{digest[0]} << 24) | (std::uint32_t{digest[1]} << 16) |
                                (std::uint32_t{digest[2]} << 8) | std::uint32_t{digest[3]};
    char text[8];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(value % 1'000'000u));
    return text;
}

crypto::Digest LinkCrypto::confirmation(const Bytes& linkKey, std::uint8_t role, const Bytes& exporter,
                                        const std::string& code) {
    auto message = labelled("morvane pairing confirm v1");
    message.push_back(role);
    message.insert(message.end(), exporter.begin(), exporter.end());
    message.insert(message.end(), code.begin(), code.end());
    return crypto::hmacSha256(linkKey, message);
}

}  // namespace morvane
