#include "shoot_library/timecode.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace morvane::timecode {

namespace {

// Frame counts stay far inside 64 bits, so sums of a few of them cannot overflow whatever a peer reports.
constexpr double maxFrames = 4.0e15;

// Local calendar arithmetic is kept to years 1 to 9999, where the C library is exact.
constexpr double minUnixSeconds = -62135510400.0;  // 0001-01-02 00:00:00 UTC
constexpr double maxUnixSeconds = 253402214400.0;  // 9999-12-31 00:00:00 UTC

double clampedUnix(Date date) {
    const double unix = date.unixSeconds();
    if (!std::isfinite(unix)) return Date::unixOffset;
    return std::clamp(unix, minUnixSeconds, maxUnixSeconds);
}

std::tm localParts(double unix) {
    const std::time_t whole = static_cast<std::time_t>(std::floor(unix));
    std::tm parts{};
    localtime_r(&whole, &parts);
    return parts;
}

std::int64_t clampFrames(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<std::int64_t>(std::clamp(value, -maxFrames, maxFrames));
}

}  // namespace

TimelineRate normalised(std::int64_t nominal, bool ntsc) {
    TimelineRate rate;
    rate.rate = nominal < 2 ? 1 : nominal;
    rate.ntsc = ntsc && TimelineRate::ntscRates().count(nominal) > 0;
    return rate;
}

TimelineRate rateOf(double framesPerSecond) {
    const double fps = std::isfinite(framesPerSecond) ? std::clamp(framesPerSecond, 0.0, 1e6) : 0.0;
    const bool ntsc = std::abs(fps - std::round(fps)) > 0.01;
    return normalised(std::llround(ntsc ? fps * 1001.0 / 1000.0 : fps), ntsc);
}

std::int64_t frames(const TimelineRate& rate, double seconds) {
    return clampFrames(std::round(seconds * rate.fps()));
}

double secondsSinceLocalMidnight(Date date) {
    const double unix = clampedUnix(date);
    // The timeline writers ask for thousands of instants of the same day; mktime is slow (it looks at the time
    // zone file every time), so the day last looked up is remembered for a few seconds, after which a change of
    // time zone is noticed again.
    thread_local double dayStart = 1.0;
    thread_local double dayEnd = 0.0;
    thread_local std::chrono::steady_clock::time_point lookedUp;
    thread_local unsigned hits = 0;
    if (unix >= dayStart && unix < dayEnd) {
        // Reading the clock costs more than the lookup itself: look at it now and then only.
        if (++hits % 1024 != 0 || std::chrono::steady_clock::now() - lookedUp < std::chrono::seconds(5))
            return unix - dayStart;
    }
    const auto now = std::chrono::steady_clock::now();
    std::tm parts = localParts(unix);
    parts.tm_hour = 0;
    parts.tm_min = 0;
    parts.tm_sec = 0;
    parts.tm_isdst = -1;
    std::tm next = parts;
    const auto midnight = static_cast<double>(std::mktime(&parts));
    next.tm_mday += 1;
    const auto nextMidnight = static_cast<double>(std::mktime(&next));
    if (midnight <= unix && unix < nextMidnight) {
        dayStart = midnight;
        dayEnd = nextMidnight;
        lookedUp = now;
    }
    return unix - midnight;
}

Date startOfLocalDay(Date date) {
    const double unix = clampedUnix(date);
    return Date::fromUnix(unix - secondsSinceLocalMidnight(date));
}

std::int64_t timeOfDayFrames(Date date, const TimelineRate& rate) {
    // To the nearest frame: a start taken from a timecode lies on a frame, but as seconds times a rate such as
    // 30000/1001 it comes out a hair below it, and rounding down would place it a whole frame early.
    return clampFrames(std::round(secondsSinceLocalMidnight(date) * rate.fps()));
}

bool isDropFrame(const TimelineRate& rate) {
    return rate.ntsc && (rate.rate == 30 || rate.rate == 60);
}

std::string timecodeString(std::int64_t frame, const TimelineRate& rate) {
    const std::int64_t nominal = std::max<std::int64_t>(rate.rate, 1);
    const bool drop = isDropFrame(rate);
    std::int64_t f =
        std::clamp<std::int64_t>(frame, -static_cast<std::int64_t>(maxFrames), static_cast<std::int64_t>(maxFrames));
    if (drop) {
        const std::int64_t dropped = nominal / 15;
        const std::int64_t tenMinutes = std::llround(rate.fps() * 600.0);
        const std::int64_t tens = f / tenMinutes;
        const std::int64_t rest = f % tenMinutes;
        f += 9 * dropped * tens;
        if (rest > dropped) f += dropped * ((rest - dropped) / (nominal * 60 - dropped));
    }
    const std::int64_t seconds = f / nominal;
    const std::int64_t ff = f % nominal;
    char text[96];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%s%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>((seconds / 60) % 60), static_cast<long long>(seconds % 60), drop ? ";" : ":",
                  static_cast<long long>(ff));
    return text;
}

std::string dayKey(Date date) {
    const std::tm parts = localParts(clampedUnix(date));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    return text;
}

std::string timeStamp(Date date) {
    const std::tm parts = localParts(clampedUnix(date));
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

}  // namespace morvane::timecode
