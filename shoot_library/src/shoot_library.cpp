#include "shoot_library/shoot_library.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <limits>
#include <thread>

#include "atomic_file.h"
#include "platform/asset_probe.h"
#include "platform/atomic_file.h"
#include "platform/defaults.h"
#include "platform/file_contents.h"
#include "platform/file_moves.h"
#include "platform/uuid.h"
#include "probe_pool.h"
#include "shoot_library/timecode.h"
#include "text_utils.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// Far beyond any real day; a larger file is not ours to load into memory.
constexpr std::uintmax_t maxManifestBytes = 256ull * 1024 * 1024;

constexpr std::size_t maxCutsPerTransfer = 10'000;

// A start timecode further than this from the reported start names another day: keep the reported one.
constexpr double maxTimecodeShift = 12 * 3600.0;

const std::string enDash = "\u2013";

[[noreturn]] void throwMoveError(const fs::path& from, const fs::path& to, std::error_code error) {
    throw fs::filesystem_error("Couldn't file the capture", from, to, error);
}

// How a capture came to be under its name in the day folder.
enum class Arrival { moved, copied, alreadyThere };

// Moves the file without ever replacing one, whole and flushed: the sender forgets its copy once we answer. Across
// file systems the original stays until the capture is recorded. The file is the user's, for any editor to open.
Arrival placeCapture(const fs::path& from, const fs::path& to) {
    std::error_code error;
    const auto placement = placeFile(from, to, error, {.removeOriginal = false, .forUser = true});
    if (!placement) throwMoveError(from, to, error);
    return *placement == Placement::moved ? Arrival::moved : Arrival::copied;
}

// Takes a placement back after the capture could not be recorded: the file returns to where it came from.
void undoPlacement(Arrival arrival, const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (arrival == Arrival::moved) {
        if (renameNoReplace(to, from) != 0) fs::remove(to, ec);  // the caller still has nothing recorded
    } else if (arrival == Arrival::copied) {
        fs::remove(to, ec);
    }
}

// The files this library writes in a day folder, as the temporary files of their atomic writes name them.
bool isDayFolderFile(std::string_view name) {
    return name == ShootLibrary::manifestName || name == "Markers.edl" || name == "Markers.csv" ||
           name.starts_with("Brindlecroft ");
}

// What a run that ended in the middle of a write left in a day folder: temporary files of the manifest and the
// timeline files, and copies from another disk that were still being made.
void removeLeftovers(const fs::path& folder) {
    removeInterruptedWrites(folder, isDayFolderFile);
    removeInterruptedWrites(folder / ShootLibrary::perTakeFolderName,
                            [](std::string_view name) { return name.starts_with("Take "); });
    removeInterruptedPlacements(folder);
}

// True when the filed file is a regular file of the arriving file's size.
bool sameSize(const fs::path& filed, const fs::path& arriving) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(filed, ec))) return false;
    const auto size = fs::file_size(filed, ec);
    if (ec) return false;
    return fs::file_size(arriving, ec) == size && !ec;
}

bool pathExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

enum class ManifestRead { missing, read, unreadable };

ManifestRead readManifest(const fs::path& path, std::string& text) {
    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (ec || status.type() == fs::file_type::not_found) return ManifestRead::missing;
    if (status.type() != fs::file_type::regular) return ManifestRead::unreadable;
    auto contents = readFileContents(path, maxManifestBytes);
    if (!contents) return ManifestRead::unreadable;
    text = std::move(*contents);
    return ManifestRead::read;
}

std::vector<ShootLibrary::Clip> videoClips(const ShootLibrary::Day& day) {
    std::vector<ShootLibrary::Clip> videos;
    for (const auto& clip : day.clips) {
        if (clip.isVideo) videos.push_back(clip);
    }
    return videos;
}

}  // namespace

namespace {
// Set once by `shared`: the library whose probes end when the process exits.
ShootLibrary* sharedLibrary = nullptr;
}  // namespace

ShootLibrary& ShootLibrary::shared() {
    static ShootLibrary* library = [] {
        auto* made = new ShootLibrary();
        sharedLibrary = made;
        // The shared library is never destroyed (others may still file through it while the process ends), but
        // its probes must not run on into the static destruction at exit.
        std::atexit([] { sharedLibrary->probes_->stop(); });
        return made;
    }();
    return *library;
}

ShootLibrary::ShootLibrary() : ShootLibrary(Environment{}) {}

ShootLibrary::ShootLibrary(Environment environment)
    : environment_(std::move(environment)),
      probes_(std::make_unique<ProbePool>(std::clamp(std::thread::hardware_concurrency(), 2u, 4u))) {}

ShootLibrary::~ShootLibrary() {
    // A probe under way hands its result to the queue, which runs it before it goes; probes not started are
    // cancelled (the movies are probed again the next time their day is loaded).
    probes_->stop();
}

Defaults& ShootLibrary::defaults() const {
    return environment_.defaults ? *environment_.defaults : Defaults::standard();
}

// Folders.

namespace {

// The folder a stored choice names: an absolute path.
std::optional<fs::path> storedFolder(const std::string& stored) {
    fs::path folder(stored);
    if (stored.empty() || !folder.is_absolute()) return std::nullopt;
    return folder.lexically_normal();
}

}  // namespace

std::optional<fs::path> ShootLibrary::resolveBookmark() const {
    return storedFolder(defaults().stringValue(std::string(bookmarkKey), ""));
}

void ShootLibrary::chooseFolder(const fs::path& folder) {
    std::error_code ec;
    const std::string stored = fs::absolute(folder, ec).string();
    if (ec) return;
    defaults().set(std::string(bookmarkKey), stored);
    if (auto on = mountFolderOf(stored))
        defaults().set(std::string(chosenDriveKey), std::vector<std::string>{stored, on->string()});
    else
        defaults().remove(std::string(chosenDriveKey));
}

ShootLibrary::FolderUse ShootLibrary::folderUse(const std::optional<ChosenFacts>& chosen) {
    if (!chosen) return FolderUse::noneChosen;
    if (!chosen->exists) return FolderUse::missing;
    // Unmounted, a drive leaves its mount folder on the disk below: filed there, captures would be hidden once the
    // drive is back, and its manifest would list takes it does not hold.
    if (chosen->chosenOn && chosen->mountedOn && *chosen->chosenOn != *chosen->mountedOn) return FolderUse::driveGone;
    return FolderUse::chosen;
}

std::optional<fs::path> ShootLibrary::mountFolder(const fs::path& folder) {
    std::error_code ec;
    fs::path at = fs::canonical(folder, ec);
    struct stat here {};
    if (ec || ::stat(at.c_str(), &here) != 0) return std::nullopt;
    // The file system's top is the last folder up the path on the same device.
    while (at != at.root_path()) {
        struct stat up {};
        if (::stat(at.parent_path().c_str(), &up) != 0) return std::nullopt;
        if (up.st_dev != here.st_dev) break;
        at = at.parent_path();
    }
    return at;
}

std::optional<fs::path> ShootLibrary::mountFolderOf(const fs::path& folder) const {
    return environment_.mountFolderOf ? environment_.mountFolderOf(folder) : mountFolder(folder);
}

ShootLibrary::ShootFolder ShootLibrary::shootFolder() const {
    ShootFolder result;
    const std::string stored = defaults().stringValue(std::string(bookmarkKey), "");
    result.chosen = storedFolder(stored);
    std::optional<ChosenFacts> facts;
    if (result.chosen) {
        facts.emplace();
        facts->exists = pathExists(*result.chosen);
        // What was recorded with another choice, or with none, says nothing of this one.
        const auto drive = defaults().stringList(std::string(chosenDriveKey), {});
        if (facts->exists && drive.size() == 2 && drive[0] == stored) {
            facts->chosenOn = fs::path(drive[1]);
            facts->mountedOn = mountFolderOf(*result.chosen);
        }
    }
    result.use = folderUse(facts);
    if (result.use == FolderUse::chosen) {
        result.folder = *result.chosen;
        return result;
    }
    fs::path movies = environment_.moviesFolder;
    if (movies.empty()) {
        QString location = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        if (location.isEmpty()) location = QDir::homePath() + QStringLiteral("/Movies");
        movies = fs::path(location.toStdString());
    }
    result.folder = movies / "Brindlecroft";
    return result;
}

fs::path ShootLibrary::defaultFolder() const {
    return shootFolder().folder;
}

fs::path ShootLibrary::folderURL(Date date) const {
    const fs::path folder = defaultFolder() / dayKeyString(date);
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder;
}

std::string ShootLibrary::dayKeyString(Date date) {
    return timecode::dayKey(date);
}

// Entries.

void ShootLibrary::openToday() {
    queue_.async([this] { loadManifest(Date::now()); });
}

fs::path ShootLibrary::importFile(const fs::path& file, const TransferInfo& info, const std::string& cameraName) {
    fs::path filed;
    std::exception_ptr error;
    queue_.sync([&] {
        try {
            filed = importArrivingFile(file, info, cameraName);
        } catch (...) {
            error = std::current_exception();
        }
    });
    if (error) std::rethrow_exception(error);
    return filed;
}

ShootLibrary::MarkerStamp ShootLibrary::addMarker(const std::vector<std::string>& cameras, std::int64_t nominalRate,
                                                  bool ntsc, std::optional<Date> at) {
    const TimelineRate rate = timecode::normalised(nominalRate, ntsc);
    const Date when = at.value_or(Date::now());
    return queue_.syncResult([&] { return addMarkerOnQueue(cameras, rate, when); });
}

void ShootLibrary::addCut(const std::string& camera, Date at) {
    queue_.async([this, camera, at] { addCutOnQueue(camera, at, false); });
}

void ShootLibrary::addHeardCut(const std::string& camera, Date heardAt) {
    queue_.async([this, camera, heardAt] { addCutOnQueue(camera, heardAt, true); });
}

void ShootLibrary::addDeckEdit(const DeckEdit& edit) {
    queue_.async([this, edit] { addDeckEditOnQueue(edit); });
}

void ShootLibrary::waitUntilIdle() {
    queue_.sync([] {});
    std::unique_lock lock(probeMutex_);
    probesDone_.wait(lock, [&] { return probesInFlight_ == 0; });
}

// The day on the queue.

fs::path ShootLibrary::loadManifest(Date date) {
    const std::string key = dayKeyString(date);
    const fs::path folder = folderURL(date);
    if (key == dayKey_ && folder_ && *folder_ == folder) return folder;

    dayKey_ = key;
    folder_ = folder;
    day_ = Day{};
    manifestBlocked_ = false;
    removeLeftovers(folder);
    const fs::path manifest = folder / manifestName;
    std::string text;
    const ManifestRead read = readManifest(manifest, text);
    std::optional<Day> decoded;
    if (read == ManifestRead::read) decoded = decodeManifest(text);
    if (decoded) {
        day_ = std::move(*decoded);
        // A manifest edited by hand may list its cuts out of order; filing relies on the order.
        std::stable_sort(day_.cuts.begin(), day_.cuts.end(),
                         [](const ProgramCut& a, const ProgramCut& b) { return a.at < b.at; });
    } else if (read != ManifestRead::missing) {
        manifestBlocked_ = !setAsideUnreadable(manifest);
    }

    for (const auto& clip : day_.clips) {
        if (!clip.isVideo || clip.timecodeFrame || !isPlainFileName(clip.file)) continue;
        const fs::path movie = folder / clip.file;
        if (pathExists(movie)) probeLater(movie, clip.file);
    }
    return folder;
}

fs::path ShootLibrary::importArrivingFile(const fs::path& file, const TransferInfo& info,
                                          const std::string& cameraName) {
    const fs::path folder = loadManifest(info.capturedAt);
    // Sent again after it was filed (the answer was lost with the link or the process): it is here already, unless
    // the filed movie has gone (removed, moved or lost by the disk) since; then this copy is the last one and is
    // filed again in place of that entry.
    const auto filed =
        std::find_if(day_.clips.begin(), day_.clips.end(), [&](const Clip& c) { return c.id == info.id; });
    std::optional<Clip> replaced;
    if (filed != day_.clips.end() && isPlainFileName(filed->file)) {
        if (sameSize(folder / filed->file, file)) {
            std::error_code ignored;
            fs::remove(file, ignored);
            return folder / filed->file;
        }
        replaced = *filed;
    }
    const std::string camera = cleanFileName(cameraName, "Camera");
    const std::string stamp = timecode::timeStamp(info.capturedAt);
    const std::string extension = fileExtension(info.fileName, info.isVideo);

    Clip clip;
    clip.camera = camera;
    clip.start = info.capturedAt;
    const double duration = info.duration.value_or(0);
    clip.duration = std::isfinite(duration) ? duration : 0;
    clip.isVideo = info.isVideo;
    clip.id = info.id;

    std::string base;
    if (clip.isVideo) {
        clip.take = replaced && replaced->isVideo ? replaced->take : takeNumber(day_.clips, clip);
        base = "Take " + text::twoDigits(clip.take) + " " + enDash + " " + stamp + " " + enDash + " " + camera;
        // Files already named keep their names: a take that could not have its place in capture order says so.
        if (filedLate(day_.clips, clip)) base += " (filed late)";
    } else {
        base = "Photo " + enDash + " " + stamp + " " + enDash + " " + camera;
    }
    // A capture is answered only once the manifest lists it: without a manifest to write it is not filed at all.
    if (manifestBlocked_) {
        throw fs::filesystem_error("Couldn't record the capture: the day's manifest cannot be replaced", file,
                                   folder / manifestName, std::make_error_code(std::errc::io_error));
    }

    // The first free name of the take's names; an earlier name that holds exactly these bytes but that the manifest
    // does not list is this capture, moved there by a run that ended before recording it: it is filed once, there.
    fs::path destination;
    Arrival placement = Arrival::moved;
    for (std::int64_t n = 1;; ++n) {
        const fs::path candidate = folder / numberedName(base, "." + extension, n);
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec))) {
            destination = candidate;
            break;
        }
        const std::string name = candidate.filename().string();
        const bool listed =
            std::any_of(day_.clips.begin(), day_.clips.end(), [&](const Clip& c) { return c.file == name; });
        if (!listed && sameContents(candidate, file)) {
            destination = candidate;
            placement = Arrival::alreadyThere;
            break;
        }
    }
    if (placement == Arrival::alreadyThere) {
        // It may never have reached the disk before that run ended.
        syncFile(destination);
        syncFolder(folder);
    } else {
        placement = placeCapture(file, destination);
    }

    const Day before = day_;
    const auto heardBefore = cutsKnown_.heard;  // the only part a camera's copies change
    clip.file = destination.filename().string();
    if (replaced) std::erase(day_.clips, *replaced);
    day_.clips.push_back(clip);
    if (info.cuts) {
        // A camera cuts a few times a minute at most; a list far longer than any file could hold is cut short.
        const std::size_t count = std::min(info.cuts->size(), maxCutsPerTransfer);
        for (std::size_t i = 0; i < count; ++i) addCameraCut(day_, cutsKnown_, (*info.cuts)[i]);
    }
    if (!writeDayExports(std::nullopt)) {
        // Not recorded, so not received: the day stays as it was and the file goes back for the caller to keep.
        day_ = before;
        cutsKnown_.heard = heardBefore;
        undoPlacement(placement, file, destination);
        writeDayExports(std::nullopt);
        throw fs::filesystem_error("Couldn't record the capture in the day's manifest", file, folder / manifestName,
                                   std::make_error_code(std::errc::io_error));
    }
    if (placement != Arrival::moved) {
        std::error_code ignored;
        fs::remove(file, ignored);  // the copy, or the capture already in place, is what was recorded
    }
    if (clip.isVideo) probeLater(destination, clip.file);
    return destination;
}

void ShootLibrary::addCutOnQueue(const std::string& camera, Date at, bool heard) {
    loadManifest(at);
    const ProgramCut cut{cleanFileName(camera, "Camera"), at};
    auto& known = heard ? cutsKnown_.heard : cutsKnown_.made;
    known.push_back(cut);
    if (known.size() > CutsKnown::limit) known.erase(known.begin());
    addCutToDay(day_, cut);
    writeDayExports(std::nullopt);
}

void ShootLibrary::addDeckEditOnQueue(const DeckEdit& edit) {
    if (edit.pieces.empty()) return;
    loadManifest(edit.pieces.front().from);
    auto same =
        std::find_if(day_.deckEdits.begin(), day_.deckEdits.end(), [&](const DeckEdit& e) { return e.id == edit.id; });
    if (same != day_.deckEdits.end() && *same == edit) return;
    std::erase_if(day_.deckEdits, [&](const DeckEdit& e) { return e.id == edit.id; });
    day_.deckEdits.push_back(edit);
    writeDayExports(std::nullopt);
}

ShootLibrary::MarkerStamp ShootLibrary::addMarkerOnQueue(const std::vector<std::string>& cameras,
                                                         const TimelineRate& rate, Date at) {
    loadManifest(at);
    std::int64_t highest = 0;
    for (const auto& marker : day_.markers) highest = std::max(highest, marker.number);
    const std::int64_t number = highest == std::numeric_limits<std::int64_t>::max() ? highest : highest + 1;
    day_.markers.push_back(Marker{number, at, cameras});
    cameraRate_ = rate;
    // The timecode handed back is looked for in the marker lists: it is taken at the rate they are written at.
    const TimelineRate used = markerListRate();
    writeDayExports(std::nullopt);
    return MarkerStamp{number, timecode::timecodeString(timecode::timeOfDayFrames(at, used), used)};
}

TimelineRate ShootLibrary::markerListRate() const {
    // The day's video once a movie of it has been probed; until then the rate the cameras said they record at.
    const auto videos = videoClips(day_);
    const bool probed =
        std::any_of(videos.begin(), videos.end(), [](const Clip& c) { return c.frameRate.has_value(); });
    return probed || !cameraRate_ ? dayRate(videos) : *cameraRate_;
}

bool ShootLibrary::writeDayExports(std::optional<TimelineRate> rate) {
    if (!folder_) return false;
    const fs::path& folder = *folder_;
    bool recorded = false;
    if (!manifestBlocked_) {
        if (auto text = encodeManifest(day_)) recorded = replaceFileContents(folder / manifestName, *text, true);
    }

    const std::vector<Clip> videos = videoClips(day_);
    const TimelineRate exportRate = rate ? *rate : markerListRate();
    replaceFileContents(folder / "Markers.edl", markersEDL(dayKey_, day_, exportRate));
    replaceFileContents(folder / "Markers.csv", markersCSV(dayKey_, day_, exportRate));

    std::vector<Clip> present;
    for (const auto& clip : videos) {
        if (isPlainFileName(clip.file) && pathExists(folder / clip.file)) present.push_back(clip);
    }
    if (present.empty()) return recorded;

    const std::string dayName = "Brindlecroft " + dayKey_;
    replaceFileContents(folder / (dayName + ".fcpxml"), dayFCPXML(dayKey_, day_, folder, present));
    replaceFileContents(folder / (dayName + " " + enDash + " Premiere.xml"), dayXMEML(dayKey_, day_, folder, present));

    const fs::path perTake = folder / perTakeFolderName;
    std::error_code ec;
    fs::create_directories(perTake, ec);
    for (const auto& [take, clips] : clipsByTake(present)) {
        const std::string name = "Take " + text::twoDigits(take);
        replaceFileContents(perTake / (name + ".fcpxml"), dayFCPXML(dayKey_, day_, folder, clips));
        replaceFileContents(perTake / (name + " " + enDash + " Premiere.xml"), dayXMEML(dayKey_, day_, folder, clips));
    }
    return recorded;
}

// Probes.

void ShootLibrary::probeLater(const fs::path& movie, const std::string& fileName) {
    {
        std::lock_guard lock(probeMutex_);
        ++probesInFlight_;
    }
    const auto finished = [this] {
        std::lock_guard lock(probeMutex_);
        if (--probesInFlight_ == 0) probesDone_.notify_all();
    };
    // The library stops its pool before it goes away, so the task may hold it by reference.
    probes_->run(
        [this, movie, fileName, finished] {
            auto result = probe(movie, fileName);
            if (!result) {
                finished();
                return;
            }
            queue_.async([this, result = std::move(*result), finished] {
                applyProbeOnQueue(result);
                finished();
            });
        },
        finished);
}

std::optional<ProbeResult> ShootLibrary::probe(const fs::path& movie, const std::string& fileName) {
    const auto media = AssetProbe::load(movie);
    const AssetProbe::Track* video = media ? media->firstTrack(AssetProbe::Kind::video) : nullptr;
    if (!video) return std::nullopt;
    ProbeResult result;
    result.fileName = fileName;
    // The natural size, as stored: the take's clips are described before any turn for display.
    result.width = video->width;
    result.height = video->height;
    // As long as its pictures: a take finished after a kill keeps sound recorded past its last picture, and a
    // timeline that ran on with it would show no picture there.
    if (video->timeRange && video->timeRange->duration > 0) {
        result.duration = video->timeRange->duration;
    } else if (media->duration && *media->duration > 0) {
        result.duration = media->duration;
    }
    result.nominalFrameRate = std::isfinite(video->frameRate) ? static_cast<float>(video->frameRate) : 0.0f;
    result.timecode = readTimecodeStart(movie);
    result.hasAudio = media->firstTrack(AssetProbe::Kind::audio) != nullptr;
    return result;
}

bool ShootLibrary::applyProbe(Day& day, const ProbeResult& result) {
    auto clip =
        std::find_if(day.clips.begin(), day.clips.end(), [&](const Clip& c) { return c.file == result.fileName; });
    if (clip == day.clips.end()) return false;

    const auto whole = [](double value) -> std::optional<std::int64_t> {
        if (!std::isfinite(value) || std::abs(value) > 1e15) return std::nullopt;
        return static_cast<std::int64_t>(std::trunc(value));
    };
    if (auto w = whole(result.width)) clip->width = *w;
    if (auto h = whole(result.height)) clip->height = *h;
    if (result.duration && std::isfinite(*result.duration) && *result.duration > 0) clip->duration = *result.duration;
    if (result.hasAudio) clip->hasAudio = result.hasAudio;

    if (!result.timecode) {
        double fps = static_cast<double>(result.nominalFrameRate);
        if (!std::isfinite(fps) || fps < 0) fps = 0;
        fps = std::min(fps, 1e6);
        const bool ntsc = std::abs(fps - std::round(fps)) > 0.01;
        const auto nominal = static_cast<std::int64_t>(ntsc ? std::round(fps * 1001.0 / 1000.0) : std::round(fps));
        clip->frameRate = nominal < 2 ? 1 : nominal;
        clip->ntsc = ntsc;
    } else {
        const TimecodeStart& tc = *result.timecode;
        clip->frameRate = tc.nominal;
        clip->ntsc = tc.ntsc;
        clip->timecodeFrame = tc.frame;
        const double fps = TimelineRate::fps(tc.nominal, tc.ntsc);
        if (fps > 0) {
            const Date start =
                timecode::startOfLocalDay(clip->start).addingTimeInterval(static_cast<double>(tc.frame) / fps);
            // A timecode just past midnight on a clip reported just before it (or the reverse) would move the clip
            // by a whole day: it stays where it was reported.
            if (std::abs(start.timeIntervalSince(clip->start)) <= maxTimecodeShift) clip->start = start;
        }
    }
    return true;
}

void ShootLibrary::applyProbeOnQueue(const ProbeResult& result) {
    if (applyProbe(day_, result)) writeDayExports(std::nullopt);
}

}  // namespace morvane
