#include "camera_panels/exposure_tables.h"

#include <cmath>

#include "camera_panels/camera_numbers.h"
#include "camera_panels/status_texts.h"
#include "protocol/timeline_rate.h"

namespace morvane {

const std::array<double, 17>& standardShutters() {
    static const std::array<double, 17> values{1.0 / 8000, 1.0 / 4000, 1.0 / 2000, 1.0 / 1000, 1.0 / 500, 1.0 / 250,
                                               1.0 / 120,  1.0 / 100,  1.0 / 60,   1.0 / 50,   1.0 / 48,  1.0 / 30,
                                               1.0 / 25,   1.0 / 24,   1.0 / 15,   1.0 / 8,    1.0 / 4};
    return values;
}

const std::array<double, 9>& standardAngles() {
    static const std::array<double, 9> values{11.25, 22.5, 45, 90, 144, 172.8, 180, 270, 360};
    return values;
}

double exposureFps(const CameraStatus& status) {
    return status.mode == CaptureMode::video ? TimelineRate::fps(status.frameRate, status.ntsc) : 0.0;
}

std::string fNumberText(double fNumber) {
    if (!std::isfinite(fNumber)) return std::string("f/") + missingValueText;
    return formatted(fNumber < 10 ? "f/%.1f" : "f/%.0f", fNumber);
}

}  // namespace morvane
