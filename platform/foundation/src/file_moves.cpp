#include "platform/file_moves.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace morvane {

int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without the flag: nothing exists at the destination a moment ago.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool setAsideUnreadable(const std::filesystem::path& file, std::error_code* error) {
    const std::string base = file.filename().string() + ".unreadable";
    int failure = EEXIST;
    for (int n = 1; n < 1000 && failure == EEXIST; ++n) {
        const auto aside = file.parent_path() / (n == 1 ? base : base + " " + std::to_string(n));
        failure = renameNoReplace(file, aside);
    }
    if (failure != 0 && error) *error = std::error_code(failure, std::generic_category());
    return failure == 0;
}

}  // namespace morvane
