#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace morvane {

/// Turns interleaved audio of any common sample type, channel count and rate into what the recogniser hears:
/// mono, 16-bit, 16 kHz. Keeps its place between calls, so a stream may arrive in buffers of any size.
///
/// Other rates go through a windowed-sinc low-pass filter below the lower of the two Nyquist frequencies:
/// sound above it would otherwise fold into the band the recogniser listens to. The filter looks only back,
/// so each output sample comes as soon as its input has, a millisecond or two late.
class SpeechAudioConverter {
public:
    enum class SampleType { uint8, int16, int32, float32 };

    struct Format {
        SampleType sampleType = SampleType::int16;
        int channels = 1;
        int sampleRate = 16000;
    };

    static constexpr int outputRate = 16000;

    /// None of a format's fields may be zero or negative; such a format gives no audio at all.
    explicit SpeechAudioConverter(Format format);

    const Format& format() const { return format_; }
    bool isValid() const { return valid_; }

    /// Converts whole frames; a trailing partial frame is kept for the next call.
    std::vector<std::int16_t> convert(std::span<const std::byte> bytes);

private:
    double sampleAt(const std::byte* frame) const;
    /// The filter at this distance (in input samples) from its centre.
    double kernel(double offset) const;

    Format format_;
    bool valid_ = false;
    std::size_t bytesPerSample_ = 2;
    std::vector<std::byte> partial_;
    double step_ = 1.0;         // input samples per output sample
    int halfWidth_ = 0;         // of the filter, in input samples
    std::vector<float> table_;  // the filter, sampled finely over [-halfWidth_, halfWidth_]
    std::deque<double> history_;  // the latest mono input samples, oldest first
    std::int64_t historyStart_ = 0;  // input index of history_.front()
    std::int64_t received_ = 0;      // input samples so far
    std::int64_t produced_ = 0;      // output samples so far
};

}  // namespace morvane
