#include "remote/video_receiver.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/h264_decoder.h"
#include "qt_main_executor.h"

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto keyframeRequestInterval = std::chrono::milliseconds(500);

}  // namespace

/// Everything that packet work touches. The receiver's queue holds it rather than the receiver, so the
/// receiver is never released on its own queue.
struct VideoReceiver::Pipeline {
    std::shared_ptr<Executor> main;
    std::weak_ptr<VideoReceiver> owner;
    std::atomic<bool> closed{false};
    std::atomic<std::size_t> queuedBytes{0};
    // Set when a frame was turned away before reaching the queue: the next frame cannot decode.
    std::atomic<bool> framesLost{false};

    std::mutex sendMutex;
    std::function<void(const Bytes&)> sendToCamera;

    // Queue only.
    H264Decoder decoder;
    std::optional<H264Format> format;
    bool waitingForKeyframe = true;
    std::optional<Clock::time_point> lastKeyframeRequest;  // none: never
    int frameRotation = 0;

    // `lock` of the receiver.
    mutable std::mutex lock;
    QSizeF videoSize;
    std::int64_t framesSinceStats = 0;
    std::int64_t bytesSinceStats = 0;
    Clock::time_point lastStats = Clock::now();

    // The newest decoded picture on its way to the main thread; later pictures replace earlier ones that the
    // main thread has not taken yet.
    std::mutex pictureMutex;
    std::optional<QImage> pendingPicture;
    bool deliveryScheduled = false;

    void send(const Bytes& packet) {
        std::function<void(const Bytes&)> fn;
        {
            std::lock_guard guard(sendMutex);
            fn = sendToCamera;
        }
        if (fn) fn(packet);
    }

    void onMain(std::function<void(VideoReceiver&)> work) {
        main->async([owner = owner, work = std::move(work)] {
            if (auto receiver = owner.lock()) work(*receiver);
        });
    }

    void handlePacket(const Bytes& packet) {
        queuedBytes.fetch_sub(packet.size());
        if (closed.load()) return;
        const auto kind = packetKind(packet);
        if (!kind) return;
        if (*kind == PacketType::frame) {
            handleVideoPacket(packet);
        } else if (*kind == PacketType::parameterSets) {
            handleParameterSets(packet);
        }
    }

    void handleParameterSets(const Bytes& packet) {
        auto decoded = ParameterSetsPacket::decode(packet);
        if (!decoded) return;
        auto made = H264Format::make(std::move(decoded->sets));
        if (!made) return;  // the previous format stays
        const QSizeF size(made->width, made->height);
        format = std::move(made);
        {
            std::lock_guard guard(lock);
            videoSize = size;
        }
        onMain([](VideoReceiver& r) { r.publishPictureSize(); });
    }

    void handleVideoPacket(const Bytes& packet) {
        const auto frame = FramePacket::decode(packet);
        if (!frame) return;  // shorter than its header: not even acknowledged
        send(AckPacket{frame->number}.encode());
        {
            std::lock_guard guard(lock);
            framesSinceStats += 1;
            bytesSinceStats += static_cast<std::int64_t>(packet.size()) - 1;
        }
        const int turns = frame->rotation & 3;
        if (turns != frameRotation) {
            frameRotation = turns;
            onMain([turns](VideoReceiver& r) { r.applyRotation(turns); });
        }
        if (framesLost.exchange(false)) waitingForKeyframe = true;
        if (waitingForKeyframe) {
            // Only a key frame with a known format ends the wait; anything else could only show a broken
            // picture.
            if (!frame->keyframe || !format) {
                requestKeyframe();
                return;
            }
            waitingForKeyframe = false;
        }
        if (!format || frame->accessUnit.empty()) return;
        if (decoderNeedsRestart()) return;
        auto picture = decoder.decode(*format, frame->accessUnit);
        if (decoderNeedsRestart()) return;
        if (picture) present(*picture);
    }

    /// A failed decoder, or one that met damaged input, is flushed keeping the shown picture; the stream then
    /// resumes at the next key frame.
    bool decoderNeedsRestart() {
        if (decoder.status() != H264Decoder::Status::failed && !decoder.requiresFlushToResumeDecoding()) return false;
        decoder.flush();
        waitingForKeyframe = true;
        requestKeyframe();
        return true;
    }

    void requestKeyframe() {
        const auto now = Clock::now();
        if (lastKeyframeRequest && now - *lastKeyframeRequest <= keyframeRequestInterval) return;
        lastKeyframeRequest = now;
        send(keyframeRequestPacket());
    }

    void present(const H264Decoder::Picture& picture) {
        auto* keep = new std::shared_ptr<const AVFrame>(picture.storage);
        QImage image(
            picture.pixels, picture.width, picture.height, picture.bytesPerLine, QImage::Format_RGB32,
            [](void* info) { delete static_cast<std::shared_ptr<const AVFrame>*>(info); }, keep);
        bool schedule = false;
        {
            std::lock_guard guard(pictureMutex);
            pendingPicture = std::move(image);
            schedule = !deliveryScheduled;
            deliveryScheduled = true;
        }
        if (schedule) onMain([](VideoReceiver& r) { r.pipeline_->deliverPicture(*r.layer_); });
    }

    void deliverPicture(VideoReceiverLayer& layer) {
        std::optional<QImage> picture;
        {
            std::lock_guard guard(pictureMutex);
            picture.swap(pendingPicture);
            deliveryScheduled = false;
        }
        if (picture) layer.setPicture(std::move(*picture));
    }

    /// Drops the shown picture and any picture still on its way.
    void removePicture() {
        {
            std::lock_guard guard(pictureMutex);
            pendingPicture.reset();
        }
        onMain([](VideoReceiver& r) { r.layer_->clearPicture(); });
    }
};

std::shared_ptr<VideoReceiver> VideoReceiver::make(std::shared_ptr<Executor> mainQueue) {
    if (!mainQueue) mainQueue = QtMainExecutor::shared();
    std::shared_ptr<VideoReceiver> receiver(new VideoReceiver(std::move(mainQueue)));
    receiver->pipeline_->owner = receiver;
    return receiver;
}

VideoReceiver::VideoReceiver(std::shared_ptr<Executor> mainQueue)
    : main_(std::move(mainQueue)),
      pipeline_(std::make_shared<Pipeline>()),
      queue_(std::make_unique<DispatchQueue>("morvane.video-receive")),
      layer_(std::make_unique<VideoReceiverLayer>()) {
    pipeline_->main = main_;
}

VideoReceiver::~VideoReceiver() {
    pipeline_->closed.store(true);
    queue_.reset();  // what is still queued returns at once
    // The layer belongs to the thread that made it; released elsewhere, it goes through that thread's loop.
    if (layer_ && layer_->thread() != QThread::currentThread()) layer_.release()->deleteLater();
}

void VideoReceiver::setSendToCamera(std::function<void(const Bytes&)> send) {
    std::lock_guard guard(pipeline_->sendMutex);
    pipeline_->sendToCamera = std::move(send);
}

void VideoReceiver::receive(Bytes packet) {
    const std::size_t size = packet.size();
    auto& p = *pipeline_;
    if (p.queuedBytes.fetch_add(size) + size > maxQueuedBytes) {
        p.queuedBytes.fetch_sub(size);
        if (packetKind(packet) == PacketType::frame) p.framesLost.store(true);
        return;
    }
    queue_->async([pipeline = pipeline_, packet = std::move(packet)] { pipeline->handlePacket(packet); });
}

void VideoReceiver::layout(const QRectF& bounds) {
    bounds_ = bounds;
    const bool quarter = (rotation_ & 1) != 0;
    const QSizeF size = quarter ? QSizeF(bounds.height(), bounds.width()) : bounds.size();
    const QPointF position(bounds.center().x() - bounds.left(), bounds.center().y() - bounds.top());
    layer_->setGeometry(bounds, size, position, rotation_);
}

VideoReceiver::Stats VideoReceiver::takeStats() {
    auto& p = *pipeline_;
    std::lock_guard guard(p.lock);
    const auto now = Clock::now();
    const double elapsed = std::max(0.001, std::chrono::duration<double>(now - p.lastStats).count());
    Stats stats{static_cast<double>(p.framesSinceStats) / elapsed,
                static_cast<double>(p.bytesSinceStats) * 8.0 / elapsed / 1'000'000.0};
    p.framesSinceStats = 0;
    p.bytesSinceStats = 0;
    p.lastStats = now;
    return stats;
}

void VideoReceiver::reset() {
    if (rotation_ != 0) {
        rotation_ = 0;
        layout(bounds_);
    }
    // Cleared before the queue's part is queued: a parameter-set packet handled after that part must leave its
    // size in place, with the format it set.
    {
        std::lock_guard guard(pipeline_->lock);
        pipeline_->videoSize = QSizeF();
    }
    publishPictureSize();
    queue_->async([pipeline = pipeline_] {
        auto& p = *pipeline;
        if (p.closed.load()) return;
        p.format.reset();
        p.frameRotation = 0;
        p.waitingForKeyframe = true;
        p.decoder.flush();
        p.removePicture();
        // A parameter-set packet handled between the reset and this point must not leave a size behind
        // without its format.
        {
            std::lock_guard guard(p.lock);
            p.videoSize = QSizeF();
        }
        p.onMain([](VideoReceiver& r) { r.publishPictureSize(); });
    });
}

std::optional<QPointF> VideoReceiver::devicePoint(const QPointF& point) const {
    const QSizeF size = videoSize();
    if (!(size.width() > 0) || !(size.height() > 0)) return std::nullopt;
    const QPointF p = layer_->convertToDisplay(point);
    const QRectF rect = layer_->aspectFitRect(size);
    if (rect.isEmpty()) return std::nullopt;
    // Half-open, as a rectangle contains its left and top edges but not its right and bottom ones.
    if (p.x() < rect.left() || p.x() >= rect.right() || p.y() < rect.top() || p.y() >= rect.bottom()) {
        return std::nullopt;
    }
    return QPointF((p.x() - rect.left()) / rect.width(), (p.y() - rect.top()) / rect.height());
}

QSizeF VideoReceiver::videoSize() const {
    std::lock_guard guard(pipeline_->lock);
    return pipeline_->videoSize;
}

void VideoReceiver::publishPictureSize() {
    const QSizeF size = videoSize();
    if (size.width() > 0) {
        const QSizeF shown = (rotation_ & 1) ? size.transposed() : size;
        if (shownSize_ && *shownSize_ == shown) return;
        shownSize_ = shown;
        if (auto report = onPictureSize) report(shown);
    } else if (shownSize_) {
        shownSize_.reset();
        if (auto report = onPictureSize) report(std::nullopt);
    }
}

void VideoReceiver::applyRotation(int quarterTurns) {
    rotation_ = quarterTurns & 3;
    layout(bounds_);
    publishPictureSize();
}

}  // namespace morvane
