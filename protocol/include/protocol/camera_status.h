#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/capture_settings.h"
#include "protocol/json_coding.h"

namespace morvane {

/// A camera's full state as the remote sees it, replaced whole by each status packet. The member
/// initialisers are the status defaults that a report lacking a field falls back to.
struct CameraStatus {
    // Capture
    CaptureMode mode = CaptureMode::photo;
    std::int64_t timerSeconds = 0;          ///< self-timer length, 0 when off
    std::optional<std::int64_t> countdown;  ///< seconds left while a self-timer runs
    bool isRecording = false;
    std::optional<double> recordingElapsed;  ///< seconds of the running recording
    float exposureBias = 0;                  ///< stops
    bool isFrontCamera = false;
    std::vector<double> lenses{1.0};  ///< zoom factor of each lens, lowest first
    double zoom = 1.0;
    double maxZoom = 1.0;

    // Format
    std::vector<FormatOption> formats;
    Resolution resolution;        ///< 1920 × 1080
    std::int64_t frameRate = 30;  ///< nominal frames per second
    bool ntsc = false;            ///< the rate is its 1000/1001 variant
    ColorProfile colorProfile = ColorProfile::standard;
    PreviewLUT previewLUT = PreviewLUT::none;
    std::optional<std::string> customLUTName;

    // Image controls and device ranges
    WhiteBalance whiteBalance;
    bool supportsManualWhiteBalance = false;
    FocusSetting focus;
    bool supportsManualFocus = false;
    bool portrait = false;  ///< depth capture for photos
    bool supportsPortrait = false;
    ExposureSetting exposure;
    float minISO = 0;
    float maxISO = 0;
    double minShutter = 0;  ///< seconds
    double maxShutter = 0;
    float liveISO = 0;  ///< readings in use now; 0 or less means none
    double liveShutter = 0;
    float liveAperture = 0;
    std::vector<float> apertureStops;    ///< f-numbers; empty for a fixed aperture
    std::optional<float> aperture;       ///< absent: automatic aperture
    std::optional<double> shutterAngle;  ///< degrees, while the camera holds a shutter angle

    // Monitoring aids
    bool zebras = false;
    bool peaking = false;
    PeakingLevel peakingLevel = PeakingLevel::medium;
    bool falseColor = false;
    bool clipping = false;
    ScopeKind scope = ScopeKind::off;

    // Recording
    Stabilization stabilization = Stabilization::off;
    std::vector<Stabilization> stabilizationModes;  ///< offered besides off
    VideoCodec codec = VideoCodec::hevc;
    std::vector<VideoCodec> proResCodecs;      ///< offered besides hevc
    std::optional<DriveStatus> externalDrive;  ///< while a drive is plugged in
    bool recordToDrive = false;

    // Device
    bool dimmed = false;
    bool loupe = false;
    bool loupeContours = true;
    std::optional<std::int64_t> linkDelayMs;
    std::optional<float> battery;  ///< 0 to 1
    bool charging = false;
    std::int64_t freeBytes = 0;
    std::int64_t thermal = 0;  ///< 2 hot, 3 and above too hot

    // Transfers
    std::int64_t pendingTransfers = 0;
    std::optional<std::string> transferName;
    std::optional<double> transferProgress;  ///< present only while a file is being sent
    bool transfersPaused = false;
    bool usbConnected = false;

    // Audio
    std::vector<AudioInputOption> audioInputs;
    std::string audioInput = "auto";

    // Program and deck copies
    std::optional<std::string> program;  ///< the camera on air as the camera knows it
    std::int64_t deckCopiesPreparing = 0;
    std::int64_t deckCopiesWaiting = 0;  ///< the one being sent included
    std::optional<double> deckCopyProgress;

    friend bool operator==(const CameraStatus&, const CameraStatus&) = default;
};

/// Strict: every non-optional field must be present and well formed.
void to_json(Json& j, const CameraStatus& status);
void from_json(const Json& j, CameraStatus& status);

/// The tolerant reading: the status defaults with the received object's fields laid over them, so that missing
/// fields keep their defaults. None when the value is not an object or any field present is malformed (of another
/// type, or null where a value is required).
std::optional<CameraStatus> decodeStatusOverDefaults(const Json& j);

}  // namespace morvane
