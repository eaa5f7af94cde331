#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "camera/movie_recorder.h"

namespace morvane {

/// Turns length-prefixed NAL units (as the muxer stored them) back into the start-coded ones it was given.
bool startCodes(std::uint8_t* data, std::int64_t size);

/// The movie's samples that its journal lists, wholly written, put back under an index: the header and the index
/// are written again as the take's own recorder would have written them, the samples are left where they lie.
std::optional<MovieRecorder::Interrupted> finishFromJournal(const std::filesystem::path& movie,
                                                            const std::filesystem::path& journalPath);

}  // namespace morvane
