#include "camera/audio_peak_meter.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace morvane {

namespace {

template <class T>
void scan(std::span<const std::uint8_t> bytes, float scale, float& peak) {
    const std::size_t count = bytes.size() / sizeof(T);
    for (std::size_t i = 0; i < count; ++i) {
        T sample;
        std::memcpy(&sample, bytes.data() + i * sizeof(T), sizeof(T));
        float value;
        if constexpr (std::is_floating_point_v<T>) {
            value = static_cast<float>(std::fabs(sample)) * scale;
        } else {
            value = static_cast<float>(std::fabs(static_cast<double>(sample))) * scale;
        }
        if (value >= peak) peak = value;  // false for NaN
    }
}

}  // namespace

void peakOfSamples(std::span<const std::uint8_t> bytes, SampleLayout layout, float& peak) {
    if (layout.isFloat) {
        if (layout.bitsPerChannel == 64) {
            scan<double>(bytes, 1.0f, peak);
        } else {
            scan<float>(bytes, 1.0f, peak);
        }
    } else if (layout.bitsPerChannel == 32) {
        scan<std::int32_t>(bytes, std::ldexp(1.0f, -31), peak);
    } else if (layout.bitsPerChannel == 16) {
        scan<std::int16_t>(bytes, std::ldexp(1.0f, -15), peak);
    }
}

std::uint8_t peakLevelByte(float peak) {
    const float level = (20.0f * std::log10(std::max(peak, 0.000001f)) + 60.0f) / 60.0f;
    if (!(level > 0.0f)) return 0;
    if (level >= 1.0f) return 255;
    return static_cast<std::uint8_t>(255.0f * level);
}

std::optional<std::uint8_t> audioPeakLevel(const AVFrame& samples) {
    const auto format = static_cast<AVSampleFormat>(samples.format);
    const int bytesPerSample = av_get_bytes_per_sample(format);
    const int channels = samples.ch_layout.nb_channels;
    if (bytesPerSample <= 0 || channels <= 0 || samples.nb_samples <= 0 || !samples.data[0]) return std::nullopt;
    SampleLayout layout;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT: layout = {true, 32}; break;
    case AV_SAMPLE_FMT_DBL: layout = {true, 64}; break;
    case AV_SAMPLE_FMT_S32: layout = {false, 32}; break;
    case AV_SAMPLE_FMT_S16: layout = {false, 16}; break;
    default: layout = {false, bytesPerSample * 8}; break;  // unsigned 8-bit and 64-bit integers: no reading
    }
    float peak = 0;
    const bool planar = av_sample_fmt_is_planar(format);
    const int planes = planar ? channels : 1;
    const std::size_t perPlane = static_cast<std::size_t>(samples.nb_samples) * static_cast<std::size_t>(bytesPerSample) *
                                 static_cast<std::size_t>(planar ? 1 : channels);
    for (int p = 0; p < planes; ++p) {
        const std::uint8_t* data = samples.extended_data ? samples.extended_data[p] : samples.data[p];
        if (!data) return std::nullopt;
        peakOfSamples(std::span<const std::uint8_t>(data, perPlane), layout, peak);
    }
    return peakLevelByte(peak);
}

}  // namespace morvane
