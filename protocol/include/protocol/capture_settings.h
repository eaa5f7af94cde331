#pragma once

#include "protocol/tagged_union.h"

// Capture-setting value types carried inside commands and status.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "protocol/json_coding.h"

namespace morvane {

enum class CaptureMode { photo, video };

struct Resolution {
    std::int64_t width = 1920;
    std::int64_t height = 1080;

    /// By height alone: 720 "720p", 1080 "1080p", 2160 "4K", any other the number followed by "p".
    std::string label() const;

    friend bool operator==(const Resolution&, const Resolution&) = default;
};

enum class ColorProfile { standard, hdr, appleLog, appleLog2 };

/// One format the camera offers, with the frame rates it allows per colour profile.
struct FormatOption {
    Resolution resolution;
    std::vector<std::int64_t> frameRates;
    std::vector<std::int64_t> logFrameRates;
    /// Keyed by profile name ("hdr", "appleLog2").
    std::optional<std::map<std::string, std::vector<std::int64_t>>> colorFrameRates;

    /// standard: `frameRates`, appleLog: `logFrameRates`, hdr and appleLog2: the list under that key of
    /// `colorFrameRates`; a missing map or key gives an empty list.
    std::vector<std::int64_t> frameRatesFor(ColorProfile profile) const;

    friend bool operator==(const FormatOption&, const FormatOption&) = default;
};

enum class VideoCodec { hevc, proRes4444XQ, proRes4444, proRes422HQ, proRes422, proRes422LT, proRes422Proxy };

enum class Stabilization { off, standard, cinematic };

enum class PreviewLUT { none, appleLogToRec709, appleLog2ToRec709, custom };

/// In this order; peaking tables are indexed by it.
enum class PeakingLevel { low, medium, high };

/// One-byte raw values: the first byte of a scope payload.
enum class ScopeKind : std::uint8_t { off = 0, waveform = 1, parade = 2 };

struct WhiteBalance : TaggedUnionAccess<WhiteBalance> {
    struct Manual {
        float kelvin = 5600;
        float tint = 0;
        friend bool operator==(const Manual&, const Manual&) = default;
    };
    struct Auto {
        friend bool operator==(const Auto&, const Auto&) = default;
    };
    using Value = std::variant<Auto, Manual>;

    Value value;

    WhiteBalance() = default;
    template <class C>
    requires std::is_constructible_v<Value, C&&> WhiteBalance(C&& c) : value(std::forward<C>(c)) {}

    friend bool operator==(const WhiteBalance&, const WhiteBalance&) = default;
};

struct FocusSetting : TaggedUnionAccess<FocusSetting> {
    struct Manual {
        float lensPosition = 0;  ///< 0 near to 1 far
        friend bool operator==(const Manual&, const Manual&) = default;
    };
    struct Auto {
        friend bool operator==(const Auto&, const Auto&) = default;
    };
    struct Locked {
        friend bool operator==(const Locked&, const Locked&) = default;
    };
    using Value = std::variant<Auto, Manual, Locked>;

    Value value;

    FocusSetting() = default;
    template <class C>
    requires std::is_constructible_v<Value, C&&> FocusSetting(C&& c) : value(std::forward<C>(c)) {}

    friend bool operator==(const FocusSetting&, const FocusSetting&) = default;
};

struct ExposureSetting : TaggedUnionAccess<ExposureSetting> {
    struct Manual {
        float iso = 100;
        double shutter = 1.0 / 50;  ///< seconds
        friend bool operator==(const Manual&, const Manual&) = default;
    };
    struct Auto {
        friend bool operator==(const Auto&, const Auto&) = default;
    };
    using Value = std::variant<Auto, Manual>;

    Value value;

    ExposureSetting() = default;
    template <class C>
    requires std::is_constructible_v<Value, C&&> ExposureSetting(C&& c) : value(std::forward<C>(c)) {}

    friend bool operator==(const ExposureSetting&, const ExposureSetting&) = default;
};

/// The monitoring aids switched on at the remote.
struct ExposureAids {
    bool zebras = false;
    bool peaking = false;
    PeakingLevel peakingLevel = PeakingLevel::medium;
    bool falseColor = false;
    bool clipping = false;
    ScopeKind scope = ScopeKind::off;

    friend bool operator==(const ExposureAids&, const ExposureAids&) = default;
};

struct AudioInputOption {
    std::string id;
    std::string name;

    friend bool operator==(const AudioInputOption&, const AudioInputOption&) = default;
};

/// An external drive plugged into the camera.
struct DriveStatus {
    std::string name;
    std::int64_t freeBytes = 0;
    std::optional<std::string> warning;  ///< shown under the drive's toggle

    friend bool operator==(const DriveStatus&, const DriveStatus&) = default;
};

/// Case names of the plain enums, as written on the wire.
const char* caseName(CaptureMode v);
const char* caseName(ColorProfile v);
const char* caseName(VideoCodec v);
/// The codec's name as people read it ("HEVC", "ProRes 422 HQ"), in the camera's log and the settings' pickers.
const char* codecDisplayName(VideoCodec v);
const char* caseName(Stabilization v);
const char* caseName(PreviewLUT v);
const char* caseName(PeakingLevel v);
const char* caseName(ScopeKind v);

void to_json(Json& j, CaptureMode v);
void from_json(const Json& j, CaptureMode& v);
void to_json(Json& j, ColorProfile v);
void from_json(const Json& j, ColorProfile& v);
void to_json(Json& j, VideoCodec v);
void from_json(const Json& j, VideoCodec& v);
void to_json(Json& j, Stabilization v);
void from_json(const Json& j, Stabilization& v);
void to_json(Json& j, PreviewLUT v);
void from_json(const Json& j, PreviewLUT& v);
void to_json(Json& j, PeakingLevel v);
void from_json(const Json& j, PeakingLevel& v);
/// Written as its number; read from the number or the case name.
void to_json(Json& j, ScopeKind v);
void from_json(const Json& j, ScopeKind& v);

void to_json(Json& j, const Resolution& v);
void from_json(const Json& j, Resolution& v);
void to_json(Json& j, const FormatOption& v);
void from_json(const Json& j, FormatOption& v);
void to_json(Json& j, const WhiteBalance& v);
void from_json(const Json& j, WhiteBalance& v);
void to_json(Json& j, const FocusSetting& v);
void from_json(const Json& j, FocusSetting& v);
void to_json(Json& j, const ExposureSetting& v);
void from_json(const Json& j, ExposureSetting& v);
void to_json(Json& j, const ExposureAids& v);
void from_json(const Json& j, ExposureAids& v);
void to_json(Json& j, const AudioInputOption& v);
void from_json(const Json& j, AudioInputOption& v);
void to_json(Json& j, const DriveStatus& v);
void from_json(const Json& j, DriveStatus& v);

}  // namespace morvane
