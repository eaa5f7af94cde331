#pragma once

// Owning handles for FFmpeg objects, so that no error path leaks one.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace morvane::ff {

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct InputFormatDeleter {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct OutputFormatDeleter {
    void operator()(AVFormatContext* f) const {
        if (f && f->pb && !(f->oformat->flags & AVFMT_NOFILE)) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrDeleter {
    void operator()(SwrContext* s) const { swr_free(&s); }
};

using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using InputFormat = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormat = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using Sws = std::unique_ptr<SwsContext, SwsDeleter>;
using Swr = std::unique_ptr<SwrContext, SwrDeleter>;

inline Frame makeFrame() {
    return Frame(av_frame_alloc());
}
inline Packet makePacket() {
    return Packet(av_packet_alloc());
}

/// The largest single allocation FFmpeg may make in a process that opens movies with `openLocalMovie`: far above
/// any picture plane of the largest size a movie may have, far below what a hostile size in a file may ask for.
inline constexpr std::size_t maxAllocationBytes = 256u << 20;

/// Opens a local movie for reading and reads its stream information. Movies come from other devices, so the
/// demuxer may open nothing but this one file (a playlist or reference movie would name other files or addresses)
/// and only movie demuxers may read it. None, with FFmpeg's reason in `error`, when it cannot be opened.
InputFormat openLocalMovie(const std::string& path, std::string* error = nullptr);

/// FFmpeg's text for an error code.
inline std::string errorText(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

}  // namespace morvane::ff
