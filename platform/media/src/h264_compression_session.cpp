#include "platform/h264_compression_session.h"

#include <algorithm>
#include <span>

#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace morvane {

namespace {

/// The NAL units of an Annex B byte stream, without their start codes.
std::vector<std::span<const std::uint8_t>> splitAnnexB(std::span<const std::uint8_t> stream) {
    std::vector<std::span<const std::uint8_t>> units;
    const std::size_t n = stream.size();
    std::size_t i = 0;
    std::optional<std::size_t> start;
    while (i + 2 < n) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            if (start) {
                std::size_t end = i;
                while (end > *start && stream[end - 1] == 0) --end;  // trailing zero of a 4-byte start code
                if (end > *start) units.push_back(stream.subspan(*start, end - *start));
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start && *start < n) units.push_back(stream.subspan(*start));
    return units;
}

void appendLengthPrefixed(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> nal) {
    const auto length = static_cast<std::uint32_t>(nal.size());
    out.push_back(static_cast<std::uint8_t>(length >> 24));
    out.push_back(static_cast<std::uint8_t>(length >> 16));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), nal.begin(), nal.end());
}

}  // namespace

struct H264CompressionSession::State {
    ff::CodecContext context;
    ff::Packet packet = ff::makePacket();
};

H264CompressionSession::H264CompressionSession(Settings settings, std::unique_ptr<State> state)
    : settings_(settings), state_(std::move(state)) {}

H264CompressionSession::~H264CompressionSession() = default;

std::unique_ptr<H264CompressionSession> H264CompressionSession::make(const Settings& settings) {
    if (settings.width <= 0 || settings.height <= 0 || settings.width % 2 || settings.height % 2 ||
        settings.framesPerSecond <= 0 || settings.bitRate <= 0 || settings.keyframeInterval <= 0) {
        return nullptr;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return nullptr;
    auto state = std::make_unique<State>();
    state->context.reset(avcodec_alloc_context3(codec));
    auto* c = state->context.get();
    if (!c || !state->packet) return nullptr;
    c->width = settings.width;
    c->height = settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, settings.framesPerSecond};
    c->framerate = AVRational{settings.framesPerSecond, 1};
    c->bit_rate = settings.bitRate;
    c->gop_size = settings.keyframeInterval;
    c->max_b_frames = 0;
    c->thread_count = 1;
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    // High profile without B-frames (constrained High): CABAC and 8×8 transforms back on over the fastest preset.
    // Zero-latency tuning either way, so that each picture comes out as it goes in.
    av_opt_set(c->priv_data, "profile", "high", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "x264-params", "cabac=1:8x8dct=1:bframes=0", 0);
    if (settings.lowLatency) {
        // Low-delay rate control: a bit-rate buffer of half a second bounds how far any picture overshoots.
        c->rc_max_rate = settings.bitRate;
        c->rc_buffer_size = std::max(1, settings.bitRate / 2);
    }
    // A key frame asked for is an IDR frame, so a remote that lost the stream can start decoding from it.
    av_opt_set(c->priv_data, "forced-idr", "1", 0);
    if (avcodec_open2(c, codec, nullptr) < 0) return nullptr;
    return std::unique_ptr<H264CompressionSession>(new H264CompressionSession(settings, std::move(state)));
}

void H264CompressionSession::setBitRate(int bitsPerSecond) {
    if (bitsPerSecond <= 0) return;
    settings_.bitRate = bitsPerSecond;
    state_->context->bit_rate = bitsPerSecond;
    if (settings_.lowLatency) {
        state_->context->rc_max_rate = bitsPerSecond;
        state_->context->rc_buffer_size = std::max(1, bitsPerSecond / 2);
    }
}

std::optional<H264CompressionSession::Output> H264CompressionSession::encode(const AVFrame& picture,
                                                                             bool forceKeyframe) {
    auto* c = state_->context.get();
    if (picture.width != settings_.width || picture.height != settings_.height ||
        picture.format != AV_PIX_FMT_YUV420P) {
        return std::nullopt;
    }
    ff::Frame frame = ff::makeFrame();
    if (!frame || av_frame_ref(frame.get(), &picture) < 0) return std::nullopt;
    frame->pts = nextPts_++;
    frame->pict_type = forceKeyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(c, frame.get()) < 0) return std::nullopt;
    auto* packet = state_->packet.get();
    if (avcodec_receive_packet(c, packet) < 0) return std::nullopt;

    Output output;
    output.isKeyframe = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    for (auto nal : splitAnnexB(std::span<const std::uint8_t>(packet->data, static_cast<std::size_t>(packet->size)))) {
        const int type = nal[0] & 0x1f;
        if (type == 7 || type == 8) {
            output.parameterSets.emplace_back(nal.begin(), nal.end());
        } else {
            appendLengthPrefixed(output.accessUnit, nal);
        }
    }
    av_packet_unref(packet);
    return output;
}

std::shared_ptr<AVFrame> H264CompressionSession::makeTestPicture(int index) const {
    ff::Frame frame = ff::makeFrame();
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = settings_.width;
    frame->height = settings_.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int y = 0; y < frame->height; ++y) {
        std::uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < frame->width; ++x) {
            // Diagonal bands drifting with the index, plus a bright square moving across.
            int v = ((x + y + index * 4) / 8) % 2 ? 180 : 60;
            const int square = (index * 8) % std::max(1, frame->width - 64);
            if (x >= square && x < square + 64 && y >= frame->height / 3 && y < frame->height / 3 + 64) v = 235;
            row[x] = static_cast<std::uint8_t>(v);
        }
    }
    for (int plane = 1; plane < 3; ++plane) {
        for (int y = 0; y < frame->height / 2; ++y) {
            std::uint8_t* row = frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane];
            for (int x = 0; x < frame->width / 2; ++x) {
                row[x] = static_cast<std::uint8_t>(plane == 1 ? 128 + (x * 64) / std::max(1, frame->width / 2)
                                                              : 128 - (y * 64) / std::max(1, frame->height / 2));
            }
        }
    }
    return std::shared_ptr<AVFrame>(frame.release(), [](AVFrame* f) { av_frame_free(&f); });
}

}  // namespace morvane
