#pragma once

#include <cstdint>
#include <deque>

namespace morvane {

/// Where each block of a sound capture lies on the host clock. A reader sees a block only when it is handed over,
/// which may be late, in bursts, or after a stall; the samples themselves run on without a break unless some were
/// lost. So the blocks lie one after the other by their running sample count, anchored to the earliest the reads
/// allow: a block read sooner than the count says moves the count back at once; a count that stays behind the reads
/// moves forward, slowly for drift, and at once by the whole amount when every block read for `confirmation`
/// seconds lay behind by an interruption or more, which no late read or burst does.
class SoundClock {
public:
    /// Sound missing for this long or longer is an interruption, written as silence.
    static constexpr double interruption = 0.03;
    /// Seconds of reads that must all lie behind the count before that counts.
    static constexpr double confirmation = 0.5;

    /// The instant of the first of `samples` at `rate`, given `latest`: the latest instant (host seconds) at which
    /// the block can have begun, as its reader saw it (the read's end less its length). Blocks in capture order.
    double stamp(double latest, std::int64_t samples, int rate);

private:
    struct Seen {
        double read;  ///< when the block was read: `latest` plus its length
        double lead;  ///< seconds it was read behind the count
    };
    void shift(double seconds);

    int rate_ = 0;
    double origin_ = 0;        ///< host time of sample 0 of the count
    std::int64_t count_ = 0;   ///< samples stamped so far
    std::deque<Seen> recent_;  ///< the blocks read in the last second
};

}  // namespace morvane
