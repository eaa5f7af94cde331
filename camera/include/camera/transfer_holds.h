#pragma once

#include <chrono>
#include <map>

#include "platform/uuid.h"

namespace morvane {

/// Which of the camera's captures may be sent again after a failed transfer. One the remote answered for (no room
/// for it, a failed write, damage on the way) waits: 5 s after the first failure, twice as long after each further
/// one, up to 300 s, while the captures behind it go. One whose link went mid-transfer did nothing wrong: it goes
/// again as soon as a remote takes files, and its earlier waits still count. Times are the steady clock's, so a
/// camera whose wall clock is set while a capture waits (a clock synced after joining the network) neither waits
/// for the step nor skips the wait.
class TransferHolds {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr double firstDelay = 5;
    static constexpr double maxDelay = 300;

    /// The transfer of capture `id` failed at `now`; `linkLost`: it ended because its link went, not by an answer.
    void failed(const Uuid& id, bool linkLost, Clock::time_point now);
    /// Whether capture `id` may be sent at `now`.
    bool mayGo(const Uuid& id, Clock::time_point now) const;
    /// The capture arrived, or is gone.
    void forget(const Uuid& id) { holds_.erase(id); }

private:
    struct Hold {
        Clock::time_point until;
        double delay = 0;  ///< seconds of the last wait, doubled at the next answered failure
    };
    std::map<Uuid, Hold> holds_;
};

}  // namespace morvane
