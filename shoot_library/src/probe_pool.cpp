#include "probe_pool.h"

#include <pthread.h>

namespace morvane {

ProbePool::ProbePool(unsigned threads) : threadCount_(threads == 0 ? 1 : threads) {}

ProbePool::~ProbePool() {
    stop();
}

void ProbePool::run(std::function<void()> work, std::function<void()> cancelled) {
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            jobs_.push_back(Job{std::move(work), std::move(cancelled)});
            // One more worker while there are fewer than the jobs waiting and the limit allows.
            if (threads_.size() < threadCount_ && threads_.size() < jobs_.size()) {
                threads_.emplace_back([this] { workLoop(); });
            }
            wake_.notify_one();
            return;
        }
    }
    if (cancelled) cancelled();
}

void ProbePool::stop() {
    std::deque<Job> dropped;
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(jobs_);
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (auto& job : dropped) {
        if (job.cancelled) job.cancelled();
    }
    for (auto& thread : threads) thread.join();
}

void ProbePool::workLoop() {
    pthread_setname_np(pthread_self(), "shoot-probe");
    for (;;) {
        Job next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_ || jobs_.empty()) return;
            next = std::move(jobs_.front());
            jobs_.pop_front();
        }
        next.work();
    }
}

}  // namespace morvane
