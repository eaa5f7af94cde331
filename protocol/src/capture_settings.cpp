#include "protocol/capture_settings.h"

#include <utility>

#include "json_values.h"

namespace morvane {

namespace {

template <class E, std::size_t N>
const char* nameOf(E v, const std::pair<const char*, E> (&names)[N]) {
    for (const auto& [name, value] : names) {
        if (value == v) return name;
    }
    return names[0].first;
}

// An enum value outside its cases can only come from a cast in our own code; refuse to write it.
template <class E, std::size_t N>
void writeName(Json& j, E v, const std::pair<const char*, E> (&names)[N], const char* type) {
    for (const auto& [name, value] : names) {
        if (value == v) {
            j = name;
            return;
        }
    }
    throw EncodingError(std::string("Invalid ") + type + " value.");
}

const std::pair<const char*, CaptureMode> captureModes[] = {{"photo", CaptureMode::photo},
                                                            {"video", CaptureMode::video}};
const std::pair<const char*, ColorProfile> colorProfiles[] = {{"standard", ColorProfile::standard},
                                                              {"hdr", ColorProfile::hdr},
                                                              {"appleLog", ColorProfile::appleLog},
                                                              {"appleLog2", ColorProfile::appleLog2}};
const std::pair<const char*, VideoCodec> videoCodecs[] = {{"hevc", VideoCodec::hevc},
                                                          {"proRes4444XQ", VideoCodec::proRes4444XQ},
                                                          {"proRes4444", VideoCodec::proRes4444},
                                                          {"proRes422HQ", VideoCodec::proRes422HQ},
                                                          {"proRes422", VideoCodec::proRes422},
                                                          {"proRes422LT", VideoCodec::proRes422LT},
                                                          {"proRes422Proxy", VideoCodec::proRes422Proxy}};
const std::pair<const char*, Stabilization> stabilizations[] = {
    {"off", Stabilization::off}, {"standard", Stabilization::standard}, {"cinematic", Stabilization::cinematic}};
const std::pair<const char*, PreviewLUT> previewLUTs[] = {{"none", PreviewLUT::none},
                                                          {"appleLogToRec709", PreviewLUT::appleLogToRec709},
                                                          {"appleLog2ToRec709", PreviewLUT::appleLog2ToRec709},
                                                          {"custom", PreviewLUT::custom}};
const std::pair<const char*, PeakingLevel> peakingLevels[] = {
    {"low", PeakingLevel::low}, {"medium", PeakingLevel::medium}, {"high", PeakingLevel::high}};
const std::pair<const char*, ScopeKind> scopeKinds[] = {
    {"off", ScopeKind::off}, {"waveform", ScopeKind::waveform}, {"parade", ScopeKind::parade}};

}  // namespace

std::string Resolution::label() const {
    switch (height) {
        case 720:
            return "720p";
        case 1080:
            return "1080p";
        case 2160:
            return "4K";
        default:
            return std::to_string(height) + "p";
    }
}

std::vector<std::int64_t> FormatOption::frameRatesFor(ColorProfile profile) const {
    const char* key = nullptr;
    switch (profile) {
        case ColorProfile::standard:
            return frameRates;
        case ColorProfile::appleLog:
            return logFrameRates;
        case ColorProfile::hdr:
            key = "hdr";
            break;
        case ColorProfile::appleLog2:
            key = "appleLog2";
            break;
    }
    if (!key || !colorFrameRates) return {};
    auto it = colorFrameRates->find(key);
    return it == colorFrameRates->end() ? std::vector<std::int64_t>{} : it->second;
}

const char* caseName(CaptureMode v) {
    return nameOf(v, captureModes);
}
const char* caseName(ColorProfile v) {
    return nameOf(v, colorProfiles);
}
const char* caseName(VideoCodec v) {
    return nameOf(v, videoCodecs);
}
const char* codecDisplayName(VideoCodec v) {
    switch (v) {
    case VideoCodec::hevc: return "HEVC";
    case VideoCodec::proRes4444XQ: return "ProRes 4444 XQ";
    case VideoCodec::proRes4444: return "ProRes 4444";
    case VideoCodec::proRes422HQ: return "ProRes 422 HQ";
    case VideoCodec::proRes422: return "ProRes 422";
    case VideoCodec::proRes422LT: return "ProRes 422 LT";
    case VideoCodec::proRes422Proxy: return "ProRes 422 Proxy";
    }
    return "";
}
const char* caseName(Stabilization v) {
    return nameOf(v, stabilizations);
}
const char* caseName(PreviewLUT v) {
    return nameOf(v, previewLUTs);
}
const char* caseName(PeakingLevel v) {
    return nameOf(v, peakingLevels);
}
const char* caseName(ScopeKind v) {
    return nameOf(v, scopeKinds);
}

void to_json(Json& j, CaptureMode v) {
    writeName(j, v, captureModes, "CaptureMode");
}
void from_json(const Json& j, CaptureMode& v) {
    v = wire::enumFromName(j, captureModes, "CaptureMode");
}
void to_json(Json& j, ColorProfile v) {
    writeName(j, v, colorProfiles, "ColorProfile");
}
void from_json(const Json& j, ColorProfile& v) {
    v = wire::enumFromName(j, colorProfiles, "ColorProfile");
}
void to_json(Json& j, VideoCodec v) {
    writeName(j, v, videoCodecs, "VideoCodec");
}
void from_json(const Json& j, VideoCodec& v) {
    v = wire::enumFromName(j, videoCodecs, "VideoCodec");
}
void to_json(Json& j, Stabilization v) {
    writeName(j, v, stabilizations, "Stabilization");
}
void from_json(const Json& j, Stabilization& v) {
    v = wire::enumFromName(j, stabilizations, "Stabilization");
}
void to_json(Json& j, PreviewLUT v) {
    writeName(j, v, previewLUTs, "PreviewLUT");
}
void from_json(const Json& j, PreviewLUT& v) {
    v = wire::enumFromName(j, previewLUTs, "PreviewLUT");
}
void to_json(Json& j, PeakingLevel v) {
    writeName(j, v, peakingLevels, "PeakingLevel");
}
void from_json(const Json& j, PeakingLevel& v) {
    v = wire::enumFromName(j, peakingLevels, "PeakingLevel");
}

void to_json(Json& j, ScopeKind v) {
    if (v != ScopeKind::off && v != ScopeKind::waveform && v != ScopeKind::parade) {
        throw EncodingError("Invalid ScopeKind value.");
    }
    j = static_cast<std::int64_t>(v);
}

void from_json(const Json& j, ScopeKind& v) {
    if (j.is_string()) {
        v = wire::enumFromName(j, scopeKinds, "ScopeKind");
        return;
    }
    if (!j.is_number()) wire::typeMismatch("a UInt8", j);
    std::int64_t raw = intFromJson(j);
    if (raw < 0 || raw > 2) wire::fail("Cannot initialize ScopeKind from invalid UInt8 value " + std::to_string(raw));
    v = static_cast<ScopeKind>(raw);
}

void to_json(Json& j, const Resolution& v) {
    j = wire::ObjectWriter().field("width", v.width).field("height", v.height).take();
}

void from_json(const Json& j, Resolution& v) {
    wire::ObjectReader r(j);
    Resolution out;
    r.field("width", out.width);
    r.field("height", out.height);
    v = out;
}

void to_json(Json& j, const FormatOption& v) {
    j = wire::ObjectWriter()
            .field("resolution", v.resolution)
            .field("frameRates", v.frameRates)
            .field("logFrameRates", v.logFrameRates)
            .field("colorFrameRates", v.colorFrameRates)
            .take();
}

void from_json(const Json& j, FormatOption& v) {
    wire::ObjectReader r(j);
    FormatOption out;
    r.field("resolution", out.resolution);
    r.field("frameRates", out.frameRates);
    r.field("logFrameRates", out.logFrameRates);
    r.field("colorFrameRates", out.colorFrameRates);
    v = std::move(out);
}

void to_json(Json& j, const WhiteBalance& v) {
    if (auto manual = v.as<WhiteBalance::Manual>()) {
        j = wire::unionCase("manual",
                            wire::ObjectWriter().field("kelvin", manual->kelvin).field("tint", manual->tint).take());
    } else {
        j = wire::unionCase("auto");
    }
}

void from_json(const Json& j, WhiteBalance& v) {
    auto [name, payload] = wire::readUnionCase(j);
    if (name == "manual") {
        wire::ObjectReader r(payload);
        WhiteBalance::Manual manual;
        r.field("kelvin", manual.kelvin);
        r.field("tint", manual.tint);
        v = manual;
    } else if (name == "auto") {
        v = WhiteBalance::Auto{};
    } else {
        wire::unknownCase("WhiteBalance", name);
    }
}

void to_json(Json& j, const FocusSetting& v) {
    if (auto manual = v.as<FocusSetting::Manual>()) {
        j = wire::unionCase("manual", wire::ObjectWriter().field("lensPosition", manual->lensPosition).take());
    } else if (v.is<FocusSetting::Locked>()) {
        j = wire::unionCase("locked");
    } else {
        j = wire::unionCase("auto");
    }
}

void from_json(const Json& j, FocusSetting& v) {
    auto [name, payload] = wire::readUnionCase(j);
    if (name == "manual") {
        FocusSetting::Manual manual;
        wire::ObjectReader(payload).field("lensPosition", manual.lensPosition);
        v = manual;
    } else if (name == "auto") {
        v = FocusSetting::Auto{};
    } else if (name == "locked") {
        v = FocusSetting::Locked{};
    } else {
        wire::unknownCase("FocusSetting", name);
    }
}

void to_json(Json& j, const ExposureSetting& v) {
    if (auto manual = v.as<ExposureSetting::Manual>()) {
        j = wire::unionCase("manual",
                            wire::ObjectWriter().field("iso", manual->iso).field("shutter", manual->shutter).take());
    } else {
        j = wire::unionCase("auto");
    }
}

void from_json(const Json& j, ExposureSetting& v) {
    auto [name, payload] = wire::readUnionCase(j);
    if (name == "manual") {
        wire::ObjectReader r(payload);
        ExposureSetting::Manual manual;
        r.field("iso", manual.iso);
        r.field("shutter", manual.shutter);
        v = manual;
    } else if (name == "auto") {
        v = ExposureSetting::Auto{};
    } else {
        wire::unknownCase("ExposureSetting", name);
    }
}

void to_json(Json& j, const ExposureAids& v) {
    j = wire::ObjectWriter()
            .field("zebras", v.zebras)
            .field("peaking", v.peaking)
            .field("peakingLevel", v.peakingLevel)
            .field("falseColor", v.falseColor)
            .field("clipping", v.clipping)
            .field("scope", v.scope)
            .take();
}

void from_json(const Json& j, ExposureAids& v) {
    wire::ObjectReader r(j);
    ExposureAids out;
    r.field("zebras", out.zebras);
    r.field("peaking", out.peaking);
    r.field("peakingLevel", out.peakingLevel);
    r.field("falseColor", out.falseColor);
    r.field("clipping", out.clipping);
    r.field("scope", out.scope);
    v = out;
}

void to_json(Json& j, const AudioInputOption& v) {
    j = wire::ObjectWriter().field("id", v.id).field("name", v.name).take();
}

void from_json(const Json& j, AudioInputOption& v) {
    wire::ObjectReader r(j);
    AudioInputOption out;
    r.field("id", out.id);
    r.field("name", out.name);
    v = std::move(out);
}

void to_json(Json& j, const DriveStatus& v) {
    j = wire::ObjectWriter().field("name", v.name).field("freeBytes", v.freeBytes).field("warning", v.warning).take();
}

void from_json(const Json& j, DriveStatus& v) {
    wire::ObjectReader r(j);
    DriveStatus out;
    r.field("name", out.name);
    r.field("freeBytes", out.freeBytes);
    r.field("warning", out.warning);
    v = std::move(out);
}

}  // namespace morvane
