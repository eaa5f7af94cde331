#pragma once

#include "platform/base64.h"
#include "platform/crypto.h"
#include "platform/keychain.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace morvane {

/// This device's identity in one keychain: the X25519 identity key (item "identity-key", 32 raw bytes, made on
/// first use) and the device name (item "device-name", UTF-8).
class DeviceIdentity {
public:
    static constexpr const char* identityKeyItem = "identity-key";
    static constexpr const char* deviceNameItem = "device-name";
    static constexpr std::size_t maxNameLength = 40;

    /// The application's own keychain.
    DeviceIdentity();
    explicit DeviceIdentity(std::shared_ptr<Keychain> keychain);

    /// Thrown when a new identity key cannot be stored.
    struct StorageError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    /// The identity key; made and stored on first use (a stored item of the wrong size is replaced). Throws
    /// `StorageError` when a new key cannot be stored: a key nobody keeps would be a new identity at every start.
    crypto::X25519PrivateKey identityKey() const;
    Bytes publicKey() const { return identityKey().publicKey(); }

    /// The stored device name; when none is stored, or it is empty, stores `defaultDeviceName()` and returns it.
    std::string deviceName() const;
    /// The machine's host name, cleaned; "Computer-" and four upper-case hexadecimal digits of a random 16-bit
    /// number when it has none.
    static std::string defaultDeviceName();
    /// Stores `cleanName(name)` unless that is empty; false when nothing was stored.
    bool setDeviceName(std::string_view name);

    /// The first 4 bytes of the key's SHA-256 digest as 8 upper-case hexadecimal digits.
    static std::string keyFingerprint(const Bytes& key);

    /// A name fit to show or store: control characters (and invalid UTF-8) removed, white space and line breaks
    /// trimmed from both ends, at most 40 characters: a longer name is cut and ends with "…".
    static std::string cleanName(std::string_view name);

    /// The link key K shared by two devices: HKDF-SHA256 over X25519(own key, peer's key), with both public keys
    /// (lower one first, byte-wise) in the info. None for a bad peer key.
    static std::optional<Bytes> linkKey(const crypto::X25519PrivateKey& own, const Bytes& peerPublicKey);

    const std::shared_ptr<Keychain>& keychain() const { return keychain_; }

private:
    std::shared_ptr<Keychain> keychain_;
};

}  // namespace morvane
