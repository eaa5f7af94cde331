#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

extern "C" {
#include <libavformat/avformat.h>
}

namespace morvane {

/// The rate of a movie's frames: 30000/1001 for 29.97.
AVRational realRate(int rate, bool ntsc);

/// Puts the first frame's time-of-day timecode on the video stream, for the muxer's timecode track.
void setTimecode(AVFormatContext* output, AVStream* stream, int rate, bool ntsc, std::int64_t frame);

/// The display matrix turns the picture clockwise by the capture angle when it is shown. (The movie muxer stores
/// FFmpeg's matrix transposed, so the angle goes in with its sign as it is; players and ffprobe then read back a
/// clockwise turn, "rotation=-90" for 90.)
void setRotation(AVStream* stream, double degrees);

/// The track's time scale is the rate's own (30000 for 29.97, 25 for 25) so that every frame, and the timecode
/// track that takes the video's scale, lasts an exact number of ticks.
int writeMovieHeader(AVFormatContext* output, int videoTimescale);

/// The movie's bytes on the disk, written through FFmpeg's I/O on a descriptor of ours: it can be flushed to the
/// disk with the journal, and a disk that fills gives back the room kept for the index (which then still fits)
/// and ends the take there.
struct MovieFile {
    /// Bytes gathered before they go to the system: a few write calls a second even for ProRes's tens of megabytes.
    static constexpr int bufferSize = 1 << 20;

    int fd = -1;
    AVIOContext* io = nullptr;
    std::int64_t position = 0;
    std::int64_t end = 0;  ///< the furthest byte written or kept
    /// Bytes already in the file, left as they are (when a cut-off take is finished).
    std::int64_t keptFrom = 0, keptTo = 0;
    std::function<void()> giveBackRoom;
    bool full = false;  ///< the disk filled

    MovieFile() = default;
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;
    ~MovieFile() { close(); }

    /// Takes the descriptor over.
    bool open(int descriptor);
    /// Detaches the I/O from `output` (whose deleter would close it as FFmpeg's own) and closes the file.
    void close(AVFormatContext* output = nullptr);

    static int write(void* opaque, std::uint8_t* data, int size);
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence);
};

/// Room kept free on the movie's disk for its index, as a file beside it.
struct KeptRoom {
    std::filesystem::path path;
    int fd = -1;
    std::int64_t kept = 0;

    KeptRoom() = default;
    KeptRoom(const KeptRoom&) = delete;
    KeptRoom& operator=(const KeptRoom&) = delete;
    ~KeptRoom() { giveBack(); }

    /// False when the disk has not that much room. (A file system that cannot keep room leaves the take without.)
    bool keep(std::int64_t bytes);
    void giveBack();
};

}  // namespace morvane
