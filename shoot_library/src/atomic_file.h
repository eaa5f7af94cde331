#pragma once

#include <filesystem>
#include <string_view>

namespace morvane {

/// Writes the file whole (see `writeFileAtomically`), unless it already holds exactly these bytes, in which case
/// it is left as it is. `durable` also flushes the new contents to the disk. False on any failure, which leaves
/// the old file untouched.
bool replaceFileContents(const std::filesystem::path& file, std::string_view bytes, bool durable = false);

}  // namespace morvane
