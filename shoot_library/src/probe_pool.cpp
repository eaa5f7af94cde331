#include "probe_pool.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace morvane {

struct ProbePool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> work;
};

ProbePool& ProbePool::shared() {
    // Lives for the process: its workers wait for work until the process ends.
    static ProbePool* pool = new ProbePool();
    return *pool;
}

ProbePool::ProbePool() : state_(new State) {
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    for (unsigned i = 0; i < count; ++i) {
        std::thread([state = state_] {
            pthread_setname_np(pthread_self(), "shoot-probe");
            for (;;) {
                std::function<void()> next;
                {
                    std::unique_lock lock(state->mutex);
                    state->wake.wait(lock, [&] { return !state->work.empty(); });
                    next = std::move(state->work.front());
                    state->work.pop_front();
                }
                next();
            }
        }).detach();
    }
}

void ProbePool::run(std::function<void()> work) {
    {
        std::lock_guard lock(state_->mutex);
        state_->work.push_back(std::move(work));
    }
    state_->wake.notify_one();
}

}  // namespace morvane
