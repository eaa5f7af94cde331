#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/camera_status.h"

namespace morvane {

/// The dash that stands for a value a camera did not give or gave out of range.
inline constexpr const char* missingValueText = "—";

/// A camera's number cut toward zero to a whole number; none when it is not finite or does not fit 64 bits.
/// Every count, percentage, duration and factor a camera reports goes through this before it is printed.
std::optional<std::int64_t> wholeNumber(double value);
/// Rounded to the nearest whole number, halves away from zero; none as for `wholeNumber`.
std::optional<std::int64_t> roundedNumber(double value);
/// The whole number in decimal, or "—" when there is none.
std::string wholeNumberText(std::optional<std::int64_t> value);

/// The files a camera still has to send ("42%", "50% · 2 more · USB", "3 waiting"); none when nothing is pending.
std::optional<std::string> transferStatusLine(const CameraStatus& status);

/// The shutter time: "1/60" below half a second, "2.0\"" from there; "—" for a duration that is not positive.
std::string shutterText(double seconds);

/// The shutter as an angle snapped to the standard angles ("180°") while `asAngle` and a frame rate is known,
/// else `shutterText`.
std::string shutterAngleText(double seconds, double fps, bool asAngle);
/// As above with the stored setting "shutterAsAngle", read on every call.
std::string shutterAngleText(double seconds, double fps);

/// "ISO 400 · 1/50", or "—" when the ISO or the duration is not positive.
std::string exposureSummary(float iso, double seconds, double fps, bool asAngle);
std::string exposureSummary(float iso, double seconds, double fps);

/// The stored setting "shutterAsAngle" (false when absent).
bool shutterAsAngleSetting();

}  // namespace morvane
