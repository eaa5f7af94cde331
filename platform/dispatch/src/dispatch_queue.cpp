#include "platform/dispatch_queue.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

struct Delayed {
    Clock::time_point due;
    std::uint64_t order;
    std::function<void()> block;
    bool operator>(const Delayed& o) const { return due != o.due ? due > o.due : order > o.order; }
};

// Far enough to mean "never" without overflowing the clock.
constexpr double longestDelay = 100.0 * 365 * 24 * 3600;

}  // namespace

struct DispatchQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> ready;
    std::priority_queue<Delayed, std::vector<Delayed>, std::greater<>> delayed;
    std::uint64_t nextOrder = 0;
    bool stopping = false;
    // A block of this queue is running, on its thread or on a thread waiting in `sync`.
    bool busy = false;
    // The object that owns this state; cleared when it is destroyed from inside its own work.
    std::atomic<DispatchQueue*> owner{nullptr};

    void run(const std::string& label);
};

namespace {
// The state of the queue whose work this thread is running.
thread_local void* currentState = nullptr;
}  // namespace

DispatchQueue::DispatchQueue(std::string label) : label_(std::move(label)), state_(std::make_shared<State>()) {
    state_->owner = this;
    thread_ = std::thread([state = state_, label = label_] { state->run(label); });
}

DispatchQueue::~DispatchQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (isCurrent()) {
        // The last owner let go from inside this queue's work: the thread finishes on its own,
        // keeping the state alive, and no longer reports this object as its queue.
        state_->owner = nullptr;
        thread_.detach();
    } else {
        thread_.join();
    }
}

DispatchQueue* DispatchQueue::current() {
    return currentState ? static_cast<State*>(currentState)->owner.load() : nullptr;
}

bool DispatchQueue::isCurrent() const {
    return currentState == state_.get();
}

void DispatchQueue::async(std::function<void()> block) {
    // Once the block is in, it may run and let the queue's owner destroy the queue before this call returns:
    // keep the state alive until the wake-up is sent.
    const auto state = state_;
    {
        std::lock_guard lock(state->mutex);
        state->ready.push_back(std::move(block));
    }
    state->wake.notify_one();
}

void DispatchQueue::asyncAfter(double seconds, std::function<void()> block) {
    // NaN and negative delays mean "now"; huge ones must not overflow the clock arithmetic.
    seconds = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, longestDelay);
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const auto state = state_;  // as in async: the block may end the queue's life before this returns
    {
        std::lock_guard lock(state->mutex);
        state->delayed.push(Delayed{due, state->nextOrder++, std::move(block)});
    }
    state->wake.notify_one();
}

void DispatchQueue::sync(const std::function<void()>& block) {
    if (isCurrent()) {
        block();
        return;
    }
    const auto state = state_;  // kept alive should the block destroy the queue
    {
        std::unique_lock lock(state->mutex);
        if (!state->busy && state->ready.empty() && !state->stopping) {
            // Nothing else to do: the block runs here, as the queue's work (the queue's thread waits meanwhile).
            // Two thread switches fewer on every call; callers that send a packet at a time feel it most.
            state->busy = true;
            lock.unlock();
            struct Inline {
                State& state;
                void* outer = currentState;
                explicit Inline(State& s) : state(s) { currentState = &s; }
                ~Inline() {
                    currentState = outer;
                    bool waiting = false;
                    {
                        std::lock_guard lock(state.mutex);
                        state.busy = false;
                        waiting = !state.ready.empty();
                    }
                    if (waiting) state.wake.notify_one();
                }
            } running(*state);
            block();
            return;
        }
    }
    // The waiter is told after the lock is let go: told under it, it would wake only to wait for the lock, two
    // more thread switches on every call. Shared, because the waiter may return (and leave) before the telling.
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::exception_ptr error;
    };
    auto done = std::make_shared<Done>();
    async([&block, done] {
        std::exception_ptr error;
        try {
            block();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(done->mutex);
            done->done = true;
            done->error = error;
        }
        done->cv.notify_one();
    });
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->done; });
    if (done->error) std::rethrow_exception(done->error);
}

void DispatchQueue::State::run(const std::string& label) {
    currentState = this;
    // Thread names are limited to 15 characters; keep the distinctive end of the label.
    const std::string name = label.size() > 15 ? label.substr(label.size() - 15) : label;
    pthread_setname_np(pthread_self(), name.c_str());

    std::unique_lock lock(mutex);
    for (;;) {
        const auto now = Clock::now();
        while (!delayed.empty() && delayed.top().due <= now) {
            ready.push_back(std::move(const_cast<Delayed&>(delayed.top()).block));
            delayed.pop();
        }
        if (!ready.empty() && !busy) {
            auto block = std::move(ready.front());
            ready.pop_front();
            busy = true;
            lock.unlock();
            if (block) block();
            block = nullptr;  // release captures (possibly the queue itself) outside the lock
            lock.lock();
            busy = false;
            continue;
        }
        if (stopping && ready.empty()) break;
        // Also while a block runs in a `sync` caller: it wakes this thread when it leaves work behind.
        if (delayed.empty()) {
            wake.wait(lock);
        } else {
            // A copy: the wait reads the deadline again after others (who may grow the heap) had the lock.
            const auto due = delayed.top().due;
            wake.wait_until(lock, due);
        }
    }
    currentState = nullptr;
}

}  // namespace morvane
