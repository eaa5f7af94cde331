#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace morvane {

/// The format of an H.264 stream as made from its parameter sets: the sets themselves (raw NAL units without
/// start codes, in the order given) and the picture size that the first sequence parameter set describes.
/// Access units that go with it carry 4-byte big-endian NAL lengths.
struct H264Format {
    using NalUnit = std::vector<std::uint8_t>;

    std::vector<NalUnit> parameterSets;
    int width = 0;
    int height = 0;

    /// Largest side accepted from a stream; bigger pictures are refused rather than allocated.
    static constexpr int maxSide = 8192;

    /// The format for these parameter sets: none unless there is at least one sequence and one picture
    /// parameter set, every set is a well-formed parameter-set NAL unit of at most 65535 bytes, and the first
    /// sequence parameter set gives a picture size within `maxSide`.
    static std::optional<H264Format> make(std::vector<NalUnit> parameterSets);

    friend bool operator==(const H264Format&, const H264Format&) = default;
};

/// The cropped picture size described by one sequence parameter set NAL unit (header byte included), or none
/// when the unit is not a sequence parameter set or does not parse.
struct H264PictureSize {
    int width = 0;
    int height = 0;

    static std::optional<H264PictureSize> fromSequenceParameterSet(std::span<const std::uint8_t> nalUnit);

    friend bool operator==(const H264PictureSize&, const H264PictureSize&) = default;
};

}  // namespace morvane
