#include "link/link_crypto.h"

#include <algorithm>
#include <cstdio>

namespace morvane {

namespace {

Bytes labelled(std::string_view label) {
    return Bytes(label.begin(), label.end());
}

void appendKeysInOrder(Bytes& out, const Bytes& a, const Bytes& b) {
    bool aFirst = a.size() < b.size();
    if (a.size() == b.size()) {
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i] != b[i]) {
                aFirst = a[i] < b[i];
                break;
            }
        }
    }
    const Bytes& first = aFirst ? a : b;
    const Bytes& second = aFirst ? b : a;
    const auto at = out.size();
    out.resize(at + first.size() + second.size());
    std::copy(second.begin(), second.end(),
              std::copy(first.begin(), first.end(), out.begin() + static_cast<std::ptrdiff_t>(at)));
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
