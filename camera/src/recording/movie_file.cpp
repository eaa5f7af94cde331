#include "recording/movie_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/timecode.h>
}

#include "camera/timecode_atoms.h"
#include "protocol/timeline_rate.h"

namespace morvane {

namespace fs = std::filesystem;

AVRational realRate(int rate, bool ntsc) {
    if (ntsc && TimelineRate::ntscRates().count(rate)) return AVRational{rate * 1000, 1001};
    return AVRational{rate, 1};
}

void setTimecode(AVFormatContext* output, AVStream* stream, int rate, bool ntsc, std::int64_t frame) {
    const auto tc = timecodeFormat(rate, ntsc);
    if (!tc) return;
    AVTimecode timecode{};
    const int flags = (tc->flags & 1) ? AV_TIMECODE_FLAG_DROPFRAME : 0;
    if (av_timecode_init(&timecode, realRate(rate, ntsc), flags, 0, output) == 0) {
        char text[AV_TIMECODE_STR_SIZE];
        av_timecode_make_string(&timecode, text, static_cast<int>(frame));
        av_dict_set(&stream->metadata, "timecode", text, 0);
    }
}

void setRotation(AVStream* stream, double degrees) {
    if (auto* matrix = reinterpret_cast<std::int32_t*>(
            av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, sizeof(std::int32_t) * 9))) {
        av_display_rotation_set(matrix, degrees);
    }
}

int writeMovieHeader(AVFormatContext* output, int videoTimescale) {
    AVDictionary* muxerOptions = nullptr;
    av_dict_set_int(&muxerOptions, "video_track_timescale", videoTimescale, 0);
    const int rc = avformat_write_header(output, &muxerOptions);
    av_dict_free(&muxerOptions);
    return rc;
}

bool MovieFile::open(int descriptor) {
    fd = descriptor;
    if (fd < 0) return false;
    auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
    if (buffer) io = avio_alloc_context(buffer, bufferSize, 1, this, nullptr, &MovieFile::write, &MovieFile::seek);
    if (!io) av_free(buffer);
    return io != nullptr;
}

void MovieFile::close(AVFormatContext* output) {
    if (output && output->pb == io) output->pb = nullptr;
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int MovieFile::write(void* opaque, std::uint8_t* data, int size) {
    auto& f = *static_cast<MovieFile*>(opaque);
    std::int64_t at = f.position;
    int done = 0;
    while (done < size) {
        std::int64_t n = size - done;
        if (at >= f.keptFrom && at < f.keptTo) {
            n = std::min(n, f.keptTo - at);
        } else {
            if (at < f.keptFrom) n = std::min(n, f.keptFrom - at);
            const ssize_t w = ::pwrite(f.fd, data + done, static_cast<std::size_t>(n), at);
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && (errno == ENOSPC || errno == EDQUOT) && !f.full) {
                f.full = true;
                if (f.giveBackRoom) f.giveBackRoom();
                continue;
            }
            if (w <= 0) return AVERROR(w < 0 ? errno : EIO);
            n = w;
        }
        at += n;
        done += static_cast<int>(n);
    }
    f.position = at;
    f.end = std::max(f.end, at);
    return size;
}

std::int64_t MovieFile::seek(void* opaque, std::int64_t offset, int whence) {
    auto& f = *static_cast<MovieFile*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return f.end;
        case SEEK_SET:
            f.position = offset;
            break;
        case SEEK_CUR:
            f.position += offset;
            break;
        case SEEK_END:
            f.position = f.end + offset;
            break;
        default:
            return AVERROR(EINVAL);
    }
    return f.position;
}

bool KeptRoom::keep(std::int64_t bytes) {
    if (fd < 0) return false;
    if (bytes <= kept) return true;
    const int rc = posix_fallocate(fd, 0, bytes);
    if (rc == ENOSPC || rc == EDQUOT) return false;
    if (rc == 0) kept = bytes;
    return true;
}

void KeptRoom::giveBack() {
    if (fd < 0) return;
    ::close(fd);
    fd = -1;
    std::error_code ec;
    fs::remove(path, ec);
}

}  // namespace morvane
