#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace morvane {

/// The progress of one file on its way to a peer; shared by the sender and the link.
class TransferProgress {
public:
    explicit TransferProgress(std::uint64_t totalBytes = 0) : total_(totalBytes) {}

    std::uint64_t totalBytes() const { return total_.load(); }
    std::uint64_t completedBytes() const { return completed_.load(); }
    /// 0 to 1; 1 for an empty file once it is sent.
    double fractionCompleted() const {
        const auto total = total_.load();
        if (total == 0) return finished_.load() ? 1.0 : 0.0;
        return static_cast<double>(completed_.load()) / static_cast<double>(total);
    }
    bool isFinished() const { return finished_.load(); }
    bool isCancelled() const { return cancelled_.load(); }

    /// Stops the transfer; the completion then reports it as cancelled unless it had already finished.
    void cancel() {
        if (cancelled_.exchange(true)) return;
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex_);
            handler = std::move(onCancel_);
        }
        if (handler) handler();
    }

    // For the link.
    void setTotal(std::uint64_t total) { total_.store(total); }
    void setCompleted(std::uint64_t completed) { completed_.store(completed); }
    void markFinished() { finished_.store(true); }
    void setCancellationHandler(std::function<void()> handler) {
        bool already = false;
        {
            std::lock_guard lock(mutex_);
            already = cancelled_.load();
            if (!already) onCancel_ = std::move(handler);
        }
        if (already && handler) handler();
    }

private:
    std::atomic<std::uint64_t> total_;
    std::atomic<std::uint64_t> completed_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::function<void()> onCancel_;
};

}  // namespace morvane
