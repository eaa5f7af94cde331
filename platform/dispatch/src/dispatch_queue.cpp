#include "platform/dispatch_queue.h"

#include <pthread.h>

namespace morvane {

namespace {
thread_local DispatchQueue* currentQueue = nullptr;
}

DispatchQueue::DispatchQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([this] { run(); });
}

DispatchQueue::~DispatchQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // the last owner let go from inside its own work
        } else {
            thread_.join();
        }
    }
}

DispatchQueue* DispatchQueue::current() { return currentQueue; }

bool DispatchQueue::isCurrent() const { return currentQueue == this; }

void DispatchQueue::async(std::function<void()> block) {
    {
        std::lock_guard lock(mutex_);
        ready_.push(std::move(block));
    }
    wake_.notify_one();
}

void DispatchQueue::asyncAfter(double seconds, std::function<void()> block) {
    if (!(seconds > 0)) seconds = 0;
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    {
        std::lock_guard lock(mutex_);
        delayed_.push(Delayed{due, nextOrder_++, std::move(block)});
    }
    wake_.notify_one();
}

void DispatchQueue::sync(const std::function<void()>& block) {
    if (isCurrent()) {
        block();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;
    async([&] {
        block();
        std::lock_guard lock(doneMutex);
        done = true;
        doneCv.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneCv.wait(lock, [&] { return done; });
}

void DispatchQueue::run() {
    currentQueue = this;
    // Thread names are limited to 15 characters; keep the distinctive end of the label.
    std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(pthread_self(), name.c_str());

    std::unique_lock lock(mutex_);
    for (;;) {
        const auto now = Clock::now();
        while (!delayed_.empty() && delayed_.top().due <= now) {
            ready_.push(std::move(const_cast<Delayed&>(delayed_.top()).block));
            delayed_.pop();
        }
        if (!ready_.empty()) {
            auto block = std::move(ready_.front());
            ready_.pop();
            lock.unlock();
            if (block) block();
            block = nullptr;  // release captures outside the lock
            lock.lock();
            continue;
        }
        if (stopping_) break;
        if (delayed_.empty()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, delayed_.top().due);
        }
    }
    currentQueue = nullptr;
}

}  // namespace morvane
