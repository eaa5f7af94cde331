#include "camera/movie_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <type_traits>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/timecode.h>
}

#include "platform/ffmpeg_handles.h"
#include "platform/log.h"
#include "platform/sound_clock.h"
#include "protocol/timeline_rate.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// How much later than sound captured at the same time a picture may still reach the recorder.
constexpr double kPictureLateness = 0.5;

// How much later than its capture sound may still reach the recorder: a sound reader holds its blocks back while it
// confirms an interruption.
constexpr double kSoundLateness = SoundClock::confirmation + 0.25;
// How much later a source with a delay of a second or two may hand over its sound.
constexpr double kLongestSoundLateness = 3;

const char* codecName(MovieVideoSettings::Codec codec) {
    switch (codec) {
        case MovieVideoSettings::Codec::h264:
            return "libx264";
        case MovieVideoSettings::Codec::hevc:
            return "libx265";
        case MovieVideoSettings::Codec::proRes:
            return "prores_ks";
    }
    return "";
}

AVPixelFormat pixelFormatFor(const MovieVideoSettings& s) {
    switch (s.codec) {
        case MovieVideoSettings::Codec::h264:
            return AV_PIX_FMT_YUV420P;
        case MovieVideoSettings::Codec::hevc:
            return s.tenBit ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
        case MovieVideoSettings::Codec::proRes:
            return s.proResProfile >= 4 ? AV_PIX_FMT_YUV444P10LE : AV_PIX_FMT_YUV422P10LE;
    }
    return AV_PIX_FMT_YUV420P;
}

AVRational realRate(int rate, bool ntsc) {
    if (ntsc && TimelineRate::ntscRates().count(rate)) return AVRational{rate * 1000, 1001};
    return AVRational{rate, 1};
}

/// Puts the first frame's time-of-day timecode on the video stream, for the muxer's timecode track.
void setTimecode(AVFormatContext* output, AVStream* stream, int rate, bool ntsc, std::int64_t frame) {
    const auto tc = MovieRecorder::timecodeFormat(rate, ntsc);
    if (!tc) return;
    AVTimecode timecode{};
    const int flags = (tc->flags & 1) ? AV_TIMECODE_FLAG_DROPFRAME : 0;
    if (av_timecode_init(&timecode, realRate(rate, ntsc), flags, 0, output) == 0) {
        char text[AV_TIMECODE_STR_SIZE];
        av_timecode_make_string(&timecode, text, static_cast<int>(frame));
        av_dict_set(&stream->metadata, "timecode", text, 0);
    }
}

/// The display matrix turns the picture clockwise by the capture angle when it is shown. (The movie muxer stores
/// FFmpeg's matrix transposed, so the angle goes in with its sign as it is; players and ffprobe then read back a
/// clockwise turn, "rotation=-90" for 90.)
void setRotation(AVStream* stream, double degrees) {
    if (auto* matrix = reinterpret_cast<std::int32_t*>(
            av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, sizeof(std::int32_t) * 9))) {
        av_display_rotation_set(matrix, degrees);
    }
}

/// The track's time scale is the rate's own (30000 for 29.97, 25 for 25) so that every frame, and the timecode
/// track that takes the video's scale, lasts an exact number of ticks.
int writeMovieHeader(AVFormatContext* output, int videoTimescale) {
    AVDictionary* muxerOptions = nullptr;
    av_dict_set_int(&muxerOptions, "video_track_timescale", videoTimescale, 0);
    const int rc = avformat_write_header(output, &muxerOptions);
    av_dict_free(&muxerOptions);
    return rc;
}

/// The movie's bytes on the disk, written through FFmpeg's I/O on a descriptor of ours: it can be flushed to the
/// disk with the journal, and a disk that fills gives back the room kept for the index (which then still fits)
/// and ends the take there.
struct MovieFile {
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
    bool open(int descriptor) {
        fd = descriptor;
        if (fd < 0) return false;
        constexpr int bufferSize = 32768;  // as FFmpeg's own file output
        auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
        if (buffer) io = avio_alloc_context(buffer, bufferSize, 1, this, nullptr, &MovieFile::write, &MovieFile::seek);
        if (!io) av_free(buffer);
        return io != nullptr;
    }

    /// Detaches the I/O from `output` (whose deleter would close it as FFmpeg's own) and closes the file.
    void close(AVFormatContext* output = nullptr) {
        if (output && output->pb == io) output->pb = nullptr;
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    static int write(void* opaque, std::uint8_t* data, int size) {
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

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
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
};

/// Room kept free on the movie's disk for its index, as a file beside it.
struct KeptRoom {
    fs::path path;
    int fd = -1;
    std::int64_t kept = 0;

    KeptRoom() = default;
    KeptRoom(const KeptRoom&) = delete;
    KeptRoom& operator=(const KeptRoom&) = delete;
    ~KeptRoom() { giveBack(); }

    /// False when the disk has not that much room. (A file system that cannot keep room leaves the take without.)
    bool keep(std::int64_t bytes) {
        if (fd < 0) return false;
        if (bytes <= kept) return true;
        const int rc = posix_fallocate(fd, 0, bytes);
        if (rc == ENOSPC || rc == EDQUOT) return false;
        if (rc == 0) kept = bytes;
        return true;
    }
    void giveBack() {
        if (fd < 0) return;
        ::close(fd);
        fd = -1;
        std::error_code ec;
        fs::remove(path, ec);
    }
};

// MARK: - Journal
//
// "MRJOURN1", the header's length (u32) and the header, then one 40-byte record per sample in the order the
// samples lie in the movie. Numbers are in this computer's byte order: a journal is read where it was written.

constexpr char kJournalMagic[8] = {'M', 'R', 'J', 'O', 'U', 'R', 'N', '1'};
constexpr std::size_t kRecordSize = 40;
constexpr std::size_t kMaxStreams = 4;
constexpr std::size_t kMaxExtradata = 1 << 20;

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

struct ByteWriter {
    std::string out;
    template <typename T>
    void put(T value) {
        out.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
};

struct ByteReader {
    std::string_view in;
    bool ok = true;
    template <typename T>
    T get() {
        T value{};
        if (!ok || in.size() < sizeof value) {
            ok = false;
            return value;
        }
        std::memcpy(&value, in.data(), sizeof value);
        in.remove_prefix(sizeof value);
        return value;
    }
};

// Every field of the codec parameters that a movie's sample description is made of, in the journal's order.
template <typename F>
void eachCodecField(AVCodecParameters& p, F&& f) {
    f(p.codec_type), f(p.codec_id), f(p.codec_tag), f(p.format), f(p.bit_rate), f(p.bits_per_coded_sample);
    f(p.bits_per_raw_sample), f(p.profile), f(p.level), f(p.width), f(p.height), f(p.sample_aspect_ratio.num);
    f(p.sample_aspect_ratio.den), f(p.field_order), f(p.color_range), f(p.color_primaries), f(p.color_trc);
    f(p.color_space), f(p.chroma_location), f(p.video_delay), f(p.ch_layout.nb_channels), f(p.sample_rate);
    f(p.block_align), f(p.frame_size), f(p.initial_padding), f(p.trailing_padding), f(p.seek_preroll);
}

std::string journalHeaderBytes(JournalHeader& h) {
    ByteWriter w;
    w.put(h.startDate), w.put(h.startFrame), w.put(h.frameRate), w.put(std::uint8_t(h.ntsc));
    w.put(std::uint8_t(h.timecode)), w.put(h.rotation), w.put(h.videoTimescale), w.put(h.dataStart);
    w.put(std::uint8_t(h.streams.size()));
    for (auto& stream : h.streams) {
        eachCodecField(*stream.parameters, [&](auto& field) { w.put(static_cast<std::int64_t>(field)); });
        w.put(stream.timeBase), w.put(stream.frameRate);
        const auto* p = stream.parameters.get();
        w.put(std::uint32_t(p->extradata_size));
        w.out.append(reinterpret_cast<const char*>(p->extradata), static_cast<std::size_t>(p->extradata_size));
    }
    std::string bytes(kJournalMagic, sizeof kJournalMagic);
    const auto length = static_cast<std::uint32_t>(w.out.size());
    bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
    return bytes + w.out;
}

std::string journalRecordBytes(const JournalSample& s) {
    ByteWriter w;
    w.put(s.stream), w.put(std::uint8_t(s.key)), w.put(std::uint16_t(0)), w.put(s.size);
    w.put(s.offset), w.put(s.pts), w.put(s.dts), w.put(s.duration);
    return std::move(w.out);
}

bool plausible(const AVCodecParameters& p) {
    if (!avcodec_descriptor_get(p.codec_id)) return false;
    if (p.codec_type == AVMEDIA_TYPE_VIDEO)
        return p.width >= 2 && p.height >= 2 && p.width <= 16384 && p.height <= 16384;
    if (p.codec_type == AVMEDIA_TYPE_AUDIO)
        return p.sample_rate > 0 && p.sample_rate <= 768000 && p.ch_layout.nb_channels >= 1 &&
               p.ch_layout.nb_channels <= 8;
    return false;
}

/// The journal's header and its whole records; none when it holds no usable header.
std::optional<std::pair<JournalHeader, std::vector<JournalSample>>> readJournal(std::string_view bytes) {
    if (bytes.size() < sizeof kJournalMagic + 4 || std::memcmp(bytes.data(), kJournalMagic, sizeof kJournalMagic))
        return std::nullopt;
    bytes.remove_prefix(sizeof kJournalMagic);
    ByteReader lengthReader{bytes};
    const auto length = lengthReader.get<std::uint32_t>();
    if (length > lengthReader.in.size()) return std::nullopt;
    ByteReader r{lengthReader.in.substr(0, length)};
    JournalHeader h;
    h.startDate = r.get<double>(), h.startFrame = r.get<std::int64_t>(), h.frameRate = r.get<std::int32_t>();
    h.ntsc = r.get<std::uint8_t>() != 0, h.timecode = r.get<std::uint8_t>() != 0, h.rotation = r.get<double>();
    h.videoTimescale = r.get<std::int32_t>(), h.dataStart = r.get<std::int64_t>();
    const auto count = r.get<std::uint8_t>();
    if (!r.ok || count < 1 || count > kMaxStreams || h.dataStart <= 0 || h.videoTimescale <= 0 ||
        !std::isfinite(h.startDate) || !std::isfinite(h.rotation) || h.frameRate < 1 || h.frameRate > 1000)
        return std::nullopt;
    for (int i = 0; i < count; ++i) {
        JournalStream stream;
        if (!stream.parameters) return std::nullopt;
        AVCodecParameters& p = *stream.parameters;
        eachCodecField(p, [&](auto& field) {
            using Field = std::remove_reference_t<decltype(field)>;
            const auto value = r.get<std::int64_t>();
            // Kinds of tracks and codecs the muxer can take, before they are looked at as such.
            if constexpr (std::is_same_v<Field, AVMediaType>) {
                if (value != AVMEDIA_TYPE_VIDEO && value != AVMEDIA_TYPE_AUDIO) r.ok = false;
            } else if constexpr (std::is_same_v<Field, AVCodecID>) {
                if (value <= AV_CODEC_ID_NONE || value >= AV_CODEC_ID_WRAPPED_AVFRAME) r.ok = false;
            }
            if (r.ok) field = static_cast<Field>(value);
        });
        const int channels = p.ch_layout.nb_channels;
        p.ch_layout = AVChannelLayout{};
        if (p.codec_type == AVMEDIA_TYPE_AUDIO && channels >= 1 && channels <= 8)
            av_channel_layout_default(&p.ch_layout, channels);
        stream.timeBase = r.get<AVRational>(), stream.frameRate = r.get<AVRational>();
        const auto extradata = r.get<std::uint32_t>();
        if (!r.ok || !plausible(p) || stream.timeBase.num <= 0 || stream.timeBase.den <= 0 ||
            extradata > kMaxExtradata || extradata > r.in.size())
            return std::nullopt;
        if (extradata) {
            p.extradata = static_cast<std::uint8_t*>(av_mallocz(extradata + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!p.extradata) return std::nullopt;
            std::memcpy(p.extradata, r.in.data(), extradata);
            p.extradata_size = static_cast<int>(extradata);
            r.in.remove_prefix(extradata);
        }
        h.streams.push_back(std::move(stream));
    }
    if (h.streams[0].parameters->codec_type != AVMEDIA_TYPE_VIDEO) return std::nullopt;
    std::vector<JournalSample> samples;
    for (ByteReader records{lengthReader.in.substr(length)}; records.in.size() >= kRecordSize;) {
        JournalSample s;
        s.stream = records.get<std::uint8_t>(), s.key = records.get<std::uint8_t>() != 0;
        records.get<std::uint16_t>();
        s.size = records.get<std::int32_t>(), s.offset = records.get<std::int64_t>();
        s.pts = records.get<std::int64_t>(), s.dts = records.get<std::int64_t>();
        s.duration = records.get<std::int64_t>();
        samples.push_back(s);
    }
    return std::make_pair(std::move(h), std::move(samples));
}

/// Turns length-prefixed NAL units (as the muxer stored them) back into the start-coded ones it was given.
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

/// The journal of a take being written; what it notes reaches the disk at `flush`, after the movie's own bytes.
struct Journal {
    int fd = -1;
    std::string pending;

    Journal() = default;
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    ~Journal() {
        if (fd >= 0) ::close(fd);
    }
    void note(const std::string& bytes) {
        if (fd >= 0) pending += bytes;
    }
    void flush() {
        if (fd < 0 || pending.empty()) return;
        std::string_view left = pending;
        while (!left.empty()) {
            const ssize_t w = ::write(fd, left.data(), left.size());
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;  // the journal only helps: the movie goes on without it
            left.remove_prefix(static_cast<std::size_t>(w));
        }
        ::fdatasync(fd);
        pending.clear();
    }
};

}  // namespace

std::string MovieVideoSettings::description() const {
    std::ostringstream text;
    text << "{codec: "
         << (codec == Codec::h264   ? "h264"
             : codec == Codec::hevc ? "hevc"
                                    : "prores")
         << ", width: " << width << ", height: " << height;
    if (codec == Codec::proRes) text << ", profile: " << proResProfile;
    if (averageBitRate) text << ", averageBitRate: " << *averageBitRate;
    text << ", expectedFrameRate: " << expectedFrameRate << ", tenBit: " << (tenBit ? "true" : "false") << "}";
    return text.str();
}

std::optional<MovieRecorder::TimecodeFormat> MovieRecorder::timecodeFormat(std::optional<int> frameRate, bool ntsc) {
    if (!frameRate || *frameRate < 1 || *frameRate > 255) return std::nullopt;
    const int rate = *frameRate;
    if (ntsc && TimelineRate::ntscRates().count(rate)) {
        return TimecodeFormat{1001, rate * 1000, rate, rate == 24 ? 2u : 3u};
    }
    return TimecodeFormat{1, rate, rate, 2};
}

/// The FFmpeg side of a recording: muxer, encoders, converters. Used on the recorder's thread only (after `make`).
struct MovieRecorder::Writer {
    Options options;
    ff::OutputFormat output;
    ff::CodecContext video;
    ff::CodecContext audio;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    ff::Sws sws;
    ff::Swr swr;
    std::unique_ptr<AVAudioFifo, decltype(&av_audio_fifo_free)> fifo{nullptr, &av_audio_fifo_free};
    SharedFrame converted;
    bool headerWritten = false;
    bool failed = false;
    double startTime = 0;
    AVRational frameRate{30, 1};  ///< the movie's constant rate; one tick of the video time base per frame
    std::int64_t lastVideoPts = -1;
    std::int64_t lastPicturePts = -1;  ///< the last slot a picture came for, not repeated
    std::int64_t audioNextPts = 0;     ///< where the next sound chunk to be compressed lies, in samples from the start
    bool soundPlacedOnce = false;      ///< some sound lies in the movie: it has a sound track
    int swrInRate = 0, swrInChannels = 0, swrInFormat = -1;
    MovieFile file;
    KeptRoom room;
    Journal journal;
    std::int64_t samplesWritten = 0;
    std::int64_t videoEnd = 0;       ///< the end of the last picture written, in frames
    std::int64_t journalledEnd = 0;  ///< the end of the pictures whose journal is on the disk, in frames
    bool soundLost = false;          ///< sound could not be converted: the take goes on without it

    ~Writer() { file.close(output.get()); }

    bool writePacket(AVCodecContext* context, AVStream* stream, AVFrame* frame) {
        if (avcodec_send_frame(context, frame) < 0) return false;
        ff::Packet packet = ff::makePacket();
        for (;;) {
            const int rc = avcodec_receive_packet(context, packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) return false;
            // Every picture lasts one frame, the last one too, so the movie's length is its frame count.
            if (context == video.get() && packet->duration <= 0) packet->duration = 1;
            if (!store(*packet, context, stream)) return false;
        }
    }

    /// Writes a sample straight into the movie and notes where it lies in the journal, which goes to the disk about
    /// once a second of pictures. Once the disk has filled, nothing more is written.
    bool store(AVPacket& packet, AVCodecContext* context, AVStream* stream) {
        if (file.full) return true;
        const bool picture = context == video.get();
        const std::int64_t end = packet.pts + packet.duration;
        av_packet_rescale_ts(&packet, context->time_base, stream->time_base);
        packet.stream_index = stream->index;
        JournalSample sample{static_cast<std::uint8_t>(stream->index),
                             (packet.flags & AV_PKT_FLAG_KEY) != 0,
                             0,
                             avio_tell(output->pb),
                             packet.pts,
                             packet.dts,
                             packet.duration};
        if (av_write_frame(output.get(), &packet) < 0) return false;
        if (file.full) return true;  // the room for the index was given back: this sample is the last
        sample.size = static_cast<std::int32_t>(avio_tell(output->pb) - sample.offset);
        journal.note(journalRecordBytes(sample));
        ++samplesWritten;
        if (picture) videoEnd = std::max(videoEnd, end);
        if (picture && videoEnd - journalledEnd >= std::max(1, static_cast<int>(av_q2d(frameRate)))) keepJournal();
        return true;
    }

    /// The samples written so far reach the disk, then their journal; the room kept for the index grows with them.
    void keepJournal() {
        syncJournal();
        if (!room.keep(MovieRecorder::roomForIndex(samplesWritten))) {
            file.full = true;
            room.giveBack();
        }
    }

    void syncJournal() {
        avio_flush(output->pb);
        ::fdatasync(file.fd);
        journal.flush();
        journalledEnd = videoEnd;
    }

    bool writeHeader(double firstTime) {
        startTime = firstTime;
        JournalHeader header;
        header.timecode = timecodeFormat(options.frameRate, options.ntsc) && options.startFrame;
        if (header.timecode) {
            header.startFrame = options.startFrame(firstTime);
            setTimecode(output.get(), videoStream, *options.frameRate, options.ntsc, header.startFrame);
        }
        if (writeMovieHeader(output.get(), frameRate.num) < 0) return false;
        headerWritten = true;
        // What the movie's index is made of, for a take that is cut off.
        header.startDate =
            Date::now().addingTimeInterval(-(hostTime() - firstTime) + options.clockOffset).secondsSinceReferenceDate;
        header.frameRate = options.frameRate.value_or(options.video.expectedFrameRate);
        header.ntsc = options.ntsc;
        header.rotation = options.rotationDegrees;
        header.videoTimescale = frameRate.num;
        header.dataStart = avio_tell(output->pb);
        for (AVStream* stream : {videoStream, audioStream}) {
            if (!stream) continue;
            JournalStream journalled;
            if (!journalled.parameters || avcodec_parameters_copy(journalled.parameters.get(), stream->codecpar) < 0) {
                ::close(journal.fd);  // no journal: the take is written all the same
                journal.fd = -1;
                return true;
            }
            journalled.timeBase = stream->time_base;
            journalled.frameRate = stream->avg_frame_rate;
            header.streams.push_back(std::move(journalled));
        }
        journal.note(journalHeaderBytes(header));
        journal.flush();
        return true;
    }

    void writeVideo(const VideoFrame& frame) {
        if (failed || !frame.picture) return;
        if (!headerWritten && !writeHeader(frame.time)) {
            failed = true;
            return;
        }
        const AVFrame& in = *frame.picture;
        sws.reset(sws_getCachedContext(sws.release(), in.width, in.height, static_cast<AVPixelFormat>(in.format),
                                       video->width, video->height, video->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                                       nullptr));
        if (!sws) return fail("can't convert the pictures");
        setColorConversion(sws.get(), in, video->pix_fmt);
        if (!converted) converted = makeVideoFrame(video->width, video->height, video->pix_fmt);
        if (!converted) return fail("can't convert the pictures");
        // A constant-rate movie whatever the source delivers: each picture takes the frame slot its capture time
        // falls in; a second picture in a slot is dropped, and an empty slot repeats the picture before it.
        const double slot = (frame.time - startTime) * av_q2d(frameRate);
        if (!std::isfinite(slot)) return;
        const std::int64_t pts = std::max<std::int64_t>(0, std::llround(slot));
        if (pts <= lastVideoPts) return;
        repeatPictureBefore(pts);
        if (failed) return;
        if (av_frame_make_writable(converted.get()) < 0 ||
            sws_scale(sws.get(), in.data, in.linesize, 0, in.height, converted->data, converted->linesize) <= 0)
            return fail("can't convert the pictures");
        lastVideoPts = lastPicturePts = pts;
        converted->pts = pts;
        converted->colorspace = AVCOL_SPC_BT709;
        if (!writePacket(video.get(), videoStream, converted.get())) failed = true;
    }

    /// The take cannot be written as it was captured: it is reported as not saved.
    void fail(const std::string& why) {
        if (!failed) log::error("MovieRecorder", why);
        failed = true;
    }

    /// Sound that cannot be converted leaves the rest of the take without sound, not no take.
    void loseSound(const std::string& why) {
        if (!soundLost) log::error("MovieRecorder", why + ": the take goes on without sound");
        soundLost = true;
    }

    /// Fills the empty slots between the last picture and `pts` with the last picture.
    void repeatPictureBefore(std::int64_t pts) {
        const std::int64_t gap = pts - lastVideoPts - 1;
        if (lastVideoPts < 0 || gap <= 0 || pts - lastPicturePts - 1 > maxRepeatedFrames()) return;
        for (std::int64_t missing = lastVideoPts + 1; missing < pts && !failed; ++missing) {
            converted->pts = missing;
            if (!writePacket(video.get(), videoStream, converted.get())) failed = true;
        }
    }

    /// Carries the last picture on into the slots that sound captured at `time` shows to have passed without one
    /// (as far as a stall is ever repeated): the repeats of a stall are compressed while it lasts, not all at once
    /// when the pictures come back, which took so long that the pictures coming meanwhile were dropped.
    void carryPictureTo(double time) {
        if (failed || lastVideoPts < 0 || !converted) return;
        const double slot = (time - kPictureLateness - startTime) * av_q2d(frameRate);
        if (!std::isfinite(slot) || slot > 1e12) return;
        const std::int64_t pts =
            std::min(static_cast<std::int64_t>(std::floor(slot)), lastPicturePts + 1 + maxRepeatedFrames());
        if (pts <= lastVideoPts + 1) return;
        repeatPictureBefore(pts);
        lastVideoPts = pts - 1;
    }

    // A source that stalled for longer leaves a jump in the movie rather than minutes of a frozen picture.
    std::int64_t maxRepeatedFrames() const { return static_cast<std::int64_t>(10 * av_q2d(frameRate)) + 1; }

    /// How far sound may lie off its capture time before it is moved there: half an interruption. Nearer, it is
    /// stretched or squeezed into place instead, whole.
    std::int64_t soundSlack() const {
        return static_cast<std::int64_t>(audio->sample_rate * SoundClock::interruption / 2);
    }

    /// The end of the sound placed so far, in samples from the start of the movie.
    std::int64_t soundPlaced() const { return audioNextPts + av_audio_fifo_size(fifo.get()); }

    /// Room for `samples` of sound in the sound encoder's format; none when it cannot be had.
    ff::Frame soundFrame(int samples) const {
        ff::Frame frame = ff::makeFrame();
        if (!frame) return frame;
        frame->format = audio->sample_fmt;
        frame->sample_rate = audio->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &audio->ch_layout);
        frame->nb_samples = samples;
        if (av_frame_get_buffer(frame.get(), 0) < 0) frame.reset();
        return frame;
    }

    void placeSilence(std::int64_t samples) {
        const int block = 4096;
        ff::Frame silence = soundFrame(block);
        if (!silence) return;
        av_samples_set_silence(silence->data, 0, block, audio->ch_layout.nb_channels, audio->sample_fmt);
        while (samples > 0 && !failed) {
            const int n = static_cast<int>(std::min<std::int64_t>(samples, block));
            if (av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(silence->data), n) < n) return;
            samples -= n;
            drainAudio(false);
        }
    }

    void writeAudio(const AudioFrame& sound) {
        if (failed || soundLost || !audio || !headerWritten || !sound.samples) return;
        const AVFrame& in = *sound.samples;
        if (in.sample_rate <= 0 || in.nb_samples <= 0) return;
        if (in.format < 0 || in.format >= AV_SAMPLE_FMT_NB || in.ch_layout.nb_channels < 1)
            return loseSound("can't convert the sound");
        if (!swr || in.sample_rate != swrInRate || in.ch_layout.nb_channels != swrInChannels ||
            in.format != swrInFormat) {
            SwrContext* raw = nullptr;
            // Always through the resampler, which can stretch sound a little to keep it in place.
            if (swr_alloc_set_opts2(&raw, &audio->ch_layout, audio->sample_fmt, audio->sample_rate,
                                    const_cast<AVChannelLayout*>(&in.ch_layout), static_cast<AVSampleFormat>(in.format),
                                    in.sample_rate, 0, nullptr) < 0 ||
                av_opt_set_int(raw, "swr_flags", SWR_FLAG_RESAMPLE, 0) < 0 || swr_init(raw) < 0) {
                swr_free(&raw);
                return loseSound("can't convert the sound");
            }
            swr.reset(raw);
            swrInRate = in.sample_rate;
            swrInChannels = in.ch_layout.nb_channels;
            swrInFormat = in.format;
        }
        // Sound lies at its capture time, like the picture. The first sound lies exactly there; after it, an
        // interruption becomes silence and what overlaps the sound already placed by as much is cut off, while a
        // smaller difference is taken up smoothly. The resampler's own delay is sound of the buffers before.
        std::int64_t offset = 0;
        if (const double at = (sound.time - startTime) * audio->sample_rate; std::isfinite(at) && std::abs(at) < 1e15)
            offset = std::llround(at) - swr_get_delay(swr.get(), audio->sample_rate) - soundPlaced();
        const bool exact = !soundPlacedOnce;
        if (offset > 0 && (exact || offset > soundSlack())) {
            placeSilence(offset);
        } else if (!exact && offset >= -soundSlack()) {
            takeUp(offset);
        }
        const int capacity = swr_get_out_samples(swr.get(), in.nb_samples);
        if (capacity <= 0) return;
        ff::Frame out = soundFrame(capacity);
        if (!out) return;
        const int got = swr_convert(swr.get(), out->data, capacity, const_cast<const std::uint8_t**>(in.extended_data),
                                    in.nb_samples);
        const int skip = offset < 0 && (exact || offset < -soundSlack())
                             ? static_cast<int>(std::min<std::int64_t>(got, -offset))
                             : 0;
        if (got <= skip) return;
        soundPlacedOnce = true;
        std::uint8_t* kept[AV_NUM_DATA_POINTERS] = {};
        const bool planar = av_sample_fmt_is_planar(audio->sample_fmt);
        const int step = av_get_bytes_per_sample(audio->sample_fmt) * (planar ? 1 : audio->ch_layout.nb_channels);
        for (int plane = 0; plane < (planar ? audio->ch_layout.nb_channels : 1); ++plane)
            kept[plane] = out->extended_data[plane] + static_cast<std::ptrdiff_t>(skip) * step;
        av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(kept), got - skip);
        drainAudio(false);
    }

    /// Stretches (`offset` > 0) or squeezes the coming sound by `offset` samples, by at most one part in 200, so that
    /// it comes to lie in place without a break; a millisecond off is left as it is.
    void takeUp(std::int64_t offset) {
        const std::int64_t tolerance = audio->sample_rate / 1000;
        const std::int64_t delta = std::abs(offset) <= tolerance ? 0 : offset;
        const auto distance = static_cast<int>(std::min<std::int64_t>(std::abs(delta) * 200, INT32_MAX));
        swr_set_compensation(swr.get(), static_cast<int>(delta), delta ? distance : 0);
    }

    /// Compresses the placed sound in whole chunks; `flush` compresses the rest too, up to `end` samples from the
    /// start of the movie, and drops what lies beyond.
    void drainAudio(bool flush, std::int64_t end = std::numeric_limits<std::int64_t>::max()) {
        const int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
        while (av_audio_fifo_size(fifo.get()) >= frameSize || (flush && av_audio_fifo_size(fifo.get()) > 0)) {
            const int n = static_cast<int>(std::min<std::int64_t>(
                {frameSize, av_audio_fifo_size(fifo.get()), flush ? end - audioNextPts : frameSize}));
            if (n <= 0) break;
            // Only the very last chunk may be short, and then the sound ends exactly where it should.
            ff::Frame chunk = soundFrame(n);
            if (!chunk) return;
            av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(chunk->data), n);
            chunk->pts = audioNextPts;
            audioNextPts += n;
            if (!writePacket(audio.get(), audioStream, chunk.get())) {
                failed = true;
                return;
            }
        }
    }

    /// `stop`: the latest capture time handed to the recorder, picture or sound.
    std::optional<double> close(std::optional<double> stop) {
        if (!headerWritten) return std::nullopt;
        // The take lasts until it was stopped: where the capture lagged behind (or its last pictures had to be
        // dropped), the last picture is carried on to the stop as the constant-rate rule says.
        const double end = stop ? (*stop - startTime) * av_q2d(frameRate) : 0;
        if (std::isfinite(end) && end < 1e12 && lastVideoPts >= 0 && converted && !failed) {
            const std::int64_t last = std::llround(end) - 1;
            if (last > lastVideoPts) {
                repeatPictureBefore(last);
                converted->pts = last;
                if (!failed && !writePacket(video.get(), videoStream, converted.get())) failed = true;
                lastVideoPts = last;
            }
        }
        writePacket(video.get(), videoStream, nullptr);
        if (audio && !failed && soundPlacedOnce) {
            // Both tracks end together: sound missing at the end is silence, sound past the picture is dropped. A
            // take given no sound has no sound track.
            const auto soundEnd =
                av_rescale_q(lastVideoPts + 1, av_inv_q(frameRate), AVRational{1, audio->sample_rate});
            if (soundPlaced() < soundEnd) placeSilence(soundEnd - soundPlaced());
            drainAudio(true, soundEnd);
            writePacket(audio.get(), audioStream, nullptr);
        }
        syncJournal();  // a take cut off while its index is written keeps all its samples
        const bool trailer = av_write_trailer(output.get()) == 0;
        file.close(output.get());
        output.reset();
        if (!trailer || failed || (file.full && videoEnd == 0)) return std::nullopt;
        // After the disk filled, the movie ends with the last picture written.
        return static_cast<double>(file.full ? videoEnd : lastVideoPts + 1) / av_q2d(frameRate);
    }
};

std::unique_ptr<MovieRecorder> MovieRecorder::make(Options options) {
    // Never the system's temporary folder, which is often a small part of the memory.
    if (!options.destination || options.destination->filename().empty()) {
        log::error("MovieRecorder", "no destination for the movie");
        return nullptr;
    }
    std::unique_ptr<MovieRecorder> recorder(new MovieRecorder());
    recorder->isOnDrive_ = options.onDrive;
    recorder->url_ = *options.destination;
    recorder->queueLimit_ = std::max<std::size_t>(2, options.queueLimit);
    auto writer = std::make_unique<Writer>();
    writer->options = options;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mov", recorder->url_.c_str()) < 0 || !raw) {
        log::error("MovieRecorder", "couldn't create the writer");
        return nullptr;
    }
    writer->output.reset(raw);

    const MovieVideoSettings& v = options.video;
    const AVCodec* videoCodec = avcodec_find_encoder_by_name(codecName(v.codec));
    auto refuse = [&] {
        log::error("MovieRecorder", "video settings refused: " + v.description());
        return nullptr;
    };
    if (!videoCodec || v.width < 2 || v.height < 2 || v.width % 2 || v.height % 2) return refuse();
    writer->video.reset(avcodec_alloc_context3(videoCodec));
    AVCodecContext* c = writer->video.get();
    const int rate = std::clamp(options.frameRate.value_or(v.expectedFrameRate), 1, 1000);
    c->width = v.width;
    c->height = v.height;
    c->pix_fmt = pixelFormatFor(v);
    writer->frameRate = realRate(rate, options.ntsc);
    recorder->frameRate_ = av_q2d(writer->frameRate);
    c->time_base = av_inv_q(writer->frameRate);
    c->framerate = writer->frameRate;
    c->gop_size =
        std::max(1, static_cast<int>(std::lround(std::max(1, v.expectedFrameRate) * v.maxKeyframeIntervalSeconds)));
    c->max_b_frames = 0;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (v.averageBitRate) c->bit_rate = *v.averageBitRate;
    if (writer->output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    switch (v.codec) {
        case MovieVideoSettings::Codec::h264:
            av_opt_set(c->priv_data, "preset", "superfast", 0);
            break;
        case MovieVideoSettings::Codec::hevc:
            av_opt_set(c->priv_data, "preset", "ultrafast", 0);
            av_opt_set(c->priv_data, "x265-params", "log-level=error", 0);
            break;
        case MovieVideoSettings::Codec::proRes:
            av_opt_set_int(c->priv_data, "profile", std::clamp(v.proResProfile, 0, 5), 0);
            break;
    }
    if (avcodec_open2(c, videoCodec, nullptr) < 0) return refuse();
    writer->videoStream = avformat_new_stream(writer->output.get(), nullptr);
    if (!writer->videoStream || avcodec_parameters_from_context(writer->videoStream->codecpar, c) < 0) {
        log::error("MovieRecorder", "can't add the video input");
        return nullptr;
    }
    writer->videoStream->time_base = c->time_base;
    writer->videoStream->avg_frame_rate = realRate(rate, options.ntsc);
    if (v.codec == MovieVideoSettings::Codec::hevc)
        writer->videoStream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    setRotation(writer->videoStream, options.rotationDegrees);

    if (options.audio) {
        const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        ff::CodecContext a(aac ? avcodec_alloc_context3(aac) : nullptr);
        if (a) {
            a->sample_fmt = AV_SAMPLE_FMT_FLTP;
            a->sample_rate = options.audio->sampleRate;
            av_channel_layout_default(&a->ch_layout, std::clamp(options.audio->channels, 1, 2));
            a->bit_rate = options.audio->bitRate;
            a->time_base = AVRational{1, options.audio->sampleRate};
            if (writer->output->oformat->flags & AVFMT_GLOBALHEADER) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            AVStream* stream = nullptr;
            // Sound that cannot be had leaves a take without sound, not no take.
            if (avcodec_open2(a.get(), aac, nullptr) >= 0 &&
                (stream = avformat_new_stream(writer->output.get(), nullptr)) &&
                avcodec_parameters_from_context(stream->codecpar, a.get()) >= 0) {
                stream->time_base = a->time_base;
                writer->audioStream = stream;
                writer->fifo.reset(av_audio_fifo_alloc(a->sample_fmt, a->ch_layout.nb_channels, 4096));
                writer->audio = std::move(a);
                recorder->hasAudio_ = writer->fifo != nullptr;
                if (!writer->fifo) writer->audio.reset();
            }
        }
    }
    // The timecode track needs the first frame's time: the header is written when it arrives. The journal comes
    // first, so that no movie of the recorder's is ever without it until it is finished.
    const fs::path journal = journalOf(recorder->url_);
    writer->journal.fd = ::open(journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    writer->room.path = reserveOf(recorder->url_);
    writer->room.fd = ::open(writer->room.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool room = writer->room.keep(roomForIndex(0));
    if (writer->journal.fd < 0 || !room ||
        !writer->file.open(::open(recorder->url_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644))) {
        log::error("MovieRecorder", room ? "couldn't create the writer" : "no room on the disk for the movie");
        writer.reset();
        std::error_code ec;
        fs::remove(recorder->url_, ec);
        fs::remove(journal, ec);
        return nullptr;
    }
    writer->output->pb = writer->file.io;
    writer->file.giveBackRoom = [w = writer.get()] { w->room.giveBack(); };
    recorder->writer_ = std::move(writer);
    recorder->thread_ = std::thread([r = recorder.get()] { r->run(); });
    return recorder;
}

MovieRecorder::~MovieRecorder() {
    if (thread_.joinable()) finish();
}

bool MovieRecorder::sessionStarted() const {
    std::lock_guard lock(lock_);
    return startTime_.has_value();
}

std::optional<Date> MovieRecorder::startDate() const {
    std::lock_guard lock(lock_);
    return startDate_;
}

std::optional<double> MovieRecorder::startTime() const {
    std::lock_guard lock(lock_);
    return startTime_;
}

std::size_t MovieRecorder::droppedFrames() const {
    std::lock_guard lock(lock_);
    return dropped_;
}

std::optional<std::string> MovieRecorder::failureReason() const {
    std::lock_guard lock(lock_);
    return failureReason_;
}

bool MovieRecorder::soundLost() const {
    std::lock_guard lock(lock_);
    return soundLost_;
}

fs::path MovieRecorder::journalOf(const fs::path& movie) {
    return movie.parent_path() / ("." + movie.filename().string() + ".journal");
}

fs::path MovieRecorder::reserveOf(const fs::path& movie) {
    return movie.parent_path() / ("." + movie.filename().string() + ".reserve");
}

std::optional<fs::path> MovieRecorder::movieOfJournal(const fs::path& file) {
    const std::string name = file.filename().string();
    const std::string suffix = ".journal";
    if (name.size() <= 1 + suffix.size() || name[0] != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    const std::string movie = name.substr(1, name.size() - 1 - suffix.size());
    if (movie.empty() || movie == "." || movie == "..") return std::nullopt;
    return file.parent_path() / movie;
}

std::int64_t MovieRecorder::roomForIndex(std::int64_t samples) {
    // About 32 bytes of index a sample at most (size, time, chunk offset and chunk entry), the movie's buffer and
    // the index's fixed parts; grown in steps of 256 KiB, not at every sample.
    constexpr std::int64_t step = 256 * 1024;
    const std::int64_t bytes = 224 * 1024 + 32 * std::max<std::int64_t>(0, samples);
    return (bytes + step - 1) / step * step;
}

bool MovieRecorder::append(const VideoFrame& frame) {
    {
        std::lock_guard lock(lock_);
        if (stopped_ || failureReason_ || !frame.picture) return false;
        noteCaptureTime(frame.time + 1 / frameRate_);
        if (!startTime_) {
            startTime_ = frame.time;
            startDate_ = Date::now().addingTimeInterval(-(hostTime() - frame.time));
        } else if (queue_.size() >= queueLimit_) {
            ++dropped_;
            return false;
        }
        queue_.emplace_back(frame);
    }
    wake_.notify_one();
    return true;
}

bool MovieRecorder::appendAudio(const AudioFrame& audio) {
    {
        std::lock_guard lock(lock_);
        if (finishing_ || failureReason_ || !startTime_ || !hasAudio_) return false;
        // Once the take is stopped, only the sound of its last pictures is still taken.
        if (stopped_ && (!captureEnd_ || !(audio.time < *captureEnd_))) return false;
        if (audio.samples && audio.samples->sample_rate > 0) {
            const double end = audio.time + double(audio.samples->nb_samples) / audio.samples->sample_rate;
            if (!stopped_) noteCaptureTime(end);
            if (std::isfinite(end) && (!soundEnd_ || end > *soundEnd_)) {
                soundEnd_ = end;
                soundDelay_ = hostTime() - audio.time;
            }
        }
        if (queue_.size() >= queueLimit_ * 4) return false;
        queue_.emplace_back(audio);
    }
    wake_.notify_one();
    soundCame_.notify_all();
    return true;
}

void MovieRecorder::noteCaptureTime(double end) {
    if (std::isfinite(end) && (!captureEnd_ || end > *captureEnd_)) captureEnd_ = end;
}

void MovieRecorder::run() {
    for (;;) {
        std::variant<VideoFrame, AudioFrame> item;
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [&] { return finishing_ || !queue_.empty(); });
            if (queue_.empty()) return;  // finishing and drained
            item = std::move(queue_.front());
            queue_.pop_front();
            if (writer_->soundLost) soundLost_ = true;
            // The disk filled: the take ends with what was written.
            if (writer_->file.full && !failureReason_) failureReason_ = "the disk is full";
            if (failureReason_) continue;
        }
        if (auto* video = std::get_if<VideoFrame>(&item)) {
            writer_->writeVideo(*video);
        } else {
            const auto& sound = std::get<AudioFrame>(item);
            writer_->carryPictureTo(sound.time);
            writer_->writeAudio(sound);
        }
    }
}

std::optional<double> MovieRecorder::finish() {
    {
        std::unique_lock lock(lock_);
        if (finishing_ && !thread_.joinable()) return std::nullopt;
        // The sound of the last pictures is read after them: it is waited for, as long as it may come.
        stopped_ = true;
        if (soundEnd_ && captureEnd_ && *soundEnd_ < *captureEnd_ && !failureReason_) {
            // A source with a long delay hands its sound over in long blocks, long after they began: as late as
            // its latest block came, within reason.
            const double lateness = std::clamp(soundDelay_ + 0.25, kSoundLateness, kLongestSoundLateness);
            const double now = hostTime();
            const double until = std::clamp(*captureEnd_ + lateness, now, now + lateness);
            soundCame_.wait_for(lock, std::chrono::duration<double>(until - now),
                                [&] { return *soundEnd_ >= *captureEnd_ - 0.001; });
            // The sound of the take's end never came: it cannot be placed, and the take says so.
            if (*soundEnd_ < *captureEnd_ - kSoundLateness) {
                log::error("MovieRecorder", "the sound of the take's end did not come: the take ends without it");
                soundLost_ = true;
            }
        }
        finishing_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (!writer_) return std::nullopt;
    std::optional<double> stop;
    {
        std::lock_guard lock(lock_);
        stop = captureEnd_;
    }
    auto duration = writer_->close(stop);
    const auto tc = timecodeFormat(writer_->options.frameRate, writer_->options.ntsc);
    {
        std::lock_guard lock(lock_);
        soundLost_ = soundLost_ || writer_->soundLost;
        if (writer_->file.full && !failureReason_) failureReason_ = "the disk is full";
    }
    writer_.reset();
    if (!duration) {
        // The journal stays: what was written can still be finished from it.
        log::error("MovieRecorder", "couldn't finish the movie");
        return std::nullopt;
    }
    std::error_code ec;
    fs::remove(journalOf(url_), ec);  // a finished take needs none
    if (tc) patchTimecodeFlags(url_, tc->flags);
    return duration;
}

// MARK: - Takes cut off

namespace {

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

}  // namespace

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

// MARK: - Timecode flags

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

std::optional<MovieRecorder::TimecodeFormat> readTimecodeFormat(const fs::path& movie) {
    auto offset = timecodeFlagsOffset(movie);
    if (!offset) return std::nullopt;
    std::ifstream in(movie, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(*offset));
    // flags (4), time scale (4), frame duration (4), frames per second (1)
    unsigned char fields[13];
    if (!in.read(reinterpret_cast<char*>(fields), sizeof fields)) return std::nullopt;
    return MovieRecorder::TimecodeFormat{static_cast<int>(be32(fields + 8)), static_cast<int>(be32(fields + 4)),
                                         fields[12], be32(fields)};
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
