#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace morvane {

/// The whole contents of a regular file (a symbolic link is followed) of at most `maxBytes` bytes; none when the
/// file is missing, is no regular file, is larger, or cannot be read. Files that are not ours to load whole into
/// memory are thus refused before anything is allocated for them.
std::optional<std::string> readFileContents(const std::filesystem::path& file, std::uintmax_t maxBytes);

/// True when both are regular files (a symbolic link is not followed) with the same bytes.
bool sameContents(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace morvane
