#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace morvane {

/// A block of work that can be cancelled before it runs.
class DispatchWorkItem {
public:
    explicit DispatchWorkItem(std::function<void()> block) : block_(std::move(block)) {}

    /// Marks the item cancelled; a later `perform` does nothing. Work already running finishes.
    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }
    void perform() {
        if (!isCancelled() && block_) block_();
    }

private:
    std::function<void()> block_;
    std::atomic<bool> cancelled_{false};
};

/// Somewhere to run work later: a serial queue, or the main thread's event loop.
class Executor {
public:
    virtual ~Executor() = default;
    virtual void async(std::function<void()> block) = 0;
    /// Runs the block once `seconds` have passed (at once for zero, negative or NaN).
    virtual void asyncAfter(double seconds, std::function<void()> block) = 0;
    /// True when called from the executor's own work.
    virtual bool isCurrent() const = 0;

    void asyncAfter(double seconds, std::shared_ptr<DispatchWorkItem> item) {
        asyncAfter(seconds, [item = std::move(item)] { item->perform(); });
    }
    void async(std::shared_ptr<DispatchWorkItem> item) {
        async([item = std::move(item)] { item->perform(); });
    }
};

/// A labelled serial queue with its own thread, named after the label (its last 15 characters when
/// longer, the limit of a thread name). Work handed over with `async` runs there; `sync` may run its block
/// on the waiting caller's thread instead.
///
/// Work runs one block at a time in the order it was handed over; delayed work runs in deadline order
/// (equal deadlines in the order handed over) once its time has come. Destroying the queue runs what
/// was already handed over for immediate execution and drops delayed work that has not come due.
/// The queue may be destroyed from inside its own work; the remaining work then still runs.
class DispatchQueue final : public Executor {
public:
    explicit DispatchQueue(std::string label);
    ~DispatchQueue() override;
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }

    using Executor::async;
    using Executor::asyncAfter;
    void async(std::function<void()> block) override;
    void asyncAfter(double seconds, std::function<void()> block) override;
    bool isCurrent() const override;

    /// Runs the block as the queue's work and waits for it: after the work handed over before, and never
    /// alongside other work of the queue. When the queue has nothing else to do the block runs on the calling
    /// thread (saving two thread switches); inside it `isCurrent` is true. Called from the queue itself it runs
    /// inline rather than deadlocking. An exception thrown by the block reaches the caller.
    void sync(const std::function<void()>& block);

    template <typename F>
    auto syncResult(F&& f) -> decltype(f()) {
        using R = decltype(f());
        if constexpr (std::is_void_v<R>) {
            sync(std::forward<F>(f));
        } else {
            std::optional<R> result;
            sync([&] { result.emplace(f()); });
            return std::move(*result);
        }
    }

    /// The queue the calling thread is running, if any.
    static DispatchQueue* current();

private:
    struct State;

    std::string label_;
    // Shared with the queue's thread, which may outlive this object when the last owner lets go
    // from inside the queue's own work.
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace morvane
