#include "camera_panels/lut_import.h"

#include "camera_panels/cube_lut.h"
#include "platform/file_contents.h"

namespace morvane {

std::string lutName(const std::filesystem::path& file) { return file.filename().stem().string(); }

bool isValidUtf8(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = 0;
        char32_t value = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
        } else {
            return false;
        }
        if (at + length > text.size()) return false;
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) return false;
            value = (value << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
        if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
            (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        at += length;
    }
    return true;
}

std::optional<CameraCommand::LoadCustomLUT> loadCustomLUTCommand(const std::filesystem::path& file) {
    // The size is known before anything is read, so a huge file or a device is refused without filling memory.
    const auto text = readFileContents(file, maxLUTFileBytes);
    if (!text || !isValidUtf8(*text)) return std::nullopt;
    auto lut = parseCubeLUT(*text);
    if (!lut) return std::nullopt;
    CameraCommand::LoadCustomLUT command;
    command.name = lutName(file);
    command.size = lut->size;
    command.data = std::move(lut->data);
    return command;
}

}  // namespace morvane
