#pragma once

#include <filesystem>
#include <system_error>

namespace morvane {

/// Renames `from` to `to` unless something already has that name. 0, or the errno (EEXIST when the name is taken).
int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

/// Keeps a file that could not be read, so that the next save does not destroy it: renames it to
/// "<name>.unreadable" in the same folder, or to the first free of "<name>.unreadable 2", "<name>.unreadable 3"…
/// Never replaces a file. False, with the reason in `error` when given, when the file could not be moved.
bool setAsideUnreadable(const std::filesystem::path& file, std::error_code* error = nullptr);

}  // namespace morvane
