#pragma once

// Loading and writing the camera's list files (outbox, capture index, take log): one JSON array, written whole
// and atomically.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/json_coding.h"

namespace morvane::stores {

/// The entries of a list file, decoded one by one: an entry that does not decode is skipped, so one bad entry
/// never costs the others. A file that exists but is not a JSON array (or cannot be read) is set aside under a
/// new name before anyone writes over it. No file gives an empty list.
std::vector<Json> loadList(const std::filesystem::path& file);

/// Writes the array whole and atomically; false when it cannot be written (the old file then stays).
bool writeList(const std::filesystem::path& file, const Json& array);

template <class T>
std::vector<T> decodeEach(const std::vector<Json>& entries, const std::function<std::optional<T>(const Json&)>& decode) {
    std::vector<T> out;
    out.reserve(entries.size());
    for (const auto& entry : entries) {
        if (auto value = decode(entry)) out.push_back(std::move(*value));
    }
    return out;
}

}  // namespace morvane::stores
