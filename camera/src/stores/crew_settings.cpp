#include "camera/crew_settings.h"

#include <fstream>
#include <sstream>

#include "platform/base64.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// The status fields the remote sets, under the status's own keys; `optional` ones may be absent (none). The custom
// LUT's name goes with its table, in a file of its own.
struct Kept {
    const char* key;
    bool optional = false;
};
constexpr Kept keptFields[] = {
    {"mode"},          {"timerSeconds"},    {"exposureBias"},
    {"zoom"},          {"resolution"},      {"frameRate"},
    {"ntsc"},          {"colorProfile"},    {"previewLUT"},
    {"whiteBalance"},  {"focus"},           {"portrait"},
    {"exposure"},      {"aperture", true},  {"shutterAngle", true},
    {"zebras"},        {"peaking"},         {"peakingLevel"},
    {"falseColor"},    {"clipping"},        {"scope"},
    {"stabilization"}, {"codec"},           {"recordToDrive"},
    {"dimmed"},        {"loupe"},           {"loupeContours"},
    {"audioInput"},    {"transfersPaused"},
};

// Files of a few hundred bytes; anything much larger is not one of ours.
constexpr std::uintmax_t maxFileBytes = 64 * 1024;

}  // namespace

CrewSettings::Read CrewSettings::read(const fs::path& file) {
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (!fs::exists(status)) return {};  // never set: the camera starts as a new one
    if (!fs::is_regular_file(status)) return {std::nullopt, "the settings file is not a file"};
    const auto size = fs::file_size(file, ec);
    if (ec || size > maxFileBytes) return {std::nullopt, "the settings file is too large"};
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) return {std::nullopt, "the settings file cannot be read"};
    const Json parsed = Json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) return {std::nullopt, "the settings file is damaged or cut short"};
    Json fields = Json::object();
    for (const auto& field : keptFields) {
        const auto it = parsed.find(field.key);
        if (it == parsed.end()) {
            if (field.optional) continue;
            return {std::nullopt, std::string("the settings file lacks \"") + field.key + "\""};
        }
        fields[field.key] = *it;
    }
    try {
        auto kept = decodeStatusOverDefaults(fields);
        if (!kept) return {std::nullopt, "the settings file holds a value the camera does not know"};
        return {std::move(kept), {}};
    } catch (const std::exception& e) {
        return {std::nullopt, std::string("the settings file holds a value the camera does not know: ") + e.what()};
    }
}

Json CrewSettings::encode(const CameraStatus& status) {
    const Json all = status;
    Json fields = Json::object();
    for (const auto& field : keptFields)
        if (const auto it = all.find(field.key); it != all.end()) fields[field.key] = *it;
    return fields;
}

Json CrewSettings::encodeLUT(const CameraCommand::LoadCustomLUT& lut) {
    return Json{{"name", lut.name}, {"size", lut.size}, {"data", base64Encode(lut.data)}};
}

std::optional<CameraCommand::LoadCustomLUT> CrewSettings::readLUT(const fs::path& file) {
    std::error_code ec;
    // A 64-point table in base64, with room to spare.
    if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > (8u << 20) || ec) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const Json parsed = Json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) return std::nullopt;
    const auto name = parsed.find("name");
    const auto size = parsed.find("size");
    const auto data = parsed.find("data");
    if (name == parsed.end() || !name->is_string() || size == parsed.end() || !size->is_number_integer() ||
        data == parsed.end() || !data->is_string())
        return std::nullopt;
    auto bytes = base64Decode(data->get<std::string>());
    if (!bytes) return std::nullopt;
    return CameraCommand::LoadCustomLUT{name->get<std::string>(), size->get<std::int64_t>(), std::move(*bytes)};
}

std::vector<CameraCommand> CrewSettings::commands(const CameraStatus& kept,
                                                  const std::optional<CameraCommand::LoadCustomLUT>& lut) {
    using C = CameraCommand;
    std::vector<CameraCommand> out;
    if (lut) out.push_back(*lut);
    out.insert(out.end(), {
                              C::SetMode{kept.mode},
                              C::SetTimer{kept.timerSeconds},
                              C::SetColorProfile{kept.colorProfile},
                              C::SetCodec{kept.codec},
                              C::SetRecordToDrive{kept.recordToDrive},
                              C::SetStabilization{kept.stabilization},
                              C::SetExposureMode{kept.exposure},
                              C::SetExposureBias{kept.exposureBias},
                              C::SetWhiteBalance{kept.whiteBalance},
                              C::SetFocusMode{kept.focus},
                              C::SetZoom{kept.zoom, false},
                              C::SetPortrait{kept.portrait},
                              C::SetAperture{kept.aperture},
                              C::SetAids{ExposureAids{kept.zebras, kept.peaking, kept.peakingLevel, kept.falseColor,
                                                      kept.clipping, kept.scope}},
                              C::SetLoupe{kept.loupe, kept.loupeContours},
                              C::SetDimmed{kept.dimmed},
                              C::SetAudioInput{kept.audioInput},
                              C::SetTransfersPaused{kept.transfersPaused},
                          });
    if (kept.shutterAngle) out.push_back(C::SetManualAngle{100, *kept.shutterAngle});
    // The custom LUT only with its table: without it, none.
    out.push_back(C::SetPreviewLUT{kept.previewLUT == PreviewLUT::custom && !lut ? PreviewLUT::none : kept.previewLUT});
    return out;
}

}  // namespace morvane
