#include "platform/file_moves.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <string>

#include "platform/atomic_file.h"
#include "platform/utf8.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view placingPrefix = ".placing-";
constexpr std::string_view placingSuffix = ".tmp";

// Copies cut short by the end of an earlier run are removed the first time this process places a file in their
// folder: before any placement of its own can be under way there, and before their size keeps the next one out.
void sweepFolderOnce(const fs::path& folder) {
    static std::mutex lock;
    static auto* swept = new std::set<fs::path>;  // never destroyed: placements may run while the process ends
    std::error_code ec;
    fs::path key = fs::weakly_canonical(folder, ec);
    if (ec) key = folder.lexically_normal();
    std::lock_guard hold(lock);
    if (!swept->insert(key).second) return;
    removeInterruptedPlacements(folder);
}

int renameReplacing(const fs::path& from, const fs::path& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

fs::path folderOf(const fs::path& file) {
    return file.parent_path().empty() ? fs::path(".") : file.parent_path();
}

// A move that landed: the new name and the contents must be on the disk before the caller answers for the file.
// When they cannot be flushed the file goes back.
bool settleMoved(const fs::path& from, const fs::path& to, const PlaceOptions& options, std::error_code& error) {
    std::error_code ignored;
    if (options.forUser) fs::permissions(to, userFilePermissions(), ignored);
    if (!syncFile(to)) {
        (void)(options.replace ? renameReplacing(to, from) : renameNoReplace(to, from));
        error = std::make_error_code(std::errc::io_error);
        return false;
    }
    syncFolder(folderOf(to));
    return true;
}

// A whole, flushed copy of `from` under a hidden name in `folder`: the file a copy is renamed from.
std::optional<fs::path> copyBeside(const fs::path& from, const fs::path& folder, const PlaceOptions& options,
                                   std::error_code& error) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path temporary =
            folder / (std::string(placingPrefix) + std::to_string(random() % 100'000'000) + std::string(placingSuffix));
        std::error_code ec;
        if (fs::exists(fs::symlink_status(temporary, ec))) continue;
        fs::copy_file(from, temporary, fs::copy_options::none, ec);
        if (!ec && options.forUser) fs::permissions(temporary, userFilePermissions(), ec);
        if (!ec && !syncFile(temporary)) ec = std::make_error_code(std::errc::io_error);
        if (!ec) return temporary;
        std::error_code ignored;
        fs::remove(temporary, ignored);
        error = ec;
        return std::nullopt;
    }
    error = std::make_error_code(std::errc::file_exists);
    return std::nullopt;
}

// After a copy is in place: its folder is flushed, and the original goes when asked.
void settleCopied(const fs::path& from, const fs::path& to, const PlaceOptions& options) {
    syncFolder(folderOf(to));
    if (options.removeOriginal && !options.copy) {
        std::error_code ignored;
        fs::remove(from, ignored);
    }
}

}  // namespace

int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without the flag: nothing exists at the destination a moment ago.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string numberedName(std::string_view stem, std::string_view extension, long long n, std::size_t maxBytes) {
    const std::string tail = (n <= 1 ? std::string() : " " + std::to_string(n)) + std::string(extension);
    const std::size_t room = tail.size() < maxBytes ? maxBytes - tail.size() : 0;
    return std::string(utf8Prefix(stem, room)) + tail;
}

std::optional<fs::path> claimFirstFreeName(const fs::path& folder, std::string_view stem, std::string_view extension,
                                           const std::function<int(const fs::path&)>& claim, std::error_code& error) {
    for (long long n = 1; n <= 100'000; ++n) {
        const fs::path candidate = folder / numberedName(stem, extension, n);
        const int failure = claim(candidate);
        if (failure == 0) return candidate;
        if (failure != EEXIST) {
            error = std::error_code(failure, std::generic_category());
            return std::nullopt;
        }
    }
    error = std::make_error_code(std::errc::file_exists);
    return std::nullopt;
}

bool setAsideUnreadable(const fs::path& file, std::error_code* error) {
    std::error_code failure;
    const bool moved = claimFirstFreeName(
                           folderOf(file), file.filename().string() + ".unreadable", "",
                           [&](const fs::path& aside) { return renameNoReplace(file, aside); }, failure)
                           .has_value();
    if (!moved && error) *error = failure;
    return moved;
}

std::optional<Placement> placeFile(const fs::path& from, const fs::path& to, std::error_code& error,
                                   const PlaceOptions& options) {
    sweepFolderOnce(folderOf(to));
    if (!options.copy) {
        const int failure = options.replace ? renameReplacing(from, to) : renameNoReplace(from, to);
        if (failure == 0) {
            if (!settleMoved(from, to, options, error)) return std::nullopt;
            return Placement::moved;
        }
        if (failure != EXDEV) {
            error = std::error_code(failure, std::generic_category());
            return std::nullopt;
        }
    }
    const auto temporary = copyBeside(from, folderOf(to), options, error);
    if (!temporary) return std::nullopt;
    const int failure = options.replace ? renameReplacing(*temporary, to) : renameNoReplace(*temporary, to);
    if (failure != 0) {
        std::error_code ignored;
        fs::remove(*temporary, ignored);
        error = std::error_code(failure, std::generic_category());
        return std::nullopt;
    }
    settleCopied(from, to, options);
    return Placement::copied;
}

std::optional<fs::path> placeFileUnderFreeName(const fs::path& from, const fs::path& folder, std::string_view stem,
                                               std::string_view extension, std::error_code& error,
                                               const PlaceOptions& options) {
    sweepFolderOnce(folder);
    PlaceOptions noReplace = options;
    noReplace.replace = false;
    if (!options.copy) {
        std::error_code failure;
        const auto moved = claimFirstFreeName(
            folder, stem, extension, [&](const fs::path& name) { return renameNoReplace(from, name); }, failure);
        if (moved) {
            if (!settleMoved(from, *moved, noReplace, error)) return std::nullopt;
            return moved;
        }
        if (failure != std::errc::cross_device_link) {
            error = failure;
            return std::nullopt;
        }
    }
    const auto temporary = copyBeside(from, folder, noReplace, error);
    if (!temporary) return std::nullopt;
    const auto placed = claimFirstFreeName(
        folder, stem, extension, [&](const fs::path& name) { return renameNoReplace(*temporary, name); }, error);
    if (!placed) {
        std::error_code ignored;
        fs::remove(*temporary, ignored);
        return std::nullopt;
    }
    settleCopied(from, *placed, noReplace);
    return placed;
}

void removeInterruptedPlacements(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(placingPrefix) || !name.ends_with(placingSuffix)) continue;
        std::error_code ignored;
        if (it->is_regular_file(ignored) && !it->is_symlink(ignored)) fs::remove(it->path(), ignored);
    }
}

fs::perms userFilePermissions() {
    // The umask can only be read without changing it (which would race other threads) from the process's status.
    unsigned mask = 022;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) != 0) continue;
        try {
            mask = static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
        } catch (const std::exception&) {
        }
        break;
    }
    return static_cast<fs::perms>(0666 & ~mask);
}

}  // namespace morvane
