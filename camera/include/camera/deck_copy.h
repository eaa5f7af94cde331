#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// The copy of a take that a deck collects: its picture at most 1920 × 1080 (never enlarged), H.264 in a
/// QuickTime movie, its sound kept as it is. Written aside and moved into place when complete; false, with the
/// reason in `error`, when the take cannot be read or the copy cannot be written.
bool makeDeckCopy(const std::filesystem::path& take, const std::filesystem::path& copy, std::string* error = nullptr);

/// Whether a file is what a copy cut short by the end of an earlier run left (hidden beside the copy it was to
/// become, ".<copy>.partial"), and that copy.
std::optional<std::filesystem::path> deckCopyOfPartial(const std::filesystem::path& file);

}  // namespace morvane
