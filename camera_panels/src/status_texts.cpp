#include "camera_panels/status_texts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "platform/defaults.h"
#include "protocol/timeline_rate.h"

namespace morvane {

namespace {

// 2^63 as a double: the first value that no longer fits a signed 64-bit integer.
constexpr double int64Limit = 9223372036854775808.0;

constexpr std::array<double, 9> standardAngles{11.25, 22.5, 45, 90, 144, 172.8, 180, 270, 360};

const char* const separator = " · ";

}  // namespace

std::optional<std::int64_t> wholeNumber(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double cut = std::trunc(value);
    if (cut >= int64Limit || cut < -int64Limit) return std::nullopt;
    return static_cast<std::int64_t>(cut);
}

std::optional<std::int64_t> roundedNumber(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    return wholeNumber(std::round(value));
}

std::string wholeNumberText(std::optional<std::int64_t> value) {
    return value ? std::to_string(*value) : std::string(missingValueText);
}

std::optional<std::string> transferStatusLine(const CameraStatus& status) {
    const std::int64_t pending = status.pendingTransfers;
    if (pending < 1) return std::nullopt;
    if (status.transferProgress) {
        const double progress = *status.transferProgress;
        // A progress outside 0…1 is a camera's slip; it reads as the nearest end.
        std::string text = std::isnan(progress)
                               ? std::string(missingValueText)
                               : wholeNumberText(wholeNumber(std::clamp(progress, 0.0, 1.0) * 100.0)) + "%";
        if (pending > 1) text += separator + std::to_string(pending - 1) + " more";
        if (status.usbConnected) text += std::string(separator) + "USB";
        return text;
    }
    if (status.isRecording) return std::to_string(pending) + " after recording";
    if (status.transfersPaused) return std::to_string(pending) + " ready";
    return std::to_string(pending) + " waiting";
}

std::string shutterText(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) return missingValueText;
    if (seconds >= 0.5) {
        if (!wholeNumber(seconds)) return missingValueText;
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%.1f\"", seconds);
        return buffer;
    }
    const auto denominator = roundedNumber(1.0 / seconds);
    if (!denominator) return missingValueText;
    return "1/" + std::to_string(*denominator);
}

std::string shutterAngleText(double seconds, double fps, bool asAngle) {
    if (!asAngle || !(fps > 0)) return shutterText(seconds);
    const double angle = seconds * fps * 360.0;
    if (!std::isfinite(angle) || !(seconds > 0)) return missingValueText;
    for (double standard : standardAngles)
        if (std::abs(standard - angle) < std::max(0.02 * standard, 0.5)) return trimmedRateText(standard);
    const auto tenths = roundedNumber(angle * 10.0);
    if (!tenths) return missingValueText;
    return trimmedRateText(static_cast<double>(*tenths) / 10.0);
}

bool shutterAsAngleSetting() { return Defaults::standard().boolValue("shutterAsAngle", false); }

std::string shutterAngleText(double seconds, double fps) {
    return shutterAngleText(seconds, fps, shutterAsAngleSetting());
}

std::string exposureSummary(float iso, double seconds, double fps, bool asAngle) {
    if (!(iso > 0) || !(seconds > 0)) return missingValueText;
    const auto rounded = roundedNumber(iso);
    if (!rounded) return missingValueText;
    return "ISO " + std::to_string(*rounded) + separator + shutterAngleText(seconds, fps, asAngle);
}

std::string exposureSummary(float iso, double seconds, double fps) {
    return exposureSummary(iso, seconds, fps, shutterAsAngleSetting());
}

}  // namespace morvane
