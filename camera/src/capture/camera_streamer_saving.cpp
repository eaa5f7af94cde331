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

// A second name for the same bytes where the file system allows it, else a copy.
bool linkOrCopy(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::create_hard_link(from, to, ec);
    if (!ec) return true;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return !ec && syncFile(to);
}

// The first picture of a movie: the gallery picture of a take that comes back without its first frame at hand.
SharedFrame firstPictureOf(const fs::path& movie) {
    auto input = ff::openLocalMovie(movie.string());
    if (!input) return nullptr;
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0 || !codec) return nullptr;
    ff::CodecContext decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), input->streams[index]->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return nullptr;
    ff::Packet packet = ff::makePacket();
    SharedFrame picture = shareFrame(av_frame_alloc());
    bool ended = false;
    // A keyframe starts every take: a few packets are enough, whatever the decoder's delay.
    for (int read = 0; read < 500 && picture; ++read) {
        if (!ended) {
            if (av_read_frame(input.get(), packet.get()) < 0) {
                ended = true;
                avcodec_send_packet(decoder.get(), nullptr);
            } else {
                const bool video = packet->stream_index == index;
                if (video) avcodec_send_packet(decoder.get(), packet.get());
                av_packet_unref(packet.get());
                if (!video) continue;
            }
        }
        const int rc = avcodec_receive_frame(decoder.get(), picture.get());
        if (rc == 0) return picture;
        if (rc != AVERROR(EAGAIN) || ended) return nullptr;
    }
    return nullptr;
}

}  // namespace

void CameraStreamer::storeTake(const std::shared_ptr<MovieRecorder>& recorder, const SharedFrame& firstPicture,
                               double offset, bool onDrive) {
    const fs::path movie = recorder->url();
    auto duration = recorder->finish();
    auto started = recorder->startDate();
    if (!duration || !started) {
        // What was written before the failure still plays: the recorder finishes that much, or removes it all.
        if (auto rest = MovieRecorder::finishInterrupted(movie)) {
            duration = rest->duration;
            started = rest->startDate;
        }
    }
    if (!duration || !started) {
        std::error_code ec;
        if (!onDrive) fs::remove(movie, ec);
        postEvent(CameraEvent{CameraEvent::Kind::failed, "Couldn't save the recording", {}});
        return;
    }
    if (recorder->failedAfterStop()) {
        postEvent(CameraEvent{CameraEvent::Kind::failed,
                              "The take ends early: " + recorder->failureReason().value_or("the disk is full") +
                                  ". What was recorded is kept",
                              {}});
    }
    if (recorder->soundLost()) {
        postEvent(CameraEvent{CameraEvent::Kind::info,
                              "The take has no sound: its sound couldn't be converted. Its pictures are kept",
                              {}});
    }
    keepTake(Recorded{movie, *duration, *started, onDrive}, firstPicture, offset);
}

void CameraStreamer::keepTake(const Recorded& take, const SharedFrame& firstPicture, double offset) {
    TransferInfo info;
    info.capturedAt = take.startDate.addingTimeInterval(offset);
    info.fileName = takeFileName(info.capturedAt, c_.deviceName ? c_.deviceName() : "Camera", "mov");
    info.isVideo = true;
    info.duration = take.duration;
    if (c_.cutLog) {
        auto cuts = c_.cutLog->cuts(info.capturedAt, info.capturedAt.addingTimeInterval(take.duration));
        if (!cuts.empty()) info.cuts = std::move(cuts);
    }

    TakeKeeping::Facts facts;
    facts.library = take.onDrive                                               ? TakeKeeping::Library::drive
                    : c_.defaults && c_.defaults->boolValue("useVault", false) ? TakeKeeping::Library::vault
                                                                               : TakeKeeping::Library::pictures;
    facts.sends = c_.outbox && (c_.defaults ? sendsToMac(*c_.defaults) : true);
    TakeLog::Entry entry;
    fs::path recorded = take.movie;  // the recorded file, while it is there
    if (facts.library == TakeKeeping::Library::vault) {
        auto name = reserveFileName(c_.vaultFolder, info.fileName);
        if (name && moveInto(take.movie, c_.vaultFolder / *name)) {
            entry.vaultFile = *name;
            recorded.clear();
        } else {
            std::error_code ec;
            if (name) fs::remove(c_.vaultFolder / *name, ec);
            facts.keepFailure = "";
        }
    } else if (facts.library == TakeKeeping::Library::pictures) {
        // Under its take name, as it shows in the library.
        const fs::path named = take.movie.parent_path() / info.fileName;
        std::error_code ec;
        fs::rename(take.movie, named, ec);
        if (!ec) recorded = named;
        try {
            if (!c_.photoLibrary) throw std::runtime_error("no photo library");
            entry.photoAssetID = c_.photoLibrary->addVideo(recorded).filename().string();
        } catch (const std::exception& e) {
            facts.keepFailure = e.what();
        }
    }

    std::optional<GalleryItem> item;
    if (!facts.keepFailure && firstPicture && c_.store) {
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

    const auto plan = TakeKeeping::plan(facts);
    bool queued = false;
    if (plan.queue == TakeKeeping::Queue::vaultEntry) {
        c_.outbox->add({info, Outbox::Item::Location::vault, *entry.vaultFile});
        queued = true;
    } else if (plan.queue != TakeKeeping::Queue::none) {
        const std::string name = info.id.uuidString() + ".mov";
        const fs::path target = c_.outbox->directory() / name;
        const bool move = plan.queue == TakeKeeping::Queue::move;
        if (move ? moveInto(recorded, target) : linkOrCopy(recorded, target)) {
            c_.outbox->add({info, Outbox::Item::Location::outbox, name});
            queued = true;
            if (move) recorded.clear();
        }
    }
    if (!queued && plan.removeUnqueued && !recorded.empty()) {
        std::error_code ec;
        fs::remove(recorded, ec);  // the library holds its own copy
    }
    const fs::path outboxFolder = c_.outbox ? c_.outbox->directory() : fs::path();
    if (auto told = TakeKeeping::message(facts, queued, outboxFolder, recorded)) {
        postEvent(CameraEvent{CameraEvent::Kind::failed, *told, {}});
    } else {
        postEvent(CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, item});
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

void CameraStreamer::recoverLeftTakes(const std::vector<fs::path>& files, const std::optional<fs::path>& recording) {
    std::set<fs::path> present(files.begin(), files.end()), journaled;
    std::vector<LeftRecording::File> found;
    for (const auto& path : files) {
        LeftRecording::File file{path, MovieRecorder::movieOfJournal(path), false, MovieRecorder::movieOfReserve(path)};
        if (file.journalOf) journaled.insert(*file.journalOf);
        found.push_back(std::move(file));
    }
    for (auto& file : found) {
        std::optional<MovieRecorder::Interrupted> whole;
        if (!file.journalOf && !file.reserveOf && !journaled.count(file.path)) whole = takeAsItIs(file.path);
        file.whole = whole.has_value();
        switch (LeftRecording::decide(file, present, journaled, recording)) {
            case LeftRecording::Action::finish: {
                const auto recovered = recoverTake(file.path);
                if (recovered.take) {
                    log::info("CameraStreamer", "finished a take cut short: " + file.path.filename().string());
                    const auto& rest = *recovered.take;
                    keepTake(Recorded{rest.movie, rest.duration, rest.startDate, false}, firstPictureOf(rest.movie),
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
                keepTake(Recorded{file.path, whole->duration, whole->startDate, false}, firstPictureOf(file.path),
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
