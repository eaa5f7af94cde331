#include "camera/timecode_atoms.h"

#include <cstring>
#include <fstream>
#include <functional>

#include "protocol/timeline_rate.h"

namespace morvane {

namespace fs = std::filesystem;

std::optional<TimecodeFormat> timecodeFormat(std::optional<int> frameRate, bool ntsc) {
    if (!frameRate || *frameRate < 1 || *frameRate > 255) return std::nullopt;
    const int rate = *frameRate;
    if (ntsc && TimelineRate::ntscRates().count(rate)) {
        return TimecodeFormat{1001, rate * 1000, rate, rate == 24 ? 2u : 3u};
    }
    return TimecodeFormat{1, rate, rate, 2};
}

namespace {

std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Where the flags word of the 'tmcd' sample description lies: walks moov/trak/mdia/minf/stbl/stsd.
std::optional<std::uint64_t> timecodeFlagsOffset(const fs::path& movie) {
    std::ifstream in(movie, std::ios::binary);
    if (!in) return std::nullopt;
    std::error_code ec;
    const std::uint64_t fileSize = fs::file_size(movie, ec);
    if (ec) return std::nullopt;
    const char* const path[] = {"moov", "trak", "mdia", "minf", "stbl", "stsd"};
    struct Range {
        std::uint64_t begin, end;
    };
    // Depth-first over the containers on the path; several 'trak' boxes are tried in turn.
    std::function<std::optional<std::uint64_t>(Range, int)> walk = [&](Range range,
                                                                       int depth) -> std::optional<std::uint64_t> {
        std::uint64_t at = range.begin;
        while (at + 8 <= range.end) {
            unsigned char head[16];
            in.seekg(static_cast<std::streamoff>(at));
            if (!in.read(reinterpret_cast<char*>(head), 8)) return std::nullopt;
            std::uint64_t size = be32(head);
            std::uint64_t headerSize = 8;
            if (size == 1) {
                if (!in.read(reinterpret_cast<char*>(head + 8), 8)) return std::nullopt;
                size = (std::uint64_t(be32(head + 8)) << 32) | be32(head + 12);
                headerSize = 16;
            } else if (size == 0) {
                size = range.end - at;
            }
            if (size < headerSize || size > range.end - at) return std::nullopt;
            if (std::memcmp(head + 4, path[depth], 4) == 0) {
                if (depth == 5) {
                    // stsd: version/flags (4), entry count (4), then sample entries.
                    std::uint64_t entry = at + headerSize + 8;
                    while (entry + 24 <= at + size) {
                        unsigned char e[8];
                        in.seekg(static_cast<std::streamoff>(entry));
                        if (!in.read(reinterpret_cast<char*>(e), 8)) return std::nullopt;
                        const std::uint32_t entrySize = be32(e);
                        if (std::memcmp(e + 4, "tmcd", 4) == 0) return entry + 8 + 6 + 2 + 4;
                        if (entrySize < 8) break;
                        entry += entrySize;
                    }
                } else if (auto found = walk({at + headerSize, at + size}, depth + 1)) {
                    return found;
                }
            }
            at += size;
        }
        return std::nullopt;
    };
    return walk({0, fileSize}, 0);
}

}  // namespace

std::optional<std::uint32_t> readTimecodeFlags(const fs::path& movie) {
    auto format = readTimecodeFormat(movie);
    if (!format) return std::nullopt;
    return format->flags;
}

std::optional<TimecodeFormat> readTimecodeFormat(const fs::path& movie) {
    auto offset = timecodeFlagsOffset(movie);
    if (!offset) return std::nullopt;
    std::ifstream in(movie, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(*offset));
    // flags (4), time scale (4), frame duration (4), frames per second (1)
    unsigned char fields[13];
    if (!in.read(reinterpret_cast<char*>(fields), sizeof fields)) return std::nullopt;
    return TimecodeFormat{static_cast<int>(be32(fields + 8)), static_cast<int>(be32(fields + 4)), fields[12],
                          be32(fields)};
}

bool patchTimecodeFlags(const fs::path& movie, std::uint32_t flags) {
    auto offset = timecodeFlagsOffset(movie);
    if (!offset) return false;
    std::fstream file(movie, std::ios::binary | std::ios::in | std::ios::out);
    if (!file) return false;
    file.seekp(static_cast<std::streamoff>(*offset));
    const unsigned char word[4] = {static_cast<unsigned char>(flags >> 24), static_cast<unsigned char>(flags >> 16),
                                   static_cast<unsigned char>(flags >> 8), static_cast<unsigned char>(flags)};
    file.write(reinterpret_cast<const char*>(word), 4);
    file.flush();
    return static_cast<bool>(file);
}

}  // namespace morvane
