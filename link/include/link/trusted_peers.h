#pragma once

#include "platform/base64.h"
#include "platform/date.h"
#include "platform/keychain.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// A paired device, as remembered in the keychain item "trusted-peers".
struct TrustedPeer {
    static constexpr std::uint8_t cameraRole = 1;
    static constexpr std::uint8_t remoteRole = 2;

    Bytes publicKey;   ///< the device's X25519 identity public key; identifies the entry
    std::string name;  ///< the device's name when it paired
    std::uint8_t role = cameraRole;
    Date pairedAt;

    friend bool operator==(const TrustedPeer&, const TrustedPeer&) = default;
};

/// The list of paired devices in one keychain: a JSON array of `TrustedPeer` records keyed by their field names
/// (`publicKey` Base64, `name`, `role`, `pairedAt` seconds since 2001-01-01).
///
/// Every reader and writer holds `TrustedPeers::lock()` while it reads or writes the item; the members below take
/// it themselves (it is recursive, so a caller may hold it around several of them).
class TrustedPeers {
public:
    static constexpr const char* itemName = "trusted-peers";

    /// The application's own keychain.
    TrustedPeers();
    explicit TrustedPeers(std::shared_ptr<Keychain> keychain);

    /// The one lock of the item, made once for the process.
    static std::recursive_mutex& lock();

    /// The stored list; a missing or undecodable item counts as empty, and undecodable entries are skipped.
    std::vector<TrustedPeer> load() const;
    /// Writes the whole list; false when it could not be stored.
    bool store(const std::vector<TrustedPeer>& peers);

    /// The entry with this key, whatever its role.
    std::optional<TrustedPeer> find(const Bytes& publicKey) const;
    /// Adds the peer, replacing any entry with the same key.
    bool add(const TrustedPeer& peer);
    /// Drops every entry with this key, whatever its role, and stores the list.
    bool remove(const Bytes& publicKey);

    static std::string encode(const std::vector<TrustedPeer>& peers);
    static std::vector<TrustedPeer> decode(const Bytes& json);

    const std::shared_ptr<Keychain>& keychain() const { return keychain_; }

private:
    std::shared_ptr<Keychain> keychain_;
};

}  // namespace morvane
