#include "remote/notice_board.h"

#include <algorithm>

namespace morvane {

namespace {

bool sameNotice(const NoticeBoard::Notice& a, const NoticeBoard::Notice& b) {
    return b.key.empty() ? a.text == b.text && a.matters == b.matters : a.key == b.key;
}

}  // namespace

void NoticeBoard::heardFrom(Entry& entry, const Notice& notice) {
    if (notice.camera.empty()) return;
    auto known = std::find_if(entry.cameras.begin(), entry.cameras.end(),
                              [&](const Camera& camera) { return camera.id == notice.camera; });
    if (known != entry.cameras.end()) {
        known->name = notice.cameraName;
    } else {
        entry.cameras.push_back({notice.camera, notice.cameraName});
    }
    // By name: the same notice reads the same whichever camera spoke first.
    std::stable_sort(entry.cameras.begin(), entry.cameras.end(),
                     [](const Camera& a, const Camera& b) { return a.name < b.name; });
}

std::optional<NoticeBoard::Showing> NoticeBoard::start() {
    if (entries_.empty() || entries_.front().id) return std::nullopt;
    entries_.front().id = nextID_++;
    entries_.front().said = nextSaid_++;
    return Showing{entries_.front().id, entries_.front().notice.seconds};
}

std::optional<NoticeBoard::Showing> NoticeBoard::post(Notice notice) {
    auto& list = notice.stays ? staying_ : entries_;
    auto same = std::find_if(list.begin(), list.end(), [&](const Entry& e) { return sameNotice(e.notice, notice); });
    if (same != list.end()) {
        // Said again: one that stays is said once, counted when it has a text for several.
        if (!notice.key.empty() && !notice.several.empty()) ++same->count;
        heardFrom(*same, notice);
        if (notice.stays) {
            same->notice = std::move(notice);
            same->said = nextSaid_++;
            return std::nullopt;
        }
        // A passing notice said again runs out at its first time; one that matters is told again in full.
        if (!notice.matters && notice.key.empty()) return std::nullopt;
        same->notice = std::move(notice);
        if (same != entries_.begin()) return std::nullopt;
        same->id = 0;
        return start();
    }
    Entry entry{std::move(notice), 0, 1, 0, {}};
    heardFrom(entry, entry.notice);
    if (entry.notice.stays) {
        if (staying_.size() >= capacity) staying_.pop_front();
        entry.id = nextID_++;
        entry.said = nextSaid_++;
        staying_.push_back(std::move(entry));
        return std::nullopt;
    }
    // Passing notices give way to anything newer, shown or waiting.
    std::erase_if(entries_, [](const Entry& e) { return !e.notice.matters; });
    if (entries_.size() >= capacity) entries_.erase(entries_.begin() + 1);
    entries_.push_back(std::move(entry));
    return start();
}

std::optional<NoticeBoard::Showing> NoticeBoard::expire(std::uint64_t id) {
    if (entries_.empty() || entries_.front().id != id) return std::nullopt;
    entries_.pop_front();
    return start();
}

bool NoticeBoard::dismiss(std::uint64_t id) {
    return std::erase_if(staying_, [id](const Entry& e) { return e.id == id; }) > 0;
}

NoticeBoard::Shown NoticeBoard::shownOf(const Entry& entry) const {
    std::string text = entry.notice.text;
    if (entry.count > 1 && !entry.notice.several.empty()) {
        text = entry.notice.several;
        const std::string count = std::to_string(entry.count);
        for (auto at = text.find("%n"); at != std::string::npos; at = text.find("%n", at + count.size()))
            text.replace(at, 2, count);
    }
    std::string names;
    for (const auto& camera : entry.cameras)
        if (namesCameras_ && !camera.name.empty()) names += (names.empty() ? "" : ", ") + camera.name;
    if (!names.empty()) text = names + ": " + text;
    return {entry.id, std::move(text), entry.notice.folders, entry.notice.stays};
}

std::vector<NoticeBoard::Shown> NoticeBoard::shown() const {
    std::vector<Shown> shown;
    for (const auto& entry : staying_) shown.push_back(shownOf(entry));
    if (!entries_.empty()) shown.push_back(shownOf(entries_.front()));
    return shown;
}

std::optional<std::string> NoticeBoard::text() const {
    const Entry* newest = entries_.empty() ? nullptr : &entries_.front();
    for (const auto& entry : staying_)
        if (!newest || entry.said > newest->said) newest = &entry;
    if (!newest) return std::nullopt;
    return shownOf(*newest).text;
}

bool NoticeBoard::holds(const std::string& key) const {
    auto has = [&](const Entry& e) { return e.notice.key == key; };
    return std::any_of(entries_.begin(), entries_.end(), has) || std::any_of(staying_.begin(), staying_.end(), has);
}

bool NoticeBoard::withdraw(const std::string& subject, const std::string& camera) {
    if (subject.empty()) return false;
    bool changed = false;
    std::erase_if(staying_, [&](Entry& entry) {
        if (entry.notice.subject != subject) return false;
        if (!camera.empty()) {
            const auto before = entry.cameras.size();
            std::erase_if(entry.cameras, [&](const Camera& c) { return c.id == camera; });
            if (entry.cameras.size() == before) return false;
        }
        changed = true;
        return entry.cameras.empty() || camera.empty();
    });
    return changed;
}

void NoticeBoard::nameCameras() {
    namesCameras_ = true;
}

}  // namespace morvane
