#include "platform/speech_audio_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace morvane {

namespace {
// Steps per input sample at which the filter is tabulated (linear between them).
constexpr int tableSteps = 64;
}  // namespace

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
    if (!valid_ || format.sampleRate == outputRate) return;
    step_ = static_cast<double>(format.sampleRate) / outputRate;
    // Cut-off a little under the lower Nyquist frequency, in cycles per input sample; eight zero crossings of
    // the sinc on each side, under a Hann window.
    const double cutoff = 0.5 * std::min(1.0, 1.0 / step_) * 0.92;
    halfWidth_ = static_cast<int>(std::ceil(8.0 / (2.0 * cutoff)));
    table_.resize(static_cast<std::size_t>(2 * halfWidth_ * tableSteps + 1));
    for (std::size_t i = 0; i < table_.size(); ++i) {
        const double x = static_cast<double>(i) / tableSteps - halfWidth_;
        const double arg = 2.0 * cutoff * x;
        const double sinc = std::abs(arg) < 1e-12 ? 1.0 : std::sin(M_PI * arg) / (M_PI * arg);
        const double window = 0.5 * (1.0 + std::cos(M_PI * x / halfWidth_));
        table_[i] = static_cast<float>(2.0 * cutoff * sinc * window);
    }
}

double SpeechAudioConverter::kernel(double offset) const {
    const double at = (offset + halfWidth_) * tableSteps;
    if (at < 0 || at >= static_cast<double>(table_.size() - 1)) return 0;
    const auto i = static_cast<std::size_t>(at);
    const double frac = at - static_cast<double>(i);
    return table_[i] + (table_[i + 1] - table_[i]) * frac;
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
    const bool resample = format_.sampleRate != outputRate;
    out.reserve(static_cast<std::size_t>(std::ceil(static_cast<double>(frames) / step_)) + 1);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::byte* frame = bytes.data() + f * frameBytes;
        double mono = 0;
        for (int c = 0; c < format_.channels; ++c)
            mono += sampleAt(frame + static_cast<std::size_t>(c) * bytesPerSample_);
        mono /= format_.channels;
        if (!resample) {
            out.push_back(static_cast<std::int16_t>(std::lround(std::clamp(mono, -32768.0, 32767.0))));
            continue;
        }
        history_.push_back(mono);
        ++received_;
        // Every output sample whose time has come: the filter is centred half its width before that time.
        while (static_cast<std::int64_t>(static_cast<double>(produced_) * step_) < received_) {
            const double centre = static_cast<double>(produced_) * step_ - halfWidth_;
            const auto first = std::max<std::int64_t>(historyStart_, static_cast<std::int64_t>(std::ceil(centre - halfWidth_)));
            const auto last = std::min<std::int64_t>(received_ - 1, static_cast<std::int64_t>(std::floor(centre + halfWidth_)));
            double sum = 0;
            for (std::int64_t j = first; j <= last; ++j) {
                sum += history_[static_cast<std::size_t>(j - historyStart_)] * kernel(static_cast<double>(j) - centre);
            }
            out.push_back(static_cast<std::int16_t>(std::lround(std::clamp(sum, -32768.0, 32767.0))));
            ++produced_;
        }
        // Keep what the next output samples reach back to.
        const auto keepFrom = static_cast<std::int64_t>(static_cast<double>(produced_) * step_) - 2 * halfWidth_ - 2;
        while (historyStart_ < keepFrom && !history_.empty()) {
            history_.pop_front();
            ++historyStart_;
        }
    }
    partial_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes), bytes.end());
    return out;
}

}  // namespace morvane
