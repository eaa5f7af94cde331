#pragma once

#include <optional>
#include <string>
#include <vector>

#include "camera_panels/camera_numbers.h"
#include "protocol/camera_command.h"
#include "protocol/camera_status.h"

namespace morvane {

/// The rules and slider values of the quick-adjust strip, apart from its widgets. The slider values are the
/// strip's own; they are read from the status only by `sync`, so values set from the camera never echo back.
class QuickAdjustModel {
public:
    enum class Control { ev, iso, shutter, aperture, whiteBalance, focus };

    struct Chip {
        Control control;
        std::string text;
        bool automatic = true;
        friend bool operator==(const Chip&, const Chip&) = default;
    };

    /// What the second row holds for the selected control.
    enum class Adjuster {
        evSlider,
        manualExposureNote,
        isoSlider,
        shutterSlider,
        apertureSlider,
        kelvinSlider,
        focusSlider,
        none
    };

    static constexpr const char* manualExposureNote = "Exposure is manual: set ISO and shutter, or click A.";
    static constexpr float initialIsoLog = 7;
    static constexpr float initialKelvin = 5600;
    static constexpr float initialLens = 0.5f;

    // Rules.
    /// The chips shown, in order.
    static std::vector<Chip> chips(const CameraStatus& status, bool showsAngle);
    static bool angleMode(const CameraStatus& status, bool showsAngle);
    static float workingISO(const CameraStatus& status);
    /// Durations in seconds: by angle from 360° down in angle mode, else the standard times within the limits.
    static std::vector<double> shutterChoices(const CameraStatus& status, bool showsAngle);
    static double currentShutter(const CameraStatus& status, bool showsAngle);
    /// The ISO slider's range as log2 of the ISO, always valid.
    static ValueRange isoLogRange(const CameraStatus& status);
    static Adjuster adjuster(Control control, const CameraStatus& status, bool showsAngle);
    /// The "A" button shows black on white while the selected setting counts as automatic.
    static bool showsAutomatic(Control control, const CameraStatus& status);

    // The strip's own values.
    Control selected = Control::ev;
    float ev = 0;
    float isoLog = initialIsoLog;
    double shutterIndex = 0;
    double apertureIndex = 0;
    float kelvin = initialKelvin;
    float lens = initialLens;

    /// Reads every slider value from the status (on appearance, a new chip, a new angle preference).
    void sync(const CameraStatus& status, bool showsAngle);

    /// The command for a person's move of the selected control's slider to the current value, if any.
    std::optional<CameraCommand> sliderCommand(Control control, const CameraStatus& status, bool showsAngle) const;

    /// The "A" button: the command that returns the selected setting to automatic (EV also resets `ev`).
    CameraCommand automaticCommand(const CameraStatus& status);
};

}  // namespace morvane
