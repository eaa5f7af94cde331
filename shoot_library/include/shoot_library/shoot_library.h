#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base64.h"
#include "platform/date.h"
#include "platform/dispatch_queue.h"
#include "protocol/deck_edit.h"
#include "protocol/program_cut.h"
#include "protocol/take_numbers.h"
#include "protocol/timeline_rate.h"
#include "protocol/transfer_info.h"

namespace morvane {

class Defaults;
struct ProgramPiece;
struct SoundPiece;
struct TimecodeStart;
struct ProbeResult;
class ProbePool;

/// The remote's store of full-quality captures in desktop mode: a folder per local day inside the shoot folder,
/// the captures named by take, a hidden manifest per day and the day's timeline files for editing applications.
///
/// All state lives on the serial queue "morvane.shoot-library". `importFile` and `addMarker` wait for the queue;
/// `openToday`, `addCut` and `addDeckEdit` return at once. The folder functions run on the caller's thread.
class ShootLibrary {
public:
    /// One filed capture.
    struct Clip {
        std::string file;    ///< name inside the day folder
        std::string camera;  ///< cleaned for file names
        Date start;
        double duration = 0;
        bool isVideo = false;
        std::int64_t take = 0;  ///< 1 and up for movies, 0 for photos
        std::optional<std::int64_t> frameRate;
        std::optional<bool> ntsc;
        std::optional<std::int64_t> width;
        std::optional<std::int64_t> height;
        std::optional<std::int64_t> timecodeFrame;
        /// Whether the movie has a sound track; absent until probed, when it is taken to have one.
        std::optional<bool> hasAudio;
        /// The capture's identifier as its camera sent it: the same capture sent again is not filed twice.
        std::optional<Uuid> id;

        bool soundTrack() const { return hasAudio.value_or(true); }
        friend bool operator==(const Clip&, const Clip&) = default;
    };

    /// One marker of a day.
    struct Marker {
        std::int64_t number = 0;
        Date date;
        std::vector<std::string> cameras;

        friend bool operator==(const Marker&, const Marker&) = default;
    };

    /// The manifest of one day.
    struct Day {
        std::vector<Clip> clips;
        std::vector<Marker> markers;
        std::vector<ProgramCut> cuts;  ///< kept sorted by time
        std::vector<DeckEdit> deckEdits;

        friend bool operator==(const Day&, const Day&) = default;
    };

    /// What `addMarker` hands back: the marker's number and the timecode of its moment.
    struct MarkerStamp {
        std::int64_t number = 0;
        std::string timecode;

        friend bool operator==(const MarkerStamp&, const MarkerStamp&) = default;
    };

    /// The folder a file system is mounted on, holding the given folder; none when it cannot be told.
    using MountFolderOf = std::function<std::optional<std::filesystem::path>(const std::filesystem::path&)>;

    /// Where the library keeps its settings, finds the user's Movies folder and learns which file system a folder
    /// is on.
    struct Environment {
        Defaults* defaults = nullptr;        ///< none: the application's standard defaults
        std::filesystem::path moviesFolder;  ///< empty: the platform's Movies location
        MountFolderOf mountFolderOf;         ///< empty: `mountFolder`, from the disk
    };

    /// Why the shoot folder in use is the one it is.
    enum class FolderUse {
        chosen,      ///< the folder the user chose
        noneChosen,  ///< the default folder: nothing chosen
        missing,     ///< the default folder: the chosen one isn't there
        driveGone,   ///< the default folder: the file system it was chosen on is no longer mounted under it
    };
    /// What the file system says of the chosen folder.
    struct ChosenFacts {
        bool exists = false;
        std::optional<std::filesystem::path> chosenOn;   ///< its mount folder when chosen; none for older choices
        std::optional<std::filesystem::path> mountedOn;  ///< its mount folder now; none when it cannot be told
    };
    /// The shoot folder in use and why.
    struct ShootFolder {
        std::filesystem::path folder;
        FolderUse use = FolderUse::noneChosen;
        std::optional<std::filesystem::path> chosen;  ///< the folder the user chose, when one is stored
    };

    static constexpr std::string_view queueLabel = "morvane.shoot-library";
    static constexpr std::string_view bookmarkKey = "shootFolderBookmark";
    /// The chosen folder's path and the mount folder of the file system it was chosen on, in a list of two.
    static constexpr std::string_view chosenDriveKey = "shootFolderDrive";
    static constexpr std::string_view manifestName = ".quorbelin-shoot.json";
    static constexpr std::string_view perTakeFolderName = "XML per take";

    /// The application's one library, made on first use and never released.
    static ShootLibrary& shared();

    ShootLibrary();
    explicit ShootLibrary(Environment environment);
    /// Cancels the probes not yet started, waits for the ones under way and runs what is queued.
    ~ShootLibrary();
    ShootLibrary(const ShootLibrary&) = delete;
    ShootLibrary& operator=(const ShootLibrary&) = delete;

    // Entries.

    /// Makes today's day current (queued).
    void openToday();
    /// Files a received capture into its day and returns where it now lives; by then the file under its new name and
    /// the day's manifest that lists it are on the disk. A capture sent again after a run that ended between moving
    /// and recording it is filed once, under the name it was given then; one the manifest lists is answered from it
    /// while its movie is there with the arriving file's size, else filed again in place of that entry. Throws
    /// `std::filesystem::filesystem_error` when the file cannot be moved or recorded; the day is then left as it was
    /// and the file is back at `file`. Must not be called from the library's queue.
    std::filesystem::path importFile(const std::filesystem::path& file, const TransferInfo& info,
                                     const std::string& cameraName);
    /// Adds a marker at `at` (now when none) to its day, for the cameras given, and returns its number and
    /// timecode at the rate.
    MarkerStamp addMarker(const std::vector<std::string>& cameras, std::int64_t nominalRate, bool ntsc,
                          std::optional<Date> at = std::nullopt);
    /// Records a program cut this remote made, in the day of its date (queued).
    void addCut(const std::string& camera, Date at);
    /// Records a cut made elsewhere that a camera's status told of at `heardAt` (queued); a camera's copy of it,
    /// which carries the moment it was made, moves it there.
    void addHeardCut(const std::string& camera, Date heardAt);
    /// Files a deck edit in the day of its first piece (queued); an edit without pieces is ignored.
    void addDeckEdit(const DeckEdit& edit);

    /// Waits until the queued entries have run and every probe started so far has been applied. Must not be called
    /// from the library's queue.
    void waitUntilIdle();

    // Folder functions, callable from any thread.

    /// The folder the user chose, when one is stored.
    std::optional<std::filesystem::path> resolveBookmark() const;
    /// Stores the user's choice of shoot folder with the file system it is on now.
    void chooseFolder(const std::filesystem::path& folder);
    /// The shoot folder in use and why: the chosen one while it is there on the file system it was chosen on, else
    /// Movies/Brindlecroft. Creates nothing.
    ShootFolder shootFolder() const;
    /// The folder of `shootFolder`.
    std::filesystem::path defaultFolder() const;
    /// Whether captures go to the chosen folder: a folder whose drive was unmounted from under it, its mount folder
    /// left bare on the system disk, counts as not there.
    static FolderUse folderUse(const std::optional<ChosenFacts>& chosen);
    /// The folder the file system holding `folder` is mounted on; none when `folder` cannot be reached.
    static std::optional<std::filesystem::path> mountFolder(const std::filesystem::path& folder);
    /// The day folder of the date inside the shoot folder, created (with its parents) when missing.
    std::filesystem::path folderURL(Date date) const;
    /// "yyyy-MM-dd" of the date's local day.
    static std::string dayKeyString(Date date);

    // Manifest coding.

    /// Pretty-printed JSON with sorted keys; none when a value cannot be written.
    static std::optional<std::string> encodeManifest(const Day& day);
    /// Reads a manifest; none (with the reason in `error`) when any required part is missing or malformed.
    static std::optional<Day> decodeManifest(std::string_view text, std::string* error = nullptr);
    /// A date of the manifest: seconds since 2001-01-01, or ISO 8601 internet date-time text with or without
    /// fractional seconds.
    static std::optional<Date> decodeDate(const nlohmann::json& value, std::string* error = nullptr);

    // Filing rules.

    static constexpr double takeTolerance = 2.0;
    static constexpr double duplicateCutWindow = 0.5;
    static constexpr std::size_t maxCameraNameLength = 80;

    /// The take of a new movie: the take of the first movie it overlaps (with 2 s of slack) that its camera has
    /// no movie in yet, else a new take numbered in capture order (`numberTakes`), after the day's highest when a
    /// take captured later has its place already.
    static std::int64_t takeNumber(const std::vector<Clip>& clips, const Clip& clip);
    /// The day's movie takes, each with its number and earliest start.
    static std::vector<DayTake> dayTakes(const std::vector<Clip>& clips);
    /// True when the movie (its take set) belongs to a take filed after a take captured later than it: its name
    /// says so.
    static bool filedLate(const std::vector<Clip>& clips, const Clip& clip);
    /// The take of the first movie whose span holds the date.
    static std::optional<std::int64_t> takeAtDate(const std::vector<Clip>& clips, Date date);
    /// "/", ":" and "\" become "-", control characters spaces; white space and dots are trimmed from both ends;
    /// the result is at most 80 characters, or the fallback when nothing is left.
    static std::string cleanFileName(const std::string& name, const std::string& fallback);
    /// The extension of an incoming file name: taken from its last path component only, and only when it is
    /// short and alphanumeric; otherwise the default.
    static std::string fileExtension(const std::string& fileName, bool isVideo);
    /// The first of "base.ext", "base 2.ext", "base 3.ext"… that does not exist yet; base is shortened so that the
    /// name fits the file system's 255-byte limit.
    static std::filesystem::path uniqueURL(const std::filesystem::path& folder, const std::string& base,
                                           const std::string& extension);
    /// True when a name read back from a manifest is one plain path component.
    static bool isPlainFileName(const std::string& name);
    /// Inserts a cut in time order, dropping one of the same camera less than 0.5 s from an existing one.
    static void addCutToDay(Day& day, const ProgramCut& cut);

    /// A camera's copy of a cut this remote made may be stamped as late as this after it (a camera of an older
    /// kind stamps the moment the cut reached it, and a congested link holds cuts back for seconds).
    static constexpr double lateCopyWindow = 3.0;
    /// The cuts of this run that cameras' copies are measured against, names cleaned: those this remote made,
    /// and those made elsewhere that it heard of from a status, at the moment it heard. Not stored.
    struct CutsKnown {
        std::vector<ProgramCut> made;
        std::vector<ProgramCut> heard;
        static constexpr std::size_t limit = 10000;  // a day of cutting is far fewer; the oldest go first
    };
    /// Files one camera's copy of a program cut: a copy of a cut made here (same camera, stamped from 0.5 s before
    /// the cut to `lateCopyWindow` after it) is dropped, so the day keeps the moment the operator cut; a cut heard
    /// of up to `lateCopyWindow` after the copy's moment moves to that moment, when it was made; any other copy
    /// is a cut made elsewhere and is added as `addCutToDay` adds it.
    static void addCameraCut(Day& day, CutsKnown& known, const ProgramCut& copy);

    // Timeline arithmetic.

    /// The most frequent probed rate of the clips (ties: the smaller nominal); 30 without NTSC when none is probed.
    static TimelineRate dayRate(const std::vector<Clip>& clips);
    /// The clips grouped by take, ascending, each group in input order.
    static std::map<std::int64_t, std::vector<Clip>> clipsByTake(const std::vector<Clip>& clips);
    /// The live program of a take window [start, end) from the day's cuts.
    static std::vector<ProgramPiece> programPieces(const std::vector<ProgramCut>& cuts,
                                                   const std::set<std::string>& cameras, std::int64_t start,
                                                   std::int64_t end, const TimelineRate& rate);
    /// The cameras on air at the window start `start`, latest first: the one a cut put on air there, then those
    /// on air before it (cuts of the hour before, as `programPieces` opens a window).
    static std::vector<std::string> onAirBefore(const std::vector<ProgramCut>& cuts,
                                                const std::set<std::string>& cameras, std::int64_t start,
                                                const TimelineRate& rate);
    /// The program where its cameras have pictures: where the camera on air recorded nothing (its program ended,
    /// or it started late), the program holds the camera on air before it that did record there (in the take, or
    /// `before` it), else, between the first and the last picture of a camera on air, the first camera by name
    /// that did. Before that first picture and after that last one only a camera that was on air may show: a
    /// take begins and ends on a camera that was cut to, or shows nothing. `recorded` holds the frames of each
    /// camera's clip that the documents show, [start, end) as a piece.
    static std::vector<ProgramPiece> heldProgram(const std::vector<ProgramPiece>& pieces,
                                                 const std::vector<std::string>& before,
                                                 const std::vector<ProgramPiece>& recorded);
    /// The sound under one picture piece of a deck edit.
    static std::vector<SoundPiece> soundPieces(const Clip& clip, std::int64_t start, std::int64_t end,
                                               const DeckEdit::Sound& sound, const std::vector<Clip>& takeClips,
                                               const TimelineRate& rate);
    /// Ascending order of camera names: code points of the canonically composed text.
    static bool cameraLess(const std::string& a, const std::string& b);

    // Documents.

    static std::string markersEDL(const std::string& dayKey, const Day& day, const TimelineRate& rate);
    static std::string markersCSV(const std::string& dayKey, const Day& day, const TimelineRate& rate);
    /// FCPXML 1.10 of the given clips: a multicam clip per take, its markers, program and deck-edit projects.
    static std::string dayFCPXML(const std::string& dayKey, const Day& day, const std::filesystem::path& folder,
                                 const std::vector<Clip>& clips);
    /// xmeml version 4 of the given clips: per take a take sequence, a program sequence and deck-edit sequences.
    static std::string dayXMEML(const std::string& dayKey, const Day& day, const std::filesystem::path& folder,
                                const std::vector<Clip>& clips);
    /// "F/Ns", or "F×1001/N×1000s" for NTSC; never reduced.
    static std::string fcpxmlTime(std::int64_t frames, std::int64_t nominal, bool ntsc);

    // Probing.

    /// The start timecode recorded in a movie's timecode track.
    static std::optional<TimecodeStart> readTimecodeStart(const std::filesystem::path& movie);
    /// The body of the first top-level atom of the type; none when absent, 64 MiB or more, or malformed.
    static std::optional<Bytes> topLevelAtom(int fd, std::string_view type);
    /// The bodies of the child atoms of the type, in order.
    static std::vector<Bytes> childAtoms(const Bytes& body, std::string_view type);
    /// (nominal, ntsc) of a timecode sample description.
    static std::optional<std::pair<std::int64_t, bool>> timecodeSampleDescription(const Bytes& stsd);
    /// The first chunk offset of a sample table (stco, else co64).
    static std::optional<std::int64_t> firstChunkOffset(const Bytes& stbl);
    /// Reads size, rate, duration and start timecode of a filed movie; none when it has no readable video track.
    static std::optional<ProbeResult> probe(const std::filesystem::path& movie, const std::string& fileName);
    /// Stores a probe's findings in the clip of the current day with that file name (on the queue).
    static bool applyProbe(Day& day, const ProbeResult& result);

private:
    std::filesystem::path importArrivingFile(const std::filesystem::path& file, const TransferInfo& info,
                                             const std::string& cameraName);
    void addCutOnQueue(const std::string& camera, Date at, bool heard);
    void addDeckEditOnQueue(const DeckEdit& edit);
    MarkerStamp addMarkerOnQueue(const std::vector<std::string>& cameras, const TimelineRate& rate, Date at);
    /// The rate Markers.edl and Markers.csv count at, and so the marker's timecode.
    TimelineRate markerListRate() const;
    std::filesystem::path loadManifest(Date date);
    /// Writes the manifest and the timeline files of the current day; true when the manifest now holds the day.
    bool writeDayExports(std::optional<TimelineRate> rate);
    void probeLater(const std::filesystem::path& movie, const std::string& fileName);
    void applyProbeOnQueue(const ProbeResult& result);
    Defaults& defaults() const;
    std::optional<std::filesystem::path> mountFolderOf(const std::filesystem::path& folder) const;

    Environment environment_;

    // Queue state.
    std::string dayKey_;
    std::optional<std::filesystem::path> folder_;
    Day day_;
    CutsKnown cutsKnown_;
    bool manifestBlocked_ = false;            // an unreadable manifest could not be moved aside: never write over it
    std::optional<TimelineRate> cameraRate_;  // the rate given with the last marker

    std::mutex probeMutex_;
    std::condition_variable probesDone_;
    std::size_t probesInFlight_ = 0;
    // The library's own probe workers, stopped before the queue goes.
    std::unique_ptr<ProbePool> probes_;

    // Last, so that it is destroyed first and its remaining work still sees every other member.
    DispatchQueue queue_{std::string(queueLabel)};
};

/// One stretch of the live program on one camera, in time-of-day frames [start, end).
struct ProgramPiece {
    std::string camera;
    std::int64_t start = 0;
    std::int64_t end = 0;

    friend bool operator==(const ProgramPiece&, const ProgramPiece&) = default;
};

/// The part of one camera clip that sounds under a picture piece, in time-of-day frames [start, end).
struct SoundPiece {
    ShootLibrary::Clip clip;
    std::int64_t start = 0;
    std::int64_t end = 0;

    friend bool operator==(const SoundPiece&, const SoundPiece&) = default;
};

/// The first timecode sample of a movie and its description.
struct TimecodeStart {
    std::int64_t frame = 0;
    std::int64_t nominal = 0;
    bool ntsc = false;

    friend bool operator==(const TimecodeStart&, const TimecodeStart&) = default;
};

/// What a probe learnt about a filed movie.
struct ProbeResult {
    std::string fileName;
    double width = 0;
    double height = 0;
    std::optional<double> duration;
    float nominalFrameRate = 0;
    std::optional<TimecodeStart> timecode;
    std::optional<bool> hasAudio;  ///< whether it has a sound track

    friend bool operator==(const ProbeResult&, const ProbeResult&) = default;
};

}  // namespace morvane
