#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace morvane {

/// A callback slot that its owner may set or replace from one thread while the link calls it from another.
/// A call runs the function that was set when the call began; a slot that is not set does nothing, and the call
/// says whether a function ran.
template <typename... Args>
class Callback {
public:
    using Function = std::function<void(Args...)>;

    Callback() = default;
    Callback(const Callback&) = delete;
    Callback& operator=(const Callback&) = delete;

    Callback& operator=(Function function) {
        auto shared = function ? std::make_shared<const Function>(std::move(function)) : nullptr;
        std::lock_guard lock(mutex_);
        function_ = std::move(shared);
        return *this;
    }
    Callback& operator=(std::nullptr_t) {
        std::lock_guard lock(mutex_);
        function_.reset();
        return *this;
    }

    explicit operator bool() const { return current() != nullptr; }

    bool operator()(Args... args) const {
        auto function = current();
        if (!function) return false;
        (*function)(std::forward<Args>(args)...);
        return true;
    }

private:
    std::shared_ptr<const Function> current() const {
        std::lock_guard lock(mutex_);
        return function_;
    }

    mutable std::mutex mutex_;
    std::shared_ptr<const Function> function_;
};

}  // namespace morvane
