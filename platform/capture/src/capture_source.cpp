#include "platform/capture_source.h"

#include <cmath>

namespace morvane {

int CaptureSource::normalizedAngle(double degrees) {
    if (!std::isfinite(degrees)) return 0;
    double turns = std::round(std::fmod(degrees, 360.0) / 90.0);
    int quarter = static_cast<int>(turns) % 4;
    if (quarter < 0) quarter += 4;
    return quarter * 90;
}

void CaptureSource::setCaptureAngle(double degrees) { angle_.store(normalizedAngle(degrees)); }

}  // namespace morvane
