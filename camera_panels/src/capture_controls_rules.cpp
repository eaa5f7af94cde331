#include "camera_panels/capture_controls_rules.h"

#include <cmath>

#include "camera_panels/camera_numbers.h"
#include "camera_panels/exposure_tables.h"
#include "camera_panels/status_texts.h"
#include "protocol/timeline_rate.h"

namespace morvane {

bool isCaptureBusy(const CameraStatus& status) {
    return status.isRecording || status.countdown.has_value();
}

std::optional<std::string> formatBadge(const CameraStatus& status) {
    if (status.mode == CaptureMode::photo) {
        if (status.portrait) return std::string("PORTRAIT");
        return std::nullopt;
    }
    std::string text = status.resolution.label() + "·" + frameRateLabel(status.frameRate, status.ntsc);
    switch (status.colorProfile) {
        case ColorProfile::standard:
            break;
        case ColorProfile::hdr:
            text += "·HDR";
            break;
        case ColorProfile::appleLog:
            text += "·LOG";
            break;
        case ColorProfile::appleLog2:
            text += "·LOG2";
            break;
    }
    return text;
}

std::int64_t nextTimerSeconds(std::int64_t timerSeconds) {
    if (timerSeconds == 0) return 3;
    if (timerSeconds == 3) return 10;
    return 0;
}

std::string timerText(std::int64_t timerSeconds) {
    return timerSeconds == 0 ? std::string("Off") : std::to_string(timerSeconds) + "s";
}

std::string timerAccessibleName(std::int64_t timerSeconds) {
    return "Self-timer: " + timerText(timerSeconds);
}

std::string lensToolTip(const std::string& label, std::size_t lensCount) {
    const std::string zoom = "To zoom, hold Ctrl and scroll on the camera's picture.";
    if (lensCount <= 1) return "The camera's only lens (" + label + "). " + zoom;
    return "Switch to the " + label + " lens. " + zoom;
}

bool isLensSelected(double zoom, double lens) {
    return std::abs(zoom - lens) < 0.05;
}

std::optional<std::string> zoomReadout(const CameraStatus& status) {
    for (double lens : status.lenses) {
        if (isLensSelected(status.zoom, lens)) return std::nullopt;
    }
    if (!std::isfinite(status.zoom)) return std::string(missingValueText);
    return formatted("%.1f", status.zoom) + "×";
}

std::vector<SideControl> sideControls(const CameraStatus& status, const CaptureControlsOptions& options) {
    const bool video = status.mode == CaptureMode::video;
    std::vector<SideControl> controls;
    controls.push_back({SideControlKind::hide, "Hide", "chevron.down", false, "Hide controls"});
    controls.push_back(
        {SideControlKind::voice, "Voice", options.voiceEnabled ? "bubble.left.fill" : "bubble.left",
         options.voiceEnabled,
         options.voiceEnabled ? "Turn off voice commands" : "Voice commands: say pemble, action, cut or mark"});
    controls.push_back({SideControlKind::dim, "Dim", status.dimmed ? "moon.fill" : "moon", status.dimmed,
                        status.dimmed ? "Wake the camera screen" : "Dim the camera screen to save battery"});
    controls.push_back({SideControlKind::loupe, "Loupe", "plus.magnifyingglass", status.loupe,
                        status.loupe ? "Hide the focus loupe" : "Focus loupe: zoom in to check focus"});
    if (options.master && (video || *options.master)) {
        const bool on = *options.master;
        controls.push_back({SideControlKind::lead, "Lead", on ? "square.grid.2x2.fill" : "square.grid.2x2", on,
                            on ? "Stop leading the other cameras"
                               : "Lead camera: start, stop and set up the other cameras from this one"});
    }
    if (options.hasMark && video) {
        controls.push_back({SideControlKind::mark, "Mark", "flag", false, "Add a marker"});
    }
    if (options.shutterAllCameras) {
        const bool on = *options.shutterAllCameras;
        controls.push_back(
            {SideControlKind::all, "All", "link", on,
             on ? "Shutter and settings apply to all cameras" : "Shutter and settings apply to the selected camera"});
    }
    controls.push_back({SideControlKind::settings, formatBadge(status).value_or("Settings"), "slider.horizontal.3",
                        false, "Camera settings"});
    return controls;
}

CameraCommand dimCommand(const CameraStatus& status) {
    return CameraCommand::SetDimmed{!status.dimmed};
}

CameraCommand loupeCommand(const CameraStatus& status) {
    return CameraCommand::SetLoupe{!status.loupe, status.loupeContours};
}

CameraCommand timerCommand(const CameraStatus& status) {
    return CameraCommand::SetTimer{nextTimerSeconds(status.timerSeconds)};
}

}  // namespace morvane
