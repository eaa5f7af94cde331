#pragma once

// Takes cut off and damaged on the disk, as the recovery finds them.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "camera/take_journal.h"
#include "test_files.h"

namespace morvane::test {

/// The length of the pictures that the journal lists wholly before `at` in the movie.
inline double lengthBefore(const std::filesystem::path& journal, std::uintmax_t at) {
    const auto contents = readJournal(readFile(journal));
    std::int64_t first = INT64_MAX, end = INT64_MIN;
    for (const auto& s : contents.samples) {
        if (static_cast<std::uintmax_t>(s.offset + s.size) > at) break;
        if (s.stream == 0) first = std::min(first, s.pts), end = std::max(end, s.pts + s.duration);
    }
    return end > first ? static_cast<double>(end - first) * av_q2d(contents.header.streams.at(0).timeBase) : 0;
}

/// What a take finished from its journal keeps: the pictures the journal lists that are not `damaged`, after a
/// damaged one from the next key picture on, and its length: from its first picture to the end of its last picture
/// or sound, whichever is later. A record listed again is neither kept again nor left out.
struct KeptOfTake {
    int pictures = 0;
    int passedOver = 0;  ///< pictures after the first kept that are not
    double length = 0;
};
inline KeptOfTake keptOf(const std::filesystem::path& journal,
                         const std::function<bool(std::size_t record, const JournalSample&)>& damaged) {
    const auto contents = readJournal(readFile(journal));
    KeptOfTake kept;
    std::optional<double> first;
    double end = 0;
    bool needsKey = true;
    std::set<std::pair<int, std::int64_t>> listed;
    for (std::size_t i = 0; i < contents.samples.size(); ++i) {
        const auto& s = contents.samples[i];
        if (!listed.emplace(s.stream, s.offset).second) continue;
        const double base = av_q2d(contents.header.streams.at(s.stream).timeBase);
        const bool picture = s.stream == 0;
        if (damaged(i, s) || (picture && needsKey && !s.key)) {
            needsKey = needsKey || picture;
            if (picture && first) ++kept.passedOver;
            continue;
        }
        if (picture) {
            needsKey = false;
            ++kept.pictures;
            if (!first) first = static_cast<double>(s.pts) * base;
        }
        end = std::max(end, static_cast<double>(s.pts + s.duration) * base);
    }
    kept.length = first ? end - *first : 0;
    return kept;
}

/// `bytes` zero bytes written over the file from `at` on, its size kept.
inline void zero(const std::filesystem::path& file, std::uintmax_t at, std::uintmax_t bytes) {
    const auto size = std::filesystem::file_size(file);
    bytes = std::min(bytes, size - std::min(at, size));
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(at));
    out << std::string(bytes, '\0');
}

/// Gives the journal another version than its writer's.
inline void changeJournalVersion(const std::filesystem::path& journal) {
    std::fstream file(journal, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(7);
    file.put('9');
}

}  // namespace morvane::test
