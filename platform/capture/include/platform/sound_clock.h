#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

namespace morvane {

/// Where each block of a sound capture lies on the host clock. A reader sees a block only when it is handed over,
/// which may be late, in bursts, or after a stall; the samples themselves run on without a break unless some were
/// lost. So the blocks lie one after the other by their running sample count, anchored to the earliest the reads
/// allow: a block read sooner than the count says moves the count back at once; a count that stays behind the reads
/// moves forward, slowly for drift, and at once when the sound read for `confirmation` seconds all lay behind by an
/// interruption or more, which no late read or burst does. Blocks read behind by an interruption are held until
/// that is decided, so that sound after a loss lies after it, not early; sound read behind a second loss stays held
/// until that one is decided in turn.
///
/// Reads that come later for good look like a loss, but may be the input's delay grown (a sound server changing its
/// latency). Where the input gives each block a time of its own, from its reported delay, those times may excuse a
/// delay they have shown: times that stayed still while the reads fell behind show a longer delay, and the reads are
/// then expected as much later. The input smooths its times over seconds, so a loss moves them on slowly and past the
/// mark: until they have stayed still, the reads tell how much was lost. The count lies no later than where those
/// times settle, however long the input's delay (a second or two for a network microphone).
///
/// A sound server's own client library gives better: where the server's counts say each block was heard, from the
/// stream's write index and the source's latency at the read, unsmoothed (`Times::counted`). Such a time is never
/// before the block was heard, and is exact but for sound lost between the block and the server's write index; the
/// count lies at the earliest of them, and moves on only where the blocks heard over `settle` of sound all lie after
/// it: sound was lost before the first of them, as much as the least says. Where in a stall sound was lost nobody
/// counted: sound read in one lies on the count, the loss at the stall's end (as a buffer that overflows loses its
/// newest sound), and a block handed over late with a loss after it lies before the loss.
class SoundClock {
public:
    enum class Times {
        smoothed,  ///< the input's times, where it gives any, are smoothed over seconds (FFmpeg's inputs)
        counted,   ///< the server's counts, unsmoothed, for every block
    };
    explicit SoundClock(Times times = Times::smoothed) : times_(times) {}

    /// Sound missing for this long or longer is an interruption, written as silence: less than half a frame at
    /// 60 fps, so that the sound after any loss lies within half a frame of its picture.
    static constexpr double interruption = 0.008;
    /// Seconds of sound that must all be read behind the count before that counts.
    static constexpr double confirmation = 0.5;
    /// The longest delay of an input believed: reads later still are sound lost.
    static constexpr double longestDelay = 2;

    /// Takes the next block, `samples` at `rate`, given `latest`: the latest instant (host seconds) at which it can
    /// have begun, as its reader saw it (the read's end less its length), and `reported`: the instant the input says
    /// it began (host seconds), or NaN where it says none. Blocks in capture order. Gives the instant of the first
    /// sample of each block laid by this read, oldest first: none while it is held, the ones held before it with it
    /// once it is decided where they lie.
    std::vector<double> stamp(double latest, std::int64_t samples, int rate, double reported = NAN);
    /// The input ended: the instants of the blocks still held, on the count as it is.
    std::vector<double> finish();

    /// With counted times: sound that lies after the count by this much or less is taken as lying on it (how far
    /// apart the server's counts and its stamps may be).
    static constexpr double tolerance = 0.0005;
    /// With counted times: how much sound must lie after the count, all of it, before the count moves on.
    static constexpr double settle = 0.05;

private:
    struct Seen {
        double read;      ///< when the block was read: `latest` plus its length
        double begun;     ///< `latest`
        double lead;      ///< seconds it was read behind the count and the input's delay
        double reported;  ///< seconds the input's time for it lies behind the count (NaN: none)
    };
    struct Held {
        std::int64_t first;  ///< its first sample on the count
        double lead;         ///< seconds it was read behind the count and the input's delay; with counted times,
                             ///< where its time puts sample 0 of the count
        double reported;     ///< seconds the input's time for it lies behind the count (NaN: none); with counted
                             ///< times, how much later than its time it was read
    };
    std::vector<double> stampCounted(double latest, std::int64_t samples, int rate, double reported);
    void shift(double seconds);
    /// Takes `seconds` more of the reads' lateness for the input's own delay.
    void excuse(double seconds);
    /// Lays the first `blocks` held, on the count as it now is.
    void lay(std::vector<double>& laid, std::size_t blocks);
    /// The sound lost before the held block `after` (the first after a loss seen in the reads, `behind` seconds
    /// behind), up to held block `last`: the reads' amount, or what the input's own times say of it.
    double lostBefore(std::size_t after, std::size_t last, double behind) const;

    Times times_;
    int rate_ = 0;
    double origin_ = 0;          ///< host time of sample 0 of the count
    std::int64_t count_ = 0;     ///< samples stamped so far
    double delay_ = 0;           ///< how much later than the count the reads come, by the input's own times
    double laidReported_ = NAN;  ///< `Held::reported` of the last block laid
    bool lagging_ = false;       ///< the input's times have not reached the count since a loss
    std::deque<Seen> recent_;    ///< the blocks read in the last second
    std::deque<Held> held_;      ///< the blocks not laid yet
};

}  // namespace morvane
