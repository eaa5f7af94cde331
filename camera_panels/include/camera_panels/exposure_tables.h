#pragma once

#include <array>
#include <string>

#include "protocol/camera_status.h"

// The fixed value tables and small texts of the manual exposure controls, shared by the quick-adjust strip and
// the settings sheet.

namespace morvane {

/// The 17 shutter times of the manual exposure controls, in seconds, ascending (1/8000 s to 1/4 s).
const std::array<double, 17>& standardShutters();

/// The 9 shutter angles of the manual exposure controls, in degrees, ascending (11.25° to 360°).
const std::array<double, 9>& standardAngles();

/// The frames per second the exposure texts use: the exact rate in video mode, 0 in photo mode.
double exposureFps(const CameraStatus& status);

/// "f/1.8", "f/4.0", "f/11": one decimal below 10, none from 10 up.
std::string fNumberText(double fNumber);

}  // namespace morvane
