#include "camera/take_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <limits>

#include "camera/take_journal.h"
#include "camera/timecode_atoms.h"
#include "platform/ffmpeg_handles.h"
#include "platform/log.h"
#include "recording/movie_file.h"

namespace morvane {

namespace fs = std::filesystem;

bool startCodes(std::uint8_t* data, std::int64_t size) {
    for (std::int64_t at = 0; at < size;) {
        if (size - at < 4) return false;
        const std::int64_t length =
            (std::int64_t(data[at]) << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) | data[at + 3];
        if (length <= 0 || length > size - at - 4) return false;
        data[at] = data[at + 1] = data[at + 2] = 0;
        data[at + 3] = 1;
        at += 4 + length;
    }
    return true;
}

/// The movie's samples that its journal lists, wholly written, put back under an index: the header and the index
/// are written again as the take's own recorder would have written them, the samples are left where they lie.
std::optional<MovieRecorder::Interrupted> finishFromJournal(const fs::path& movie, const fs::path& journalPath) {
    std::error_code ec;
    const auto journalSize = fs::file_size(journalPath, ec);
    if (ec || journalSize > (std::uintmax_t(1) << 32)) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(journalSize), '\0');
    {
        std::ifstream in(journalPath, std::ios::binary);
        if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
    }
    auto journal = readJournal(bytes);
    if (!journal) return std::nullopt;
    auto& [header, records] = *journal;

    MovieFile file;
    if (!file.open(::open(movie.c_str(), O_RDWR | O_CLOEXEC))) return std::nullopt;
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return std::nullopt;
    // The samples in the order they lie, each wholly in the file; the first picture a key frame.
    std::vector<JournalSample> samples;
    std::int64_t next = header.dataStart;
    bool pictures = false;
    constexpr std::int64_t kLatest = std::int64_t(1) << 52;  // ticks: far beyond any take, far from overflowing
    for (const auto& s : records) {
        if (s.stream >= header.streams.size() || s.size <= 0 || s.offset < next || s.offset > st.st_size - s.size ||
            s.pts < -kLatest || s.pts > kLatest || s.dts < -kLatest || s.dts > kLatest || s.duration < 0 ||
            s.duration > kLatest)
            break;
        const bool picture = s.stream == 0;
        if (picture && !pictures && !s.key) break;
        pictures = pictures || picture;
        samples.push_back(s);
        next = s.offset + s.size;
    }
    if (!pictures) return std::nullopt;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mov", movie.c_str()) < 0 || !raw) return std::nullopt;
    ff::OutputFormat output(raw);
    for (auto& journalled : header.streams) {
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (!stream || avcodec_parameters_copy(stream->codecpar, journalled.parameters.get()) < 0) return std::nullopt;
        stream->time_base = journalled.timeBase;
        stream->avg_frame_rate = journalled.frameRate;
    }
    AVStream* video = output->streams[0];
    if (header.timecode) setTimecode(output.get(), video, header.frameRate, header.ntsc, header.startFrame);
    setRotation(video, header.rotation);
    output->pb = file.io;
    file.keptFrom = header.dataStart;
    file.keptTo = next;
    const auto give = [&] {
        file.close(output.get());
        return std::nullopt;
    };
    if (writeMovieHeader(output.get(), header.videoTimescale) < 0 || avio_tell(output->pb) != header.dataStart)
        return give();

    const bool startCoded =
        video->codecpar->codec_id == AV_CODEC_ID_H264 || video->codecpar->codec_id == AV_CODEC_ID_HEVC;
    std::int64_t first = std::numeric_limits<std::int64_t>::max(), end = std::numeric_limits<std::int64_t>::min();
    ff::Packet packet = ff::makePacket();
    if (!packet) return give();
    for (const auto& s : samples) {
        av_packet_unref(packet.get());
        if (av_new_packet(packet.get(), s.size) < 0) return give();
        if (::pread(file.fd, packet->data, static_cast<std::size_t>(s.size), s.offset) != s.size) return give();
        if (s.stream == 0 && startCoded && !startCodes(packet->data, s.size)) return give();
        packet->stream_index = s.stream;
        packet->pts = s.pts;
        packet->dts = s.dts;
        packet->duration = s.duration;
        packet->flags = s.key ? AV_PKT_FLAG_KEY : 0;
        // Written again, each sample must come to lie where it lies.
        if (avio_tell(output->pb) != s.offset || av_write_frame(output.get(), packet.get()) < 0 ||
            avio_tell(output->pb) != s.offset + s.size)
            return give();
        if (s.stream == 0) {
            first = std::min(first, s.pts);
            end = std::max(end, s.pts + s.duration);
        }
    }
    if (av_write_trailer(output.get()) < 0 || file.position < next) return give();
    const bool cut = ::ftruncate(file.fd, file.end) == 0 && ::fdatasync(file.fd) == 0;
    file.close(output.get());
    if (!cut) return std::nullopt;
    if (header.timecode) {
        if (auto tc = MovieRecorder::timecodeFormat(header.frameRate, header.ntsc))
            patchTimecodeFlags(movie, tc->flags);
    }
    MovieRecorder::Interrupted take;
    take.movie = movie;
    take.duration = static_cast<double>(end - first) * av_q2d(video->time_base);
    take.startDate = Date{header.startDate};
    take.startFrame = header.startFrame;
    take.frameRate = header.frameRate;
    take.ntsc = header.ntsc;
    return take;
}

std::optional<MovieRecorder::Interrupted> MovieRecorder::finishInterrupted(const fs::path& movie) {
    const fs::path journal = journalOf(movie);
    std::error_code ec;
    fs::remove(reserveOf(movie), ec);  // the room kept for the index, which is written now
    auto take = finishFromJournal(movie, journal);
    fs::remove(journal, ec);
    if (!take) {
        log::error("MovieRecorder", "nothing playable in the cut-off take " + movie.filename().string());
        fs::remove(movie, ec);
    }
    return take;
}

}  // namespace morvane
