#include "deck/retouch_edit.h"
#include "deck/retouch_take.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace morvane;
using Block = RetouchEdit::Block;
using Range = RetouchEdit::Range;

namespace {

RetouchEdit makeEdit(std::vector<std::pair<double, std::string>> switches, double trimStart, double trimEnd,
                     std::optional<std::vector<std::pair<double, double>>> removed = std::nullopt) {
    RetouchEdit edit;
    for (auto& [time, camera] : switches) edit.switches.push_back({Uuid(), time, camera});
    edit.trimStart = trimStart;
    edit.trimEnd = trimEnd;
    if (removed) {
        edit.removedSections.emplace();
        for (auto [s, e] : *removed) edit.removedSections->push_back({Uuid(), s, e});
    }
    return edit;
}

const Date base{700000000.0};

RetouchTake takeWith(std::vector<std::pair<std::string, double>> clips, double length,
                     std::vector<std::pair<std::string, double>> cuts) {
    RetouchTake take;
    take.number = 1;
    for (auto& [camera, offset] : clips) {
        RetouchClip clip;
        clip.camera = camera;
        clip.start = base.addingTimeInterval(offset);
        clip.duration = length - offset;
        clip.file = clip.id.uuidString() + ".mov";
        take.clips.push_back(clip);
    }
    for (auto& [camera, offset] : cuts) take.cuts.push_back({camera, base.addingTimeInterval(offset)});
    return take;
}

// Switch times rounded to microseconds: times made from dates carry tiny representation errors.
std::vector<std::pair<double, std::string>> switchList(const RetouchEdit& edit) {
    std::vector<std::pair<double, std::string>> out;
    for (const auto& s : edit.switches) out.emplace_back(std::round(s.time * 1e6) / 1e6, s.camera);
    return out;
}

}  // namespace

TEST(RetouchEdit, WithoutSwitchesHasNoCameraBlocksOrPieces) {
    auto edit = makeEdit({}, 0, 20);
    for (double t : {-1.0, 0.0, 5.0, 100.0}) EXPECT_EQ(edit.camera(t), "");
    EXPECT_TRUE(edit.blocks(20).empty());
    EXPECT_TRUE(edit.pieces().empty());
}

TEST(RetouchEdit, BlocksPiecesAndCameraLookup) {
    auto edit = makeEdit({{10, "B"}, {0, "A"}}, 0, 20);  // stored out of order on purpose
    std::vector<Block> expected{{0, 10, "A"}, {10, 20, "B"}};
    EXPECT_EQ(edit.blocks(20), expected);
    EXPECT_EQ(edit.pieces(), expected);
    auto ordered = makeEdit({{0, "A"}, {10, "B"}}, 0, 20);
    EXPECT_EQ(ordered.camera(9.99995), "B");
    EXPECT_EQ(ordered.camera(9.9998), "A");
    EXPECT_EQ(ordered.camera(-3), "A");  // before every switch: the first one
    // Blocks are neither clipped nor dropped, even backwards ones.
    EXPECT_EQ(ordered.blocks(5), (std::vector<Block>{{0, 10, "A"}, {10, 5, "B"}}));
}

TEST(RetouchEdit, KeptRangesAndTimeMapping) {
    auto edit = makeEdit({{0, "A"}}, 0, 20, std::vector<std::pair<double, double>>{{5, 8}});
    EXPECT_EQ(edit.keptRanges(), (std::vector<Range>{{0, 5}, {8, 20}}));
    EXPECT_DOUBLE_EQ(edit.programTime(6), 5);
    EXPECT_DOUBLE_EQ(edit.programTime(10), 7);
    EXPECT_DOUBLE_EQ(edit.programTime(25), 17);
    EXPECT_DOUBLE_EQ(edit.programTime(-2), 0);
    EXPECT_DOUBLE_EQ(edit.takeTime(5), 5);
    EXPECT_DOUBLE_EQ(edit.takeTime(5.5), 8.5);
    EXPECT_DOUBLE_EQ(edit.takeTime(30), 20);
    EXPECT_DOUBLE_EQ(edit.takeTime(-1), -1);  // before the first range's start
    EXPECT_EQ(edit.removedSection(5)->start, 5);
    EXPECT_FALSE(edit.removedSection(8).has_value());
    EXPECT_FALSE(edit.removedSection(4.99).has_value());

    // Every kept moment maps back to itself.
    for (double t = 0; t <= 20; t += 0.25) {
        if (t >= 5 && t <= 8) continue;  // 8 plays where the first range ends
        EXPECT_NEAR(edit.takeTime(edit.programTime(t)), t, 1e-9) << t;
    }
}

TEST(RetouchEdit, RemovedSectionEdgeCases) {
    EXPECT_EQ(makeEdit({}, 0, 20, std::vector<std::pair<double, double>>{{20, 25}}).keptRanges(),
              (std::vector<Range>{{0, 20}}));
    EXPECT_EQ(makeEdit({}, 0, 20, std::vector<std::pair<double, double>>{{0.0005, 8}}).keptRanges(),
              (std::vector<Range>{{8, 20}}));
    // Sections are applied in order of start, whatever their stored order; overlapping ones merge.
    EXPECT_EQ(makeEdit({}, 0, 20, std::vector<std::pair<double, double>>{{12, 14}, {2, 4}, {3, 6}}).keptRanges(),
              (std::vector<Range>{{0, 2}, {6, 12}, {14, 20}}));
    // A backwards trim stays one range; with no kept range takeTime gives trimEnd.
    EXPECT_EQ(makeEdit({}, 10, 4).keptRanges(), (std::vector<Range>{{10, 4}}));
    auto all = makeEdit({}, 0, 10, std::vector<std::pair<double, double>>{{-1, 11}});
    EXPECT_TRUE(all.keptRanges().empty());
    EXPECT_DOUBLE_EQ(all.takeTime(3), 10);
    EXPECT_DOUBLE_EQ(all.programTime(3), 0);
}

TEST(RetouchEdit, PiecesFollowKeptRangesAndDropSlivers) {
    EXPECT_TRUE(makeEdit({{0, "A"}}, 0, 0.001).pieces().empty());
    EXPECT_EQ(makeEdit({{0, "A"}}, 0, 0.0011).pieces().size(), 1u);
    auto edit = makeEdit({{0, "A"}, {4, "B"}, {9, "C"}}, 1, 15, std::vector<std::pair<double, double>>{{3, 6}});
    EXPECT_EQ(edit.pieces(), (std::vector<Block>{{1, 3, "A"}, {6, 9, "B"}, {9, 15, "C"}}));
}

TEST(RetouchEdit, SwitchCamera) {
    auto edit = makeEdit({{0, "A"}, {10, "B"}}, 0, 20);
    const Uuid kept = edit.switches[1].id;
    edit.switchCamera("C", 10.01);
    EXPECT_EQ(switchList(edit), (std::vector<std::pair<double, std::string>>{{0, "A"}, {10, "C"}}));
    EXPECT_EQ(edit.switches[1].id, kept);
    edit.switchCamera("C", 10.02);  // C already shows there
    EXPECT_EQ(edit.switches.size(), 2u);
    edit.switchCamera("A", 12);
    EXPECT_EQ(switchList(edit), (std::vector<std::pair<double, std::string>>{{0, "A"}, {10, "C"}, {12, "A"}}));
    edit.switchCamera("B", 5);  // appended, then sorted by normalize
    EXPECT_EQ(switchList(edit),
              (std::vector<std::pair<double, std::string>>{{0, "A"}, {5, "B"}, {10, "C"}, {12, "A"}}));

    RetouchEdit empty = makeEdit({}, 0, 10);
    empty.switchCamera("A", 3);  // the first switch always starts the take
    EXPECT_EQ(switchList(empty), (std::vector<std::pair<double, std::string>>{{0, "A"}}));
}

TEST(RetouchEdit, NormalizeKeepsTheLastOfACloseChain) {
    auto edit = makeEdit({{0.3005, "B"}, {0.3, "A"}}, 0, 5);
    const Uuid b = edit.switches[0].id;
    edit.normalize();
    ASSERT_EQ(edit.switches.size(), 1u);
    EXPECT_EQ(edit.switches[0].camera, "B");
    EXPECT_EQ(edit.switches[0].id, b);
    EXPECT_EQ(edit.switches[0].time, 0);

    auto chain = makeEdit({{0, "A"}, {2, "B"}, {2.0008, "C"}, {2.0016, "D"}, {3, "E"}}, 0, 5);
    chain.normalize();
    EXPECT_EQ(switchList(chain), (std::vector<std::pair<double, std::string>>{{0, "A"}, {2.0016, "D"}, {3, "E"}}));
}

TEST(RetouchEdit, EditFromLiveCut) {
    auto take = takeWith({{"A", 0}, {"B", 0}, {"C", 0}}, 30, {{"A", -2}, {"B", 5}, {"B", 7}, {"C", 9.995}});
    auto edit = RetouchEdit::editFromLiveCut(take);
    EXPECT_EQ(switchList(edit), (std::vector<std::pair<double, std::string>>{{0, "A"}, {5, "B"}, {9.995, "C"}}));
    EXPECT_EQ(edit.trimStart, 0);
    EXPECT_EQ(edit.trimEnd, 30);
    EXPECT_EQ(edit.sound, RetouchEdit::Sound::camera());
    EXPECT_TRUE(edit.volumes.empty());
    EXPECT_FALSE(edit.removedSections.has_value());

    take.cuts.push_back({"C", base.addingTimeInterval(5.005)});
    take.cuts.push_back({"Z", base.addingTimeInterval(12)});  // no clip of Z
    take.cuts.push_back({"A", base.addingTimeInterval(30)});  // at the take's end
    auto second = RetouchEdit::editFromLiveCut(take);
    auto list = switchList(second);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1], (std::pair<double, std::string>{5, "C"}));
    EXPECT_EQ(list[2], (std::pair<double, std::string>{7, "B"}));
    EXPECT_EQ(list[3].first, 9.995);
    EXPECT_EQ(list[3].second, "C");

    auto noCuts = RetouchEdit::editFromLiveCut(takeWith({{"B", 1}, {"A", 0}}, 12, {}));
    EXPECT_EQ(switchList(noCuts), (std::vector<std::pair<double, std::string>>{{0, "A"}}));
    EXPECT_EQ(noCuts.trimEnd, 12);

    auto late = RetouchEdit::editFromLiveCut(takeWith({{"A", 0}, {"B", 0}}, 20, {{"B", 4}}));
    EXPECT_EQ(switchList(late), (std::vector<std::pair<double, std::string>>{{0, "B"}, {4, "B"}}));

    RetouchTake empty;
    auto none = RetouchEdit::editFromLiveCut(empty);
    EXPECT_EQ(switchList(none), (std::vector<std::pair<double, std::string>>{{0, ""}}));
}

TEST(RetouchEdit, Equality) {
    auto a = makeEdit({{0, "A"}}, 0, 10);
    auto b = a;
    EXPECT_EQ(a, b);
    b.removedSections.emplace();
    EXPECT_NE(a, b);  // absent and empty differ
    a.volumes = {{"B", 0.5f}, {"A", 1.0f}};
    b = a;
    b.volumes.clear();
    b.volumes["A"] = 1.0f;
    b.volumes["B"] = 0.5f;
    EXPECT_EQ(a, b);
    b.trimEnd = std::nan("");
    a.trimEnd = std::nan("");
    EXPECT_NE(a, b);
    a.trimEnd = b.trimEnd = 10;
    b.sound = RetouchEdit::Sound::camera("A");
    EXPECT_NE(a, b);
    a.sound = RetouchEdit::Sound::camera("A");
    EXPECT_EQ(a, b);
    b.switches[0].id = Uuid();
    EXPECT_NE(a, b);
}

TEST(RetouchEditJson, RoundTripsEveryField) {
    auto edit = makeEdit({{0, "A"}, {3.25, "Cam é"}}, 0.5, 19.75, std::vector<std::pair<double, double>>{{4, 6}});
    edit.volumes = {{"A", 0.25f}};
    edit.soundOffsets = {{"A", -0.5}};
    for (auto sound : {RetouchEdit::Sound::camera(), RetouchEdit::Sound::camera("A"), RetouchEdit::Sound::mix(),
                       RetouchEdit::Sound::followPicture()}) {
        edit.sound = sound;
        Json j = edit;
        EXPECT_EQ(j.get<RetouchEdit>(), edit);
    }
    Json j = makeEdit({{0, "A"}}, 0, 1);
    EXPECT_FALSE(j.contains("removedSections"));
    EXPECT_EQ(j["sound"], Json::parse(R"({"camera":{}})"));
    EXPECT_EQ(j["volumes"], Json::object());
    EXPECT_EQ(j["switches"][0]["id"].get<std::string>().size(), 36u);
}

TEST(RetouchEditJson, DecodingRules) {
    const std::string prefix = R"({"switches":[],"trimStart":0,"trimEnd":1,"volumes":{},"soundOffsets":{},)";
    auto decode = [&](const std::string& rest) { return Json::parse(prefix + rest).get<RetouchEdit>(); };
    EXPECT_EQ(decode(R"("sound":{"camera":{}}})").sound, RetouchEdit::Sound::camera());
    EXPECT_EQ(decode(R"("sound":{"camera":{"_0":null}}})").sound, RetouchEdit::Sound::camera());
    EXPECT_EQ(decode(R"("sound":{"camera":{"_0":"B"},"other":1}})").sound, RetouchEdit::Sound::camera("B"));
    EXPECT_EQ(decode(R"("sound":{"mix":{"x":1}},"removedSections":null})").removedSections, std::nullopt);
    for (const char* bad : {R"("sound":{}})", R"("sound":{"camera":{},"mix":{}}})"}) {
        try {
            decode(bad);
            ADD_FAILURE() << bad;
        } catch (const DecodingError& e) {
            EXPECT_STREQ(e.what(), "Invalid number of keys found, expected one.");
        }
    }
    for (const char* bad : {R"("sound":{"mix":1}})", R"("sound":{"camera":{"_0":3}}})", R"("sound":[]})",
                            R"("sound":{"mix":{}},"removedSections":[{"id":"x","start":0,"end":1}]})"}) {
        EXPECT_THROW(decode(bad), DecodingError) << bad;
    }
    // Stored edits must carry volumes and offsets; a float volume out of range fails.
    EXPECT_THROW(Json::parse(R"({"switches":[],"trimStart":0,"trimEnd":1,"sound":{"mix":{}},"soundOffsets":{}})")
                     .get<RetouchEdit>(),
                 DecodingError);
    EXPECT_THROW(Json::parse(R"({"switches":[],"trimStart":0,"trimEnd":1,"sound":{"mix":{}},"volumes":{"A":1e300},)"
                             R"("soundOffsets":{}})")
                     .get<RetouchEdit>(),
                 DecodingError);
    EXPECT_THROW(Json::parse(R"({"switches":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","time":"0","camera":"A"}],)"
                             R"("trimStart":0,"trimEnd":1,"sound":{"mix":{}},"volumes":{},"soundOffsets":{}})")
                     .get<RetouchEdit>(),
                 DecodingError);
    RetouchEdit nan = makeEdit({{0, "A"}}, 0, std::nan(""));
    EXPECT_THROW(Json j = nan, EncodingError);
}
