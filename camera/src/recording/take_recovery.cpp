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
constexpr std::int64_t kLongestHeader = 64 << 10;           // bytes of a movie's header, at most
constexpr std::int64_t kMostPassedOverInARow = 1 << 16;     // samples: minutes of a take

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

// Where the 'mdat' box of a movie's header lies ('ftyp', an 8-byte 'wide' box, 'mdat'): none when the header is
// not as a recorder writes it.
std::optional<std::int64_t> mediaDataBox(std::span<const std::uint8_t> header) {
    std::size_t at = 0;
    for (int box = 0; box < 3 && at + 8 <= header.size(); ++box) {
        const std::uint32_t size = be(header, at, 4);
        const auto type = header.subspan(at + 4, 4);
        if (std::memcmp(type.data(), "mdat", 4) == 0)
            return at >= 8 && std::memcmp(header.data() + at - 4, "wide", 4) == 0 ? std::optional<std::int64_t>(at)
                                                                                  : std::nullopt;
        if ((std::memcmp(type.data(), "ftyp", 4) != 0 && std::memcmp(type.data(), "wide", 4) != 0) || size < 8 ||
            size > header.size() - at)
            return std::nullopt;
        at += size;
    }
    return std::nullopt;
}

// The first bytes of a file, as many as it has up to `count`.
std::vector<std::uint8_t> firstBytes(const fs::path& file, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    return bytes;
}

// Whether the movie may hold a sample: bytes beyond its own header and the 4-byte timecode sample written with it,
// that are not just an empty index. A movie whose header cannot be read may hold footage anywhere.
bool holdsSamples(const fs::path& movie) {
    std::error_code ec;
    const auto size = static_cast<std::int64_t>(fs::file_size(movie, ec));
    if (ec || size == 0) return false;
    const auto head = firstBytes(movie, 256);
    const auto box = mediaDataBox(head);
    if (!box) return true;
    const std::int64_t dataStart = *box + 8;
    if (size <= dataStart + 4) return false;
    for (const std::int64_t at : {dataStart, dataStart + 4}) {
        std::ifstream in(movie, std::ios::binary);
        std::uint8_t index[8] = {};
        in.seekg(at);
        if (in.read(reinterpret_cast<char*>(index), sizeof index) && std::memcmp(index + 4, "moov", 4) == 0 &&
            be(index, 0, 4) == size - at)
            return false;
    }
    return true;
}

// Sets the size of the movie's 'mdat' box (at `box`, after an 8-byte 'wide' box that leaves room for a 64-bit size)
// so that it runs up to the index at `index`: the muxer counts only the samples it wrote, not the stretches passed
// over between them.
bool sizeMediaData(int fd, std::int64_t box, std::int64_t index) {
    std::uint8_t bytes[16] = {};
    const auto put = [&](std::size_t at, std::uint64_t value, int count) {
        for (int i = 0; i < count; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * (count - 1 - i)));
    };
    const auto size = static_cast<std::uint64_t>(index - box);
    if (size <= std::numeric_limits<std::uint32_t>::max()) {
        put(0, 8, 4);
        std::memcpy(bytes + 4, "wide", 4);
        put(8, size, 4);
        std::memcpy(bytes + 12, "mdat", 4);
    } else {
        put(0, 1, 4);
        std::memcpy(bytes + 4, "mdat", 4);
        put(8, size + 8, 8);
    }
    return ::pwrite(fd, bytes, sizeof bytes, box - 8) == static_cast<ssize_t>(sizeof bytes);
}

// What finishing a movie from its journal came to.
struct Finish {
    std::optional<InterruptedTake> take;
    bool wantsRoom = false;   ///< it failed for want of room on the disk
    bool soundFails = false;  ///< the muxer refused its sound, or its sound does not decode
    double passedOver = 0;    ///< seconds of pictures left out
};

// The first picture or block of sound of a movie, decoded: none when its track of that kind has none that decodes
// (or it has no such track). `held`: whether the track holds a sample, read before any decodes.
SharedFrame firstDecoded(const fs::path& movie, AVMediaType type, bool* held = nullptr) {
    auto input = ff::openLocalMovie(movie.string());
    if (!input) return nullptr;
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(input.get(), type, -1, -1, &codec, 0);
    if (index < 0 || !codec) return nullptr;
    ff::Packet packet = ff::makePacket();
    // Whether the track holds a sample, for a decoder that does not open.
    const auto holdsOne = [&] {
        while (held && av_read_frame(input.get(), packet.get()) >= 0) {
            const bool ours = packet->stream_index == index;
            av_packet_unref(packet.get());
            if (ours) return *held = true;
        }
        return false;
    };
    ff::CodecContext decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), input->streams[index]->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        holdsOne();
        return nullptr;
    }
    SharedFrame decoded = shareFrame(av_frame_alloc());
    bool ended = false;
    // A key picture starts every take, and every block of sound stands alone: a few samples are enough, whatever the
    // decoder's delay.
    for (int read = 0; read < 500 && decoded; ++read) {
        if (!ended) {
            if (av_read_frame(input.get(), packet.get()) < 0) {
                ended = true;
                avcodec_send_packet(decoder.get(), nullptr);
            } else {
                const bool ours = packet->stream_index == index;
                if (ours) {
                    if (held) *held = true;
                    avcodec_send_packet(decoder.get(), packet.get());
                }
                av_packet_unref(packet.get());
                if (!ours) continue;
            }
        }
        const int rc = avcodec_receive_frame(decoder.get(), decoded.get());
        if (rc == 0) return decoded;
        if (rc != AVERROR(EAGAIN) || ended) return nullptr;
    }
    return nullptr;
}

// Whether a finished movie's sound plays: its first block decodes, or it holds none.
bool soundDecodes(const fs::path& movie) {
    bool held = false;
    return firstDecoded(movie, AVMEDIA_TYPE_AUDIO, &held) || !held;
}

// Whether a track's decoder configuration can be written again from its other fields.
bool rebuildable(const AVCodecParameters& p) {
    return p.codec_type == AVMEDIA_TYPE_AUDIO && p.codec_id == AV_CODEC_ID_AAC &&
           aacConfiguration(p.sample_rate, p.ch_layout.nb_channels).has_value();
}

/// The movie's samples that its journal lists, as far as they lie whole, put back under an index: the header and
/// the index are written again as the take's own recorder would have written them, the samples are left where
/// they lie, and the index goes after the movie's last byte, in the room kept for it. The last picture lasts until
/// the end of the sound. The journal is read a record at a time. `sound`: which sound the take is finished with.
/// When no picture lies whole, the index cannot be written, or the finished take's first picture or first block of
/// sound does not decode, the movie is left as it was (its kept room too).
Finish finishFromJournal(const fs::path& movie, JournalReader& journal, TakeRecovery::Sound sound) {
    Finish result;
    const JournalHeader& header = journal.header();
    MovieFile file;
    if (!file.open(::open(movie.c_str(), O_RDWR | O_CLOEXEC))) return result;
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return result;
    const std::int64_t size = st.st_size;
    // The journal's fields must fit the movie: a header no longer than the movie's own, the samples after it.
    if (header.dataStart < 16 || header.dataStart > std::min(size, kLongestHeader)) return result;
    std::vector<std::uint8_t> ownHeader(static_cast<std::size_t>(header.dataStart));
    if (::pread(file.fd, ownHeader.data(), ownHeader.size(), 0) != static_cast<ssize_t>(ownHeader.size()))
        return result;
    const auto mediaData = mediaDataBox(ownHeader);
    if (!mediaData) return result;
    // The room kept for the index is given back when the disk fills as the index is written.
    const fs::path reserve = reserveOf(movie);
    std::error_code ec;
    const auto kept = fs::file_size(reserve, ec);
    const bool hadRoom = !ec;
    file.giveBackRoom = [&] {
        std::error_code removed;
        fs::remove(reserve, removed);
    };
    // The movie as it was: its own header, nothing after its end, and its kept room as far as the disk has it again.
    const auto putBack = [&](int fd) {
        const bool back =
            ::pwrite(fd, ownHeader.data(), ownHeader.size(), 0) == static_cast<ssize_t>(ownHeader.size()) &&
            ::ftruncate(fd, size) == 0;
        if (!back) log::error("MovieRecorder", "couldn't put back " + movie.filename().string() + " as it was");
        std::error_code gone;
        if (hadRoom && !fs::exists(reserve, gone)) {
            const int room = ::open(reserve.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (room >= 0) {
                if (kept > 0) ::posix_fallocate(room, 0, static_cast<off_t>(kept));
                ::close(room);
            }
        }
    };

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mov", movie.c_str()) < 0 || !raw) return result;
    ff::OutputFormat output(raw);
    // The first track is the pictures'; those after it are sound.
    const bool withSound = sound != TakeRecovery::Sound::leftOut && header.streams.size() > 1;
    for (auto& journalled : header.streams) {
        if (!withSound && output->nb_streams > 0) break;
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (!stream || avcodec_parameters_copy(stream->codecpar, journalled.parameters.get()) < 0) return result;
        stream->time_base = journalled.timeBase;
        stream->avg_frame_rate = journalled.frameRate;
        AVCodecParameters& p = *stream->codecpar;
        if (sound == TakeRecovery::Sound::rebuilt && rebuildable(p)) {
            const auto config = aacConfiguration(p.sample_rate, p.ch_layout.nb_channels);
            av_freep(&p.extradata);
            p.extradata_size = 0;
            p.extradata = static_cast<std::uint8_t*>(av_mallocz(config->size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!p.extradata) return result;
            std::memcpy(p.extradata, config->data(), config->size());
            p.extradata_size = static_cast<int>(config->size());
        }
    }
    AVStream* video = output->streams[0];
    if (header.timecode) setTimecode(output.get(), video, header.frameRate, header.ntsc, header.startFrame);
    setRotation(video, header.rotation);
    output->pb = file.io;
    // The samples are the movie's own: written again, they are only passed over, and so is every byte between them.
    file.keptFrom = header.dataStart;
    file.keptTo = size;
    bool touched = false;  ///< something was written into the movie
    const auto give = [&] {
        result.wantsRoom = result.wantsRoom || file.full;
        if (touched) putBack(file.fd);
        file.close(output.get());
        result.take.reset();
        return result;
    };

    const bool startCoded =
        video->codecpar->codec_id == AV_CODEC_ID_H264 || video->codecpar->codec_id == AV_CODEC_ID_HEVC;
    WholeSamples samples(header, size);
    std::int64_t first = std::numeric_limits<std::int64_t>::max(), end = std::numeric_limits<std::int64_t>::min();
    std::optional<double> soundEnd;
    enum class Written { kept, refused, broken };
    const auto write = [&](const JournalSample& s, AVPacket* packet) {
        if (s.stream == 0 && startCoded) startCodes(packet->data, s.size);
        packet->stream_index = s.stream;
        packet->pts = s.pts;
        packet->dts = s.dts;
        packet->duration = s.duration;
        packet->flags = s.key ? AV_PKT_FLAG_KEY : 0;
        // Written again, each sample must come to lie where it lies.
        if (avio_seek(output->pb, s.offset, SEEK_SET) != s.offset) return Written::broken;
        if (av_write_frame(output.get(), packet) < 0) return Written::refused;
        if (avio_tell(output->pb) != s.offset + s.size) return Written::broken;
        const AVRational base = output->streams[s.stream]->time_base;
        if (s.stream == 0) {
            first = std::min(first, s.pts);
            end = std::max(end, s.pts + s.duration);
        } else {
            soundEnd = std::max(soundEnd.value_or(0), static_cast<double>(s.pts + s.duration) * av_q2d(base));
        }
        return Written::kept;
    };
    // The last picture waits for the next, or for the end of the sound it is carried to.
    ff::Packet held;
    JournalSample heldSample;
    const auto writeHeld = [&](bool last) {
        if (!held) return true;
        if (last && soundEnd) {
            const double tick = av_q2d(video->time_base);
            const std::int64_t frame = std::max<std::int64_t>(1, heldSample.duration);
            const double until = *soundEnd / tick - static_cast<double>(heldSample.pts);
            if (until > static_cast<double>(heldSample.duration) && until < std::numeric_limits<int>::max() / 2)
                heldSample.duration = static_cast<std::int64_t>(std::ceil(until / static_cast<double>(frame))) * frame;
        }
        const Written written = write(heldSample, held.get());
        if (written == Written::refused) samples.refused(heldSample);
        held.reset();
        return written != Written::broken;
    };
    // The movie's header is written once a picture lies whole; sound before it waits for it.
    std::vector<Early> early;
    std::size_t earlyBytes = 0;
    bool started = false;
    ff::Packet packet;
    std::int64_t passedInARow = 0;
    for (auto s = journal.next(); s; s = journal.next()) {
        if (s->stream != 0 && !withSound) continue;
        if (!packet) packet = ff::makePacket();
        if (!packet) return give();
        if (!samples.placed(*s) || !readSample(file.fd, *s, packet.get()) ||
            !samples.whole(*s, {packet->data, static_cast<std::size_t>(s->size)})) {
            samples.passOver(*s);
            // A journal whose records lie nowhere in the movie for so long has no more of it to give.
            if (++passedInARow > kMostPassedOverInARow) break;
            continue;
        }
        passedInARow = 0;
        if (!samples.pictures()) {
            earlyBytes += static_cast<std::size_t>(s->size);
            if (earlyBytes > kMostSoundBeforePictures) break;
            early.push_back({*s, std::move(packet)});
            continue;
        }
        if (!started) {
            touched = true;
            if (writeMovieHeader(output.get(), header.videoTimescale) < 0) {
                result.soundFails = withSound;
                return give();
            }
            if (avio_tell(output->pb) != header.dataStart) return give();
            started = true;
            for (auto& e : early) {
                const Written written = write(e.sample, e.packet.get());
                if (written == Written::broken) return give();
                if (written == Written::refused) samples.refused(e.sample);
            }
            early.clear();
        }
        if (s->stream == 0) {
            if (!writeHeld(false)) return give();
            held = std::move(packet);
            heldSample = *s;
        } else {
            const Written written = write(*s, packet.get());
            if (written == Written::broken) return give();
            if (written == Written::refused) samples.refused(*s);
        }
    }
    if (!started || !writeHeld(true) || end <= first) return give();
    // The index follows every byte that may hold footage.
    if (avio_seek(output->pb, size, SEEK_SET) != size || av_write_trailer(output.get()) < 0) return give();
    avio_flush(output->pb);
    if (output->pb->error < 0 || !sizeMediaData(file.fd, *mediaData, size)) return give();
    if (::fdatasync(file.fd) != 0) {
        result.wantsRoom = errno == ENOSPC || errno == EDQUOT;
        return give();
    }
    file.close(output.get());
    if (header.timecode) {
        if (auto tc = timecodeFormat(header.frameRate, header.ntsc)) patchTimecodeFlags(movie, tc->flags);
    }
    // Stored only when it shows its first picture, and plays its sound.
    const bool shows = firstPictureOf(movie) != nullptr;
    result.soundFails = shows && withSound && !soundDecodes(movie);
    if (!shows || result.soundFails) {
        log::error("MovieRecorder", "the finished take " + movie.filename().string() +
                                        (shows ? "'s sound does not decode" : " shows no picture"));
        const int fd = ::open(movie.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            putBack(fd);
            ::close(fd);
        }
        return result;
    }
    InterruptedTake take;
    take.movie = movie;
    take.duration = static_cast<double>(end - first) * av_q2d(video->time_base);
    take.startDate = Date{header.startDate};
    take.startFrame = header.startFrame;
    take.frameRate = header.frameRate;
    take.ntsc = header.ntsc;
    result.take = take;
    result.passedOver = samples.secondsPassedOver();
    return result;
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
            // An element first, whose id, tag and gain are never two zero bytes; the end element's bits are the last
            // set.
            return bytes.size() >= 2 && (bytes[0] != 0 || bytes[1] != 0) && bytes.back() != 0;
        default:
            return !bytes.empty();
    }
}

WholeSamples::WholeSamples(const JournalHeader& header, std::int64_t movieSize)
    : movieSize_(movieSize), next_(header.dataStart) {
    for (const auto& stream : header.streams) {
        Track track;
        track.codec = stream.parameters ? stream.parameters->codec_id : AV_CODEC_ID_NONE;
        if (stream.timeBase.num > 0 && stream.timeBase.den > 0)
            track.second = std::max<std::int64_t>(1, stream.timeBase.den / stream.timeBase.num);
        tracks_.push_back(track);
    }
    if (!header.streams.empty() && header.streams[0].timeBase.num > 0 && header.streams[0].timeBase.den > 0) {
        tick_ = av_q2d(header.streams[0].timeBase);
        const double fps = av_q2d(realRate(header.frameRate, header.ntsc));
        if (fps > 0) frame_ = std::max<std::int64_t>(1, std::llround(1 / (fps * tick_)));
    }
}

bool WholeSamples::placed(const JournalSample& s) const {
    if (s.stream >= tracks_.size() || s.size <= 0 || s.size > kLargestSample || s.offset < next_ ||
        s.offset > movieSize_ - s.size || s.pts < -kLatest || s.pts > kLatest || s.dts < -kLatest || s.dts > kLatest ||
        s.duration < 0 || s.pts < s.dts)
        return false;
    // A sample lasts a picture or a block of sound, never a second; its track's times go on from the last kept.
    const Track& track = tracks_[s.stream];
    if (s.duration >= track.second) return false;
    if (track.lastDts &&
        (s.dts <= *track.lastDts || s.dts - *track.lastDts >= std::numeric_limits<std::int32_t>::max()))
        return false;
    return s.stream != 0 || !needsKey_ || s.key;
}

bool WholeSamples::whole(const JournalSample& s, std::span<const std::uint8_t> bytes) {
    if (!placed(s) || bytes.size() != static_cast<std::size_t>(s.size) ||
        !sampleBytesWhole(tracks_[s.stream].codec, bytes))
        return false;
    next_ = s.offset + s.size;
    tracks_[s.stream].lastDts = s.dts;
    if (s.stream != 0) return true;
    // The last picture and the one held before it are written after the next is found whole.
    if (unwritten_.size() == 2) unwritten_.erase(unwritten_.begin());
    unwritten_.push_back({s, shown_});
    show(s);
    pictures_ = true, needsKey_ = false;
    return true;
}

void WholeSamples::show(const JournalSample& s) {
    // Less than half a picture between two is the rounding of their times, not a picture left out.
    if (shown_.end && s.dts - *shown_.end >= (frame_ + 1) / 2) shown_.gaps += s.dts - *shown_.end;
    shown_.end = s.dts + (s.duration > 0 ? s.duration : frame_);
    shown_.last = s.dts;
    shown_.after = 0;
}

void WholeSamples::passOver(const JournalSample& s) {
    if (s.stream != 0) return;
    needsKey_ = true;
    // A picture after the last kept counts once for its time: a record listed again, or one whose time goes back,
    // is no picture more.
    if (pictures_ && s.dts > shown_.last) {
        ++shown_.after;
        shown_.last = s.dts;
    }
}

void WholeSamples::refused(const JournalSample& s) {
    // Known by where it lies: the last picture is written with a longer duration.
    const auto found =
        std::find_if(unwritten_.begin(), unwritten_.end(), [&](const auto& u) { return u.sample.offset == s.offset; });
    if (s.stream == 0 && found != unwritten_.end()) {
        // It is not shown, and those after it follow the one before it.
        shown_ = found->before;
        const auto later = std::vector(found + 1, unwritten_.end());
        unwritten_.erase(found, unwritten_.end());
        for (const auto& u : later) {
            unwritten_.push_back({u.sample, shown_});
            show(u.sample);
        }
        pictures_ = shown_.end.has_value();
    }
    passOver(s);
}

double WholeSamples::secondsPassedOver() const {
    return static_cast<double>(shown_.gaps + shown_.after * frame_) * tick_;
}

TakeRecovery::Outcome TakeRecovery::decide(const Facts& facts) {
    if (facts.journal == Journal::unknownVersion) return Outcome::leftAlone;
    if (facts.journal == Journal::whole && facts.finished) return Outcome::finished;
    if (facts.plays) return Outcome::asItIs;
    if (facts.journal == Journal::whole && facts.wantsRoom) return Outcome::wantsRoom;
    return facts.holdsSamples ? Outcome::setAside : Outcome::removed;
}

namespace {

// "2.5 s" for seconds of a take.
std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

}  // namespace

std::optional<std::string> TakeRecovery::message(const RecoveredTake& recovered, const std::string& take) {
    if (recovered.outcome != Outcome::finished || !recovered.take)
        return message(recovered.outcome, take, recovered.setAsideAs);
    std::string text =
        "A take cut short was finished: " + take + ", " + secondsText(recovered.take->duration) + " of it kept";
    // Only what was left out: less than a tenth of a second is told in pictures, none is not told.
    const double fps = av_q2d(realRate(recovered.take->frameRate, recovered.take->ntsc));
    const auto pictures = std::llround(recovered.passedOver * fps);
    const bool inSeconds = std::llround(recovered.passedOver * 10) >= 1;
    if (inSeconds) {
        text += ", without " + secondsText(recovered.passedOver) + " of pictures";
    } else if (pictures > 0) {
        text += ", without " + std::to_string(pictures) + (pictures == 1 ? " picture" : " pictures");
    }
    if (inSeconds || pictures > 0) text += " damaged on the disk (the picture before them stays on screen)";
    if (recovered.sound == Sound::leftOut) text += ", without its sound, which was damaged on the disk";
    return text;
}

std::optional<std::string> TakeRecovery::message(Outcome outcome, const std::string& take, const fs::path& aside) {
    switch (outcome) {
        case Outcome::setAside:
            return "A take cut short couldn't be finished: " + take + ", nothing of it plays. It is kept in " +
                   aside.parent_path().string() + " as " + aside.filename().string();
        case Outcome::leftAlone:
            return "A take cut short was recorded by another version of the camera: " + take + " is left as it is";
        case Outcome::wantsRoom:
            return "A take cut short couldn't be finished: " + take +
                   ", its disk is full. It is kept as it is and finished when there is room";
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

SharedFrame firstPictureOf(const fs::path& movie) {
    return firstDecoded(movie, AVMEDIA_TYPE_VIDEO);
}

std::optional<std::string> aacConfiguration(int sampleRate, int channels) {
    // MPEG-4 audio's rates with an index of their own; its channel configurations 1-6, and 7 for eight channels.
    static constexpr int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                    22050, 16000, 12000, 11025, 8000,  7350};
    const int configuration = channels >= 1 && channels <= 6 ? channels : channels == 8 ? 7 : 0;
    if (configuration == 0 || sampleRate <= 0 || sampleRate >= 1 << 24) return std::nullopt;
    const auto indexed = std::find(std::begin(rates), std::end(rates), sampleRate);
    const auto rateIndex = static_cast<std::uint64_t>(indexed - std::begin(rates));
    // Low complexity (object type 2), the rate's index (or 15 and the rate), the channels, then three zero bits.
    std::uint64_t bits = 2;
    int count = 5;
    const auto put = [&](std::uint64_t value, int width) {
        bits = (bits << width) | value;
        count += width;
    };
    if (indexed != std::end(rates)) {
        put(rateIndex, 4);
    } else {
        put(15, 4);
        put(static_cast<std::uint64_t>(sampleRate), 24);
    }
    put(static_cast<std::uint64_t>(configuration), 4);
    put(0, 3);
    std::string bytes;
    for (int at = count - 8; at >= 0; at -= 8) bytes.push_back(static_cast<char>((bits >> at) & 0xff));
    return bytes;
}

RecoveredTake recoverTake(const fs::path& movie) {
    const fs::path journalPath = journalOf(movie);
    TakeRecovery::Facts facts;
    RecoveredTake result;
    std::error_code ec;
    const std::string name = movie.filename().string();
    const std::string aside = TakeRecovery::setAsideSuffix;
    if (name.size() > aside.size() && name.compare(name.size() - aside.size(), aside.size(), aside) == 0) {
        result.outcome = TakeRecovery::Outcome::setAside;
        result.setAsideAs = movie;
        return result;
    }
    // Its sound as journalled first; when that does not decode, written again from the journal's other fields, or
    // else left out: the pictures are never lost for the sound.
    for (auto sound = TakeRecovery::Sound::asJournalled;;) {
        std::ifstream in;
        if (fs::is_regular_file(journalPath, ec)) in.open(journalPath, std::ios::binary);
        if (!in.is_open()) break;
        JournalReader journal(in);
        if (journal.state() != JournalReader::State::whole) {
            facts.journal = journal.state() == JournalReader::State::unknownVersion
                                ? TakeRecovery::Journal::unknownVersion
                                : TakeRecovery::Journal::damaged;
            break;
        }
        facts.journal = TakeRecovery::Journal::whole;
        result.startDate = Date{journal.header().startDate};
        auto finish = finishFromJournal(movie, journal, sound);
        result.take = finish.take;
        result.passedOver = finish.passedOver;
        result.sound = sound;
        facts.finished = result.take.has_value();
        facts.wantsRoom = finish.wantsRoom;
        if (!finish.soundFails || sound == TakeRecovery::Sound::leftOut) break;
        const bool canRebuild = std::any_of(journal.header().streams.begin() + 1, journal.header().streams.end(),
                                            [](const auto& s) { return rebuildable(*s.parameters); });
        sound = sound == TakeRecovery::Sound::asJournalled && canRebuild ? TakeRecovery::Sound::rebuilt
                                                                         : TakeRecovery::Sound::leftOut;
        log::error("MovieRecorder", "the sound of the cut-off take " + name +
                                        (sound == TakeRecovery::Sound::rebuilt ? " doesn't decode: its decoder "
                                                                                 "configuration is written again"
                                                                               : " doesn't decode: it is left out"));
    }
    std::optional<InterruptedTake> asItIs;
    if (!facts.finished && facts.journal != TakeRecovery::Journal::unknownVersion) {
        facts.holdsSamples = holdsSamples(movie);
        if (facts.holdsSamples && firstPictureOf(movie)) asItIs = takeAsItIs(movie);
        facts.plays = asItIs.has_value();
    }
    result.outcome = TakeRecovery::decide(facts);
    switch (result.outcome) {
        case TakeRecovery::Outcome::leftAlone:
            log::error("MovieRecorder", "the journal of " + name + " is of another layout");
            return result;
        case TakeRecovery::Outcome::wantsRoom:
            log::error("MovieRecorder", "no room to finish the cut-off take " + name + ": left for later");
            return result;
        case TakeRecovery::Outcome::finished:
            if (result.passedOver > 0)
                log::error("MovieRecorder", "finished the cut-off take " + name + " without " +
                                                secondsText(result.passedOver) + " of damaged pictures");
            break;
        case TakeRecovery::Outcome::asItIs:
            result.take = asItIs;
            if (result.startDate) result.take->startDate = *result.startDate;
            break;
        case TakeRecovery::Outcome::setAside: {
            const auto setAside = claimFirstFreeName(
                movie.parent_path(), name, TakeRecovery::setAsideSuffix,
                [&](const fs::path& to) { return renameNoReplace(movie, to); }, ec);
            if (!setAside) {
                // Kept where it is, with its journal, for the next start.
                log::error("MovieRecorder", "couldn't set aside " + name + ": " + ec.message());
                result.setAsideAs = movie;
                return result;
            }
            result.setAsideAs = *setAside;
            log::error("MovieRecorder", "nothing playable in the cut-off take " + name + ": set aside as " +
                                            setAside->filename().string());
            // Its journal goes with it: all that is known of its samples.
            if (fs::exists(fs::symlink_status(journalPath, ec))) renameNoReplace(journalPath, journalOf(*setAside));
            fs::remove(reserveOf(movie), ec);
            return result;
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
