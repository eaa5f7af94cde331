#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "camera/take_files.h"
#include "camera/take_journal.h"

namespace morvane {

/// Whether a sample's bytes are whole as its codec makes them: H.264 and HEVC length-prefixed NAL units that fill
/// it exactly, each ending in a bit set and free of three zero bytes in a row (which a NAL unit never holds); a
/// ProRes frame whose own sizes (frame, header, pictures, slices) add up to the sample's and whose slices hold no
/// run of eight zero bytes; an AAC block ending in its end element. Other codecs' bytes are not looked into.
bool sampleBytesWhole(AVCodecID codec, std::span<const std::uint8_t> bytes);

/// Which of a journal's samples lie whole in its movie, taken in the order they lie there: a take cut off is
/// finished with the samples before the first that does not (cut short, out of place, or with bytes that are not
/// its codec's), which ends the take; a damaged movie keeps what lies before the damage.
class WholeSamples {
public:
    WholeSamples(const JournalHeader& header, std::int64_t movieSize);
    /// Whether the sample can lie where its record says: wholly in the movie after the one before it, with times a
    /// take can have, and a picture first only as a key frame. Its bytes are then read and looked at (`whole`).
    bool placed(const JournalSample& sample) const;
    /// Whether the sample's bytes, as read from the movie, are whole; the take goes on only if so.
    bool whole(const JournalSample& sample, std::span<const std::uint8_t> bytes);
    /// Some picture lies whole: there is a take to finish.
    bool pictures() const { return pictures_; }
    /// The end of the last whole sample in the movie.
    std::int64_t end() const { return next_; }

private:
    std::vector<AVCodecID> codecs_;
    std::int64_t movieSize_ = 0;
    std::int64_t next_ = 0;
    bool pictures_ = false;
};

/// What becomes of a movie whose recording was cut off (a crash, a kill, a power cut), from what it and its journal
/// hold. Nothing that might hold footage is removed.
struct TakeRecovery {
    enum class Journal { missing, whole, unknownVersion, damaged };
    enum class Outcome {
        finished,   ///< put back under an index with its whole samples: a take
        asItIs,     ///< it plays as it is (its index was written): a take
        setAside,   ///< nothing of it can be finished: renamed aside in its folder, kept, and the operator told
        leftAlone,  ///< its journal is of another layout: movie and journal left as they are, the operator told
        removed,    ///< it holds no sample: it goes with its journal
    };
    struct Facts {
        Journal journal = Journal::missing;
        bool finished = false;     ///< the journal read whole and some picture lay whole: the take was finished
        bool plays = false;        ///< the movie opens as it is, with a length
        bool holdsSamples = true;  ///< the movie has bytes where samples lie (beyond its header, if known)
    };
    static Outcome decide(const Facts& facts);

    /// What the operator is told; none when the take is stored (or there was none). `aside`: the set-aside movie.
    static std::optional<std::string> message(Outcome outcome, const std::filesystem::path& movie,
                                              const std::filesystem::path& aside);
    /// The suffix of a movie set aside: "Take 0002.mov.unfinished".
    static constexpr const char* setAsideSuffix = ".unfinished";
};

/// A movie cut off, after its recovery.
struct RecoveredTake {
    TakeRecovery::Outcome outcome = TakeRecovery::Outcome::removed;
    std::optional<InterruptedTake> take;  ///< finished or as it is
    std::filesystem::path setAsideAs;     ///< where it was set aside (where it is, when it could not be)
};

/// Recovers a movie whose recording was cut off (its journal and kept room beside it): finishes it in place from
/// its journal as far as its samples lie whole, or keeps it as it plays, or sets it aside; a journal of another
/// layout leaves both files as they are. The journal and the kept room go unless they are left alone.
RecoveredTake recoverTake(const std::filesystem::path& movie);

/// A movie that plays as it is, as a take: its length, and its start from when it was last written.
std::optional<InterruptedTake> takeAsItIs(const std::filesystem::path& movie);

}  // namespace morvane
