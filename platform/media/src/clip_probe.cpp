#include "platform/clip_probe.h"

#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libavutil/dict.h>
}

#include <cmath>

namespace morvane {

namespace {

struct DictionaryDeleter {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

double rational(AVRational r) {
    return r.num > 0 && r.den > 0 ? av_q2d(r) : 0.0;
}

const AVStream* firstVideoStream(const AVFormatContext* format) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return stream;
    }
    return nullptr;
}

}  // namespace

std::optional<ClipProbe> ClipProbe::load(const std::filesystem::path& movie) {
    AVDictionary* rawOptions = nullptr;
    // A movie from another device must not make the demuxer open anything but itself.
    av_dict_set(&rawOptions, "protocol_whitelist", "file", 0);
    av_dict_set(&rawOptions, "format_whitelist", "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm", 0);
    AVFormatContext* raw = nullptr;
    const std::string url = "file:" + movie.string();
    const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &rawOptions);
    std::unique_ptr<AVDictionary, DictionaryDeleter> options(rawOptions);
    if (opened < 0) return std::nullopt;
    ff::InputFormat format(raw);

    const AVStream* video = firstVideoStream(format.get());
    if (!video) {
        if (avformat_find_stream_info(format.get(), nullptr) < 0) return std::nullopt;
        video = firstVideoStream(format.get());
        if (!video) return std::nullopt;
    }
    if (video->codecpar->width <= 0 || video->codecpar->height <= 0 || rational(video->avg_frame_rate) <= 0) {
        if (avformat_find_stream_info(format.get(), nullptr) < 0) return std::nullopt;
    }

    ClipProbe probe;
    double rate = rational(video->avg_frame_rate);
    if (rate <= 0) rate = rational(video->r_frame_rate);
    probe.nominalFrameRate = static_cast<float>(rate);
    probe.width = video->codecpar->width;
    probe.height = video->codecpar->height;
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        probe.duration = static_cast<double>(format->duration) / AV_TIME_BASE;
    } else if (video->duration != AV_NOPTS_VALUE && video->duration > 0) {
        probe.duration = static_cast<double>(video->duration) * rational(video->time_base);
    }
    if (!std::isfinite(probe.nominalFrameRate)) probe.nominalFrameRate = 0;
    return probe;
}

}  // namespace morvane
