#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvane {

/// The concurrent executor on which one library's movie probes run, off the library's queue: a few worker threads,
/// started with the first probe, so that loading a day with many unprobed movies does not start a thread per movie.
/// Its owner stops it before going away: work not yet started is cancelled, work under way is finished, and the
/// threads end.
class ProbePool {
public:
    explicit ProbePool(unsigned threads);
    /// Stops the pool.
    ~ProbePool();
    ProbePool(const ProbePool&) = delete;
    ProbePool& operator=(const ProbePool&) = delete;

    /// Runs `work` on a worker; once the pool is stopping, or if the pool stops before it starts, `cancelled` runs
    /// instead (on the stopping thread, or at once).
    void run(std::function<void()> work, std::function<void()> cancelled);
    /// Cancels the work not yet started, waits for the work under way and ends the threads. Idempotent; not to be
    /// called from the pool's own work.
    void stop();

private:
    struct Job {
        std::function<void()> work;
        std::function<void()> cancelled;
    };
    void workLoop();

    const unsigned threadCount_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace morvane
