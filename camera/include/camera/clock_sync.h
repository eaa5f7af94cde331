#pragma once

#include <deque>
#include <mutex>
#include <optional>

#include "link/peer_id.h"

namespace morvane {

/// The camera's estimate of the master device's clock, from clock pings and their answers.
class ClockSync {
public:
    struct Sample {
        double offset = 0;     ///< master clock minus ours, seconds
        double roundTrip = 0;  ///< seconds
    };

    /// Samples kept; the estimate follows the quickest of them, whose answer waited least on the way.
    static constexpr std::size_t maxSamples = 16;

    /// Seconds to add to this device's clock to get the master's clock; 0 until a sample arrived.
    double offset() const;

    /// One ping's answer: sent and answered at `sentAt` and `receivedAt` (this device's clock, seconds since
    /// 1970), with the master's clock `masterTime` (seconds since 1970). A sample whose times are not finite, run
    /// backwards or took longer than `maxRoundTrip` is dropped; returns whether it was taken.
    bool addSample(double sentAt, double receivedAt, double masterTime);

    /// The device whose clock is the reference; a different master starts the estimate afresh.
    void setMaster(std::optional<PeerId> master);
    std::optional<PeerId> master() const;

    static constexpr double maxRoundTrip = 2.0;

private:
    mutable std::mutex lock_;
    double offset_ = 0;
    std::deque<Sample> samples_;
    std::optional<PeerId> master_;
};

}  // namespace morvane
