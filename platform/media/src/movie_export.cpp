#include "platform/movie_export.h"

#include <cmath>
#include <limits>
#include <random>
#include <system_error>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

namespace morvane {

namespace {

void check(int rc, const char* what) {
    if (rc < 0) throw MovieExport::Error(std::string(what) + ": " + ff::errorText(rc));
}

std::filesystem::path temporaryNextTo(const std::filesystem::path& file) {
    std::random_device rd;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", unsigned(rd()));
    return file.parent_path() /
           (std::string(".").append(file.filename().string()).append(".").append(suffix).append(".partial"));
}

// One encoder feeding one output stream.
struct Encoder {
    ff::CodecContext ctx;
    AVStream* stream = nullptr;
    ff::Packet packet = ff::makePacket();

    void send(AVFormatContext* out, const AVFrame* frame) {
        check(avcodec_send_frame(ctx.get(), frame), "encoding");
        drain(out);
    }
    void drain(AVFormatContext* out) {
        for (;;) {
            const int rc = avcodec_receive_packet(ctx.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc, "encoding");
            av_packet_rescale_ts(packet.get(), ctx->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(out, packet.get()), "writing the movie");
        }
    }
};

class Writer {
public:
    Writer(const ProgramRenderer::Plan& plan, const std::filesystem::path& file, const MovieExport::Settings& settings)
        : renderer_(plan), file_(file), settings_(settings) {}

    void run(const std::function<void(float)>& progress) {
        const double duration = renderer_.duration();
        if (!(duration > 0)) throw MovieExport::Error("The program has no picture");
        if (duration > MovieExport::maxDuration) throw MovieExport::Error("The program is too long");
        const std::int64_t frames = renderer_.frameCount();
        const std::int64_t samples = std::llround(duration * ProgramRenderer::sampleRate);

        AVFormatContext* raw = nullptr;
        check(avformat_alloc_output_context2(&raw, nullptr, "mov", file_.c_str()), "creating the movie");
        out_.reset(raw);
        openVideo();
        if (renderer_.hasSound()) openAudio();
        check(avio_open(&out_->pb, file_.c_str(), AVIO_FLAG_WRITE), "opening the movie file");
        check(avformat_write_header(out_.get(), nullptr), "writing the movie header");

        std::int64_t nextSample = 0;
        for (std::int64_t i = 0; i < frames; ++i) {
            ff::Frame frame = renderer_.renderFrame(i);
            if (!frame) throw MovieExport::Error("Couldn't make a frame of the program");
            video_.send(out_.get(), frame.get());
            // Keep the sound up with the picture so that the two interleave closely.
            if (audio_.ctx) {
                // The end of frame i in samples, exactly (the frame time base is 1001/30000 and the like).
                const std::int64_t due =
                    av_rescale_q(i + 1, video_.ctx->time_base, AVRational{1, ProgramRenderer::sampleRate});
                nextSample = writeSound(nextSample, std::min<std::int64_t>(samples, due));
            }
            if (progress) progress(float(i + 1) / float(frames));
        }
        if (audio_.ctx) nextSample = writeSound(nextSample, samples);
        video_.send(out_.get(), nullptr);
        if (audio_.ctx) audio_.send(out_.get(), nullptr);
        check(av_write_trailer(out_.get()), "finishing the movie");
        check(avio_closep(&out_->pb), "closing the movie file");
    }

private:
    void openVideo() {
        const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
        if (!codec) throw MovieExport::Error("No HEVC encoder");
        video_.ctx.reset(avcodec_alloc_context3(codec));
        auto* c = video_.ctx.get();
        c->width = renderer_.width();
        c->height = renderer_.height();
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->thread_count = 0;  // let libx265 pick its frame threads, as the ffmpeg tool does
        MediaTime fd = renderer_.plan().videoComposition.frameDuration;
        if (!fd.isValid() || fd.value <= 0) fd = {1, 30};
        int num = 0, den = 0;
        av_reduce(&num, &den, fd.value, fd.timescale, std::numeric_limits<int>::max());
        c->time_base = {num, den};
        c->framerate = {den, num};
        c->sample_aspect_ratio = {1, 1};
        c->color_primaries = AVCOL_PRI_BT709;
        c->color_trc = AVCOL_TRC_BT709;
        c->colorspace = AVCOL_SPC_BT709;
        c->color_range = AVCOL_RANGE_MPEG;
        if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        av_opt_set(c->priv_data, "preset", settings_.preset.c_str(), 0);
        av_opt_set(c->priv_data, "crf", std::to_string(settings_.crf).c_str(), 0);
        std::string params = "log-level=error";
        if (!settings_.x265Params.empty()) params += ":" + settings_.x265Params;
        av_opt_set(c->priv_data, "x265-params", params.c_str(), 0);
        check(avcodec_open2(c, codec, nullptr), "opening the HEVC encoder");
        video_.stream = avformat_new_stream(out_.get(), nullptr);
        if (!video_.stream) throw MovieExport::Error("Couldn't add the picture track");
        check(avcodec_parameters_from_context(video_.stream->codecpar, c), "setting up the picture track");
        video_.stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
        video_.stream->time_base = c->time_base;
        video_.stream->avg_frame_rate = c->framerate;
    }

    void openAudio() {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec) throw MovieExport::Error("No AAC encoder");
        audio_.ctx.reset(avcodec_alloc_context3(codec));
        auto* c = audio_.ctx.get();
        c->sample_rate = ProgramRenderer::sampleRate;
        c->sample_fmt = AV_SAMPLE_FMT_FLTP;
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        check(av_channel_layout_copy(&c->ch_layout, &stereo), "setting up the sound");
        c->bit_rate = settings_.audioBitRate;
        c->time_base = {1, ProgramRenderer::sampleRate};
        if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(c, codec, nullptr), "opening the AAC encoder");
        audio_.stream = avformat_new_stream(out_.get(), nullptr);
        if (!audio_.stream) throw MovieExport::Error("Couldn't add the sound track");
        check(avcodec_parameters_from_context(audio_.stream->codecpar, c), "setting up the sound track");
        audio_.stream->time_base = c->time_base;
        interleaved_.resize(std::size_t(c->frame_size > 0 ? c->frame_size : 1024) * 2);
    }

    std::int64_t writeSound(std::int64_t from, std::int64_t upTo) {
        const int frameSize = int(interleaved_.size() / 2);
        while (from < upTo) {
            // Whole encoder frames only, except for the very last one.
            const std::int64_t left = upTo - from;
            if (left < frameSize && upTo != std::llround(renderer_.duration() * ProgramRenderer::sampleRate)) break;
            const int n = int(std::min<std::int64_t>(frameSize, left));
            renderer_.mixSound(from, n, interleaved_.data());
            ff::Frame frame = ff::makeFrame();
            frame->nb_samples = n;
            frame->format = AV_SAMPLE_FMT_FLTP;
            frame->sample_rate = ProgramRenderer::sampleRate;
            check(av_channel_layout_copy(&frame->ch_layout, &audio_.ctx->ch_layout), "making sound");
            check(av_frame_get_buffer(frame.get(), 0), "making sound");
            auto* left_ = reinterpret_cast<float*>(frame->data[0]);
            auto* right = reinterpret_cast<float*>(frame->data[1]);
            for (int i = 0; i < n; ++i) {
                left_[i] = interleaved_[std::size_t(i) * 2];
                right[i] = interleaved_[std::size_t(i) * 2 + 1];
            }
            frame->pts = from;
            audio_.send(out_.get(), frame.get());
            from += n;
        }
        return from;
    }

    ProgramRenderer renderer_;
    std::filesystem::path file_;
    MovieExport::Settings settings_;
    ff::OutputFormat out_;
    Encoder video_;
    Encoder audio_;
    std::vector<float> interleaved_;
};

}  // namespace

void MovieExport::run(const ProgramRenderer::Plan& plan, const std::filesystem::path& file, const Settings& settings,
                      const std::function<void(float)>& progress) {
    const auto temporary = temporaryNextTo(file);
    try {
        {
            Writer writer(plan, temporary, settings);
            writer.run(progress);
        }
        std::error_code ec;
        std::filesystem::rename(temporary, file, ec);
        if (ec) throw Error("Couldn't move the movie into place: " + ec.message());
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
}

}  // namespace morvane
