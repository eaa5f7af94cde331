#include "platform/video_frame.h"

#include <ctime>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace morvane {

double hostTime() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

SharedFrame shareFrame(AVFrame* frame) {
    return SharedFrame(frame, [](AVFrame* f) { av_frame_free(&f); });
}

SharedFrame makeVideoFrame(int width, int height, AVPixelFormat format) {
    if (width <= 0 || height <= 0) return nullptr;
    SharedFrame frame = shareFrame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    return frame;
}

bool VideoFrame::isTenBit() const {
    if (!picture) return false;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
    return d && d->comp[0].depth > 8;
}

}  // namespace morvane
