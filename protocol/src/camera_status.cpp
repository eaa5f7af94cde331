#include "protocol/camera_status.h"

#include <utility>

#include "json_values.h"

namespace morvane {

namespace {

// One entry per field, so that the strict and the tolerant reading walk the same list.
struct StatusField {
    const char* key;
    void (*write)(const CameraStatus&, const char* key, wire::ObjectWriter&);
    void (*read)(const Json& value, CameraStatus&);  // throws DecodingError
    bool optional;
};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class T>
void readValue(const Json& j, T& out) {
    wire::decode(j, out);
}
template <class T>
void readValue(const Json& j, std::optional<T>& out) {
    if (j.is_null()) {
        out.reset();
        return;
    }
    T value{};
    wire::decode(j, value);
    out = std::move(value);
}

template <auto Member>
StatusField field(const char* key) {
    using M = std::remove_cvref_t<decltype(std::declval<CameraStatus&>().*Member)>;
    return StatusField{
        key,
        [](const CameraStatus& s, const char* k, wire::ObjectWriter& w) { w.field(k, s.*Member); },
        [](const Json& value, CameraStatus& s) {
            if (!IsOptional<M>::value && value.is_null()) wire::fail("Expected a value but found null instead.");
            M out{};
            readValue(value, out);
            s.*Member = std::move(out);
        },
        IsOptional<M>::value,
    };
}

const StatusField statusFields[] = {
    field<&CameraStatus::mode>("mode"),
    field<&CameraStatus::timerSeconds>("timerSeconds"),
    field<&CameraStatus::countdown>("countdown"),
    field<&CameraStatus::isRecording>("isRecording"),
    field<&CameraStatus::recordingElapsed>("recordingElapsed"),
    field<&CameraStatus::exposureBias>("exposureBias"),
    field<&CameraStatus::isFrontCamera>("isFrontCamera"),
    field<&CameraStatus::lenses>("lenses"),
    field<&CameraStatus::zoom>("zoom"),
    field<&CameraStatus::maxZoom>("maxZoom"),
    field<&CameraStatus::formats>("formats"),
    field<&CameraStatus::resolution>("resolution"),
    field<&CameraStatus::frameRate>("frameRate"),
    field<&CameraStatus::ntsc>("ntsc"),
    field<&CameraStatus::colorProfile>("colorProfile"),
    field<&CameraStatus::previewLUT>("previewLUT"),
    field<&CameraStatus::customLUTName>("customLUTName"),
    field<&CameraStatus::whiteBalance>("whiteBalance"),
    field<&CameraStatus::supportsManualWhiteBalance>("supportsManualWhiteBalance"),
    field<&CameraStatus::focus>("focus"),
    field<&CameraStatus::supportsManualFocus>("supportsManualFocus"),
    field<&CameraStatus::portrait>("portrait"),
    field<&CameraStatus::supportsPortrait>("supportsPortrait"),
    field<&CameraStatus::exposure>("exposure"),
    field<&CameraStatus::minISO>("minISO"),
    field<&CameraStatus::maxISO>("maxISO"),
    field<&CameraStatus::minShutter>("minShutter"),
    field<&CameraStatus::maxShutter>("maxShutter"),
    field<&CameraStatus::liveISO>("liveISO"),
    field<&CameraStatus::liveShutter>("liveShutter"),
    field<&CameraStatus::liveAperture>("liveAperture"),
    field<&CameraStatus::apertureStops>("apertureStops"),
    field<&CameraStatus::aperture>("aperture"),
    field<&CameraStatus::shutterAngle>("shutterAngle"),
    field<&CameraStatus::zebras>("zebras"),
    field<&CameraStatus::peaking>("peaking"),
    field<&CameraStatus::peakingLevel>("peakingLevel"),
    field<&CameraStatus::falseColor>("falseColor"),
    field<&CameraStatus::clipping>("clipping"),
    field<&CameraStatus::scope>("scope"),
    field<&CameraStatus::stabilization>("stabilization"),
    field<&CameraStatus::stabilizationModes>("stabilizationModes"),
    field<&CameraStatus::codec>("codec"),
    field<&CameraStatus::proResCodecs>("proResCodecs"),
    field<&CameraStatus::externalDrive>("externalDrive"),
    field<&CameraStatus::recordToDrive>("recordToDrive"),
    field<&CameraStatus::dimmed>("dimmed"),
    field<&CameraStatus::loupe>("loupe"),
    field<&CameraStatus::loupeContours>("loupeContours"),
    field<&CameraStatus::linkDelayMs>("linkDelayMs"),
    field<&CameraStatus::battery>("battery"),
    field<&CameraStatus::charging>("charging"),
    field<&CameraStatus::freeBytes>("freeBytes"),
    field<&CameraStatus::thermal>("thermal"),
    field<&CameraStatus::pendingTransfers>("pendingTransfers"),
    field<&CameraStatus::transferName>("transferName"),
    field<&CameraStatus::transferProgress>("transferProgress"),
    field<&CameraStatus::transfersPaused>("transfersPaused"),
    field<&CameraStatus::usbConnected>("usbConnected"),
    field<&CameraStatus::audioInputs>("audioInputs"),
    field<&CameraStatus::audioInput>("audioInput"),
    field<&CameraStatus::program>("program"),
    field<&CameraStatus::deckCopiesPreparing>("deckCopiesPreparing"),
    field<&CameraStatus::deckCopiesWaiting>("deckCopiesWaiting"),
    field<&CameraStatus::deckCopyProgress>("deckCopyProgress"),
};

}  // namespace

void to_json(Json& j, const CameraStatus& status) {
    wire::ObjectWriter w;
    for (const auto& f : statusFields) f.write(status, f.key, w);
    j = w.take();
}

void from_json(const Json& j, CameraStatus& status) {
    if (!j.is_object()) wire::typeMismatch("a dictionary", j);
    CameraStatus out;
    for (const auto& f : statusFields) {
        auto it = j.find(f.key);
        if (it == j.end()) {
            if (f.optional) continue;
            wire::fail(std::string("No value associated with key \"") + f.key + "\".");
        }
        try {
            f.read(*it, out);
        } catch (const DecodingError& e) {
            wire::fail(std::string("\"") + f.key + "\": " + e.what());
        }
    }
    status = std::move(out);
}

std::optional<CameraStatus> decodeStatusOverDefaults(const Json& j) {
    if (!j.is_object()) return std::nullopt;
    CameraStatus out;
    for (const auto& f : statusFields) {
        auto it = j.find(f.key);
        if (it == j.end()) continue;
        try {
            f.read(*it, out);
        } catch (const DecodingError&) {
            // Only missing fields take their defaults: a field of the wrong type (or null where a value is required)
            // makes the report unreadable, so the remote keeps showing the last good one instead of a default
            // such as "not recording".
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace morvane
