#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "protocol/camera_event.h"

namespace morvane {

/// What the camera has told that a remote connecting later must still hear. A notice with a subject stands until
/// the event of its subject that says it is over, and every remote that connects hears it; a newer one of the same
/// subject takes its place. A failure told while no remote listened, and the end of a subject's notice, wait for the
/// first remote that connects. At most `capacity` are kept, the oldest going first.
///
/// A notice that stands carries the occurrence it tells: the same each time it is told again (the same
/// subject with the same words), a new one once the cause comes again. A take's notice names the take and what befell
/// it, so it is the same occurrence whichever run of the camera tells it.
class StandingNotices {
public:
    static constexpr std::size_t capacity = 32;

    /// The camera tells `event`; `heard`: a remote was there to hear it. Answers the event as it is to be sent.
    CameraEvent told(const CameraEvent& event, bool heard);
    /// As `told`, for callers that send the event themselves without its occurrence.
    void tell(const CameraEvent& event, bool heard) { told(event, heard); }
    /// What a remote that connects is told, oldest first, each marked as told again. What waited for a remote has
    /// then been heard.
    std::vector<CameraEvent> greet();

private:
    std::deque<CameraEvent> kept_;
};

}  // namespace morvane
