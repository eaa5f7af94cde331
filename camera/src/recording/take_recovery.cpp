#include "camera/take_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>

#include "camera/timecode_atoms.h"
#include "platform/ffmpeg_handles.h"
#include "platform/file_moves.h"
#include "platform/log.h"
#include "recording/movie_file.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kLatest = std::int64_t(1) << 52;     // ticks: far beyond any take, far from overflowing
constexpr std::int32_t kLargestSample = 256 << 20;          // far above any picture a recorder compresses
constexpr std::size_t kMostSoundBeforePictures = 16 << 20;  // bytes of sound held until the first picture

std::uint32_t be(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes[at + i];
    return value;
}

bool zeroRun(std::span<const std::uint8_t> bytes, std::size_t longest) {
    std::size_t run = 0;
    for (const auto b : bytes) {
        run = b == 0 ? run + 1 : 0;
        if (run > longest) return true;
    }
    return false;
}

// Length-prefixed NAL units filling the sample; a NAL unit ends in its stop bit and, emulation prevention being
// what it is, never holds 00 00 00, 00 00 01 or 00 00 02.
bool nalUnitsWhole(std::span<const std::uint8_t> bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        if (bytes.size() - at < 4) return false;
        const std::size_t length = be(bytes, at, 4);
        if (length == 0 || length > bytes.size() - at - 4) return false;
        const auto unit = bytes.subspan(at + 4, length);
        if (unit.back() == 0) return false;
        for (std::size_t i = 0; i + 2 < unit.size(); ++i)
            if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] <= 2) return false;
        at += 4 + length;
    }
    return !bytes.empty();
}

// A ProRes frame: its size, "icpf", its header, then its pictures (one, or two fields), each a header, a table of
// slice sizes and the slices, which fill it.
bool proResWhole(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 10 || be(bytes, 0, 4) != bytes.size() || std::memcmp(bytes.data() + 4, "icpf", 4) != 0)
        return false;
    std::size_t at = 8 + be(bytes, 8, 2);
    if (at <= 10 || at >= bytes.size()) return false;
    for (int picture = 0; at < bytes.size(); ++picture) {
        if (picture == 2 || bytes.size() - at < 8) return false;
        const std::size_t header = bytes[at] >> 3, size = be(bytes, at + 1, 4), slices = be(bytes, at + 5, 2);
        if (header < 8 || slices == 0 || size > bytes.size() - at || header + 2 * slices > size) return false;
        std::size_t sliced = header + 2 * slices;
        for (std::size_t i = 0; i < slices; ++i) sliced += be(bytes, at + header + 2 * i, 2);
        if (sliced != size || zeroRun(bytes.subspan(at + header + 2 * slices, size - header - 2 * slices), 7))
            return false;
        at += size;
    }
    return true;
}

// Sound recorded for a take that is sent nowhere yet: `early` samples wait for the first picture.
struct Early {
    JournalSample sample;
    ff::Packet packet;
};

// Reads a sample's bytes from the movie into `packet`; false when they cannot be read whole.
bool readSample(int fd, const JournalSample& s, AVPacket* packet) {
    av_packet_unref(packet);
    if (av_new_packet(packet, s.size) < 0) return false;
    return ::pread(fd, packet->data, static_cast<std::size_t>(s.size), s.offset) == s.size;
}

/// Turns length-prefixed NAL units (as the muxer stored them) back into the start-coded ones it was given.
void startCodes(std::uint8_t* data, std::int64_t size) {
    for (std::int64_t at = 0; at + 4 <= size;) {
        const std::int64_t length =
            (std::int64_t(data[at]) << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) | data[at + 3];
        data[at] = data[at + 1] = data[at + 2] = 0;
        data[at + 3] = 1;
        at += 4 + length;
    }
}

/// The movie's samples that its journal lists, as far as they lie whole, put back under an index: the header and
/// the index are written again as the take's own recorder would have written them, the samples are left where
/// they lie. The journal is read a record at a time. None, the movie's samples untouched, when no picture lies
/// whole; none too when the index cannot be written.
std::optional<InterruptedTake> finishFromJournal(const fs::path& movie, JournalReader& journal) {
    const JournalHeader& header = journal.header();
    MovieFile file;
    if (!file.open(::open(movie.c_str(), O_RDWR | O_CLOEXEC))) return std::nullopt;
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return std::nullopt;
    WholeSamples samples(header, st.st_size);

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
    // The samples are the movie's own: written again, they are only passed over.
    file.keptFrom = header.dataStart;
    file.keptTo = st.st_size;
    const auto give = [&] {
        file.close(output.get());
        return std::nullopt;
    };

    const bool startCoded =
        video->codecpar->codec_id == AV_CODEC_ID_H264 || video->codecpar->codec_id == AV_CODEC_ID_HEVC;
    std::int64_t first = std::numeric_limits<std::int64_t>::max(), end = std::numeric_limits<std::int64_t>::min();
    const auto write = [&](const JournalSample& s, AVPacket* packet) {
        if (s.stream == 0 && startCoded) startCodes(packet->data, s.size);
        packet->stream_index = s.stream;
        packet->pts = s.pts;
        packet->dts = s.dts;
        packet->duration = s.duration;
        packet->flags = s.key ? AV_PKT_FLAG_KEY : 0;
        // Written again, each sample must come to lie where it lies.
        if (avio_tell(output->pb) != s.offset || av_write_frame(output.get(), packet) < 0 ||
            avio_tell(output->pb) != s.offset + s.size)
            return false;
        if (s.stream == 0) {
            first = std::min(first, s.pts);
            end = std::max(end, s.pts + s.duration);
        }
        return true;
    };
    // The movie's header is written once a picture lies whole; sound before it waits for it.
    std::vector<Early> early;
    std::size_t earlyBytes = 0;
    bool started = false;
    for (ff::Packet packet = ff::makePacket(); packet; packet = ff::makePacket()) {
        auto s = journal.next();
        if (!s || !samples.placed(*s) || !readSample(file.fd, *s, packet.get()) ||
            !samples.whole(*s, {packet->data, static_cast<std::size_t>(s->size)}))
            break;
        if (!samples.pictures()) {
            earlyBytes += static_cast<std::size_t>(s->size);
            if (earlyBytes > kMostSoundBeforePictures) break;
            early.push_back({*s, std::move(packet)});
            continue;
        }
        if (!started) {
            if (writeMovieHeader(output.get(), header.videoTimescale) < 0 || avio_tell(output->pb) != header.dataStart)
                return give();
            started = true;
            for (auto& e : early)
                if (!write(e.sample, e.packet.get())) return give();
            early.clear();
        }
        if (!write(*s, packet.get())) return give();
    }
    if (!started) return give();
    // The index follows the last whole sample, over what lay after it.
    file.keptTo = samples.end();
    if (av_write_trailer(output.get()) < 0 || file.position < samples.end()) return give();
    const bool cut = ::ftruncate(file.fd, file.end) == 0 && ::fdatasync(file.fd) == 0;
    file.close(output.get());
    if (!cut) return std::nullopt;
    if (header.timecode) {
        if (auto tc = timecodeFormat(header.frameRate, header.ntsc)) patchTimecodeFlags(movie, tc->flags);
    }
    InterruptedTake take;
    take.movie = movie;
    take.duration = static_cast<double>(end - first) * av_q2d(video->time_base);
    take.startDate = Date{header.startDate};
    take.startFrame = header.startFrame;
    take.frameRate = header.frameRate;
    take.ntsc = header.ntsc;
    return take;
}

// Whether the movie has bytes where its samples lie: beyond the header, and not just an empty index there.
bool holdsSamples(const fs::path& movie, std::int64_t dataStart) {
    std::error_code ec;
    const auto size = static_cast<std::int64_t>(fs::file_size(movie, ec));
    if (ec || size <= dataStart) return false;
    std::ifstream in(movie, std::ios::binary);
    char box[8] = {};
    in.seekg(dataStart);
    if (!in.read(box, sizeof box)) return true;
    const std::span<const std::uint8_t> head(reinterpret_cast<const std::uint8_t*>(box), sizeof box);
    return std::memcmp(box + 4, "moov", 4) != 0 || be(head, 0, 4) != size - dataStart;
}

}  // namespace

bool sampleBytesWhole(AVCodecID codec, std::span<const std::uint8_t> bytes) {
    switch (codec) {
        case AV_CODEC_ID_H264:
        case AV_CODEC_ID_HEVC:
            return nalUnitsWhole(bytes);
        case AV_CODEC_ID_PRORES:
            return proResWhole(bytes);
        case AV_CODEC_ID_AAC:
            // The end element's bits are the last set.
            return !bytes.empty() && bytes.back() != 0;
        default:
            return !bytes.empty();
    }
}

WholeSamples::WholeSamples(const JournalHeader& header, std::int64_t movieSize)
    : movieSize_(movieSize), next_(header.dataStart) {
    for (const auto& stream : header.streams)
        codecs_.push_back(stream.parameters ? stream.parameters->codec_id : AV_CODEC_ID_NONE);
}

bool WholeSamples::placed(const JournalSample& s) const {
    if (s.stream >= codecs_.size() || s.size <= 0 || s.size > kLargestSample || s.offset < next_ ||
        s.offset > movieSize_ - s.size || s.pts < -kLatest || s.pts > kLatest || s.dts < -kLatest || s.dts > kLatest ||
        s.duration < 0 || s.duration > kLatest)
        return false;
    return s.stream != 0 || pictures_ || s.key;
}

bool WholeSamples::whole(const JournalSample& s, std::span<const std::uint8_t> bytes) {
    if (!placed(s) || bytes.size() != static_cast<std::size_t>(s.size) || !sampleBytesWhole(codecs_[s.stream], bytes))
        return false;
    next_ = s.offset + s.size;
    pictures_ = pictures_ || s.stream == 0;
    return true;
}

TakeRecovery::Outcome TakeRecovery::decide(const Facts& facts) {
    if (facts.journal == Journal::unknownVersion) return Outcome::leftAlone;
    if (facts.journal == Journal::whole && facts.finished) return Outcome::finished;
    if (facts.plays) return Outcome::asItIs;
    return facts.holdsSamples ? Outcome::setAside : Outcome::removed;
}

std::optional<std::string> TakeRecovery::message(Outcome outcome, const fs::path& movie, const fs::path& aside) {
    switch (outcome) {
        case Outcome::setAside:
            return "A take cut short couldn't be finished: nothing of it plays. It is kept as " + aside.string();
        case Outcome::leftAlone:
            return "A take cut short was recorded by another version of the camera: it is left as it is, " +
                   movie.string();
        case Outcome::finished:
        case Outcome::asItIs:
        case Outcome::removed:
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<InterruptedTake> takeAsItIs(const fs::path& movie) {
    auto input = ff::openLocalMovie(movie.string());
    if (!input || input->duration <= 0) return std::nullopt;
    InterruptedTake take;
    take.movie = movie;
    take.duration = static_cast<double>(input->duration) / AV_TIME_BASE;
    // It ended when it was last written.
    std::error_code ec;
    const auto written = fs::last_write_time(movie, ec);
    const double ago = ec ? 0 : std::chrono::duration<double>(fs::file_time_type::clock::now() - written).count();
    take.startDate = Date::now().addingTimeInterval(-std::max(0.0, ago) - take.duration);
    return take;
}

RecoveredTake recoverTake(const fs::path& movie) {
    const fs::path journalPath = journalOf(movie);
    TakeRecovery::Facts facts;
    RecoveredTake result;
    std::error_code ec;
    std::optional<Date> journalledStart;
    {
        std::ifstream in;
        if (fs::is_regular_file(journalPath, ec)) in.open(journalPath, std::ios::binary);
        if (in.is_open()) {
            JournalReader journal(in);
            switch (journal.state()) {
                case JournalReader::State::whole:
                    facts.journal = TakeRecovery::Journal::whole;
                    journalledStart = Date{journal.header().startDate};
                    result.take = finishFromJournal(movie, journal);
                    facts.finished = result.take.has_value();
                    if (!facts.finished) facts.holdsSamples = holdsSamples(movie, journal.header().dataStart);
                    break;
                case JournalReader::State::unknownVersion:
                    facts.journal = TakeRecovery::Journal::unknownVersion;
                    break;
                case JournalReader::State::damaged:
                    facts.journal = TakeRecovery::Journal::damaged;
                    break;
            }
        }
    }
    if (facts.journal != TakeRecovery::Journal::whole) facts.holdsSamples = fs::file_size(movie, ec) > 0 && !ec;
    std::optional<InterruptedTake> asItIs;
    if (!facts.finished && facts.journal != TakeRecovery::Journal::unknownVersion) {
        asItIs = takeAsItIs(movie);
        facts.plays = asItIs.has_value();
    }
    result.outcome = TakeRecovery::decide(facts);
    switch (result.outcome) {
        case TakeRecovery::Outcome::leftAlone:
            log::error("MovieRecorder", "the journal of " + movie.filename().string() + " is of another layout");
            return result;
        case TakeRecovery::Outcome::finished:
            break;
        case TakeRecovery::Outcome::asItIs:
            result.take = asItIs;
            if (journalledStart) result.take->startDate = *journalledStart;
            break;
        case TakeRecovery::Outcome::setAside: {
            const auto aside = claimFirstFreeName(
                movie.parent_path(), movie.filename().string(), TakeRecovery::setAsideSuffix,
                [&](const fs::path& name) { return renameNoReplace(movie, name); }, ec);
            if (!aside) {
                // Kept where it is, with its journal, for the next start.
                log::error("MovieRecorder", "couldn't set aside " + movie.filename().string() + ": " + ec.message());
                result.setAsideAs = movie;
                return result;
            }
            result.setAsideAs = *aside;
            log::error("MovieRecorder", "nothing playable in the cut-off take " + movie.filename().string() +
                                            ": set aside as " + aside->filename().string());
            break;
        }
        case TakeRecovery::Outcome::removed:
            fs::remove(movie, ec);
            break;
    }
    // The room kept for the index and the journal hold no footage.
    fs::remove(reserveOf(movie), ec);
    fs::remove(journalPath, ec);
    return result;
}

}  // namespace morvane
