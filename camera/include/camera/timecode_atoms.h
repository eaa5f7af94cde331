#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "camera/movie_recorder.h"

namespace morvane {

/// Sets the flags word of the movie's timecode sample description ('tmcd' in the sample table). False when the
/// movie has none or cannot be written.
bool patchTimecodeFlags(const std::filesystem::path& movie, std::uint32_t flags);

/// The flags word of the movie's timecode sample description, or none.
std::optional<std::uint32_t> readTimecodeFlags(const std::filesystem::path& movie);
/// The movie's timecode sample description (frame duration, time scale, frames per second, flags), or none.
std::optional<MovieRecorder::TimecodeFormat> readTimecodeFormat(const std::filesystem::path& movie);

}  // namespace morvane
