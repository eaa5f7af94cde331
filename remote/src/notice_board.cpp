#include "remote/notice_board.h"

#include <algorithm>

namespace morvane {

namespace {

bool sameNotice(const NoticeBoard::Notice& a, const NoticeBoard::Notice& b) {
    return b.key.empty() ? a.text == b.text && a.matters == b.matters : a.key == b.key;
}

}  // namespace

void NoticeBoard::heardFrom(Entry& entry, const Notice& notice) {
    const auto add = [](std::vector<std::string>& list, const std::string& value) {
        if (!value.empty() && std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
    };
    add(entry.subjects, notice.subject);
    add(entry.occurrences, notice.occurrence);
    if (countsSubjects(notice)) entry.count = std::max<std::size_t>(1, entry.subjects.size());
    if (notice.camera.empty()) return;
    // A camera is the one of its name: one that starts again, in a new session, is not named twice. One renamed
    // keeps its place by its session.
    auto known = std::find_if(entry.cameras.begin(), entry.cameras.end(),
                              [&](const Camera& camera) { return camera.id == notice.camera; });
    if (known == entry.cameras.end() && !notice.cameraName.empty())
        known = std::find_if(entry.cameras.begin(), entry.cameras.end(),
                             [&](const Camera& camera) { return camera.name == notice.cameraName; });
    if (known != entry.cameras.end()) {
        *known = {notice.camera, notice.cameraName};
    } else {
        entry.cameras.push_back({notice.camera, notice.cameraName});
    }
    // By name: the same notice reads the same whichever camera spoke first.
    std::stable_sort(entry.cameras.begin(), entry.cameras.end(),
                     [](const Camera& a, const Camera& b) { return a.name < b.name; });
}

bool NoticeBoard::countsSubjects(const Notice& notice) {
    return notice.bySubject && !notice.subject.empty() && !notice.several.empty();
}

void NoticeBoard::noteDismissed(const std::string& occurrence) {
    if (occurrence.empty() || std::find(dismissed_.begin(), dismissed_.end(), occurrence) != dismissed_.end()) return;
    dismissed_.push_back(occurrence);
    while (dismissed_.size() > dismissedCapacity) dismissed_.pop_front();
}

void NoticeBoard::rememberDismissed(const std::vector<std::string>& occurrences) {
    for (const auto& occurrence : occurrences) noteDismissed(occurrence);
}

bool NoticeBoard::forget(const std::string& occurrence) {
    return std::erase(dismissed_, occurrence) > 0;
}

std::optional<NoticeBoard::Showing> NoticeBoard::start() {
    if (entries_.empty() || entries_.front().id) return std::nullopt;
    entries_.front().id = nextID_++;
    entries_.front().said = nextSaid_++;
    return Showing{entries_.front().id, entries_.front().notice.seconds};
}

std::optional<NoticeBoard::Showing> NoticeBoard::post(Notice notice) {
    // Read once, it is not told again, however often the camera says it still holds.
    if (!notice.occurrence.empty() &&
        std::find(dismissed_.begin(), dismissed_.end(), notice.occurrence) != dismissed_.end())
        return std::nullopt;
    auto& list = notice.stays ? staying_ : entries_;
    auto same = std::find_if(list.begin(), list.end(), [&](const Entry& e) { return sameNotice(e.notice, notice); });
    if (same != list.end()) {
        // Said again: one that stays is said once, counted when it has a text for several.
        if (!notice.key.empty() && !notice.several.empty() && !countsSubjects(notice)) same->count += notice.counts;
        const bool known = !notice.occurrence.empty() && std::find(same->occurrences.begin(), same->occurrences.end(),
                                                                   notice.occurrence) != same->occurrences.end();
        heardFrom(*same, notice);
        if (notice.stays) {
            // Told again (a camera that connects again says what still holds), it is no news.
            if (known) return std::nullopt;
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
    const std::size_t count = std::max<std::size_t>(1, notice.counts);
    Entry entry{std::move(notice), 0, count, 0, {}, {}, {}};
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
    auto read = std::find_if(staying_.begin(), staying_.end(), [id](const Entry& e) { return e.id == id; });
    if (read == staying_.end()) return false;
    for (const auto& occurrence : read->occurrences) noteDismissed(occurrence);
    staying_.erase(read);
    return true;
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
    const auto isCamera = [&](const Camera& c) { return c.id == camera || c.name == camera; };
    std::erase_if(staying_, [&](Entry& entry) {
        auto told = std::find(entry.subjects.begin(), entry.subjects.end(), subject);
        if (told == entry.subjects.end()) return false;
        if (!camera.empty() && std::none_of(entry.cameras.begin(), entry.cameras.end(), isCamera)) return false;
        changed = true;
        if (entry.subjects.size() > 1) {
            // One of those it counts has passed; the others still hold.
            entry.subjects.erase(told);
            if (countsSubjects(entry.notice)) entry.count = entry.subjects.size();
            return false;
        }
        if (camera.empty()) return true;
        std::erase_if(entry.cameras, isCamera);
        return entry.cameras.empty();
    });
    return changed;
}

void NoticeBoard::nameCameras() {
    namesCameras_ = true;
}

}  // namespace morvane
