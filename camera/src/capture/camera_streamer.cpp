#include "camera/camera_streamer.h"

#include <fcntl.h>
#include <unistd.h>
#include <cmath>
#include <condition_variable>
#include <thread>

#include <QImage>

extern "C" {
#include <libswscale/swscale.h>
}

#include "camera/audio_peak_meter.h"
#include "camera/recording_start.h"
#include "camera/take_files.h"
#include "platform/atomic_file.h"
#include "platform/file_moves.h"
#include "platform/log.h"
#include "protocol/timeline_rate.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// Pictures waiting for the data queue beyond this are dropped, as a capture device drops late frames.
constexpr int kMaxPendingVideo = 4;

// Sound kept while no take runs, for the take whose first picture lags behind its sound: pictures that stop for longer
// are a stalled camera.
constexpr double kSoundKept = 3;

// What the notice that the camera can't record the chosen format in real time is about.
constexpr const char* kRealTimeSubject = "realTime";

constexpr double kPreviewInterval = 1.0 / 31;
constexpr double kLoupeInterval = 1.0 / 5;
constexpr double kAudioLevelInterval = 1.0 / 5;
constexpr double kHistogramInterval = 1.0 / 2;
constexpr double kScopeInterval = 1.0 / 3;

bool aidsOn(const ExposureAids& aids) {
    return aids.zebras || aids.peaking || aids.falseColor || aids.clipping;
}

}  // namespace

bool CameraStreamer::Collaborators::canWriteHEVCDefault() {
    return canWriteHEVC();
}
std::vector<VideoCodec> CameraStreamer::Collaborators::proResDefault() {
    return writableProResCodecs();
}

std::shared_ptr<CameraStreamer> CameraStreamer::make(Collaborators collaborators) {
    auto streamer = std::shared_ptr<CameraStreamer>(new CameraStreamer(std::move(collaborators)));
    const auto& c = streamer->c_;
    std::weak_ptr<CameraStreamer> weak = streamer;
    CaptureKeeper::Collaborators k;
    k.store = c.store;
    k.outbox = c.outbox;
    k.deckOutbox = c.deckOutbox;
    k.takeLog = c.takeLog;
    k.cutLog = c.cutLog;
    k.main = c.main;
    k.defaults = c.defaults;
    k.vaultFolder = c.vaultFolder;
    k.recordingFolder = c.recordingFolder;
    k.photoLibrary = c.photoLibrary;
    k.drive = c.drive;
    k.deviceName = c.deviceName;
    k.cameraIdentity = c.cameraIdentity;
    k.hasMicrophone = [weak] {
        auto self = weak.lock();
        return !self || self->hasMicrophone();
    };
    k.clockOffset = [weak] {
        auto self = weak.lock();
        return self ? self->clockOffset() : 0.0;
    };
    // Asked on the data queue, where takes start and stop.
    k.recordingNow = [weak](std::function<void(std::optional<fs::path>)> answer) {
        auto self = weak.lock();
        if (!self) return;
        self->dataQueue_.async([weak, answer = std::move(answer)] {
            auto self = weak.lock();
            if (!self) return;
            answer(self->recorder_ ? std::optional(self->recorder_->url()) : std::nullopt);
        });
    };
    k.tell = [weak](const CameraEvent& event) {
        if (auto self = weak.lock()) self->postEvent(event);
    };
    auto keeper = CaptureKeeper::make(std::move(k));
    keeper->onTakeSaved = [weak](const TakeLog::Entry& entry) {
        if (auto self = weak.lock(); self && self->onTakeSaved) self->onTakeSaved(entry);
    };
    keeper->onTakeFinished = [weak](const Take& take) {
        if (auto self = weak.lock(); self && self->onTakeFinished) self->onTakeFinished(take);
    };
    keeper->onDeckCopiesCut = [weak](const std::vector<TakeLog::Entry>& entries) {
        if (auto self = weak.lock(); self && self->onDeckCopiesCut) self->onDeckCopiesCut(entries);
    };
    streamer->keeper_ = std::move(keeper);
    return streamer;
}

CameraStreamer::CameraStreamer(Collaborators collaborators) : c_(std::move(collaborators)) {}

CameraStreamer::~CameraStreamer() {
    stop();
    dataQueue_.sync([this] {
        if (recorder_) recorder_->finish();
        recorder_.reset();
    });
}

bool CameraStreamer::start(std::unique_ptr<CaptureSource> source) {
    stop();
    if (!source) return false;
    bool started = false;
    sessionQueue_.sync([&] {
        auto live = std::make_shared<std::atomic<bool>>(true);
        setSource(std::move(source), sourceCallbacks(live), live);
        // A device that does not open in time (slow on a busy machine, or stuck) is left behind for its replacement,
        // which the watchdog starts once the device lets go; only a source that refuses to start fails the start.
        const auto opened =
            callSource(SourceCall::opening, [callbacks = callbacks_](CaptureSource& s) { return s.start(callbacks); });
        started = opened.value_or(source_ != nullptr);
        if (!started) {
            if (sourceLive_) sourceLive_->store(false);
            setSource(nullptr, {}, nullptr);
            return;
        }
        lastFrameAt_ = hostTime();
        wantsRunning_ = true;
    });
    if (!started) return false;
    const int generation = ++watchGeneration_;
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    sessionQueue_.asyncAfter(c_.watchdogInterval, [weak, generation] {
        if (auto self = weak.lock()) self->watch(generation);
    });
    return true;
}

void CameraStreamer::stop() {
    ++watchGeneration_;
    wantsRunning_ = false;
    stopping_ = true;  // a source that keeps the session queue waiting is left behind at once
    sessionQueue_.sync([this] { stopSource(); });
    stopping_ = false;
    // What the source handed over is done: a take stopped waits for no more of its pictures.
    dataQueue_.sync([this] {
        if (auto stopped = stoppedTake_.lock()) stopped->noMorePictures();
    });
}

CaptureSource::Callbacks CameraStreamer::sourceCallbacks(const std::shared_ptr<std::atomic<bool>>& live) {
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    CaptureSource::Callbacks callbacks;
    callbacks.onVideo = [weak, live](const VideoFrame& frame) {
        if (auto self = weak.lock(); self && *live) self->offerVideo(frame);
    };
    callbacks.onAudio = [weak, live](const AudioFrame& audio) {
        if (auto self = weak.lock(); self && *live) self->offerAudio(audio);
    };
    callbacks.onMicrophone = [weak, live](const std::optional<std::string>& silent) {
        if (auto self = weak.lock(); self && *live) self->postEvent(microphoneEvent(silent));
    };
    callbacks.onFailure = [weak, live](const std::string& reason) {
        if (!*live) return;
        log::error("CameraStreamer", "the capture source stopped: " + reason);
        if (auto self = weak.lock()) self->tellStopped();
    };
    return callbacks;
}

CameraEvent CameraStreamer::microphoneEvent(const std::optional<std::string>& silent) {
    CameraEvent told{CameraEvent::Kind::info, "The microphone gives sound again", {}};
    if (silent)
        told = CameraEvent{CameraEvent::Kind::failed,
                           "The microphone “" + *silent + "” gives no sound: the camera films without it",
                           {}};
    told.subject = "microphone";
    if (!silent) told.over = true;
    return told;
}

void CameraStreamer::tellStopped() {
    if (!toldStopped_.exchange(true)) postEvent(CameraEvent{CameraEvent::Kind::failed, "The camera stopped", {}});
}

void CameraStreamer::setSource(std::shared_ptr<CaptureSource> source, CaptureSource::Callbacks callbacks,
                               std::shared_ptr<std::atomic<bool>> live) {
    {
        std::lock_guard lock(sourceLock_);
        source_ = std::move(source);
        callbacks_ = std::move(callbacks);
        sourceLive_ = std::move(live);
    }
    // Settings asked of the old source are not run on the new one: the owner applies its settings anew.
    settingSpare_.reset();
    for (int id : settings_.clear()) {
        auto node = pendingSettings_.extract(id);
        if (!node.empty() && node.mapped().unanswered) node.mapped().unanswered();
    }
}

bool CameraStreamer::hasMicrophone() const {
    std::lock_guard lock(sourceLock_);
    return !source_ || source_->hasMicrophone();
}

int CameraStreamer::captureAngle() const {
    std::lock_guard lock(sourceLock_);
    return source_ ? source_->captureAngle() : 0;
}

std::optional<bool> CameraStreamer::callSource(SourceCall kind, std::function<bool(CaptureSource&)> call,
                                               std::function<void()> returnedLate) {
    struct Waiting {
        std::mutex lock;
        std::condition_variable changed;
        bool done = false;
        bool result = false;
        bool leftBehind = false;
    };
    auto waiting = std::make_shared<Waiting>();
    // Asked for while the source still answers: a source stuck in a call may be stuck for anything else as well
    // (the one asked for before the setting under way, then, left behind or not yet: its driver holds the device
    // until the setting answers). A setting that does not answer leaves only itself behind, and needs none.
    std::unique_ptr<CaptureSource> spare;
    const bool settingUnderWay = settings_.stuck() || settings_.deadline().has_value();
    if (kind != SourceCall::setting) spare = settingUnderWay ? std::move(settingSpare_) : source_->replacement();
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    // The call runs on a thread of its own, which the source keeps should the call never return.
    std::thread([weak, source = source_, waiting, kind, call = std::move(call),
                 returnedLate = std::move(returnedLate)]() mutable {
        const bool result = call(*source);
        bool leftBehind;
        {
            std::lock_guard lock(waiting->lock);
            waiting->done = true;
            waiting->result = result;
            leftBehind = waiting->leftBehind;
            waiting->changed.notify_all();
        }
        if (!leftBehind) return;
        if (auto self = weak.lock()) {
            --self->leftBehind_;
            if (kind == SourceCall::opening) --self->stuckOpens_;
        }
        if (kind == SourceCall::setting) {
            // The source is still in use: the settings waiting behind this one may go now.
            if (returnedLate) returnedLate();
            return;
        }
        // Answered after all, with nobody left to stop it.
        if (kind != SourceCall::stopping) source->stop();
    }).detach();

    const double until = c_.limits.deadline(kind, hostTime());
    std::unique_lock lock(waiting->lock);
    // Waited for in short steps: the streamer asked to stop waits for no opening or setting.
    while (!waiting->done && hostTime() < until && (kind == SourceCall::stopping || !stopping_)) {
        waiting->changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return waiting->done; });
    }
    if (waiting->done) return waiting->result;
    waiting->leftBehind = true;
    ++leftBehind_;
    if (kind == SourceCall::opening) ++stuckOpens_;
    lock.unlock();
    if (kind == SourceCall::setting) {
        log::error("CameraStreamer", "a setting of the capture source did not answer: left behind");
        return std::nullopt;
    }
    log::error("CameraStreamer", "the capture source did not answer: left behind");
    sourceLive_->store(false);
    if (spare) {
        spare->setCaptureAngle(source_->captureAngle());
        auto live = std::make_shared<std::atomic<bool>>(true);
        auto callbacks = sourceCallbacks(live);
        // Kept even though it cannot start yet: the watchdog starts it.
        setSource(std::move(spare), callbacks, live);
    } else {
        setSource(nullptr, {}, nullptr);
    }
    return std::nullopt;
}

bool CameraStreamer::startSource() {
    if (!source_) return false;
    return callSource(SourceCall::opening, [callbacks = callbacks_](CaptureSource& s) { return s.start(callbacks); })
        .value_or(false);
}

bool CameraStreamer::stopSource() {
    if (!source_) return true;
    return callSource(SourceCall::stopping,
                      [](CaptureSource& s) {
                          s.stop();
                          return true;
                      })
        .has_value();
}

bool CameraStreamer::mayRestart() const {
    // Each call left behind holds a thread stuck in its device, and so does each reader a stop left behind: past a
    // few, a restart would only leave more.
    const int stuck = leftBehind_.load() + (source_ ? source_->threadsLeftBehind() : 0);
    if (c_.limits.mayRestart(stuck)) return true;
    if (!toldStopped_) log::error("CameraStreamer", std::to_string(stuck) + " threads stuck in the device: no restart");
    return false;
}

bool CameraStreamer::restartSource() {
    if (!mayRestart()) return false;
    stopSource();  // a source stuck in its stop is left behind for its replacement
    return startSource();
}

void CameraStreamer::configureSource(const std::string& kind, std::function<void(CaptureSource&)> work,
                                     std::function<void()> unanswered) {
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    sessionQueue_.async([weak, kind, work = std::move(work), unanswered = std::move(unanswered)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        if (!self->source_) {
            if (unanswered) unanswered();
            return;
        }
        const int id = ++self->lastSettingID_;
        self->pendingSettings_[id] = PendingSetting{std::move(work), std::move(unanswered)};
        const auto offer = self->settings_.offer(id, kind, hostTime());
        if (offer.replaced) {
            auto node = self->pendingSettings_.extract(*offer.replaced);
            if (!node.empty() && node.mapped().unanswered) node.mapped().unanswered();
        }
        if (offer.runNow) self->runSetting(id);
    });
}

void CameraStreamer::runSetting(int id) {
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    for (std::optional<int> next = id; next;) {
        const int current = *next;
        auto node = pendingSettings_.extract(current);
        if (node.empty()) return;
        PendingSetting setting = std::move(node.mapped());
        // The queue is emptied whenever the source changes: a setting under way has its source, which answers
        // now, none being under way before it.
        settingSpare_ = source_->replacement();
        const auto answered = callSource(
            SourceCall::setting,
            [work = setting.work](CaptureSource& source) {
                work(source);
                return true;
            },
            [weak, current] {
                if (auto self = weak.lock()) {
                    self->sessionQueue_.async([weak, current] {
                        if (auto self = weak.lock()) self->settingReturned(current);
                    });
                }
            });
        if (!answered) {
            // Only this call is left behind: the source goes on delivering, and the settings behind it wait for it.
            if (settings_.overdue(hostTime()).tell) {
                postEvent(CameraEvent{CameraEvent::Kind::failed, settingsNotTakenMessage, {}});
            }
            if (setting.unanswered) setting.unanswered();
            return;
        }
        // A mode change restarts the source: its first pictures are not a stall.
        lastFrameAt_ = std::max(lastFrameAt_.load(), hostTime());
        next = settings_.answered(current, hostTime());
    }
}

void CameraStreamer::settingReturned(int id) {
    if (auto next = settings_.answered(id, hostTime())) runSetting(*next);
}

void CameraStreamer::watch(int generation) {
    if (generation != watchGeneration_.load() || !wantsRunning_ || !source_) return;
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    // While an opening of the device is stuck in its driver, another would only get stuck as well.
    if (stuckOpens_.load() == 0 && hostTime() - lastFrameAt_.load() > c_.stallSeconds) {
        // Pictures stopped while the camera should run (device gone, driver stuck): start the capture again.
        log::error("CameraStreamer",
                   "no pictures for " + std::to_string(c_.stallSeconds) + " s: restarting the capture");
        if (restartPictures()) {
            ++restarts_;
            toldStopped_ = false;
            c_.main->async([weak] {
                if (auto self = weak.lock(); self && self->onSourceRestarted) self->onSourceRestarted();
            });
        } else {
            tellStopped();
        }
        lastFrameAt_ = hostTime();
    }
    sessionQueue_.asyncAfter(c_.watchdogInterval, [weak, generation] {
        if (auto self = weak.lock()) self->watch(generation);
    });
}

bool CameraStreamer::restartPictures() {
    // The pictures alone where the source can: its sound goes on through a stall, a reopening or an unplugged camera.
    if (!source_ || !source_->restartsPicturesAlone()) return restartSource();
    if (!mayRestart()) return false;
    return callSource(SourceCall::opening,
                      [callbacks = callbacks_](CaptureSource& s) { return s.restartPictures(callbacks); })
        .value_or(false);
}

void CameraStreamer::offerVideo(const VideoFrame& frame) {
    if (pendingVideo_.load() >= kMaxPendingVideo) return;
    ++pendingVideo_;
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    dataQueue_.async([weak, frame] {
        if (auto self = weak.lock()) {
            --self->pendingVideo_;
            self->handleVideo(frame);
        }
    });
}

void CameraStreamer::offerAudio(const AudioFrame& audio) {
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    dataQueue_.async([weak, audio] {
        if (auto self = weak.lock()) self->handleAudio(audio);
    });
}

void CameraStreamer::setClockOffset(double seconds) {
    if (!std::isfinite(seconds)) return;
    std::lock_guard lock(clockLock_);
    clockOffset_ = seconds;
}

double CameraStreamer::clockOffset() const {
    std::lock_guard lock(clockLock_);
    return clockOffset_;
}

void CameraStreamer::setRecordingRate(int frameRate, bool ntsc) {
    std::lock_guard lock(rateLock_);
    recordingFrameRate_ = std::max(1, frameRate);
    recordingNTSC_ = ntsc;
}

std::pair<int, bool> CameraStreamer::recordingRate() const {
    std::lock_guard lock(rateLock_);
    return {recordingFrameRate_, recordingNTSC_};
}

std::uint8_t CameraStreamer::rotationByte(double angle) {
    if (!std::isfinite(angle)) return 0;
    const double whole = std::round(angle);  // halves away from zero
    const auto quarters = static_cast<long long>(whole / 90.0);
    return static_cast<std::uint8_t>(((quarters % 4) + 4) % 4);
}

void CameraStreamer::postEvent(const CameraEvent& event) {
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    c_.main->async([weak, event] {
        if (auto self = weak.lock(); self && self->onEvent) self->onEvent(event);
    });
}

StreamLUT& CameraStreamer::passthrough() {
    if (!passthrough_) passthrough_ = std::make_unique<StreamLUT>(1920);
    return *passthrough_;
}

bool CameraStreamer::due(std::optional<double>& stamp, double time, double interval) const {
    // Times are seconds in doubles: a microsecond of rounding must not hold back a frame that is exactly due.
    return !stamp || std::isnan(time) || !(time - *stamp < interval - 1e-6);
}

// MARK: - Data path

void CameraStreamer::handleAudio(const AudioFrame& audio) {
    if (recorder_ && recorder_->sessionStarted()) {
        if (recorder_->hasAudio()) recorder_->appendAudio(audio);
    } else if (audio.samples && std::isfinite(audio.time)) {
        // The next take may begin with a picture captured before this sound, its picture lagging behind.
        soundBeforeTake_.push_back(audio);
        while (!(soundBeforeTake_.front().time >= audio.time - kSoundKept)) soundBeforeTake_.pop_front();
    }
    // A stopped take still takes the sound captured before its stop, which may be read after it.
    if (auto stopped = stoppedTake_.lock()) stopped->appendAudio(audio);
    if (audioSampleHandler) audioSampleHandler(audio);
    if (!onAudioLevel || !histogramEnabled || !audio.samples) return;
    if (!due(lastAudioLevelTime_, audio.time, kAudioLevelInterval)) return;
    auto level = audioPeakLevel(*audio.samples);
    if (!level) return;
    lastAudioLevelTime_ = audio.time;
    onAudioLevel(*level);
}

void CameraStreamer::handleVideo(const VideoFrame& frame) {
    if (recordingRequested) {
        recordingRequested = false;
        // A second request while a take runs leaves the running take alone.
        if (!recorder_) {
            recorder_ = beginRecording(frame);
            if (!recorder_) {
                postEvent(CameraEvent{CameraEvent::Kind::failed, "Couldn't start recording", {}});
                std::weak_ptr<CameraStreamer> weak = weak_from_this();
                c_.main->async([weak] {
                    if (auto self = weak.lock(); self && self->onRecordingFailed) self->onRecordingFailed();
                });
            }
        }
    }
    if (recorder_) {
        const bool first = !recorder_->sessionStarted();
        recorder_->append(frame);
        if (first && recorder_->sessionStarted()) {
            // The sound of the first picture and after it, read before it.
            if (recorder_->hasAudio()) {
                for (const AudioFrame& sound : soundBeforeTake_) {
                    const double end = sound.time + double(sound.samples->nb_samples) / sound.samples->sample_rate;
                    if (end > frame.time) recorder_->appendAudio(sound);
                }
            }
            soundBeforeTake_.clear();
        }
        if (auto reason = recorder_->failureReason()) endFailedTake(*reason);
    }
    // A stopped take still takes the pictures captured before its stop, which lag behind its sound.
    if (auto stopped = stoppedTake_.lock()) stopped->append(frame);
    if (!frame.picture) return;
    lastFrameAt_ = hostTime();

    const double pts = frame.time;
    const std::uint8_t rotation = rotationByte(captureAngle());
    const bool stream = c_.encoder->recipients().has_value() && c_.encoder->shouldEncode(pts);

    if (photoRequested) {
        photoRequested = false;
        std::weak_ptr<CameraStreamer> weak = weak_from_this();
        SharedFrame picture = frame.picture;
        photoQueue_.async([weak, picture] {
            auto self = weak.lock();
            if (!self) return;
            auto jpeg = jpegOfPicture(*picture, 100000, 0.92);
            if (!jpeg) {
                self->postEvent(CameraEvent{CameraEvent::Kind::failed, "Photo failed", {}});
                return;
            }
            self->savePhoto(*jpeg, "jpg");
        });
    }

    if (histogramEnabled) {
        if (onHistogram && due(lastHistogramTime_, pts, kHistogramInterval)) {
            lastHistogramTime_ = pts;
            if (!histogramMaker_) histogramMaker_ = std::make_unique<HistogramMaker>();
            if (auto bins = histogramMaker_->histogram(frame)) onHistogram(*bins);
        }
        if (aids.scope != ScopeKind::off && onScope && due(lastScopeTime_, pts, kScopeInterval)) {
            lastScopeTime_ = pts;
            StreamLUT& stage = previewLUT ? *previewLUT : passthrough();
            if (auto scope = stage.scopePicture(frame, aids.scope, rotation)) onScope(*scope);
        }
    }
    if (loupeContours && onLoupe && due(lastLoupeTime_, pts, kLoupeInterval)) {
        lastLoupeTime_ = pts;
        StreamLUT& stage = previewLUT ? *previewLUT : passthrough();
        if (auto loupe = stage.loupePicture(frame, *loupeContours, rotation, loupeCenter)) onLoupe(*loupe);
    }

    const bool aidsAreOn = aidsOn(aids);
    if (!previewLUT && !frame.isTenBit() && !aidsAreOn && !stabilizedPreview) {
        if (stream) c_.encoder->encode(frame, rotation);
        return;
    }
    StreamLUT& stage = previewLUT ? *previewLUT : passthrough();
    auto encodeWithAids = [&] {
        if (auto picture = stage.apply(frame, aids)) c_.encoder->encode(VideoFrame{picture, pts}, rotation);
    };
    if ((previewLUT || stabilizedPreview) && onPreviewFrame && due(lastPreviewTime_, pts, kPreviewInterval)) {
        if (auto clean = stage.apply(frame, ExposureAids{})) {
            lastPreviewTime_ = pts;
            onPreviewFrame(clean);
            if (stream) {
                if (!aidsAreOn) {
                    c_.encoder->encode(VideoFrame{clean, pts}, rotation);
                } else {
                    encodeWithAids();
                }
            }
        } else if (stream) {
            encodeWithAids();
        }
        return;
    }
    if (stream) encodeWithAids();
}

std::unique_ptr<MovieRecorder> CameraStreamer::beginRecording(const VideoFrame& frame) {
    if (!frame.picture) return nullptr;
    const bool tenBit = frame.isTenBit();
    const auto [rate, ntsc] = recordingRate();
    const bool hevc = c_.hevcWritable ? c_.hevcWritable() : false;
    std::vector<VideoCodec> proRes;
    if (proResProfile(codec) && c_.proResWritable) proRes = c_.proResWritable();
    const auto decision = decideRecording(frame.width(), frame.height(), tenBit, codec, rate, hevc, proRes);
    for (const auto& line : decision.logLines) log::info("MovieRecorder", line);
    if (decision.infoMessage) postEvent(CameraEvent{CameraEvent::Kind::info, *decision.infoMessage, {}});
    if (!decision.video) return nullptr;

    MovieRecorder::Options options;
    options.video = *decision.video;
    options.frameRate = rate;
    options.ntsc = ntsc;
    if (hasMicrophone()) options.audio = MovieAudioSettings{};
    const double offset = clockOffset();
    if (recordToDrive) {
        options.destination = c_.drive ? c_.drive->nextRecordingURL() : std::nullopt;
        if (!options.destination) {
            postEvent(
                CameraEvent{CameraEvent::Kind::info, "The drive isn't available: recording on this computer", {}});
        }
    }
    const bool onDrive = options.destination.has_value();
    if (!onDrive) {
        if (c_.recordingFolder.empty()) {
            log::error("CameraStreamer", "no folder to record in");
            return nullptr;
        }
        std::error_code ec;
        fs::create_directories(c_.recordingFolder, ec);
        options.destination = c_.recordingFolder / (Uuid().uuidString() + ".mov");
    }
    options.onDrive = onDrive;
    options.camera = c_.cameraIdentity ? c_.cameraIdentity() : std::string();
    options.cameraName = c_.deviceName ? c_.deviceName() : std::string();
    options.clockOffset = offset;
    options.rotationDegrees = captureAngle();
    const double fps = TimelineRate::fps(rate, ntsc);
    options.startFrame = [offset, fps](double t) { return timeOfDayFrame(t, offset, fps); };
    options.onFallingBehind = [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->tellRealTime(false);
    };
    options.onCaughtUp = [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->tellRealTime(true);
    };
    auto recorder = MovieRecorder::make(options);
    if (!recorder) {
        std::error_code ec;
        if (options.destination) fs::remove(*options.destination, ec);  // the claimed, still empty, file
        return nullptr;
    }
    takeOnDrive_ = onDrive;
    takeFirstPicture_ = frame.picture;
    takeClockOffset_ = offset;
    return recorder;
}

void CameraStreamer::stopRecording() {
    if (!recorder_) return;
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    recorder_->stop();
    // A take that keeps up at its end shows the format recorded in real time.
    if (!recorder_->fallingBehind()) tellRealTime(true);
    auto recorder = std::shared_ptr<MovieRecorder>(recorder_.release());
    stoppedTake_ = recorder;
    const auto [rate, ntsc] = recordingRate();
    std::weak_ptr<CaptureKeeper> keeper = keeper_;
    keeper_->queue().async([weak, keeper, recorder, picture = std::move(takeFirstPicture_), offset = takeClockOffset_,
                            onDrive = takeOnDrive_, fps = TimelineRate::fps(rate, ntsc)]() mutable {
        auto self = weak.lock();
        auto keeping = keeper.lock();
        if (!self || !keeping) {
            recorder->finish();  // kept in the recording folder: the next start stores it
            return;
        }
        keeping->storeTake(recorder, picture, offset, onDrive);
        if (auto told = repeatedPicturesMessage(recorder->repeatedPictures(), recorder->droppedFrames(), fps))
            self->postEvent(CameraEvent{CameraEvent::Kind::info, *told, {}});
    });
}

std::optional<std::string> repeatedPicturesMessage(std::size_t repeated, std::size_t dropped, double frameRate) {
    // A few repeats come of an uneven capture; pictures dropped, or a second of none, the crew should know of.
    if (repeated == 0 || (dropped == 0 && static_cast<double>(repeated) < frameRate)) return std::nullopt;
    const std::string count = repeated == 1 ? "1 picture" : std::to_string(repeated) + " pictures";
    return "The take repeats the picture before in " + count +
           (dropped > 0 ? ": the camera couldn't record them in time" : ": the camera gave none for them");
}

void CameraStreamer::tellRealTime(bool keepsUp) {
    if (keepsUp != toldBehind_) return;
    toldBehind_ = !keepsUp;
    CameraEvent event{CameraEvent::Kind::failed,
                      "This camera can't record the chosen format in real time: pictures are repeated in the take",
                      {}};
    if (keepsUp) event = CameraEvent{CameraEvent::Kind::info, "This camera records in real time again", {}};
    event.subject = kRealTimeSubject;
    if (keepsUp) event.over = true;
    postEvent(event);
}

void CameraStreamer::endFailedTake(const std::string& reason) {
    log::error("CameraStreamer", "the take ends: " + reason);
    stopRecording();
    postEvent(
        CameraEvent{CameraEvent::Kind::failed, "Recording stopped: " + reason + ". What was recorded is kept", {}});
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    c_.main->async([weak] {
        if (auto self = weak.lock(); self && self->onRecordingFailed) self->onRecordingFailed();
    });
}

void CameraStreamer::recoverTakes() {
    keeper_->settle(LeftoverPlan::Occasion::start);
}

void CameraStreamer::recoverDriveTakes() {
    keeper_->settle(LeftoverPlan::Occasion::drives);
}

void CameraStreamer::roomMade() {
    keeper_->roomMade();
}

void CameraStreamer::savePhoto(const Bytes& data, const std::string& extension) {
    keeper_->savePhoto(data, extension);
}

void CameraStreamer::waitForTakes() {
    // What was left by an earlier run is settled after a turn of the data queue; a settling asked for from the
    // keeper's queue (room made) starts a turn later.
    for (int turn = 0; turn < 2; ++turn) {
        keeper_->queue().sync([] {});
        dataQueue_.sync([] {});
        keeper_->queue().sync([] {});
    }
}

}  // namespace morvane
