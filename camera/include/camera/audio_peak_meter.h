#pragma once

#include <cstdint>
#include <optional>
#include <span>

struct AVFrame;

namespace morvane {

/// How the samples of a block of sound are stored.
struct SampleLayout {
    bool isFloat = false;
    int bitsPerChannel = 16;
};

/// Raises `peak` to the largest absolute sample value of the bytes (native byte order, whole samples only; a
/// trailing partial sample is ignored): 32- and 64-bit floats as they are, 32- and 16-bit integers scaled to
/// full scale 1. Other layouts leave the peak as it was; a NaN sample never replaces it.
void peakOfSamples(std::span<const std::uint8_t> bytes, SampleLayout layout, float& peak);

/// The byte sent as the camera's sound level: the block's peak from -60 dB (0) to 0 dB (255). None for a block
/// without samples.
std::optional<std::uint8_t> audioPeakLevel(const AVFrame& samples);

/// The level byte of a peak value.
std::uint8_t peakLevelByte(float peak);

}  // namespace morvane
