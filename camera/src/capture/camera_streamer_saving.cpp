// Storing what the camera captured: finished takes and photos, into the vault or the photo library, the gallery
// store, the outbox and the take log.

#include <chrono>
#include <cmath>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>

#include "camera/camera_streamer.h"
#include "camera/leftover_plan.h"
#include "camera/take_keeping.h"
#include "camera/take_recovery.h"
#include "platform/atomic_file.h"
#include "platform/ffmpeg_handles.h"
#include "platform/file_moves.h"
#include "platform/log.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// Over the name reserved for it, whole and flushed.
bool moveInto(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    return placeFile(from, to, ec, {.replace = true}).has_value();
}

// A second name for the same bytes where the file system allows it, else a copy. Either shows whole or not at all:
// a file in the outbox is sent as it is.
bool linkOrCopy(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::create_hard_link(from, to, ec);
    if (!ec) return true;
    return placeFile(from, to, ec, {.replace = true, .copy = true}).has_value();
}

// What the library did with a capture, and where the recorded file still is (empty once it went).
struct Kept {
    TakeKeeping::Facts facts;
    std::optional<std::string> vaultFile;
    std::optional<std::string> photoAssetID;
    fs::path recorded;
};

// A capture a start finds in the vault: kept there already, under its name.
bool inVault(const CameraStreamer::Collaborators& c, const fs::path& file) {
    return !c.vaultFolder.empty() && file.parent_path() == c.vaultFolder;
}

// A capture into the library the user chose: moved into the vault, or copied into Pictures under its capture name.
// A drive keeps its takes where they were recorded; one a start finds in the vault stays there under its name.
Kept keepInLibrary(const CameraStreamer::Collaborators& c, TakeKeeping::Library library, const fs::path& file,
                   const std::string& fileName, bool photo) {
    Kept kept;
    kept.facts.library = library;
    kept.facts.sends = c.outbox && (c.defaults ? sendsToMac(*c.defaults) : true);
    kept.facts.photo = photo;
    kept.recorded = file;
    if (inVault(c, file)) {
        kept.facts.library = TakeKeeping::Library::vault;
        kept.vaultFile = file.filename().string();
        kept.recorded.clear();
    } else if (library == TakeKeeping::Library::vault) {
        auto name = reserveFileName(c.vaultFolder, fileName);
        if (name && moveInto(file, c.vaultFolder / *name)) {
            kept.vaultFile = *name;
            kept.recorded.clear();
        } else {
            std::error_code ec;
            if (name) fs::remove(c.vaultFolder / *name, ec);
            kept.facts.keepFailure = "";
        }
    } else if (library == TakeKeeping::Library::pictures) {
        // Under its capture name, as it shows in the library; another file of that name stays as it is.
        if (file.filename() != fileName) {
            const fs::path name(fileName);
            std::error_code ec;
            const auto named = claimFirstFreeName(
                file.parent_path(), name.stem().string(), name.extension().string(),
                [&](const fs::path& candidate) { return renameNoReplace(file, candidate); }, ec);
            if (named) kept.recorded = *named;
        }
        try {
            if (!c.photoLibrary) throw std::runtime_error("no photo library");
            const auto added =
                photo ? c.photoLibrary->addPhoto(kept.recorded) : c.photoLibrary->addVideo(kept.recorded);
            kept.photoAssetID = added.filename().string();
        } catch (const std::exception& e) {
            kept.facts.keepFailure = e.what();
        }
    }
    return kept;
}

// Queues the capture as the take's rule says: an entry naming its vault file, or the recorded file (or a copy of it)
// in the outbox under the capture's id. True when it was queued.
bool queueKept(const CameraStreamer::Collaborators& c, Kept& kept, const TransferInfo& info,
               const std::string& extension) {
    const auto plan = TakeKeeping::plan(kept.facts);
    bool queued = false;
    if (plan.queue == TakeKeeping::Queue::vaultEntry) {
        c.outbox->add({info, Outbox::Item::Location::vault, *kept.vaultFile});
        queued = true;
    } else if (plan.queue != TakeKeeping::Queue::none) {
        const std::string name = info.id.uuidString() + "." + extension;
        const fs::path target = c.outbox->directory() / name;
        const bool move = plan.queue == TakeKeeping::Queue::move;
        if (move ? moveInto(kept.recorded, target) : linkOrCopy(kept.recorded, target)) {
            c.outbox->add({info, Outbox::Item::Location::outbox, name});
            queued = true;
            if (move) kept.recorded.clear();
        }
    }
    if (!queued && plan.removeUnqueued && !kept.recorded.empty()) {
        std::error_code ec;
        fs::remove(kept.recorded, ec);  // the library holds its own copy
    }
    return queued;
}

// What the operator is told of a capture the library could not keep: where it waits.
std::optional<std::string> toldOf(const CameraStreamer::Collaborators& c, const Kept& kept, bool queued) {
    return TakeKeeping::message(kept.facts, queued, c.outbox ? c.outbox->directory() : fs::path(), kept.recorded);
}

// What a take with no sound at all says, from a camera with a microphone.
constexpr const char* kNoSoundMessage = "The take has no sound: the microphone gave nothing. Its pictures are kept";

// Whether a movie has a sound track: one is written only with sound in it.
bool holdsSound(const fs::path& movie) {
    auto input = ff::openLocalMovie(movie.string());
    return input && av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
}

}  // namespace

void CameraStreamer::storeTake(const std::shared_ptr<MovieRecorder>& recorder, const SharedFrame& firstPicture,
                               double offset, bool onDrive) {
    const fs::path movie = recorder->url();
    auto duration = recorder->finish();
    auto started = recorder->startDate();
    if (!duration || !started) {
        // What was written before the failure still plays: the recovery finishes that much, or sets it aside.
        const auto recovered = recoverTake(movie);
        if (recovered.take) {
            duration = recovered.take->duration;
            started = recovered.take->startDate;
        } else {
            std::string told = "Couldn't save the recording";
            if (auto why = TakeRecovery::message(recovered.outcome, movie, recovered.setAsideAs)) told = *why;
            postEvent(CameraEvent{CameraEvent::Kind::failed, told, {}});
            return;
        }
    }
    if (recorder->failedAfterStop()) {
        postEvent(CameraEvent{CameraEvent::Kind::failed,
                              "The take ends early: " + recorder->failureReason().value_or("the disk is full") +
                                  ". What was recorded is kept",
                              {}});
    }
    std::optional<std::string> soundMissing;
    if (recorder->soundLost()) {
        soundMissing = takeWithoutSoundMessage;
    } else if (recorder->soundEndLost()) {
        soundMissing = holdsSound(movie) ? "The take's sound ends early: the microphone's sound of its end never came. "
                                           "Its pictures are kept"
                                         : kNoSoundMessage;
    }
    keepTake(Recorded{movie, *duration, *started, onDrive, soundMissing, true}, firstPicture, offset);
}

std::string CameraStreamer::keepTake(const Recorded& take, const SharedFrame& firstPicture, double offset) {
    TransferInfo info;
    info.capturedAt = take.startDate.addingTimeInterval(offset);
    info.fileName = take.fileName ? *take.fileName
                                  : takeFileName(info.capturedAt, c_.deviceName ? c_.deviceName() : "Camera", "mov");
    info.isVideo = true;
    info.duration = take.duration;
    // Told as a failure that stays, of this take: the remote must not let it pass unread, since every take after it
    // may be silent too.
    auto soundMissing = take.soundMissing;
    if (!take.judged && hasMicrophone() && !holdsSound(take.movie)) soundMissing = kNoSoundMessage;
    if (soundMissing) {
        postEvent(
            CameraEvent{CameraEvent::Kind::failed, *soundMissing, {}, "take:" + info.fileName, std::nullopt, true});
    }
    if (c_.cutLog) {
        auto cuts = c_.cutLog->cuts(info.capturedAt, info.capturedAt.addingTimeInterval(take.duration));
        if (!cuts.empty()) info.cuts = std::move(cuts);
    }

    const auto library = take.onDrive                                               ? TakeKeeping::Library::drive
                         : c_.defaults && c_.defaults->boolValue("useVault", false) ? TakeKeeping::Library::vault
                                                                                    : TakeKeeping::Library::pictures;
    Kept kept = keepInLibrary(c_, library, take.movie, info.fileName, false);
    TakeLog::Entry entry;
    entry.vaultFile = kept.vaultFile;
    entry.photoAssetID = kept.photoAssetID;
    if (take.onDrive) entry.driveFile = take.movie.string();

    // In the take log before the gallery and the outbox: a camera that ends before the entry leaves a take the log
    // describes, which the next start lists, and none out of the log; one in the vault that none of them names is
    // stored again where it is.
    entry.info = info;
    if (c_.takeLog) c_.takeLog->append(entry);

    std::optional<GalleryItem> item;
    if (!kept.facts.keepFailure && firstPicture && c_.store) {
        auto thumbnail = jpegOfPicture(*firstPicture, 240, 0.6);
        auto preview = jpegOfPicture(*firstPicture, 1600, 0.8);
        if (thumbnail && preview) {
            CaptureStore::Pending pending;
            pending.item.id = info.id;
            pending.item.date = Date::now();
            pending.item.isVideo = true;
            pending.item.duration = take.duration;
            pending.item.thumbnail = std::move(*thumbnail);
            pending.item.vaultFile = entry.vaultFile;
            pending.item.photoAssetID = entry.photoAssetID;
            pending.preview = std::move(*preview);
            c_.store->add(pending);
            item = pending.item;
        }
    }

    const bool queued = queueKept(c_, kept, info, "mov");
    // Stored and queued: a take on a drive no longer needs its journal to show that it is still to be queued. One the
    // outbox could not take keeps it, and goes there at the next start.
    if (queued || TakeKeeping::plan(kept.facts).queue == TakeKeeping::Queue::none) {
        std::error_code ec;
        fs::remove(journalOf(take.movie), ec);
        fs::remove(reserveOf(take.movie), ec);
    }
    if (auto told = toldOf(c_, kept, queued)) {
        postEvent(CameraEvent{CameraEvent::Kind::failed, *told, {}});
    } else {
        postEvent(CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, item});
    }

    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    c_.main->async([weak, entry, item] {
        auto self = weak.lock();
        if (!self) return;
        if (self->onTakeSaved) self->onTakeSaved(entry);
        if (self->onTakeFinished) self->onTakeFinished(Take{entry, item});
    });
    return info.fileName;
}

void CameraStreamer::savePhoto(const Bytes& data, const std::string& extension) {
    const Date capturedAt = Date::now().addingTimeInterval(clockOffset());
    auto pending = CaptureStore::makePending(data);
    TransferInfo info;
    info.id = pending ? pending->item.id : Uuid();
    info.fileName = takeFileName(capturedAt, c_.deviceName ? c_.deviceName() : "Camera", extension);
    info.capturedAt = capturedAt;
    info.isVideo = false;
    const bool vault = c_.defaults && c_.defaults->boolValue("useVault", false);

    // The photo's own file first, in the camera's folder as a take's is: what the library cannot keep goes to the
    // remote from there, as a take does. The name is claimed as it is chosen: two photos in one second get two files.
    auto name = c_.recordingFolder.empty() ? std::nullopt : reserveFileName(c_.recordingFolder, info.fileName);
    if (!name || !writeFileAtomically(c_.recordingFolder / *name, data, AtomicWriteOptions{fs::perms(0600), true})) {
        std::error_code ec;
        if (name) fs::remove(c_.recordingFolder / *name, ec);
        postEvent(CameraEvent{CameraEvent::Kind::failed,
                              vault ? "Couldn't save to the vault" : "Couldn't save to Pictures › Brindlecroft",
                              {}});
        return;
    }
    keepPhoto(c_.recordingFolder / *name, info, std::move(pending));
}

void CameraStreamer::keepPhoto(const fs::path& file, const TransferInfo& info,
                               std::optional<CaptureStore::Pending> pending) {
    const bool vault = c_.defaults && c_.defaults->boolValue("useVault", false);
    Kept kept = keepInLibrary(c_, vault ? TakeKeeping::Library::vault : TakeKeeping::Library::pictures, file,
                              file.filename().string(), true);
    // Queued before the gallery names it: a photo in the vault that the gallery names was queued (or sent) already.
    const std::string extension = file.extension().string();
    const bool queued = queueKept(c_, kept, info, extension.empty() ? extension : extension.substr(1));
    if (!kept.facts.keepFailure) {
        std::optional<GalleryItem> item;
        if (pending && c_.store) {
            pending->item.vaultFile = kept.vaultFile;
            pending->item.photoAssetID = kept.photoAssetID;
            c_.store->add(*pending);
            item = pending->item;
        }
        postEvent(CameraEvent{CameraEvent::Kind::photoSaved, std::nullopt, item});
    }
    if (auto told = toldOf(c_, kept, queued)) postEvent(CameraEvent{CameraEvent::Kind::failed, *told, {}});
}

// MARK: - What an earlier run left

namespace {

// When a file was last written; now when that cannot be told.
Date writtenAt(const fs::path& file) {
    std::error_code ec;
    const auto written = fs::last_write_time(file, ec);
    return ec ? Date::now() : Date::fromSystem(std::chrono::file_clock::to_sys(written));
}

// The journals looked at, each held for the run: no other camera program finishes a take while this one does.
struct Holds {
    std::vector<int> fds;
    ~Holds() {
        for (int fd : fds) ::close(fd);
    }
};

// What a journal says of its take, and whether a program alive holds it.
void journalFacts(const fs::path& path, LeftoverPlan::File& file, Holds& holds) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        file.held = true;
        ::close(fd);
        return;
    }
    holds.fds.push_back(fd);
    std::ifstream in(path, std::ios::binary);
    JournalReader reader(in);
    if (reader.state() == JournalReader::State::whole) file.owner = reader.header().camera;
}

// `takes`: a folder where takes are recorded; `ownMovies`: the camera's own, where every movie is still to be stored.
LeftoverPlan::Folder folderFacts(const fs::path& at, const std::vector<fs::path>& files, bool takes, bool ownMovies,
                                 Holds& holds) {
    LeftoverPlan::Folder folder{at, {}, {}};
    std::set<std::string> names;
    for (const auto& path : files) names.insert(path.filename().string());
    for (const auto& path : files) {
        std::error_code ec;
        const auto status = fs::symlink_status(path, ec);
        if (ec || !fs::is_regular_file(status)) continue;  // gone since the listing, or no file of ours
        LeftoverPlan::File file;
        file.name = path.filename().string();
        file.size = fs::file_size(path, ec);
        if (ec) continue;
        file.written = writtenAt(path);
        if (takes && movieOfJournal(path)) journalFacts(path, file, holds);
        // Opened only where it decides something: a drive's own takes are many and stay as they are.
        const bool journaled = names.count(journalOf(path).filename().string()) > 0;
        if (takes && path.extension() == ".mov" && (journaled || ownMovies))
            file.plays = file.size > 0 && takeAsItIs(path).has_value();
        folder.files.push_back(std::move(file));
    }
    return folder;
}

// A capture's file named after its id.
bool namedByID(const fs::path& file) {
    return Uuid::parse(file.stem().string()).has_value();
}

CameraEvent standing(const std::string& message, const fs::path& take) {
    CameraEvent event{CameraEvent::Kind::failed, message, {}};
    event.subject = "take:" + take.filename().string();
    return event;
}

}  // namespace

void CameraStreamer::runLeftovers(const LeftFolders& folders, const std::optional<fs::path>& recording) {
    Holds holds;
    LeftoverPlan::Listing listing;
    if (folders.recording) {
        listing.recording = folderFacts(folders.recording->path, folders.recording->files, true, true, holds);
    }
    for (const auto& drive : folders.drives)
        listing.drives.push_back(folderFacts(drive.path, drive.files, true, false, holds));
    const auto listedIn = [](const Outbox& outbox) {
        std::set<std::string> names;
        for (const auto& item : outbox.items())
            if (item.location == Outbox::Item::Location::outbox) names.insert(item.fileName);
        return names;
    };
    if (folders.vault) {
        listing.vault = folderFacts(folders.vault->path, folders.vault->files, false, false, holds);
        if (c_.outbox) {
            for (const auto& item : c_.outbox->items())
                if (item.location == Outbox::Item::Location::vault) listing.vault.listed.insert(item.fileName);
        }
        if (c_.store) {
            for (const auto& item : c_.store->items())
                if (item.vaultFile) listing.vault.listed.insert(*item.vaultFile);
        }
    }
    if (folders.outbox && c_.outbox) {
        listing.outbox = folderFacts(folders.outbox->path, folders.outbox->files, false, false, holds);
        listing.outbox.listed = listedIn(*c_.outbox);
    }
    if (folders.deckCopies && c_.deckOutbox) {
        listing.deckCopies = folderFacts(folders.deckCopies->path, folders.deckCopies->files, false, false, holds);
        listing.deckCopies.listed = listedIn(*c_.deckOutbox);
    }
    if (c_.takeLog) listing.takeLog = c_.takeLog->entries();
    listing.recordingNow = recording;
    listing.camera = c_.cameraIdentity ? c_.cameraIdentity() : std::string();
    listing.deviceName = c_.deviceName ? c_.deviceName() : "Camera";

    std::map<std::string, Outbox::Unlisted> waiting, waitingCopies;
    std::vector<TakeLog::Entry> cutCopies;
    for (const auto& step : LeftoverPlan::plan(listing)) {
        const bool inOutbox = folders.outbox && step.file.parent_path() == folders.outbox->path;
        const bool inDeckCopies = folders.deckCopies && step.file.parent_path() == folders.deckCopies->path;
        const std::string name = step.file.filename().string();
        switch (step.kind) {
            case LeftoverPlan::Step::Kind::finish:
            case LeftoverPlan::Step::Kind::setAside:
                finishLeftTake(step.file, step.onDrive);
                break;
            case LeftoverPlan::Step::Kind::store:
                if (step.photo) {
                    log::info("CameraStreamer", "stores a photo left unstored: " + name);
                    TransferInfo info;
                    info.fileName = name;
                    info.capturedAt = writtenAt(step.file);
                    info.isVideo = false;
                    // One in the vault is in the gallery once stored: a start after it was sent finds it named.
                    std::optional<CaptureStore::Pending> pending;
                    if (inVault(c_, step.file)) {
                        std::ifstream in(step.file, std::ios::binary);
                        pending = CaptureStore::makePending(Bytes(std::istreambuf_iterator<char>(in), {}));
                        if (pending) info.id = pending->item.id;
                    }
                    keepPhoto(step.file, info, std::move(pending));
                } else {
                    storeLeftTake(step.file, step.onDrive);
                }
                break;
            case LeftoverPlan::Step::Kind::queue:
                if (inOutbox) {
                    waiting[name] = {Outbox::Unlisted::Kind::waiting, *step.info};
                } else if (inDeckCopies) {
                    waitingCopies[name] = {Outbox::Unlisted::Kind::waiting, *step.info};
                } else if (c_.outbox && (!c_.defaults || sendsToMac(*c_.defaults))) {
                    // Stored before the camera ended, not yet in the outbox: it goes there now, as `keepTake` sends.
                    log::info("CameraStreamer", "queues a take stored but not queued: " + name);
                    const std::string queued = step.info->id.uuidString() + step.file.extension().string();
                    const fs::path target = c_.outbox->directory() / queued;
                    if (step.onDrive ? linkOrCopy(step.file, target) : moveInto(step.file, target)) {
                        c_.outbox->add({*step.info, Outbox::Item::Location::outbox, queued});
                        std::error_code ec;
                        fs::remove(journalOf(step.file), ec);
                        fs::remove(reserveOf(step.file), ec);
                    }
                }
                break;
            case LeftoverPlan::Step::Kind::makeDeckCopy:
                if (auto entry = c_.takeLog ? c_.takeLog->entry(step.info->id) : std::nullopt)
                    cutCopies.push_back(*entry);
                break;
            case LeftoverPlan::Step::Kind::leave:
                if (step.told) postEvent(standing(*step.told, step.file));
                break;
            case LeftoverPlan::Step::Kind::remove:
                if (inDeckCopies && !name.starts_with(".")) {
                    waitingCopies[name] = {Outbox::Unlisted::Kind::sent, {}};
                } else if (inOutbox && !name.starts_with(".")) {
                    waiting[name] = {Outbox::Unlisted::Kind::sent, {}};
                } else {
                    std::error_code ec;
                    fs::remove(step.file, ec);
                }
                break;
        }
    }
    const auto describe = [](const std::map<std::string, Outbox::Unlisted>& told) {
        return [&told](const std::string& name) {
            auto found = told.find(name);
            return found == told.end() ? Outbox::Unlisted{} : found->second;
        };
    };
    if (!waiting.empty()) c_.outbox->settleUnlisted(describe(waiting));
    if (!waitingCopies.empty()) c_.deckOutbox->settleUnlisted(describe(waitingCopies));
    if (!cutCopies.empty()) {
        std::weak_ptr<CameraStreamer> weak = weak_from_this();
        c_.main->async([weak, cutCopies] {
            if (auto self = weak.lock(); self && self->onDeckCopiesCut) self->onDeckCopiesCut(cutCopies);
        });
    }
}

void CameraStreamer::finishLeftTake(const fs::path& movie, bool onDrive) {
    const auto recovered = recoverTake(movie);
    std::error_code ec;
    if (recovered.take) {
        log::info("CameraStreamer", "finished a take cut short: " + movie.filename().string());
        const auto& rest = *recovered.take;
        const std::string name = keepTake(Recorded{rest.movie, rest.duration, rest.startDate, onDrive},
                                          firstPictureOf(rest.movie), clockOffset());
        if (auto told = TakeRecovery::message(recovered, name)) postEvent(standing(*told, name));
    } else if (recovered.outcome == TakeRecovery::Outcome::setAside &&
               fs::file_size(recovered.setAsideAs, ec) <= LeftoverPlan::emptyMovieBytes && !ec) {
        // A header without a sample: no footage to keep.
        fs::remove(recovered.setAsideAs, ec);
        fs::remove(journalOf(recovered.setAsideAs), ec);
    } else if (auto told = TakeRecovery::message(recovered, movie)) {
        postEvent(standing(*told, recovered.setAsideAs.empty() ? movie : recovered.setAsideAs));
    } else {
        log::info("CameraStreamer", "nothing to keep of " + movie.filename().string());
    }
    // Left as it was, journal and all: tried again when room is made.
    if (recovered.outcome == TakeRecovery::Outcome::wantsRoom) waitsForRoom_ = true;
}

void CameraStreamer::storeLeftTake(const fs::path& movie, bool onDrive) {
    auto whole = takeAsItIs(movie);
    if (!whole && inVault(c_, movie)) {
        log::info("CameraStreamer", "leaves a movie in the vault that does not play: " + movie.filename().string());
        return;
    }
    if (!whole) {
        finishLeftTake(movie, onDrive);
        return;
    }
    log::info("CameraStreamer", "stores a take left unstored: " + movie.filename().string());
    // Its journal, when it still has one, knows when it began.
    std::ifstream in(journalOf(movie), std::ios::binary);
    if (in.is_open()) {
        JournalReader reader(in);
        if (reader.state() == JournalReader::State::whole) whole->startDate = Date{reader.header().startDate};
    }
    Recorded take{movie, whole->duration, whole->startDate, onDrive};
    // Already under its capture name: stored before, and the library knows that name.
    if (!onDrive && !namedByID(movie)) take.fileName = movie.filename().string();
    keepTake(take, firstPictureOf(movie), clockOffset());
}

}  // namespace morvane
