#include <gtest/gtest.h>

#include "protocol/capture_settings.h"
#include "protocol/false_color.h"
#include "protocol/packet_type.h"
#include "protocol/timeline_rate.h"

namespace morvane {
namespace {

TEST(PacketType, KindBytesMapBothWays) {
    const std::pair<PacketType, int> kinds[] = {
        {PacketType::parameterSets, 1},   {PacketType::frame, 2},       {PacketType::ack, 3},
        {PacketType::keyframeRequest, 4}, {PacketType::command, 5},     {PacketType::status, 6},
        {PacketType::event, 7},           {PacketType::gallery, 8},     {PacketType::preview, 9},
        {PacketType::clockPing, 10},      {PacketType::clockPong, 11},  {PacketType::histogram, 12},
        {PacketType::transferInfo, 13},   {PacketType::audioLevel, 14}, {PacketType::loupe, 15},
        {PacketType::level, 17},          {PacketType::scope, 18},      {PacketType::deckEdit, 19},
    };
    for (auto [kind, byte] : kinds) {
        EXPECT_EQ(packetTypeByte(kind), byte);
        EXPECT_EQ(packetTypeFromByte(static_cast<std::uint8_t>(byte)), kind);
    }
    for (int byte : {0, 16, 20, 21, 128, 255}) {
        EXPECT_FALSE(packetTypeFromByte(static_cast<std::uint8_t>(byte))) << byte;
    }
    EXPECT_FALSE(packetKind(Bytes{}));
    EXPECT_FALSE(packetKind(Bytes{0, 6}));
    EXPECT_EQ(packetKind(Bytes{6}), PacketType::status);
    EXPECT_EQ(packetKind(Bytes{19, 1, 2}), PacketType::deckEdit);
}

TEST(PacketType, FirstByteAndDropFirst) {
    EXPECT_FALSE(firstByte(Bytes{}));
    EXPECT_EQ(firstByte(Bytes{7, 8}), 7);
    EXPECT_EQ(dropFirst(Bytes{}), Bytes{});
    EXPECT_EQ(dropFirst(Bytes{7}), Bytes{});
    EXPECT_EQ(dropFirst(Bytes{7, 8, 9}), (Bytes{8, 9}));
}

TEST(TimelineRate, NtscRatesAndLabels) {
    EXPECT_EQ(TimelineRate::ntscRates(), (std::set<std::int64_t>{24, 30, 60}));
    EXPECT_EQ(&TimelineRate::ntscRates(), &TimelineRate::ntscRates());
    EXPECT_DOUBLE_EQ(TimelineRate::fps(24, true), 24000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(TimelineRate::fps(30, true), 30000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(TimelineRate::fps(60, true), 60000.0 / 1001.0);
    EXPECT_EQ(TimelineRate::fps(24, false), 24.0);
    EXPECT_EQ(TimelineRate::fps(25, true), 25.0);
    EXPECT_EQ(TimelineRate::fps(48, true), 48.0);
    EXPECT_EQ(TimelineRate::fps(0, true), 0.0);
    EXPECT_EQ((TimelineRate{30, true}).fps(), TimelineRate::fps(30, true));

    EXPECT_EQ(frameRateLabel(24, true), "23.98");
    EXPECT_EQ(frameRateLabel(30, true), "29.97");
    EXPECT_EQ(frameRateLabel(60, true), "59.94");
    EXPECT_EQ(frameRateLabel(24, false), "24");
    EXPECT_EQ(frameRateLabel(25, true), "25");
    EXPECT_EQ(frameRateLabel(120, true), "120");
    EXPECT_EQ(frameRateLabel(-5, false), "-5");

    EXPECT_EQ(trimmedRateText(180), "180°");
    EXPECT_EQ(trimmedRateText(172.8), "172.8°");
    EXPECT_EQ(trimmedRateText(11.25), "11.25°");
    EXPECT_EQ(trimmedRateText(22.5), "22.5°");
    EXPECT_EQ(trimmedRateText(100), "100°");
    EXPECT_EQ(trimmedRateText(0), "0°");
    EXPECT_EQ(trimmedRateText(45.004), "45°");
    EXPECT_EQ(trimmedRateText(1e300).size(), 301u + 2u);  // every digit, then the two-byte degree sign
}

TEST(CaptureSettings, ResolutionLabelAndFrameRatesPerProfile) {
    EXPECT_EQ((Resolution{1280, 720}).label(), "720p");
    EXPECT_EQ((Resolution{1920, 1080}).label(), "1080p");
    EXPECT_EQ((Resolution{3840, 2160}).label(), "4K");
    EXPECT_EQ((Resolution{2560, 1440}).label(), "1440p");
    EXPECT_EQ((Resolution{0, 0}).label(), "0p");
    EXPECT_EQ((Resolution{1080, 1920}).label(), "1920p");

    FormatOption f;
    f.frameRates = {24, 30, 60};
    f.logFrameRates = {24, 30};
    EXPECT_EQ(f.frameRatesFor(ColorProfile::standard), f.frameRates);
    EXPECT_EQ(f.frameRatesFor(ColorProfile::appleLog), f.logFrameRates);
    EXPECT_TRUE(f.frameRatesFor(ColorProfile::hdr).empty());
    f.colorFrameRates = std::map<std::string, std::vector<std::int64_t>>{{"hdr", {30}}};
    EXPECT_EQ(f.frameRatesFor(ColorProfile::hdr), std::vector<std::int64_t>{30});
    EXPECT_TRUE(f.frameRatesFor(ColorProfile::appleLog2).empty());
    (*f.colorFrameRates)["appleLog2"] = {24};
    EXPECT_EQ(f.frameRatesFor(ColorProfile::appleLog2), std::vector<std::int64_t>{24});
}

TEST(FalseColor, BandsAreClosedIntervals) {
    FalseColor::Band band{0.5f, 0.6f, {0.0f, 1.0f, 0.0f}, "Skin"};
    EXPECT_TRUE(band.contains(0.5f));
    EXPECT_TRUE(band.contains(0.6f));
    EXPECT_FALSE(band.contains(0.61f));
    EXPECT_FALSE(band.contains(NAN));
}

}  // namespace
}  // namespace morvane
