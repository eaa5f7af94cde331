#pragma once

#include <filesystem>
#include <optional>

namespace morvane {

/// What the media layer reads of a movie for the shoot library: the first video track's nominal frame rate and
/// natural size (as encoded, before any rotation), and the movie's duration.
struct ClipProbe {
    float nominalFrameRate = 0;
    double width = 0;
    double height = 0;
    std::optional<double> duration;  ///< seconds; none when the movie does not tell

    /// None when the file cannot be opened as a movie or has no video track. Only local files are read, and only
    /// through the movie demuxers.
    static std::optional<ClipProbe> load(const std::filesystem::path& movie);
};

}  // namespace morvane
