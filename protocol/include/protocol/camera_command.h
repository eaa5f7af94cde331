#pragma once

#include "protocol/tagged_union.h"

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/base64.h"
#include "platform/date.h"
#include "platform/uuid.h"
#include "protocol/capture_settings.h"
#include "protocol/deck_edit.h"
#include "protocol/json_coding.h"

namespace morvane {

/// The cases of `CameraCommand`, defined ahead of it so that they are complete (default member
/// initialisers included) when the variant is built.
namespace camera_command {

// Capture controls
struct SetMode {  // _0
    CaptureMode mode = CaptureMode::photo;
    friend bool operator==(const SetMode&, const SetMode&) = default;
};
struct SetTimer {  // seconds
    std::int64_t seconds = 0;
    friend bool operator==(const SetTimer&, const SetTimer&) = default;
};
struct SetExposureBias {  // _0, stops
    float stops = 0;
    friend bool operator==(const SetExposureBias&, const SetExposureBias&) = default;
};
struct SetZoom {  // _0, smooth
    double factor = 1;
    bool smooth = false;
    friend bool operator==(const SetZoom&, const SetZoom&) = default;
};
struct SwitchCamera {
    friend bool operator==(const SwitchCamera&, const SwitchCamera&) = default;
};
struct Shutter {
    friend bool operator==(const Shutter&, const Shutter&) = default;
};
struct StartRecording {
    friend bool operator==(const StartRecording&, const StartRecording&) = default;
};
struct StopRecording {
    friend bool operator==(const StopRecording&, const StopRecording&) = default;
};
struct SetFormat {  // _0, frameRate
    Resolution resolution;
    std::int64_t frameRate = 30;
    friend bool operator==(const SetFormat&, const SetFormat&) = default;
};
struct SetFrameRate {  // _0, ntsc
    std::int64_t frameRate = 30;
    bool ntsc = false;
    friend bool operator==(const SetFrameRate&, const SetFrameRate&) = default;
};
struct SetColorProfile {  // _0
    ColorProfile profile = ColorProfile::standard;
    friend bool operator==(const SetColorProfile&, const SetColorProfile&) = default;
};
struct SetStabilization {  // _0
    Stabilization stabilization = Stabilization::off;
    friend bool operator==(const SetStabilization&, const SetStabilization&) = default;
};
struct SetCodec {  // _0
    VideoCodec codec = VideoCodec::hevc;
    friend bool operator==(const SetCodec&, const SetCodec&) = default;
};
struct SetRecordToDrive {  // _0
    bool on = false;
    friend bool operator==(const SetRecordToDrive&, const SetRecordToDrive&) = default;
};
struct SetPreviewLUT {  // _0
    PreviewLUT lut = PreviewLUT::none;
    friend bool operator==(const SetPreviewLUT&, const SetPreviewLUT&) = default;
};
/// `data`: size × size × size × 3 32-bit floats, red, green, blue per entry, in file order.
struct LoadCustomLUT {  // name, size, data
    std::string name;
    std::int64_t size = 0;
    Bytes data;
    friend bool operator==(const LoadCustomLUT&, const LoadCustomLUT&) = default;
};
struct SetWhiteBalance {  // _0
    WhiteBalance whiteBalance;
    friend bool operator==(const SetWhiteBalance&, const SetWhiteBalance&) = default;
};
struct SetFocusMode {  // _0
    FocusSetting focus;
    friend bool operator==(const SetFocusMode&, const SetFocusMode&) = default;
};
struct SetPortrait {  // _0
    bool on = false;
    friend bool operator==(const SetPortrait&, const SetPortrait&) = default;
};
struct SetExposureMode {  // _0
    ExposureSetting exposure;
    friend bool operator==(const SetExposureMode&, const SetExposureMode&) = default;
};
struct SetManualAngle {  // iso, angle
    float iso = 100;
    double angle = 180;  ///< degrees
    friend bool operator==(const SetManualAngle&, const SetManualAngle&) = default;
};
struct SetAperture {  // _0, left out for automatic
    std::optional<float> aperture;
    friend bool operator==(const SetAperture&, const SetAperture&) = default;
};
struct SetDimmed {  // _0
    bool on = false;
    friend bool operator==(const SetDimmed&, const SetDimmed&) = default;
};
struct SetAids {  // _0
    ExposureAids aids;
    friend bool operator==(const SetAids&, const SetAids&) = default;
};
struct SetLoupe {  // on, contours
    bool on = false;
    bool contours = false;
    friend bool operator==(const SetLoupe&, const SetLoupe&) = default;
};
struct SetAudioInput {  // _0, an input id
    std::string id;
    friend bool operator==(const SetAudioInput&, const SetAudioInput&) = default;
};
struct DeleteCaptures {  // _0
    std::vector<Uuid> ids;
    friend bool operator==(const DeleteCaptures&, const DeleteCaptures&) = default;
};

// Remote controller
struct MonitorHello {  // acceptsFiles
    bool acceptsFiles = false;
    friend bool operator==(const MonitorHello&, const MonitorHello&) = default;
};
struct MasterHello {
    friend bool operator==(const MasterHello&, const MasterHello&) = default;
};
struct DeckHello {
    friend bool operator==(const DeckHello&, const DeckHello&) = default;
};
struct DeckStopAutoCopies {
    friend bool operator==(const DeckStopAutoCopies&, const DeckStopAutoCopies&) = default;
};
struct RequestGallery {
    friend bool operator==(const RequestGallery&, const RequestGallery&) = default;
};
struct DeckEdit {  // _0
    ::morvane::DeckEdit edit;
    friend bool operator==(const DeckEdit&, const DeckEdit&) = default;
};
struct SetVideo {  // _0
    bool on = false;
    friend bool operator==(const SetVideo&, const SetVideo&) = default;
};
struct SetStreamSize {  // _0, long side in pixels
    std::int64_t longSide = 0;
    friend bool operator==(const SetStreamSize&, const SetStreamSize&) = default;
};
struct SetStreamBitRate {  // _0, bits per second
    std::int64_t bitsPerSecond = 0;
    friend bool operator==(const SetStreamBitRate&, const SetStreamBitRate&) = default;
};
struct ProgramCut {  // camera, at
    std::string camera;
    /// The moment the cut was made, on the remote's clock; older remotes leave it out and the camera takes the
    /// moment the command reached it.
    std::optional<Date> at = std::nullopt;
    friend bool operator==(const ProgramCut&, const ProgramCut&) = default;
};
struct RequestDeckCopies {  // since
    Date since;
    friend bool operator==(const RequestDeckCopies&, const RequestDeckCopies&) = default;
};
struct RequestDeckCopiesOf {  // _0
    std::vector<Uuid> ids;
    friend bool operator==(const RequestDeckCopiesOf&, const RequestDeckCopiesOf&) = default;
};
struct Focus {  // x, y: fractions of the picture's width and height
    double x = 0.5;
    double y = 0.5;
    friend bool operator==(const Focus&, const Focus&) = default;
};
struct RequestPreview {  // _0
    Uuid id;
    friend bool operator==(const RequestPreview&, const RequestPreview&) = default;
};
struct SetTransfersPaused {  // _0
    bool paused = false;
    friend bool operator==(const SetTransfersPaused&, const SetTransfersPaused&) = default;
};

}  // namespace camera_command

/// A command that the remote (or a lead camera) sends to a camera. On the wire: an object with one key, the
/// case name, whose value holds the payload by label ("_0" for an unlabelled value, {} for none).
struct CameraCommand : TaggedUnionAccess<CameraCommand> {
    using SetMode = camera_command::SetMode;
    using SetTimer = camera_command::SetTimer;
    using SetExposureBias = camera_command::SetExposureBias;
    using SetZoom = camera_command::SetZoom;
    using SwitchCamera = camera_command::SwitchCamera;
    using Shutter = camera_command::Shutter;
    using StartRecording = camera_command::StartRecording;
    using StopRecording = camera_command::StopRecording;
    using SetFormat = camera_command::SetFormat;
    using SetFrameRate = camera_command::SetFrameRate;
    using SetColorProfile = camera_command::SetColorProfile;
    using SetStabilization = camera_command::SetStabilization;
    using SetCodec = camera_command::SetCodec;
    using SetRecordToDrive = camera_command::SetRecordToDrive;
    using SetPreviewLUT = camera_command::SetPreviewLUT;
    using LoadCustomLUT = camera_command::LoadCustomLUT;
    using SetWhiteBalance = camera_command::SetWhiteBalance;
    using SetFocusMode = camera_command::SetFocusMode;
    using SetPortrait = camera_command::SetPortrait;
    using SetExposureMode = camera_command::SetExposureMode;
    using SetManualAngle = camera_command::SetManualAngle;
    using SetAperture = camera_command::SetAperture;
    using SetDimmed = camera_command::SetDimmed;
    using SetAids = camera_command::SetAids;
    using SetLoupe = camera_command::SetLoupe;
    using SetAudioInput = camera_command::SetAudioInput;
    using DeleteCaptures = camera_command::DeleteCaptures;
    using MonitorHello = camera_command::MonitorHello;
    using MasterHello = camera_command::MasterHello;
    using DeckHello = camera_command::DeckHello;
    using DeckStopAutoCopies = camera_command::DeckStopAutoCopies;
    using RequestGallery = camera_command::RequestGallery;
    using DeckEdit = camera_command::DeckEdit;
    using SetVideo = camera_command::SetVideo;
    using SetStreamSize = camera_command::SetStreamSize;
    using SetStreamBitRate = camera_command::SetStreamBitRate;
    using ProgramCut = camera_command::ProgramCut;
    using RequestDeckCopies = camera_command::RequestDeckCopies;
    using RequestDeckCopiesOf = camera_command::RequestDeckCopiesOf;
    using Focus = camera_command::Focus;
    using RequestPreview = camera_command::RequestPreview;
    using SetTransfersPaused = camera_command::SetTransfersPaused;

    using Value = std::variant<SetMode, SetTimer, SetExposureBias, SetZoom, SwitchCamera, Shutter, StartRecording,
                               StopRecording, SetFormat, SetFrameRate, SetColorProfile, SetStabilization, SetCodec,
                               SetRecordToDrive, SetPreviewLUT, LoadCustomLUT, SetWhiteBalance, SetFocusMode,
                               SetPortrait, SetExposureMode, SetManualAngle, SetAperture, SetDimmed, SetAids, SetLoupe,
                               SetAudioInput, DeleteCaptures, MonitorHello, MasterHello, DeckHello, DeckStopAutoCopies,
                               RequestGallery, DeckEdit, SetVideo, SetStreamSize, SetStreamBitRate, ProgramCut,
                               RequestDeckCopies, RequestDeckCopiesOf, Focus, RequestPreview, SetTransfersPaused>;

    Value value;

    CameraCommand() = default;
    template <class C>
    requires std::is_constructible_v<Value, C&&> CameraCommand(C&& c) : value(std::forward<C>(c)) {}

    /// The case name as written on the wire ("setZoom").
    const char* caseName() const;

    friend bool operator==(const CameraCommand&, const CameraCommand&) = default;
};

void to_json(Json& j, const CameraCommand& command);
void from_json(const Json& j, CameraCommand& command);

}  // namespace morvane
