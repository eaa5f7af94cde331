#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/camera_command.h"
#include "protocol/camera_status.h"

// The rules of the camera settings sheet, apart from its widgets: which sections show with which texts, the
// options of each picker, and the commands its controls build.

namespace morvane {

// Sheet frame.
enum class SettingsSection { exposure, whiteBalance, focus, video, photo, sound, exposureAids, monitoringLUT };

struct SectionLayout {
    SettingsSection section;
    std::string header;
    std::optional<std::string> footer;
    bool enabled = true;
    friend bool operator==(const SectionLayout&, const SectionLayout&) = default;
};

/// The sections in order ("Video" in video mode, "Photo" in photo mode), with their footers and enabled state.
std::vector<SectionLayout> settingsSections(const CameraStatus& status, bool showsAngle);

/// Angle mode: angles are wanted, the camera is in video mode and its frame rate is above 0.
bool usesAngle(const CameraStatus& status, bool showsAngle);

// Video, Photo and Sound.
struct RateChoice {
    std::int64_t nominal = 30;
    bool ntsc = false;
    friend bool operator==(const RateChoice&, const RateChoice&) = default;
};

template <class T>
struct PickerOption {
    std::string label;
    T value;
    friend bool operator==(const PickerOption&, const PickerOption&) = default;
};

std::string colorProfileLabel(ColorProfile profile);
std::string codecLabel(VideoCodec codec);
std::string stabilizationLabel(Stabilization mode);
/// Gigabytes a minute of 4K at 30 fps; 0 for HEVC.
double codecDataRate(VideoCodec codec);
/// Decimal units in the style of file sizes: "512 bytes", "740 KB", "12.3 GB".
std::string fileByteCountText(std::int64_t bytes);

/// The entry of `formats` whose resolution is the camera's.
std::optional<FormatOption> currentFormat(const CameraStatus& status);
std::vector<PickerOption<Resolution>> resolutionOptions(const CameraStatus& status);
/// The frame rate sent with a newly chosen resolution.
std::int64_t frameRateForFormat(const CameraStatus& status, const Resolution& resolution);
CameraCommand formatCommand(const CameraStatus& status, const Resolution& resolution);
std::vector<RateChoice> rateChoices(const CameraStatus& status);
std::vector<PickerOption<RateChoice>> rateOptions(const CameraStatus& status);
std::vector<PickerOption<ColorProfile>> colourOptions(const CameraStatus& status);
std::vector<PickerOption<VideoCodec>> codecOptions(const CameraStatus& status);
std::vector<PickerOption<Stabilization>> stabilizationOptions(const CameraStatus& status);
std::string formatFooter(const CameraStatus& status);
std::string portraitFooter(const CameraStatus& status);
bool portraitEnabled(const CameraStatus& status);
std::vector<PickerOption<std::string>> microphoneOptions(const CameraStatus& status);

// Monitoring LUT.
std::vector<PickerOption<PreviewLUT>> lookOptions(const CameraStatus& status);

// Exposure.
/// The nearest entry in the ratio sense, the earlier winning a tie (the first for a target of 0).
double nearestStandardShutter(double seconds);
double nearestStandardAngle(double seconds, double fps);
std::vector<double> shutterOptions(const CameraStatus& status, double current);
std::vector<double> angleOptions(const CameraStatus& status, double current);
std::string exposureFooter(const CameraStatus& status, bool showsAngle);
std::string isoText(float iso);

// White balance and focus.
struct WhiteBalancePreset {
    const char* label;
    float kelvin;
};
const std::vector<WhiteBalancePreset>& whiteBalancePresets();
std::string kelvinText(float kelvin);
std::string tintText(float tint);
/// The focus picker's segments (0 auto, 1 lock, 2 manual when supported) and the one chosen, if any.
std::vector<PickerOption<int>> focusOptions(const CameraStatus& status);
std::optional<int> focusSelection(const CameraStatus& status);

// Exposure aids.
ExposureAids reportedAids(const CameraStatus& status);
std::vector<PickerOption<PeakingLevel>> peakingOptions();
std::vector<PickerOption<ScopeKind>> scopeOptions();

/// The sheet's editing values of the manual exposure, white-balance and focus controls, with the handlers
/// that turn a person's change into a command. Seeding from the status sends nothing: with "All" on a seeded
/// value would overwrite every other camera, and a snapped angle would change the camera's real shutter.
class CameraSettingsModel {
public:
    float iso = 100;
    double shutter = 1.0 / 60;
    double angle = 180;
    float kelvin = 5600;
    float tint = 0;
    float lensPosition = 0.5f;

    /// The one-time copy of the camera's manual values when the sheet is shown.
    void syncFromStatus(const CameraStatus& status);

    /// The "Exposure" picker: auto sends automatic exposure; manual seeds from the live readings and sends them.
    CameraCommand exposureModeChosen(bool manual, const CameraStatus& status, bool showsAngle);
    /// Each returns the command for a person's change, or none when the value is unchanged or the rules say so.
    std::optional<CameraCommand> isoChanged(float value, const CameraStatus& status, bool showsAngle);
    std::optional<CameraCommand> shutterChanged(double value, const CameraStatus& status, bool showsAngle);
    std::optional<CameraCommand> angleChanged(double value, const CameraStatus& status, bool showsAngle);

    CameraCommand whiteBalanceAutoToggled(bool on) const;
    std::vector<CameraCommand> kelvinChanged(float value, const CameraStatus& status);
    std::vector<CameraCommand> tintChanged(float value, const CameraStatus& status);
    /// A preset sets kelvin and tint 0; each value that changed sends the pair once.
    std::vector<CameraCommand> presetChosen(float presetKelvin, const CameraStatus& status);

    CameraCommand focusChosen(int segment) const;
    std::optional<CameraCommand> lensPositionChanged(float value);

private:
    CameraCommand manualExposureCommand(bool angleMode) const;
    std::optional<CameraCommand> whiteBalanceCommand(const CameraStatus& status) const;
};

}  // namespace morvane
