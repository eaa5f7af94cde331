#include "platform/base64.h"
#include "platform/date.h"
#include "platform/uuid.h"

#include <gtest/gtest.h>

#include <set>

using namespace morvane;

TEST(Base64, RoundTripsEveryLengthAndMatchesKnownText) {
    // RFC 4648 test vectors.
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        Bytes bytes(plain.begin(), plain.end());
        EXPECT_EQ(base64Encode(bytes), encoded);
        auto back = base64Decode(encoded);
        ASSERT_TRUE(back.has_value()) << encoded;
        EXPECT_EQ(*back, bytes);
    }
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(base64Decode(base64Encode(all)), all);
}

TEST(Base64, RejectsMalformedText) {
    for (const char* bad : {"Zg=", "Zg", "Z===", "Zm9v!", "=Zm9", "Zg==Zm9v", "Zm=v", "Zm9v\n"}) {
        EXPECT_FALSE(base64Decode(bad).has_value()) << bad;
    }
}

TEST(Uuid, ParsesAndWritesUpperCase) {
    auto u = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(Uuid::parse(u->uuidString()), u);
    for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",
                            "E621E1F8-C36C-495A-93FC_0C247A3E6E5F", "../../../../../../../../../etc/passwd"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
}

TEST(Uuid, FreshIdentifiersAreVersionFourAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        Uuid u;
        const auto s = u.uuidString();
        EXPECT_EQ(s[14], '4');
        EXPECT_TRUE(s[19] == '8' || s[19] == '9' || s[19] == 'A' || s[19] == 'B');
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(Date, CountsFromTheReferenceDateAndKeepsFractions) {
    EXPECT_DOUBLE_EQ(Date::fromUnix(978307200.0).secondsSinceReferenceDate, 0.0);
    const Date d{123456.789};
    EXPECT_NEAR(Date::fromSystem(d.systemTime()).secondsSinceReferenceDate, 123456.789, 1e-6);
    EXPECT_GT(Date::now().secondsSinceReferenceDate, 8.0e8);  // after 2026
    EXPECT_DOUBLE_EQ(d.addingTimeInterval(1.5).timeIntervalSince(d), 1.5);
}
