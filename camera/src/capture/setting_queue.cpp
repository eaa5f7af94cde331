#include "camera/setting_queue.h"

#include <algorithm>
#include <utility>

namespace morvane {

SettingQueue::Offer SettingQueue::offer(int id, const std::string& kind, double now) {
    Offer offer;
    if (!underWay_) {
        underWay_ = id;
        startedAt_ = now;
        behind_ = false;
        offer.runNow = true;
        return offer;
    }
    auto same = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& w) { return w.kind == kind; });
    if (same != waiting_.end()) {
        // The newer one takes the older one's place in the line: what was asked for last is what counts.
        offer.replaced = same->id;
        waiting_.erase(same);
    }
    waiting_.push_back({id, kind});
    return offer;
}

std::optional<double> SettingQueue::deadline() const {
    if (!underWay_ || behind_) return std::nullopt;
    return startedAt_ + answerSeconds_;
}

SettingQueue::Overdue SettingQueue::overdue(double now) {
    const auto until = deadline();
    if (!until || now < *until) return {};
    behind_ = true;
    return {true, !std::exchange(told_, true)};
}

std::optional<int> SettingQueue::answered(int id, double now) {
    if (underWay_ != id) return std::nullopt;
    // Only an answer in time shows the device takes its settings again.
    if (!behind_ && now <= startedAt_ + answerSeconds_) told_ = false;
    underWay_.reset();
    return start(now);
}

std::optional<int> SettingQueue::start(double now) {
    if (waiting_.empty()) return std::nullopt;
    underWay_ = waiting_.front().id;
    waiting_.erase(waiting_.begin());
    startedAt_ = now;
    behind_ = false;
    return underWay_;
}

std::vector<int> SettingQueue::clear() {
    std::vector<int> ids;
    for (const auto& w : waiting_) ids.push_back(w.id);
    waiting_.clear();
    underWay_.reset();
    behind_ = false;
    return ids;
}

}  // namespace morvane
