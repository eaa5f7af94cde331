#pragma once

#include <filesystem>
#include <string_view>

namespace morvane {

/// Writes the file whole: the bytes go to a temporary file in the same folder and then replace the file in one
/// rename, so that a reader (or a crash) never sees half a file. `durable` also flushes the bytes to the disk
/// before the rename. False on any failure, which leaves the old file untouched.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, bool durable = false);

/// As `writeFileAtomically`, but a file that already holds exactly these bytes is left as it is.
bool replaceFileContents(const std::filesystem::path& file, std::string_view bytes, bool durable = false);

}  // namespace morvane
