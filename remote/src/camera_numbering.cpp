#include "remote/camera_numbering.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace morvane {

CameraNumbering::CameraNumbering(int keys, std::map<std::string, int> stored)
    : keys_(std::max(keys, 0)), stored_(std::move(stored)) {}

std::vector<int> CameraNumbering::numbersFor(const std::vector<Camera>& connected) {
    std::vector<int> numbers(connected.size(), 0);
    std::set<int> taken;
    // Numbers held this run come first, then stored ones: a camera coming back never pushes another off its number.
    // Only numbers a key reaches are kept here; one beyond the keys is kept further down while no key is free.
    for (const auto* table : {&met_, &stored_}) {
        for (std::size_t i = 0; i < connected.size(); ++i) {
            auto found = table->find(connected[i].identity);
            if (numbers[i] || found == table->end() || found->second > keys_ || taken.count(found->second)) continue;
            numbers[i] = found->second;
            taken.insert(found->second);
        }
    }
    std::set<int> metNumbers, storedNumbers;
    for (const auto& [identity, number] : met_) metNumbers.insert(number);
    for (const auto& [identity, number] : stored_) storedNumbers.insert(number);
    // A free key's number: one nobody holds, else one only remembered from earlier runs, else one of a camera met in
    // this run that has left; the lowest of its kind.
    auto freeKey = [&]() {
        int best = 0;
        std::tuple<int, int> bestRank{3, 0};
        for (int number = 1; number <= keys_; ++number) {
            if (taken.count(number)) continue;
            const int kind = metNumbers.count(number) ? 2 : storedNumbers.count(number) ? 1 : 0;
            if (std::tuple{kind, number} < bestRank) {
                best = number;
                bestRank = {kind, number};
            }
        }
        return best;
    };
    for (std::size_t i = 0; i < connected.size(); ++i) {
        if (numbers[i]) continue;
        int number = freeKey();
        if (!number) {
            // More cameras than keys: beyond them a camera keeps what it had, or takes the lowest free number.
            auto found = met_.find(connected[i].identity);
            if (found != met_.end() && found->second > keys_ && !taken.count(found->second)) number = found->second;
            for (number = number ? number : keys_ + 1; taken.count(number);) ++number;
        }
        numbers[i] = number;
        taken.insert(number);
    }
    for (std::size_t i = 0; i < connected.size(); ++i) give(connected[i], numbers[i]);
    return numbers;
}

void CameraNumbering::give(const Camera& camera, int number) {
    for (auto* table : {&met_, &stored_})
        std::erase_if(*table,
                      [&](const auto& entry) { return entry.second == number && entry.first != camera.identity; });
    met_[camera.identity] = number;
    if (camera.paired) stored_[camera.identity] = number;
}

}  // namespace morvane
