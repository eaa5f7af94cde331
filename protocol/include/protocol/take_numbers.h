#pragma once

#include <cstdint>
#include <vector>

#include "platform/date.h"

namespace morvane {

/// One take of a day as its number is decided.
struct DayTake {
    Date start;               ///< when it was captured
    std::int64_t number = 0;  ///< its number so far; 0 for a new take
    bool fixed = false;       ///< a file is named by its number: it keeps it
};

struct TakeNumber {
    std::int64_t number = 0;
    /// A take captured later has a lower number: this one came after that had been numbered.
    bool late = false;

    friend bool operator==(const TakeNumber&, const TakeNumber&) = default;
};

/// The numbers of a day's takes, in the order given: the shoot library and the deck number the same recordings
/// alike. Numbers count the day's takes in the order they were captured. A new take gets the number after the takes
/// captured before it, and a take captured after it that is not fixed moves up to make room; a take that a fixed one
/// captured after it leaves no room for gets the number after the day's highest and is late. A take keeps its
/// number while nothing captured before it holds that number or more.
std::vector<TakeNumber> numberTakes(const std::vector<DayTake>& takes);

}  // namespace morvane
