#pragma once

#include "platform/dispatch_queue.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane {

/// An executor whose clock only moves when told to, for tests that need to control time.
///
/// Work runs on the thread that calls `runPending` or `advance`, never by itself. Blocks may be
/// handed over from any thread. Its time starts at zero.
class ManualExecutor final : public Executor {
public:
    ManualExecutor();

    using Executor::async;
    using Executor::asyncAfter;
    void async(std::function<void()> block) override;
    void asyncAfter(double seconds, std::function<void()> block) override;
    /// True on the thread that created the executor, which plays the part of its thread.
    bool isCurrent() const override;

    /// Runs everything due at the current time, including work that this work hands over for now.
    /// Returns how many blocks ran.
    std::size_t runPending();
    /// Moves the clock forward by `seconds`, running each block as its time comes, in deadline
    /// order; the clock reads each block's deadline while it runs. Returns how many blocks ran.
    std::size_t advance(double seconds);

    /// Seconds since the executor was created, as far as it knows.
    double now() const;
    /// Blocks waiting, due or not.
    std::size_t pendingCount() const;

private:
    struct Item {
        double due;
        std::uint64_t order;
        std::function<void()> block;
    };

    // Takes the earliest item due at or before `until` (and moves the clock to it); false when none.
    bool takeDue(double until, std::function<void()>& block);

    mutable std::mutex mutex_;
    std::vector<Item> items_;  // a min-heap on (due, order)
    double now_ = 0;
    std::uint64_t nextOrder_ = 0;
    std::thread::id owner_;
};

}  // namespace morvane
