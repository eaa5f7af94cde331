#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace morvane {

/// Seconds per timecode frame and the timecode's frame count per second and flags, for a rate.
struct TimecodeFormat {
    int frameDurationValue = 1;  ///< duration = value / timescale
    int timescale = 30;
    int quanta = 30;
    std::uint32_t flags = 2;
    friend bool operator==(const TimecodeFormat&, const TimecodeFormat&) = default;
};
/// None when the rate is not 1…255.
std::optional<TimecodeFormat> timecodeFormat(std::optional<int> frameRate, bool ntsc);

/// Sets the flags word of the movie's timecode sample description ('tmcd' in the sample table). False when the
/// movie has none or cannot be written.
bool patchTimecodeFlags(const std::filesystem::path& movie, std::uint32_t flags);

/// The flags word of the movie's timecode sample description, or none.
std::optional<std::uint32_t> readTimecodeFlags(const std::filesystem::path& movie);
/// The movie's timecode sample description (frame duration, time scale, frames per second, flags), or none.
std::optional<TimecodeFormat> readTimecodeFormat(const std::filesystem::path& movie);

}  // namespace morvane
