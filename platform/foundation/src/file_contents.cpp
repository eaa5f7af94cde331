#include "platform/file_contents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <vector>

namespace morvane {

namespace fs = std::filesystem;

std::optional<std::string> readFileContents(const std::filesystem::path& file, std::uintmax_t maxBytes) {
    // Non-blocking, so that a named pipe is refused below instead of holding the caller at the open; regular
    // files read the same either way.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string contents;
    contents.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        // A file that grows while it is read is held to the same limit.
        if (n < 0 || contents.size() + static_cast<std::size_t>(n) > maxBytes) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return contents;
}

bool sameContents(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(a, ec)) || !fs::is_regular_file(fs::symlink_status(b, ec)))
        return false;
    const auto size = fs::file_size(a, ec);
    if (ec || fs::file_size(b, ec) != size || ec) return false;
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> bufferX(1 << 16), bufferY(1 << 16);
    while (x && y) {
        x.read(bufferX.data(), static_cast<std::streamsize>(bufferX.size()));
        y.read(bufferY.data(), static_cast<std::streamsize>(bufferY.size()));
        if (x.gcount() != y.gcount()) return false;
        if (!std::equal(bufferX.begin(), bufferX.begin() + x.gcount(), bufferY.begin())) return false;
    }
    return x.eof() && y.eof();
}

}  // namespace morvane
