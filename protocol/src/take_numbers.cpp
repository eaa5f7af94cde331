#include "protocol/take_numbers.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace morvane {

std::vector<TakeNumber> numberTakes(const std::vector<DayTake>& takes) {
    std::vector<std::size_t> order(takes.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return takes[a].start.secondsSinceReferenceDate < takes[b].start.secondsSinceReferenceDate;
    });
    constexpr auto largest = std::numeric_limits<std::int64_t>::max();
    auto after = [](std::int64_t n) { return n == largest ? n : n + 1; };

    std::int64_t highest = 0;
    for (const auto& take : takes) highest = std::max(highest, take.number);
    // The lowest fixed number among the takes captured after each place in capture order.
    std::vector<std::int64_t> fixedAfter(order.size() + 1, largest);
    for (std::size_t i = order.size(); i-- > 0;) {
        const auto& take = takes[order[i]];
        fixedAfter[i] = take.fixed ? std::min(fixedAfter[i + 1], take.number) : fixedAfter[i + 1];
    }

    std::vector<TakeNumber> numbers(takes.size());
    std::int64_t previous = 0;  // the highest number given to the takes captured so far
    for (std::size_t i = 0; i < order.size(); ++i) {
        const auto& take = takes[order[i]];
        std::int64_t number = take.number;
        // A take keeps its number while no take captured before it holds it or more; else it moves up, to the
        // end of the day when a fixed take captured after it holds the place.
        if (!take.fixed && number <= previous) {
            number = after(previous);
            if (fixedAfter[i + 1] <= number) number = after(highest);
        }
        highest = std::max(highest, number);
        previous = std::max(previous, number);
        numbers[order[i]].number = number;
    }
    std::int64_t lowestAfter = largest;
    for (std::size_t i = order.size(); i-- > 0;) {
        auto& result = numbers[order[i]];
        result.late = lowestAfter < result.number;
        lowestAfter = std::min(lowestAfter, result.number);
    }
    return numbers;
}

}  // namespace morvane
