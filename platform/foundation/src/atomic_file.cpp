#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <random>
#include <string>

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t keptBytes = 64;
constexpr std::size_t randomLetters = 8;
constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view temporarySuffix = ".tmp";

// Hidden, after the file it stands in for, yet short: the file's own name may already use all 255 bytes.
std::string temporaryName(const fs::path& file) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string name = "." + file.filename().string().substr(0, keptBytes) + ".";
    for (std::size_t i = 0; i < randomLetters; ++i) name += letters[random() % letters.size()];
    return name + std::string(temporarySuffix);
}

// The (possibly shortened) name of the file that a temporary name of `temporaryName` stood in for; none when the
// name is not of that form.
std::optional<std::string_view> interruptedWriteTarget(std::string_view name) {
    constexpr std::size_t tail = 1 + randomLetters + temporarySuffix.size();  // ".xxxxxxxx.tmp"
    if (name.size() < 2 + tail || name.front() != '.' || !name.ends_with(temporarySuffix)) return std::nullopt;
    const std::string_view random = name.substr(name.size() - temporarySuffix.size() - randomLetters, randomLetters);
    if (name[name.size() - tail] != '.') return std::nullopt;
    for (char c : random) {
        if (letters.find(c) == std::string_view::npos) return std::nullopt;
    }
    const std::string_view target = name.substr(1, name.size() - 1 - tail);
    if (target.size() > keptBytes) return std::nullopt;
    return target;
}

}  // namespace

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool syncFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeFileAtomically(const fs::path& file, std::string_view bytes, const AtomicWriteOptions& options) {
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    const mode_t mode = options.permissions ? static_cast<mode_t>(*options.permissions & fs::perms::mask) : 0666;
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = folder / temporaryName(file);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = (!options.permissions || ::fchmod(fd, mode) == 0) && writeAll(fd, bytes.data(), bytes.size()) &&
              (!options.durable || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (options.durable) syncFolder(folder);
    return true;
}

void removeInterruptedWrites(const fs::path& folder, const std::function<bool(std::string_view name)>& owned) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const auto target = interruptedWriteTarget(name);
        if (!target || !owned(*target)) continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || it->is_symlink(typeError)) continue;
        std::error_code ignored;
        fs::remove(it->path(), ignored);
    }
}

void removeInterruptedWrites(const fs::path& file) {
    const std::string name = file.filename().string();
    const std::string kept = name.substr(0, keptBytes);
    removeInterruptedWrites(file.parent_path().empty() ? fs::path(".") : file.parent_path(),
                            [&](std::string_view target) { return target == kept; });
}

bool writeFileAtomically(const fs::path& file, std::span<const std::uint8_t> bytes, const AtomicWriteOptions& options) {
    return writeFileAtomically(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                               options);
}

}  // namespace morvane
