#include "camera/movie_recorder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <type_traits>
#include <utility>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/timecode.h>
}

#include "camera/take_files.h"
#include "camera/take_journal.h"
#include "camera/timecode_atoms.h"
#include "platform/ffmpeg_handles.h"
#include "platform/log.h"
#include "platform/sound_clock.h"
#include "protocol/timeline_rate.h"
#include "recording/movie_file.h"
#include "recording/take_sync.h"
#include "recording/unchanged_pictures.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// Pictures waiting once the recorder is known to fall behind: each one it could not compress in time would hold back
// what reaches the disk. Never fewer wait.
constexpr std::size_t kPicturesQueuedBehind = 2;

// Sound waiting to be compressed, at most, in seconds: it costs little to keep, and a recorder starved for a while
// keeps it all.
constexpr double kSoundQueued = 30;
// Sound waiting for longer than this goes ahead of the pictures that wait.
constexpr double kSoundAhead = 1;

double soundSeconds(const AudioFrame& audio) {
    if (!audio.samples || audio.samples->sample_rate <= 0) return 0;
    return double(audio.samples->nb_samples) / audio.samples->sample_rate;
}

// How much later than their capture the pictures of a take's end may still reach the recorder after its stop: a camera
// whose pictures stopped is restarted after a few seconds.
constexpr double kPictureLateness = 2;

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
    AVRational frameRate{30, 1};     ///< the movie's constant rate; one tick of the video time base per frame
    std::int64_t lastVideoPts = -1;  ///< the last slot of the movie's picture so far
    std::int64_t audioNextPts = 0;   ///< where the next sound chunk to be compressed lies, in samples from the start
    bool soundPlacedOnce = false;    ///< some sound lies in the movie: it has a sound track
    int swrInRate = 0, swrInChannels = 0, swrInFormat = -1;
    MovieFile file;
    KeptRoom room;
    Journal journal;
    std::unique_ptr<TakeSync> sync;  ///< none without a journal
    std::int64_t samplesWritten = 0;
    std::int64_t videoEnd = 0;  ///< the end of the last picture written, in frames
    /// The end of what was written of each track, picture and sound, in seconds; and of what was handed to the disk
    /// with its journal. Sound may be written ahead of the pictures: each track's second counts.
    std::array<double, 2> writtenEnd{}, journalledEnd{};
    bool soundLost = false;  ///< sound could not be converted: the take goes on without it
    bool intraOnly = false;  ///< every picture stands alone: a repeat is its packet again
    /// Repeats of an inter-coded picture coded as unchanged; none: they are compressed as the picture again.
    std::unique_ptr<UnchangedPictures> unchanged;
    ff::Packet held;                  ///< the last picture's sample, written once the slots after it are known
    std::int64_t repeatedSlots = 0;   ///< slots of the movie that repeat the picture before
    std::int64_t encodedRepeats = 0;  ///< of them, compressed again
    double syncWait = 0;              ///< how long the end of the take waited for the disk

    ~Writer() {
        sync.reset();  // it writes through the files
        file.close(output.get());
    }

    bool writePacket(AVCodecContext* context, AVStream* stream, AVFrame* frame) {
        if (avcodec_send_frame(context, frame) < 0) return false;
        ff::Packet packet = ff::makePacket();
        for (;;) {
            const int rc = avcodec_receive_packet(context, packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) return false;
            if (context == video.get()) {
                // A picture lasts until the next one: it is written when that one comes.
                if (!release(packet->pts)) return false;
                held = std::exchange(packet, ff::makePacket());
                if (!packet) return false;
                continue;
            }
            if (!store(*packet, context, stream)) return false;
        }
    }

    /// Writes a sample into the movie and notes where it lies in the journal, which goes to the disk about once a
    /// second of the take, picture or sound. Once the disk has filled, nothing more is written.
    bool store(AVPacket& packet, AVCodecContext* context, AVStream* stream) {
        if (file.full) return true;
        const bool picture = context == video.get();
        const std::int64_t end = packet.pts + packet.duration;
        const double seconds = static_cast<double>(end) * av_q2d(context->time_base);
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
        double& trackEnd = writtenEnd[picture ? 0 : 1];
        if (std::isfinite(seconds)) trackEnd = std::max(trackEnd, seconds);
        if (trackEnd - journalledEnd[picture ? 0 : 1] >= 1) keepJournal();
        return true;
    }

    /// The samples written so far go to the disk, then their journal; the room kept for the index grows with them.
    void keepJournal() {
        handJournal();
        if (!room.keep(MovieRecorder::roomForIndex(samplesWritten))) {
            file.full = true;
            room.giveBack();
        }
    }

    /// The movie's bytes gathered so far go to the system, and the journal of their samples to the thread that
    /// brings both onto the disk.
    void handJournal() {
        avio_flush(output->pb);
        if (sync) sync->keep(std::exchange(journal.pending, {}));
        journalledEnd = writtenEnd;
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
        header.camera = options.camera;
        header.cameraName = options.cameraName;
        for (AVStream* stream : {videoStream, audioStream}) {
            if (!stream) continue;
            JournalStream journalled;
            if (!journalled.parameters || avcodec_parameters_copy(journalled.parameters.get(), stream->codecpar) < 0) {
                sync.reset();
                ::close(journal.fd);  // no journal: the take is written all the same
                journal.fd = -1;
                return true;
            }
            journalled.timeBase = stream->time_base;
            journalled.frameRate = stream->avg_frame_rate;
            header.streams.push_back(std::move(journalled));
        }
        journal.note(journalHeaderBytes(header));
        if (sync) sync->keep(std::exchange(journal.pending, {}));
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
        if (!encodeRepeats(pts)) return;
        if (av_frame_make_writable(converted.get()) < 0 ||
            sws_scale(sws.get(), in.data, in.linesize, 0, in.height, converted->data, converted->linesize) <= 0)
            return fail("can't convert the pictures");
        lastVideoPts = pts;
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

    /// Where repeats can be had at no cost neither, the picture before is compressed again in each empty slot up to
    /// `next` (`converted` still holds it).
    bool encodeRepeats(std::int64_t next) {
        if (intraOnly || unchanged || lastVideoPts < 0 || !converted) return true;
        for (std::int64_t slot = lastVideoPts + 1; slot < next; ++slot) {
            converted->pts = slot;
            if (!writePacket(video.get(), videoStream, converted.get())) {
                failed = true;
                return false;
            }
            ++encodedRepeats;
            lastVideoPts = slot;
        }
        return true;
    }

    /// Writes the picture held and a picture in each empty slot after it up to the slot `next`, each lasting one slot
    /// at the movie's rate, at the least cost the format allows: a picture that stands alone (intra-coded, as ProRes)
    /// is its packet again; an inter-coded one a picture coded as unchanged. (Its packet again would add its changes a
    /// second time.) Only a stream that cannot be followed so lengthens the picture instead.
    bool release(std::int64_t next) {
        if (!held) return true;
        ff::Packet picture = std::move(held);
        const std::int64_t from = picture->pts, to = std::max(next, from + 1);
        repeatedSlots += to - from - 1;
        if (unchanged) {
            auto followed = unchanged->follow(picture->data, static_cast<std::size_t>(picture->size));
            ff::Packet renumbered = followed ? packetOf(*followed, *picture) : ff::Packet{};
            if (!renumbered) {
                log::error("MovieRecorder", "a picture of the take could not be followed: its repeats are longer");
                unchanged.reset();
            } else {
                picture = std::move(renumbered);
            }
        }
        for (std::int64_t slot = from; slot < to; ++slot) {
            ff::Packet sample;
            if (slot == from || intraOnly) {
                sample = ff::makePacket();
                if (!sample || av_packet_ref(sample.get(), picture.get()) < 0) return false;
            } else if (unchanged && unchanged->canRepeat()) {
                sample = packetOf(unchanged->repeat(), *picture);
                if (!sample) return false;
                sample->flags &= ~AV_PKT_FLAG_KEY;
            } else {
                break;  // the sample before lasts until the next one
            }
            sample->pts = slot;
            sample->dts = picture->dts + (slot - from);
            sample->duration = 1;
            if (!store(*sample, video.get(), videoStream)) return false;
        }
        return true;
    }

    /// A packet of `bytes`, stamped as `like`.
    static ff::Packet packetOf(const std::vector<std::uint8_t>& bytes, const AVPacket& like) {
        ff::Packet packet = ff::makePacket();
        if (!packet || av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0 ||
            av_packet_copy_props(packet.get(), &like) < 0)
            return ff::Packet{};
        std::memcpy(packet->data, bytes.data(), bytes.size());
        return packet;
    }

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
        if (std::isfinite(end) && end < 1e12 && lastVideoPts >= 0 && !failed) {
            encodeRepeats(std::llround(end));
            lastVideoPts = std::max<std::int64_t>(lastVideoPts, std::llround(end) - 1);
        }
        writePacket(video.get(), videoStream, nullptr);
        if (!failed && !release(lastVideoPts + 1)) failed = true;
        if (audio && !failed && soundPlacedOnce) {
            // Both tracks end together: sound missing at the end is silence, sound past the picture is dropped. A
            // take given no sound has no sound track.
            const auto soundEnd =
                av_rescale_q(lastVideoPts + 1, av_inv_q(frameRate), AVRational{1, audio->sample_rate});
            if (soundPlaced() < soundEnd) placeSilence(soundEnd - soundPlaced());
            drainAudio(true, soundEnd);
            writePacket(audio.get(), audioStream, nullptr);
        }
        // A take cut off while its index is written keeps all its samples.
        handJournal();
        const double syncFrom = hostTime();
        sync.reset();
        syncWait = hostTime() - syncFrom;
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
    recorder->queueLimit_ = options.queueLimit ? std::max(kPicturesQueuedBehind, options.queueLimit) : 0;
    recorder->queueSeconds_ = options.queueSeconds > 0 ? options.queueSeconds : 1;
    recorder->clock_ = options.clock ? options.clock : std::function<double()>(hostTime);
    auto writer = std::make_unique<Writer>();
    if (!options.sync) options.sync = ::fdatasync;
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
            // Pictures refer to the one before alone and take no motion from earlier ones, so that a repeat can be a
            // picture coded as unchanged between them.
            av_opt_set(c->priv_data, "x265-params", "log-level=error:temporal-mvp=0:ref=1", 0);
            break;
        case MovieVideoSettings::Codec::proRes:
            av_opt_set_int(c->priv_data, "profile", std::clamp(v.proResProfile, 0, 5), 0);
            // A picture's slices on every core, as the other encoders do: a picture in hand at the stop is done soon.
            c->thread_count = 0;
            c->thread_type = FF_THREAD_SLICE;
            break;
    }
    if (avcodec_open2(c, videoCodec, nullptr) < 0) return refuse();
    writer->intraOnly = c->codec_descriptor && (c->codec_descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
    if (v.codec == MovieVideoSettings::Codec::hevc)
        writer->unchanged =
            UnchangedPictures::make(c->extradata, static_cast<std::size_t>(std::max(0, c->extradata_size)));
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
    // Locked before anyone can see it, and held until the recorder is gone, however the program ends: another camera
    // program that sees the take (on a shared drive) leaves it to its recorder.
    writer->journal.fd = createLockedJournal(journal);
    if (writer->journal.fd >= 0) recorder->hold_ = ::fcntl(writer->journal.fd, F_DUPFD_CLOEXEC, 0);
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
    // The movie's bytes go to the system as its buffer fills and with each second's journal, not sample by sample.
    writer->output->flush_packets = 0;
    writer->file.giveBackRoom = [w = writer.get()] { w->room.giveBack(); };
    writer->sync = std::make_unique<TakeSync>(writer->file.fd, writer->journal.fd, options.sync);
    recorder->onFallingBehind_ = std::move(options.onFallingBehind);
    recorder->onCaughtUp_ = std::move(options.onCaughtUp);
    recorder->writer_ = std::move(writer);
    recorder->thread_ = std::thread([r = recorder.get()] { r->run(); });
    return recorder;
}

MovieRecorder::~MovieRecorder() {
    if (thread_.joinable()) finish();
    if (hold_ >= 0) ::close(hold_);
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

bool MovieRecorder::fallingBehind() const {
    std::lock_guard lock(lock_);
    return pace_.behind;
}

std::size_t MovieRecorder::repeatedPictures() const {
    std::lock_guard lock(lock_);
    return repeated_;
}

std::optional<std::string> MovieRecorder::failureReason() const {
    std::lock_guard lock(lock_);
    return failureReason_;
}

bool MovieRecorder::failedAfterStop() const {
    std::lock_guard lock(lock_);
    return failedAfterStop_;
}

bool MovieRecorder::soundLost() const {
    std::lock_guard lock(lock_);
    return soundLost_;
}

bool MovieRecorder::soundEndLost() const {
    std::lock_guard lock(lock_);
    return soundEndLost_;
}

std::int64_t MovieRecorder::roomForIndex(std::int64_t samples) {
    // About 32 bytes of index a sample at most (size, time, chunk offset and chunk entry), the movie's buffer (whose
    // samples the index lists) and the index's fixed parts; grown in steps of 256 KiB, not at every sample.
    constexpr std::int64_t step = 256 * 1024;
    const std::int64_t bytes = 192 * 1024 + MovieFile::bufferSize + 32 * std::max<std::int64_t>(0, samples);
    return (bytes + step - 1) / step * step;
}

bool MovieRecorder::append(const VideoFrame& frame) {
    bool dropped = false;
    Pace::Change change = Pace::Change::none;
    const double now = clock_();
    {
        std::lock_guard lock(lock_);
        if (stopTime_ && !(frame.time < *stopTime_)) {
            // The pictures of the take have all come.
            picturesEnded_ = true;
            picturesCame_.notify_all();
            return false;
        }
        if (stopped_ || failureReason_ || !frame.picture) return false;
        noteCaptureTime(frame.time + 1 / frameRate_);
        if (!startTime_) {
            startTime_ = frame.time;
            startDate_ = Date::now().addingTimeInterval(-(hostTime() - frame.time));
        } else if (picturesQueued_ >= picturesAllowed()) {
            dropped = true;
            ++dropped_;
            pace_.dropped(now);
        }
        if (!dropped) {
            queue_.emplace_back(frame);
            ++picturesQueued_;
            pace_.taken(now);
        }
        // Told here, on the thread that hands the pictures over, also of pictures passed over by the recorder's own.
        if (pace_.behind != toldBehind_) {
            toldBehind_ = pace_.behind;
            change = toldBehind_ ? Pace::Change::fellBehind : Pace::Change::caughtUp;
        }
    }
    if (change == Pace::Change::fellBehind && onFallingBehind_) onFallingBehind_();
    if (change == Pace::Change::caughtUp && onCaughtUp_) onCaughtUp_();
    if (dropped) return false;
    wake_.notify_one();
    return true;
}

std::size_t MovieRecorder::picturesAllowed() const {
    if (pace_.behind) return kPicturesQueuedBehind;
    if (queueLimit_) return queueLimit_;
    // About `queueSeconds_` of the compressor's pace; a picture that takes long shows a slower pace before it is
    // measured. Until the first is, real time.
    double pace = secondsPerPicture_.value_or(1 / frameRate_);
    if (compressingSince_) pace = std::max(pace, hostTime() - *compressingSince_);
    const double fit = std::floor(queueSeconds_ / std::max(pace, 1e-6));
    if (!(fit < 1e6)) return 1'000'000;
    return std::max(kPicturesQueuedBehind, static_cast<std::size_t>(fit));
}

MovieRecorder::Pace::Change MovieRecorder::Pace::dropped(double now) {
    if (lastDrop && !(now >= *lastDrop)) now = *lastDrop;
    // Drops more than a second apart with a picture taken between them are separate moments; a moment when none was
    // handed over at all (the capture's thread stalled too) is not one of keeping up.
    if (!lastDrop || (!(now - *lastDrop <= 1) && lastTaken && *lastTaken > *lastDrop)) {
        dropsFrom = now;
        droppedSince = takenSince = runsSince = 0;
    }
    lastDrop = now;
    ++droppedSince;
    if (!lastWasDrop) ++runsSince;
    lastWasDrop = true;
    const double span = now - *dropsFrom;
    // Steady: a quarter of the pictures or more dropped, in at least four runs a second.
    const bool steadily = span >= steady && droppedSince * 4 >= droppedSince + takenSince && runsSince >= 4 * span;
    if (behind || !(span >= lasting || steadily)) return Change::none;
    behind = true;
    return Change::fellBehind;
}

MovieRecorder::Pace::Change MovieRecorder::Pace::taken(double now) {
    if (!lastTaken || now > *lastTaken) lastTaken = now;
    if (dropsFrom) ++takenSince;
    lastWasDrop = false;
    if (!behind || !lastDrop || !(now - *lastDrop >= caughtUp)) return Change::none;
    behind = false;
    dropsFrom.reset();
    droppedSince = takenSince = runsSince = 0;
    return Change::caughtUp;
}

void MovieRecorder::stop() {
    std::lock_guard lock(lock_);
    if (!stopTime_ && captureEnd_) stopTime_ = captureEnd_;
}

void MovieRecorder::noMorePictures() {
    std::lock_guard lock(lock_);
    picturesEnded_ = true;
    picturesCame_.notify_all();
}

bool MovieRecorder::appendAudio(const AudioFrame& audio) {
    {
        std::lock_guard lock(lock_);
        if (finishing_ || failureReason_ || !startTime_ || !hasAudio_) return false;
        // Once the take is stopped, only the sound of its last pictures is still taken.
        if (stopped_ && (!captureEnd_ || !(audio.time < *captureEnd_))) return false;
        if (stopTime_ && !(audio.time < *stopTime_)) return false;
        if (audio.samples && audio.samples->sample_rate > 0) {
            const double end = audio.time + double(audio.samples->nb_samples) / audio.samples->sample_rate;
            if (!stopped_) noteCaptureTime(end);
            if (std::isfinite(end) && (!soundEnd_ || end > *soundEnd_)) {
                soundEnd_ = end;
                soundDelay_ = hostTime() - audio.time;
            }
        }
        // Never refused for the pictures' sake: sound has a bound of its own.
        if (soundQueued_ >= kSoundQueued) return false;
        queue_.emplace_back(audio);
        ++soundsQueued_;
        soundQueued_ += soundSeconds(audio);
    }
    wake_.notify_one();
    soundCame_.notify_all();
    return true;
}

void MovieRecorder::noteCaptureTime(double end) {
    if (stopTime_) end = std::min(end, *stopTime_);
    if (std::isfinite(end) && (!captureEnd_ || end > *captureEnd_)) captureEnd_ = end;
}

void MovieRecorder::run() {
    for (;;) {
        std::variant<VideoFrame, AudioFrame> item;
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [&] { return finishing_ || !queue_.empty(); });
            if (queue_.empty()) return;  // finishing and drained
            auto next = queue_.begin();
            // Sound that piles up behind pictures waiting to be compressed goes ahead of them rather than be refused,
            // once the movie holds a picture (a take cut off keeps no sound before its first picture): it is placed
            // by its own capture time.
            if (soundQueued_ >= kSoundAhead && writer_->videoEnd > 0)
                next = std::find_if(queue_.begin(), queue_.end(),
                                    [](const auto& queued) { return std::holds_alternative<AudioFrame>(queued); });
            item = std::move(*next);
            queue_.erase(next);
            if (std::holds_alternative<VideoFrame>(item)) {
                // A stopped take's pictures that could not be compressed in time, or more than may wait now (queued
                // before the pace was known): they are repeats, and newer ones wait. The first picture is always
                // written: the take starts with it.
                // One whose compression at the measured pace would end past that time is one too.
                const bool late = compressUntil_ && hostTime() + secondsPerPicture_.value_or(0) > *compressUntil_;
                if ((--picturesQueued_ >= picturesAllowed() || late) && writer_->headerWritten) {
                    ++dropped_;
                    if (!late) pace_.dropped(clock_());
                    continue;
                }
                compressingSince_ = hostTime();
            } else {
                --soundsQueued_;
                soundQueued_ = std::max(0.0, soundQueued_ - soundSeconds(std::get<AudioFrame>(item)));
            }
            if (writer_->soundLost) soundLost_ = true;
            // The disk filled: the take ends with what was written.
            if (writer_->file.full && !failureReason_) {
                failureReason_ = "the disk is full";
                failedAfterStop_ = stopped_;
            }
            if (failureReason_) continue;
        }
        const double began = hostTime();
        if (auto* video = std::get_if<VideoFrame>(&item)) {
            const bool first = !writer_->headerWritten;
            writer_->writeVideo(*video);
            std::lock_guard lock(lock_);
            if (finishing_) afterStop_[0] += hostTime() - began, ++afterStopPictures_;
            // The first picture's time is mostly the encoder's start: it is no measure of its pace.
            const double took = hostTime() - compressingSince_.value_or(hostTime());
            if (!first) secondsPerPicture_ = secondsPerPicture_ ? 0.8 * *secondsPerPicture_ + 0.2 * took : took;
            compressingSince_.reset();
        } else {
            writer_->writeAudio(std::get<AudioFrame>(item));
            std::lock_guard lock(lock_);
            if (finishing_) afterStop_[1] += hostTime() - began;
        }
    }
}

std::optional<double> MovieRecorder::finish() {
    const double called = hostTime();
    double waited = 0, compressed = 0;
    {
        std::unique_lock lock(lock_);
        if (finishing_ && !thread_.joinable()) return std::nullopt;
        // However slow the compression, the take is stored soon after its stop: what waits longer is repeats.
        // A recorder already behind compresses nothing more than the picture in hand.
        if (!compressUntil_ && !queueLimit_) compressUntil_ = hostTime() + (pace_.behind ? 0 : queueSeconds_);
        // Pictures captured before the stop may still be on their way, behind the sound: they are waited for, as
        // long as they may come.
        if (stopTime_ && !failureReason_) {
            const double now = hostTime();
            const double until = std::clamp(*stopTime_ + kPictureLateness, now, now + kPictureLateness);
            picturesCame_.wait_for(lock, std::chrono::duration<double>(until - now), [&] { return picturesEnded_; });
        }
        // The sound of the last pictures is read after them: it is waited for, as long as it may come.
        stopped_ = true;
        // A take given a sound track that got no sound at all is judged too: its microphone gave nothing.
        if (hasAudio_ && captureEnd_ && !(soundEnd_ && *soundEnd_ >= *captureEnd_) && !failureReason_) {
            // A source with a long delay hands its sound over in long blocks, long after they began: as late as
            // its latest block came, within reason.
            const double lateness = std::clamp(soundDelay_ + 0.25, kSoundLateness, kLongestSoundLateness);
            const double now = hostTime();
            const double until = std::clamp(*captureEnd_ + lateness, now, now + lateness);
            soundCame_.wait_for(lock, std::chrono::duration<double>(until - now),
                                [&] { return soundEnd_ && *soundEnd_ >= *captureEnd_ - 0.001; });
            // The sound of the take's end never came: it cannot be placed, and the take says so.
            if (!soundEnd_ || *soundEnd_ < *captureEnd_ - kSoundLateness) {
                log::error("MovieRecorder", "the sound of the take's end did not come: the take ends without it");
                soundEndLost_ = true;
            }
        }
        finishing_ = true;
        waited = hostTime() - called;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    compressed = hostTime() - called - waited;
    if (!writer_) return std::nullopt;
    std::optional<double> stop;
    {
        std::lock_guard lock(lock_);
        stop = captureEnd_;
    }
    const double closing = hostTime();
    auto duration = writer_->close(stop);
    // Where a slow stop's time went.
    log::info("MovieRecorder",
              "stored " + std::to_string(hostTime() - called) + " s after the stop: waited " + std::to_string(waited) +
                  " s for the last pictures and sound, " + std::to_string(compressed) + " s compressing (" +
                  std::to_string(afterStopPictures_) + " pictures in " + std::to_string(afterStop_[0]) +
                  " s, sound in " + std::to_string(afterStop_[1]) + " s), " + std::to_string(hostTime() - closing) +
                  " s writing the end (" + std::to_string(writer_->syncWait) + " s of it on the disk)");
    const auto tc = timecodeFormat(writer_->options.frameRate, writer_->options.ntsc);
    {
        std::lock_guard lock(lock_);
        soundLost_ = soundLost_ || writer_->soundLost;
        repeated_ = static_cast<std::size_t>(writer_->repeatedSlots + writer_->encodedRepeats);
        if (writer_->file.full && !failureReason_) {
            failureReason_ = "the disk is full";
            failedAfterStop_ = true;
        }
    }
    writer_.reset();
    if (!duration) {
        // The journal stays: what was written can still be finished from it.
        log::error("MovieRecorder", "couldn't finish the movie");
        return std::nullopt;
    }
    std::error_code ec;
    // A finished take needs none; on a drive, where it stays, its owner removes it once the take is stored.
    if (!isOnDrive_) fs::remove(journalOf(url_), ec);
    if (tc) patchTimecodeFlags(url_, tc->flags);
    return duration;
}

}  // namespace morvane
