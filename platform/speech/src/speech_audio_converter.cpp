#include "platform/speech_audio_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace morvane {

SpeechAudioConverter::SpeechAudioConverter(Format format) : format_(format) {
    switch (format.sampleType) {
        case SampleType::uint8:
            bytesPerSample_ = 1;
            break;
        case SampleType::int16:
            bytesPerSample_ = 2;
            break;
        case SampleType::int32:
        case SampleType::float32:
            bytesPerSample_ = 4;
            break;
    }
    valid_ = format.channels > 0 && format.channels <= 64 && format.sampleRate > 0 && format.sampleRate <= 768000;
}

double SpeechAudioConverter::sampleAt(const std::byte* p) const {
    switch (format_.sampleType) {
        case SampleType::uint8:
            return (static_cast<double>(std::to_integer<std::uint8_t>(*p)) - 128.0) * 256.0;
        case SampleType::int16: {
            std::int16_t v;
            std::memcpy(&v, p, sizeof v);
            return v;
        }
        case SampleType::int32: {
            std::int32_t v;
            std::memcpy(&v, p, sizeof v);
            return static_cast<double>(v) / 65536.0;
        }
        case SampleType::float32: {
            float v;
            std::memcpy(&v, p, sizeof v);
            if (!std::isfinite(v)) return 0;
            return static_cast<double>(v) * 32767.0;
        }
    }
    return 0;
}

std::vector<std::int16_t> SpeechAudioConverter::convert(std::span<const std::byte> bytes) {
    std::vector<std::int16_t> out;
    if (!valid_) return out;
    const std::size_t frameBytes = bytesPerSample_ * static_cast<std::size_t>(format_.channels);
    std::vector<std::byte> joined;
    if (!partial_.empty()) {
        joined.reserve(partial_.size() + bytes.size());
        joined.insert(joined.end(), partial_.begin(), partial_.end());
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        bytes = joined;
    }
    const std::size_t frames = bytes.size() / frameBytes;
    const double step = static_cast<double>(outputRate) / format_.sampleRate;  // output samples per input frame
    out.reserve(static_cast<std::size_t>(std::ceil(static_cast<double>(frames) * step)) + 1);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::byte* frame = bytes.data() + f * frameBytes;
        double mono = 0;
        for (int c = 0; c < format_.channels; ++c)
            mono += sampleAt(frame + static_cast<std::size_t>(c) * bytesPerSample_);
        mono /= format_.channels;
        double remaining = step;
        while (remaining > 0) {
            const double take = std::min(remaining, 1.0 - filled_);
            sum_ += mono * take;
            filled_ += take;
            remaining -= take;
            if (filled_ >= 1.0 - 1e-9) {
                out.push_back(static_cast<std::int16_t>(std::lround(std::clamp(sum_, -32768.0, 32767.0))));
                sum_ = 0;
                filled_ = 0;
            }
        }
    }
    partial_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes), bytes.end());
    return out;
}

}  // namespace morvane
