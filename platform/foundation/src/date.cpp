#include "platform/date.h"

namespace morvane {

Date Date::now() { return fromSystem(std::chrono::system_clock::now()); }

Date Date::fromSystem(std::chrono::system_clock::time_point t) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
    return fromUnix(static_cast<double>(us) / 1e6);
}

std::chrono::system_clock::time_point Date::systemTime() const {
    const auto us = static_cast<long long>(unixSeconds() * 1e6);
    return std::chrono::system_clock::time_point(std::chrono::microseconds(us));
}

}  // namespace morvane
