#include "camera/clock_sync.h"

#include <algorithm>
#include <cmath>

namespace morvane {

double ClockSync::offset() const {
    std::lock_guard lock(lock_);
    return offset_;
}

bool ClockSync::addSample(double sentAt, double receivedAt, double masterTime) {
    if (!std::isfinite(sentAt) || !std::isfinite(receivedAt) || !std::isfinite(masterTime)) return false;
    const double roundTrip = receivedAt - sentAt;
    if (roundTrip < 0 || roundTrip > maxRoundTrip) return false;
    // The master read its clock about halfway through the round trip.
    const Sample sample{masterTime - (sentAt + roundTrip / 2), roundTrip};
    std::lock_guard lock(lock_);
    samples_.push_back(sample);
    while (samples_.size() > maxSamples) samples_.pop_front();
    const auto best = std::min_element(samples_.begin(), samples_.end(),
                                       [](const Sample& a, const Sample& b) { return a.roundTrip < b.roundTrip; });
    offset_ = best->offset;
    return true;
}

void ClockSync::setMaster(std::optional<PeerId> master) {
    std::lock_guard lock(lock_);
    if (master == master_) return;
    master_ = master;
    samples_.clear();
    offset_ = 0;
}

std::optional<PeerId> ClockSync::master() const {
    std::lock_guard lock(lock_);
    return master_;
}

}  // namespace morvane
