#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace morvane::test {

/// A fresh folder under the system's temporary folder ($TMPDIR or /tmp), removed with everything in it at the end.
class TempDir {
public:
    TempDir() : TempDir(std::filesystem::temp_directory_path()) {}
    /// Under `base` instead, e.g. on another file system (see `otherFileSystem`).
    explicit TempDir(const std::filesystem::path& base) {
        std::string pattern = (base / "morvane-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        // A test may have taken the write permission away to provoke failures.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

/// A writable folder on another file system than the temporary folder, where moves between the two must copy; none
/// when the machine has no such folder.
inline std::optional<std::filesystem::path> otherFileSystem() {
    struct stat temporary {
    }, shared{};
    if (::stat(std::filesystem::temp_directory_path().c_str(), &temporary) != 0) return std::nullopt;
    if (::stat("/dev/shm", &shared) != 0 || shared.st_dev == temporary.st_dev) return std::nullopt;
    if (::access("/dev/shm", W_OK) != 0) return std::nullopt;
    return std::filesystem::path("/dev/shm");
}

}  // namespace morvane::test
