#include "atomic_file.h"

#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace morvane {

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
    return writeFileAtomically(file, bytes, {.durable = durable});
}

}  // namespace morvane
