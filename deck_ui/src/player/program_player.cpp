#include "deck_ui/player/program_player.h"

#include <QMetaObject>
#include <QPointer>

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>

extern "C" {
#include <libswscale/swscale.h>
}

#include "platform/ffmpeg_handles.h"

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t soundFeedFrames = ProgramRenderer::sampleRate / 2;  // half a second ahead at most
constexpr int soundChunkFrames = 2048;
constexpr auto soundPoll = std::chrono::milliseconds(10);
constexpr double edgeEpsilon = 1e-6;

void nameThread(const char* name) {
    // A thread's name holds 15 characters.
    const std::string shortName = std::string(name).substr(0, 15);
    pthread_setname_np(pthread_self(), shortName.c_str());
}

double frameStepOf(const ProgramRenderer::Plan& plan) {
    const MediaTime fd = plan.videoComposition.frameDuration;
    return fd.isValid() && fd.value > 0 ? fd.seconds() : 1.0 / 30;
}

QSize fitted(int width, int height, QSize limit) {
    if (width <= 0 || height <= 0) return {};
    if (limit.width() <= 0 || limit.height() <= 0 || (width <= limit.width() && height <= limit.height()))
        return {width, height};
    const double s = std::min(double(limit.width()) / width, double(limit.height()) / height);
    return {std::max(2, int(width * s) & ~1), std::max(2, int(height * s) & ~1)};
}

}  // namespace

// Everything the main thread and the two workers share, under one lock.
struct ProgramPlayer::Shared {
    std::mutex lock;
    std::condition_variable wake;
    bool quit = false;

    // Item: a new plan waits here for each worker.
    std::uint64_t planGeneration = 0;
    std::optional<ProgramRenderer::Plan> plan;
    double duration = 0;
    double frameStep = 1.0 / 30;
    bool hasItem = false;
    bool hasSound = false;

    // Position and play state. `commands` counts every change so that a worker drops work begun before it.
    std::uint64_t commands = 0;
    std::optional<double> pendingSeek;
    std::uint64_t seekID = 0;
    bool playing = false;
    double position = 0;       // while paused
    double anchorProgram = 0;  // while playing: program time at `anchorWall` + latency
    Clock::time_point anchorWall;
    double latency = 0;

    // Sound.
    std::uint64_t soundGeneration = 0;
    bool soundWanted = false;
    double soundStart = 0;
    SoundFeed feed{soundFeedFrames};

    // Picture.
    QImage picture;
    QSize limit{1280, 720};
    std::int64_t framesShown = 0;

    double clockLocked(Clock::time_point now) const {
        if (!playing) return position;
        const double elapsed = std::chrono::duration<double>(now - anchorWall).count() - latency;
        return std::min(duration, anchorProgram + std::max(0.0, elapsed));
    }
    Clock::time_point wallFor(double programTime) const {
        const double offset = programTime - anchorProgram + latency;
        return anchorWall + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(offset));
    }
};

namespace {

// Turns a rendered 4:2:0 frame into a picture no larger than the limit.
class PictureMaker {
public:
    QImage fromFrame(const AVFrame* frame, QSize limit) {
        if (!frame || frame->width <= 0 || frame->height <= 0) return {};
        const QSize size = fitted(frame->width, frame->height, limit);
        QImage image(size, QImage::Format_RGB32);
        if (image.isNull()) return {};
        sws_.reset(sws_getCachedContext(sws_.release(), frame->width, frame->height, AVPixelFormat(frame->format),
                                        size.width(), size.height(), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                        nullptr));
        if (!sws_) return {};
        std::uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
        int stride[4] = {int(image.bytesPerLine()), 0, 0, 0};
        sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height, dst, stride);
        return image;
    }

    static QImage fromPicture(const ProgramRenderer::Picture& picture, QSize limit) {
        if (picture.width <= 0 || picture.height <= 0) return {};
        QImage image(picture.rgba.data(), picture.width, picture.height, picture.width * 4, QImage::Format_RGBA8888);
        const QSize size = fitted(picture.width, picture.height, limit);
        if (size == image.size()) return image.convertToFormat(QImage::Format_RGB32);
        return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB32);
    }

private:
    ff::Sws sws_;
};

}  // namespace

ProgramPlayer::ProgramPlayer(std::unique_ptr<SoundOutput> sound, QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()), sound_(std::move(sound)) {
    if (!sound_) sound_ = std::make_unique<QtSoundOutput>();
    QPointer<ProgramPlayer> self(this);
    auto post = [self](std::function<void(ProgramPlayer&)> work) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, work = std::move(work)] {
                if (self) work(*self);
            },
            Qt::QueuedConnection);
    };

    picture_ = std::thread([shared = shared_, post] {
        nameThread("morvane.program-picture");
        std::unique_ptr<ProgramRenderer> renderer;
        PictureMaker maker;
        std::uint64_t planSeen = 0;
        std::uint64_t commandsSeen = ~std::uint64_t(0);
        std::int64_t nextIndex = 0;
        std::unique_lock<std::mutex> hold(shared->lock);
        for (;;) {
            shared->wake.wait(hold, [&] {
                return shared->quit || shared->planGeneration != planSeen || shared->pendingSeek ||
                       (shared->playing && renderer);
            });
            if (shared->quit) return;

            if (shared->planGeneration != planSeen) {
                planSeen = shared->planGeneration;
                std::optional<ProgramRenderer::Plan> plan = shared->plan;
                hold.unlock();
                renderer.reset();
                if (plan) renderer = std::make_unique<ProgramRenderer>(std::move(*plan));
                hold.lock();
                if (shared->planGeneration == planSeen && !renderer) {
                    shared->picture = QImage();
                    post([](ProgramPlayer& p) { emit p.pictureChanged(); });
                }
                continue;
            }

            if (shared->pendingSeek) {
                const double t = *shared->pendingSeek;
                const std::uint64_t id = shared->seekID;
                const QSize limit = shared->limit;
                shared->pendingSeek.reset();
                hold.unlock();
                QImage image;
                if (renderer) image = PictureMaker::fromPicture(renderer->pictureAt(t), limit);
                hold.lock();
                if (shared->planGeneration == planSeen && id == shared->seekID) {
                    if (renderer) shared->picture = std::move(image);
                    post([id](ProgramPlayer& p) {
                        emit p.pictureChanged();
                        p.seekFinished(id);
                    });
                }
                continue;
            }

            // Playing: make the next frame, then show it when the clock reaches it.
            const std::uint64_t stamp = shared->commands;
            const double step = shared->frameStep;
            if (stamp != commandsSeen) {
                commandsSeen = stamp;
                nextIndex = std::max<std::int64_t>(
                    0, std::int64_t(std::ceil(shared->clockLocked(Clock::now()) / step - edgeEpsilon)));
            }
            const double frameTime = double(nextIndex) * step;
            if (frameTime >= shared->duration - edgeEpsilon) {
                // Past the last frame: stop when the clock reaches the end.
                shared->wake.wait_until(hold, shared->wallFor(shared->duration),
                                        [&] { return shared->quit || shared->commands != stamp; });
                if (shared->quit || shared->commands != stamp) continue;
                shared->playing = false;
                shared->position = shared->duration;
                ++shared->commands;
                post([](ProgramPlayer& p) { p.reachedEnd(); });
                continue;
            }
            const QSize limit = shared->limit;
            hold.unlock();
            ff::Frame frame = renderer->renderFrame(nextIndex);
            QImage image = maker.fromFrame(frame.get(), limit);
            hold.lock();
            if (shared->commands != stamp || shared->planGeneration != planSeen) continue;
            shared->wake.wait_until(hold, shared->wallFor(frameTime),
                                    [&] { return shared->quit || shared->commands != stamp; });
            if (shared->quit || shared->commands != stamp) continue;
            shared->picture = std::move(image);
            ++shared->framesShown;
            post([](ProgramPlayer& p) { emit p.pictureChanged(); });
            // A late frame lets the ones whose time has passed go.
            const double now = shared->clockLocked(Clock::now());
            nextIndex = std::max(nextIndex + 1, std::int64_t(std::floor(now / step + edgeEpsilon)) + 1);
        }
    });

    soundThread_ = std::thread([shared = shared_] {
        nameThread("morvane.program-sound");
        std::unique_ptr<ProgramRenderer> renderer;
        std::uint64_t planSeen = 0;
        std::uint64_t generationSeen = ~std::uint64_t(0);
        std::int64_t cursor = 0;
        std::int64_t end = 0;
        std::vector<float> chunk(std::size_t(soundChunkFrames) * SoundFeed::channels);
        std::unique_lock<std::mutex> hold(shared->lock);
        for (;;) {
            if (shared->quit) return;
            if (shared->planGeneration != planSeen) {
                planSeen = shared->planGeneration;
                std::optional<ProgramRenderer::Plan> plan = shared->plan;
                hold.unlock();
                renderer.reset();
                if (plan) renderer = std::make_unique<ProgramRenderer>(std::move(*plan));
                hold.lock();
                end = renderer ? std::llround(renderer->duration() * ProgramRenderer::sampleRate) : 0;
                generationSeen = ~std::uint64_t(0);
                continue;
            }
            if (!shared->soundWanted || !renderer) {
                shared->wake.wait(hold);
                continue;
            }
            if (shared->soundGeneration != generationSeen) {
                generationSeen = shared->soundGeneration;
                cursor = std::llround(shared->soundStart * ProgramRenderer::sampleRate);
            }
            const std::size_t room = shared->feed.room();
            if (cursor >= end || room < std::size_t(soundChunkFrames) / 2) {
                shared->wake.wait_for(hold, soundPoll);
                continue;
            }
            const int n = int(std::min<std::int64_t>({std::int64_t(room), soundChunkFrames, end - cursor}));
            const std::uint64_t generation = generationSeen;
            hold.unlock();
            renderer->mixSound(cursor, n, chunk.data());
            hold.lock();
            if (shared->soundGeneration != generation || shared->planGeneration != planSeen) continue;
            shared->feed.write(chunk.data(), std::size_t(n));
            cursor += n;
        }
    });
}

ProgramPlayer::~ProgramPlayer() {
    stopSound();
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->quit = true;
    }
    shared_->wake.notify_all();
    picture_.join();
    soundThread_.join();
    for (auto& [id, completion] : seekCompletions_) {
        if (completion) completion(false);
    }
}

void ProgramPlayer::replaceCurrentItem(std::optional<ProgramRenderer::Plan> plan) {
    stopSound();
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        ++shared_->planGeneration;
        ++shared_->commands;
        shared_->hasItem = plan.has_value();
        shared_->duration = 0;
        shared_->hasSound = false;
        if (plan) {
            shared_->frameStep = frameStepOf(*plan);
            // Measured as the renderer measures it (the end of the picture track); making one opens no file.
            const ProgramRenderer measure(*plan);
            shared_->duration = measure.duration();
            shared_->hasSound = measure.hasSound();
        }
        shared_->plan = std::move(plan);
        shared_->playing = false;
        shared_->soundWanted = false;
        shared_->pendingSeek.reset();
        shared_->position = 0;
    }
    shared_->wake.notify_all();
    // Seeks of the old item never finish.
    auto pending = std::move(seekCompletions_);
    seekCompletions_.clear();
    for (auto& [id, completion] : pending) {
        if (completion) completion(false);
    }
    emit rateChanged();
}

void ProgramPlayer::seek(double programSeconds, std::function<void(bool)> completion) {
    std::uint64_t id = 0;
    bool playing = false;
    double t = 0;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        t = std::isfinite(programSeconds) ? std::clamp(programSeconds, 0.0, shared_->duration) : 0.0;
        id = ++shared_->seekID;
        shared_->pendingSeek = t;
        ++shared_->commands;
        shared_->position = t;
        playing = shared_->playing;
        if (playing) {
            shared_->anchorProgram = t;
            shared_->anchorWall = Clock::now();
        }
    }
    shared_->wake.notify_all();
    auto superseded = std::move(seekCompletions_);
    seekCompletions_.clear();
    seekCompletions_[id] = std::move(completion);
    for (auto& [oldID, old] : superseded) {
        if (old) old(false);
    }
    if (playing) startSound(t);
}

void ProgramPlayer::seekFinished(std::uint64_t id) {
    auto it = seekCompletions_.find(id);
    if (it == seekCompletions_.end()) return;
    auto completion = std::move(it->second);
    seekCompletions_.erase(it);
    if (completion) completion(true);
}

void ProgramPlayer::play() {
    double at = 0;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        if (shared_->playing || !shared_->hasItem || shared_->position >= shared_->duration - edgeEpsilon) return;
        at = shared_->position;
    }
    startSound(at);
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->playing = true;
        shared_->anchorProgram = at;
        shared_->anchorWall = Clock::now();
        ++shared_->commands;
    }
    shared_->wake.notify_all();
    emit rateChanged();
}

void ProgramPlayer::pause() {
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        if (!shared_->playing) return;
        shared_->position = shared_->clockLocked(Clock::now());
        shared_->playing = false;
        ++shared_->commands;
    }
    stopSound();
    shared_->wake.notify_all();
    emit rateChanged();
}

void ProgramPlayer::reachedEnd() {
    stopSound();
    emit rateChanged();
}

void ProgramPlayer::startSound(double at) {
    stopSound();
    bool hasSound = false;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        hasSound = shared_->hasSound;
    }
    if (!hasSound) return;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->feed.clear();
        shared_->soundStart = at;
        ++shared_->soundGeneration;
        shared_->soundWanted = true;
    }
    shared_->wake.notify_all();
    soundRunning_ = sound_->start(shared_->feed);
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->latency = soundRunning_ ? std::max(0.0, sound_->latency()) : 0.0;
    if (!soundRunning_) shared_->soundWanted = false;
}

void ProgramPlayer::stopSound() {
    if (soundRunning_) sound_->stop();
    soundRunning_ = false;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->soundWanted = false;
        ++shared_->soundGeneration;
        shared_->latency = 0;
        shared_->feed.clear();
    }
    shared_->wake.notify_all();
}

double ProgramPlayer::rate() const {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->playing ? 1.0 : 0.0;
}

double ProgramPlayer::currentTime() const {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->clockLocked(Clock::now());
}

QImage ProgramPlayer::picture() const {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->picture;
}

void ProgramPlayer::setPictureLimit(QSize limit) {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->limit = limit;
}

bool ProgramPlayer::hasItem() const {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->hasItem;
}

double ProgramPlayer::duration() const {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->duration;
}

std::int64_t ProgramPlayer::framesShown() const {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->framesShown;
}

}  // namespace morvane
