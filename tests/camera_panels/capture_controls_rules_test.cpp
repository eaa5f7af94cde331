#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "camera_panels/capture_controls_rules.h"
#include "camera_panels/exposure_tables.h"
#include "camera_panels/lens_button.h"

namespace morvane {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(ExposureTables, FNumbers) {
    EXPECT_EQ(fNumberText(1.8), "f/1.8");
    EXPECT_EQ(fNumberText(4), "f/4.0");
    EXPECT_EQ(fNumberText(10), "f/10");
    EXPECT_EQ(fNumberText(11), "f/11");
    EXPECT_EQ(fNumberText(nan), "f/—");
    EXPECT_EQ(standardShutters().size(), 17u);
    EXPECT_EQ(standardAngles().back(), 360);
}

TEST(CaptureControlsRules, TimerAndBadges) {
    struct TimerCase {
        std::int64_t seconds, next;
        const char* text;
    } timers[] = {{0, 3, "Off"}, {3, 10, "3s"}, {10, 0, "10s"}, {5, 0, "5s"}, {-1, 0, "-1s"}};
    for (const auto& c : timers) {
        EXPECT_EQ(nextTimerSeconds(c.seconds), c.next);
        EXPECT_EQ(timerText(c.seconds), c.text);
        EXPECT_EQ(timerAccessibleName(c.seconds), std::string("Self-timer: ") + c.text);
    }

    CameraStatus photo;
    EXPECT_EQ(formatBadge(photo), std::nullopt);
    photo.portrait = true;
    EXPECT_EQ(formatBadge(photo), "PORTRAIT");
    CameraStatus video;
    video.mode = CaptureMode::video;
    video.resolution = {3840, 2160};
    video.frameRate = 24;
    video.ntsc = true;
    video.colorProfile = ColorProfile::hdr;
    EXPECT_EQ(formatBadge(video), "4K·23.98·HDR");
    video.frameRate = 30;
    video.colorProfile = ColorProfile::appleLog;
    EXPECT_EQ(formatBadge(video), "4K·29.97·LOG");
    video.resolution = {1920, 1080};
    video.ntsc = false;
    video.colorProfile = ColorProfile::standard;
    EXPECT_EQ(formatBadge(video), "1080p·30");
    video.colorProfile = ColorProfile::appleLog2;
    EXPECT_EQ(formatBadge(video), "1080p·30·LOG2");
}

TEST(CaptureControlsRules, LensesAndZoom) {
    CameraStatus s;
    s.lenses = {0.5, 1.0, 2.0};
    s.zoom = 1.03;
    EXPECT_TRUE(isLensSelected(s.zoom, 1.0));
    EXPECT_FALSE(isLensSelected(s.zoom, 2.0));
    EXPECT_EQ(zoomReadout(s), std::nullopt);
    s.zoom = 1.5;
    EXPECT_EQ(zoomReadout(s), "1.5×");
    s.zoom = nan;
    EXPECT_EQ(zoomReadout(s), "—");

    struct LensCase {
        double lens;
        bool selected;
        const char* text;
    } lenses[] = {{3.0, false, "3"},  {0.5, false, ".5"},    {1.5, false, "1.5"}, {2.0, true, "2×"},
                  {0.5, true, ".5×"}, {10.5, false, "10.5"}, {inf, false, "—"},   {1e300, false, "—"}};
    for (const auto& c : lenses) EXPECT_EQ(lensLabelText(c.lens, c.selected).toStdString(), c.text) << c.lens;
}

TEST(CaptureControlsRules, LensTipsSayWhereZoomIs) {
    struct Case {
        const char* label;
        std::size_t lenses;
        const char* tip;
    } cases[] = {
        {"1×", 1, "The camera's only lens (1×). To zoom, hold Ctrl and scroll on the camera's picture."},
        {"1×", 0, "The camera's only lens (1×). To zoom, hold Ctrl and scroll on the camera's picture."},
        {".5×", 3, "Switch to the .5× lens. To zoom, hold Ctrl and scroll on the camera's picture."},
    };
    for (const auto& c : cases) EXPECT_EQ(lensToolTip(c.label, c.lenses), c.tip);
}

std::vector<SideControlKind> kinds(const std::vector<SideControl>& controls) {
    std::vector<SideControlKind> result;
    for (const auto& c : controls) result.push_back(c.kind);
    return result;
}

TEST(CaptureControlsRules, SideControlsByModeAndBindings) {
    using K = SideControlKind;
    CameraStatus photo;
    CameraStatus video;
    video.mode = CaptureMode::video;
    struct Case {
        const CameraStatus* status;
        CaptureControlsOptions options;
        std::vector<K> shown;
    } cases[] = {
        {&photo, {}, {K::hide, K::voice, K::dim, K::loupe, K::settings}},
        {&photo, {false, false, true, std::nullopt}, {K::hide, K::voice, K::dim, K::loupe, K::settings}},
        {&photo, {false, true, true, false}, {K::hide, K::voice, K::dim, K::loupe, K::lead, K::all, K::settings}},
        {&video,
         {false, false, true, true},
         {K::hide, K::voice, K::dim, K::loupe, K::lead, K::mark, K::all, K::settings}},
        {&video,
         {false, std::nullopt, true, std::nullopt},
         {K::hide, K::voice, K::dim, K::loupe, K::mark, K::settings}},
    };
    for (const auto& c : cases) EXPECT_EQ(kinds(sideControls(*c.status, c.options)), c.shown);

    CameraStatus dimmed;
    dimmed.dimmed = true;
    dimmed.loupe = true;
    dimmed.loupeContours = false;
    const auto controls = sideControls(dimmed, {true, std::nullopt, false, true});
    EXPECT_EQ(controls[1].symbol, "bubble.left.fill");
    EXPECT_EQ(controls[1].accessibilityLabel, "Turn off voice commands");
    EXPECT_EQ(controls[2].symbol, "moon.fill");
    EXPECT_TRUE(controls[2].active);
    EXPECT_EQ(controls[2].accessibilityLabel, "Wake the camera screen");
    EXPECT_EQ(controls[4].accessibilityLabel, "Shutter and settings apply to all cameras");
    EXPECT_EQ(controls.back().title, "Settings");
    EXPECT_EQ(dimCommand(dimmed), CameraCommand(CameraCommand::SetDimmed{false}));
    EXPECT_EQ(dimCommand(photo), CameraCommand(CameraCommand::SetDimmed{true}));
    EXPECT_EQ(loupeCommand(dimmed), CameraCommand(CameraCommand::SetLoupe{false, false}));
    EXPECT_EQ(loupeCommand(photo), CameraCommand(CameraCommand::SetLoupe{true, true}));
}

}  // namespace
}  // namespace morvane
