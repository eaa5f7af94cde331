#include "camera/transfer_holds.h"

#include <algorithm>

namespace morvane {

void TransferHolds::failed(const Uuid& id, bool linkLost, Clock::time_point now) {
    auto& hold = holds_[id];
    if (linkLost) {
        hold.until = now;
        return;
    }
    hold.delay = std::min(hold.delay > 0 ? 2 * hold.delay : firstDelay, maxDelay);
    hold.until = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(hold.delay));
}

bool TransferHolds::mayGo(const Uuid& id, Clock::time_point now) const {
    const auto hold = holds_.find(id);
    return hold == holds_.end() || hold->second.until <= now;
}

}  // namespace morvane
