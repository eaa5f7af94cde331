#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "shoot_library/timecode.h"
#include "shoot_test_support.h"

namespace morvane {
namespace {

using test::localDate;

TEST(TimelineRateTest, NormalisationKeepsNtscOnlyForItsRates) {
    struct Case {
        std::int64_t nominal;
        bool ntsc;
        std::int64_t expectedNominal;
        bool expectedNtsc;
    };
    const Case cases[] = {
        {0, true, 1, false},    {-5, false, 1, false}, {1, false, 1, false},  {2, false, 2, false},
        {25, true, 25, false},  {24, true, 24, true},  {30, true, 30, true},  {60, true, 60, true},
        {60, false, 60, false}, {50, true, 50, false}, {48, true, 48, false},
    };
    for (const auto& c : cases) {
        const TimelineRate rate = timecode::normalised(c.nominal, c.ntsc);
        EXPECT_EQ(rate.rate, c.expectedNominal) << c.nominal << (c.ntsc ? " ntsc" : "");
        EXPECT_EQ(rate.ntsc, c.expectedNtsc) << c.nominal << (c.ntsc ? " ntsc" : "");
    }
}

TEST(TimelineRateTest, FramesOfDurationsRoundHalfAwayFromZero) {
    const TimelineRate thirty{30, false};
    EXPECT_EQ(timecode::frames(thirty, 1.0), 30);
    EXPECT_EQ(timecode::frames(thirty, 0.01), 0);
    EXPECT_EQ(timecode::frames(thirty, 0.05), 2);  // 1.5 frames
    EXPECT_EQ(timecode::frames(thirty, -0.05), -2);
    EXPECT_EQ(timecode::frames(TimelineRate{30, true}, 60.0), 1798);  // 1798.2
    // Absurd durations from another device stay finite and far from overflowing.
    EXPECT_EQ(timecode::frames(thirty, std::nan("")), 0);
    EXPECT_GT(timecode::frames(thirty, 1e300), 0);
    EXPECT_LT(timecode::frames(thirty, 1e300), std::numeric_limits<std::int64_t>::max() / 4);
}

TEST(TimelineRateTest, TimeOfDayFramesCountFromLocalMidnight) {
    const Date noon = localDate(2026, 12, 6, 12, 0, 0);
    EXPECT_EQ(timecode::timeOfDayFrames(noon, TimelineRate{30, false}), 1'296'000);
    EXPECT_EQ(timecode::timeOfDayFrames(noon, TimelineRate{24, true}), 1'035'764);
    EXPECT_EQ(timecode::timeOfDayFrames(noon, TimelineRate{30, true}), 1'294'705);
    // To the nearest frame, halves away from zero.
    EXPECT_EQ(timecode::timeOfDayFrames(localDate(2026, 12, 6, 10, 0, 0, 0.5), TimelineRate{25, false}), 900'013);
    EXPECT_EQ(timecode::timeOfDayFrames(localDate(2026, 12, 6, 10, 0, 0, 0.46), TimelineRate{25, false}), 900'012);
    EXPECT_EQ(timecode::timeOfDayFrames(localDate(2026, 12, 6, 10, 0, 0, 0.5), TimelineRate{30, false}), 1'080'015);
    // A time on a frame, as seconds times a rate of 30000/1001 or 24000/1001, stays on that frame: 12:00:00;01,
    // 12:00:00;29 and a 23.976 frame near the end of the day.
    const Date midnight = localDate(2026, 12, 6, 0, 0, 0);
    for (const auto& [frame, rate] : std::vector<std::pair<std::int64_t, TimelineRate>>{
             {1'294'705, {30, true}}, {1'294'733, {30, true}}, {2'589'401, {60, true}}, {2'071'520, {24, true}}}) {
        EXPECT_EQ(timecode::timeOfDayFrames(midnight.addingTimeInterval(double(frame) / rate.fps()), rate), frame)
            << frame;
    }
    EXPECT_EQ(timecode::timeOfDayFrames(localDate(2026, 12, 6, 0, 0, 0), TimelineRate{25, false}), 0);
    // Summer time: midnight is still the start of the local day.
    EXPECT_EQ(timecode::timeOfDayFrames(localDate(2026, 7, 1, 0, 0, 1), TimelineRate{25, false}), 25);
    EXPECT_DOUBLE_EQ(timecode::startOfLocalDay(localDate(2026, 7, 1, 15, 30, 0, 0.25)).secondsSinceReferenceDate,
                     localDate(2026, 7, 1, 0, 0, 0).secondsSinceReferenceDate);
}

TEST(TimelineRateTest, TimecodeTextWithAndWithoutDropFrame) {
    struct Case {
        std::int64_t frame;
        TimelineRate rate;
        const char* text;
    };
    const Case cases[] = {
        {0, {30, true}, "00:00:00;00"},         {1799, {30, true}, "00:00:59;29"},
        {1800, {30, true}, "00:01:00;02"},      {17'981, {30, true}, "00:09:59;29"},
        {17'982, {30, true}, "00:10:00;00"},    {1'294'705, {30, true}, "12:00:00;01"},
        {3599, {60, true}, "00:00:59;59"},      {3600, {60, true}, "00:01:00;04"},
        {35'964, {60, true}, "00:10:00;00"},    {1800, {30, false}, "00:01:00:00"},
        {1'035'764, {24, true}, "11:59:16:20"}, {900'012, {25, false}, "10:00:00:12"},
        {0, {24, true}, "00:00:00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(timecode::timecodeString(c.frame, c.rate), c.text) << c.frame << " at " << c.rate.rate;
    }
}

TEST(TimelineRateTest, TheLastMomentOfTheDayIsNotWrapped) {
    const TimelineRate df{30, true};
    const Date lastHundredth = localDate(2026, 12, 6, 23, 59, 59, 0.99);
    EXPECT_EQ(timecode::timecodeString(timecode::timeOfDayFrames(lastHundredth, df), df), "24:00:00;02");
    EXPECT_EQ(timecode::timecodeString(timecode::timeOfDayFrames(localDate(2026, 12, 6, 12, 0, 0), df), df),
              "12:00:00;01");
}

TEST(TimelineRateTest, DayKeysAndStampsUseTheLocalCalendar) {
    EXPECT_EQ(timecode::dayKey(localDate(2024, 5, 1, 23, 59, 59)), "2024-05-01");
    EXPECT_EQ(timecode::dayKey(localDate(2024, 5, 2, 0, 0, 1)), "2024-05-02");
    EXPECT_EQ(timecode::timeStamp(localDate(2024, 5, 1, 14, 5, 22, 0.9)), "14.05.22");
    // Dates from other devices far outside the calendar still give a well-formed key.
    EXPECT_EQ(timecode::dayKey(Date{1e300}).size(), 10u);
    EXPECT_EQ(timecode::dayKey(Date{-1e300}).size(), 10u);
}

}  // namespace
}  // namespace morvane
