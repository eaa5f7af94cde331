#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "protocol/live_packets.h"

namespace morvane {
namespace {

Bytes seq(std::uint8_t first, std::size_t count) {
    Bytes out(count);
    std::iota(out.begin(), out.end(), first);
    return out;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ClockPackets, PingAndPongLayouts) {
    Bytes ping = cat({10}, seq(1, 8));
    auto decoded = ClockPing::decode(ping);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->encode(), ping);
    EXPECT_FALSE(ClockPing::decode(Bytes{10, 1, 2, 3, 4, 5, 6, 7}));  // 8 bytes
    auto longer = ClockPing::decode(cat(ping, {0xAA, 0xBB}));         // extra bytes ignored
    ASSERT_TRUE(longer);
    EXPECT_EQ(longer->value, decoded->value);
    EXPECT_FALSE(ClockPing::decode(cat({11}, seq(1, 8))));

    auto pong = ClockPong::answering(*decoded, 1.5, 0.25);
    EXPECT_EQ(pong.nanoseconds, 1'750'000'000u);
    Bytes expected = cat(cat({11}, seq(1, 8)), {0, 0, 0, 0, 0x68, 0x4E, 0xE1, 0x80});
    EXPECT_EQ(pong.encode(), expected);
    EXPECT_EQ(pong.encode().size(), 17u);
    EXPECT_EQ(ClockPong::decode(expected), pong);
    EXPECT_FALSE(ClockPong::decode(cat(expected, {0})));
    expected.pop_back();
    EXPECT_FALSE(ClockPong::decode(expected));
}

TEST(ClockPackets, PongClockTruncatesAndWraps) {
    EXPECT_EQ(clockNanoseconds(1.0000000019, 0), 1'000'000'001u);
    EXPECT_EQ(clockNanoseconds(2.0, -0.5), 1'500'000'000u);
    EXPECT_EQ(clockNanoseconds(2.0, -0.0000000019), 1'999'999'999u);    // offset truncated toward zero
    EXPECT_EQ(clockNanoseconds(0.0, -1.0), UINT64_MAX - 999'999'999u);  // wraps below zero
    // Out-of-range inputs saturate instead of overflowing the conversions.
    EXPECT_EQ(clockNanoseconds(NAN, NAN), 0u);
    EXPECT_EQ(clockNanoseconds(-5.0, 0), 0u);
    EXPECT_EQ(clockNanoseconds(1e30, 0), UINT64_MAX);
    EXPECT_EQ(clockNanoseconds(0, 1e30), static_cast<std::uint64_t>(INT64_MAX));
    EXPECT_EQ(clockNanoseconds(0, -1e30), static_cast<std::uint64_t>(INT64_MIN));
    double now = 1.7e9;
    EXPECT_NEAR(static_cast<double>(clockNanoseconds(now, 0.001)), (now + 0.001) * 1e9, 1e3);
}

TEST(ReadingPackets, HistogramAudioLevelAndLoupeLengths) {
    Bytes histogram = cat({12}, seq(0, 64));
    auto h = HistogramPacket::decode(histogram);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->bins[0], 0);
    EXPECT_EQ(h->bins[63], 63);
    EXPECT_EQ(h->encode(), histogram);
    EXPECT_FALSE(HistogramPacket::decode(cat({12}, seq(0, 63))));
    EXPECT_FALSE(HistogramPacket::decode(cat({12}, seq(0, 65))));

    EXPECT_EQ(AudioLevelPacket::decode(Bytes{14, 200}), AudioLevelPacket{200});
    EXPECT_EQ((AudioLevelPacket{7}).encode(), (Bytes{14, 7}));
    EXPECT_FALSE(AudioLevelPacket::decode(Bytes{14}));
    EXPECT_FALSE(AudioLevelPacket::decode(Bytes{14, 1, 2}));

    EXPECT_EQ(LoupePacket::decode(Bytes{15, 0xFF, 0xD8}), (LoupePacket{Bytes{0xFF, 0xD8}}));
    EXPECT_EQ(LoupePacket::decode(Bytes{15}), LoupePacket{});
    EXPECT_EQ((LoupePacket{Bytes{1, 2}}).encode(), (Bytes{15, 1, 2}));
    EXPECT_FALSE(LoupePacket::decode(Bytes{}));
}

TEST(ReadingPackets, LevelRollInTenths) {
    EXPECT_EQ(LevelPacket::decode(Bytes{17, 0x7E, 0x00})->roll(), 12.6);
    EXPECT_EQ(LevelPacket::decode(Bytes{17, 0x2C, 0x01})->roll(), 30.0);
    EXPECT_EQ(LevelPacket::decode(Bytes{17, 0xD4, 0xFE})->roll(), -30.0);
    auto none = LevelPacket::decode(Bytes{17, 0x00, 0x80});
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->roll());
    EXPECT_EQ(LevelPacket::decode(Bytes{17, 0x01, 0x80})->roll(), -3276.7);
    EXPECT_FALSE(LevelPacket::decode(Bytes{17, 0x7E}));
    EXPECT_FALSE(LevelPacket::decode(Bytes{17, 0x7E, 0x00, 0x00}));

    EXPECT_EQ(LevelPacket::fromRoll(12.6).encode(), (Bytes{17, 0x7E, 0x00}));
    EXPECT_EQ(LevelPacket::fromRoll(-30.04).encode(), (Bytes{17, 0xD4, 0xFE}));
    EXPECT_EQ(LevelPacket::fromRoll(std::nullopt).encode(), (Bytes{17, 0x00, 0x80}));
    EXPECT_EQ(LevelPacket::fromRoll(NAN).encode(), (Bytes{17, 0x00, 0x80}));
    // A huge roll must not be mistaken for "no reading" nor overflow the 16 bits.
    EXPECT_EQ(LevelPacket::fromRoll(-1e9).tenths, -32767);
    EXPECT_EQ(LevelPacket::fromRoll(1e9).tenths, 32767);
    EXPECT_EQ(LevelPacket::fromRoll(INFINITY).tenths, 32767);
}

TEST(ScopePackets, LayoutAndLimits) {
    Bytes waveform{18, 1, 2, 1, 255, 0};
    auto scope = ScopePacket::decode(waveform);
    ASSERT_TRUE(scope);
    EXPECT_EQ(scope->kind, ScopeKind::waveform);
    EXPECT_EQ(scope->width, 2);
    EXPECT_EQ(scope->height, 1);
    EXPECT_EQ(scope->intensities, (Bytes{255, 0}));
    EXPECT_EQ(scope->encode(), waveform);
    EXPECT_EQ(scope->encodePayload(), (Bytes{1, 2, 1, 255, 0}));
    EXPECT_EQ(ScopePacket::decodePayload(Bytes{1, 2, 1, 255, 0}), scope);

    auto parade = ScopePacket::decode(Bytes{18, 2, 1, 3, 255, 255, 255});
    ASSERT_TRUE(parade);
    EXPECT_EQ(parade->kind, ScopeKind::parade);

    EXPECT_FALSE(ScopePacket::decode(Bytes{18, 1, 2, 1}));             // no intensities
    EXPECT_FALSE(ScopePacket::decode(Bytes{18, 1, 2, 1, 255}));        // one too few
    EXPECT_FALSE(ScopePacket::decode(Bytes{18, 1, 2, 1, 255, 0, 7}));  // one too many
    EXPECT_FALSE(ScopePacket::decode(Bytes{18, 0, 1, 1, 9}));          // off
    EXPECT_FALSE(ScopePacket::decode(Bytes{18, 3, 1, 1, 9}));          // no such kind
    EXPECT_FALSE(ScopePacket::decode(Bytes{18, 1, 0, 1}));             // no columns
    EXPECT_FALSE(ScopePacket::decode(Bytes{18, 1, 1, 0}));             // no rows
    EXPECT_FALSE(ScopePacket::decode(Bytes{18, 1}));
    EXPECT_FALSE(ScopePacket::decode(Bytes{18}));
    EXPECT_FALSE(ScopePacket::decode(Bytes{}));

    // The camera's own sizes: 96 × 48 waveform and 64 × 144 parade.
    ScopePacket big{ScopeKind::parade, 64, 144, Bytes(64 * 144, 9)};
    auto bigPacket = big.encode();
    ASSERT_TRUE(bigPacket);
    EXPECT_EQ(bigPacket->size(), 1u + 9219u);
    EXPECT_EQ(ScopePacket::decode(*bigPacket), big);
    ScopePacket largest{ScopeKind::waveform, 255, 255, Bytes(255 * 255, 1)};
    EXPECT_EQ(ScopePacket::decode(*largest.encode()), largest);

    EXPECT_FALSE((ScopePacket{ScopeKind::off, 1, 1, Bytes{1}}).encode());
    EXPECT_FALSE((ScopePacket{ScopeKind::waveform, 2, 2, Bytes{1, 2, 3}}).encode());
    EXPECT_FALSE((ScopePacket{ScopeKind::waveform, 0, 2, Bytes{}}).encode());
}

TEST(VideoPackets, ParameterSets) {
    ParameterSetsPacket sets{{Bytes{0x67, 0x42, 0x00, 0x1F}, Bytes{0x68, 0xCE}}};
    Bytes expected{1, 2, 0, 0, 0, 4, 0x67, 0x42, 0x00, 0x1F, 0, 0, 0, 2, 0x68, 0xCE};
    EXPECT_EQ(sets.encode(), expected);
    EXPECT_EQ(ParameterSetsPacket::decode(expected), sets);
    EXPECT_EQ(ParameterSetsPacket::decode(cat(expected, {9, 9, 9})), sets);  // trailing bytes ignored

    EXPECT_EQ((ParameterSetsPacket{}).encode(), (Bytes{1, 0}));
    auto none = ParameterSetsPacket::decode(Bytes{1, 0});
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->sets.empty());
    auto emptySet = ParameterSetsPacket::decode(Bytes{1, 1, 0, 0, 0, 0});
    ASSERT_TRUE(emptySet);
    EXPECT_EQ(emptySet->sets, std::vector<Bytes>{Bytes{}});

    EXPECT_FALSE(ParameterSetsPacket::decode(Bytes{1}));                       // empty body
    EXPECT_FALSE(ParameterSetsPacket::decode(Bytes{1, 1, 0, 0, 0}));           // truncated length
    EXPECT_FALSE(ParameterSetsPacket::decode(Bytes{1, 1, 0, 0, 0, 3, 1, 2}));  // set runs past the end
    EXPECT_FALSE(ParameterSetsPacket::decode(Bytes{1, 1, 0xFF, 0xFF, 0xFF, 0xFF, 1}));
    EXPECT_FALSE(ParameterSetsPacket::decode(Bytes{1, 2, 0, 0, 0, 1, 7}));  // second set missing
    EXPECT_FALSE(ParameterSetsPacket::decode(Bytes{2, 0}));

    ParameterSetsPacket tooMany{std::vector<Bytes>(256, Bytes{1})};
    EXPECT_FALSE(tooMany.encode());
    tooMany.sets.pop_back();
    auto most = tooMany.encode();
    ASSERT_TRUE(most);
    EXPECT_EQ((*most)[1], 255);
    EXPECT_EQ(ParameterSetsPacket::decode(*most), tooMany);
}

TEST(VideoPackets, FrameAckAndKeyframeRequest) {
    Bytes unit{0, 0, 0, 2, 0x65, 0x88};
    Bytes packet = FramePacket::encode(0xFFFFFFFE, true, 7, unit);
    EXPECT_EQ(packet, cat({2, 0xFF, 0xFF, 0xFF, 0xFE, 1, 3}, unit));
    auto frame = FramePacket::decode(packet);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->number, 0xFFFFFFFEu);
    EXPECT_TRUE(frame->keyframe);
    EXPECT_EQ(frame->rotation, 3);
    EXPECT_EQ(Bytes(frame->accessUnit.begin(), frame->accessUnit.end()), unit);
    EXPECT_EQ(frame->accessUnit.data(), packet.data() + 7) << "the access unit is not copied";

    EXPECT_EQ(FramePacket::encode(1, false, 0, Bytes{})[5], 0);
    EXPECT_FALSE(FramePacket::decode(Bytes{2, 0, 0, 0, 1, 1, 0}));  // body of 6: no data
    auto tiny = FramePacket::decode(Bytes{2, 0, 0, 0, 1, 1, 0, 0x42});
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->accessUnit.size(), 1u);
    auto notKey = FramePacket::decode(Bytes{2, 0, 0, 0, 1, 2, 6, 0x42});
    ASSERT_TRUE(notKey);
    EXPECT_FALSE(notKey->keyframe);
    EXPECT_EQ(notKey->rotation, 2);
    EXPECT_FALSE(FramePacket::decode(Bytes{3, 0, 0, 0, 1, 1, 0, 0x42}));

    AckPacket ack{0x01020304};
    EXPECT_EQ(ack.encode(), (Bytes{3, 1, 2, 3, 4}));
    EXPECT_EQ(AckPacket::decode(Bytes{3, 1, 2, 3, 4}), ack);
    EXPECT_FALSE(AckPacket::decode(Bytes{3, 1, 2, 3}));
    EXPECT_FALSE(AckPacket::decode(Bytes{3, 1, 2, 3, 4, 5}));

    EXPECT_EQ(keyframeRequestPacket(), Bytes{4});
    EXPECT_EQ(&keyframeRequestPacket(), &keyframeRequestPacket());
    EXPECT_TRUE(isKeyframeRequestPacket(Bytes{4}));
    EXPECT_FALSE(isKeyframeRequestPacket(Bytes{4, 0}));
    EXPECT_FALSE(isKeyframeRequestPacket(Bytes{}));
}

TEST(VideoPackets, EveryDecoderRefusesEmptyAndUnknownKindBytes) {
    for (const Bytes& packet : {Bytes{}, Bytes{0}, Bytes(20, 0), Bytes{20}, cat({20}, seq(0, 70)), Bytes{16, 1, 2}}) {
        EXPECT_FALSE(ClockPing::decode(packet));
        EXPECT_FALSE(ClockPong::decode(packet));
        EXPECT_FALSE(HistogramPacket::decode(packet));
        EXPECT_FALSE(AudioLevelPacket::decode(packet));
        EXPECT_FALSE(LoupePacket::decode(packet));
        EXPECT_FALSE(LevelPacket::decode(packet));
        EXPECT_FALSE(ScopePacket::decode(packet));
        EXPECT_FALSE(ParameterSetsPacket::decode(packet));
        EXPECT_FALSE(FramePacket::decode(packet));
        EXPECT_FALSE(AckPacket::decode(packet));
        EXPECT_FALSE(isKeyframeRequestPacket(packet));
    }
}

}  // namespace
}  // namespace morvane
