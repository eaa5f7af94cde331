#include "camera_panels/camera_settings_rules.h"

#include <algorithm>
#include <cmath>

#include "camera_panels/camera_numbers.h"
#include "camera_panels/exposure_tables.h"
#include "camera_panels/status_texts.h"
#include "protocol/timeline_rate.h"

namespace morvane {
namespace {

double framesPerSecond(const CameraStatus& status) {
    return TimelineRate::fps(status.frameRate, status.ntsc);
}

bool exposureIsManual(const CameraStatus& status) {
    return status.exposure.is<ExposureSetting::Manual>();
}

template <std::size_t N>
double nearestByRatio(const std::array<double, N>& table, double target) {
    double best = table.front();
    double bestDistance = std::abs(std::log(table.front() / target));
    for (double candidate : table) {
        const double distance = std::abs(std::log(candidate / target));
        // A NaN distance (target 0 or not finite) never wins, so the first entry stays.
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

bool withinShutterLimits(const CameraStatus& status, double seconds) {
    return status.minShutter * 0.99 <= seconds && seconds <= status.maxShutter * 1.01;
}

std::vector<double> withCurrent(std::vector<double> values, double current) {
    if (std::isfinite(current) && std::find(values.begin(), values.end(), current) == values.end()) {
        values.push_back(current);
        std::sort(values.begin(), values.end());
    }
    return values;
}

const char* const exposureAidsFooter =
    "Zebra stripes mark areas about to blow out; focus peaking outlines what's sharp in red (higher sensitivity "
    "marks softer detail too). False colour paints brightness: green is mid grey, pink skin, yellow near white, red "
    "clipped, blue and purple crushed shadows. Clipping shows only red highlights and blue blacks. Scope shows a "
    "waveform (brightness across the picture, white at the top) or an RGB parade (each colour channel) next to the "
    "feed. These show on the remote only. Grid (rule of thirds) and Level (the camera's tilt; yellow when straight) "
    "are for this screen, on a camera or a remote. None of them is ever recorded.";

const char* const soundFooter =
    "This camera's microphone for video. Plug in a USB or Bluetooth mic and it appears here. Set per "
    "camera; All cameras doesn't change it. The level meter on the remote shows what it hears.";

}  // namespace

bool usesAngle(const CameraStatus& status, bool showsAngle) {
    return showsAngle && status.mode == CaptureMode::video && framesPerSecond(status) > 0;
}

std::vector<SectionLayout> settingsSections(const CameraStatus& status, bool showsAngle) {
    std::vector<SectionLayout> sections;
    sections.push_back({SettingsSection::exposure, "Exposure", exposureFooter(status, showsAngle), true});
    std::optional<std::string> whiteBalanceFooter;
    if (!status.supportsManualWhiteBalance) {
        whiteBalanceFooter = "This camera only supports automatic white balance.";
    }
    sections.push_back({SettingsSection::whiteBalance, "White balance", whiteBalanceFooter,
                        status.supportsManualWhiteBalance || !status.whiteBalance.is<WhiteBalance::Auto>()});
    sections.push_back({SettingsSection::focus, "Focus",
                        std::string("Clicking the picture returns to autofocus at that spot."), true});
    if (status.mode == CaptureMode::video) {
        sections.push_back({SettingsSection::video, "Video", formatFooter(status), !status.isRecording});
    } else {
        sections.push_back({SettingsSection::photo, "Photo", portraitFooter(status), true});
    }
    sections.push_back({SettingsSection::sound, "Sound", std::string(soundFooter), true});
    sections.push_back({SettingsSection::exposureAids, "Exposure aids", std::string(exposureAidsFooter), true});
    sections.push_back({SettingsSection::monitoringLUT, "Monitoring LUT",
                        std::string("Applied to the live picture only. Photos and recordings are never altered."),
                        true});
    return sections;
}

std::string colorProfileLabel(ColorProfile profile) {
    switch (profile) {
        case ColorProfile::standard:
            return "SDR";
        case ColorProfile::hdr:
            return "HDR (HLG)";
        case ColorProfile::appleLog:
            return "Log";
        case ColorProfile::appleLog2:
            return "Log 2";
    }
    return {};
}

std::string codecLabel(VideoCodec codec) {
    return codecDisplayName(codec);
}

std::string stabilizationLabel(Stabilization mode) {
    std::string text = caseName(mode);
    if (!text.empty()) text.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(text.front())));
    return text;
}

double codecDataRate(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::hevc:
            return 0;
        case VideoCodec::proRes4444XQ:
            return 14.9;
        case VideoCodec::proRes4444:
            return 9.9;
        case VideoCodec::proRes422HQ:
            return 6.6;
        case VideoCodec::proRes422:
            return 4.4;
        case VideoCodec::proRes422LT:
            return 2.8;
        case VideoCodec::proRes422Proxy:
            return 1.3;
    }
    return 0;
}

std::string fileByteCountText(std::int64_t bytes) {
    if (bytes <= 0) return "Zero KB";
    if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < std::size(units)) {
        value /= 1000.0;
        ++unit;
    }
    std::string number = formatted(unit == 0 ? "%.0f" : "%.1f", value);
    if (number.size() > 2 && number.compare(number.size() - 2, 2, ".0") == 0) number.resize(number.size() - 2);
    return number + " " + units[unit];
}

std::optional<FormatOption> currentFormat(const CameraStatus& status) {
    for (const auto& format : status.formats) {
        if (format.resolution == status.resolution) return format;
    }
    return std::nullopt;
}

std::vector<PickerOption<Resolution>> resolutionOptions(const CameraStatus& status) {
    std::vector<PickerOption<Resolution>> options;
    for (const auto& format : status.formats) options.push_back({format.resolution.label(), format.resolution});
    return options;
}

std::int64_t frameRateForFormat(const CameraStatus& status, const Resolution& resolution) {
    std::vector<std::int64_t> offered;
    for (const auto& format : status.formats) {
        if (format.resolution == resolution) {
            offered = format.frameRatesFor(status.colorProfile);
            break;
        }
    }
    if (offered.empty()) return 30;
    if (std::find(offered.begin(), offered.end(), status.frameRate) != offered.end()) return status.frameRate;
    std::optional<std::int64_t> below;
    for (std::int64_t rate : offered) {
        if (rate <= status.frameRate && (!below || rate > *below)) below = rate;
    }
    return below.value_or(offered.front());
}

CameraCommand formatCommand(const CameraStatus& status, const Resolution& resolution) {
    return CameraCommand::SetFormat{resolution, frameRateForFormat(status, resolution)};
}

std::vector<RateChoice> rateChoices(const CameraStatus& status) {
    const auto format = currentFormat(status);
    const std::vector<std::int64_t> offered =
        format ? format->frameRatesFor(status.colorProfile) : std::vector<std::int64_t>{status.frameRate};
    std::vector<RateChoice> choices;
    for (std::int64_t rate : offered) {
        if (TimelineRate::ntscRates().count(rate)) choices.push_back({rate, true});
        choices.push_back({rate, false});
    }
    return choices;
}

std::vector<PickerOption<RateChoice>> rateOptions(const CameraStatus& status) {
    std::vector<PickerOption<RateChoice>> options;
    for (const auto& choice : rateChoices(status)) {
        options.push_back({frameRateLabel(choice.nominal, choice.ntsc) + " fps", choice});
    }
    return options;
}

std::vector<PickerOption<ColorProfile>> colourOptions(const CameraStatus& status) {
    std::vector<PickerOption<ColorProfile>> options{
        {colorProfileLabel(ColorProfile::standard), ColorProfile::standard}};
    const auto format = currentFormat(status);
    if (!format) return options;
    for (ColorProfile profile : {ColorProfile::hdr, ColorProfile::appleLog, ColorProfile::appleLog2}) {
        if (!format->frameRatesFor(profile).empty()) options.push_back({colorProfileLabel(profile), profile});
    }
    return options;
}

std::vector<PickerOption<VideoCodec>> codecOptions(const CameraStatus& status) {
    if (status.proResCodecs.empty()) return {};
    std::vector<PickerOption<VideoCodec>> options{{codecLabel(VideoCodec::hevc), VideoCodec::hevc}};
    for (VideoCodec codec : status.proResCodecs) options.push_back({codecLabel(codec), codec});
    return options;
}

std::vector<PickerOption<Stabilization>> stabilizationOptions(const CameraStatus& status) {
    if (status.stabilizationModes.empty()) return {};
    std::vector<PickerOption<Stabilization>> options{{stabilizationLabel(Stabilization::off), Stabilization::off}};
    for (Stabilization mode : status.stabilizationModes) options.push_back({stabilizationLabel(mode), mode});
    return options;
}

std::string formatFooter(const CameraStatus& status) {
    if (status.isRecording) return "Stop recording to change the format.";
    if (status.recordToDrive && status.externalDrive) {
        return "Takes go straight onto " + status.externalDrive->name + " (" +
               fileByteCountText(status.externalDrive->freeBytes) +
               " free), in its DCIM folder. They stay there: plug the drive into this computer to import them. If the "
               "drive is unplugged, the next take is recorded on the camera itself.";
    }
    if (status.codec != VideoCodec::hevc) {
        return codecLabel(status.codec) + " is about " + formatted("%.1f", codecDataRate(status.codec)) +
               " GB a minute in 4K at 30 fps (HEVC: 0.4 GB) and records up to 30 fps in 4K. Plug in a USB-C SSD to "
               "record straight onto it, or send it to this computer by USB cable: wirelessly it would take hours. The "
               "deck still gets light 1080p HEVC copies.";
    }
    if (status.stabilization != Stabilization::off) {
        return "Stabilisation crops the picture (Cinematic more) and adds a little delay; the camera's screen shows "
               "the cropped picture. Off keeps each angle's full frame, best on a tripod.";
    }
    switch (status.colorProfile) {
        case ColorProfile::standard: {
            // Only the profiles this camera offers in its format: most cameras here record SDR alone.
            std::string text = "Used in video mode. SDR plays right everywhere.";
            std::string logs;
            int logCount = 0;
            for (const auto& option : colourOptions(status)) {
                if (option.value == ColorProfile::hdr) text += " HDR (HLG) keeps bright highlights for HDR screens.";
                if (option.value == ColorProfile::appleLog || option.value == ColorProfile::appleLog2) {
                    logs += (logCount++ ? " and " : "") + option.label;
                }
            }
            if (logCount)
                text += " " + logs + (logCount > 1 ? " record" : " records") + " flat, 10-bit video for grading.";
            return text;
        }
        case ColorProfile::hdr:
            return "HDR (HLG, Rec.2020, 10-bit) looks right on HDR screens and still fine on others. Edit it in an HDR "
                   "timeline. The remote shows it as it is, without tone mapping.";
        case ColorProfile::appleLog:
            return "Log records flat, 10-bit video for grading later. The live picture shows it graded (Log → "
                   "Rec.709); recordings are never changed.";
        case ColorProfile::appleLog2:
            return "Log 2 records flat, 10-bit video in a wide gamut, for grading later. The live picture shows it "
                   "graded (Log 2 → Rec.709), and so do the deck's 1080p copies; recordings are never changed.";
    }
    return {};
}

std::string portraitFooter(const CameraStatus& status) {
    if (status.supportsPortrait) {
        return "Saves depth with each photo so a photo editor can blur the background, and adjust or remove the "
               "blur later. Uses the wide and ultra-wide lenses.";
    }
    return "This camera can't capture depth for Portrait photos.";
}

bool portraitEnabled(const CameraStatus& status) {
    return status.supportsPortrait && !status.isRecording;
}

std::vector<PickerOption<std::string>> microphoneOptions(const CameraStatus& status) {
    std::vector<PickerOption<std::string>> options;
    for (const auto& input : status.audioInputs) options.push_back({input.name, input.id});
    if (options.empty()) options.push_back({"Automatic", "auto"});
    return options;
}

std::vector<PickerOption<PreviewLUT>> lookOptions(const CameraStatus& status) {
    std::vector<PickerOption<PreviewLUT>> options{{"None", PreviewLUT::none},
                                                  {"Log → Rec.709", PreviewLUT::appleLogToRec709},
                                                  {"Log 2 → Rec.709", PreviewLUT::appleLog2ToRec709}};
    if (status.customLUTName) options.push_back({*status.customLUTName, PreviewLUT::custom});
    return options;
}

double nearestStandardShutter(double seconds) {
    return nearestByRatio(standardShutters(), seconds);
}

double nearestStandardAngle(double seconds, double fps) {
    return nearestByRatio(standardAngles(), seconds * fps * 360.0);
}

std::vector<double> shutterOptions(const CameraStatus& status, double current) {
    std::vector<double> values;
    for (double t : standardShutters()) {
        if (withinShutterLimits(status, t)) values.push_back(t);
    }
    return withCurrent(std::move(values), current);
}

std::vector<double> angleOptions(const CameraStatus& status, double current) {
    const double fps = framesPerSecond(status);
    std::vector<double> values;
    for (double a : standardAngles()) {
        const double duration = fps > 1 ? a / 360.0 / fps : a / 360.0;
        if (withinShutterLimits(status, duration)) values.push_back(a);
    }
    return withCurrent(std::move(values), current);
}

std::string exposureFooter(const CameraStatus& status, bool showsAngle) {
    if (!status.apertureStops.empty()) {
        return "This lens has a variable aperture. With Auto exposure, choosing an f-number gives aperture priority: "
               "shutter and ISO follow the light. Lower f-numbers blur the background more; higher ones keep more in "
               "focus. With All cameras on, every camera that has one gets the same f-number.";
    }
    const std::string lead =
        "Manual ISO and shutter keep exposure steady and, with All cameras on, identical on every camera so angles "
        "match. ";
    if (usesAngle(status, showsAngle)) {
        return lead +
               "180° gives natural motion; smaller angles look crisper, 360° smoother. The camera keeps the angle when "
               "you change the frame rate.";
    }
    // Doubling in floating point: a rate near the integer limit must not overflow.
    const auto twice = wholeNumber(2.0 * static_cast<double>(status.frameRate));
    return lead + "For natural motion, use a shutter about twice the frame rate: 1/" + wholeNumberText(twice) + " at " +
           frameRateLabel(status.frameRate, status.ntsc) + " fps (180°).";
}

std::string isoText(float iso) {
    return "ISO " + wholeNumberText(roundedNumber(iso));
}

const std::vector<WhiteBalancePreset>& whiteBalancePresets() {
    static const std::vector<WhiteBalancePreset> presets{
        {"Tungsten", 3200}, {"Fluorescent", 4000}, {"Daylight", 5600}, {"Cloudy", 6500}, {"Shade", 7500}};
    return presets;
}

std::string kelvinText(float kelvin) {
    return "Temperature: " + wholeNumberText(wholeNumber(kelvin)) + " K";
}

std::string tintText(float tint) {
    const auto whole = wholeNumber(tint);
    return std::string("Tint: ") + (tint >= 0 ? "+" : "") + wholeNumberText(whole);
}

std::vector<PickerOption<int>> focusOptions(const CameraStatus& status) {
    std::vector<PickerOption<int>> options{{"Auto", 0}, {"Lock", 1}};
    if (status.supportsManualFocus) options.push_back({"Manual", 2});
    return options;
}

std::optional<int> focusSelection(const CameraStatus& status) {
    int value = 0;
    if (status.focus.is<FocusSetting::Locked>()) value = 1;
    if (status.focus.is<FocusSetting::Manual>()) value = 2;
    for (const auto& option : focusOptions(status)) {
        if (option.value == value) return value;
    }
    return std::nullopt;
}

ExposureAids reportedAids(const CameraStatus& status) {
    return {status.zebras, status.peaking, status.peakingLevel, status.falseColor, status.clipping, status.scope};
}

std::vector<PickerOption<PeakingLevel>> peakingOptions() {
    return {{"Low", PeakingLevel::low}, {"Medium", PeakingLevel::medium}, {"High", PeakingLevel::high}};
}

std::vector<PickerOption<ScopeKind>> scopeOptions() {
    return {{"Off", ScopeKind::off}, {"Waveform", ScopeKind::waveform}, {"RGB parade", ScopeKind::parade}};
}

// Editing model.

void CameraSettingsModel::syncFromStatus(const CameraStatus& status) {
    if (const auto* manual = status.exposure.as<ExposureSetting::Manual>()) {
        if (std::isfinite(manual->iso)) iso = manual->iso;
        if (std::isfinite(manual->shutter)) shutter = manual->shutter;
        if (status.shutterAngle && std::isfinite(*status.shutterAngle)) {
            angle = *status.shutterAngle;
        } else {
            angle = nearestStandardAngle(shutter, framesPerSecond(status));
        }
    }
    if (const auto* manual = status.whiteBalance.as<WhiteBalance::Manual>()) {
        if (std::isfinite(manual->kelvin)) kelvin = manual->kelvin;
        if (std::isfinite(manual->tint)) tint = manual->tint;
    }
    if (const auto* manual = status.focus.as<FocusSetting::Manual>()) {
        if (std::isfinite(manual->lensPosition)) lensPosition = manual->lensPosition;
    }
}

CameraCommand CameraSettingsModel::manualExposureCommand(bool angleMode) const {
    if (angleMode) return CameraCommand::SetManualAngle{iso, angle};
    return CameraCommand::SetExposureMode{ExposureSetting::Manual{iso, shutter}};
}

CameraCommand CameraSettingsModel::exposureModeChosen(bool manual, const CameraStatus& status, bool showsAngle) {
    if (!manual) return CameraCommand::SetExposureMode{ExposureSetting::Auto{}};
    if (status.liveISO > 0 && std::isfinite(status.liveISO)) iso = status.liveISO;
    if (status.liveShutter > 0 && std::isfinite(status.liveShutter)) {
        shutter = nearestStandardShutter(status.liveShutter);
        angle = nearestStandardAngle(status.liveShutter, framesPerSecond(status));
    }
    return manualExposureCommand(usesAngle(status, showsAngle));
}

std::optional<CameraCommand> CameraSettingsModel::isoChanged(float value, const CameraStatus& status, bool showsAngle) {
    if (value == iso) return std::nullopt;
    iso = value;
    if (!exposureIsManual(status)) return std::nullopt;
    return manualExposureCommand(usesAngle(status, showsAngle));
}

std::optional<CameraCommand> CameraSettingsModel::shutterChanged(double value, const CameraStatus& status,
                                                                 bool showsAngle) {
    if (value == shutter) return std::nullopt;
    shutter = value;
    if (usesAngle(status, showsAngle) || !exposureIsManual(status)) return std::nullopt;
    return manualExposureCommand(false);
}

std::optional<CameraCommand> CameraSettingsModel::angleChanged(double value, const CameraStatus& status,
                                                               bool showsAngle) {
    if (value == angle) return std::nullopt;
    angle = value;
    if (!usesAngle(status, showsAngle) || !exposureIsManual(status)) return std::nullopt;
    return manualExposureCommand(true);
}

CameraCommand CameraSettingsModel::whiteBalanceAutoToggled(bool on) const {
    if (on) return CameraCommand::SetWhiteBalance{WhiteBalance::Auto{}};
    return CameraCommand::SetWhiteBalance{WhiteBalance::Manual{kelvin, tint}};
}

std::optional<CameraCommand> CameraSettingsModel::whiteBalanceCommand(const CameraStatus& status) const {
    if (status.whiteBalance.is<WhiteBalance::Auto>()) return std::nullopt;
    return CameraCommand::SetWhiteBalance{WhiteBalance::Manual{kelvin, tint}};
}

std::vector<CameraCommand> CameraSettingsModel::kelvinChanged(float value, const CameraStatus& status) {
    if (value == kelvin) return {};
    kelvin = value;
    if (auto command = whiteBalanceCommand(status)) return {*command};
    return {};
}

std::vector<CameraCommand> CameraSettingsModel::tintChanged(float value, const CameraStatus& status) {
    if (value == tint) return {};
    tint = value;
    if (auto command = whiteBalanceCommand(status)) return {*command};
    return {};
}

std::vector<CameraCommand> CameraSettingsModel::presetChosen(float presetKelvin, const CameraStatus& status) {
    const int changes = (presetKelvin != kelvin ? 1 : 0) + (tint != 0 ? 1 : 0);
    kelvin = presetKelvin;
    tint = 0;
    std::vector<CameraCommand> commands;
    if (auto command = whiteBalanceCommand(status)) commands.assign(static_cast<std::size_t>(changes), *command);
    return commands;
}

CameraCommand CameraSettingsModel::focusChosen(int segment) const {
    if (segment == 1) return CameraCommand::SetFocusMode{FocusSetting::Locked{}};
    if (segment == 2) return CameraCommand::SetFocusMode{FocusSetting::Manual{lensPosition}};
    return CameraCommand::SetFocusMode{FocusSetting::Auto{}};
}

std::optional<CameraCommand> CameraSettingsModel::lensPositionChanged(float value) {
    if (value == lensPosition) return std::nullopt;
    lensPosition = value;
    return CameraCommand::SetFocusMode{FocusSetting::Manual{lensPosition}};
}

}  // namespace morvane
