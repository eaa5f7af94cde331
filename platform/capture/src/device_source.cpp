#include "platform/device_source.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/dict.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
}

#include "platform/ffmpeg_handles.h"
#include "platform/log.h"
#include "platform/pulse_input.h"
#include "platform/sound_clock.h"

namespace morvane {

// MARK: - PictureConverter

PictureConverter::PictureConverter() = default;

PictureConverter::~PictureConverter() {
    sws_freeContext(sws_);
}

SharedFrame PictureConverter::convert(const AVFrame& picture) {
    const auto format = static_cast<AVPixelFormat>(picture.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc || picture.width <= 1 || picture.height <= 1) return nullptr;
    if (format == AV_PIX_FMT_NV12 || format == AV_PIX_FMT_P010LE) {
        SharedFrame same = shareFrame(av_frame_alloc());
        if (!same || av_frame_ref(same.get(), &picture) < 0) return nullptr;
        return same;
    }
    const AVPixelFormat target = desc->comp[0].depth > 8 ? AV_PIX_FMT_P010LE : AV_PIX_FMT_NV12;
    // 4:2:0 needs even sizes: an odd last row or column is dropped.
    const int width = picture.width & ~1;
    const int height = picture.height & ~1;
    SharedFrame out = makeVideoFrame(width, height, target);
    if (!out) return nullptr;
    sws_ = sws_getCachedContext(sws_, width, height, format, width, height, target, SWS_BILINEAR, nullptr, nullptr,
                                nullptr);
    if (!sws_) return nullptr;
    setColorConversion(sws_, picture, target);
    if (sws_scale(sws_, picture.data, picture.linesize, 0, height, out->data, out->linesize) != height) return nullptr;
    out->pts = picture.pts;
    return out;
}

// MARK: - Capture times

double PictureClock::time(double deviceStamp, double readAt) {
    // A stamp after its read is not on this clock (the wall clock, say).
    if (!std::isfinite(deviceStamp) || deviceStamp > readAt + 0.001) return readAt;
    const bool recent = deviceStamp >= readAt - reach;
    if (!recent && !(hostClock_ && deviceStamp > last_)) return readAt;
    hostClock_ = true;
    last_ = deviceStamp;
    return deviceStamp;
}

// MARK: - Devices

std::vector<VideoDeviceInfo> listVideoDevices() {
    std::vector<VideoDeviceInfo> devices;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0) continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
            const auto caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
            if (caps & V4L2_CAP_VIDEO_CAPTURE) {
                const auto* card = reinterpret_cast<const char*>(cap.card);
                devices.push_back({entry.path().string(), std::string(card, strnlen(card, sizeof cap.card))});
            }
        }
        ::close(fd);
    }
    std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return devices;
}

// MARK: - DeviceSource

namespace {

struct DictionaryDeleter {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

void registerDevices() {
    static std::once_flag once;
    std::call_once(once, [] { avdevice_register_all(); });
}

}  // namespace

// A read that waits on its device gives up after this long while opening; a reader asked to stop is waited for
// this long, then left behind. An opening stuck in its driver, where no read gives up, is waited for as long as
// opening itself may take, then left behind too: a start or a restart of the pictures returns in time for the
// streamer, which leaves a whole source behind after a few seconds.
constexpr double kOpenSeconds = 3;
constexpr double kStopSeconds = 0.5;
constexpr double kOpenWaitSeconds = 4;

// Small blocks laid one after the other are handed on together, up to this long: fewer, not later.
constexpr double kSoundRunSeconds = 0.02;

namespace {

/// The instant (host seconds) the sound input says a block began, from its stamp `stamped` (seconds) read at
/// `readAt` (host) and `wallAt` (the wall clock): FFmpeg's sound inputs stamp on the wall clock, from the delay the
/// server or the device reports. NaN when there is none, or it is on neither clock.
double inputTime(double stamped, double readAt, double wallAt) {
    constexpr double reach = 30;
    if (!std::isfinite(stamped)) return NAN;
    if (std::abs(stamped - wallAt) < reach) return stamped - wallAt + readAt;
    if (std::abs(stamped - readAt) < reach) return stamped;
    return NAN;
}

/// Blocks of sound that follow on one another, joined into one.
class SoundRun {
public:
    /// Whether `block`, laid at `start`, follows on the run and fits in it.
    bool joins(const AVFrame& block, double start) const {
        if (blocks_.empty()) return true;
        const AVFrame& last = *blocks_.back();
        const double sample = 1.0 / std::max(1, last.sample_rate);
        return block.format == last.format && block.sample_rate == last.sample_rate &&
               av_channel_layout_compare(&block.ch_layout, &last.ch_layout) == 0 &&
               std::abs(start - end()) < sample / 2 &&
               seconds() + block.nb_samples * sample <= kSoundRunSeconds + sample / 2;
    }
    void add(SharedFrame block, double start) {
        if (blocks_.empty()) start_ = start;
        samples_ += block->nb_samples;
        blocks_.push_back(std::move(block));
    }
    double seconds() const {
        return blocks_.empty() ? 0 : static_cast<double>(samples_) / std::max(1, blocks_.front()->sample_rate);
    }
    /// The run as one block; none when it is empty, or cannot be had.
    std::optional<AudioFrame> take() {
        if (blocks_.empty()) return std::nullopt;
        std::vector<SharedFrame> blocks;
        blocks.swap(blocks_);
        const std::int64_t samples = std::exchange(samples_, 0);
        if (blocks.size() == 1) return AudioFrame{std::move(blocks.front()), start_};
        const AVFrame& first = *blocks.front();
        SharedFrame joined = shareFrame(av_frame_alloc());
        if (!joined) return std::nullopt;
        joined->format = first.format;
        joined->sample_rate = first.sample_rate;
        joined->nb_samples = static_cast<int>(samples);
        if (av_channel_layout_copy(&joined->ch_layout, &first.ch_layout) < 0 ||
            av_frame_get_buffer(joined.get(), 0) < 0)
            return std::nullopt;
        int at = 0;
        for (const SharedFrame& block : blocks) {
            av_samples_copy(joined->extended_data, block->extended_data, at, 0, block->nb_samples,
                            first.ch_layout.nb_channels, static_cast<AVSampleFormat>(first.format));
            at += block->nb_samples;
        }
        return AudioFrame{std::move(joined), start_};
    }

private:
    double end() const { return start_ + seconds(); }
    std::vector<SharedFrame> blocks_;
    double start_ = 0;
    std::int64_t samples_ = 0;
};

/// The blocks of one sound input laid on the host clock by `SoundClock` and handed on in runs.
class SoundLaying {
public:
    explicit SoundLaying(SoundClock::Times times) : clock_(times) {}

    /// Takes the next block, read at `readAt`, with the input's time for it (NaN: none); hands on what is laid.
    template <class HandOn>
    void add(SharedFrame block, double readAt, double reported, HandOn&& handOn) {
        const int rate = std::max(1, block->sample_rate);
        const int samples = block->nb_samples;
        held_.push_back(std::move(block));
        lay(clock_.stamp(readAt - static_cast<double>(samples) / rate, samples, rate, reported), handOn);
        if (run_.seconds() >= kSoundRunSeconds) handOnRun(handOn);
    }
    /// The input ended: what is held is laid and handed on.
    template <class HandOn>
    void finish(HandOn&& handOn) {
        lay(clock_.finish(), handOn);
        handOnRun(handOn);
    }

private:
    template <class HandOn>
    void lay(const std::vector<double>& starts, HandOn& handOn) {
        for (const double start : starts) {
            if (held_.empty()) break;
            SharedFrame laid = std::move(held_.front());
            held_.pop_front();
            if (!run_.joins(*laid, start)) handOnRun(handOn);
            run_.add(std::move(laid), start);
        }
    }
    template <class HandOn>
    void handOnRun(HandOn& handOn) {
        if (auto joined = run_.take()) handOn(*joined);
    }

    SoundClock clock_;
    std::deque<SharedFrame> held_;  // blocks the clock has not laid yet, oldest first
    SoundRun run_;                  // blocks laid one after the other, not handed on yet
};

}  // namespace

/// One device input, opened and read on a thread of its own: FFmpeg's (packets decoded and handed on as frames), or
/// for a sound server's source ("pulse:…") the server's own library (`PulseInput`).
/// The thread shares the reader with its source, so that a thread stuck in its driver, opening or reading, can be
/// left behind safely; the camera's and the microphone's readers live apart, one stopping or stuck while the
/// other goes on.
struct DeviceSource::Reader : std::enable_shared_from_this<DeviceSource::Reader> {
    ff::InputFormat input;
    ff::CodecContext decoder;
    int stream = -1;
    bool video = true;
    std::string url;
    std::string named;  ///< the input as the settings name it ("pulse:…")
    // A sound server's source is read through the server's own library rather than FFmpeg: `pulse` is replaced
    // on the reader's thread, under `pulseLock` so that `halt` may wake it.
    std::mutex pulseLock;
    std::unique_ptr<PulseInput> pulse;
    std::atomic<bool> silent{false};  ///< the sound input ended and has not come back
    std::atomic<bool> stopping{false};
    std::atomic<double> openUntil{0};  ///< while opening: reads give up at this host time
    std::thread thread;
    // Callbacks run holding `deliveryLock` while `delivering`: once `stop` clears it, nothing more is delivered.
    std::mutex deliveryLock;
    bool delivering = true;
    std::mutex doneLock;
    std::condition_variable doneChanged;
    bool opened = false;  ///< the opening returned: `error` says how
    std::string error;
    bool done = false;                             ///< the thread let go of the device
    std::shared_ptr<std::atomic<int>> leftBehind;  ///< counts the thread while it is left behind

    using Options = std::vector<std::pair<std::string, std::string>>;

    /// Opens the device on the reader's own thread, which then reads it until asked to stop. Waits for the opening
    /// until `until` (host time): none when it failed (`*error` says why) or had not returned by then; then
    /// `*stuck` holds the reader, left behind in its driver.
    static std::shared_ptr<Reader> launch(std::string formatName, std::string url, Options options, bool video,
                                          const Callbacks& callbacks, double until, std::string* error,
                                          std::shared_ptr<Reader>* stuck,
                                          const std::shared_ptr<std::atomic<int>>& count) {
        return begin(std::move(formatName), std::move(url), std::move(options), video, callbacks)
            ->opening(until, error, stuck, count);
    }

    /// Begins opening the device on the reader's own thread, which then reads it until asked to stop.
    static std::shared_ptr<Reader> begin(std::string formatName, std::string url, Options options, bool video,
                                         const Callbacks& callbacks) {
        auto reader = std::make_shared<Reader>();
        reader->video = video;
        reader->url = url;
        reader->named = video ? url : formatName + ":" + url;
        reader->thread =
            std::thread([reader, formatName = std::move(formatName), url, options = std::move(options), callbacks] {
                std::string why;
                const bool opened = reader->open(formatName.c_str(), url, options, &why);
                {
                    std::lock_guard lock(reader->doneLock);
                    reader->opened = true;
                    reader->error = opened ? "" : why.empty() ? url + ": cannot be opened" : why;
                    reader->doneChanged.notify_all();
                }
                if (opened && reader->pulse) {
                    reader->runPulse(callbacks);
                } else if (opened) {
                    reader->run(callbacks);
                }
                reader->decoder.reset();
                reader->input.reset();
                {
                    std::lock_guard lock(reader->pulseLock);
                    reader->pulse.reset();
                }
                std::lock_guard lock(reader->doneLock);
                reader->done = true;
                if (reader->leftBehind) --*reader->leftBehind;
                reader->doneChanged.notify_all();
            });
        return reader;
    }

    /// Waits for the opening `begin` began, as `launch` does.
    std::shared_ptr<Reader> opening(double until, std::string* error, std::shared_ptr<Reader>* stuck,
                                    const std::shared_ptr<std::atomic<int>>& count) {
        {
            std::unique_lock lock(doneLock);
            doneChanged.wait_for(lock, std::chrono::duration<double>(std::max(0.0, until - hostTime())),
                                 [&] { return opened; });
            if (opened && this->error.empty()) return shared_from_this();
        }
        halt();
        bool returned;
        {
            std::lock_guard lock(doneLock);
            returned = opened;
            *error = !this->error.empty() ? this->error : url + ": did not open in time";
            if (!returned) {
                leftBehind = count;  // counted until its driver lets go
                ++*count;
            }
        }
        if (returned) {
            thread.join();
        } else {
            thread.detach();
            *stuck = shared_from_this();
        }
        return nullptr;
    }

    /// A record stream of the sound server on the source `name`, from now until `until` (host time) for its first
    /// sound. Held in `pulse` meanwhile, so that a stop wakes it.
    bool openPulse(const std::string& name, double until, std::string* error) {
        {
            std::lock_guard lock(pulseLock);
            pulse = std::make_unique<PulseInput>();
            if (stopping) return false;
        }
        if (pulse->open(name, until, error)) return true;
        *error = url + ": " + *error;
        return false;
    }

    bool open(const char* formatName, const std::string& url, const Options& options, std::string* error) {
        if (std::string_view(formatName) == "pulse") return openPulse(url, hostTime() + kOpenSeconds, error);
        registerDevices();
        const AVInputFormat* format = av_find_input_format(formatName);
        if (!format) {
            *error = std::string("no FFmpeg input for ") + formatName;
            return false;
        }
        AVFormatContext* raw = avformat_alloc_context();
        if (!raw) return false;
        // A device read gives up once the reader is asked to stop, or when opening takes too long.
        raw->interrupt_callback.callback = [](void* opaque) {
            const auto* r = static_cast<Reader*>(opaque);
            const double until = r->openUntil.load();
            return r->stopping.load() || (until > 0 && hostTime() > until) ? 1 : 0;
        };
        raw->interrupt_callback.opaque = this;
        // A camera read that waits in the driver (VIDIOC_DQBUF) sees no interrupt: read without waiting instead.
        if (video) raw->flags |= AVFMT_FLAG_NONBLOCK;
        openUntil = hostTime() + kOpenSeconds;
        AVDictionary* dictionary = nullptr;
        for (const auto& [key, value] : options) av_dict_set(&dictionary, key.c_str(), value.c_str(), 0);
        int rc = avformat_open_input(&raw, url.c_str(), format, &dictionary);  // frees the context on failure
        std::unique_ptr<AVDictionary, DictionaryDeleter> left(dictionary);
        if (rc < 0) {
            *error = url + ": " + ff::errorText(rc);
            return false;
        }
        input.reset(raw);
        if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) {
            *error = url + ": " + ff::errorText(rc);
            return false;
        }
        openUntil = 0;
        const AVCodec* codec = nullptr;
        stream = av_find_best_stream(raw, video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (stream < 0 || !codec) {
            *error = url + ": no usable stream";
            return false;
        }
        decoder.reset(avcodec_alloc_context3(codec));
        if (!decoder || avcodec_parameters_to_context(decoder.get(), raw->streams[stream]->codecpar) < 0 ||
            avcodec_open2(decoder.get(), codec, nullptr) < 0) {
            *error = url + ": no decoder";
            return false;
        }
        return true;
    }

    template <class Call>
    void deliver(Call&& call) {
        std::lock_guard lock(deliveryLock);
        if (delivering) call();
    }

    /// Reads the sound server's stream until asked to stop. A stream that gives no sound for a while, or ends
    /// because its source went away (a microphone unplugged), leaves the microphone giving nothing, told so, until
    /// sound comes again: on the same stream, or on one opened anew on the source once it is back.
    void runPulse(const Callbacks& callbacks) {
        auto handOn = [&](const AudioFrame& sound) {
            if (callbacks.onAudio) deliver([&] { callbacks.onAudio(sound); });
        };
        auto tell = [&](bool givesSound, const std::string& why) {
            if (silent == !givesSound) return;
            silent = !givesSound;
            if (givesSound) {
                log::info("Capture", "the microphone " + named + " gives sound again");
            } else {
                log::error("Capture",
                           "the microphone " + named + " gives nothing (" + why + "): filming without sound");
            }
            if (callbacks.onMicrophone)
                deliver([&] { callbacks.onMicrophone(givesSound ? std::nullopt : std::optional(named)); });
        };
        SoundLaying laying(SoundClock::Times::counted);
        double waitingSince = hostTime();  // for the stream's first sound
        bool heard = false;
        std::vector<PulseInput::Block> blocks;
        while (!stopping) {
            std::string why;
            blocks.clear();
            const bool going = pulse->read(0.1, blocks, &why);
            if (!blocks.empty()) {
                heard = true;
                tell(true, "");
            }
            for (PulseInput::Block& block : blocks)
                laying.add(std::move(block.samples), block.readAt, block.heard, handOn);
            if (going) {
                if (!heard && hostTime() - waitingSince > kOpenSeconds) tell(false, "no sound came");
                continue;
            }
            if (stopping) break;
            laying.finish(handOn);
            tell(false, why);
            while (!stopping) {
                for (int i = 0; i < 10 && !stopping; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (stopping || !openPulse(url, hostTime() + kOpenSeconds, &why)) continue;
                laying = SoundLaying(SoundClock::Times::counted);
                waitingSince = hostTime();
                heard = false;
                break;
            }
        }
    }

    void run(const Callbacks& callbacks) {
        PictureConverter converter;
        PictureClock pictureClock;
        SoundLaying laying(SoundClock::Times::smoothed);
        auto handOn = [&](const AudioFrame& sound) { deliver([&] { callbacks.onAudio(sound); }); };
        ff::Packet packet = ff::makePacket();
        ff::Frame frame = ff::makeFrame();
        const AVRational timeBase = input->streams[stream]->time_base;
        while (!stopping) {
            const int rc = av_read_frame(input.get(), packet.get());
            if (rc == AVERROR(EAGAIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if (rc < 0) {
                if (!stopping && callbacks.onFailure) deliver([&] { callbacks.onFailure(ff::errorText(rc)); });
                return;
            }
            const double readAt = hostTime();
            const double wallAt = static_cast<double>(av_gettime()) * 1e-6;
            if (packet->stream_index == stream && avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
                while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                    const std::int64_t pts =
                        frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
                    const double stamped = pts == AV_NOPTS_VALUE ? NAN : static_cast<double>(pts) * av_q2d(timeBase);
                    if (video) {
                        // The driver's own stamp of the buffer (the monotonic clock for V4L2), however late the
                        // picture was read.
                        const double time = pictureClock.time(stamped, readAt);
                        if (auto picture = converter.convert(*frame); picture && callbacks.onVideo) {
                            deliver([&] { callbacks.onVideo(VideoFrame{picture, time}); });
                        }
                    } else if (callbacks.onAudio) {
                        SharedFrame samples = shareFrame(av_frame_alloc());
                        if (samples && av_frame_ref(samples.get(), frame.get()) >= 0)
                            laying.add(std::move(samples), readAt, inputTime(stamped, readAt, wallAt), handOn);
                    }
                    av_frame_unref(frame.get());
                }
            }
            av_packet_unref(packet.get());
        }
    }

    /// Asks the thread to stop; nothing is delivered from now on.
    void halt() {
        stopping = true;
        {
            std::lock_guard lock(pulseLock);
            if (pulse) pulse->wake();
        }
        std::lock_guard lock(deliveryLock);
        delivering = false;
    }

    /// Whether the thread let go of the device by `until` (host time); else it is counted in `count` until it
    /// does.
    bool waitDone(double until, const std::shared_ptr<std::atomic<int>>& count) {
        std::unique_lock lock(doneLock);
        if (doneChanged.wait_for(lock, std::chrono::duration<double>(std::max(0.0, until - hostTime())),
                                 [this] { return done; })) {
            return true;
        }
        leftBehind = count;
        ++*count;
        return false;
    }

    bool isDone() {
        std::lock_guard lock(doneLock);
        return done;
    }

    /// Stops the readers, waiting for each until `until` (host time): one stuck in its driver keeps the device until
    /// the driver lets go, and the next opening opens it anew.
    static void retire(const std::vector<std::shared_ptr<Reader>>& readers, double until,
                       const std::shared_ptr<std::atomic<int>>& count) {
        for (const auto& reader : readers)
            if (reader) reader->halt();
        for (const auto& reader : readers) {
            if (!reader) continue;
            if (reader->waitDone(until, count)) {
                reader->thread.join();
            } else {
                log::error("Capture", "a device read did not end: left behind");
                reader->thread.detach();
            }
        }
    }
};

DeviceSource::DeviceSource(Settings settings) : settings_(std::move(settings)) {}

DeviceSource::~DeviceSource() {
    stop();
}

std::shared_ptr<DeviceSource::Reader> DeviceSource::openPictures(const Callbacks& callbacks, double until) {
    // Called with `mutex_` held. The device's own mode nearest the one asked for: a driver given a size or rate it
    // lacks refuses to open. Read at each opening, as the device may have been unplugged and another put in its
    // place.
    if (opening_ && !opening_->isDone()) {
        log::error("Capture", settings_.videoDevice + ": its last opening is still stuck in the driver");
        return nullptr;
    }
    opening_.reset();
    deviceRead_ = false;
    readDevice();
    if (auto nearest =
            closestMode(modes_, settings_.width, settings_.height,
                        SourceMode{0, 0, settings_.framesPerSecond, std::max(1, settings_.rateDenominator)}.fps())) {
        settings_.width = nearest->width;
        settings_.height = nearest->height;
        settings_.framesPerSecond = nearest->rateNumerator;
        settings_.rateDenominator = nearest->rateDenominator;
    }
    Reader::Options options{{"video_size", std::to_string(settings_.width) + "x" + std::to_string(settings_.height)},
                            {"framerate", std::to_string(settings_.framesPerSecond) + "/" +
                                              std::to_string(std::max(1, settings_.rateDenominator))}};
    if (!settings_.inputFormat.empty()) options.emplace_back("input_format", settings_.inputFormat);
    std::string error;
    auto reader = Reader::launch("video4linux2", settings_.videoDevice, std::move(options), true, callbacks, until,
                                 &error, &opening_, readersLeftBehind_);
    if (!reader) log::error("Capture", error);
    return reader;
}

bool DeviceSource::start(Callbacks callbacks) {
    std::lock_guard lock(mutex_);
    if (running_) return false;
    const double until = hostTime() + kOpenWaitSeconds;
    // The microphone opens on a reader of its own, beside the camera: from then on the sound runs whatever the
    // camera does. One that gives nothing leaves the pictures without sound, and says so at once.
    std::shared_ptr<Reader> sound;
    std::string soundError = "not a sound input (pulse:… or alsa:…)";
    silentMicrophone_.reset();
    if (!settings_.audioDevice.empty()) {
        const auto colon = settings_.audioDevice.find(':');
        const std::string kind = settings_.audioDevice.substr(0, colon);
        const std::string name = colon == std::string::npos ? "default" : settings_.audioDevice.substr(colon + 1);
        if (kind == "pulse" || kind == "alsa") sound = Reader::begin(kind, name, {}, false, callbacks);
    }
    auto pictures = openPictures(callbacks, until);
    if (sound) {
        std::shared_ptr<Reader> stuck;
        soundError.clear();
        sound = sound->opening(until, &soundError, &stuck, readersLeftBehind_);
    }
    if (!pictures) {
        Reader::retire({sound}, hostTime() + kStopSeconds, readersLeftBehind_);
        return false;
    }
    if (!settings_.audioDevice.empty() && !sound) {
        log::error("Capture", "the microphone " + settings_.audioDevice + " gives nothing (" + soundError +
                                  "): filming without sound");
        silentMicrophone_ = settings_.audioDevice;
    }
    pictures_ = std::move(pictures);
    sound_ = std::move(sound);
    callbacks_ = callbacks;
    running_ = true;
    return true;
}

bool DeviceSource::restartPictures(const Callbacks& callbacks) {
    std::unique_lock lock(mutex_);
    if (!running_) {
        lock.unlock();
        return start(callbacks);
    }
    const double until = hostTime() + kOpenWaitSeconds;
    Reader::retire({std::move(pictures_)}, std::min(until, hostTime() + kStopSeconds), readersLeftBehind_);
    pictures_ = openPictures(callbacks_, until);
    return pictures_ != nullptr;
}

void DeviceSource::readDevice() const {
    // Called with `mutex_` held.
    if (deviceRead_) return;
    deviceRead_ = true;
    const int fd = ::open(settings_.videoDevice.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    modes_ = readV4L2Modes(fd);
    controls_ = readV4L2Controls(fd);
    ::close(fd);
}

std::vector<SourceMode> DeviceSource::modes() const {
    std::lock_guard lock(mutex_);
    readDevice();
    return modes_;
}

std::optional<SourceMode> DeviceSource::mode() const {
    std::lock_guard lock(mutex_);
    return SourceMode{settings_.width, settings_.height, settings_.framesPerSecond,
                      std::max(1, settings_.rateDenominator)};
}

bool DeviceSource::setMode(const SourceMode& wanted) {
    auto chosen = closestMode(modes(), wanted.width, wanted.height, wanted.fps());
    if (!chosen) return false;
    bool running;
    SourceMode previous;
    {
        std::lock_guard lock(mutex_);
        running = running_;
        previous = {settings_.width, settings_.height, settings_.framesPerSecond,
                    std::max(1, settings_.rateDenominator)};
    }
    // Only the camera opens anew in the other mode: the sound goes on meanwhile.
    return restartIn(
        *chosen, previous, running,
        [this](const SourceMode& mode) {
            std::lock_guard lock(mutex_);
            settings_.width = mode.width;
            settings_.height = mode.height;
            settings_.framesPerSecond = mode.rateNumerator;
            settings_.rateDenominator = mode.rateDenominator;
        },
        [this] { return restartPictures(callbacks_); });
}

std::unique_ptr<CaptureSource> DeviceSource::replacement() const {
    std::lock_guard lock(mutex_);
    return std::make_unique<DeviceSource>(settings_);
}

SourceCapabilities DeviceSource::capabilities() const {
    std::lock_guard lock(mutex_);
    readDevice();
    return capabilitiesOf(controls_);
}

PictureSettings DeviceSource::applyPicture(const PictureSettings& wanted) {
    // The driver calls run without `mutex_`: a control stuck in its driver keeps no stop, no restart waiting.
    std::lock_guard setting(settingLock_);
    std::string path;
    V4L2ControlTable controls;
    {
        std::lock_guard lock(mutex_);
        readDevice();
        path = settings_.videoDevice;
        controls = controls_;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::lock_guard held(mutex_);
        return held_;  // nothing changed that can be known
    }
    V4L2FileControls device(fd);
    const PictureSettings applied = applyControls(controls, wanted, device);
    ::close(fd);
    std::lock_guard held(mutex_);
    held_ = applied;
    return held_;
}

std::optional<std::string> DeviceSource::silentMicrophone() const {
    std::lock_guard lock(mutex_);
    if (sound_ && sound_->silent) return settings_.audioDevice;
    return silentMicrophone_;
}

void DeviceSource::stop() {
    std::shared_ptr<Reader> pictures, sound;
    {
        std::lock_guard lock(mutex_);
        pictures = std::move(pictures_);
        sound = std::move(sound_);
        running_ = false;
    }
    Reader::retire({pictures, sound}, hostTime() + kStopSeconds, readersLeftBehind_);
}

}  // namespace morvane
