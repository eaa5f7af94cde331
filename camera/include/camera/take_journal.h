#pragma once

// A take's journal: written beside its movie while the take is recorded (".<movie>.journal"), read to finish a take
// that was cut off. Its layout:
//
//   bytes   field
//   7       magic "MRJOURN"
//   1       version: '3' (an ASCII digit) for the layout below; '2' for the same without the camera's name, '1'
//           without the camera's identity either
//   4       u32 H: the header's length
//   H       the header:
//             f64 start date (seconds since the reference date, on the shared clock)
//             i64 start frame (the first picture's time-of-day frame)
//             i32 nominal frame rate, u8 NTSC (0 or 1), u8 timecode track (0 or 1)
//             f64 rotation (degrees), i32 the video's time scale
//             i64 data start (where the first sample may lie: the end of what the movie's header wrote)
//             u16 C and C bytes: the identity of the camera that records the take (at most 1024; version 2 only):
//                 a take cut off on a drive that another camera may see is finished by its own camera alone
//             u16 M and M bytes: the name of that camera, as the crew knows it (at most 1024; version 3 only)
//             u8  N, the number of tracks (1 to 4, the first the picture's); for each:
//               27 × i64 codec parameters (in `eachCodecField`'s order), i32 × 2 time base, i32 × 2 frame rate,
//               u32 E and E bytes of codec extradata (at most 1 MiB)
//   40 × n  one record per sample written, in the order the samples lie in the movie:
//             u8 track, u8 key frame (0 or 1), u16 zero, i32 size, i64 offset in the movie,
//             i64 pts, i64 dts, i64 duration (in the track's time base)
//
// Numbers are in this computer's byte order: a journal is read where it was written. Records are only appended; a
// record cut short is where the journal ends. Today's writer writes version '3'; the reader reads '1', '2' and '3'
// (a take of version '1' names no camera), and any other version is of another layout.

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/rational.h>
}

namespace morvane {

struct JournalSample {
    std::uint8_t stream = 0;
    bool key = false;
    std::int32_t size = 0;
    std::int64_t offset = 0, pts = 0, dts = 0, duration = 0;  ///< in the stream's time base

    friend bool operator==(const JournalSample&, const JournalSample&) = default;
};

struct ParametersDeleter {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

struct JournalStream {
    std::unique_ptr<AVCodecParameters, ParametersDeleter> parameters{avcodec_parameters_alloc()};
    AVRational timeBase{0, 1};
    AVRational frameRate{0, 1};
};

struct JournalHeader {
    double startDate = 0;  ///< seconds since the reference date, on the shared clock
    std::int64_t startFrame = 0;
    std::int32_t frameRate = 30;
    bool ntsc = false;
    bool timecode = false;
    double rotation = 0;
    std::int32_t videoTimescale = 30;
    std::int64_t dataStart = 0;  ///< where the first sample may lie: the end of what the header wrote
    std::string camera;          ///< the identity of the camera that records the take; empty in version 1
    std::string cameraName;      ///< its name, as the crew knows it; empty before version 3
    std::vector<JournalStream> streams;
};

std::string journalHeaderBytes(JournalHeader& h);
std::string journalRecordBytes(const JournalSample& s);

/// Reads a journal as it streams from its file, a record at a time: what it holds at once is its header, at most
/// a few MiB however long the journal.
class JournalReader {
public:
    enum class State {
        whole,           ///< its header reads: its records follow
        unknownVersion,  ///< a journal of another layout: not read
        damaged,         ///< not a journal, or its header cannot be read
    };

    explicit JournalReader(std::istream& in);
    State state() const { return state_; }
    /// Meaningful when the journal is whole.
    const JournalHeader& header() const { return header_; }
    JournalHeader& header() { return header_; }
    /// The next record; none at the end of the journal, at a record cut short or at one that cannot be a sample's
    /// (garbage), which ends the journal.
    std::optional<JournalSample> next();

private:
    std::istream& in_;
    State state_ = State::damaged;
    JournalHeader header_;
};

/// A journal's bytes read whole (for a journal held in memory): its state, header and records.
struct JournalContents {
    JournalReader::State state = JournalReader::State::damaged;
    JournalHeader header;
    std::vector<JournalSample> samples;
};
JournalContents readJournal(std::string_view bytes);

/// The journal of a take being written; what it notes is handed, with the movie's own bytes before it, to the
/// thread that brings both onto the disk (`TakeSync`).
struct Journal {
    int fd = -1;
    std::string pending;

    Journal() = default;
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    ~Journal();
    void note(const std::string& bytes);
};

}  // namespace morvane
