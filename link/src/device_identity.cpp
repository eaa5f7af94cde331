#include "link/device_identity.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace morvane {

namespace {

// Guards making the identity key and the default name, so that two sessions in one process agree on them.
std::mutex& identityMutex() {
    static std::mutex mutex;
    return mutex;
}

bool isControl(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
    // Format characters that reorder or hide text.
    if (c == 0x00AD || c == 0x061C || c == 0x180E || c == 0xFEFF) return true;
    if ((c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F)) return true;
    if (c >= 0xFFF9 && c <= 0xFFFB) return true;
    return false;
}

bool isSpace(char32_t c) {
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes UTF-8, skipping malformed sequences, overlong forms and surrogates.
std::vector<char32_t> decodeUtf8(std::string_view s) {
    std::vector<char32_t> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        char32_t c = 0;
        if (b0 < 0x80) {
            len = 1;
            c = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            len = 2;
            c = b0 & 0x1F;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3;
            c = b0 & 0x0F;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4;
            c = b0 & 0x07;
        } else {
            ++i;
            continue;
        }
        if (i + len > s.size()) break;
        bool ok = true;
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (b & 0x3F);
        }
        if (!ok) {
            ++i;
            continue;
        }
        static constexpr char32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < minimum[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            i += len;
            continue;
        }
        out.push_back(c);
        i += len;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

DeviceIdentity::DeviceIdentity() : DeviceIdentity(std::make_shared<Keychain>(Keychain::defaultFolder())) {}

DeviceIdentity::DeviceIdentity(std::shared_ptr<Keychain> keychain) : keychain_(std::move(keychain)) {}

crypto::X25519PrivateKey DeviceIdentity::identityKey() const {
    std::lock_guard guard(identityMutex());
    if (auto raw = keychain_->read(identityKeyItem)) {
        if (auto key = crypto::X25519PrivateKey::fromRaw(*raw)) return *key;
    }
    crypto::X25519PrivateKey key;
    if (!keychain_->write(identityKeyItem, key.rawRepresentation())) {
        throw StorageError("cannot store the identity key in " + keychain_->folder().string());
    }
    return key;
}

std::string DeviceIdentity::deviceName() const {
    std::lock_guard guard(identityMutex());
    if (auto stored = keychain_->read(deviceNameItem)) {
        if (!stored->empty()) return std::string(stored->begin(), stored->end());
    }
    std::string name = defaultDeviceName();
    keychain_->write(deviceNameItem, Bytes(name.begin(), name.end()));
    return name;
}

std::string DeviceIdentity::defaultDeviceName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        auto cleaned = cleanName(host);
        if (!cleaned.empty()) return cleaned;
    }
    const auto random = crypto::randomBytes(2);
    char text[16];
    std::snprintf(text, sizeof text, "Computer-%02X%02X", random[0], random[1]);
    return text;
}

bool DeviceIdentity::setDeviceName(std::string_view name) {
    auto cleaned = cleanName(name);
    if (cleaned.empty()) return false;
    std::lock_guard guard(identityMutex());
    return keychain_->write(deviceNameItem, Bytes(cleaned.begin(), cleaned.end()));
}

std::string DeviceIdentity::keyFingerprint(const Bytes& key) {
    const auto digest = crypto::sha256(key);
    char text[9];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X", digest[0], digest[1], digest[2], digest[3]);
    return text;
}

std::string DeviceIdentity::cleanName(std::string_view name) {
    auto chars = decodeUtf8(name);
    std::erase_if(chars, isControl);
    // Line breaks are control characters and already gone; trim the remaining white space.
    auto first = std::find_if_not(chars.begin(), chars.end(), isSpace);
    auto last = std::find_if_not(chars.rbegin(), chars.rend(), isSpace).base();
    // A longer name says it was cut: its first 39 characters, then "…".
    const bool cut = last - first > static_cast<std::ptrdiff_t>(maxNameLength);
    if (cut) {
        last = first + static_cast<std::ptrdiff_t>(maxNameLength - 1);
        while (last > first && isSpace(*(last - 1))) --last;
    }
    std::string out;
    for (auto it = first; it < last; ++it) appendUtf8(out, *it);
    if (cut) out += "\u2026";
    return out;
}

std::optional<Bytes> DeviceIdentity::linkKey(const crypto::X25519PrivateKey& own, const Bytes& peerPublicKey) {
    auto shared = own.sharedSecret(peerPublicKey);
    if (!shared) return std::nullopt;
    const auto ownPublic = own.publicKey();
    static constexpr std::string_view label = "morvane link key v1";
    // Both sides list the two public keys in the same (byte) order.
    bool ownFirst = ownPublic.size() < peerPublicKey.size();
    if (ownPublic.size() == peerPublicKey.size()) {
        for (std::size_t i = 0; i < ownPublic.size(); ++i) {
            if (ownPublic[i] != peerPublicKey[i]) {
                ownFirst = ownPublic[i] < peerPublicKey[i];
                break;
            }
        }
    }
    const Bytes& a = ownFirst ? ownPublic : peerPublicKey;
    const Bytes& b = ownFirst ? peerPublicKey : ownPublic;
    Bytes info(label.size() + a.size() + b.size());
    auto out = std::copy(label.begin(), label.end(), info.begin());
    out = std::copy(a.begin(), a.end(), out);
    std::copy(b.begin(), b.end(), out);
    return crypto::hkdfSha256(*shared, Bytes{}, info, 32);
}

}  // namespace morvane
