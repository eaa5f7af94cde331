#include "platform/device_source.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <filesystem>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/dict.h>
#include <libavutil/pixdesc.h>
}

#include "platform/ffmpeg_handles.h"
#include "platform/log.h"
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

// A driver's stamp further from the read than this is on another clock (or none), not a late picture.
constexpr double kStampReach = 2;

double pictureTime(double deviceStamp, double readAt) {
    if (std::isfinite(deviceStamp) && deviceStamp <= readAt + 0.001 && deviceStamp >= readAt - kStampReach)
        return deviceStamp;
    return readAt;
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
// this long, then left behind.
constexpr double kOpenSeconds = 3;
constexpr double kStopSeconds = 0.5;

/// One FFmpeg device input read on its own thread: packets are decoded and handed on as frames. The thread shares
/// the reader with its source, so that a thread stuck in its driver can be left behind safely.
struct DeviceSource::Reader {
    ff::InputFormat input;
    ff::CodecContext decoder;
    int stream = -1;
    bool video = true;
    std::atomic<bool> stopping{false};
    std::atomic<double> openUntil{0};  ///< while opening: reads give up at this host time
    std::thread thread;
    // Callbacks run holding `deliveryLock` while `delivering`: once `stop` clears it, nothing more is delivered.
    std::mutex deliveryLock;
    bool delivering = true;
    std::mutex doneLock;
    std::condition_variable doneChanged;
    bool done = false;                             ///< the thread let go of the device
    std::shared_ptr<std::atomic<int>> leftBehind;  ///< counts the thread while it is left behind

    static std::shared_ptr<Reader> open(const char* formatName, const std::string& url, AVDictionary* options,
                                        bool video, std::string* error) {
        registerDevices();
        const AVInputFormat* format = av_find_input_format(formatName);
        if (!format) {
            *error = std::string("no FFmpeg input for ") + formatName;
            return nullptr;
        }
        auto reader = std::make_shared<Reader>();
        AVFormatContext* raw = avformat_alloc_context();
        if (!raw) return nullptr;
        // A device read gives up once the reader is asked to stop, or when opening takes too long.
        raw->interrupt_callback.callback = [](void* opaque) {
            const auto* r = static_cast<Reader*>(opaque);
            const double until = r->openUntil.load();
            return r->stopping.load() || (until > 0 && hostTime() > until) ? 1 : 0;
        };
        raw->interrupt_callback.opaque = reader.get();
        // A camera read that waits in the driver (VIDIOC_DQBUF) sees no interrupt: read without waiting instead.
        if (video) raw->flags |= AVFMT_FLAG_NONBLOCK;
        reader->openUntil = hostTime() + kOpenSeconds;
        int rc = avformat_open_input(&raw, url.c_str(), format, &options);  // frees the context on failure
        std::unique_ptr<AVDictionary, DictionaryDeleter> left(options);
        if (rc < 0) {
            *error = url + ": " + ff::errorText(rc);
            return nullptr;
        }
        reader->input.reset(raw);
        reader->video = video;
        if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) {
            *error = url + ": " + ff::errorText(rc);
            return nullptr;
        }
        reader->openUntil = 0;
        const AVCodec* codec = nullptr;
        reader->stream = av_find_best_stream(raw, video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (reader->stream < 0 || !codec) {
            *error = url + ": no usable stream";
            return nullptr;
        }
        reader->decoder.reset(avcodec_alloc_context3(codec));
        if (!reader->decoder ||
            avcodec_parameters_to_context(reader->decoder.get(), raw->streams[reader->stream]->codecpar) < 0 ||
            avcodec_open2(reader->decoder.get(), codec, nullptr) < 0) {
            *error = url + ": no decoder";
            return nullptr;
        }
        return reader;
    }

    /// The reader's thread: reads until asked to stop, then lets go of the device.
    static void start(const std::shared_ptr<Reader>& reader, const Callbacks& callbacks) {
        reader->thread = std::thread([reader, callbacks] {
            reader->run(callbacks);
            reader->decoder.reset();
            reader->input.reset();
            std::lock_guard lock(reader->doneLock);
            reader->done = true;
            if (reader->leftBehind) --*reader->leftBehind;
            reader->doneChanged.notify_all();
        });
    }

    template <class Call>
    void deliver(Call&& call) {
        std::lock_guard lock(deliveryLock);
        if (delivering) call();
    }

    void run(const Callbacks& callbacks) {
        PictureConverter converter;
        SoundClock soundClock;
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
            if (packet->stream_index == stream && avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
                while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                    if (video) {
                        // The driver's own stamp of the buffer (the monotonic clock for V4L2), however late the
                        // picture was read.
                        const std::int64_t pts =
                            frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
                        const double time = pictureTime(
                            pts == AV_NOPTS_VALUE ? NAN : static_cast<double>(pts) * av_q2d(timeBase), readAt);
                        if (auto picture = converter.convert(*frame); picture && callbacks.onVideo) {
                            deliver([&] { callbacks.onVideo(VideoFrame{picture, time}); });
                        }
                    } else if (callbacks.onAudio) {
                        SharedFrame samples = shareFrame(av_frame_alloc());
                        if (samples && av_frame_ref(samples.get(), frame.get()) >= 0) {
                            const int rate = std::max(1, frame->sample_rate);
                            const double start = soundClock.stamp(
                                readAt - static_cast<double>(frame->nb_samples) / rate, frame->nb_samples, rate);
                            deliver([&] { callbacks.onAudio(AudioFrame{samples, start}); });
                        }
                    }
                    av_frame_unref(frame.get());
                }
            }
            av_packet_unref(packet.get());
        }
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
};

DeviceSource::DeviceSource(Settings settings) : settings_(std::move(settings)) {}

DeviceSource::~DeviceSource() {
    stop();
}

bool DeviceSource::start(Callbacks callbacks) {
    std::lock_guard lock(mutex_);
    if (!readers_.empty()) return false;
    // The device's own mode nearest the one asked for: a driver given a size or rate it lacks refuses to open. Read
    // at each start, as the device may have been unplugged and another put in its place.
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
    std::string error;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "video_size",
                (std::to_string(settings_.width) + "x" + std::to_string(settings_.height)).c_str(), 0);
    av_dict_set(
        &options, "framerate",
        (std::to_string(settings_.framesPerSecond) + "/" + std::to_string(std::max(1, settings_.rateDenominator)))
            .c_str(),
        0);
    if (!settings_.inputFormat.empty()) av_dict_set(&options, "input_format", settings_.inputFormat.c_str(), 0);
    auto video = Reader::open("video4linux2", settings_.videoDevice, options, true, &error);
    if (!video) {
        log::error("Capture", error);
        return false;
    }
    std::vector<std::shared_ptr<Reader>> readers;
    readers.push_back(std::move(video));
    if (!settings_.audioDevice.empty()) {
        const auto colon = settings_.audioDevice.find(':');
        const std::string kind = settings_.audioDevice.substr(0, colon);
        const std::string name = colon == std::string::npos ? "default" : settings_.audioDevice.substr(colon + 1);
        if (kind != "pulse" && kind != "alsa") {
            log::error("Capture", "unknown sound input " + settings_.audioDevice);
            return false;
        }
        auto audio = Reader::open(kind.c_str(), name, nullptr, false, &error);
        if (!audio) {
            log::error("Capture", error);
            return false;
        }
        readers.push_back(std::move(audio));
    }
    for (auto& reader : readers) Reader::start(reader, callbacks);
    readers_ = std::move(readers);
    callbacks_ = callbacks;
    return true;
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
    Callbacks callbacks;
    bool running;
    SourceMode previous;
    {
        std::lock_guard lock(mutex_);
        running = !readers_.empty();
        callbacks = callbacks_;
        previous = {settings_.width, settings_.height, settings_.framesPerSecond,
                    std::max(1, settings_.rateDenominator)};
    }
    return restartIn(*chosen, previous, running, callbacks, [this](const SourceMode& mode) {
        std::lock_guard lock(mutex_);
        settings_.width = mode.width;
        settings_.height = mode.height;
        settings_.framesPerSecond = mode.rateNumerator;
        settings_.rateDenominator = mode.rateDenominator;
    });
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
    std::lock_guard lock(mutex_);
    readDevice();
    const int fd = ::open(settings_.videoDevice.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return held_;  // nothing changed that can be known
    V4L2FileControls device(fd);
    held_ = applyControls(controls_, wanted, device);
    ::close(fd);
    return held_;
}

void DeviceSource::stop() {
    std::vector<std::shared_ptr<Reader>> readers;
    {
        std::lock_guard lock(mutex_);
        readers = std::move(readers_);
        readers_.clear();
    }
    for (auto& reader : readers) {
        reader->stopping = true;
        std::lock_guard lock(reader->deliveryLock);
        reader->delivering = false;
    }
    // A reader stuck in its driver keeps the device until the driver lets go; the next start opens it anew.
    const double until = hostTime() + kStopSeconds;
    for (auto& reader : readers) {
        if (reader->waitDone(until, readersLeftBehind_)) {
            reader->thread.join();
        } else {
            log::error("Capture", "a device read did not end: left behind");
            reader->thread.detach();
        }
    }
}

}  // namespace morvane
