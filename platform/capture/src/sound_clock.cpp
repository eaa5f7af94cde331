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
// The count lies no more than this after where the input's times say once they settled, for this long, or moves back
// there.
constexpr double kSettled = 0.001;
constexpr double kSettling = 0.25;
// The input's times have stopped moving once they stay this close for `kSettling` seconds of sound: less than its
// smoothing moves them meanwhile after any interruption.
constexpr double kStill = 0.0005;
// With counted times, a block read later than its time says by more than this was read in a stall.
constexpr double kStalled = 0.015;

}  // namespace

void SoundClock::shift(double seconds) {
    origin_ += seconds;
    laidReported_ -= seconds;
    for (Seen& seen : recent_) {
        seen.lead -= seconds;
        seen.reported -= seconds;
    }
    for (Held& block : held_) {
        block.lead -= seconds;
        block.reported -= seconds;
    }
}

void SoundClock::excuse(double seconds) {
    delay_ += seconds;
    for (Seen& seen : recent_) seen.lead -= seconds;
    for (Held& block : held_) block.lead -= seconds;
}

void SoundClock::lay(std::vector<double>& laid, std::size_t blocks) {
    for (; blocks > 0 && !held_.empty(); --blocks) {
        laid.push_back(origin_ + static_cast<double>(held_.front().first) / rate_);
        laidReported_ = held_.front().reported;
        held_.pop_front();
    }
}

double SoundClock::lostBefore(std::size_t after, std::size_t last, double behind) const {
    const double settled = held_[last].reported;
    const double before = after > 0 ? held_[after - 1].reported : laidReported_;
    if (!std::isfinite(settled) || !std::isfinite(before)) return behind;
    // The input smooths its times over seconds: until they stayed still for a while after the reads fell behind,
    // they have shown nothing of a delay yet, and the reads tell what was lost.
    const double until = static_cast<double>(last + 1 < held_.size() ? held_[last + 1].first : count_) / rate_;
    if (static_cast<double>(held_[after].first) / rate_ > until - kSettling) return behind;
    for (std::size_t i = after; i < last; ++i)
        if (static_cast<double>(held_[i].first) / rate_ >= until - kSettling &&
            std::abs(held_[i].reported - settled) >= kStill)
            return behind;
    // The input's times run on over a longer delay and move on by what was lost; they are taken where they
    // settled, at the last block before anything else happened. Reads that show less than it says came sooner by
    // a delay that shrank meanwhile.
    const double lost = settled - before;
    return lost < interruption ? 0 : std::min(lost, behind + std::max(0.0, delay_));
}

std::vector<double> SoundClock::finish() {
    std::vector<double> laid;
    lay(laid, held_.size());
    return laid;
}

std::vector<double> SoundClock::stampCounted(double latest, std::int64_t samples, int rate, double reported) {
    std::vector<double> laid;
    // Neither the read nor the server's counts can put a block before it was heard: the earliest they say is
    // the nearest.
    const double bound = std::isfinite(reported) ? std::min(reported, latest) : latest;
    if (rate != rate_) {
        lay(laid, held_.size());
        rate_ = rate;
        origin_ = bound;
        count_ = 0;
    }
    held_.push_back({count_, bound - static_cast<double>(count_) / rate_, latest - bound});
    count_ += samples;
    // Heard sooner than the count says: the count, and what is held on it, lies that much sooner.
    origin_ = std::min(origin_, held_.back().lead);
    // Those before a block that lies on the count lie on it too: sound lost only puts what follows later.
    std::size_t after = held_.size();
    while (after > 0 && held_[after - 1].lead > origin_ + tolerance) --after;
    lay(laid, after);
    while (!held_.empty() && static_cast<double>(count_ - held_.front().first) / rate_ >= settle - 0.5 / rate_) {
        const Held& first = held_.front();
        if (first.reported > kStalled) {
            // Read in a stall: where in it sound was lost nobody counted. A buffer that overflows loses its newest
            // sound, so the sound held up lies on the count, and a loss at the stall's end, where the reads come on
            // time again.
            lay(laid, 1);
            continue;
        }
        // Sound lost before it (or the source's clock runs slow), as much as the earliest of the blocks from it on
        // says; but where the blocks that lie as it does are followed by ones later still, they were heard before
        // a loss, handed over late (a source that hands over its sound in periods), on the count.
        std::size_t next = 1;
        while (next < held_.size() && std::abs(held_[next].lead - first.lead) <= tolerance) ++next;
        double following = INFINITY;
        for (std::size_t i = next; i < held_.size(); ++i) following = std::min(following, held_[i].lead);
        if (following >= first.lead - tolerance) {
            if (following <= first.lead + tolerance || next == held_.size()) origin_ = std::max(origin_, first.lead);
        } else {
            origin_ = std::max(origin_, following);
        }
        lay(laid, 1);
    }
    return laid;
}

std::vector<double> SoundClock::stamp(double latest, std::int64_t samples, int rate, double reported) {
    if (times_ == Times::counted && rate > 0 && samples > 0 && std::isfinite(latest))
        return stampCounted(latest, samples, rate, reported);
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
        delay_ = 0;
        laidReported_ = NAN;
        lagging_ = false;
        recent_.clear();
    }
    const std::int64_t first = count_;
    const double read = latest + static_cast<double>(samples) / rate_;
    const double counted = origin_ + static_cast<double>(first) / rate_;
    double lead = latest - delay_ - counted;
    if (lead < 0) {
        // Read sooner than the count and the delay say: the input's delay shrank, where its times (which the count
        // follows) tell; else the count lies late.
        if (std::isfinite(reported)) {
            excuse(lead);
        } else {
            shift(lead);
        }
        lead = 0;
    }
    count_ += samples;
    const double reportedLead = reported - (origin_ + static_cast<double>(first) / rate_);
    held_.push_back({first, lead, reportedLead});
    recent_.push_back({read, latest, lead, reportedLead});
    while (recent_.front().read < read - kMemory) recent_.pop_front();

    // The blocks read behind by an interruption or more, latest first: sound was lost before them when the sound
    // read so lasts long enough. Until then they are held, as they may lie after a loss.
    double since = latest;
    for (auto it = recent_.rbegin(); it != recent_.rend() && it->lead >= interruption; ++it) since = it->begun;
    const bool lost = lead >= interruption && read - since >= confirmation;
    if (lost) {
        // The blocks read since the first one behind lie after the loss, later by the least of them. So do the
        // blocks held before them, but for one read late just before the loss, read less behind than they were.
        double behind = lead;
        for (const Seen& seen : recent_)
            if (seen.begun > since) behind = std::min(behind, seen.lead);
        std::size_t before = held_.size();
        while (before > 0 && held_[before - 1].lead > behind - kSameRead) --before;
        // Sound read behind by an interruption more ever since was lost again after: it waits for that to be
        // decided.
        std::size_t after = held_.size();
        while (after > before && held_[after - 1].lead >= behind + interruption) --after;
        const double amount = after > before ? lostBefore(before, after - 1, behind) : behind;
        lay(laid, before);
        shift(amount);
        excuse(behind - amount);
        lay(laid, after - before);
        // The input's times take a loss up over seconds: until they reach the count again, they lie short of it
        // and show no delay.
        lagging_ = amount > 0;
    } else if (std::isfinite(reportedLead)) {
        // The input's times lead: once they settled before the count (a loss among them decided first), they show a
        // delay: the count moves back to them, and the reads are expected as late as they come; reads that lag
        // behind them slowly are its delay. Times after the count show no delay but the input's smoothing, which
        // overshoots a loss for seconds: only the reads move the count on.
        double least = lead, earliest = reportedLead, latestReported = reportedLead;
        for (const Seen& seen : recent_) {
            least = std::min(least, seen.lead);
            if (seen.read < read - kSettling) continue;
            earliest = std::min(earliest, seen.reported);
            latestReported = std::max(latestReported, seen.reported);
        }
        const double settled = (earliest + latestReported) / 2;
        if (reportedLead > -kSettled) lagging_ = false;
        if (!lagging_ && recent_.front().read <= read - kSettling && lead < interruption &&
            latestReported - earliest < kSameRead && settled <= -kSettled) {
            shift(settled);
            excuse(-settled);
        } else if (least > 0 && read - recent_.front().read >= kMemory / 2) {
            excuse(least * kFollow);
        }
    } else if (read - recent_.front().read >= kMemory / 2) {
        double least = lead;
        for (const Seen& seen : recent_) least = std::min(least, seen.lead);
        if (least > 0) shift(least * kFollow);
    }
    if (delay_ > longestDelay) {
        const double beyond = delay_ - longestDelay;
        excuse(-beyond);
        shift(beyond);
    }
    if (!lost && lead < interruption) lay(laid, held_.size());
    return laid;
}

}  // namespace morvane
