#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace morvane {

/// A nominal frame rate with its NTSC flag (the 1000/1001 variant).
struct TimelineRate {
    std::int64_t rate = 30;
    bool ntsc = false;

    /// The nominal rates that have an NTSC variant: {24, 30, 60}. Built once, read-only afterwards.
    static const std::set<std::int64_t>& ntscRates();

    /// Frames per second: rate × 1000 ÷ 1001 when `ntsc` is set and the rate has an NTSC variant, else the rate.
    static double fps(std::int64_t rate, bool ntsc);
    double fps() const { return fps(rate, ntsc); }

    friend bool operator==(const TimelineRate&, const TimelineRate&) = default;
};

/// "23.98", "29.97", "59.94" for NTSC 24, 30, 60; otherwise the rate's decimal digits.
std::string frameRateLabel(std::int64_t rate, bool ntsc);

/// A value printed with two decimals, trailing zeros and a bare point removed, and "°" appended
/// (180 → "180°", 172.8 → "172.8°", 11.25 → "11.25°").
std::string trimmedRateText(double value);

}  // namespace morvane
