#pragma once

#include <string>

// Numbers that come from a camera may be NaN, infinite or far out of range: slider ranges and values go through
// these so that a control is always built with a valid range. Whole numbers for texts go through
// `wholeNumber` and `roundedNumber` (status_texts.h).

namespace morvane {

/// A finite value, or `fallback`.
double finiteOr(double value, double fallback);

/// A slider range that a control can be built with: both ends finite and `upper` never below `lower`.
struct ValueRange {
    double lower = 0;
    double upper = 1;
    friend bool operator==(const ValueRange&, const ValueRange&) = default;
};
ValueRange validRange(double lower, double upper);

/// `value` held inside the range (a value that is not finite goes to the lower end).
double clampedTo(double value, const ValueRange& range);

/// printf-style formatting of one number into a std::string.
std::string formatted(const char* format, double value);

}  // namespace morvane
