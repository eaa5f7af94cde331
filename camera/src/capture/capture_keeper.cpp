// Keeping what the camera captured: finished takes and photos, into the vault or the photo library, the gallery
// store, the outbox and the take log; and what an earlier run left on their way.

#include "camera/capture_keeper.h"

#include <fcntl.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <fstream>
#include <iterator>
#include <utility>

extern "C" {
#include <libswscale/swscale.h>
}

#include "camera/take_files.h"
#include "camera/take_journal.h"
#include "camera/take_keeping.h"
#include "camera/take_recovery.h"
#include "platform/atomic_file.h"
#include "platform/ffmpeg_handles.h"
#include "platform/file_moves.h"
#include "platform/log.h"

namespace morvane {

namespace fs = std::filesystem;

using Occasion = LeftoverPlan::Occasion;
using Step = LeftoverPlan::Step;

std::optional<Bytes> jpegOfPicture(const AVFrame& picture, int maxSide, double quality) {
    if (picture.width <= 0 || picture.height <= 0) return std::nullopt;
    QImage image(picture.width, picture.height, QImage::Format_RGB32);
    SwsContext* sws =
        sws_getContext(picture.width, picture.height, static_cast<AVPixelFormat>(picture.format), picture.width,
                       picture.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws) return std::nullopt;
    setColorConversion(sws, picture, AV_PIX_FMT_BGRA);
    std::uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    const int rows = sws_scale(sws, picture.data, picture.linesize, 0, picture.height, planes, strides);
    sws_freeContext(sws);
    if (rows != picture.height) return std::nullopt;
    return CaptureStore::thumbnailJPEG(image, maxSide, quality);
}

std::optional<std::string> reserveFileName(const fs::path& folder, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return std::nullopt;
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path path(name);
    // Claiming the name by creating the file, so that two captures in the same second never share it.
    const auto claimed = claimFirstFreeName(
        folder, path.stem().string(), path.extension().string(),
        [](const fs::path& candidate) {
            const int fd = ::open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
            if (fd < 0) return errno;
            ::close(fd);
            return 0;
        },
        ec);
    if (!claimed) return std::nullopt;
    return claimed->filename().string();
}

std::vector<fs::path> filesOf(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) files.push_back(it->path());
    return files;
}

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

// Places a capture's file in the outbox under its id, as `to` says.
bool place(const fs::path& file, const fs::path& target, Step::To to) {
    return to == Step::To::copy ? linkOrCopy(file, target) : moveInto(file, target);
}

// What the library did with a capture, and where the recorded file still is (empty once it went).
struct Kept {
    TakeKeeping::Facts facts;
    std::optional<std::string> vaultFile;
    std::optional<std::string> photoAssetID;
    fs::path recorded;
};

// A capture a start finds in the vault: kept there already, under its name.
bool inVault(const CaptureKeeper::Collaborators& c, const fs::path& file) {
    return !c.vaultFolder.empty() && file.parent_path() == c.vaultFolder;
}

bool sends(const CaptureKeeper::Collaborators& c) {
    return c.outbox && (c.defaults ? sendsToMac(*c.defaults) : true);
}

// A capture into the library the user chose: moved into the vault, or copied into Pictures under its capture name.
// A drive keeps its takes where they were recorded; one a start finds in the vault stays there under its name.
Kept keepInLibrary(const CaptureKeeper::Collaborators& c, TakeKeeping::Library library, const fs::path& file,
                   const std::string& fileName, bool photo) {
    Kept kept;
    kept.facts.library = library;
    kept.facts.sends = sends(c);
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
bool queueKept(const CaptureKeeper::Collaborators& c, Kept& kept, const TransferInfo& info,
               const std::string& extension) {
    const auto plan = TakeKeeping::plan(kept.facts);
    bool queued = false;
    if (plan.queue == TakeKeeping::Queue::vaultEntry) {
        c.outbox->add({info, Outbox::Item::Location::vault, *kept.vaultFile});
        queued = true;
    } else if (plan.queue != TakeKeeping::Queue::none) {
        const std::string name = info.id.uuidString() + "." + extension;
        const bool move = plan.queue == TakeKeeping::Queue::move;
        if (place(kept.recorded, c.outbox->directory() / name, move ? Step::To::move : Step::To::copy)) {
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
std::optional<std::string> toldOf(const CaptureKeeper::Collaborators& c, const Kept& kept, bool queued) {
    return TakeKeeping::message(kept.facts, queued, c.outbox ? c.outbox->directory() : fs::path(), kept.recorded);
}

// Whether a movie has a sound track: one is written only with sound in it.
bool holdsSound(const fs::path& movie) {
    auto input = ff::openLocalMovie(movie.string());
    return input && av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
}

// When a file was last written; now when that cannot be told.
Date writtenAt(const fs::path& file) {
    std::error_code ec;
    const auto written = fs::last_write_time(file, ec);
    return ec ? Date::now() : Date::fromSystem(std::chrono::file_clock::to_sys(written));
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

// When a take began, on the shared clock. Its journal's date is on it already (its recorder added the offset of the
// take's day); a date of this computer's clock (the recorder's, a movie's last write) takes the offset.
Date sharedStart(Date ofThisComputer, const std::optional<Date>& journalled, double offset) {
    return journalled ? *journalled : ofThisComputer.addingTimeInterval(offset);
}

// The recovery finished the take without its sound: it was damaged on the disk (none was missing from the microphone).
bool soundLeftOut(const RecoveredTake& recovered) {
    return recovered.outcome == TakeRecovery::Outcome::finished && recovered.sound == TakeRecovery::Sound::leftOut;
}

// What a journal says of its take, read without its lock: whose take it is.
void journalFacts(const fs::path& path, LeftoverPlan::File& file) {
    file.held = journalHeld(path);
    std::ifstream in(path, std::ios::binary);
    JournalReader reader(in);
    if (reader.state() != JournalReader::State::whole) return;
    file.owner = reader.header().camera;
    file.ownerName = reader.header().cameraName;
}

// `takes`: a folder where takes are recorded; `ownMovies`: the camera's own, where every movie is still to be stored.
LeftoverPlan::Folder folderFacts(const fs::path& at, bool takes, bool ownMovies) {
    const auto files = filesOf(at);
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
        const auto kind = classify(file.name).kind;
        if (takes && kind == LeftFile::Kind::journal) journalFacts(path, file);
        if (takes && kind == LeftFile::Kind::newJournal) file.held = journalHeld(path);
        // Opened only where it decides something: a drive's own takes are many and stay as they are.
        const bool journaled = names.count(journalOf(path).filename().string()) > 0;
        if (takes && kind == LeftFile::Kind::movie && (journaled || ownMovies) && file.size > 0) {
            if (const auto whole = takeAsItIs(path)) {
                file.plays = true;
                file.duration = whole->duration;
            }
        }
        folder.files.push_back(std::move(file));
    }
    return folder;
}

// The file names an outbox's entries name in one of its places.
std::set<std::string> listedIn(const std::vector<Outbox::Item>& items, Outbox::Item::Location location) {
    std::set<std::string> names;
    for (const auto& item : items)
        if (item.location == location) names.insert(item.fileName);
    return names;
}

}  // namespace

std::shared_ptr<CaptureKeeper> CaptureKeeper::make(Collaborators collaborators) {
    return std::shared_ptr<CaptureKeeper>(new CaptureKeeper(std::move(collaborators)));
}

CaptureKeeper::CaptureKeeper(Collaborators collaborators) : c_(std::move(collaborators)) {}

// MARK: - A capture just made

void CaptureKeeper::storeTake(const std::shared_ptr<MovieRecorder>& recorder, const SharedFrame& firstPicture,
                              double offset, bool onDrive) {
    const fs::path movie = recorder->url();
    auto duration = recorder->finish();
    std::optional<Date> started = recorder->startDate();
    if (started) started = sharedStart(*started, std::nullopt, offset);
    bool soundDamaged = false;
    if (!duration || !started) {
        // What was written before the failure still plays: the recovery finishes that much, or sets it aside.
        const auto recovered = recoverTake(movie);
        if (recovered.take) {
            duration = recovered.take->duration;
            started = sharedStart(recovered.take->startDate, recovered.startDate, offset);
            soundDamaged = soundLeftOut(recovered);
        } else {
            std::string told = "Couldn't save the recording";
            const std::string take = started ? takeFileName(*started, deviceName(), "mov") : takeName(recovered, movie);
            if (auto why = TakeRecovery::message(recovered.outcome, take, recovered.setAsideAs)) told = *why;
            c_.tell(CameraEvent{CameraEvent::Kind::failed, told, {}});
            return;
        }
    }
    if (recorder->failedAfterStop()) {
        c_.tell(CameraEvent{CameraEvent::Kind::failed,
                            "The take ends early: " + recorder->failureReason().value_or("the disk is full") +
                                ". What was recorded is kept",
                            {}});
    }
    std::optional<std::string> soundMissing;
    if (soundDamaged) {
        soundMissing = soundDamagedMessage;
    } else if (recorder->soundLost()) {
        soundMissing = takeWithoutSoundMessage;
    } else if (recorder->soundEndLost()) {
        soundMissing = holdsSound(movie) ? "The take's sound ends early: the microphone's sound of its end never came. "
                                           "Its pictures are kept"
                                         : noSoundMessage;
    }
    keepTake(Recorded{movie, *duration, *started, onDrive, soundMissing, true}, firstPicture);
}

std::optional<GalleryItem> CaptureKeeper::addToGallery(const TransferInfo& info, const SharedFrame& firstPicture,
                                                       const TakeLog::Entry& entry) {
    if (!firstPicture || !c_.store) return std::nullopt;
    auto thumbnail = jpegOfPicture(*firstPicture, 240, 0.6);
    auto preview = jpegOfPicture(*firstPicture, 1600, 0.8);
    if (!thumbnail || !preview) return std::nullopt;
    CaptureStore::Pending pending;
    pending.item.id = info.id;
    pending.item.date = Date::now();
    pending.item.isVideo = true;
    pending.item.duration = info.duration;
    pending.item.thumbnail = std::move(*thumbnail);
    pending.item.vaultFile = entry.vaultFile;
    pending.item.photoAssetID = entry.photoAssetID;
    pending.preview = std::move(*preview);
    c_.store->add(pending);
    return pending.item;
}

std::string CaptureKeeper::deviceName() const {
    return c_.deviceName ? c_.deviceName() : "Camera";
}

std::string CaptureKeeper::takeName(const RecoveredTake& recovered, const fs::path& movie) const {
    return recovered.startDate ? takeFileName(*recovered.startDate, deviceName(), "mov") : movie.filename().string();
}

std::string CaptureKeeper::keepTake(const Recorded& take, const SharedFrame& firstPicture) {
    TransferInfo info;
    info.capturedAt = take.startDate;
    info.fileName = take.fileName ? *take.fileName : takeFileName(info.capturedAt, deviceName(), "mov");
    info.isVideo = true;
    info.duration = take.duration;
    // Told as a failure that stays, of this take: the remote must not let it pass unread, since every take after it
    // may be silent too.
    auto soundMissing = take.soundMissing;
    if (!take.judged && (!c_.hasMicrophone || c_.hasMicrophone()) && !holdsSound(take.movie))
        soundMissing = noSoundMessage;
    if (soundMissing) {
        c_.tell(CameraEvent{CameraEvent::Kind::failed, *soundMissing, {}, "take:" + info.fileName, std::nullopt, true});
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
    const auto plan = TakeKeeping::plan(kept.facts);
    // Nothing else shows whether a take in the vault was queued: its entry says so until it is.
    if (plan.queue == TakeKeeping::Queue::vaultEntry) entry.queued = false;

    // In the take log before the gallery and the outbox: a camera that ends before the entry leaves a take the log
    // describes, which the next start lists, and none out of the log; one in the vault that none of them names is
    // stored again where it is.
    entry.info = info;
    if (c_.takeLog) c_.takeLog->append(entry);

    std::optional<GalleryItem> item;
    if (!kept.facts.keepFailure) item = addToGallery(info, firstPicture, entry);

    const bool queued = queueKept(c_, kept, info, "mov");
    if (queued && entry.queued && c_.takeLog) {
        c_.takeLog->markQueued(info.id);
        entry.queued.reset();
    }
    // Stored and queued: a take on a drive no longer needs its journal to show that it is still to be queued. One the
    // outbox could not take keeps it, and goes there at the next start.
    if (queued || plan.queue == TakeKeeping::Queue::none) {
        std::error_code ec;
        fs::remove(journalOf(take.movie), ec);
        fs::remove(reserveOf(take.movie), ec);
    }
    const auto told = toldOf(c_, kept, queued);
    if (!told) c_.tell(CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, item});
    tellLibrary(told);

    std::weak_ptr<CaptureKeeper> weak = weak_from_this();
    c_.main->async([weak, entry, item] {
        auto self = weak.lock();
        if (!self) return;
        if (self->onTakeSaved) self->onTakeSaved(entry);
        if (self->onTakeFinished) self->onTakeFinished(Take{entry, item});
    });
    return info.fileName;
}

void CaptureKeeper::savePhoto(const Bytes& data, const std::string& extension) {
    const Date capturedAt = Date::now().addingTimeInterval(c_.clockOffset ? c_.clockOffset() : 0);
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
        c_.tell(CameraEvent{CameraEvent::Kind::failed,
                            vault ? "Couldn't save to the vault" : "Couldn't save to Pictures › Brindlecroft",
                            {}});
        return;
    }
    keepPhoto(c_.recordingFolder / *name, info, std::move(pending));
}

void CaptureKeeper::keepPhoto(const fs::path& file, const TransferInfo& info,
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
        c_.tell(CameraEvent{CameraEvent::Kind::photoSaved, std::nullopt, item});
    }
    tellLibrary(toldOf(c_, kept, queued));
}

void CaptureKeeper::tellLibrary(const std::optional<std::string>& failure) {
    if (failure) {
        libraryFailed_ = true;
        c_.tell(CameraEvent{CameraEvent::Kind::failed, *failure, {}, librarySubject});
    } else if (libraryFailed_.exchange(false)) {
        CameraEvent over{CameraEvent::Kind::info, std::nullopt, {}, librarySubject};
        over.over = true;
        c_.tell(over);
    }
}

// MARK: - What an earlier run left

void CaptureKeeper::settle(Occasion occasion) {
    std::weak_ptr<CaptureKeeper> weak = weak_from_this();
    queue_.async([weak, occasion] {
        if (auto self = weak.lock()) self->begin(occasion);
    });
}

void CaptureKeeper::begin(Occasion occasion) {
    // One settling at a time: a listing made while an earlier one is still to be carried out would find the same
    // takes and file them twice. What is asked meanwhile is settled after it, as widely as asked.
    if (settling_) {
        const auto wider = [](Occasion a, Occasion b) {
            if (a == Occasion::start || b == Occasion::start) return Occasion::start;
            return a == Occasion::takes || b == Occasion::takes ? Occasion::takes : Occasion::drives;
        };
        next_ = next_ ? wider(*next_, occasion) : occasion;
        return;
    }
    settling_ = true;
    std::weak_ptr<CaptureKeeper> weak = weak_from_this();
    // Listed off the data queue, which must not wait for a disk; the take recording is asked for after the listing,
    // so that one starting meanwhile is either not listed or known as recording, and one stopped meanwhile is stored
    // before the listing is used (what it stored is then gone from where it was listed, or holds no journal).
    auto listing = std::make_shared<LeftoverPlan::Listing>(list(occasion));
    const auto run = [weak, listing](std::optional<fs::path> recording) {
        auto self = weak.lock();
        if (!self) return;
        self->queue_.async([weak, listing, recording] {
            auto self = weak.lock();
            if (!self) return;
            listing->recordingNow = recording;
            self->carryOut(*listing);
            self->settling_ = false;
            if (auto next = std::exchange(self->next_, std::nullopt)) self->begin(*next);
        });
    };
    if (c_.recordingNow) {
        c_.recordingNow(run);
    } else {
        run(std::nullopt);
    }
}

LeftoverPlan::Listing CaptureKeeper::list(Occasion occasion) const {
    LeftoverPlan::Listing listing;
    listing.occasion = occasion;
    const auto waiting = c_.outbox ? c_.outbox->items() : std::vector<Outbox::Item>{};
    if (occasion != Occasion::drives && !c_.recordingFolder.empty())
        listing.recording = folderFacts(c_.recordingFolder, true, true);
    if (c_.drive) {
        for (const auto& folder : c_.drive->recordingFolders())
            listing.drives.push_back(folderFacts(folder, true, false));
    }
    if (occasion == Occasion::start) {
        if (!c_.vaultFolder.empty()) {
            listing.vault = folderFacts(c_.vaultFolder, false, false);
            listing.vault.listed = listedIn(waiting, Outbox::Item::Location::vault);
            if (c_.store) {
                for (const auto& item : c_.store->items())
                    if (item.vaultFile) listing.inGallery.insert(*item.vaultFile);
            }
        }
        if (c_.outbox) listing.outbox = folderFacts(c_.outbox->directory(), false, false);
        if (c_.deckOutbox) {
            listing.deckCopies = folderFacts(c_.deckOutbox->directory(), false, false);
            listing.deckCopies.listed = listedIn(c_.deckOutbox->items(), Outbox::Item::Location::outbox);
        }
        std::set<fs::path> records;
        if (c_.takeLog) records.insert(c_.takeLog->url().parent_path());
        if (c_.store) records.insert(c_.store->directory());
        for (const auto& folder : records) listing.records.push_back(folderFacts(folder, false, false));
    }
    // What the outbox holds tells at any occasion whether a take found was queued.
    if (c_.outbox) {
        listing.outbox.path = c_.outbox->directory();
        listing.outbox.listed = listedIn(waiting, Outbox::Item::Location::outbox);
    }
    if (c_.takeLog) listing.takeLog = c_.takeLog->entries();
    listing.camera = c_.cameraIdentity ? c_.cameraIdentity() : std::string();
    listing.deviceName = c_.deviceName ? c_.deviceName() : "Camera";
    listing.runStarted = runStarted_;
    listing.toldOthers = toldOthers_;
    return listing;
}

void CaptureKeeper::carryOut(const LeftoverPlan::Listing& listing) {
    std::map<std::string, Outbox::Unlisted> waiting, waitingCopies;
    std::vector<TakeLog::Entry> cutCopies;
    // What waited in the folders listed now is found again by the plan, should it still wait.
    const auto listed = [&](const fs::path& folder) {
        if (folder == listing.recording.path) return true;
        return std::any_of(listing.drives.begin(), listing.drives.end(),
                           [&](const LeftoverPlan::Folder& drive) { return drive.path == folder; });
    };
    std::erase_if(waited_, [&](const fs::path& journal) { return listed(journal.parent_path()); });
    std::erase_if(roomWanted_, [&](const auto& wanted) { return listed(wanted.first); });
    for (const auto& step : LeftoverPlan::plan(listing)) {
        const std::string name = step.file.filename().string();
        switch (step.kind) {
            case Step::Kind::recover:
                recoverLeft(step.file, step.onDrive);
                break;
            case Step::Kind::store:
                if (step.photo) {
                    storeLeftPhoto(step.file);
                } else {
                    storeLeftTake(step.file, step.onDrive);
                }
                break;
            case Step::Kind::queue:
                if (step.to == Step::To::listing) {
                    const bool deck = c_.deckOutbox && step.file.parent_path() == c_.deckOutbox->directory();
                    (deck ? waitingCopies : waiting)[name] = {Outbox::Unlisted::Kind::waiting, *step.info};
                } else {
                    queueLeft(step, waiting);
                }
                break;
            case Step::Kind::sent:
                waitingCopies[name] = {Outbox::Unlisted::Kind::sent, {}};
                break;
            case Step::Kind::makeDeckCopy:
                if (auto entry = c_.takeLog ? c_.takeLog->entry(step.info->id) : std::nullopt)
                    cutCopies.push_back(*entry);
                break;
            case Step::Kind::waitFor:
                waited_.insert(journalOf(step.file));
                break;
            case Step::Kind::leave:
                if (step.told) {
                    c_.tell(standing(*step.told, step.file));
                    toldOthers_.insert(step.file);
                }
                break;
            case Step::Kind::untell: {
                CameraEvent over{
                    CameraEvent::Kind::info, "“" + name + "” was taken up by the camera that recorded it", {}};
                over.subject = "take:" + name;
                over.over = true;
                c_.tell(over);
                toldOthers_.erase(step.file);
                break;
            }
            case Step::Kind::remove: {
                std::error_code ec;
                fs::remove(step.file, ec);
                break;
            }
            case Step::Kind::noteQueued:
                if (c_.takeLog) c_.takeLog->markQueued(step.info->id);
                break;
        }
    }
    const auto describe = [](const std::map<std::string, Outbox::Unlisted>& told) {
        return [&told](const std::string& name) {
            auto found = told.find(name);
            return found == told.end() ? Outbox::Unlisted{} : found->second;
        };
    };
    if (!waiting.empty() && c_.outbox) c_.outbox->settleUnlisted(describe(waiting));
    if (!waitingCopies.empty() && c_.deckOutbox) c_.deckOutbox->settleUnlisted(describe(waitingCopies));
    if (!cutCopies.empty()) {
        std::weak_ptr<CaptureKeeper> weak = weak_from_this();
        c_.main->async([weak, cutCopies] {
            if (auto self = weak.lock(); self && self->onDeckCopiesCut) self->onDeckCopiesCut(cutCopies);
        });
    }
    watch();
}

void CaptureKeeper::queueLeft(const Step& step, std::map<std::string, Outbox::Unlisted>& waiting) {
    if (!sends(c_)) return;
    const auto& info = *step.info;
    if (step.to == Step::To::vaultEntry) {
        // Kept in the vault, its entry written, then the camera ended before the outbox listed it.
        log::info("CaptureKeeper", "queues a take kept in the vault but not queued: " + info.fileName);
        if (step.toGallery) {
            TakeLog::Entry entry;
            if (auto logged = c_.takeLog ? c_.takeLog->entry(info.id) : std::nullopt) entry = *logged;
            entry.vaultFile = step.file.filename().string();
            addToGallery(info, firstPictureOf(step.file), entry);
        }
        c_.outbox->add({info, Outbox::Item::Location::vault, step.file.filename().string()});
        if (c_.takeLog) c_.takeLog->markQueued(info.id);
        return;
    }
    // Stored before the camera ended, not yet in the outbox: it goes there now, as a take just stored does.
    JournalLock lock(journalOf(step.file));
    if (lock.state() == JournalLock::State::held) {
        waited_.insert(journalOf(step.file));
        return;
    }
    log::info("CaptureKeeper", "queues a take stored but not queued: " + step.file.filename().string());
    const std::string queued = info.id.uuidString() + step.file.extension().string();
    if (place(step.file, c_.outbox->directory() / queued, step.to)) {
        c_.outbox->add({info, Outbox::Item::Location::outbox, queued});
        waiting.erase(queued);
        std::error_code ec;
        fs::remove(journalOf(step.file), ec);
        fs::remove(reserveOf(step.file), ec);
    }
}

void CaptureKeeper::recoverLeft(const fs::path& movie, bool onDrive) {
    // Finished by whoever holds its journal: a start beside this one that took it first leaves it to this camera.
    JournalLock lock(journalOf(movie));
    if (lock.state() == JournalLock::State::held) {
        waited_.insert(journalOf(movie));
        return;
    }
    const auto recovered = recoverTake(movie);
    std::error_code ec;
    if (recovered.take) {
        log::info("CaptureKeeper", "finished a take cut short: " + movie.filename().string());
        const auto& rest = *recovered.take;
        Recorded take{rest.movie, rest.duration,
                      sharedStart(rest.startDate, recovered.startDate, c_.clockOffset ? c_.clockOffset() : 0), onDrive};
        if (soundLeftOut(recovered)) {
            take.soundMissing = soundDamagedMessage;
            take.judged = true;
        }
        const std::string name = keepTake(take, firstPictureOf(rest.movie));
        if (auto told = TakeRecovery::message(recovered, name)) c_.tell(standing(*told, name));
    } else if (recovered.outcome == TakeRecovery::Outcome::setAside &&
               LeftoverPlan::headerAlone(fs::file_size(recovered.setAsideAs, ec)) && !ec) {
        // A header without a sample: no footage to keep.
        fs::remove(recovered.setAsideAs, ec);
        fs::remove(journalOf(recovered.setAsideAs), ec);
    } else if (auto told = TakeRecovery::message(recovered, takeName(recovered, movie))) {
        c_.tell(standing(*told, recovered.setAsideAs.empty() ? movie : recovered.setAsideAs));
    } else {
        log::info("CaptureKeeper", "nothing to keep of " + movie.filename().string());
    }
    // Left as it was, journal and all: tried again when room is made, or the folder's free space grows.
    if (recovered.outcome == TakeRecovery::Outcome::wantsRoom) {
        const auto space = fs::space(movie.parent_path(), ec);
        roomWanted_[movie.parent_path()] = ec ? 0 : space.available;
    }
}

void CaptureKeeper::storeLeftTake(const fs::path& movie, bool onDrive) {
    auto whole = takeAsItIs(movie);
    if (!whole && inVault(c_, movie)) {
        log::info("CaptureKeeper", "leaves a movie in the vault that does not play: " + movie.filename().string());
        return;
    }
    if (!whole) {
        recoverLeft(movie, onDrive);
        return;
    }
    JournalLock lock(journalOf(movie));
    if (lock.state() == JournalLock::State::held) {
        waited_.insert(journalOf(movie));
        return;
    }
    log::info("CaptureKeeper", "stores a take left unstored: " + movie.filename().string());
    // Its journal, when it still has one, knows when it began.
    std::optional<Date> journalled;
    std::ifstream in(journalOf(movie), std::ios::binary);
    if (in.is_open()) {
        JournalReader reader(in);
        if (reader.state() == JournalReader::State::whole) journalled = Date{reader.header().startDate};
    }
    Recorded take{movie, whole->duration,
                  sharedStart(whole->startDate, journalled, c_.clockOffset ? c_.clockOffset() : 0), onDrive};
    // Already under its capture name: stored before, and the library knows that name.
    if (!onDrive && !namedByID(movie)) take.fileName = movie.filename().string();
    keepTake(take, firstPictureOf(movie));
}

void CaptureKeeper::storeLeftPhoto(const fs::path& photo) {
    const std::string name = photo.filename().string();
    log::info("CaptureKeeper", "stores a photo left unstored: " + name);
    TransferInfo info;
    info.fileName = name;
    info.capturedAt = writtenAt(photo);
    info.isVideo = false;
    // One in the vault is in the gallery once stored: a start after it was sent finds it named.
    std::optional<CaptureStore::Pending> pending;
    if (inVault(c_, photo)) {
        std::ifstream in(photo, std::ios::binary);
        pending = CaptureStore::makePending(Bytes(std::istreambuf_iterator<char>(in), {}));
        if (pending) info.id = pending->item.id;
    }
    keepPhoto(photo, info, std::move(pending));
}

void CaptureKeeper::roomMade() {
    std::weak_ptr<CaptureKeeper> weak = weak_from_this();
    queue_.async([weak] {
        auto self = weak.lock();
        if (self && !self->roomWanted_.empty()) self->settle(Occasion::takes);
    });
}

// MARK: - Waiting

// Something a take or a notice waits for happened: a held take of this camera was let go, the free space of a folder
// where a take wants room grew, or another camera's take the crew was told of was taken up.
bool CaptureKeeper::changed() const {
    for (const auto& journal : waited_)
        if (!journalHeld(journal)) return true;
    for (const auto& [folder, had] : roomWanted_) {
        std::error_code ec;
        const auto space = fs::space(folder, ec);
        if (!ec && space.available > had) return true;
    }
    for (const auto& movie : toldOthers_) {
        const fs::path journal = journalOf(movie);
        std::error_code ec;
        if (!fs::exists(movie.parent_path(), ec)) continue;  // its drive is away
        if (!fs::exists(journal, ec) || journalHeld(journal)) return true;
    }
    return false;
}

void CaptureKeeper::watch() {
    if (watching_ || (waited_.empty() && roomWanted_.empty() && toldOthers_.empty())) return;
    watching_ = true;
    std::weak_ptr<CaptureKeeper> weak = weak_from_this();
    queue_.asyncAfter(c_.watchInterval, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->watching_ = false;
        if (self->changed()) {
            self->settle(Occasion::takes);
        } else {
            self->watch();
        }
    });
}

}  // namespace morvane
