#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace morvane {

/// The user's home folder: $HOME when it holds an absolute path, else the password database's entry; none when
/// neither tells.
std::optional<std::filesystem::path> homeFolder();

/// A per-user base folder named by an environment variable, as XDG_CONFIG_HOME names the configuration folder: the
/// variable's value when it is an absolute path (relative values are ignored), else `underHome` inside the home
/// folder; none when there is no home folder either.
std::optional<std::filesystem::path> userBaseFolder(const char* variable, const std::filesystem::path& underHome);

/// A folder of the desktop's user folders file ("user-dirs.dirs" in the configuration folder), by its key such as
/// "XDG_PICTURES_DIR": the value with a leading "$HOME" replaced by the home folder, when that gives an absolute
/// path; else `underHome` inside the home folder; none when there is no home folder either.
std::optional<std::filesystem::path> userDirectory(std::string_view key, const std::filesystem::path& underHome);

}  // namespace morvane
