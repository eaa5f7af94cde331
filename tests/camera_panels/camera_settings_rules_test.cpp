#include <gtest/gtest.h>

#include <cmath>

#include "camera_panels/camera_settings_rules.h"

namespace morvane {
namespace {

std::vector<std::string> headers(const CameraStatus& status) {
    std::vector<std::string> result;
    for (const auto& s : settingsSections(status, false)) result.push_back(s.header);
    return result;
}

template <class T>
std::vector<std::string> labels(const std::vector<PickerOption<T>>& options) {
    std::vector<std::string> result;
    for (const auto& o : options) result.push_back(o.label);
    return result;
}

FormatOption format(std::int64_t width, std::int64_t height, std::vector<std::int64_t> rates,
                    std::vector<std::int64_t> logRates = {}) {
    FormatOption f;
    f.resolution = {width, height};
    f.frameRates = std::move(rates);
    f.logFrameRates = std::move(logRates);
    return f;
}

TEST(CameraSettingsRules, SectionsPerMode) {
    CameraStatus photo;
    EXPECT_EQ(headers(photo), (std::vector<std::string>{"Exposure", "White balance", "Focus", "Photo", "Sound",
                                                        "Exposure aids", "Monitoring LUT"}));
    CameraStatus video;
    video.mode = CaptureMode::video;
    video.isRecording = true;
    const auto sections = settingsSections(video, false);
    EXPECT_EQ(headers(video), (std::vector<std::string>{"Exposure", "White balance", "Focus", "Video", "Sound",
                                                        "Exposure aids", "Monitoring LUT"}));
    EXPECT_FALSE(sections[3].enabled);
    EXPECT_EQ(sections[3].footer, "Stop recording to change the format.");

    struct WhiteBalanceCase {
        bool supports;
        WhiteBalance reported;
        bool enabled, footer;
    } cases[] = {{false, WhiteBalance::Auto{}, false, true},
                 {false, WhiteBalance::Manual{}, true, true},
                 {true, WhiteBalance::Auto{}, true, false}};
    for (const auto& c : cases) {
        CameraStatus s;
        s.supportsManualWhiteBalance = c.supports;
        s.whiteBalance = c.reported;
        const auto section = settingsSections(s, false)[1];
        EXPECT_EQ(section.enabled, c.enabled);
        EXPECT_EQ(section.footer.has_value(), c.footer);
    }
}

TEST(CameraSettingsRules, FormatAndRates) {
    CameraStatus s;
    s.mode = CaptureMode::video;
    s.formats = {format(1920, 1080, {24, 25, 30, 60}, {24, 30}), format(3840, 2160, {24, 25, 30}),
                 format(1280, 720, {})};
    const Resolution uhd{3840, 2160};
    struct Case {
        std::int64_t current, sent;
    } cases[] = {{30, 30}, {60, 30}, {20, 24}, {25, 25}};
    for (const auto& c : cases) {
        s.frameRate = c.current;
        EXPECT_EQ(frameRateForFormat(s, uhd), c.sent) << c.current;
    }
    EXPECT_EQ(frameRateForFormat(s, {1280, 720}), 30);
    EXPECT_EQ(frameRateForFormat(s, {640, 480}), 30);
    s.frameRate = 20;
    EXPECT_EQ(formatCommand(s, uhd), CameraCommand(CameraCommand::SetFormat{uhd, 24}));

    EXPECT_EQ(labels(rateOptions(s)), (std::vector<std::string>{"23.98 fps", "24 fps", "25 fps", "29.97 fps", "30 fps",
                                                                "59.94 fps", "60 fps"}));
    EXPECT_EQ(rateChoices(s)[3], (RateChoice{30, true}));
    EXPECT_EQ(labels(colourOptions(s)), (std::vector<std::string>{"SDR", "Log"}));
    EXPECT_EQ(labels(resolutionOptions(s)), (std::vector<std::string>{"1080p", "4K", "720p"}));

    s.resolution = {640, 480};
    s.frameRate = 30;
    EXPECT_EQ(labels(rateOptions(s)), (std::vector<std::string>{"29.97 fps", "30 fps"}));
    EXPECT_EQ(labels(colourOptions(s)), (std::vector<std::string>{"SDR"}));
}

TEST(CameraSettingsRules, PickersShownByWhatTheCameraOffers) {
    CameraStatus s;
    EXPECT_TRUE(codecOptions(s).empty());
    EXPECT_TRUE(stabilizationOptions(s).empty());
    EXPECT_EQ(labels(microphoneOptions(s)), (std::vector<std::string>{"Automatic"}));
    EXPECT_EQ(microphoneOptions(s)[0].value, "auto");
    s.proResCodecs = {VideoCodec::proRes422HQ, VideoCodec::proRes422Proxy};
    s.stabilizationModes = {Stabilization::cinematic};
    s.audioInputs = {{"builtin", "iPhone Microphone"}, {"usb", "Rode VideoMic"}};
    EXPECT_EQ(labels(codecOptions(s)), (std::vector<std::string>{"HEVC", "ProRes 422 HQ", "ProRes 422 Proxy"}));
    EXPECT_EQ(labels(stabilizationOptions(s)), (std::vector<std::string>{"Off", "Cinematic"}));
    EXPECT_EQ(labels(microphoneOptions(s)), (std::vector<std::string>{"iPhone Microphone", "Rode VideoMic"}));
    EXPECT_EQ(labels(lookOptions(s)), (std::vector<std::string>{"None", "Log → Rec.709", "Log 2 → Rec.709"}));
    s.customLUTName = "Film Look";
    EXPECT_EQ(lookOptions(s).back(), (PickerOption<PreviewLUT>{"Film Look", PreviewLUT::custom}));
}

TEST(CameraSettingsRules, Footers) {
    CameraStatus s;
    s.mode = CaptureMode::video;
    s.codec = VideoCodec::proRes422Proxy;
    EXPECT_EQ(formatFooter(s).rfind("ProRes 422 Proxy is about 1.3 GB a minute in 4K at 30 fps", 0), 0u);
    s.recordToDrive = true;
    s.externalDrive = DriveStatus{"T7", 12'300'000'000, std::nullopt};
    EXPECT_EQ(formatFooter(s).rfind("Takes go straight onto T7 (12.3 GB free), in its DCIM folder.", 0), 0u);
    s.isRecording = true;
    EXPECT_EQ(formatFooter(s), "Stop recording to change the format.");
    s = {};
    s.stabilization = Stabilization::standard;
    EXPECT_EQ(formatFooter(s).rfind("Stabilisation crops", 0), 0u);
    s.stabilization = Stabilization::off;
    s.colorProfile = ColorProfile::appleLog;
    EXPECT_EQ(formatFooter(s).rfind("Log records flat", 0), 0u);
    // The SDR footer names only the profiles the camera offers in its format.
    s.colorProfile = ColorProfile::standard;
    s.resolution = {1920, 1080};
    struct ProfileCase {
        FormatOption format;
        const char* footer;
    } profiles[] = {
        {format(1920, 1080, {30}), "Used in video mode. SDR plays right everywhere."},
        {format(1920, 1080, {30}, {30}),
         "Used in video mode. SDR plays right everywhere. Log records flat, 10-bit video for grading."},
    };
    for (const auto& c : profiles) {
        s.formats = {c.format};
        EXPECT_EQ(formatFooter(s), c.footer);
    }

    EXPECT_EQ(fileByteCountText(0), "Zero KB");
    EXPECT_EQ(fileByteCountText(512), "512 bytes");
    EXPECT_EQ(fileByteCountText(740'000), "740 KB");
    EXPECT_EQ(fileByteCountText(2'000'000'000), "2 GB");
    EXPECT_EQ(fileByteCountText(-5), "Zero KB");

    CameraStatus e;
    e.frameRate = 25;
    EXPECT_EQ(exposureFooter(e, false).substr(exposureFooter(e, false).find("For natural")),
              "For natural motion, use a shutter about twice the frame rate: 1/50 at 25 fps (180°).");
    e.mode = CaptureMode::video;
    EXPECT_NE(exposureFooter(e, true).find("180° gives natural motion"), std::string::npos);
    e.apertureStops = {1.8f};
    EXPECT_EQ(exposureFooter(e, true).rfind("This lens has a variable aperture.", 0), 0u);
    e = {};
    e.frameRate = std::numeric_limits<std::int64_t>::max();
    EXPECT_NE(exposureFooter(e, false).find("1/— at"), std::string::npos);

    EXPECT_EQ(portraitFooter(e), "This camera can't capture depth for Portrait photos.");
    e.supportsPortrait = true;
    EXPECT_TRUE(portraitEnabled(e));
    e.isRecording = true;
    EXPECT_FALSE(portraitEnabled(e));
}

TEST(CameraSettingsRules, ShutterAndAngleLists) {
    struct NearestCase {
        double live, shutter;
    } nearest[] = {{1.0 / 45, 1.0 / 48}, {1.0 / 90, 1.0 / 100}, {1.0 / 55, 1.0 / 60}, {0.3, 1.0 / 4}, {0, 1.0 / 8000}};
    for (const auto& c : nearest) EXPECT_DOUBLE_EQ(nearestStandardShutter(c.live), c.shutter) << c.live;
    EXPECT_EQ(nearestStandardAngle(1.0 / 50, 25), 180);
    EXPECT_EQ(nearestStandardAngle(1.0 / 60, 24), 144);
    EXPECT_EQ(nearestStandardAngle(1.0 / 100, 30), 90);
    EXPECT_EQ(nearestStandardAngle(std::nan(""), 30), 11.25);

    CameraStatus s;
    s.minShutter = 1.0 / 8000;
    s.maxShutter = 1.0 / 30;
    auto shutters = shutterOptions(s, 1.0 / 90);
    ASSERT_EQ(shutters.size(), 13u);
    EXPECT_DOUBLE_EQ(shutters.back(), 1.0 / 30);
    EXPECT_DOUBLE_EQ(shutters[7], 1.0 / 100);
    EXPECT_DOUBLE_EQ(shutters[8], 1.0 / 90);
    EXPECT_EQ(shutterOptions(s, 1.0 / 60).size(), 12u);

    s.frameRate = 24;
    const auto angles = angleOptions(s, 180);
    EXPECT_EQ(angles.back(), 270);
    s.frameRate = 0;
    s.maxShutter = 1.0 / 32;
    EXPECT_EQ(angleOptions(s, 180).front(), 11.25);  // a / 360 s: 11.25° lasts 1/32 s
    EXPECT_EQ(angleOptions(s, 180).size(), 2u);      // 11.25 and the current 180
}

TEST(CameraSettingsRules, TextsAndAids) {
    EXPECT_EQ(isoText(99.5f), "ISO 100");
    EXPECT_EQ(kelvinText(5234.7f), "Temperature: 5234 K");
    EXPECT_EQ(tintText(12.9f), "Tint: +12");
    EXPECT_EQ(tintText(-3.7f), "Tint: -3");
    EXPECT_EQ(tintText(-0.5f), "Tint: 0");
    EXPECT_EQ(tintText(0), "Tint: +0");
    EXPECT_EQ(tintText(std::nanf("")), "Tint: —");

    CameraStatus s;
    EXPECT_EQ(labels(focusOptions(s)), (std::vector<std::string>{"Auto", "Lock"}));
    EXPECT_EQ(focusSelection(s), 0);
    s.focus = FocusSetting::Manual{0.3f};
    EXPECT_EQ(focusSelection(s), std::nullopt);  // no "Manual" segment to choose
    s.supportsManualFocus = true;
    EXPECT_EQ(focusSelection(s), 2);

    s.zebras = true;
    s.peakingLevel = PeakingLevel::high;
    s.scope = ScopeKind::parade;
    EXPECT_EQ(reportedAids(s), (ExposureAids{true, false, PeakingLevel::high, false, false, ScopeKind::parade}));
    EXPECT_EQ(labels(scopeOptions()), (std::vector<std::string>{"Off", "Waveform", "RGB parade"}));
    EXPECT_EQ(labels(peakingOptions()), (std::vector<std::string>{"Low", "Medium", "High"}));
}

TEST(CameraSettingsModel, SeedingSendsNothingAndFillsTheAngle) {
    CameraStatus s;
    s.mode = CaptureMode::video;
    s.frameRate = 25;
    s.exposure = ExposureSetting::Manual{640, 1.0 / 50};
    CameraSettingsModel m;
    m.syncFromStatus(s);
    EXPECT_EQ(m.iso, 640);
    EXPECT_EQ(m.angle, 180);
    s.shutterAngle = 172.8;
    m.syncFromStatus(s);
    EXPECT_EQ(m.angle, 172.8);

    CameraSettingsModel fresh;
    fresh.syncFromStatus(CameraStatus{});
    EXPECT_EQ(fresh.iso, 100);
    EXPECT_EQ(fresh.shutter, 1.0 / 60);
    EXPECT_EQ(fresh.angle, 180);
    EXPECT_EQ(fresh.kelvin, 5600);
    EXPECT_EQ(fresh.tint, 0);
    EXPECT_EQ(fresh.lensPosition, 0.5f);
}

TEST(CameraSettingsModel, ExposureHandlers) {
    CameraStatus s;
    CameraSettingsModel m;
    EXPECT_EQ(m.exposureModeChosen(true, s, false),
              CameraCommand(CameraCommand::SetExposureMode{ExposureSetting::Manual{100, 1.0 / 60}}));
    s.liveISO = 320;
    s.liveShutter = 1.0 / 45;
    EXPECT_EQ(m.exposureModeChosen(true, s, false),
              CameraCommand(CameraCommand::SetExposureMode{ExposureSetting::Manual{320, 1.0 / 48}}));
    EXPECT_EQ(m.exposureModeChosen(false, s, false),
              CameraCommand(CameraCommand::SetExposureMode{ExposureSetting::Auto{}}));

    // While the camera still reports automatic exposure, edits only change the values.
    EXPECT_EQ(m.isoChanged(400, s, false), std::nullopt);
    EXPECT_EQ(m.iso, 400);
    s.exposure = ExposureSetting::Manual{400, 1.0 / 48};
    EXPECT_EQ(m.isoChanged(400, s, false), std::nullopt);  // no change
    EXPECT_EQ(m.isoChanged(800, s, false),
              CameraCommand(CameraCommand::SetExposureMode{ExposureSetting::Manual{800, 1.0 / 48}}));
    EXPECT_EQ(m.shutterChanged(1.0 / 100, s, false),
              CameraCommand(CameraCommand::SetExposureMode{ExposureSetting::Manual{800, 1.0 / 100}}));
    EXPECT_EQ(m.angleChanged(90, s, true), std::nullopt);  // photo mode: no angles

    s.mode = CaptureMode::video;
    s.frameRate = 24;
    EXPECT_EQ(m.angleChanged(144, s, true), CameraCommand(CameraCommand::SetManualAngle{800, 144}));
    EXPECT_EQ(m.shutterChanged(1.0 / 50, s, true), std::nullopt);
    EXPECT_EQ(m.isoChanged(1600, s, true), CameraCommand(CameraCommand::SetManualAngle{1600, 144}));
}

TEST(CameraSettingsModel, WhiteBalanceAndFocusHandlers) {
    CameraStatus s;
    CameraSettingsModel m;
    EXPECT_EQ(m.whiteBalanceAutoToggled(false),
              CameraCommand(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{5600, 0}}));
    EXPECT_TRUE(m.kelvinChanged(6000, s).empty());  // automatic: nothing sent
    s.whiteBalance = WhiteBalance::Manual{6000, 10};
    m.tint = 10;
    EXPECT_TRUE(m.presetChosen(6000, s).size() == 1);  // only the tint changed
    EXPECT_TRUE(m.presetChosen(6000, s).empty());      // nothing changed
    m.tint = 10;
    const auto both = m.presetChosen(3200, s);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0], CameraCommand(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{3200, 0}}));
    const auto tinted = m.tintChanged(-5, s);
    ASSERT_EQ(tinted.size(), 1u);
    EXPECT_EQ(tinted[0], CameraCommand(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{3200, -5}}));

    EXPECT_EQ(m.focusChosen(2), CameraCommand(CameraCommand::SetFocusMode{FocusSetting::Manual{0.5f}}));
    EXPECT_EQ(m.focusChosen(1), CameraCommand(CameraCommand::SetFocusMode{FocusSetting::Locked{}}));
    EXPECT_EQ(m.lensPositionChanged(0.5f), std::nullopt);
    EXPECT_EQ(m.lensPositionChanged(0.8f), CameraCommand(CameraCommand::SetFocusMode{FocusSetting::Manual{0.8f}}));
}

}  // namespace
}  // namespace morvane
