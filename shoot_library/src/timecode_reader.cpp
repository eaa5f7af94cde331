// The start timecode of a movie: the first sample of its QuickTime timecode track, found by a small walk over
// the movie's atoms with plain file reads.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "shoot_library/shoot_library.h"

namespace morvane {

namespace {

constexpr std::uint64_t maxAtomBody = 64ull * 1024 * 1024;

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint64_t be64(const std::uint8_t* p) {
    return (std::uint64_t{be32(p)} << 32) | be32(p + 4);
}

bool typeIs(const std::uint8_t* p, std::string_view type) {
    return type.size() == 4 && std::memcmp(p, type.data(), 4) == 0;
}

// Reads up to `count` bytes at `offset`; none on a read error. Fewer bytes near the end of the file.
std::optional<Bytes> readAt(int fd, std::uint64_t offset, std::uint64_t count) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return Bytes{};
    Bytes bytes(count);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

std::optional<Bytes> firstChild(const Bytes& body, std::string_view type) {
    auto children = ShootLibrary::childAtoms(body, type);
    if (children.empty()) return std::nullopt;
    return std::move(children.front());
}

struct FileCloser {
    int fd;
    ~FileCloser() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::optional<Bytes> ShootLibrary::topLevelAtom(int fd, std::string_view type) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::nullopt;
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    std::uint64_t offset = 0;
    while (offset < fileSize) {
        auto header = readAt(fd, offset, 16);
        if (!header || header->size() < 8) return std::nullopt;
        std::uint64_t size = be32(header->data());
        std::uint64_t headerLength = 8;
        if (size == 1) {
            if (header->size() != 16) return std::nullopt;
            size = be64(header->data() + 8);
            if (size < 16) return std::nullopt;
            headerLength = 16;
        } else if (size < 8) {
            return std::nullopt;
        }
        if (typeIs(header->data() + 4, type)) {
            if (size >= maxAtomBody) return std::nullopt;
            // Never more than the file holds, whatever the size field claims.
            const std::uint64_t available = fileSize - offset > headerLength ? fileSize - offset - headerLength : 0;
            return readAt(fd, offset + headerLength, std::min(size - headerLength, available));
        }
        // An atom that runs past the end of the file ends the walk; so does one whose size would overflow.
        if (size > fileSize - offset) return std::nullopt;
        offset += size;
    }
    return std::nullopt;
}

std::vector<Bytes> ShootLibrary::childAtoms(const Bytes& body, std::string_view type) {
    std::vector<Bytes> children;
    std::uint64_t pos = 0;
    while (pos + 8 <= body.size()) {
        const std::uint64_t size = be32(body.data() + pos);
        if (size < 8 || pos + size > body.size()) break;
        if (typeIs(body.data() + pos + 4, type)) {
            children.emplace_back(body.begin() + static_cast<std::ptrdiff_t>(pos + 8),
                                  body.begin() + static_cast<std::ptrdiff_t>(pos + size));
        }
        pos += size;
    }
    return children;
}

std::optional<std::pair<std::int64_t, bool>> ShootLibrary::timecodeSampleDescription(const Bytes& stsd) {
    if (stsd.size() < 41 || !typeIs(stsd.data() + 12, "tmcd")) return std::nullopt;
    const std::uint8_t frames = stsd[40];
    if (frames == 0) return std::nullopt;
    // The rate is the track's own ratio (30000/1001, 90000/3003 and 60000/2002 are all 29.97): cameras pick
    // their own time scales. A ratio that is no rate leaves the frame count and plain rate.
    const std::uint32_t timeScale = be32(stsd.data() + 32);
    const std::uint32_t frameDuration = be32(stsd.data() + 36);
    if (timeScale == 0 || frameDuration == 0) return std::make_pair(std::int64_t{frames}, false);
    const double fps = static_cast<double>(timeScale) / frameDuration;
    if (!(fps >= 0.5 && fps < 256)) return std::make_pair(std::int64_t{frames}, false);
    const bool ntsc = std::abs(fps - std::round(fps)) > 0.01;
    const auto nominal = static_cast<std::int64_t>(std::llround(ntsc ? fps * 1001.0 / 1000.0 : fps));
    return std::make_pair(std::max<std::int64_t>(1, nominal), ntsc);
}

std::optional<std::int64_t> ShootLibrary::firstChunkOffset(const Bytes& stbl) {
    if (auto stco = firstChild(stbl, "stco"); stco && stco->size() >= 12) return be32(stco->data() + 8);
    if (auto co64 = firstChild(stbl, "co64"); co64 && co64->size() >= 16) {
        const std::uint64_t offset = be64(co64->data() + 8);
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(offset);
    }
    return std::nullopt;
}

std::optional<TimecodeStart> ShootLibrary::readTimecodeStart(const std::filesystem::path& movie) {
    FileCloser file{::open(movie.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return std::nullopt;
    auto moov = topLevelAtom(file.fd, "moov");
    if (!moov) return std::nullopt;
    for (const auto& trak : childAtoms(*moov, "trak")) {
        auto mdia = firstChild(trak, "mdia");
        if (!mdia) continue;
        auto hdlr = firstChild(*mdia, "hdlr");
        if (!hdlr || hdlr->size() < 12 || !typeIs(hdlr->data() + 8, "tmcd")) continue;
        auto minf = firstChild(*mdia, "minf");
        if (!minf) continue;
        auto stbl = firstChild(*minf, "stbl");
        if (!stbl) continue;
        auto stsd = firstChild(*stbl, "stsd");
        if (!stsd) continue;
        auto description = timecodeSampleDescription(*stsd);
        if (!description) continue;
        auto offset = firstChunkOffset(*stbl);
        if (!offset) continue;
        auto sample = readAt(file.fd, static_cast<std::uint64_t>(*offset), 4);
        if (!sample || sample->size() < 4) continue;
        const auto frame = static_cast<std::int32_t>(be32(sample->data()));
        return TimecodeStart{frame, description->first, description->second};
    }
    return std::nullopt;
}

}  // namespace morvane
