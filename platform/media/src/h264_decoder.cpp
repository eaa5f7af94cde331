#include "platform/h264_decoder.h"

#include <cstring>

#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
}

namespace morvane {

namespace {

constexpr AVPixelFormat outputFormat = AV_PIX_FMT_RGB32;  // 0xAARRGGBB in native order, as Qt's RGB32

struct PoolDeleter {
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};

int swsColorspace(AVColorSpace space) {
    switch (space) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            return SWS_CS_DEFAULT;
    }
}

bool isFullRange(const AVFrame& frame) {
    return frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P ||
           frame.format == AV_PIX_FMT_YUVJ422P || frame.format == AV_PIX_FMT_YUVJ444P;
}

}  // namespace

struct H264Decoder::State {
    ff::CodecContext context;
    ff::Packet packet = ff::makePacket();
    ff::Frame frame = ff::makeFrame();
    ff::Sws sws;
    std::unique_ptr<AVBufferPool, PoolDeleter> pool;
    int poolLineSize = 0;
    int poolHeight = 0;
    // The parameter sets last handed to the decoder in-band.
    std::optional<std::vector<H264Format::NalUnit>> inBandSets;

    bool open() {
        const AVCodec* codec = avcodec_find_decoder_by_name("h264");
        if (!codec || !packet || !frame) return false;
        ff::CodecContext c(avcodec_alloc_context3(codec));
        if (!c) return false;
        c->flags |= AV_CODEC_FLAG_LOW_DELAY;
        c->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
        c->err_recognition |= AV_EF_EXPLODE;
        // Frame threads would hold pictures back; one thread per stream keeps each picture as early as it can be.
        c->thread_count = 1;
        // Sets inside an access unit bypass the checks on parameter-set packets: cap the picture here too.
        c->max_pixels = static_cast<std::int64_t>(H264Format::maxSide) * H264Format::maxSide;
        // A configuration record without sets: it only says that NAL units carry 4-byte lengths. The sets
        // themselves always travel in-band.
        static constexpr std::uint8_t record[] = {1, 66, 0, 30, 0xff, 0xe0, 0};
        c->extradata = static_cast<std::uint8_t*>(av_mallocz(sizeof record + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!c->extradata) return false;
        std::memcpy(c->extradata, record, sizeof record);
        c->extradata_size = sizeof record;
        if (avcodec_open2(c.get(), codec, nullptr) < 0) return false;
        context = std::move(c);
        inBandSets.reset();
        return true;
    }

    std::optional<Picture> convert(const AVFrame& source) {
        const int width = source.width;
        const int height = source.height;
        if (width <= 0 || height <= 0 || width > H264Format::maxSide || height > H264Format::maxSide) {
            return std::nullopt;
        }
        const int lineSize = FFALIGN(width * 4, 64);
        if (!pool || poolLineSize != lineSize || poolHeight != height) {
            // Buffers still held by earlier pictures stay valid: the old pool goes once they are all back.
            pool.reset(
                av_buffer_pool_init(static_cast<std::size_t>(lineSize) * static_cast<std::size_t>(height), nullptr));
            poolLineSize = lineSize;
            poolHeight = height;
            if (!pool) return std::nullopt;
        }
        ff::Frame out = ff::makeFrame();
        if (!out) return std::nullopt;
        out->buf[0] = av_buffer_pool_get(pool.get());
        if (!out->buf[0]) return std::nullopt;
        out->format = outputFormat;
        out->width = width;
        out->height = height;
        out->data[0] = out->buf[0]->data;
        out->linesize[0] = lineSize;

        SwsContext* cached =
            sws_getCachedContext(sws.release(), width, height, static_cast<AVPixelFormat>(source.format), width, height,
                                 outputFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
        sws.reset(cached);
        if (!sws) return std::nullopt;
        sws_setColorspaceDetails(sws.get(), sws_getCoefficients(swsColorspace(source.colorspace)),
                                 isFullRange(source) ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                 1 << 16);
        if (sws_scale(sws.get(), source.data, source.linesize, 0, height, out->data, out->linesize) != height) {
            return std::nullopt;
        }
        Picture picture;
        picture.width = width;
        picture.height = height;
        picture.bytesPerLine = lineSize;
        picture.pixels = out->data[0];
        picture.storage = std::shared_ptr<const AVFrame>(out.release(), [](const AVFrame* f) {
            auto* owned = const_cast<AVFrame*>(f);
            av_frame_free(&owned);
        });
        return picture;
    }
};

H264Decoder::H264Decoder() : state_(std::make_unique<State>()) {}

H264Decoder::~H264Decoder() = default;

std::optional<H264Decoder::Picture> H264Decoder::decode(const H264Format& format,
                                                        std::span<const std::uint8_t> accessUnit) {
    if (requiresFlush_ || status_ == Status::failed) return std::nullopt;
    if (accessUnit.empty()) return std::nullopt;
    auto& s = *state_;
    if (!s.context && !s.open()) {
        status_ = Status::failed;
        return std::nullopt;
    }

    const bool sendSets = !s.inBandSets || *s.inBandSets != format.parameterSets;
    std::size_t size = accessUnit.size();
    if (sendSets) {
        for (const auto& set : format.parameterSets) size += 4 + set.size();
    }
    if (size > static_cast<std::size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) return std::nullopt;
    av_packet_unref(s.packet.get());
    if (av_new_packet(s.packet.get(), static_cast<int>(size)) < 0) return std::nullopt;
    std::uint8_t* out = s.packet->data;
    if (sendSets) {
        for (const auto& set : format.parameterSets) {
            const auto n = static_cast<std::uint32_t>(set.size());
            *out++ = static_cast<std::uint8_t>(n >> 24);
            *out++ = static_cast<std::uint8_t>(n >> 16);
            *out++ = static_cast<std::uint8_t>(n >> 8);
            *out++ = static_cast<std::uint8_t>(n);
            std::memcpy(out, set.data(), set.size());
            out += set.size();
        }
    }
    std::memcpy(out, accessUnit.data(), accessUnit.size());

    int result = avcodec_send_packet(s.context.get(), s.packet.get());
    av_packet_unref(s.packet.get());
    if (result < 0 && result != AVERROR(EAGAIN)) {
        requiresFlush_ = true;
        return std::nullopt;
    }
    if (sendSets) s.inBandSets = format.parameterSets;

    bool haveFrame = false;
    ff::Frame latest = ff::makeFrame();
    if (!latest) return std::nullopt;
    for (;;) {
        result = avcodec_receive_frame(s.context.get(), s.frame.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
        if (result < 0) {
            requiresFlush_ = true;
            break;
        }
        const bool damaged = (s.frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 || s.frame->decode_error_flags != 0;
        if (damaged) requiresFlush_ = true;
        av_frame_unref(latest.get());
        av_frame_move_ref(latest.get(), s.frame.get());
        haveFrame = true;
    }
    if (requiresFlush_ || !haveFrame) return std::nullopt;
    auto picture = s.convert(*latest);
    if (picture) status_ = Status::rendering;
    return picture;
}

void H264Decoder::flush() {
    auto& s = *state_;
    if (s.context) avcodec_flush_buffers(s.context.get());
    s.inBandSets.reset();
    requiresFlush_ = false;
    if (status_ == Status::failed) s.context.reset();
    status_ = Status::unknown;
}

}  // namespace morvane
