#include "platform/video_frame.h"

#include <ctime>
#include <string_view>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
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

namespace morvane {

namespace {

bool isRgb(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

int matrixOf(const AVFrame& frame) {
    switch (frame.colorspace) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return frame.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

}  // namespace

void setColorConversion(SwsContext* sws, const AVFrame& source, AVPixelFormat target) {
    if (!sws) return;
    const auto format = static_cast<AVPixelFormat>(source.format);
    const int* table = sws_getCoefficients(isRgb(format) ? SWS_CS_ITU709 : matrixOf(source));
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    const bool jpegFormat = d && std::string_view(d->name).starts_with("yuvj");
    const int sourceFull = isRgb(format) || jpegFormat || source.color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    const int targetFull = isRgb(target) ? 1 : 0;
    sws_setColorspaceDetails(sws, table, sourceFull, table, targetFull, 0, 1 << 16, 1 << 16);
}

}  // namespace morvane
