#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "protocol/program_cut.h"

namespace morvane {

/// The live program's cuts as the remote reported them, for the transfer descriptions of the camera's takes.
class CutLog {
public:
    /// At most this many cuts are kept; the oldest go first (a day of cutting is far fewer).
    static constexpr std::size_t maxCuts = 10000;

    /// A remote that sends the moment it made a cut is believed within a day of the moment the cut arrived here;
    /// beyond that, or without one, the arrival is the best there is.
    static constexpr double madeMomentTrust = 86400.0;
    /// When the cut happened: `made` (master clock) if it can be trusted, else `received` (master clock).
    static Date cutMoment(std::optional<Date> made, Date received);

    void add(const ProgramCut& cut);
    std::vector<ProgramCut> cuts() const;
    /// The cuts at or after `from` and before `to`, in time order, preceded by the last cut before `from` (the
    /// camera on air when a take began).
    std::vector<ProgramCut> cuts(Date from, Date to) const;

private:
    mutable std::mutex lock_;
    std::vector<ProgramCut> cuts_;  // in time order
};

}  // namespace morvane
