#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "camera_panels/status_texts.h"
#include "protocol/timeline_rate.h"

namespace morvane {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

struct TransferCase {
    std::int64_t pending;
    std::optional<double> progress;
    bool usb, recording, paused;
    std::optional<std::string> expected;
};

TEST(StatusTexts, TransferLine) {
    const TransferCase cases[] = {
        {0, 0.5, true, false, false, std::nullopt},
        {-3, std::nullopt, false, false, false, std::nullopt},
        {1, 0.425, false, false, false, "42%"},
        {1, 0.0, false, false, false, "0%"},
        {1, 1.0, false, false, false, "100%"},
        {3, 0.5, true, false, false, "50% · 2 more · USB"},
        {2, 0.999, false, false, false, "99% · 1 more"},
        {1, 0.456, true, false, false, "45% · USB"},
        {3, std::nullopt, false, true, true, "3 after recording"},
        {3, std::nullopt, false, false, true, "3 ready"},
        {3, std::nullopt, false, false, false, "3 waiting"},
        // Out-of-range progress from a camera: clamped, or a dash, never undefined behaviour.
        {1, 1e300, false, false, false, "100%"},
        {1, -0.5, false, false, false, "0%"},
        {1, inf, false, false, false, "100%"},
        {1, nan, false, false, false, "—"},
    };
    for (const auto& c : cases) {
        CameraStatus status;
        status.pendingTransfers = c.pending;
        status.transferProgress = c.progress;
        status.usbConnected = c.usb;
        status.isRecording = c.recording;
        status.transfersPaused = c.paused;
        EXPECT_EQ(transferStatusLine(status), c.expected) << c.pending;
    }
}

TEST(StatusTexts, ShutterText) {
    const std::pair<double, const char*> cases[] = {
        {0.5, "0.5\""},   {2, "2.0\""},      {30, "30.0\""},  {1.0 / 60, "1/60"}, {0.0208, "1/48"},
        {0.3, "1/3"},     {0.45, "1/2"},     {0.4999, "1/2"}, {1.0 / 8000, "1/8000"},
        {0, "—"},         {-1, "—"},         {nan, "—"},      {inf, "—"},         {1e-300, "—"},
        {1e300, "—"},
    };
    for (const auto& [seconds, expected] : cases) EXPECT_EQ(shutterText(seconds), expected) << seconds;
}

TEST(StatusTexts, ShutterAngleSnapping) {
    struct Case {
        double seconds, fps;
        bool asAngle;
        const char* expected;
    };
    const double ntsc24 = TimelineRate::fps(24, true), ntsc30 = TimelineRate::fps(30, true);
    const Case cases[] = {
        {1.0 / 48, 24, true, "180°"},
        {1.0 / 50, ntsc24, true, "172.8°"},
        {1.0 / 60, ntsc30, true, "180°"},
        {1.0 / 1000, 30, true, "11.25°"},
        {1.0 / 2000, 30, true, "5.4°"},
        {11.75 / 360 / 30, 30, true, "11.8°"},  // on a window's edge: no snap
        {100.0 / 360 / 30, 30, true, "100°"},
        {22.5 / 360 / 30, 30, true, "22.5°"},
        {1.0 / 48, 24, false, "1/48"},
        {1.0 / 48, 0, true, "1/48"},  // photo mode: no frame rate, no angle
        {1.0 / 48, nan, true, "1/48"},
        {1e300, 1e300, true, "—"},
        {-1, 24, true, "—"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shutterAngleText(c.seconds, c.fps, c.asAngle), c.expected) << c.seconds << " at " << c.fps;
}

TEST(StatusTexts, ExposureSummary) {
    EXPECT_EQ(exposureSummary(400, 1.0 / 50, 30, false), "ISO 400 · 1/50");
    EXPECT_EQ(exposureSummary(1250, 1.0 / 48, 24, true), "ISO 1250 · 180°");
    EXPECT_EQ(exposureSummary(0.4f, 1.0 / 50, 0, false), "ISO 0 · 1/50");
    EXPECT_EQ(exposureSummary(399.5f, 1.0 / 50, 0, false), "ISO 400 · 1/50");
    EXPECT_EQ(exposureSummary(0, 1.0 / 50, 30, false), "—");
    EXPECT_EQ(exposureSummary(400, 0, 30, false), "—");
    EXPECT_EQ(exposureSummary(std::nanf(""), 1.0 / 50, 30, false), "—");
    EXPECT_EQ(exposureSummary(std::numeric_limits<float>::infinity(), 1.0 / 50, 30, false), "—");
    EXPECT_EQ(exposureSummary(400, nan, 30, false), "—");
}

TEST(StatusTexts, GuardedWholeNumbers) {
    EXPECT_EQ(wholeNumber(0.999), 0);
    EXPECT_EQ(wholeNumber(-2.7), -2);
    EXPECT_EQ(wholeNumber(9.2e18), 9200000000000000000);
    EXPECT_EQ(wholeNumber(9.3e18), std::nullopt);
    EXPECT_EQ(wholeNumber(-9.3e18), std::nullopt);
    EXPECT_EQ(wholeNumber(nan), std::nullopt);
    EXPECT_EQ(roundedNumber(2.5), 3);
    EXPECT_EQ(roundedNumber(-2.5), -3);
    EXPECT_EQ(wholeNumberText(std::nullopt), "—");
}

}  // namespace
}  // namespace morvane
