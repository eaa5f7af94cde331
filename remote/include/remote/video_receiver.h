#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <functional>
#include <memory>
#include <optional>

#include "platform/base64.h"
#include "platform/dispatch_queue.h"
#include "protocol/live_packets.h"
#include "remote/video_receiver_layer.h"

namespace morvane {

/// One camera's live H.264 stream turned into a picture on the remote's screen.
///
/// Parameter-set and frame packets go in through `receive` from any thread; the receiver acknowledges every
/// frame to the camera, asks for a key frame (at most every 0.5 s) while it has no usable picture, and decodes
/// each frame for immediate display into its `containerLayer`, which the tile's picture host draws. Packet work
/// runs on the receiver's serial queue "morvane.video-receive"; `lock` guards the picture size and statistics.
/// Picture sizes, rotations and pictures reach the main thread by dispatch; `layout`, `reset`, `devicePoint`
/// and the layer belong to the main thread.
///
/// Made through `make`; held by the camera's feed and the controller's table of receivers.
class VideoReceiver : public std::enable_shared_from_this<VideoReceiver> {
public:
    struct Stats {
        double framesPerSecond = 0;
        double megabitsPerSecond = 0;
        friend bool operator==(const Stats&, const Stats&) = default;
    };

    /// `mainQueue` is where picture sizes, rotations and pictures are delivered: the Qt main thread unless a
    /// test gives its own.
    static std::shared_ptr<VideoReceiver> make(std::shared_ptr<Executor> mainQueue = nullptr);
    ~VideoReceiver();
    VideoReceiver(const VideoReceiver&) = delete;
    VideoReceiver& operator=(const VideoReceiver&) = delete;

    /// Sends one application packet (kind byte and body) to this camera; called on the receiver's queue with
    /// acknowledgements and key-frame requests. Set by the owner; may be replaced or cleared at any time.
    void setSendToCamera(std::function<void(const Bytes&)> send);

    /// The picture size as shown (none: no picture), on the main thread, each time it changes. Main thread.
    std::function<void(std::optional<QSizeF>)> onPictureSize;

    /// Takes one packet, kind byte included, from any thread; the work is queued.
    void receive(Bytes packet);

    /// The host's bounds: sizes, centres and turns the picture inside them. Main thread.
    void layout(const QRectF& bounds);

    /// Frames per second and megabits per second since the previous call; restarts the count. Any thread.
    Stats takeStats();

    /// Drops the picture, the format and the rotation and waits for a key frame; sends nothing. Main thread.
    void reset();

    /// A point of the host (container) as fractions of the picture's width and height, in the picture's own
    /// orientation; none outside the picture or before its size is known. Main thread.
    std::optional<QPointF> devicePoint(const QPointF& point) const;

    /// What the picture host draws. Main thread.
    VideoReceiverLayer& containerLayer() { return *layer_; }
    const VideoReceiverLayer& containerLayer() const { return *layer_; }

    /// The rotation applied to the picture, in quarter turns (0 to 3). Main thread.
    int rotation() const { return rotation_; }

    /// The serial queue "morvane.video-receive" on which all packet work runs.
    DispatchQueue& queue() { return *queue_; }

    /// The coded picture size of the current format; empty when there is none. Any thread.
    QSizeF videoSize() const;

    /// Packets waiting on the queue are capped at this many bytes; beyond it frames are dropped (and the
    /// receiver waits for a key frame) rather than queued without bound.
    static constexpr std::size_t maxQueuedBytes = 64 * 1024 * 1024;

private:
    struct Pipeline;
    explicit VideoReceiver(std::shared_ptr<Executor> mainQueue);

    void publishPictureSize();
    void applyRotation(int quarterTurns);

    std::shared_ptr<Executor> main_;
    std::shared_ptr<Pipeline> pipeline_;
    std::unique_ptr<DispatchQueue> queue_;
    std::unique_ptr<VideoReceiverLayer> layer_;

    // Main thread only.
    int rotation_ = 0;
    std::optional<QSizeF> shownSize_;
    QRectF bounds_;
};

}  // namespace morvane
