#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/video_frame.h"

namespace morvane {

/// Where a camera's pictures and sound come from. A source delivers on a thread of its own, one frame at a time
/// and in capture order, from `start` until `stop` returns.
class CaptureSource {
public:
    struct Callbacks {
        std::function<void(const VideoFrame&)> onVideo;
        std::function<void(const AudioFrame&)> onAudio;
        /// The source stopped by itself (device gone, read error); called once, on the source's thread.
        std::function<void(const std::string&)> onFailure;
    };

    virtual ~CaptureSource() = default;

    /// Starts delivering. False, with nothing delivered, when the source cannot start (or already runs).
    virtual bool start(Callbacks callbacks) = 0;
    /// Stops delivering; no callback runs once it returns. Must not be called from a callback.
    virtual void stop() = 0;

    /// How far the picture is turned from upright, in degrees: 0, 90, 180 or 270.
    int captureAngle() const { return angle_.load(); }
    /// Any angle is taken to the nearest of the four quarter turns (359 is 0, -90 is 270).
    void setCaptureAngle(double degrees);

    /// The nearest quarter turn of any angle, in degrees 0, 90, 180 or 270; 0 for a non-finite angle.
    static int normalizedAngle(double degrees);

private:
    std::atomic<int> angle_{0};
};

}  // namespace morvane
