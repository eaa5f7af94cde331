#pragma once

#include <QImage>
#include <QObject>
#include <QSizeF>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/peer_id.h"
#include "platform/date.h"
#include "platform/uuid.h"
#include "protocol/camera_event.h"
#include "protocol/camera_status.h"
#include "protocol/gallery.h"
#include "remote/live_readings.h"

namespace morvane {

class VideoReceiver;

/// One connected camera as the remote sees it. Made by the controller, read by the views; main thread only.
/// A camera that reconnects with a new receiver gets a new feed, so its published state starts afresh.
class CameraFeed : public QObject, public std::enable_shared_from_this<CameraFeed> {
    Q_OBJECT
public:
    /// Resumed exactly once with the preview picture, or a null image when there is none.
    using PreviewWaiter = std::function<void(const QImage&)>;

    /// Pictures kept per camera; the oldest goes first beyond this.
    static constexpr std::size_t previewCacheLimit = 64;

    /// Makes the feed and has the receiver report its picture size to it while it exists.
    static std::shared_ptr<CameraFeed> create(PeerId id, std::string name, std::shared_ptr<VideoReceiver> receiver);
    /// Answers every preview still waiting with none.
    ~CameraFeed() override;

    const PeerId& id() const { return id_; }
    const std::string& name() const { return name_; }
    const std::shared_ptr<VideoReceiver>& receiver() const { return receiver_; }
    LiveReadings& live() { return live_; }
    const LiveReadings& live() const { return live_; }

    const std::optional<CameraStatus>& status() const { return status_; }
    const std::optional<Date>& recordingStart() const { return recordingStart_; }
    int shutterCount() const { return shutterCount_; }
    /// Newest first.
    const std::vector<GalleryItem>& gallery() const { return gallery_; }
    /// "30 fps · 2.5 Mb/s", none until the first statistics tick.
    const std::optional<std::string>& stats() const { return stats_; }
    bool noPicture() const { return noPicture_; }
    /// The link to the camera was lost and is being made again: the feed keeps its place, shows the last it knew,
    /// and is no camera to count on until it is back.
    bool reconnecting() const { return reconnecting_; }
    /// The camera's microphone gives no sound, as the camera tells it, or its latest take lacks its sound, in part or
    /// whole: shown on its tile until the microphone gives sound, or a take records sound, again.
    bool noSound() const { return sound_.silent || sound_.microphoneSilent; }
    /// Pixel size of the live picture as shown; none without a picture.
    const std::optional<QSizeF>& pictureSize() const { return pictureSize_; }
    /// When the remote last greeted the camera.
    Date lastHello() const { return lastHello_; }

    void setStatus(std::optional<CameraStatus> status);
    void setRecordingStart(std::optional<Date> start);
    void setShutterCount(int count);
    void setGallery(std::vector<GalleryItem> gallery);
    void setStats(std::optional<std::string> stats);
    void setNoPicture(bool value);
    void setReconnecting(bool value);
    /// Follows the camera's takes through its events.
    void noteTakeEvent(const CameraEvent& event);
    /// Sizes that are not finite and positive count as none.
    void setPictureSize(std::optional<QSizeF> size);
    void setLastHello(Date date) { lastHello_ = date; }

    // Gallery previews (the controller's preview requests use these tables).
    const QImage* cachedPreview(const Uuid& id) const;
    void cachePreview(const Uuid& id, const QImage& picture);
    std::map<Uuid, std::vector<PreviewWaiter>>& previewWaiters() { return previewWaiters_; }
    std::size_t previewCacheCount() const { return previewCache_.size(); }
    /// Resumes every waiter of every capture with none and empties the table.
    void failAllPreviewWaiters();

signals:
    void statusChanged();
    void recordingStartChanged();
    void shutterCountChanged();
    void galleryChanged();
    void statsChanged();
    void noPictureChanged();
    void reconnectingChanged();
    void noSoundChanged();
    void pictureSizeChanged();

private:
    CameraFeed(PeerId id, std::string name, std::shared_ptr<VideoReceiver> receiver);

    PeerId id_;
    std::string name_;
    std::shared_ptr<VideoReceiver> receiver_;
    LiveReadings live_;
    std::optional<CameraStatus> status_;
    std::optional<Date> recordingStart_;
    int shutterCount_ = 0;
    std::vector<GalleryItem> gallery_;
    std::optional<std::string> stats_;
    bool noPicture_ = false;
    bool reconnecting_ = false;
    struct {
        bool silent = false;
        bool silentTakeEnding = false;  // told that a take has no sound; its end (saved or not) is next
        bool microphoneSilent = false;  // the camera's notice of its microphone stands
    } sound_;
    std::optional<QSizeF> pictureSize_;
    Date lastHello_{-1e12};  // the distant past
    std::map<Uuid, QImage> previewCache_;
    std::deque<Uuid> previewCacheOrder_;
    std::map<Uuid, std::vector<PreviewWaiter>> previewWaiters_;
};

}  // namespace morvane
