#include "camera/standing_notices.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/uuid.h"

namespace morvane {

namespace {

bool stands(const CameraEvent& event) {
    return event.subject && !event.over.value_or(false);
}

// A take's notice is its own occurrence: the take and what befell it, told by whichever run of the camera finds it.
std::string takeOccurrence(const std::string& subject, const std::string& message) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a: the same words give the same mark on every computer
    for (const unsigned char c : message) hash = (hash ^ c) * 1099511628211ull;
    char mark[17];
    std::snprintf(mark, sizeof mark, "%016llx", static_cast<unsigned long long>(hash));
    return subject + "#" + mark;
}

}  // namespace

CameraEvent StandingNotices::told(const CameraEvent& event, bool heard) {
    CameraEvent told = event;
    told.retold.reset();
    if (!told.occurrence && stands(told)) {
        const std::string message = told.message.value_or("");
        auto same = std::find_if(kept_.begin(), kept_.end(), [&](const CameraEvent& kept) {
            return told.subject && kept.subject == told.subject && stands(kept) && kept.message == told.message;
        });
        if (same != kept_.end()) {
            told.occurrence = same->occurrence;  // said again, the cause has not passed in between
        } else if (told.subject && told.subject->starts_with("take:")) {
            told.occurrence = takeOccurrence(*told.subject, message);
        } else {
            told.occurrence = Uuid().uuidString();
        }
    }
    if (told.subject) {
        std::erase_if(kept_, [&](const CameraEvent& kept) { return kept.subject == told.subject; });
        // Its end is told to a remote that may still show it from before.
        if (stands(told) || !heard) kept_.push_back(told);
    } else if (told.kind == CameraEvent::Kind::failed && !heard) {
        kept_.push_back(told);
    }
    while (kept_.size() > capacity) kept_.pop_front();
    return told;
}

std::vector<CameraEvent> StandingNotices::greet() {
    std::vector<CameraEvent> told(kept_.begin(), kept_.end());
    for (auto& event : told) event.retold = true;
    std::erase_if(kept_, [](const CameraEvent& kept) { return !stands(kept); });
    return told;
}

}  // namespace morvane
