#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace morvane {

/// Writes all `size` bytes to `fd`, going on after short writes and interruptions. False on an error.
bool writeAll(int fd, const void* data, std::size_t size);

/// Flushes the folder's list of names to the disk, so that a rename or removal in it survives a crash of the
/// machine. Does nothing when the folder cannot be opened.
void syncFolder(const std::filesystem::path& folder);

/// Flushes a file's contents to the disk. False when it cannot be opened or flushed.
bool syncFile(const std::filesystem::path& file);

/// How `writeFileAtomically` makes the new file.
struct AtomicWriteOptions {
    /// The new file's permission bits, exactly (the umask does not apply). Without: 0666 less the umask, as for
    /// any new file.
    std::optional<std::filesystem::perms> permissions;
    /// Flushes the bytes, and after the rename the folder, to the disk, so that the new contents survive a crash
    /// of the machine.
    bool durable = true;
};

/// Replaces `file` with `bytes` in one step: the bytes go to a hidden temporary file in the same folder, which is
/// then renamed over the file, so that a reader (or a crash) sees the old contents or the new ones, never half of
/// them. False on any failure, which leaves the old file untouched and no temporary file behind. The folder must
/// exist.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         const AtomicWriteOptions& options = {});
bool writeFileAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                         const AtomicWriteOptions& options = {});

/// Removes the hidden temporary files that interrupted `writeFileAtomically` calls for `file` left in its folder
/// (the process died between making one and renaming it). For the file's owner to call when it starts, before it
/// writes the file again; nothing else is touched.
void removeInterruptedWrites(const std::filesystem::path& file);
/// The same for every file of `folder` whose name `owned` accepts. A temporary file keeps only the first 64 bytes
/// of a longer name, so `owned` may be given such a prefix.
void removeInterruptedWrites(const std::filesystem::path& folder,
                             const std::function<bool(std::string_view name)>& owned);

}  // namespace morvane
