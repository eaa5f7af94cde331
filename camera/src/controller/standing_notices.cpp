#include "camera/standing_notices.h"

#include <algorithm>

namespace morvane {

namespace {

bool stands(const CameraEvent& event) {
    return event.subject && !event.over.value_or(false);
}

}  // namespace

void StandingNotices::tell(const CameraEvent& event, bool heard) {
    if (event.subject) {
        std::erase_if(kept_, [&](const CameraEvent& kept) { return kept.subject == event.subject; });
        // Its end is told to a remote that may still show it from before.
        if (stands(event) || !heard) kept_.push_back(event);
    } else if (event.kind == CameraEvent::Kind::failed && !heard) {
        kept_.push_back(event);
    }
    while (kept_.size() > capacity) kept_.pop_front();
}

std::vector<CameraEvent> StandingNotices::greet() {
    std::vector<CameraEvent> told(kept_.begin(), kept_.end());
    std::erase_if(kept_, [](const CameraEvent& kept) { return !stands(kept); });
    return told;
}

}  // namespace morvane
