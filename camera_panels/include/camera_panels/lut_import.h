#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/camera_command.h"

namespace morvane {

/// The largest .cube file taken, in bytes; larger files are refused by their size, before any reading.
inline constexpr std::uintmax_t maxLUTFileBytes = 19'999'999;

/// The title and the one message of every refused import.
inline constexpr const char* lutImportErrorTitle = "Couldn't use that LUT";
inline constexpr const char* lutImportErrorText = "Use a 3D .cube file up to 64×64×64.";

/// The table's name: the file's name without its extension ("Film Look.cube" → "Film Look", "a.b.cube" → "a.b").
std::string lutName(const std::filesystem::path& file);

/// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view text);

/// The command that loads the picked file's table into a camera, or none when the file cannot be used: not a
/// readable regular file, larger than `maxLUTFileBytes`, not UTF-8 text, or not a usable 3D table.
std::optional<CameraCommand::LoadCustomLUT> loadCustomLUTCommand(const std::filesystem::path& file);

}  // namespace morvane
