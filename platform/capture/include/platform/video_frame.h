#pragma once

// Pictures and sound as the camera engine passes them around: reference-counted FFmpeg frames with a time on
// the machine's monotonic clock.

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

#include <memory>

struct SwsContext;

namespace morvane {

/// Seconds on the monotonic clock (never set back, unaffected by changes of the wall clock).
double hostTime();

using SharedFrame = std::shared_ptr<AVFrame>;

/// Takes ownership of a frame from `av_frame_alloc` (null stays null).
SharedFrame shareFrame(AVFrame* frame);

/// A new frame with its own buffers of the given size and pixel format; null when the buffers cannot be had.
SharedFrame makeVideoFrame(int width, int height, AVPixelFormat format);

/// Makes a scaler turn `source` into `target` with the picture's own colour matrix and range (Rec.709 for HD
/// pictures that do not say, as cameras deliver them), rather than the scaler's standard-definition default.
void setColorConversion(SwsContext* sws, const AVFrame& source, AVPixelFormat target);

/// One captured picture. The engine's formats are NV12 (8-bit) and P010 (10-bit), both 4:2:0; the monitoring
/// stage produces BGRA.
struct VideoFrame {
    SharedFrame picture;
    double time = 0;  ///< capture instant, `hostTime` seconds

    int width() const { return picture ? picture->width : 0; }
    int height() const { return picture ? picture->height : 0; }
    AVPixelFormat format() const { return picture ? static_cast<AVPixelFormat>(picture->format) : AV_PIX_FMT_NONE; }
    bool isTenBit() const;
};

/// One block of captured sound (any FFmpeg sample format, interleaved or planar).
struct AudioFrame {
    SharedFrame samples;
    double time = 0;  ///< instant of the first sample, `hostTime` seconds
};

}  // namespace morvane
