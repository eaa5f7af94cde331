#include "remote/notice_board.h"

#include <algorithm>

namespace morvane {

std::optional<NoticeBoard::Showing> NoticeBoard::start() {
    if (entries_.empty() || entries_.front().id) return std::nullopt;
    entries_.front().id = nextID_++;
    return Showing{entries_.front().id, entries_.front().notice.seconds};
}

std::optional<NoticeBoard::Showing> NoticeBoard::post(Notice notice) {
    auto same = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return notice.key.empty() ? e.notice.text == notice.text && e.notice.matters == notice.matters
                                  : e.notice.key == notice.key;
    });
    if (same != entries_.end()) {
        // A passing notice said again runs out at its first time; one that matters is told again in full.
        if (!notice.matters && notice.key.empty()) return std::nullopt;
        same->notice = std::move(notice);
        if (same != entries_.begin()) return std::nullopt;
        same->id = 0;
        return start();
    }
    // Passing notices give way to anything newer, shown or waiting.
    std::erase_if(entries_, [](const Entry& e) { return !e.notice.matters; });
    if (entries_.size() >= capacity) entries_.erase(entries_.begin() + 1);
    entries_.push_back({std::move(notice), 0});
    return start();
}

std::optional<NoticeBoard::Showing> NoticeBoard::expire(std::uint64_t id) {
    if (entries_.empty() || entries_.front().id != id) return std::nullopt;
    entries_.pop_front();
    return start();
}

std::optional<std::string> NoticeBoard::text() const {
    if (entries_.empty()) return std::nullopt;
    return entries_.front().notice.text;
}

bool NoticeBoard::holds(const std::string& key) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.notice.key == key; });
}

}  // namespace morvane
