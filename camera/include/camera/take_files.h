#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/date.h"

namespace morvane {

/// A take's files in its recording folder: the movie, and while it is written (or after it was cut off) its journal
/// (hidden: ".<name>.journal") and the room kept for its index (hidden: ".<name>.reserve").
std::filesystem::path journalOf(const std::filesystem::path& movie);
std::filesystem::path reserveOf(const std::filesystem::path& movie);
/// Whether a file in a recording folder is a recorder's journal, and the movie it belongs to.
std::optional<std::filesystem::path> movieOfJournal(const std::filesystem::path& file);
/// Whether a file in a recording folder is a recorder's kept room, and the movie it belongs to.
std::optional<std::filesystem::path> movieOfReserve(const std::filesystem::path& file);

/// A take whose recording was cut off, once finished (or found playing as it is).
struct InterruptedTake {
    std::filesystem::path movie;
    double duration = 0;
    Date startDate{};             ///< the take's description date: the first picture's, on the shared clock
    std::int64_t startFrame = 0;  ///< the first picture's time-of-day frame
    int frameRate = 30;
    bool ntsc = false;
};

}  // namespace morvane
