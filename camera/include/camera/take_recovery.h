#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "camera/take_files.h"
#include "camera/take_journal.h"
#include "platform/video_frame.h"

namespace morvane {

/// Whether a sample's bytes are whole as its codec makes them: H.264 and HEVC length-prefixed NAL units that fill
/// it exactly, each ending in a bit set and free of three zero bytes in a row (which a NAL unit never holds); a
/// ProRes frame whose own sizes (frame, header, pictures, slices) add up to the sample's and whose slices hold no
/// run of eight zero bytes; an AAC block that begins with an element (never two zero bytes) and ends in its end
/// element. Other codecs' bytes are not looked into.
bool sampleBytesWhole(AVCodecID codec, std::span<const std::uint8_t> bytes);

/// Which of a journal's samples lie whole in its movie, taken in the order they lie there. A sample that does not
/// (cut short, out of place, with times that do not follow its track's, or with bytes that are not its codec's) is
/// passed over, and the pictures go on at the next key picture after it (every ProRes picture and AAC block stands
/// alone): a damaged stretch of the movie costs the take only the pictures that cannot be shown.
class WholeSamples {
public:
    WholeSamples(const JournalHeader& header, std::int64_t movieSize);
    /// Whether the sample can lie where its record says: wholly in the movie after the last one kept, with times
    /// that follow the last kept of its track and a length of less than a second, and a picture as a key picture
    /// when it is the first or follows one passed over. Its bytes are then read and looked at (`whole`).
    bool placed(const JournalSample& sample) const;
    /// Whether the sample's bytes, as read from the movie, are whole: it is then kept.
    bool whole(const JournalSample& sample, std::span<const std::uint8_t> bytes);
    /// The sample is not kept (not placed, or not read whole).
    void passOver(const JournalSample& sample);
    /// The sample, found whole, was refused by the muxer: it is not kept either.
    void refused(const JournalSample& sample);
    /// Some picture lies whole: there is a take to finish.
    bool pictures() const { return pictures_; }
    /// Seconds of pictures left out after the first kept: the time between pictures kept that none of them shows,
    /// and a picture's time for each picture passed over after the last kept. Each stretch of time counts once, so
    /// records listed again are no loss.
    double secondsPassedOver() const;
    /// The end of the last sample kept in the movie.
    std::int64_t end() const { return next_; }

private:
    struct Track {
        AVCodecID codec = AV_CODEC_ID_NONE;
        std::int64_t second = 1;  ///< ticks of the track's time base in a second
        std::optional<std::int64_t> lastDts;
    };
    // The pictures' time, in ticks of the picture track: what the kept pictures leave out.
    struct Shown {
        std::optional<std::int64_t> end;  ///< the end of the last picture kept
        std::int64_t gaps = 0;            ///< between pictures kept, shown by none of them
        std::int64_t last = 0;            ///< the latest time of a picture kept or counted after the last kept
        std::int64_t after = 0;           ///< pictures counted after the last kept
    };
    std::vector<Track> tracks_;
    std::int64_t movieSize_ = 0;
    std::int64_t next_ = 0;
    bool pictures_ = false;
    bool needsKey_ = true;    ///< the next picture kept must be a key picture
    double tick_ = 0;         ///< seconds in a tick of the picture track
    std::int64_t frame_ = 1;  ///< ticks of a picture at the take's frame rate
    Shown shown_;
    // The pictures last found whole, each with what was shown before it: the muxer may still refuse them.
    struct Unwritten {
        JournalSample sample;
        Shown before;
    };
    std::vector<Unwritten> unwritten_;
    void show(const JournalSample& s);
};

struct RecoveredTake;

/// What becomes of a movie whose recording was cut off (a crash, a kill, a power cut), from what it and its journal
/// hold. Nothing that might hold footage is removed.
struct TakeRecovery {
    enum class Journal { missing, whole, unknownVersion, damaged };
    enum class Outcome {
        finished,   ///< put back under an index with its whole samples: a take
        asItIs,     ///< it plays as it is (its index was written): a take
        setAside,   ///< nothing of it can be finished: renamed aside in its folder with its journal, the operator told
        leftAlone,  ///< its journal is of another layout: movie and journal left as they are, the operator told
        wantsRoom,  ///< its disk has no room for its index: movie, journal and kept room left as they are, for the
                    ///< next start or when room is made, the operator told
        removed,    ///< it holds no sample: it goes with its journal
    };
    struct Facts {
        Journal journal = Journal::missing;
        /// The journal read whole, some picture lay whole, and the take was finished and its first picture decodes.
        bool finished = false;
        bool plays = false;        ///< the movie opens as it is, with a length, and its first picture decodes
        bool holdsSamples = true;  ///< the movie has bytes beyond its own header, or its header cannot be read
        bool wantsRoom = false;    ///< finishing it failed for want of room on its disk
    };
    static Outcome decide(const Facts& facts);

    /// Which sound a take is finished with: as its journal describes it; with its decoder configuration written again
    /// from the journal's other fields (its rate and channels), when the journalled one does not decode; or none,
    /// when neither decodes.
    enum class Sound { asJournalled, rebuilt, leftOut };

    /// What the operator is told of a movie cut off, once recovered: how much of a finished take was kept and what
    /// was left out, or why it was not stored; none when it is stored as it played (or held nothing). `take`: the
    /// take as the crew knows it, the name it is stored under (or would have been: see `RecoveredTake::startDate`).
    static std::optional<std::string> message(const RecoveredTake& recovered, const std::string& take);
    /// The same for a movie that was not finished. `aside`: the set-aside movie.
    static std::optional<std::string> message(Outcome outcome, const std::string& take,
                                              const std::filesystem::path& aside);
    /// The suffix of a movie set aside: "Take 0002.mov.unfinished".
    static constexpr const char* setAsideSuffix = ".unfinished";
};

/// A movie cut off, after its recovery.
struct RecoveredTake {
    TakeRecovery::Outcome outcome = TakeRecovery::Outcome::removed;
    std::optional<InterruptedTake> take;  ///< finished or as it is
    std::filesystem::path setAsideAs;     ///< where it was set aside (where it is, when it could not be)
    double passedOver = 0;                ///< of a take finished: seconds of pictures left out, damaged
    /// Of a take finished: its sound, as journalled, written again, or left out (it did not decode).
    TakeRecovery::Sound sound = TakeRecovery::Sound::asJournalled;
    /// When its first picture was taken, on the shared clock, as its journal has it: what names a take that was
    /// not finished (as a finished take's `startDate` names it). None without a journal that reads.
    std::optional<Date> startDate;
};

/// Recovers a movie whose recording was cut off (its journal and kept room beside it): finishes it in place from
/// its journal with the samples that lie whole, its last picture carried to the end of its sound as a stopped take's
/// is, or keeps it as it plays, or sets it aside; a journal of another layout leaves both files as they are, and a
/// disk without room for the index leaves all three. The finished take's index goes after every byte that may hold
/// footage, in the room kept for it; a take is stored only when its first picture decodes, and with its sound only
/// when its first block of sound decodes (as journalled, or with its decoder configuration written again from the
/// journal's rate and channels; else the take is finished without its sound). The journal and the kept
/// room go when the take is stored or removed; a movie set aside keeps its journal. A movie already set aside is
/// left as it is.
RecoveredTake recoverTake(const std::filesystem::path& movie);

/// A movie that plays as it is, as a take: its length, and its start from when it was last written.
std::optional<InterruptedTake> takeAsItIs(const std::filesystem::path& movie);

/// The first picture of a movie, decoded; none when it has none that decodes.
SharedFrame firstPictureOf(const std::filesystem::path& movie);

/// The AAC decoder configuration (AudioSpecificConfig) of low-complexity AAC at a rate with a number of channels, as
/// an encoder writes it; none for a number of channels it cannot name.
std::optional<std::string> aacConfiguration(int sampleRate, int channels);

}  // namespace morvane
