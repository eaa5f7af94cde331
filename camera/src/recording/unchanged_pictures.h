#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace morvane {

/// Pictures coded as "the same as the one before" in the HEVC stream of a take, for frame slots that got no picture
/// of their own: every block skipped, predicted unmoved from the picture before, so a repeat costs a few bytes and no
/// compression. Each repeat is a picture of the stream like the encoder's, so the pictures the encoder codes after it
/// are numbered on (their order count moved by the repeats written before them) and refer to it, which shows the
/// same picture as the one they were coded against.
///
/// Only a stream whose pictures refer to the one picture before them can be followed so (no B pictures, one reference,
/// no motion taken from earlier pictures); `make` gives none for any other, and a picture the encoder coded otherwise
/// ends the repeats (`canRepeat`). Streams are in Annex B form: each unit after a start code.
class UnchangedPictures {
public:
    /// From the encoder's parameter sets (its extradata).
    static std::unique_ptr<UnchangedPictures> make(const std::uint8_t* extradata, std::size_t size);

    /// The encoder's next picture as it is written: numbered on after the repeats before it. None when it cannot be
    /// read as a picture of this stream.
    std::optional<std::vector<std::uint8_t>> follow(const std::uint8_t* data, std::size_t size);
    /// The picture written last can be repeated.
    bool canRepeat() const { return canRepeat_; }
    /// A repeat of the picture written last, as a picture of the stream.
    std::vector<std::uint8_t> repeat();

    struct Parameters {
        int ppsId = 0;
        int width = 0, height = 0;
        int log2MinCb = 3, log2Ctb = 4;
        int log2MaxPocLsb = 4;
        int shortTermSets = 0;
        bool chroma = true;
        bool sao = false;
        bool outputFlag = false;
        int extraSliceHeaderBits = 0;
        bool cabacInitPresent = false;
        int initQp = 26;
        bool sliceChromaQpOffsets = false;
        bool weightedPred = false;
        bool deblockingOverride = false;
        bool deblockingDisabled = false;
        bool loopFilterAcrossSlices = false;
        bool wavefronts = false;
        bool sliceHeaderExtension = false;
        int activeReferences = 1;
        /// Each short-term set of the sequence: how many pictures right before it it keeps; -1: others.
        std::vector<int> setKeeps;
    };

private:
    explicit UnchangedPictures(Parameters parameters) : p_(std::move(parameters)) {}
    std::vector<std::uint8_t> sliceData(std::vector<std::uint32_t>& rowBytes) const;

    Parameters p_;
    int pocShift_ = 0;  ///< repeats written since the last picture that starts the count anew
    int lastPoc_ = 0;   ///< the order count of the picture written last, as written
    bool canRepeat_ = false;
    int keep_ = 1;  ///< pictures before it that the encoder's pictures keep, at most
    int held_ = 1;  ///< pictures right before the next one that are kept, the last one written included
};

}  // namespace morvane
