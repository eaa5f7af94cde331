#include "remote/camera_numbering.h"

#include <gtest/gtest.h>

#include <cctype>

namespace morvane {
namespace {

// Cameras named by their identity; a name in lower case is a guest without a key, whose number is not stored.
std::vector<CameraNumbering::Camera> cameras(const std::vector<std::string>& names) {
    std::vector<CameraNumbering::Camera> out;
    for (const auto& name : names) out.push_back({name, !std::islower(static_cast<unsigned char>(name[0]))});
    return out;
}

TEST(CameraNumberingTest, EveryConnectedCameraHasANumberAKeyReaches) {
    struct Step {
        std::vector<std::string> connected;
        std::vector<int> numbers;
    };
    struct Case {
        const char* what;
        std::map<std::string, int> stored;
        std::vector<Step> steps;
        std::map<std::string, int> storedAfter;
    };
    const Case cases[] = {
        {"A to D join, C and D leave, E joins: E takes a number a key reaches",
         {},
         {{{"A", "B", "C", "D"}, {1, 2, 3, 4}}, {{"A", "B"}, {1, 2}}, {{"A", "B", "E"}, {1, 2, 3}}},
         {{"A", 1}, {"B", 2}, {"D", 4}, {"E", 3}}},
        {"a camera that returns gets its number back",
         {},
         {{{"A", "B", "C"}, {1, 2, 3}}, {{"A", "C"}, {1, 3}}, {{"A", "C", "B"}, {1, 3, 2}}},
         {{"A", 1}, {"B", 2}, {"C", 3}}},
        {"a newcomer takes a number nobody holds before one of a camera that left",
         {},
         {{{"A", "B", "C"}, {1, 2, 3}},
          {{"A", "C"}, {1, 3}},
          {{"A", "C", "D"}, {1, 3, 4}},
          {{"A", "C", "D", "B"}, {1, 3, 4, 2}}},
         {{"A", 1}, {"B", 2}, {"C", 3}, {"D", 4}}},
        {"a fifth camera is numbered past the keys, and takes a key's number once one is free",
         {},
         {{{"A", "B", "C", "D", "E"}, {1, 2, 3, 4, 5}},
          {{"A", "E"}, {1, 2}},
          {{"A", "E", "B"}, {1, 2, 3}},
          {{"A", "E", "B", "D", "C"}, {1, 2, 3, 4, 5}}},
         {{"A", 1}, {"B", 3}, {"C", 5}, {"D", 4}, {"E", 2}}},
        {"numbers only stored give way before those of cameras met in this run",
         {{"P", 1}, {"Q", 2}, {"R", 3}},
         {{{"A"}, {4}}, {{}, {}}, {{"B"}, {1}}, {{"B", "Q"}, {1, 2}}},
         {{"A", 4}, {"B", 1}, {"Q", 2}, {"R", 3}}},
        {"a paired camera keeps its stored number in a new run, whatever the order of arrival",
         {{"A", 2}, {"B", 1}},
         {{{"A", "C", "B"}, {2, 3, 1}}},
         {{"A", 2}, {"B", 1}, {"C", 3}}},
        {"a guest keeps its number while it is connected and is not stored",
         {},
         {{{"g", "A"}, {1, 2}}, {{"A"}, {2}}, {{"A", "h"}, {2, 3}}},
         {{"A", 2}}},
    };
    for (const auto& c : cases) {
        CameraNumbering numbering(4, c.stored);
        for (std::size_t i = 0; i < c.steps.size(); ++i)
            EXPECT_EQ(numbering.numbersFor(cameras(c.steps[i].connected)), c.steps[i].numbers)
                << c.what << ", step " << i + 1;
        EXPECT_EQ(numbering.stored(), c.storedAfter) << c.what;
    }
}

}  // namespace
}  // namespace morvane
