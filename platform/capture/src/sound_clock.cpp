#include "platform/sound_clock.h"

#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

// A count that stayed behind every read of the last `kMemory` seconds takes up `kFollow` of that per block: slow
// enough that late reads hardly move it, fast enough for any clock drift.
constexpr double kMemory = 1;
constexpr double kFollow = 1.0 / 32;
// Blocks read behind by amounts this close may lie behind by the same.
constexpr double kSameRead = 0.002;

}  // namespace

void SoundClock::shift(double seconds) {
    origin_ += seconds;
    for (Seen& seen : recent_) seen.lead -= seconds;
    for (Held& block : held_) block.lead -= seconds;
}

void SoundClock::lay(std::vector<double>& laid, std::size_t blocks) {
    for (; blocks > 0 && !held_.empty(); --blocks) {
        laid.push_back(origin_ + static_cast<double>(held_.front().first) / rate_);
        held_.pop_front();
    }
}

std::vector<double> SoundClock::stamp(double latest, std::int64_t samples, int rate) {
    std::vector<double> laid;
    if (rate <= 0 || samples <= 0 || !std::isfinite(latest)) {
        lay(laid, held_.size());
        laid.push_back(latest);
        return laid;
    }
    if (rate != rate_) {
        lay(laid, held_.size());
        rate_ = rate;
        origin_ = latest;
        count_ = 0;
        recent_.clear();
    }
    const std::int64_t first = count_;
    const double read = latest + static_cast<double>(samples) / rate_;
    double lead = latest - (origin_ + static_cast<double>(first) / rate_);
    if (lead < 0) {
        // Seen before the count says it began: the count lies late.
        shift(lead);
        lead = 0;
    }
    count_ += samples;
    held_.push_back({first, lead});
    recent_.push_back({read, lead});
    while (recent_.front().read < read - kMemory) recent_.pop_front();

    // The blocks read behind by an interruption or more, latest first: sound was lost before them when they were
    // read so for long enough. Until then they are held, as they may lie after a loss.
    double since = read;
    for (auto it = recent_.rbegin(); it != recent_.rend() && it->lead >= interruption; ++it) since = it->read;
    const bool lost = lead >= interruption && read - since >= confirmation;
    if (lost) {
        // The blocks read since the first one behind lie after the loss, later by the least of them. So do the
        // blocks held before them, but for one read late just before the loss, read less behind than they were.
        double behind = lead;
        for (const Seen& seen : recent_)
            if (seen.read > since) behind = std::min(behind, seen.lead);
        std::size_t before = held_.size();
        while (before > 0 && held_[before - 1].lead > behind - kSameRead) --before;
        lay(laid, before);
        shift(behind);
    } else if (read - recent_.front().read >= kMemory / 2) {
        double least = lead;
        for (const Seen& seen : recent_) least = std::min(least, seen.lead);
        if (least > 0) shift(least * kFollow);
    }
    if (lost || lead < interruption) lay(laid, held_.size());
    return laid;
}

}  // namespace morvane
