#include "link_test_support.h"

#include "link/link_crypto.h"
#include "link/link_message.h"

#include <gtest/gtest.h>

#include <set>

namespace morvane::test {
namespace {

TEST(LinkMessageTest, RoundTrips) {
    LinkMessage::Hello hello{2, Uuid(), "Desk \"1\"", Bytes(32, 9)};
    EXPECT_EQ(LinkMessage::Hello::decode(hello.encode()), hello);
    LinkMessage::FileStart start{7, 1ull << 40, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"};
    EXPECT_EQ(LinkMessage::FileStart::decode(start.encode()), start);
    LinkMessage::FileEnd end{0xFFFFFFFF, crypto::sha256(std::string_view("x"))};
    EXPECT_EQ(LinkMessage::FileEnd::decode(end.encode()), end);
    LinkMessage::FileResult result{3, LinkMessage::FileStatus::corrupt};
    EXPECT_EQ(LinkMessage::FileResult::decode(result.encode()), result);
    EXPECT_EQ(LinkMessage::decodeId(LinkMessage::encodeId(0x01020304)), 0x01020304u);
    Bytes chunk = LinkMessage::encodeChunkHeader(5);
    chunk.push_back(1);
    EXPECT_EQ(LinkMessage::decodeChunkId(chunk), 5u);
}

TEST(LinkMessageTest, LimitsDependOnReadiness) {
    using K = LinkMessage::Kind;
    auto limit = [](K k, bool ready) { return LinkMessage::maxBody(static_cast<std::uint8_t>(k), ready); };
    EXPECT_EQ(limit(K::data, true), 16'777'216u);
    EXPECT_EQ(limit(K::data, false), 0u);
    EXPECT_EQ(limit(K::fileChunk, true), 4u + 256 * 1024);
    EXPECT_EQ(limit(K::fileChunk, false), 0u);
    EXPECT_EQ(limit(K::hello, false), 2048u);
    EXPECT_EQ(limit(K::proof, false), 32u);
    EXPECT_EQ(LinkMessage::maxBody(0x77, true), 0u);
}

TEST(LinkMessageTest, HostileBodiesAreRejected) {
    LinkMessage::Hello hello{1, Uuid(), "Cam", Bytes(32, 1)};
    auto good = hello.encode();
    // Every truncation of a valid hello fails cleanly.
    for (std::size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(LinkMessage::Hello::decode(Bytes(good.begin(), good.begin() + n))) << n;
    }
    auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    EXPECT_FALSE(LinkMessage::Hello::decode(
        text(R"({"v":2,"role":1,"instance":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"a","key":"AQ=="})")));
    EXPECT_FALSE(LinkMessage::Hello::decode(
        text(R"({"v":1,"role":-1,"instance":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"a","key":"AQ=="})")));
    EXPECT_FALSE(LinkMessage::Hello::decode(text(R"({"v":1,"role":1,"instance":"nope","name":"a","key":"AQ=="})")));
    EXPECT_FALSE(LinkMessage::Hello::decode(
        text(R"({"v":1,"role":1,"instance":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":5,"key":"AQ=="})")));
    EXPECT_FALSE(LinkMessage::Hello::decode(text(
        R"({"v":1,"role":1,"instance":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"a","key":"AQ=="})")));  // short
                                                                                                             // key
    EXPECT_FALSE(LinkMessage::Hello::decode(Bytes(3000, '{')));
    EXPECT_FALSE(LinkMessage::Hello::decode(text("[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[")));

    auto start = LinkMessage::FileStart{1, 10, "name"}.encode();
    for (std::size_t n = 0; n < start.size(); ++n) {
        EXPECT_FALSE(LinkMessage::FileStart::decode(Bytes(start.begin(), start.begin() + n)));
    }
    Bytes longer = start;
    longer.push_back('x');
    EXPECT_FALSE(LinkMessage::FileStart::decode(longer));
    Bytes badUtf8 = LinkMessage::FileStart{1, 10, "ab"}.encode();
    badUtf8.back() = 0xFF;
    EXPECT_FALSE(LinkMessage::FileStart::decode(badUtf8));
    Bytes hugeName(14, 0);
    hugeName[12] = 0xFF;
    hugeName[13] = 0xFF;
    EXPECT_FALSE(LinkMessage::FileStart::decode(hugeName));
    EXPECT_FALSE(LinkMessage::FileResult::decode(Bytes{0, 0, 0, 1, 9}));
    EXPECT_FALSE(LinkMessage::FileEnd::decode(Bytes(35, 0)));
    EXPECT_FALSE(LinkMessage::decodeId(Bytes(5, 0)));
    EXPECT_FALSE(LinkMessage::decodeChunkId(Bytes(3, 0)));

    // Random bytes never crash any decoder.
    for (std::uint32_t seed = 0; seed < 2000; ++seed) {
        const auto body = randomBytes(seed % 64, seed);
        (void)LinkMessage::Hello::decode(body);
        (void)LinkMessage::FileStart::decode(body);
        (void)LinkMessage::FileEnd::decode(body);
        (void)LinkMessage::FileResult::decode(body);
    }
}

TEST(LinkCryptoTest, CodeIsSixDigitsAndBindsEverything) {
    const Bytes e1(32, 1), e2(32, 2), nI(32, 3), nR(32, 4), a(32, 5), b(32, 6);
    const auto code = LinkCrypto::pairingCode(e1, nI, nR, a, b);
    EXPECT_EQ(code.size(), 6u);
    EXPECT_TRUE(std::all_of(code.begin(), code.end(), ::isdigit));
    // Both sides list the keys in byte order, whichever is their own.
    EXPECT_EQ(LinkCrypto::pairingCode(e1, nI, nR, b, a), code);
    // A relay that terminates TLS sees another exporter value, so another code (with these inputs).
    EXPECT_NE(LinkCrypto::pairingCode(e2, nI, nR, a, b), code);
    EXPECT_NE(LinkCrypto::pairingCode(e1, nR, nI, a, b), code);
    // Codes spread over the whole range, leading zeros kept.
    std::set<std::string> codes;
    bool leadingZero = false;
    for (std::uint32_t i = 0; i < 400; ++i) {
        auto c = LinkCrypto::pairingCode(randomBytes(32, i), nI, nR, a, b);
        ASSERT_EQ(c.size(), 6u);
        leadingZero = leadingZero || c[0] == '0';
        codes.insert(c);
    }
    EXPECT_GT(codes.size(), 395u);
    EXPECT_TRUE(leadingZero);

    // Proofs and confirmations depend on role, session and code.
    const Bytes k(32, 7);
    EXPECT_NE(LinkCrypto::proof(k, 1, e1), LinkCrypto::proof(k, 2, e1));
    EXPECT_NE(LinkCrypto::proof(k, 1, e1), LinkCrypto::proof(k, 1, e2));
    EXPECT_NE(LinkCrypto::confirmation(k, 1, e1, "123456"), LinkCrypto::confirmation(k, 1, e1, "123457"));
    EXPECT_NE(LinkCrypto::confirmation(k, 1, e1, "123456"), LinkCrypto::proof(k, 1, e1));
    EXPECT_EQ(LinkCrypto::commitment(nI), crypto::sha256(nI));
}

}  // namespace
}  // namespace morvane::test
