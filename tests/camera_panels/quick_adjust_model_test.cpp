#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "camera_panels/quick_adjust_model.h"

namespace morvane {
namespace {

using Control = QuickAdjustModel::Control;
using Adjuster = QuickAdjustModel::Adjuster;
constexpr float fnan = std::numeric_limits<float>::quiet_NaN();

CameraStatus exposureStatus() {
    CameraStatus s;
    s.minISO = 50;
    s.maxISO = 3200;
    s.minShutter = 1.0 / 8000;
    s.maxShutter = 1.0 / 30;
    s.liveISO = 400;
    s.liveShutter = 1.0 / 50;
    return s;
}

TEST(QuickAdjustModel, Chips) {
    CameraStatus s = exposureStatus();
    s.exposureBias = 0.3f;
    s.apertureStops = {1.8f, 4, 11};
    s.liveAperture = 1.8f;
    s.supportsManualWhiteBalance = true;
    s.supportsManualFocus = true;
    s.focus = FocusSetting::Locked{};
    const std::vector<QuickAdjustModel::Chip> automatic{{Control::ev, "EV +0.3", true},
                                                        {Control::iso, "ISO 400", true},
                                                        {Control::shutter, "1/50", true},
                                                        {Control::aperture, "f/1.8", true},
                                                        {Control::whiteBalance, "AWB", true},
                                                        {Control::focus, "AF-L", false}};
    EXPECT_EQ(QuickAdjustModel::chips(s, false), automatic);

    s.exposure = ExposureSetting::Manual{400, 1.0 / 50};
    s.aperture = 4;
    s.liveAperture = 0;
    s.whiteBalance = WhiteBalance::Manual{5600.9f, 3};
    s.focus = FocusSetting::Manual{0.2f};
    s.liveShutter = 0;
    const std::vector<QuickAdjustModel::Chip> manual{{Control::ev, "EV —", false},   {Control::iso, "ISO 400", false},
                                                     {Control::shutter, "—", false}, {Control::aperture, "f/—", false},
                                                     {Control::whiteBalance, "5600K", false},
                                                     {Control::focus, "MF", false}};
    EXPECT_EQ(QuickAdjustModel::chips(s, false), manual);

    CameraStatus plain;
    plain.exposureBias = -1;
    plain.liveISO = fnan;
    const auto chips = QuickAdjustModel::chips(plain, false);
    ASSERT_EQ(chips.size(), 3u);  // no aperture, white balance or focus chip
    EXPECT_EQ(chips[0].text, "EV -1.0");
    EXPECT_EQ(chips[1].text, "ISO —");
}

TEST(QuickAdjustModel, ShutterChoices) {
    CameraStatus s = exposureStatus();
    auto choices = QuickAdjustModel::shutterChoices(s, false);
    ASSERT_EQ(choices.size(), 12u);
    EXPECT_DOUBLE_EQ(choices.front(), 1.0 / 8000);
    EXPECT_DOUBLE_EQ(choices.back(), 1.0 / 30);

    s.mode = CaptureMode::video;
    s.frameRate = 24;
    choices = QuickAdjustModel::shutterChoices(s, true);
    ASSERT_EQ(choices.size(), 9u);
    EXPECT_DOUBLE_EQ(choices.front(), 1.0 / 24);
    EXPECT_DOUBLE_EQ(choices.back(), 11.25 / 360 / 24);

    s.minShutter = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(QuickAdjustModel::shutterChoices(s, false).empty());
}

TEST(QuickAdjustModel, CurrentShutterAndWorkingISO) {
    CameraStatus s = exposureStatus();
    s.liveShutter = 1.0 / 45;
    EXPECT_DOUBLE_EQ(QuickAdjustModel::currentShutter(s, false), 1.0 / 48);
    s.liveShutter = 0;
    s.frameRate = 30;
    EXPECT_DOUBLE_EQ(QuickAdjustModel::currentShutter(s, false), 1.0 / 60);
    s.exposure = ExposureSetting::Manual{800, 1.0 / 90};
    EXPECT_DOUBLE_EQ(QuickAdjustModel::currentShutter(s, false), 1.0 / 90);
    EXPECT_EQ(QuickAdjustModel::workingISO(s), 800);
    s.exposure = ExposureSetting::Auto{};
    s.liveISO = 0;
    EXPECT_EQ(QuickAdjustModel::workingISO(s), 50);
    s.frameRate = std::numeric_limits<std::int64_t>::max();  // no overflow on the way to a base time
    s.minShutter = 0;
    EXPECT_DOUBLE_EQ(QuickAdjustModel::currentShutter(s, false), 1.0 / 8000);
}

TEST(QuickAdjustModel, IsoRangeIsAlwaysValid) {
    struct Case {
        float minISO, maxISO;
        double lower, upper;
    } cases[] = {
        {50, 3200, std::log2(50.0), std::log2(3200.0)},
        {0, 0, 0, 0},  // max(1, 0) = 1; max(0, 0 + 1) = 1
        {-5, -10, 0, 0},
        {100, 50, std::log2(100.0), std::log2(101.0)},
        {fnan, fnan, 0, 0},
        {std::numeric_limits<float>::infinity(), 100, 0, std::log2(100.0)},
    };
    for (const auto& c : cases) {
        CameraStatus s;
        s.minISO = c.minISO;
        s.maxISO = c.maxISO;
        const auto range = QuickAdjustModel::isoLogRange(s);
        EXPECT_NEAR(range.lower, c.lower, 1e-9) << c.minISO << " " << c.maxISO;
        EXPECT_NEAR(range.upper, c.upper, 1e-9) << c.minISO << " " << c.maxISO;
        EXPECT_LE(range.lower, range.upper);
    }
}

TEST(QuickAdjustModel, SliderCommands) {
    CameraStatus s = exposureStatus();
    QuickAdjustModel m;
    m.sync(s, false);
    m.isoLog = 8;
    EXPECT_EQ(m.sliderCommand(Control::iso, s, false),
              CameraCommand(CameraCommand::SetExposureMode{ExposureSetting::Manual{256, 1.0 / 50}}));
    s.shutterAngle = 172.8;
    EXPECT_EQ(m.sliderCommand(Control::iso, s, false), CameraCommand(CameraCommand::SetManualAngle{256, 172.8}));

    s.mode = CaptureMode::video;
    s.frameRate = 24;
    m.shutterIndex = 2;  // 360, 270, 180
    EXPECT_EQ(m.sliderCommand(Control::shutter, s, true), CameraCommand(CameraCommand::SetManualAngle{400, 180}));
    s.ntsc = true;
    EXPECT_EQ(m.sliderCommand(Control::shutter, s, true), CameraCommand(CameraCommand::SetManualAngle{400, 180}));
    m.shutterIndex = 9;
    EXPECT_EQ(m.sliderCommand(Control::shutter, s, true), std::nullopt);
    m.shutterIndex = -0.5;  // cut toward zero: index 0
    EXPECT_TRUE(m.sliderCommand(Control::shutter, s, true).has_value());

    s.whiteBalance = WhiteBalance::Manual{5600, 3};
    m.kelvin = 6000;
    EXPECT_EQ(m.sliderCommand(Control::whiteBalance, s, false),
              CameraCommand(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{6000, 3}}));
    s.whiteBalance = WhiteBalance::Auto{};
    EXPECT_EQ(m.sliderCommand(Control::whiteBalance, s, false),
              CameraCommand(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{6000, 0}}));

    s.apertureStops = {1.8f, 4};
    m.apertureIndex = 1;
    EXPECT_EQ(m.sliderCommand(Control::aperture, s, false), CameraCommand(CameraCommand::SetAperture{4.0f}));
    m.apertureIndex = 2;
    EXPECT_EQ(m.sliderCommand(Control::aperture, s, false), std::nullopt);
}

TEST(QuickAdjustModel, AutomaticButton) {
    CameraStatus s = exposureStatus();
    s.exposureBias = 0.02f;
    EXPECT_TRUE(QuickAdjustModel::showsAutomatic(Control::ev, s));
    s.exposureBias = 0.3f;
    EXPECT_FALSE(QuickAdjustModel::showsAutomatic(Control::ev, s));
    QuickAdjustModel m;
    m.ev = 0.3f;
    EXPECT_EQ(m.automaticCommand(s), CameraCommand(CameraCommand::SetExposureBias{0}));
    EXPECT_EQ(m.ev, 0);

    s.exposure = ExposureSetting::Manual{};
    EXPECT_EQ(QuickAdjustModel::adjuster(Control::ev, s, false), Adjuster::manualExposureNote);
    EXPECT_FALSE(QuickAdjustModel::showsAutomatic(Control::ev, s));
    m.ev = 1;
    EXPECT_EQ(m.automaticCommand(s), CameraCommand(CameraCommand::SetExposureMode{ExposureSetting::Auto{}}));
    EXPECT_EQ(m.ev, 0);

    s.focus = FocusSetting::Locked{};
    m.selected = Control::focus;
    EXPECT_FALSE(QuickAdjustModel::showsAutomatic(Control::focus, s));
    EXPECT_EQ(m.automaticCommand(s), CameraCommand(CameraCommand::SetFocusMode{FocusSetting::Auto{}}));
    m.selected = Control::aperture;
    EXPECT_EQ(m.automaticCommand(s), CameraCommand(CameraCommand::SetAperture{std::nullopt}));
}

TEST(QuickAdjustModel, SyncReadsEveryValue) {
    CameraStatus s = exposureStatus();
    s.exposureBias = -0.7f;
    s.whiteBalance = WhiteBalance::Manual{4300, 2};
    s.focus = FocusSetting::Manual{0.25f};
    s.apertureStops = {1.8f, 2.8f, 4};
    s.liveAperture = 2.3f;  // equally near 1.8 and 2.8: the earlier wins
    QuickAdjustModel m;
    m.sync(s, false);
    EXPECT_FLOAT_EQ(m.ev, -0.7f);
    EXPECT_FLOAT_EQ(m.isoLog, std::log2(400.0f));
    EXPECT_EQ(m.shutterIndex, 9);  // 1/50
    EXPECT_EQ(m.kelvin, 4300);
    EXPECT_EQ(m.lens, 0.25f);
    EXPECT_EQ(m.apertureIndex, 0);
    s.aperture = 4;
    m.sync(s, false);
    EXPECT_EQ(m.apertureIndex, 2);

    CameraStatus broken;
    broken.exposureBias = fnan;
    broken.liveISO = fnan;
    broken.whiteBalance = WhiteBalance::Manual{fnan, 0};
    m.sync(broken, false);
    EXPECT_EQ(m.ev, 0);
    EXPECT_EQ(m.isoLog, 0);
    EXPECT_EQ(m.kelvin, QuickAdjustModel::initialKelvin);
}

}  // namespace
}  // namespace morvane
