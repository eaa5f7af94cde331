// Stream settings by what the screen shows, the statistics tick and the silence
// watch.

#include <cmath>
#include <cstdio>
#include <set>

#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "remote/monitor_controller.h"
#include "remote/video_receiver.h"

namespace morvane {

void MonitorController::updateStreamQuality() {
    updateStreamQuality(nullptr);
}

void MonitorController::updateStreamQuality(const PeerId* alsoCounted) {
    const auto shown = visibleFeeds();
    std::set<PeerId> shownIDs;
    for (const auto& feed : shown) shownIDs.insert(feed->id());
    for (const auto& feed : feeds_) {
        const bool counted = feed->status() || (alsoCounted && *alsoCounted == feed->id());
        if (!counted) continue;
        const auto setting = streamSetting(shownIDs.count(feed->id()) > 0, shownIDs.size());
        auto rate = sentBitRates_.find(feed->id());
        auto size = sentSizes_.find(feed->id());
        if (rate != sentBitRates_.end() && rate->second == setting.bitRate && size != sentSizes_.end() &&
            size->second == setting.size)
            continue;
        sentBitRates_[feed->id()] = setting.bitRate;
        sentSizes_[feed->id()] = setting.size;
        sendCommand(CameraCommand::SetStreamSize{setting.size}, feed->id());
        sendCommand(CameraCommand::SetStreamBitRate{setting.bitRate}, feed->id());
    }
}

void MonitorController::statsTick() {
    // A copy: a message shown below may not change the list, but views may react
    // to signals.
    const auto feeds = feeds_;
    for (const auto& feed : feeds) {
        double fps = 0, mbps = 0;
        if (feed->receiver()) {
            const auto stats = feed->receiver()->takeStats();
            fps = stats.framesPerSecond;
            mbps = stats.megabitsPerSecond;
        }
        const bool usable =
            std::isfinite(fps) && std::isfinite(mbps) && fps >= 0 && mbps >= 0 && fps < 1e6 && mbps < 1e6;
        if (usable) {
            char text[64];
            std::snprintf(text, sizeof text, "%.0f fps · %.1f Mb/s", fps, mbps);
            feed->setStats(std::string(text));
        } else {
            feed->setStats(std::nullopt);
        }
        checkSilence(*feed, usable && fps > 0);
    }
}

void MonitorController::checkSilence(CameraFeed& feed, bool receiving) {
    // A camera being reconnected sends nothing: the link is at work on it already.
    const bool watching = videoWanted_ && (!deckMode_ || livePictures_) && !feed.reconnecting();
    const PeerId id = feed.id();
    auto reset = [&] {
        silentSeconds_.erase(id);
        if (feed.noPicture()) feed.setNoPicture(false);
    };
    if (receiving) {
        if (repairRequested_.erase(id)) showMessage(feed.name() + " is back");
        reset();
        return;
    }
    if (!watching) {
        reset();
        return;
    }
    const int seconds = ++silentSeconds_[id];
    if (seconds >= 3 && feed.status() && !feed.noPicture()) feed.setNoPicture(true);
    if (seconds == 11) {
        if (feed.status() || repairRequested_.count(id)) {
            showMessage("Reconnecting " + feed.name() + "…");
            peers_->reconnect(id);
        }
        return;
    }
    if (seconds == 3 || (seconds >= 12 && seconds % 20 == 0)) restartVideo(feed);
}

void MonitorController::restartVideo(CameraFeed& feed) {
    if (feed.receiver()) feed.receiver()->reset();
    sendCommand(CameraCommand::SetVideo{true}, feed.id());
    sendPacket(keyframeRequestPacket(), feed.id());
}

}  // namespace morvane
