#include <gtest/gtest.h>

#include <QColor>

#include <random>

#include "remote/scope_image.h"

namespace morvane {
namespace {

Bytes scopePacket(std::uint8_t kind, std::uint8_t width, std::uint8_t height, const Bytes& intensities) {
    Bytes packet{18, kind, width, height};
    packet.insert(packet.end(), intensities.begin(), intensities.end());
    return packet;
}

struct Rgba {
    int r, g, b, a;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

Rgba pixelAt(const QImage& image, int x, int y) {
    const uchar* p = image.constScanLine(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

TEST(ScopeImage, WaveformTintsByIntensity) {
    auto scope = ScopeImage::decode(scopePacket(1, 2, 1, {255, 0}));
    ASSERT_TRUE(scope);
    EXPECT_EQ(scope->kind, ScopeKind::waveform);
    ASSERT_EQ(scope->image.size(), QSize(2, 1));
    EXPECT_EQ(pixelAt(scope->image, 0, 0), (Rgba{200, 255, 210, 255}));
    EXPECT_EQ(pixelAt(scope->image, 1, 0), (Rgba{0, 0, 0, 0}));

    auto half = ScopeImage::decode(scopePacket(1, 1, 1, {128}));
    ASSERT_TRUE(half);
    EXPECT_EQ(pixelAt(half->image, 0, 0), (Rgba{100, 128, 105, 128}));
}

TEST(ScopeImage, ParadeStacksThreePanelsSideBySideWithGaps) {
    auto scope = ScopeImage::decode(scopePacket(2, 1, 3, {255, 255, 255}));
    ASSERT_TRUE(scope);
    EXPECT_EQ(scope->kind, ScopeKind::parade);
    ASSERT_EQ(scope->image.size(), QSize(7, 1));
    EXPECT_EQ(pixelAt(scope->image, 0, 0), (Rgba{255, 70, 70, 255}));
    EXPECT_EQ(pixelAt(scope->image, 1, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(scope->image, 2, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(scope->image, 3, 0), (Rgba{70, 255, 90, 255}));
    EXPECT_EQ(pixelAt(scope->image, 4, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(scope->image, 5, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(scope->image, 6, 0), (Rgba{90, 140, 255, 255}));
}

TEST(ScopeImage, ParadeRowsBeyondThreePanelsAreIgnored) {
    // H = 4: one row per panel, the fourth grid row (all 255) is not drawn.
    auto scope = ScopeImage::decode(scopePacket(2, 2, 4, {10, 20, 30, 40, 50, 60, 255, 255}));
    ASSERT_TRUE(scope);
    ASSERT_EQ(scope->image.size(), QSize(10, 1));
    EXPECT_EQ(pixelAt(scope->image, 0, 0).a, 10);
    EXPECT_EQ(pixelAt(scope->image, 1, 0).a, 20);
    EXPECT_EQ(pixelAt(scope->image, 4, 0).a, 30);
    EXPECT_EQ(pixelAt(scope->image, 5, 0).a, 40);
    EXPECT_EQ(pixelAt(scope->image, 8, 0).a, 50);
    EXPECT_EQ(pixelAt(scope->image, 9, 0).a, 60);

    // A panel row is P rows tall: H = 6 gives two rows per panel, green starting at grid row 2.
    Bytes grid(12, 0);
    grid[2 * 2 + 1] = 200;  // green panel, its first row, second column
    auto tall = ScopeImage::decode(scopePacket(2, 2, 6, grid));
    ASSERT_TRUE(tall);
    ASSERT_EQ(tall->image.size(), QSize(10, 2));
    EXPECT_EQ(pixelAt(tall->image, 5, 0).a, 200);
    EXPECT_EQ(pixelAt(tall->image, 5, 1).a, 0);
}

TEST(ScopeImage, MalformedPacketsGiveNone) {
    EXPECT_FALSE(ScopeImage::decode(Bytes{}));
    EXPECT_FALSE(ScopeImage::decode(Bytes{18}));
    EXPECT_FALSE(ScopeImage::decode(Bytes{18, 1, 1}));
    EXPECT_FALSE(ScopeImage::decode(Bytes{18, 1, 1, 1}));            // no intensities
    EXPECT_FALSE(ScopeImage::decode(scopePacket(2, 1, 2, {1, 2})));  // parade without a full panel row
    EXPECT_FALSE(ScopeImage::decode(scopePacket(0, 1, 1, {1})));     // off
    EXPECT_FALSE(ScopeImage::decode(scopePacket(3, 1, 1, {1})));
    EXPECT_FALSE(ScopeImage::decode(scopePacket(1, 0, 1, {})));
    EXPECT_FALSE(ScopeImage::decode(scopePacket(1, 1, 0, {})));
    EXPECT_FALSE(ScopeImage::decode(scopePacket(1, 2, 2, {1, 2, 3})));        // one too few
    EXPECT_FALSE(ScopeImage::decode(scopePacket(1, 2, 2, {1, 2, 3, 4, 5})));  // one too many
    EXPECT_TRUE(ScopeImage::decode(scopePacket(1, 2, 2, {1, 2, 3, 4})));
}

TEST(ScopeImage, RandomBytesNeverCrashAndLargestGridDecodes) {
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes packet(random() % 24);
        for (auto& b : packet) b = static_cast<std::uint8_t>(random());
        if (packet.size() > 1 && round % 2) packet[1] = static_cast<std::uint8_t>(1 + random() % 2);
        auto scope = ScopeImage::decode(packet);
        if (scope) {
            EXPECT_FALSE(scope->image.isNull());
        }
    }
    auto big = ScopeImage::decode(scopePacket(2, 255, 255, Bytes(255 * 255, 255)));
    ASSERT_TRUE(big);
    EXPECT_EQ(big->image.size(), QSize(3 * 255 + 4, 85));
}

}  // namespace
}  // namespace morvane
