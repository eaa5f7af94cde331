#include "camera/recording_start.h"

#include <cmath>
#include <ctime>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "platform/ffmpeg_handles.h"
#include "platform/video_frame.h"

namespace morvane {

bool probeCodec(MovieVideoSettings::Codec codec, int profile) {
    const char* name = codec == MovieVideoSettings::Codec::hevc    ? "libx265"
                       : codec == MovieVideoSettings::Codec::proRes ? "prores_ks"
                                                                    : "libx264";
    const AVCodec* encoder = avcodec_find_encoder_by_name(name);
    if (!encoder) return false;
    ff::CodecContext c(avcodec_alloc_context3(encoder));
    if (!c) return false;
    c->width = 3840;
    c->height = 2160;
    c->time_base = {1, 30};
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // as the movie muxer asks
    if (codec == MovieVideoSettings::Codec::proRes) {
        c->pix_fmt = profile >= 4 ? AV_PIX_FMT_YUV444P10LE : AV_PIX_FMT_YUV422P10LE;
        av_opt_set_int(c->priv_data, "profile", profile, 0);
    } else {
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->bit_rate = 40'000'000;
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        if (codec == MovieVideoSettings::Codec::hevc) av_opt_set(c->priv_data, "x265-params", "log-level=none", 0);
    }
    return avcodec_open2(c.get(), encoder, nullptr) == 0;
}

bool canWriteHEVC() {
    static const bool hevc = probeCodec(MovieVideoSettings::Codec::hevc);
    return hevc;
}

const std::vector<VideoCodec>& writableProResCodecs() {
    static const std::vector<VideoCodec> codecs = [] {
        std::vector<VideoCodec> out;
        for (VideoCodec c : {VideoCodec::proRes4444XQ, VideoCodec::proRes4444, VideoCodec::proRes422HQ,
                             VideoCodec::proRes422, VideoCodec::proRes422LT, VideoCodec::proRes422Proxy}) {
            if (probeCodec(MovieVideoSettings::Codec::proRes, *proResProfile(c))) out.push_back(c);
        }
        return out;
    }();
    return codecs;
}

std::optional<int> proResProfile(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::proRes4444XQ: return 5;
    case VideoCodec::proRes4444: return 4;
    case VideoCodec::proRes422HQ: return 3;
    case VideoCodec::proRes422: return 2;
    case VideoCodec::proRes422LT: return 1;
    case VideoCodec::proRes422Proxy: return 0;
    case VideoCodec::hevc: return std::nullopt;
    }
    return std::nullopt;
}

std::int64_t averageBitRate(int width, int height, int frameRate, bool tenBit) {
    const double pixels = static_cast<double>(width) * height * std::max(frameRate, 24);
    return static_cast<std::int64_t>(pixels * (tenBit ? 0.25 : 0.18));
}

RecordingDecision decideRecording(int width, int height, bool tenBit, VideoCodec chosen, int frameRate,
                                  bool hevcWritable, const std::vector<VideoCodec>& proResWritable) {
    RecordingDecision decision;
    if (width < 2 || height < 2) return decision;
    if (tenBit && !hevcWritable) {
        decision.logLines.push_back("no HEVC encoder for 10-bit frames");
        return decision;
    }
    if (auto profile = proResProfile(chosen);
        profile && std::find(proResWritable.begin(), proResWritable.end(), chosen) != proResWritable.end()) {
        decision.logLines.push_back(std::string(codecDisplayName(chosen)) + " " + std::to_string(width) + "x" +
                                    std::to_string(height) + " " + std::to_string(frameRate) + " fps");
        if (std::max(width, height) <= 1920 || frameRate <= 30) {
            MovieVideoSettings settings;
            settings.codec = MovieVideoSettings::Codec::proRes;
            settings.proResProfile = *profile;
            settings.width = width & ~1;
            settings.height = height & ~1;
            settings.expectedFrameRate = frameRate;
            settings.tenBit = true;
            decision.video = settings;
            return decision;
        }
        decision.infoMessage = "ProRes in 4K records up to 30 fps: recording HEVC";
    }
    MovieVideoSettings settings;
    settings.codec = hevcWritable ? MovieVideoSettings::Codec::hevc : MovieVideoSettings::Codec::h264;
    settings.width = width & ~1;
    settings.height = height & ~1;
    settings.averageBitRate = averageBitRate(width, height, frameRate, tenBit);
    settings.expectedFrameRate = frameRate;
    settings.maxKeyframeIntervalSeconds = 1;
    settings.tenBit = tenBit && hevcWritable;
    decision.video = settings;
    return decision;
}

std::int32_t timeOfDayFrame(double sampleTime, double clockOffset, double fps, double hostNow, double wallNow) {
    if (!std::isfinite(sampleTime) || !std::isfinite(clockOffset) || !(fps > 0) || !std::isfinite(fps)) return 0;
    const double age = hostNow - sampleTime;
    const double instant = wallNow + (clockOffset - age);
    const auto whole = static_cast<std::time_t>(std::floor(instant));
    std::tm local{};
    localtime_r(&whole, &local);
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    const double midnight = static_cast<double>(std::mktime(&local));
    const double sinceMidnight = instant - midnight;
    const auto perDay = static_cast<std::int32_t>(std::floor(86400 * fps));
    const auto frame = static_cast<std::int64_t>(std::floor(fps * sinceMidnight));
    if (perDay <= 0) return 0;
    return static_cast<std::int32_t>(((frame % perDay) + perDay) % perDay);
}

std::int32_t timeOfDayFrame(double sampleTime, double clockOffset, double fps) {
    return timeOfDayFrame(sampleTime, clockOffset, fps, hostTime(), Date::now().unixSeconds());
}

}  // namespace morvane
