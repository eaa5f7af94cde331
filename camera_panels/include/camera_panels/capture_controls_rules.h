#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/camera_command.h"
#include "protocol/camera_status.h"

// The rules of the capture control bar, the shutter button and the lens buttons, apart from their widgets.

namespace morvane {

/// Recording or counting down: the front/back button, the timer button and the mode picker wait.
bool isCaptureBusy(const CameraStatus& status);

/// "PORTRAIT" in photo mode with portrait on; in video mode "4K·29.97·LOG"; none otherwise.
std::optional<std::string> formatBadge(const CameraStatus& status);

/// The self-timer cycle: 0 gives 3, 3 gives 10, anything else 0.
std::int64_t nextTimerSeconds(std::int64_t timerSeconds);

/// "Off", or the seconds followed by "s".
std::string timerText(std::int64_t timerSeconds);

/// The timer button's name for screen readers: "Self-timer: Off", "Self-timer: 3s".
std::string timerAccessibleName(std::int64_t timerSeconds);

/// A lens button's tooltip: what a click does, and where zoom between and beyond the lenses is (Ctrl with the
/// wheel on the picture), which nothing else on the screen shows. `label` is the lens as its button reads it.
std::string lensToolTip(const std::string& label, std::size_t lensCount);

/// A lens counts as selected while the zoom lies within 0.05 of its factor.
bool isLensSelected(double zoom, double lens);

/// "2.7×" while no lens of the camera is selected, else none.
std::optional<std::string> zoomReadout(const CameraStatus& status);

/// The side controls of the expanded panel.
enum class SideControlKind { hide, voice, dim, loupe, lead, mark, all, settings };

struct SideControl {
    SideControlKind kind;
    std::string title;
    std::string symbol;
    bool active = false;
    std::string accessibilityLabel;
    friend bool operator==(const SideControl&, const SideControl&) = default;
};

/// What the creator handed the panel besides the status: absent bindings and actions hide their controls.
struct CaptureControlsOptions {
    bool voiceEnabled = false;
    std::optional<bool> master;             ///< the lead-camera switch's value, when given
    bool hasMark = false;                   ///< an add-marker action was given
    std::optional<bool> shutterAllCameras;  ///< the all-cameras switch's value, when given
};

/// The controls shown in the side row, in order (the spacer before the settings control is the widget's).
std::vector<SideControl> sideControls(const CameraStatus& status, const CaptureControlsOptions& options);

/// The commands of the panel's own controls.
CameraCommand dimCommand(const CameraStatus& status);
CameraCommand loupeCommand(const CameraStatus& status);
CameraCommand timerCommand(const CameraStatus& status);

}  // namespace morvane
