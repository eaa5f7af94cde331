#include "platform/h264_format.h"

#include <cstddef>

namespace morvane {

namespace {

constexpr int nalTypeSequenceParameterSet = 7;
constexpr int nalTypePictureParameterSet = 8;
constexpr int nalTypeSequenceParameterSetExtension = 13;
constexpr std::size_t maxParameterSetSize = 65535;

/// Reads bits from a NAL unit's payload with emulation-prevention bytes removed; every read past the end
/// marks the reader failed instead of reading on.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> payload) {
        bytes_.reserve(payload.size());
        int zeros = 0;
        for (auto b : payload) {
            if (zeros >= 2 && b == 3) {
                zeros = 0;
                continue;
            }
            zeros = b == 0 ? zeros + 1 : 0;
            bytes_.push_back(b);
        }
    }

    bool failed() const { return failed_; }
    void fail() { failed_ = true; }

    std::uint32_t bits(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | bit();
        return value;
    }

    std::uint32_t bit() {
        if (position_ >= bytes_.size() * 8) {
            failed_ = true;
            return 0;
        }
        const std::uint32_t b = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u;
        ++position_;
        return b;
    }

    /// Unsigned Exp-Golomb; values that need more than 32 bits fail.
    std::uint32_t ue() {
        int leadingZeros = 0;
        while (!failed_ && bit() == 0) {
            if (++leadingZeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        if (failed_) return 0;
        const std::uint64_t value = (std::uint64_t{1} << leadingZeros) - 1 + bits(leadingZeros);
        if (value > 0xffffffffu) {
            failed_ = true;
            return 0;
        }
        return static_cast<std::uint32_t>(value);
    }

    std::int64_t se() {
        const std::uint32_t k = ue();
        const std::int64_t magnitude = (static_cast<std::int64_t>(k) + 1) / 2;
        return (k & 1u) ? magnitude : -magnitude;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

bool hasChromaInfo(std::uint32_t profile) {
    switch (profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

void skipScalingList(BitReader& r, int size) {
    std::int64_t last = 8;
    std::int64_t next = 8;
    for (int j = 0; j < size && !r.failed(); ++j) {
        if (next != 0) {
            const std::int64_t delta = r.se();
            if (delta < -128 || delta > 127) {
                r.fail();
                return;
            }
            next = (last + delta + 256) % 256;
        }
        if (next != 0) last = next;
    }
}

int nalType(const std::vector<std::uint8_t>& nal) {
    return nal.empty() ? -1 : nal[0] & 0x1f;
}

}  // namespace

std::optional<H264PictureSize> H264PictureSize::fromSequenceParameterSet(std::span<const std::uint8_t> nal) {
    if (nal.size() < 4) return std::nullopt;
    if ((nal[0] & 0x80) != 0 || (nal[0] & 0x1f) != nalTypeSequenceParameterSet) return std::nullopt;
    BitReader r(nal.subspan(1));

    const std::uint32_t profile = r.bits(8);
    r.bits(8);  // constraint flags
    r.bits(8);  // level
    if (r.ue() > 31) return std::nullopt;

    std::uint32_t chromaFormat = 1;
    bool separateColourPlanes = false;
    if (hasChromaInfo(profile)) {
        chromaFormat = r.ue();
        if (chromaFormat > 3) return std::nullopt;
        if (chromaFormat == 3) separateColourPlanes = r.bit() != 0;
        if (r.ue() > 6 || r.ue() > 6) return std::nullopt;  // bit depths
        r.bit();                                            // transform bypass
        if (r.bit()) {
            const int lists = chromaFormat != 3 ? 8 : 12;
            for (int i = 0; i < lists && !r.failed(); ++i) {
                if (r.bit()) skipScalingList(r, i < 6 ? 16 : 64);
            }
        }
    }
    if (r.ue() > 12) return std::nullopt;  // log2 of the largest frame number, less 4
    const std::uint32_t pocType = r.ue();
    if (pocType == 0) {
        if (r.ue() > 12) return std::nullopt;
    } else if (pocType == 1) {
        r.bit();
        r.se();
        r.se();
        const std::uint32_t cycle = r.ue();
        if (cycle > 255) return std::nullopt;
        for (std::uint32_t i = 0; i < cycle && !r.failed(); ++i) r.se();
    } else if (pocType != 2) {
        return std::nullopt;
    }
    r.ue();   // reference frames
    r.bit();  // gaps allowed
    const std::uint64_t widthInMbs = std::uint64_t{r.ue()} + 1;
    const std::uint64_t heightInMapUnits = std::uint64_t{r.ue()} + 1;
    const bool frameMbsOnly = r.bit() != 0;
    if (!frameMbsOnly) r.bit();
    r.bit();  // direct 8x8 inference
    std::uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (r.bit()) {
        cropLeft = r.ue();
        cropRight = r.ue();
        cropTop = r.ue();
        cropBottom = r.ue();
    }
    if (r.failed()) return std::nullopt;

    const std::uint64_t chromaArrayType = separateColourPlanes ? 0 : chromaFormat;
    const std::uint64_t subWidth = (chromaArrayType == 1 || chromaArrayType == 2) ? 2 : 1;
    const std::uint64_t subHeight = chromaArrayType == 1 ? 2 : 1;
    const std::uint64_t fieldFactor = frameMbsOnly ? 1 : 2;
    const std::uint64_t cropUnitX = chromaArrayType == 0 ? 1 : subWidth;
    const std::uint64_t cropUnitY = (chromaArrayType == 0 ? 1 : subHeight) * fieldFactor;

    const std::uint64_t codedWidth = widthInMbs * 16;
    const std::uint64_t codedHeight = heightInMapUnits * 16 * fieldFactor;
    const std::uint64_t cropX = (cropLeft + cropRight) * cropUnitX;
    const std::uint64_t cropY = (cropTop + cropBottom) * cropUnitY;
    if (cropX >= codedWidth || cropY >= codedHeight) return std::nullopt;
    const std::uint64_t width = codedWidth - cropX;
    const std::uint64_t height = codedHeight - cropY;
    if (width > static_cast<std::uint64_t>(H264Format::maxSide) ||
        height > static_cast<std::uint64_t>(H264Format::maxSide)) {
        return std::nullopt;
    }
    return H264PictureSize{static_cast<int>(width), static_cast<int>(height)};
}

std::optional<H264Format> H264Format::make(std::vector<NalUnit> sets) {
    const NalUnit* sps = nullptr;
    bool hasPps = false;
    for (const auto& set : sets) {
        if (set.empty() || set.size() > maxParameterSetSize || (set[0] & 0x80) != 0) return std::nullopt;
        switch (nalType(set)) {
            case nalTypeSequenceParameterSet:
                if (!sps) sps = &set;
                break;
            case nalTypePictureParameterSet:
                hasPps = true;
                break;
            case nalTypeSequenceParameterSetExtension:
                break;
            default:
                return std::nullopt;
        }
    }
    if (!sps || !hasPps) return std::nullopt;
    const auto size = H264PictureSize::fromSequenceParameterSet(*sps);
    if (!size) return std::nullopt;
    H264Format format;
    format.width = size->width;
    format.height = size->height;
    format.parameterSets = std::move(sets);
    return format;
}

}  // namespace morvane
