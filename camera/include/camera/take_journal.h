#pragma once

// "MRJOURN1", the header's length (u32) and the header, then one 40-byte record per sample in the order the
// samples lie in the movie. Numbers are in this computer's byte order: a journal is read where it was written.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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
    std::vector<JournalStream> streams;
};

std::string journalHeaderBytes(JournalHeader& h);
std::string journalRecordBytes(const JournalSample& s);

/// The journal's header and its whole records; none when it holds no usable header.
std::optional<std::pair<JournalHeader, std::vector<JournalSample>>> readJournal(std::string_view bytes);

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
