#include "platform/keychain.h"

#include "platform/atomic_file.h"
#include "platform/user_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace morvane {

namespace fs = std::filesystem;

namespace {

// Item names become file names: one plain path component, never hidden (temporary files are),
// never a way out of the folder.
bool validName(const std::string& name) {
    if (name.empty() || name.size() > 200 || name.front() == '.') return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
    }
    return true;
}

}  // namespace

Keychain::Keychain(fs::path folder) : folder_(std::move(folder)) {
    std::error_code ec;
    fs::create_directories(folder_, ec);
    // Only the owner may list or open the items.
    ::chmod(folder_.c_str(), S_IRWXU);
}

fs::path Keychain::defaultFolder() {
    return userBaseFolder("XDG_DATA_HOME", ".local/share").value_or(".local/share") / "Brindlecroft" / "keychain";
}

fs::path Keychain::pathFor(const std::string& name) const {
    return folder_ / name;
}

std::optional<Bytes> Keychain::read(const std::string& name) const {
    if (!validName(name)) return std::nullopt;
    std::lock_guard lock(mutex_);
    const int fd = ::open(pathFor(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    Bytes out;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    ::close(fd);
    return out;
}

bool Keychain::write(const std::string& name, const Bytes& value) {
    if (!validName(name)) return false;
    std::lock_guard lock(mutex_);
    std::error_code ec;
    fs::create_directories(folder_, ec);

    // Written beside the item and renamed over it, so a crash leaves the old or the new item, never a torn one.
    return writeFileAtomically(pathFor(name), value, {.permissions = fs::perms::owner_read | fs::perms::owner_write});
}

bool Keychain::remove(const std::string& name) {
    if (!validName(name)) return false;
    std::lock_guard lock(mutex_);
    if (::unlink(pathFor(name).c_str()) != 0) return errno == ENOENT;
    syncFolder(folder_);
    return true;
}

}  // namespace morvane
