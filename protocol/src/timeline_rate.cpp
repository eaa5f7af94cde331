#include "protocol/timeline_rate.h"

#include <cstdio>

namespace morvane {

const std::set<std::int64_t>& TimelineRate::ntscRates() {
    static const std::set<std::int64_t> rates{24, 30, 60};
    return rates;
}

double TimelineRate::fps(std::int64_t rate, bool ntsc) {
    if (ntsc && ntscRates().count(rate)) return static_cast<double>(rate) * 1000.0 / 1001.0;
    return static_cast<double>(rate);
}

std::string frameRateLabel(std::int64_t rate, bool ntsc) {
    if (ntsc && TimelineRate::ntscRates().count(rate)) {
        switch (rate) {
            case 24:
                return "23.98";
            case 30:
                return "29.97";
            case 60:
                return "59.94";
            default:
                break;
        }
    }
    return std::to_string(rate);
}

std::string trimmedRateText(double value) {
    char buffer[400];  // "%.2f" of the largest double stays well inside this
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    std::string text(buffer);
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text + "°";
}

}  // namespace morvane
