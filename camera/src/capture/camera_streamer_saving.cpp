// Storing what the camera captured: finished takes and photos, into the vault or the photo library, the gallery
// store, the outbox and the take log.

#include <cmath>

#include "camera/camera_streamer.h"
#include "platform/atomic_file.h"
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

// A second name for the same bytes where the file system allows it, else a copy.
bool linkOrCopy(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::create_hard_link(from, to, ec);
    if (!ec) return true;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return !ec && syncFile(to);
}

}  // namespace

void CameraStreamer::storeTake(const std::shared_ptr<MovieRecorder>& recorder, const SharedFrame& firstPicture,
                               double offset) {
    const auto duration = recorder->finish();
    const auto started = recorder->startDate();
    const fs::path movie = recorder->url();
    if (!duration || !started) {
        std::error_code ec;
        if (!recorder->isOnDrive()) fs::remove(movie, ec);
        postEvent(CameraEvent{CameraEvent::Kind::failed, "Couldn't save the recording", {}});
        return;
    }
    TransferInfo info;
    info.capturedAt = started->addingTimeInterval(offset);
    info.fileName = takeFileName(info.capturedAt, c_.deviceName ? c_.deviceName() : "Camera", "mov");
    info.isVideo = true;
    info.duration = *duration;
    if (c_.cutLog) {
        auto cuts = c_.cutLog->cuts(info.capturedAt, info.capturedAt.addingTimeInterval(*duration));
        if (!cuts.empty()) info.cuts = std::move(cuts);
    }

    TakeLog::Entry entry;
    const bool vault = c_.defaults && c_.defaults->boolValue("useVault", false);
    fs::path kept = movie;  // where the take lives from now on
    if (vault) {
        auto name = reserveFileName(c_.vaultFolder, info.fileName);
        if (!name || !moveInto(movie, c_.vaultFolder / *name)) {
            postEvent(CameraEvent{CameraEvent::Kind::failed, "Couldn't save to the vault", {}});
            return;
        }
        entry.vaultFile = *name;
        kept = c_.vaultFolder / *name;
    } else if (!recorder->isOnDrive() && c_.photoLibrary) {
        try {
            // Under its take name, as it shows in the library.
            const fs::path named = movie.parent_path() / info.fileName;
            std::error_code ec;
            fs::rename(movie, named, ec);
            const fs::path source = ec ? movie : named;
            entry.photoAssetID = c_.photoLibrary->addVideo(source).filename().string();
            kept = source;
        } catch (const std::exception& e) {
            postEvent(CameraEvent{
                CameraEvent::Kind::failed, std::string("Couldn't save to Pictures › Brindlecroft: ") + e.what(), {}});
            return;
        }
    }

    std::optional<GalleryItem> item;
    if (firstPicture && c_.store) {
        auto thumbnail = jpegOfPicture(*firstPicture, 240, 0.6);
        auto preview = jpegOfPicture(*firstPicture, 1600, 0.8);
        if (thumbnail && preview) {
            CaptureStore::Pending pending;
            pending.item.id = info.id;
            pending.item.date = Date::now();
            pending.item.isVideo = true;
            pending.item.duration = *duration;
            pending.item.thumbnail = std::move(*thumbnail);
            pending.item.vaultFile = entry.vaultFile;
            pending.item.photoAssetID = entry.photoAssetID;
            pending.preview = std::move(*preview);
            c_.store->add(pending);
            item = pending.item;
        }
    }
    postEvent(CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, item});

    const bool send = c_.defaults ? sendsToMac(*c_.defaults) : true;
    if (send && c_.outbox) {
        if (entry.vaultFile) {
            c_.outbox->add({info, Outbox::Item::Location::vault, *entry.vaultFile});
        } else {
            const std::string name = info.id.uuidString() + ".mov";
            const fs::path target = c_.outbox->directory() / name;
            // The temporary movie itself goes to the outbox; a take on the drive is copied.
            const bool placed =
                kept == movie || recorder->isOnDrive() ? linkOrCopy(kept, target) : moveInto(kept, target);
            if (placed) c_.outbox->add({info, Outbox::Item::Location::outbox, name});
        }
    }
    if (!entry.vaultFile && !recorder->isOnDrive()) {
        std::error_code ec;
        fs::remove(kept, ec);  // the library and the outbox hold their own copies
    }
    entry.info = info;
    std::weak_ptr<CameraStreamer> weak = weak_from_this();
    c_.main->async([weak, entry, item] {
        auto self = weak.lock();
        if (!self) return;
        if (self->onTakeSaved) self->onTakeSaved(entry);
        if (self->onTakeFinished) self->onTakeFinished(Take{entry, item});
    });
}

void CameraStreamer::savePhoto(const Bytes& data, const std::string& extension) {
    const Date capturedAt = Date::now().addingTimeInterval(clockOffset());
    auto pending = CaptureStore::makePending(data);
    TransferInfo info;
    info.id = pending ? pending->item.id : Uuid();
    info.fileName = takeFileName(capturedAt, c_.deviceName ? c_.deviceName() : "Camera", extension);
    info.capturedAt = capturedAt;
    info.isVideo = false;
    const bool send = c_.defaults ? sendsToMac(*c_.defaults) : true;
    const bool vault = c_.defaults && c_.defaults->boolValue("useVault", false);

    if (vault) {
        // The name is claimed as it is chosen: two photos in one second get two files.
        auto name = reserveFileName(c_.vaultFolder, info.fileName);
        if (!name || !writeFileAtomically(c_.vaultFolder / *name, data, AtomicWriteOptions{fs::perms(0600), true})) {
            if (name) {
                std::error_code ec;
                fs::remove(c_.vaultFolder / *name, ec);
            }
            postEvent(CameraEvent{CameraEvent::Kind::failed, "Couldn't save to the vault", {}});
            return;
        }
        std::optional<GalleryItem> item;
        if (pending && c_.store) {
            pending->item.vaultFile = *name;
            pending->item.photoAssetID.reset();
            c_.store->add(*pending);
            item = pending->item;
        }
        postEvent(CameraEvent{CameraEvent::Kind::photoSaved, std::nullopt, item});
        if (send && c_.outbox) c_.outbox->add({info, Outbox::Item::Location::vault, *name});
        return;
    }

    // The photo library: written aside under the photo's name, then added.
    std::optional<std::string> assetID;
    try {
        if (!c_.photoLibrary) throw std::runtime_error("no photo library");
        const fs::path aside = fs::temp_directory_path() / (info.id.uuidString());
        std::error_code ec;
        fs::create_directories(aside, ec);
        const fs::path file = aside / info.fileName;
        if (!writeFileAtomically(file, data, AtomicWriteOptions{fs::perms(0600), false})) {
            fs::remove_all(aside, ec);
            throw std::runtime_error("couldn't write the photo");
        }
        assetID = c_.photoLibrary->addPhoto(file).filename().string();
        fs::remove_all(aside, ec);
    } catch (const std::exception& e) {
        postEvent(CameraEvent{
            CameraEvent::Kind::failed, std::string("Couldn't save to Pictures › Brindlecroft: ") + e.what(), {}});
        return;
    }
    std::optional<GalleryItem> item;
    if (pending && c_.store) {
        pending->item.vaultFile.reset();
        pending->item.photoAssetID = assetID;
        c_.store->add(*pending);
        item = pending->item;
    }
    postEvent(CameraEvent{CameraEvent::Kind::photoSaved, std::nullopt, item});
    if (send && c_.outbox) {
        const std::string name = info.id.uuidString() + "." + extension;
        if (!writeFileAtomically(c_.outbox->directory() / name, data, AtomicWriteOptions{fs::perms(0600), true}))
            return;
        c_.outbox->add({info, Outbox::Item::Location::outbox, name});
    }
}

}  // namespace morvane
