#include "camera_panels/camera_numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace morvane {

double finiteOr(double value, double fallback) { return std::isfinite(value) ? value : fallback; }

ValueRange validRange(double lower, double upper) {
    ValueRange range;
    range.lower = finiteOr(lower, 0);
    range.upper = finiteOr(upper, range.lower);
    if (range.upper < range.lower) range.upper = range.lower;
    return range;
}

double clampedTo(double value, const ValueRange& range) {
    if (!std::isfinite(value)) return range.lower;
    return std::min(std::max(value, range.lower), range.upper);
}

std::string formatted(const char* format, double value) {
    char buffer[400];  // "%f" of the largest double fits
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace morvane
