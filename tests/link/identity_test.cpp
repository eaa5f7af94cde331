#include "link_test_support.h"

#include "link/device_identity.h"
#include "link/trusted_peers.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace morvane::test {
namespace {

// The machine's host name, or "Computer-" and four upper-case hexadecimal digits where it has none.
bool isDefaultName(const std::string& name) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0]) return name == DeviceIdentity::cleanName(host);
    if (name.size() != 13 || name.rfind("Computer-", 0) != 0) return false;
    return std::all_of(name.begin() + 9, name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

class IdentityTest : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<Keychain> keychain = std::make_shared<Keychain>(dir / "keychain");
};

TEST_F(IdentityTest, IdentityKeyIsMadeOnceAndKept) {
    EXPECT_FALSE(keychain->read("identity-key"));
    DeviceIdentity identity(keychain);
    const auto first = identity.publicKey();
    ASSERT_EQ(first.size(), 32u);
    ASSERT_TRUE(keychain->read("identity-key"));
    EXPECT_EQ(keychain->read("identity-key")->size(), 32u);
    EXPECT_EQ(DeviceIdentity(std::make_shared<Keychain>(dir / "keychain")).publicKey(), first);

    // A damaged item is replaced by a fresh key rather than used.
    keychain->write("identity-key", Bytes{1, 2, 3});
    const auto replaced = identity.publicKey();
    EXPECT_NE(replaced, first);
    EXPECT_EQ(identity.publicKey(), replaced);

    // Sessions starting together in one process agree on one key.
    TempDir other;
    auto shared = std::make_shared<Keychain>(other / "keychain");
    std::vector<Bytes> keys(8);
    std::vector<std::thread> threads;
    for (auto& key : keys) threads.emplace_back([&] { key = DeviceIdentity(shared).publicKey(); });
    for (auto& t : threads) t.join();
    for (const auto& key : keys) EXPECT_EQ(key, keys[0]);
}

TEST_F(IdentityTest, DeviceNameDefaultsAndIsCleanedWhenSet) {
    DeviceIdentity identity(keychain);
    const auto made = identity.deviceName();
    EXPECT_TRUE(isDefaultName(made)) << made;
    EXPECT_EQ(identity.deviceName(), made);
    // An empty stored name counts as none.
    keychain->write("device-name", Bytes{});
    EXPECT_TRUE(isDefaultName(identity.deviceName()));

    EXPECT_TRUE(identity.setDeviceName("  \tStudio\x01 Cam\u200B\n "));
    EXPECT_EQ(identity.deviceName(), "Studio Cam");
    const auto stored = keychain->read("device-name");
    EXPECT_EQ(std::string(stored->begin(), stored->end()), "Studio Cam");

    // Only white space and control characters: nothing stored.
    EXPECT_FALSE(identity.setDeviceName(" \n\x7F\t "));
    EXPECT_EQ(identity.deviceName(), "Studio Cam");

    // Forty characters, counted as characters, not bytes; a cut name says so with "…".
    std::string longName;
    for (int i = 0; i < 45; ++i) longName += "é";
    EXPECT_TRUE(identity.setDeviceName(longName));
    std::string cut;
    for (int i = 0; i < 39; ++i) cut += "é";
    EXPECT_EQ(identity.deviceName(), cut + "…");
    EXPECT_EQ(DeviceIdentity::cleanName(longName.substr(0, 80)), longName.substr(0, 80)) << "forty stay whole";
    EXPECT_EQ(DeviceIdentity::cleanName(std::string(38, 'A') + "  B and more"), std::string(38, 'A') + "…");
}

TEST(DeviceIdentityNames, CleanNameDropsControlsAndBrokenText) {
    EXPECT_EQ(DeviceIdentity::cleanName("Cam\x1B[31m A"), "Cam[31m A");
    EXPECT_EQ(DeviceIdentity::cleanName("\xC3"), "");  // truncated sequence
    EXPECT_EQ(DeviceIdentity::cleanName("A\xC0\xAF"
                                        "B"),
              "AB");  // overlong form
    EXPECT_EQ(DeviceIdentity::cleanName("A\xED\xA0\x80"
                                        "B"),
              "AB");                                             // surrogate
    EXPECT_EQ(DeviceIdentity::cleanName("\u202EtxeT"), "txeT");  // direction override
    EXPECT_EQ(DeviceIdentity::cleanName("\u00A0 Cam \u3000"), "Cam");
    EXPECT_EQ(DeviceIdentity::cleanName(std::string("A\0B", 3)), "AB");
    EXPECT_EQ(DeviceIdentity::cleanName("Kamera 📷"), "Kamera 📷");
    // Hostile bytes never crash and always give valid text of at most 40 characters.
    for (std::uint32_t seed = 0; seed < 300; ++seed) {
        auto bytes = randomBytes(seed % 200, seed);
        auto cleaned = DeviceIdentity::cleanName(std::string(bytes.begin(), bytes.end()));
        std::size_t characters = 0;
        for (unsigned char c : cleaned) {
            EXPECT_FALSE(c < 0x20 || c == 0x7F);
            characters += (c & 0xC0) != 0x80 ? 1 : 0;
        }
        EXPECT_LE(characters, 40u);
        // Already clean text only loses what the 40-character cut left at its end.
        auto again = DeviceIdentity::cleanName(cleaned);
        EXPECT_EQ(again, cleaned.substr(0, again.size()));
    }
}

TEST(DeviceIdentityKeys, FingerprintAndLinkKey) {
    const std::string abc = "abc";
    EXPECT_EQ(DeviceIdentity::keyFingerprint(Bytes(abc.begin(), abc.end())), "BA7816BF");
    EXPECT_EQ(DeviceIdentity::keyFingerprint(Bytes{}), "E3B0C442");

    crypto::X25519PrivateKey a, b, c;
    const auto ab = DeviceIdentity::linkKey(a, b.publicKey());
    const auto ba = DeviceIdentity::linkKey(b, a.publicKey());
    const auto ac = DeviceIdentity::linkKey(a, c.publicKey());
    ASSERT_TRUE(ab && ba && ac);
    EXPECT_EQ(ab->size(), 32u);
    EXPECT_EQ(*ab, *ba);
    EXPECT_NE(*ab, *ac);
    // It is not the raw shared secret.
    EXPECT_NE(*ab, *a.sharedSecret(b.publicKey()));
    EXPECT_FALSE(DeviceIdentity::linkKey(a, Bytes(31, 1)));
    EXPECT_FALSE(DeviceIdentity::linkKey(a, Bytes(32, 0)));  // low-order point
}

TEST_F(IdentityTest, TrustedPeersStoreAsJsonAndReplaceByKey) {
    TrustedPeers trusted(keychain);
    EXPECT_TRUE(trusted.load().empty());
    const TrustedPeer cam{Bytes(32, 1), "Cam", TrustedPeer::cameraRole, Date{700000000.5}};
    const TrustedPeer desk{Bytes(32, 2), "Desk", TrustedPeer::remoteRole, Date{700000001}};
    ASSERT_TRUE(trusted.add(cam));
    ASSERT_TRUE(trusted.add(desk));
    EXPECT_EQ(trusted.load(), (std::vector<TrustedPeer>{cam, desk}));
    EXPECT_EQ(trusted.find(Bytes(32, 2)), desk);
    EXPECT_FALSE(trusted.find(Bytes(32, 3)));

    // The stored record is the JSON array other readers rely on.
    const auto raw = keychain->read("trusted-peers");
    ASSERT_TRUE(raw);
    auto json = std::string(raw->begin(), raw->end());
    EXPECT_NE(json.find("\"publicKey\":\"" + base64Encode(Bytes(32, 1)) + "\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"pairedAt\":700000000.5"), std::string::npos) << json;
    EXPECT_NE(json.find("\"role\":1"), std::string::npos);

    // Pairing again replaces the entry with the same key.
    TrustedPeer renamed = cam;
    renamed.name = "Cam 2";
    ASSERT_TRUE(trusted.add(renamed));
    EXPECT_EQ(trusted.load(), (std::vector<TrustedPeer>{desk, renamed}));

    // Removal drops every entry with the key, whatever its role.
    TrustedPeer sameKeyOtherRole = desk;
    sameKeyOtherRole.role = TrustedPeer::cameraRole;
    auto list = trusted.load();
    list.push_back(sameKeyOtherRole);
    ASSERT_TRUE(trusted.store(list));
    ASSERT_TRUE(trusted.remove(desk.publicKey));
    EXPECT_EQ(trusted.load(), (std::vector<TrustedPeer>{renamed}));
}

TEST_F(IdentityTest, DamagedTrustListsReadAsEmptyOrSkipBadEntries) {
    TrustedPeers trusted(keychain);
    auto put = [&](const std::string& text) { keychain->write("trusted-peers", Bytes(text.begin(), text.end())); };
    put("not json");
    EXPECT_TRUE(trusted.load().empty());
    put("{\"publicKey\":\"AQ==\"}");
    EXPECT_TRUE(trusted.load().empty());
    put(R"([{"publicKey":"AQ==","name":"ok","role":1,"pairedAt":1},
            {"publicKey":"%%%","name":"bad key","role":1,"pairedAt":1},
            {"publicKey":"AQ==","name":"bad role","role":300,"pairedAt":1},
            {"publicKey":"AQ==","name":"no date","role":1},
            7])");
    auto list = trusted.load();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "ok");
    // Removing from a damaged list leaves a clean one.
    put("garbage");
    EXPECT_TRUE(trusted.remove(Bytes{1}));
    EXPECT_TRUE(trusted.load().empty());
}

TEST_F(IdentityTest, ConcurrentWritersLoseNoEntry) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            TrustedPeers trusted(keychain);
            for (int i = 0; i < 10; ++i) {
                trusted.add(TrustedPeer{Bytes(32, static_cast<std::uint8_t>(t * 10 + i)), "p", 1, Date{}});
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(TrustedPeers(keychain).load().size(), 80u);
}

// An identity key that cannot be stored is an error, never a fresh identity at every start.
TEST_F(IdentityTest, IdentityKeyThatCannotBeStoredIsAnError) {
    // A folder where the key's file belongs: the key can be neither read nor written.
    std::filesystem::create_directories(keychain->folder() / DeviceIdentity::identityKeyItem / "in-the-way");
    EXPECT_THROW(DeviceIdentity(keychain).identityKey(), DeviceIdentity::StorageError);
    EXPECT_THROW(DeviceIdentity(keychain).publicKey(), DeviceIdentity::StorageError);

    // A session with such a keychain says so and does not start.
    auto main = std::make_shared<DispatchQueue>("test.main");
    PeerSession::Options options;
    options.keychain = keychain;
    options.mainExecutor = main;
    options.interfaces = {"127.0.0.1"};
    const auto discovery = Discovery::unique();
    options.multicastGroup = discovery.group;
    options.multicastPort = discovery.port;
    options.temporaryFolder = dir / "incoming";
    auto session = PeerSession::create(PeerSession::Role::camera, true, 4, "morvane", options);
    std::mutex mutex;
    std::vector<std::string> issues;
    session->onIssue = [&](const std::string& text) {
        std::lock_guard lock(mutex);
        issues.push_back(text);
    };
    main->sync([&] { session->start(); });
    EXPECT_FALSE(session->isRunning());
    main->sync([] {});
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(issues, std::vector<std::string>{"Couldn't store this device's identity key"});
    }
    session->onIssue = nullptr;
    session.reset();
    main.reset();
}

}  // namespace
}  // namespace morvane::test
