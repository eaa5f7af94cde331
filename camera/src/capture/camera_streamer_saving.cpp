// Storing what the camera captured: finished takes and photos, into the vault or the photo library, the gallery
// store, the outbox and the take log.

#include <chrono>
#include <cmath>
#include <set>

#include "camera/camera_streamer.h"
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

// A capture into the library the user chose: moved into the vault, or copied into Pictures under its capture name.
// A drive keeps its takes where they were recorded.
Kept keepInLibrary(const CameraStreamer::Collaborators& c, TakeKeeping::Library library, const fs::path& file,
                   const std::string& fileName, bool photo) {
    Kept kept;
    kept.facts.library = library;
    kept.facts.sends = c.outbox && (c.defaults ? sendsToMac(*c.defaults) : true);
    kept.facts.photo = photo;
    kept.recorded = file;
    if (library == TakeKeeping::Library::vault) {
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

void CameraStreamer::keepTake(const Recorded& take, const SharedFrame& firstPicture, double offset) {
    TransferInfo info;
    info.capturedAt = take.startDate.addingTimeInterval(offset);
    info.fileName = takeFileName(info.capturedAt, c_.deviceName ? c_.deviceName() : "Camera", "mov");
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

    // In the take log before it is queued: a camera that ends before the entry leaves a take the log describes,
    // which the next start lists, and none out of the log.
    entry.info = info;
    if (c_.takeLog) c_.takeLog->append(entry);

    const bool queued = queueKept(c_, kept, info, "mov");
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
}

void CameraStreamer::recoverLeftTakes(const std::vector<fs::path>& files, const std::optional<fs::path>& recording,
                                      bool onDrive) {
    std::set<fs::path> present(files.begin(), files.end()), journaled;
    std::vector<LeftRecording::File> found;
    for (const auto& path : files) {
        LeftRecording::File file{path, movieOfJournal(path), false, movieOfReserve(path)};
        if (file.journalOf) journaled.insert(*file.journalOf);
        found.push_back(std::move(file));
    }
    for (auto& file : found) {
        std::optional<InterruptedTake> whole;
        if (!file.journalOf && !file.reserveOf && !journaled.count(file.path)) whole = takeAsItIs(file.path);
        file.whole = whole.has_value();
        switch (LeftRecording::decide(file, present, journaled, recording)) {
            case LeftRecording::Action::finish: {
                const auto recovered = recoverTake(file.path);
                if (recovered.take) {
                    log::info("CameraStreamer", "finished a take cut short: " + file.path.filename().string());
                    const auto& rest = *recovered.take;
                    keepTake(Recorded{rest.movie, rest.duration, rest.startDate, onDrive}, firstPictureOf(rest.movie),
                             clockOffset());
                } else if (auto told = TakeRecovery::message(recovered.outcome, file.path, recovered.setAsideAs)) {
                    postEvent(CameraEvent{CameraEvent::Kind::failed, *told, {}});
                } else {
                    log::info("CameraStreamer", "nothing to keep of " + file.path.filename().string());
                }
                break;
            }
            case LeftRecording::Action::store:
                log::info("CameraStreamer", "stores a take left unstored: " + file.path.filename().string());
                keepTake(Recorded{file.path, whole->duration, whole->startDate, onDrive}, firstPictureOf(file.path),
                         clockOffset());
                break;
            case LeftRecording::Action::remove: {
                std::error_code ec;
                fs::remove(file.path, ec);
                break;
            }
            case LeftRecording::Action::none:
            case LeftRecording::Action::leave:
                break;
        }
    }
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
    Kept kept = keepInLibrary(c_, vault ? TakeKeeping::Library::vault : TakeKeeping::Library::pictures,
                              c_.recordingFolder / *name, *name, true);
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
    const bool queued = queueKept(c_, kept, info, extension);
    if (auto told = toldOf(c_, kept, queued)) postEvent(CameraEvent{CameraEvent::Kind::failed, *told, {}});
}

}  // namespace morvane
