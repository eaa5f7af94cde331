#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "protocol/camera_event.h"

namespace morvane {

/// What the camera has told that a remote connecting later must still hear. A notice with a subject stands until
/// the event of its subject that says it is over, and every remote that connects hears it; a newer one of the same
/// subject takes its place. A failure told while no remote listened, and the end of a subject's notice, wait for the
/// first remote that connects. At most `capacity` are kept, the oldest going first.
class StandingNotices {
public:
    static constexpr std::size_t capacity = 32;

    /// The camera tells `event`; `heard`: a remote was there to hear it.
    void tell(const CameraEvent& event, bool heard);
    /// What a remote that connects is told, oldest first. What waited for a remote has then been heard.
    std::vector<CameraEvent> greet();

private:
    std::deque<CameraEvent> kept_;
};

}  // namespace morvane
