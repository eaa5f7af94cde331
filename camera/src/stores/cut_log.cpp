#include "camera/cut_log.h"

#include <algorithm>
#include <cmath>

namespace morvane {

Date CutLog::cutMoment(std::optional<Date> made, Date received) {
    if (!made || !std::isfinite(made->secondsSinceReferenceDate)) return received;
    // A link may hold a cut back for seconds, or a paused camera for minutes; never for a day.
    return std::abs(received.timeIntervalSince(*made)) <= madeMomentTrust ? *made : received;
}

void CutLog::add(const ProgramCut& cut) {
    std::lock_guard lock(lock_);
    const auto at = std::upper_bound(cuts_.begin(), cuts_.end(), cut,
                                     [](const ProgramCut& a, const ProgramCut& b) { return a.at < b.at; });
    cuts_.insert(at, cut);
    if (cuts_.size() > maxCuts) cuts_.erase(cuts_.begin(), cuts_.begin() + static_cast<long>(cuts_.size() - maxCuts));
}

std::vector<ProgramCut> CutLog::cuts() const {
    std::lock_guard lock(lock_);
    return cuts_;
}

std::vector<ProgramCut> CutLog::cuts(Date from, Date to) const {
    std::lock_guard lock(lock_);
    std::vector<ProgramCut> out;
    const ProgramCut* inForce = nullptr;
    for (const auto& cut : cuts_) {
        if (cut.at < from) {
            inForce = &cut;
        } else if (cut.at < to) {
            out.push_back(cut);
        }
    }
    if (inForce) out.insert(out.begin(), *inForce);
    return out;
}

}  // namespace morvane
