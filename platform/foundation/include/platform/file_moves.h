#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace morvane {

/// Renames `from` to `to` unless something already has that name. 0, or the errno (EEXIST when the name is taken).
int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

/// Keeps a file that could not be read, so that the next save does not destroy it: renames it to
/// "<name>.unreadable" in the same folder, or to the first free of "<name>.unreadable 2", "<name>.unreadable 3"…
/// Never replaces a file. False, with the reason in `error` when given, when the file could not be moved.
bool setAsideUnreadable(const std::filesystem::path& file, std::error_code* error = nullptr);

/// The n-th name of a file's numbered names: "<stem><extension>" for 1, else "<stem> <n><extension>" (the extension
/// with its dot, or empty). The stem is shortened on a UTF-8 boundary so that the name fits in `maxBytes`.
std::string numberedName(std::string_view stem, std::string_view extension, long long n, std::size_t maxBytes = 255);

/// Claims the first free of a file's numbered names in `folder`: calls `claim` with each in turn until it answers
/// other than EEXIST (0: claimed, else the errno). Claiming rather than looking keeps two callers from taking one
/// name. The claimed path, or none with the reason in `error`.
std::optional<std::filesystem::path> claimFirstFreeName(const std::filesystem::path& folder, std::string_view stem,
                                                        std::string_view extension,
                                                        const std::function<int(const std::filesystem::path&)>& claim,
                                                        std::error_code& error);

/// How `placeFile` brought a file to its new name.
enum class Placement { moved, copied };

struct PlaceOptions {
    /// Replaces what has the new name (in one step); without, a taken name fails with EEXIST.
    bool replace = false;
    /// Always copies, leaving the original as it is.
    bool copy = false;
    /// After a copy across disks, removes the original; without, it stays for the caller to remove once the new
    /// file is recorded.
    bool removeOriginal = true;
    /// The placed file gets the permissions of a new file of the user (0666 less the umask): for captures and
    /// exports that other programs and accounts open. Without, it keeps the original's.
    bool forUser = false;
};

/// Brings a file in for good: renames it, or across disks (or when asked to copy) copies it to a hidden file beside
/// `to`, flushes that and renames it; then flushes the folder. The new name shows the whole file or nothing, and
/// both last through a crash of the machine before the caller answers for the file. The placement, or none with the
/// reason in `error` (the original is then where it was, and nothing is left beside `to`). The first placement of the
/// process in a folder removes what placements cut short by the end of an earlier run left there.
std::optional<Placement> placeFile(const std::filesystem::path& from, const std::filesystem::path& to,
                                   std::error_code& error, const PlaceOptions& options = {});

/// `placeFile` under the first free of the numbered names "<stem><extension>", "<stem> 2<extension>"… in `folder`,
/// never replacing a file. The new path, or none with the reason in `error`.
std::optional<std::filesystem::path> placeFileUnderFreeName(const std::filesystem::path& from,
                                                            const std::filesystem::path& folder, std::string_view stem,
                                                            std::string_view extension, std::error_code& error,
                                                            const PlaceOptions& options = {});

/// Removes the hidden files that placements interrupted by the end of the process left in `folder`.
void removeInterruptedPlacements(const std::filesystem::path& folder);

/// The permission bits a new file of this process's user gets: 0666 less the umask.
std::filesystem::perms userFilePermissions();

}  // namespace morvane
