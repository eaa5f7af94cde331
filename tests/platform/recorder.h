#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane::test {

/// Collects values from any thread.
class Recorder {
public:
    void add(int v) {
        std::lock_guard lock(mutex_);
        values_.push_back(v);
    }
    std::vector<int> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return values_.size();
    }
    /// Waits until `count` values have arrived (or a generous time-out passed).
    bool waitFor(std::size_t count) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            if (size() >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> values_;
};

}  // namespace morvane::test
