#include "camera_panels/quick_adjust_model.h"

#include <algorithm>
#include <cmath>

#include "camera_panels/exposure_tables.h"
#include "camera_panels/status_texts.h"
#include "protocol/timeline_rate.h"

namespace morvane {
namespace {

using Control = QuickAdjustModel::Control;

bool exposureIsAuto(const CameraStatus& status) { return status.exposure.is<ExposureSetting::Auto>(); }

double framesPerSecond(const CameraStatus& status) { return TimelineRate::fps(status.frameRate, status.ntsc); }

/// The index of the candidate nearest to `target` in the ratio sense, the earlier winning a tie.
std::optional<std::size_t> nearestByRatio(const std::vector<double>& candidates, double target) {
    std::optional<std::size_t> best;
    double bestDistance = 0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const double distance = std::abs(std::log(candidates[i] / target));
        if (!best || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

std::optional<std::size_t> indexIn(double value, std::size_t count) {
    const auto i = wholeNumber(value);
    if (!i || *i < 0 || static_cast<std::size_t>(*i) >= count) return std::nullopt;
    return static_cast<std::size_t>(*i);
}

}  // namespace

bool QuickAdjustModel::angleMode(const CameraStatus& status, bool showsAngle) {
    return showsAngle && status.mode == CaptureMode::video && framesPerSecond(status) > 0;
}

float QuickAdjustModel::workingISO(const CameraStatus& status) {
    if (const auto* manual = status.exposure.as<ExposureSetting::Manual>()) return manual->iso;
    return status.liveISO > 0 ? status.liveISO : status.minISO;
}

std::vector<double> QuickAdjustModel::shutterChoices(const CameraStatus& status, bool showsAngle) {
    std::vector<double> choices;
    if (angleMode(status, showsAngle)) {
        const double fps = std::max(1.0, framesPerSecond(status));
        for (auto it = standardAngles().rbegin(); it != standardAngles().rend(); ++it) {
            choices.push_back(*it / 360.0 / fps);
        }
        return choices;
    }
    for (double d : standardShutters()) {
        if (status.minShutter * 0.99 <= d && d <= status.maxShutter * 1.01) choices.push_back(d);
    }
    return choices;
}

double QuickAdjustModel::currentShutter(const CameraStatus& status, bool showsAngle) {
    if (const auto* manual = status.exposure.as<ExposureSetting::Manual>()) return manual->shutter;
    const double base =
        status.liveShutter > 0 ? status.liveShutter : 1.0 / std::max(30.0, 2.0 * static_cast<double>(status.frameRate));
    const auto choices = shutterChoices(status, showsAngle);
    if (const auto i = nearestByRatio(choices, base)) return choices[*i];
    return base;
}

ValueRange QuickAdjustModel::isoLogRange(const CameraStatus& status) {
    // The lower bound is at least 1 before its logarithm, and the upper never below the lower.
    const double minISO = std::isfinite(status.minISO) ? status.minISO : 1.0;
    const double lower = std::log2(std::max(1.0, minISO));
    const double upper = std::log2(std::max(static_cast<double>(status.maxISO), minISO + 1));
    return validRange(lower, std::isnan(upper) ? lower : upper);
}

std::vector<QuickAdjustModel::Chip> QuickAdjustModel::chips(const CameraStatus& status, bool showsAngle) {
    const bool autoExposure = exposureIsAuto(status);
    std::vector<Chip> chips;
    std::string evText = "EV —";
    if (autoExposure && std::isfinite(status.exposureBias)) evText = formatted("EV %+.1f", status.exposureBias);
    chips.push_back({Control::ev, evText, autoExposure});
    chips.push_back({Control::iso, "ISO " + wholeNumberText(roundedNumber(status.liveISO)), autoExposure});
    const double fps = status.mode == CaptureMode::video ? framesPerSecond(status) : 0.0;
    chips.push_back({Control::shutter,
                     status.liveShutter > 0 ? shutterAngleText(status.liveShutter, fps, showsAngle) : missingValueText,
                     autoExposure});
    if (!status.apertureStops.empty()) {
        chips.push_back({Control::aperture,
                         status.liveAperture > 0 ? fNumberText(status.liveAperture) : std::string("f/—"),
                         !status.aperture.has_value()});
    }
    if (status.supportsManualWhiteBalance) {
        const auto* manual = status.whiteBalance.as<WhiteBalance::Manual>();
        chips.push_back({Control::whiteBalance,
                         manual ? wholeNumberText(wholeNumber(manual->kelvin)) + "K" : std::string("AWB"),
                         manual == nullptr});
    }
    if (status.supportsManualFocus) {
        std::string text = "AF";
        if (status.focus.is<FocusSetting::Locked>()) text = "AF-L";
        if (status.focus.is<FocusSetting::Manual>()) text = "MF";
        chips.push_back({Control::focus, text, status.focus.is<FocusSetting::Auto>()});
    }
    return chips;
}

QuickAdjustModel::Adjuster QuickAdjustModel::adjuster(Control control, const CameraStatus& status, bool showsAngle) {
    switch (control) {
        case Control::ev: return exposureIsAuto(status) ? Adjuster::evSlider : Adjuster::manualExposureNote;
        case Control::iso: return Adjuster::isoSlider;
        case Control::shutter:
            return shutterChoices(status, showsAngle).size() >= 2 ? Adjuster::shutterSlider : Adjuster::none;
        case Control::aperture: return status.apertureStops.size() >= 2 ? Adjuster::apertureSlider : Adjuster::none;
        case Control::whiteBalance: return Adjuster::kelvinSlider;
        case Control::focus: return Adjuster::focusSlider;
    }
    return Adjuster::none;
}

bool QuickAdjustModel::showsAutomatic(Control control, const CameraStatus& status) {
    switch (control) {
        case Control::ev: return exposureIsAuto(status) && std::abs(status.exposureBias) < 0.05f;
        case Control::iso:
        case Control::shutter: return exposureIsAuto(status);
        case Control::aperture: return !status.aperture.has_value();
        case Control::whiteBalance: return status.whiteBalance.is<WhiteBalance::Auto>();
        case Control::focus: return status.focus.is<FocusSetting::Auto>();
    }
    return false;
}

void QuickAdjustModel::sync(const CameraStatus& status, bool showsAngle) {
    ev = std::isfinite(status.exposureBias) ? status.exposureBias : 0.0f;
    const float iso = workingISO(status);
    isoLog = static_cast<float>(std::log2(std::max(1.0, std::isfinite(iso) ? static_cast<double>(iso) : 1.0)));
    const double current = currentShutter(status, showsAngle);
    const auto choices = shutterChoices(status, showsAngle);
    shutterIndex = 0;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (std::abs(choices[i] - current) < 0.02 * current) {
            shutterIndex = static_cast<double>(i);
            break;
        }
    }
    if (const auto* manual = status.whiteBalance.as<WhiteBalance::Manual>()) {
        kelvin = std::isfinite(manual->kelvin) ? manual->kelvin : initialKelvin;
    }
    if (const auto* manual = status.focus.as<FocusSetting::Manual>()) {
        lens = std::isfinite(manual->lensPosition) ? manual->lensPosition : initialLens;
    }
    apertureIndex = 0;
    if (status.apertureStops.size() >= 2) {
        const double target = status.aperture ? *status.aperture : status.liveAperture;
        std::optional<std::size_t> best;
        double bestDistance = 0;
        for (std::size_t i = 0; i < status.apertureStops.size(); ++i) {
            const double distance = std::abs(static_cast<double>(status.apertureStops[i]) - target);
            if (!best || distance < bestDistance) {
                best = i;
                bestDistance = distance;
            }
        }
        apertureIndex = static_cast<double>(best.value_or(0));
    }
}

std::optional<CameraCommand> QuickAdjustModel::sliderCommand(Control control, const CameraStatus& status,
                                                              bool showsAngle) const {
    switch (control) {
        case Control::ev: return CameraCommand::SetExposureBias{ev};
        case Control::iso: {
            const auto iso = static_cast<float>(std::exp2(static_cast<double>(isoLog)));
            if (status.shutterAngle) return CameraCommand::SetManualAngle{iso, *status.shutterAngle};
            return CameraCommand::SetExposureMode{ExposureSetting::Manual{iso, currentShutter(status, showsAngle)}};
        }
        case Control::shutter: {
            const auto choices = shutterChoices(status, showsAngle);
            const auto i = indexIn(shutterIndex, choices.size());
            if (!i) return std::nullopt;
            const double d = choices[*i];
            if (angleMode(status, showsAngle)) {
                const double angle = std::round(framesPerSecond(status) * d * 360.0 * 100.0) / 100.0;
                return CameraCommand::SetManualAngle{workingISO(status), angle};
            }
            return CameraCommand::SetExposureMode{ExposureSetting::Manual{workingISO(status), d}};
        }
        case Control::aperture: {
            const auto i = indexIn(apertureIndex, status.apertureStops.size());
            if (!i) return std::nullopt;
            return CameraCommand::SetAperture{status.apertureStops[*i]};
        }
        case Control::whiteBalance: {
            const auto* manual = status.whiteBalance.as<WhiteBalance::Manual>();
            return CameraCommand::SetWhiteBalance{WhiteBalance::Manual{kelvin, manual ? manual->tint : 0.0f}};
        }
        case Control::focus: return CameraCommand::SetFocusMode{FocusSetting::Manual{lens}};
    }
    return std::nullopt;
}

CameraCommand QuickAdjustModel::automaticCommand(const CameraStatus& status) {
    switch (selected) {
        case Control::ev:
            ev = 0;
            if (exposureIsAuto(status)) return CameraCommand::SetExposureBias{0};
            return CameraCommand::SetExposureMode{ExposureSetting::Auto{}};
        case Control::iso:
        case Control::shutter: return CameraCommand::SetExposureMode{ExposureSetting::Auto{}};
        case Control::aperture: return CameraCommand::SetAperture{std::nullopt};
        case Control::whiteBalance: return CameraCommand::SetWhiteBalance{WhiteBalance::Auto{}};
        case Control::focus: return CameraCommand::SetFocusMode{FocusSetting::Auto{}};
    }
    return CameraCommand::SetExposureMode{ExposureSetting::Auto{}};
}

}  // namespace morvane
