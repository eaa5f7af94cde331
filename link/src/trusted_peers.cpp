#include "link/trusted_peers.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace morvane {

TrustedPeers::TrustedPeers() : TrustedPeers(std::make_shared<Keychain>(Keychain::defaultFolder())) {}

TrustedPeers::TrustedPeers(std::shared_ptr<Keychain> keychain) : keychain_(std::move(keychain)) {}

std::recursive_mutex& TrustedPeers::lock() {
    static std::recursive_mutex mutex;
    return mutex;
}

std::string TrustedPeers::encode(const std::vector<TrustedPeer>& peers) {
    auto list = nlohmann::json::array();
    for (const auto& peer : peers) {
        list.push_back({{"publicKey", base64Encode(peer.publicKey)},
                        {"name", peer.name},
                        {"role", peer.role},
                        {"pairedAt", peer.pairedAt.secondsSinceReferenceDate}});
    }
    return list.dump();
}

std::vector<TrustedPeer> TrustedPeers::decode(const Bytes& json) {
    std::vector<TrustedPeer> peers;
    auto list = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
    if (!list.is_array()) return peers;
    for (const auto& item : list) {
        if (!item.is_object()) continue;
        auto key = item.find("publicKey");
        auto name = item.find("name");
        auto role = item.find("role");
        auto pairedAt = item.find("pairedAt");
        if (key == item.end() || !key->is_string() || name == item.end() || !name->is_string() || role == item.end() ||
            !role->is_number_unsigned() || pairedAt == item.end() || !pairedAt->is_number()) {
            continue;
        }
        auto keyBytes = base64Decode(key->get<std::string>());
        const auto roleValue = role->get<std::uint64_t>();
        if (!keyBytes || keyBytes->empty() || roleValue > 255) continue;
        peers.push_back(TrustedPeer{std::move(*keyBytes), name->get<std::string>(),
                                    static_cast<std::uint8_t>(roleValue), Date{pairedAt->get<double>()}});
    }
    return peers;
}

std::vector<TrustedPeer> TrustedPeers::load() const {
    std::lock_guard guard(lock());
    auto data = keychain_->read(itemName);
    if (!data) return {};
    return decode(*data);
}

bool TrustedPeers::store(const std::vector<TrustedPeer>& peers) {
    std::lock_guard guard(lock());
    auto text = encode(peers);
    return keychain_->write(itemName, Bytes(text.begin(), text.end()));
}

std::optional<TrustedPeer> TrustedPeers::find(const Bytes& publicKey) const {
    std::lock_guard guard(lock());
    for (auto& peer : load()) {
        if (peer.publicKey == publicKey) return peer;
    }
    return std::nullopt;
}

bool TrustedPeers::add(const TrustedPeer& peer) {
    std::lock_guard guard(lock());
    auto peers = load();
    std::erase_if(peers, [&](const TrustedPeer& p) { return p.publicKey == peer.publicKey; });
    peers.push_back(peer);
    return store(peers);
}

bool TrustedPeers::remove(const Bytes& publicKey) {
    std::lock_guard guard(lock());
    auto peers = load();
    std::erase_if(peers, [&](const TrustedPeer& p) { return p.publicKey == publicKey; });
    return store(peers);
}

}  // namespace morvane
