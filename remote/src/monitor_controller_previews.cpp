// Larger previews of gallery captures: one request per capture, shared by every
// caller, answered by the camera's preview packet, by the time-out or when the
// camera leaves.

#include "remote/monitor_controller.h"

namespace morvane {

void MonitorController::preview(const Uuid& id, const FeedPtr& feed, CameraFeed::PreviewWaiter completion) {
    if (!completion) return;
    if (!feed) {
        env_.mainExecutor->async([completion = std::move(completion)] { completion(QImage()); });
        return;
    }
    // Always answered in a later turn of the main thread, as an awaited call
    // would be.
    env_.mainExecutor->async([self = shared_from_this(), id, feed, completion = std::move(completion)]() mutable {
        self->requestPreview(id, feed, std::move(completion));
    });
}

void MonitorController::requestPreview(const Uuid& id, const FeedPtr& feed, CameraFeed::PreviewWaiter waiter) {
    if (const QImage* cached = feed->cachedPreview(id)) {
        waiter(*cached);
        return;
    }
    auto& table = feed->previewWaiters();
    auto found = table.find(id);
    if (found == table.end() && table.size() >= previewRequestLimit) {
        // Too many captures awaited from this camera at once: this one gets nothing
        // rather than growing the table.
        waiter(QImage());
        return;
    }
    auto& waiters = table[id];
    if (waiters.size() >= previewRequestLimit) {
        waiter(QImage());
        return;
    }
    waiters.push_back(std::move(waiter));
    if (waiters.size() > 1) return;

    sendCommand(CameraCommand::RequestPreview{id}, feed->id());
    std::weak_ptr<MonitorController> weakSelf = weak_from_this();
    std::weak_ptr<CameraFeed> weakFeed = feed;
    env_.mainExecutor->asyncAfter(previewTimeout, [weakSelf, weakFeed, id] {
        auto self = weakSelf.lock();
        auto feed = weakFeed.lock();
        if (self && feed) deliverPreview(id, QImage(), *feed);
    });
}

void MonitorController::deliverPreview(const Uuid& id, const QImage& picture, CameraFeed& feed) {
    if (!picture.isNull()) feed.cachePreview(id, picture);
    auto& table = feed.previewWaiters();
    auto found = table.find(id);
    if (found == table.end()) return;
    auto waiters = std::move(found->second);
    table.erase(found);
    for (auto& waiter : waiters)
        if (waiter) waiter(picture);
}

}  // namespace morvane
