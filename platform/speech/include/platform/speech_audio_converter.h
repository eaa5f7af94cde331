#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace morvane {

/// Turns interleaved audio of any common sample type, channel count and rate into what the recogniser hears:
/// mono, 16-bit, 16 kHz. Keeps its place between calls, so a stream may arrive in buffers of any size.
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

    Format format_;
    bool valid_ = false;
    std::size_t bytesPerSample_ = 2;
    std::vector<std::byte> partial_;
    // Box filter from the input rate to the output rate: the part of the current output sample filled so far
    // and the weighted sum over it.
    double filled_ = 0;
    double sum_ = 0;
};

}  // namespace morvane
