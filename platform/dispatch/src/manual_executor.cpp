#include "platform/manual_executor.h"

#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

// Keeps the clock finite whatever a test asks for.
constexpr double longestStep = 1e12;

double delay(double seconds) {
    return seconds > 0 ? std::min(seconds, longestStep) : 0.0;
}  // NaN is 0

template <typename Item>
bool later(const Item& a, const Item& b) {
    return a.due != b.due ? a.due > b.due : a.order > b.order;
}

}  // namespace

ManualExecutor::ManualExecutor() : owner_(std::this_thread::get_id()) {}

void ManualExecutor::async(std::function<void()> block) {
    asyncAfter(0, std::move(block));
}

void ManualExecutor::asyncAfter(double seconds, std::function<void()> block) {
    std::lock_guard lock(mutex_);
    items_.push_back(Item{now_ + delay(seconds), nextOrder_++, std::move(block)});
    std::push_heap(items_.begin(), items_.end(), later<Item>);
}

bool ManualExecutor::isCurrent() const {
    return std::this_thread::get_id() == owner_;
}

bool ManualExecutor::takeDue(double until, std::function<void()>& block) {
    std::lock_guard lock(mutex_);
    if (items_.empty() || items_.front().due > until) return false;
    std::pop_heap(items_.begin(), items_.end(), later<Item>);
    Item item = std::move(items_.back());
    items_.pop_back();
    now_ = std::max(now_, item.due);
    block = std::move(item.block);
    return true;
}

std::size_t ManualExecutor::runPending() {
    return advance(0);
}

std::size_t ManualExecutor::advance(double seconds) {
    double until;
    {
        std::lock_guard lock(mutex_);
        until = now_ + delay(seconds);
    }
    std::size_t ran = 0;
    std::function<void()> block;
    while (takeDue(until, block)) {
        // Run outside the lock: the work may hand over more work.
        if (block) block();
        block = nullptr;
        ++ran;
    }
    std::lock_guard lock(mutex_);
    now_ = std::max(now_, until);
    return ran;
}

double ManualExecutor::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::size_t ManualExecutor::pendingCount() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

}  // namespace morvane
