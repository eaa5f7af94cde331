#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

using namespace morvane;
using namespace morvane::crypto;

namespace {

Bytes hex(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

std::string toHex(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}
std::string toHex(const Bytes& b) {
    return toHex(b.data(), b.size());
}
std::string toHex(const Digest& d) {
    return toHex(d.data(), d.size());
}

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes range(int from, int to) {
    Bytes out;
    for (int i = from; i < to; ++i) out.push_back(static_cast<std::uint8_t>(i));
    return out;
}

Bytes x25519(const Bytes& scalar, const Bytes& u) {
    auto key = X25519PrivateKey::fromRaw(scalar);
    EXPECT_TRUE(key);
    auto out = key->sharedSecret(u);
    EXPECT_TRUE(out);
    return out.value_or(Bytes{});
}

}  // namespace

TEST(X25519, MatchesTheSingleStepVectors) {
    EXPECT_EQ(toHex(x25519(hex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4"),
                           hex("e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c"))),
              "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552");
    // The high bit of this u-coordinate is set and must be ignored.
    EXPECT_EQ(toHex(x25519(hex("4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d"),
                           hex("e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493"))),
              "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957");
}

TEST(X25519, MatchesTheIteratedVectors) {
    Bytes k = hex("0900000000000000000000000000000000000000000000000000000000000000");
    Bytes u = k;
    for (int i = 1; i <= 1000; ++i) {
        Bytes next = x25519(k, u);
        u = k;
        k = next;
        if (i == 1) {
            EXPECT_EQ(toHex(k), "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079");
        }
    }
    EXPECT_EQ(toHex(k), "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51");
}

TEST(X25519, AgreesOnTheDiffieHellmanExample) {
    auto alice = X25519PrivateKey::fromRaw(hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
    auto bob = X25519PrivateKey::fromRaw(hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb"));
    ASSERT_TRUE(alice && bob);
    EXPECT_EQ(toHex(alice->publicKey()), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(toHex(bob->publicKey()), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const std::string shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
    EXPECT_EQ(toHex(alice->sharedSecret(bob->publicKey()).value()), shared);
    EXPECT_EQ(toHex(bob->sharedSecret(alice->publicKey()).value()), shared);
    // The raw form is kept as given, so a stored key comes back unchanged.
    EXPECT_EQ(toHex(alice->rawRepresentation()), "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
}

TEST(X25519, FreshKeysAreDistinctAndAgree) {
    X25519PrivateKey a, b;
    EXPECT_EQ(a.rawRepresentation().size(), 32u);
    EXPECT_NE(a.rawRepresentation(), b.rawRepresentation());
    EXPECT_NE(a.publicKey(), b.publicKey());
    auto ab = a.sharedSecret(b.publicKey());
    auto ba = b.sharedSecret(a.publicKey());
    ASSERT_TRUE(ab && ba);
    EXPECT_EQ(*ab, *ba);
    auto restored = X25519PrivateKey::fromRaw(a.rawRepresentation());
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->publicKey(), a.publicKey());
}

TEST(X25519, RejectsBadKeysAndLowOrderPoints) {
    EXPECT_FALSE(X25519PrivateKey::fromRaw(Bytes(31, 1)));
    EXPECT_FALSE(X25519PrivateKey::fromRaw(Bytes(33, 1)));
    EXPECT_FALSE(X25519PrivateKey::fromRaw(Bytes{}));

    X25519PrivateKey key;
    EXPECT_FALSE(key.sharedSecret(Bytes{}));
    EXPECT_FALSE(key.sharedSecret(Bytes(31, 9)));
    EXPECT_FALSE(key.sharedSecret(Bytes(33, 9)));
    // Points of small order (and their non-canonical encodings) give an all-zero result, which
    // would be a secret known to anyone.
    for (const char* point : {
             "0000000000000000000000000000000000000000000000000000000000000000",
             "0100000000000000000000000000000000000000000000000000000000000000",
             "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",
             "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",
             "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
             "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
             "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
         }) {
        EXPECT_FALSE(key.sharedSecret(hex(point))) << point;
    }
}

TEST(Sha256, MatchesKnownDigests) {
    EXPECT_EQ(toHex(sha256(std::string_view("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(toHex(sha256(std::string_view(""))), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(toHex(sha256(Bytes{})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(toHex(sha256(std::string_view("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Sha256, IncrementalMatchesOneShotAndStartsOverAfterFinish) {
    // One million "a", fed in uneven pieces.
    const Bytes piece(997, 'a');
    Sha256 hasher;
    std::size_t fed = 0;
    while (fed < 1000000) {
        const std::size_t n = std::min<std::size_t>(piece.size(), 1000000 - fed);
        hasher.update(piece.data(), n);
        hasher.update(piece.data(), 0);
        fed += n;
    }
    EXPECT_EQ(toHex(hasher.finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    hasher.update(text("ab"));
    hasher.update(text("c"));
    EXPECT_EQ(toHex(hasher.finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(toHex(hasher.finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(HmacSha256, MatchesPublishedCases) {
    struct Case {
        Bytes key;
        Bytes data;
        const char* mac;
    };
    const Case cases[] = {
        {Bytes(20, 0x0b), text("Hi There"), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {text("Jefe"), text("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {Bytes(20, 0xaa), Bytes(50, 0xdd), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {range(1, 26), Bytes(50, 0xcd), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {Bytes(131, 0xaa), text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {Bytes(131, 0xaa),
         text("This is a test using a larger than block-size key and a larger than block-size data. The key needs "
              "to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& c : cases) EXPECT_EQ(toHex(hmacSha256(c.key, c.data)), c.mac);
    // The truncated case compares the first 128 bits.
    EXPECT_EQ(toHex(hmacSha256(Bytes(20, 0x0c), text("Test With Truncation"))).substr(0, 32),
              "a3b6167473100ee06e0c796c2955552b");
    // An empty key is a valid key, not a missing one.
    EXPECT_EQ(toHex(hmacSha256(Bytes{}, Bytes{})), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

TEST(HkdfSha256, MatchesPublishedCases) {
    EXPECT_EQ(toHex(hkdfSha256(Bytes(22, 0x0b), range(0, 13), range(0xf0, 0xfa), 42)),
              "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
    EXPECT_EQ(toHex(hkdfSha256(range(0, 0x50), range(0x60, 0xb0), range(0xb0, 0x100), 82)),
              "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da32"
              "75600c2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87");
    EXPECT_EQ(toHex(hkdfSha256(Bytes(22, 0x0b), Bytes{}, Bytes{}, 42)),
              "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8");
}

TEST(HkdfSha256, AgreesWithExtractAndExpandBuiltFromHmac) {
    // Lengths around block boundaries up to the maximum, and an empty input key.
    const Bytes salt = text("salt");
    const Bytes info = text("link key");
    for (const Bytes& ikm : {Bytes{}, text("input key material")}) {
        const Digest prk = hmacSha256(salt, ikm);
        const Bytes prkBytes(prk.begin(), prk.end());
        Bytes expected;
        Bytes block;
        for (int i = 1; expected.size() < 255 * 32; ++i) {
            Bytes input = block;
            input.insert(input.end(), info.begin(), info.end());
            input.push_back(static_cast<std::uint8_t>(i));
            const Digest t = hmacSha256(prkBytes, input);
            block.assign(t.begin(), t.end());
            expected.insert(expected.end(), block.begin(), block.end());
        }
        for (std::size_t length : {1u, 31u, 32u, 33u, 64u, 100u, 255u * 32u}) {
            const Bytes out = hkdfSha256(ikm, salt, info, length);
            ASSERT_EQ(out.size(), length);
            EXPECT_TRUE(std::equal(out.begin(), out.end(), expected.begin())) << length;
        }
    }
    EXPECT_TRUE(hkdfSha256(text("k"), salt, info, 0).empty());
    EXPECT_THROW(hkdfSha256(text("k"), salt, info, 255 * 32 + 1), std::invalid_argument);
}

TEST(Random, GivesRequestedLengthAndDistinctOutput) {
    EXPECT_TRUE(randomBytes(0).empty());
    std::set<Bytes> seen;
    for (int i = 0; i < 64; ++i) seen.insert(randomBytes(16));
    EXPECT_EQ(seen.size(), 64u);
    // Every byte value turns up in a large sample; a stuck or short generator would not manage that.
    const Bytes big = randomBytes(3 << 20);
    ASSERT_EQ(big.size(), 3u << 20);
    std::set<std::uint8_t> values(big.begin(), big.end());
    EXPECT_EQ(values.size(), 256u);
    // The tail (beyond the first chunk) is filled too.
    std::set<std::uint8_t> tail(big.end() - 4096, big.end());
    EXPECT_GT(tail.size(), 200u);
}

TEST(ConstantTimeEqual, ComparesWholeRange) {
    const Bytes a = text("0123456789abcdef");
    Bytes b = a;
    EXPECT_TRUE(constantTimeEqual(a.data(), b.data(), a.size()));
    EXPECT_TRUE(constantTimeEqual(a.data(), b.data(), 0));
    b.back() ^= 1;
    EXPECT_FALSE(constantTimeEqual(a.data(), b.data(), a.size()));
    EXPECT_TRUE(constantTimeEqual(a.data(), b.data(), a.size() - 1));
    b = a;
    b.front() ^= 0x80;
    EXPECT_FALSE(constantTimeEqual(a.data(), b.data(), a.size()));
}
