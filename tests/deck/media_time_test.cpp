// Media-time arithmetic on timescales whose common multiple does not fit 32 bits, over a day of filming.
#include "platform/asset_probe.h"
#include "platform/program_renderer.h"

#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <random>

using namespace morvane;

namespace {

__extension__ using Wide = __int128;

constexpr std::int64_t day = 86'400;
// 1001 × 1000003: a 1001-based timescale whose common multiple with 90 kHz is far beyond 32 bits.
constexpr std::int32_t oddScale = 1'001'003'003;
const std::int32_t scales[] = {90'000, 30'000, 2'997, 24'000, 48'000, 600, 1'000'003, oddScale, 60'060'000};

int exactCompare(MediaTime a, MediaTime b) {
    const Wide x = Wide(a.value) * b.timescale, y = Wide(b.value) * a.timescale;
    return (x > y) - (x < y);
}

// A 90 kHz time about a day in, and the `oddScale` time one 90000×oddScale-th of a second after it.
std::pair<MediaTime, MediaTime> timesAHairApart() {
    for (std::int64_t x = day * 90'000;; ++x) {
        if ((Wide(oddScale) * x + 1) % 90'000 == 0) {
            return {MediaTime{x, 90'000}, MediaTime{std::int64_t((Wide(oddScale) * x + 1) / 90'000), oddScale}};
        }
    }
}

TEST(MediaTime, ComparesExactlyAcrossTimescales) {
    std::mt19937_64 random(11);
    for (const auto sa : scales) {
        for (const auto sb : scales) {
            for (int i = 0; i < 200; ++i) {
                // Up to a day, and pairs that meet at the same instant or a tick apart.
                const MediaTime a{std::int64_t(random() % std::uint64_t(day * sa)), sa};
                MediaTime b{std::int64_t(random() % std::uint64_t(day * sb)), sb};
                if (i % 3 == 0) b.value = std::int64_t(Wide(a.value) * sb / sa) + std::int64_t(i % 2);
                SCOPED_TRACE(testing::Message() << a.value << "/" << sa << " vs " << b.value << "/" << sb);
                EXPECT_EQ(MediaTime::compare(a, b), exactCompare(a, b));
                EXPECT_EQ(MediaTime::compare(b, a), -exactCompare(a, b));
            }
        }
    }
    const auto [early, late] = timesAHairApart();
    EXPECT_EQ(MediaTime::compare(early, late), -1);
    EXPECT_EQ(MediaTime::compare(late, early), 1);
    EXPECT_EQ(MediaTime::compare(MediaTime::invalid(), early), -1);
    EXPECT_EQ(MediaTime::compare(MediaTime::invalid(), MediaTime::invalid()), 0);
}

TEST(MediaTime, SumsAreExactInTheCommonTimescaleElseWithinHalfATick) {
    std::mt19937_64 random(5);
    for (const auto sa : scales) {
        for (const auto sb : scales) {
            const Wide common = std::lcm(std::int64_t(sa), std::int64_t(sb));
            for (int i = 0; i < 200; ++i) {
                const MediaTime a{std::int64_t(random() % std::uint64_t(day * sa)), sa};
                const MediaTime b{std::int64_t(random() % std::uint64_t(day * sb)), sb};
                SCOPED_TRACE(testing::Message() << a.value << "/" << sa << " + " << b.value << "/" << sb);
                const MediaTime sum = MediaTime::add(a, b), difference = MediaTime::subtract(a, b);
                ASSERT_TRUE(sum.isValid() && difference.isValid());
                if (common <= std::numeric_limits<std::int32_t>::max()) {
                    EXPECT_EQ(sum.timescale, common);
                    EXPECT_EQ(Wide(sum.value) * sa * sb, (Wide(a.value) * sb + Wide(b.value) * sa) * sum.timescale);
                    EXPECT_EQ(Wide(difference.value) * sa * sb,
                              (Wide(a.value) * sb - Wide(b.value) * sa) * difference.timescale);
                } else {
                    // In the larger timescale, off by half its tick at most: |2·(r·sa·sb − exact·r.ts)| ≤ sa·sb.
                    EXPECT_EQ(sum.timescale, std::max(sa, sb));
                    const Wide exact = (Wide(a.value) * sb + Wide(b.value) * sa) * sum.timescale;
                    const Wide error = Wide(sum.value) * sa * sb - exact;
                    EXPECT_LE(2 * (error < 0 ? -error : error), Wide(sa) * sb);
                }
            }
        }
    }
}

TEST(MediaTime, ResultsThatDoNotFitAreInvalid) {
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    EXPECT_FALSE(MediaTime::add({most - 5, 1}, {10, 1}).isValid());
    EXPECT_FALSE(MediaTime::add({most / 2, 1}, {1, 90'000}).isValid());
    EXPECT_FALSE(MediaTime::subtract({-most, 7}, {most, 7}).isValid());
    EXPECT_FALSE(MediaTime::add(MediaTime::invalid(), {1, 1}).isValid());
    EXPECT_EQ(MediaTime::add({most / 2, 1}, {1, 1}), (MediaTime{most / 2 + 1, 1}));
    EXPECT_FALSE((MediaTime{most / 2, 1}).ticks(48'000));
    // A day of 30000/1001 frames in samples: 2,589,410 frames of 1001/30000 s, 1601.6 samples each.
    EXPECT_EQ((MediaTime{2'589'410LL * 1001, 30'000}).ticks(48'000), 4'147'199'056LL);
    EXPECT_EQ((MediaTime{1, 96'000}).ticks(48'000), 1);  // halves away from zero
    EXPECT_EQ((MediaTime{-1, 96'000}).ticks(48'000), -1);
}

TEST(MediaTime, TransformChangesAHairApartStayApartAndInOrder) {
    const auto [early, late] = timesAHairApart();
    const auto first = AffineTransform::translation(1, 0), second = AffineTransform::translation(2, 0);
    for (bool lateFirst : {false, true}) {
        ProgramRenderer::LayerInstruction layer;
        if (lateFirst) {
            layer.setTransform(second, late);
            layer.setTransform(first, early);
        } else {
            layer.setTransform(first, early);
            layer.setTransform(second, late);
        }
        ASSERT_EQ(layer.transforms.size(), 2u) << lateFirst;
        EXPECT_EQ(layer.transforms[0].at, early);
        EXPECT_EQ(layer.transforms[1].at, late);
    }
}

TEST(MediaTime, ACompositionRefusesATimeWhoseEndDoesNotFit) {
    ProgramRenderer::Composition c;
    const int v = c.addTrack(ProgramRenderer::MediaKind::video);
    std::string error;
    EXPECT_FALSE(c.insertTimeRange(v, 0, 0, MediaTime::zero(), {1, 90'000},
                                   {std::numeric_limits<std::int64_t>::max() / 2, 1}, &error));
    EXPECT_TRUE(c.track(v)->segments.empty());
    // A day of 90 kHz video after a day of 1001-based time: the second segment starts where the first ends.
    const auto [early, late] = timesAHairApart();
    EXPECT_TRUE(c.insertTimeRange(v, 0, 0, MediaTime::zero(), early, MediaTime::zero()));
    EXPECT_TRUE(c.insertTimeRange(v, 1, 0, MediaTime::zero(), {90'000, 90'000}, early));
    ASSERT_EQ(c.track(v)->segments.size(), 2u);
    EXPECT_EQ(c.track(v)->segments[1].at, early);
    EXPECT_NEAR(c.duration(), early.seconds() + 1, 1e-6);
}

}  // namespace
