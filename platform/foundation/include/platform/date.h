#pragma once

#include <chrono>
#include <compare>

namespace morvane {

/// An absolute instant: seconds since 2001-01-01 00:00:00 UTC, fractions kept.
struct Date {
    double secondsSinceReferenceDate = 0;

    /// Seconds between 1970-01-01 and 2001-01-01.
    static constexpr double unixOffset = 978307200.0;

    static Date now();
    static Date fromUnix(double unixSeconds) { return Date{unixSeconds - unixOffset}; }
    static Date fromSystem(std::chrono::system_clock::time_point t);

    double unixSeconds() const { return secondsSinceReferenceDate + unixOffset; }
    std::chrono::system_clock::time_point systemTime() const;

    /// Seconds from `other` to this date (positive when this is later).
    double timeIntervalSince(Date other) const { return secondsSinceReferenceDate - other.secondsSinceReferenceDate; }
    double timeIntervalSinceNow() const { return timeIntervalSince(now()); }
    Date addingTimeInterval(double seconds) const { return Date{secondsSinceReferenceDate + seconds}; }

    friend bool operator==(const Date&, const Date&) = default;
    friend auto operator<=>(const Date&, const Date&) = default;
};

}  // namespace morvane
