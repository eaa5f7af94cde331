#include "camera/deck_copy.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

#include "camera/timecode_atoms.h"
#include "platform/atomic_file.h"
#include "platform/ffmpeg_handles.h"
#include "platform/video_frame.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

struct Failure {
    std::string reason;
};

void check(int rc, const char* step) {
    if (rc < 0) throw Failure{std::string(step) + ": " + ff::errorText(rc)};
}

constexpr std::string_view kPartialSuffix = ".partial";

// Hidden beside the copy, until it is whole.
fs::path partialOf(const fs::path& copy) {
    return copy.parent_path() / ("." + copy.filename().string() + std::string(kPartialSuffix));
}

}  // namespace

std::optional<fs::path> deckCopyOfPartial(const fs::path& file) {
    const std::string name = file.filename().string();
    if (name.size() <= 1 + kPartialSuffix.size() || !name.starts_with(".") || !name.ends_with(kPartialSuffix))
        return std::nullopt;
    const fs::path copy = file.parent_path() / name.substr(1, name.size() - 1 - kPartialSuffix.size());
    if (partialOf(copy) != file) return std::nullopt;
    return copy;
}

bool makeDeckCopy(const fs::path& take, const fs::path& copy, std::string* error) {
    const fs::path partial = partialOf(copy);
    try {
        std::string openError;
        ff::InputFormat input = ff::openLocalMovie(take.string(), &openError);
        if (!input) throw Failure{"opening the take: " + openError};
        const AVCodec* decoderCodec = nullptr;
        const int videoIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoderCodec, 0);
        if (videoIndex < 0 || !decoderCodec) throw Failure{"the take has no picture"};
        const int audioIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
        AVStream* inVideo = input->streams[videoIndex];

        ff::CodecContext decoder(avcodec_alloc_context3(decoderCodec));
        check(avcodec_parameters_to_context(decoder.get(), inVideo->codecpar), "reading the picture's format");
        decoder->pkt_timebase = inVideo->time_base;
        check(avcodec_open2(decoder.get(), decoderCodec, nullptr), "opening the decoder");

        const double scale =
            std::min({1920.0 / std::max(1, decoder->width), 1080.0 / std::max(1, decoder->height), 1.0});
        const int width = static_cast<int>(decoder->width * scale) & ~1;
        const int height = static_cast<int>(decoder->height * scale) & ~1;
        if (width < 2 || height < 2) throw Failure{"the take's picture has no size"};

        AVFormatContext* rawOutput = nullptr;
        check(avformat_alloc_output_context2(&rawOutput, nullptr, "mov", partial.c_str()), "making the copy");
        ff::OutputFormat output(rawOutput);
        const AVCodec* encoderCodec = avcodec_find_encoder_by_name("libx264");
        if (!encoderCodec) throw Failure{"no H.264 encoder"};
        ff::CodecContext encoder(avcodec_alloc_context3(encoderCodec));
        encoder->width = width;
        encoder->height = height;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = inVideo->time_base;
        encoder->framerate = inVideo->avg_frame_rate;
        encoder->max_b_frames = 0;
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        encoder->colorspace = AVCOL_SPC_BT709;
        av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
        av_opt_set(encoder->priv_data, "crf", "21", 0);
        check(avcodec_open2(encoder.get(), encoderCodec, nullptr), "opening the encoder");
        AVStream* outVideo = avformat_new_stream(output.get(), nullptr);
        if (!outVideo) throw Failure{"making the copy's picture track"};
        check(avcodec_parameters_from_context(outVideo->codecpar, encoder.get()), "the copy's picture track");
        outVideo->time_base = encoder->time_base;
        outVideo->avg_frame_rate = inVideo->avg_frame_rate;
        // The display matrix (the camera's angle) and the timecode travel with the copy.
        for (int i = 0; i < inVideo->nb_side_data; ++i) {
            const AVPacketSideData& side = inVideo->side_data[i];
            if (auto* data = av_stream_new_side_data(outVideo, side.type, side.size))
                std::memcpy(data, side.data, side.size);
        }
        av_dict_copy(&outVideo->metadata, inVideo->metadata, 0);
        if (auto* tc = av_dict_get(input->metadata, "timecode", nullptr, 0))
            av_dict_set(&outVideo->metadata, "timecode", tc->value, 0);
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            if (auto* tc = av_dict_get(input->streams[i]->metadata, "timecode", nullptr, 0)) {
                av_dict_set(&outVideo->metadata, "timecode", tc->value, 0);
            }
        }
        AVStream* outAudio = nullptr;
        if (audioIndex >= 0) {
            outAudio = avformat_new_stream(output.get(), nullptr);
            if (!outAudio) throw Failure{"making the copy's sound track"};
            check(avcodec_parameters_copy(outAudio->codecpar, input->streams[audioIndex]->codecpar), "the sound track");
            outAudio->codecpar->codec_tag = 0;
            outAudio->time_base = input->streams[audioIndex]->time_base;
        }
        check(avio_open(&output->pb, partial.c_str(), AVIO_FLAG_WRITE), "writing the copy");
        check(avformat_write_header(output.get(), nullptr), "writing the copy");

        ff::Sws sws;
        SharedFrame scaled = makeVideoFrame(width, height, AV_PIX_FMT_YUV420P);
        ff::Packet packet = ff::makePacket();
        ff::Packet encoded = ff::makePacket();
        ff::Frame decoded = ff::makeFrame();
        auto drainEncoder = [&](AVFrame* frame) {
            check(avcodec_send_frame(encoder.get(), frame), "encoding the copy");
            for (;;) {
                const int rc = avcodec_receive_packet(encoder.get(), encoded.get());
                if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
                check(rc, "encoding the copy");
                av_packet_rescale_ts(encoded.get(), encoder->time_base, outVideo->time_base);
                encoded->stream_index = outVideo->index;
                check(av_interleaved_write_frame(output.get(), encoded.get()), "writing the copy");
            }
        };
        auto drainDecoder = [&](const AVPacket* in) {
            check(avcodec_send_packet(decoder.get(), in), "decoding the take");
            for (;;) {
                const int rc = avcodec_receive_frame(decoder.get(), decoded.get());
                if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
                check(rc, "decoding the take");
                sws.reset(sws_getCachedContext(sws.release(), decoded->width, decoded->height,
                                               static_cast<AVPixelFormat>(decoded->format), width, height,
                                               AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
                if (!sws) throw Failure{"scaling the picture"};
                setColorConversion(sws.get(), *decoded, AV_PIX_FMT_YUV420P);
                check(av_frame_make_writable(scaled.get()), "scaling the picture");
                sws_scale(sws.get(), decoded->data, decoded->linesize, 0, decoded->height, scaled->data,
                          scaled->linesize);
                scaled->pts = decoded->best_effort_timestamp;
                drainEncoder(scaled.get());
                av_frame_unref(decoded.get());
            }
        };
        while (av_read_frame(input.get(), packet.get()) >= 0) {
            if (packet->stream_index == videoIndex) {
                drainDecoder(packet.get());
            } else if (outAudio && packet->stream_index == audioIndex) {
                av_packet_rescale_ts(packet.get(), input->streams[audioIndex]->time_base, outAudio->time_base);
                packet->stream_index = outAudio->index;
                packet->pos = -1;
                check(av_interleaved_write_frame(output.get(), packet.get()), "writing the copy's sound");
            }
            av_packet_unref(packet.get());
        }
        drainDecoder(nullptr);
        drainEncoder(nullptr);
        check(av_write_trailer(output.get()), "finishing the copy");
        output.reset();
        // The timecode keeps the flags of the take's own track.
        if (auto flags = readTimecodeFlags(take)) patchTimecodeFlags(partial, *flags);
        if (!syncFile(partial)) throw Failure{"flushing the copy"};
        std::error_code ec;
        fs::rename(partial, copy, ec);
        if (ec) throw Failure{"moving the copy into place: " + ec.message()};
        syncFolder(copy.parent_path());
        return true;
    } catch (const Failure& failure) {
        std::error_code ec;
        fs::remove(partial, ec);
        if (error) *error = failure.reason;
        return false;
    }
}

}  // namespace morvane
