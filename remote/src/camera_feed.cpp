#include "remote/camera_feed.h"

#include <cmath>

#include "remote/video_receiver.h"

namespace morvane {

CameraFeed::CameraFeed(PeerId id, std::string name, std::shared_ptr<VideoReceiver> receiver)
    : id_(id), name_(std::move(name)), receiver_(std::move(receiver)) {}

std::shared_ptr<CameraFeed> CameraFeed::create(PeerId id, std::string name, std::shared_ptr<VideoReceiver> receiver) {
    std::shared_ptr<CameraFeed> feed(new CameraFeed(id, std::move(name), std::move(receiver)));
    if (feed->receiver_) {
        std::weak_ptr<CameraFeed> weak = feed;
        feed->receiver_->onPictureSize = [weak](std::optional<QSizeF> size) {
            if (auto feed = weak.lock()) feed->setPictureSize(size);
        };
    }
    return feed;
}

CameraFeed::~CameraFeed() {
    failAllPreviewWaiters();
}

void CameraFeed::setStatus(std::optional<CameraStatus> status) {
    status_ = std::move(status);
    emit statusChanged();
}

void CameraFeed::setRecordingStart(std::optional<Date> start) {
    if (recordingStart_ == start) return;
    recordingStart_ = start;
    emit recordingStartChanged();
}

void CameraFeed::setShutterCount(int count) {
    if (shutterCount_ == count) return;
    shutterCount_ = count;
    emit shutterCountChanged();
}

void CameraFeed::setGallery(std::vector<GalleryItem> gallery) {
    gallery_ = std::move(gallery);
    emit galleryChanged();
}

void CameraFeed::setStats(std::optional<std::string> stats) {
    if (stats_ == stats) return;
    stats_ = std::move(stats);
    emit statsChanged();
}

void CameraFeed::setReconnecting(bool value) {
    if (reconnecting_ == value) return;
    reconnecting_ = value;
    emit reconnectingChanged();
}

void CameraFeed::setNoPicture(bool value) {
    if (noPicture_ == value) return;
    noPicture_ = value;
    emit noPictureChanged();
}

void CameraFeed::noteTakeEvent(const CameraEvent& event) {
    const bool was = noSound();
    if (event.subject == microphoneSubject) {
        sound_.microphoneSilent = !event.over.value_or(false);
    } else if (event.retold.value_or(false)) {
        // Told again, of an earlier take: it says nothing of the sound the camera gives now.
    } else if (event.soundMissing.value_or(false) || says(event, takeWithoutSoundMessage)) {
        // The camera marks a take that lacks its sound; older cameras said so only of sound that couldn't be
        // converted.
        sound_.silent = true;
        sound_.silentTakeEnding = true;
    } else if (event.kind == CameraEvent::Kind::videoSaved) {
        // A take saved that was not told silent recorded sound.
        sound_.silent = sound_.silentTakeEnding;
        sound_.silentTakeEnding = false;
    } else if (event.kind == CameraEvent::Kind::failed) {
        sound_.silentTakeEnding = false;  // the silent take ended unsaved
    }
    if (noSound() != was) emit noSoundChanged();
}

void CameraFeed::setPictureSize(std::optional<QSizeF> size) {
    if (size &&
        !(std::isfinite(size->width()) && std::isfinite(size->height()) && size->width() > 0 && size->height() > 0))
        size.reset();
    if (pictureSize_ == size) return;
    pictureSize_ = size;
    emit pictureSizeChanged();
}

const QImage* CameraFeed::cachedPreview(const Uuid& id) const {
    auto found = previewCache_.find(id);
    return found == previewCache_.end() ? nullptr : &found->second;
}

void CameraFeed::cachePreview(const Uuid& id, const QImage& picture) {
    auto [entry, inserted] = previewCache_.insert_or_assign(id, picture);
    (void)entry;
    if (!inserted) return;
    previewCacheOrder_.push_back(id);
    while (previewCache_.size() > previewCacheLimit && !previewCacheOrder_.empty()) {
        previewCache_.erase(previewCacheOrder_.front());
        previewCacheOrder_.pop_front();
    }
}

void CameraFeed::failAllPreviewWaiters() {
    // Taken out first: a waiter may ask again for a preview while it is being
    // answered.
    auto waiting = std::move(previewWaiters_);
    previewWaiters_.clear();
    for (auto& [id, waiters] : waiting)
        for (auto& waiter : waiters)
            if (waiter) waiter(QImage());
}

}  // namespace morvane
