#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <random>
#include <string>

namespace morvane {

namespace {

bool writeAll(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string temporaryName() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = ".shoot-";
    for (int i = 0; i < 12; ++i) name += letters[random() % (sizeof letters - 1)];
    return name + ".tmp";
}

}  // namespace

bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, bool durable) {
    const auto folder = file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
    // A short name of our own: the target's name may already use the whole 255 bytes.
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = folder / temporaryName();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes) && (!durable || ::fdatasync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool replaceFileContents(const std::filesystem::path& file, std::string_view bytes, bool durable) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
        struct stat info {};
        bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                    static_cast<std::uint64_t>(info.st_size) == bytes.size();
        if (same) {
            std::string existing(bytes.size(), '\0');
            std::size_t done = 0;
            while (done < existing.size()) {
                const ssize_t n = ::read(fd, existing.data() + done, existing.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            same = done == bytes.size() && existing == bytes;
        }
        ::close(fd);
        if (same) return true;
    }
    return writeFileAtomically(file, bytes, durable);
}

}  // namespace morvane
