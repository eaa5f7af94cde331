#pragma once

#include <mutex>
#include <vector>

#include "protocol/program_cut.h"

namespace morvane {

/// The live program's cuts as the remote reported them, for the transfer descriptions of the camera's takes.
class CutLog {
public:
    /// At most this many cuts are kept; the oldest go first (a day of cutting is far fewer).
    static constexpr std::size_t maxCuts = 10000;

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
