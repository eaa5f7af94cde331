#include <gtest/gtest.h>

#include "golden_days.h"
#include "shoot_library/shoot_library.h"
#include "shoot_library/timecode.h"
#include "shoot_test_support.h"

namespace morvane {
namespace {

using Clip = ShootLibrary::Clip;
using test::localDate;

Clip movie(const std::string& camera, Date start, double duration, std::int64_t take = 0) {
    return test::clip(camera, camera + ".mov", start, duration, take);
}

Clip rated(std::int64_t rate, std::optional<bool> ntsc) {
    Clip c = movie("A", Date{}, 1);
    c.frameRate = rate;
    c.ntsc = ntsc;
    return c;
}

TEST(TakeNumberTest, OverlapsWithinTwoSecondsShareATake) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    const std::vector<Clip> day{movie("A", ten, 60, 1)};
    struct Case {
        const char* what;
        Date start;
        double duration;
        std::int64_t take;
    };
    const Case cases[] = {
        {"starts exactly 2 s after the end", ten.addingTimeInterval(62), 10, 1},
        {"starts 2.5 s after the end", ten.addingTimeInterval(62.5), 10, 2},
        {"ends exactly 2 s before the start", ten.addingTimeInterval(-12), 10, 1},
        {"ends 2.1 s before the start", ten.addingTimeInterval(-12.1), 10, 2},
        {"inside", ten.addingTimeInterval(5), 10, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShootLibrary::takeNumber(day, movie("B", c.start, c.duration)), c.take) << c.what;
}

TEST(TakeNumberTest, FirstOverlappingMovieWinsAndPhotosNeverMatch) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    EXPECT_EQ(ShootLibrary::takeNumber({}, movie("A", ten, 10)), 1);
    std::vector<Clip> day{movie("A", ten, 60, 1), movie("B", ten.addingTimeInterval(30), 60, 2)};
    EXPECT_EQ(ShootLibrary::takeNumber(day, movie("C", ten.addingTimeInterval(40), 60)), 1);

    Clip photo = movie("P", ten.addingTimeInterval(500), 0, 0);
    photo.isVideo = false;
    const std::vector<Clip> takes{movie("A", ten, 1, 1), movie("B", ten.addingTimeInterval(100), 1, 2),
                                  movie("C", ten.addingTimeInterval(200), 1, 5), photo};
    EXPECT_EQ(ShootLibrary::takeNumber(takes, movie("D", ten.addingTimeInterval(500), 1)), 6);
}

TEST(TakeNumberTest, OneCamerasRecordingsNeverShareATake) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    // A stops and starts again within the slack, while B's take is still running.
    const std::vector<Clip> day{movie("A", ten, 10, 1), movie("B", ten, 12, 1)};
    EXPECT_EQ(ShootLibrary::takeNumber(day, movie("A", ten.addingTimeInterval(11), 10)), 2);
    EXPECT_EQ(ShootLibrary::takeNumber(day, movie("C", ten.addingTimeInterval(11), 10)), 1);
    // B's second take joins A's second take, not its own first.
    std::vector<Clip> later = day;
    later.push_back(movie("A", ten.addingTimeInterval(11), 10, 2));
    EXPECT_EQ(ShootLibrary::takeNumber(later, movie("B", ten.addingTimeInterval(12.5), 10)), 2);
}

TEST(TakeAtDateTest, SpansIncludeBothEnds) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    Clip photo = movie("P", ten, 100, 0);
    photo.isVideo = false;
    const std::vector<Clip> clips{photo, movie("A", ten, 60, 3)};
    EXPECT_EQ(ShootLibrary::takeAtDate(clips, ten), 3);
    EXPECT_EQ(ShootLibrary::takeAtDate(clips, ten.addingTimeInterval(60)), 3);
    EXPECT_EQ(ShootLibrary::takeAtDate(clips, ten.addingTimeInterval(60.01)), std::nullopt);
    EXPECT_EQ(ShootLibrary::takeAtDate(clips, ten.addingTimeInterval(-0.01)), std::nullopt);
}

TEST(CleanFileNameTest, Table) {
    struct Case {
        std::string name;
        std::string expected;
    };
    const std::string hundred(100, 'x');
    const Case cases[] = {
        {" Cam/1: left. ", "Cam-1- left"},
        {" . .. . ", "Camera"},
        {"", "Camera"},
        {"back\\slash", "back-slash"},
        {hundred, std::string(80, 'x')},
        {"Cam\nA\x01"
         "B\x7f",
         "Cam A B"},
        {"\tCam\r\n", "Cam"},
        {std::string("A\0B", 3), "A B"},
        {"Caf\xC3\xA9", "Caf\xC3\xA9"},
        {"bad\xFF"
         "byte",
         "bad\xEF\xBF\xBD"
         "byte"},
        // The cut is made after trimming and may end in a space.
        {std::string(79, 'y') + " z", std::string(79, 'y') + " "},
    };
    for (const auto& c : cases) EXPECT_EQ(ShootLibrary::cleanFileName(c.name, "Camera"), c.expected) << c.name;
}

TEST(CleanFileNameTest, CountsUserPerceivedCharacters) {
    // "e" with a combining acute is one character; flags are one character of two code points each.
    std::string accented;
    for (int i = 0; i < 100; ++i) accented += "e\xCC\x81";
    const std::string cut = ShootLibrary::cleanFileName(accented, "Camera");
    EXPECT_EQ(cut.size(), 80u * 3);
    std::string flags;
    for (int i = 0; i < 90; ++i) flags += "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
    EXPECT_EQ(ShootLibrary::cleanFileName(flags, "Camera").size(), 80u * 8);
}

TEST(FileExtensionTest, OnlyShortAlphanumericExtensionsOfTheLastComponent) {
    struct Case {
        std::string name;
        bool video;
        std::string expected;
    };
    const Case cases[] = {
        {"clip.MOV", true, "MOV"},
        {"clip.mp4", true, "mp4"},
        {"clip", true, "mov"},
        {"clip", false, "heic"},
        {"IMG_1.HEIC", false, "HEIC"},
        {"../../etc/x.mov/..", true, "mov"},
        {"dir.d/clip", true, "mov"},
        {"dir/clip.m4v", true, "m4v"},
        {"clip.m o v", true, "mov"},
        {"clip.mov/", true, "mov"},
        {"clip.averyverylongextension", true, "mov"},
        {".hidden", false, "heic"},
        {"clip.", true, "mov"},
        {"clip.j\xC3\xA9g", false, "heic"},
        {std::string("clip.mov\0.sh", 12), true, "sh"},
    };
    for (const auto& c : cases) EXPECT_EQ(ShootLibrary::fileExtension(c.name, c.video), c.expected) << c.name;
}

TEST(UniqueURLTest, NumbersTakenNamesAndKeepsWithinTheByteLimit) {
    test::TempDir dir;
    const std::string base = "Take 03 \u2013 14.05.22 \u2013 Camera A";
    const auto first = ShootLibrary::uniqueURL(dir.path(), base, "mov");
    EXPECT_EQ(first.filename().string(), base + ".mov");
    test::writeFile(first, "x");
    const auto second = ShootLibrary::uniqueURL(dir.path(), base, "mov");
    EXPECT_EQ(second.filename().string(), base + " 2.mov");
    test::writeFile(second, "x");
    EXPECT_EQ(ShootLibrary::uniqueURL(dir.path(), base, "mov").filename().string(), base + " 3.mov");
    // A dangling link occupies its name too.
    std::filesystem::create_symlink(dir / "nowhere", dir / (base + " 3.mov"));
    EXPECT_EQ(ShootLibrary::uniqueURL(dir.path(), base, "mov").filename().string(), base + " 4.mov");

    // Eighty four-byte characters would make a name of more than 255 bytes.
    std::string emoji;
    for (int i = 0; i < 80; ++i) emoji += "\xF0\x9F\x8E\xA5";
    const std::string longBase = "Take 01 \u2013 10.00.00 \u2013 " + emoji;
    const auto fitted = ShootLibrary::uniqueURL(dir.path(), longBase, "mov");
    EXPECT_LE(fitted.filename().string().size(), 255u);
    test::writeFile(fitted, "x");
    ASSERT_TRUE(std::filesystem::exists(fitted));
    const auto fitted2 = ShootLibrary::uniqueURL(dir.path(), longBase, "mov");
    EXPECT_LE(fitted2.filename().string().size(), 255u);
    EXPECT_TRUE(fitted2.filename().string().ends_with(" 2.mov"));
    test::writeFile(fitted2, "x");
    EXPECT_TRUE(std::filesystem::exists(fitted2));
}

TEST(PlainFileNameTest, OnlySinglePathComponents) {
    EXPECT_TRUE(ShootLibrary::isPlainFileName("Take 01.mov"));
    EXPECT_TRUE(ShootLibrary::isPlainFileName("..mov"));
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../x.mov", "a/b.mov", "/etc/passwd",
                                                           std::string(256, 'a'), std::string("a\0b", 3)})
        EXPECT_FALSE(ShootLibrary::isPlainFileName(bad)) << bad;
}

TEST(ProgramCutTest, DuplicatesWithinHalfASecondOfTheSameCameraAreDropped) {
    const Date t = localDate(2026, 12, 6, 10, 0, 0);
    ShootLibrary::Day day;
    ShootLibrary::addCutToDay(day, {"A", t});
    ShootLibrary::addCutToDay(day, {"A", t.addingTimeInterval(0.4)});
    EXPECT_EQ(day.cuts.size(), 1u);
    ShootLibrary::addCutToDay(day, {"A", t.addingTimeInterval(0.5)});
    EXPECT_EQ(day.cuts.size(), 2u);
    ShootLibrary::addCutToDay(day, {"B", t.addingTimeInterval(0.1)});
    ASSERT_EQ(day.cuts.size(), 3u);
    EXPECT_EQ(day.cuts[1].camera, "B");
    // Out of order goes to its place; names are cleaned like file names.
    ShootLibrary::addCutToDay(day, {" Cam/1 ", t.addingTimeInterval(-5)});
    EXPECT_EQ(day.cuts.front(), (ProgramCut{"Cam-1", t.addingTimeInterval(-5)}));
    // Equal times keep their arrival order.
    ShootLibrary::addCutToDay(day, {"C", t});
    EXPECT_EQ(day.cuts[1].camera, "A");
    EXPECT_EQ(day.cuts[2].camera, "C");
}

TEST(ProgramCutTest, ACutBackWithinHalfASecondIsKeptWhileCopiesOfACutAreNot) {
    const Date t = localDate(2026, 12, 6, 10, 0, 0);
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, double>> added;  // camera, seconds after t, in arrival order
        std::vector<std::pair<std::string, double>> kept;
    };
    const std::vector<Case> cases = {
        {"quick cuts back and forth", {{"B", 0}, {"A", 0.2}, {"B", 0.4}}, {{"B", 0}, {"A", 0.2}, {"B", 0.4}}},
        {"a cut back that arrives first", {{"B", 0.4}, {"A", 0.2}, {"B", 0}}, {{"B", 0}, {"A", 0.2}, {"B", 0.4}}},
        {"cameras' copies a little early or late",
         {{"B", 0}, {"A", 1}, {"B", -0.02}, {"A", 1.01}, {"B", 0.03}, {"A", 0.98}},
         {{"B", 0}, {"A", 1}}},
        {"a copy of a cut that has a cut back after it", {{"B", 0}, {"A", 0.3}, {"B", 0.01}}, {{"B", 0}, {"A", 0.3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShootLibrary::Day day;
        for (const auto& [camera, seconds] : c.added)
            ShootLibrary::addCutToDay(day, {camera, t.addingTimeInterval(seconds)});
        std::vector<ProgramCut> expected;
        for (const auto& [camera, seconds] : c.kept) expected.push_back({camera, t.addingTimeInterval(seconds)});
        EXPECT_EQ(day.cuts, expected);
    }
}

TEST(DayRateTest, MostFrequentRateWithSmallerNominalOnTies) {
    EXPECT_EQ(ShootLibrary::dayRate({movie("A", Date{}, 1)}), (TimelineRate{30, false}));
    EXPECT_EQ(ShootLibrary::dayRate({}), (TimelineRate{30, false}));
    EXPECT_EQ(ShootLibrary::dayRate({rated(25, false), rated(25, false), rated(24, true), rated(24, true)}),
              (TimelineRate{24, true}));
    EXPECT_EQ(ShootLibrary::dayRate({rated(25, false), rated(30, true), rated(30, true)}), (TimelineRate{30, true}));
    // A flag on a rate without an NTSC variant is dropped; absent counts as false; below 2 is 1.
    EXPECT_EQ(ShootLibrary::dayRate({rated(25, true)}), (TimelineRate{25, false}));
    EXPECT_EQ(ShootLibrary::dayRate({rated(30, std::nullopt)}), (TimelineRate{30, false}));
    EXPECT_EQ(ShootLibrary::dayRate({rated(0, false)}), (TimelineRate{1, false}));
}

std::vector<ProgramCut> cutsAtFrames(const std::vector<std::pair<std::string, std::int64_t>>& cuts,
                                     const TimelineRate& rate) {
    const Date midnight = localDate(2026, 12, 6, 0, 0, 0);
    std::vector<ProgramCut> out;
    // Half a frame in, so that rounding down lands on the frame.
    for (const auto& [camera, frame] : cuts)
        out.push_back({camera, midnight.addingTimeInterval((static_cast<double>(frame) + 0.5) / rate.fps())});
    return out;
}

TEST(ProgramPiecesTest, Table) {
    const TimelineRate rate{25, false};
    using Pieces = std::vector<ProgramPiece>;
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::int64_t>> cuts;
        std::set<std::string> cameras;
        Pieces expected;
    };
    // Frames are counted from a base far enough into the day that an hour before the window is the same day.
    constexpr std::int64_t base = 200'000;
    const Case cases[] = {
        {"switches inside the window",
         {{"A", 900}, {"B", 1500}, {"B", 1600}, {"A", 1800}},
         {"A", "B"},
         {{"A", 1000, 1500}, {"B", 1500, 1800}, {"A", 1800, 2000}}},
        {"a cut on the window start opens it", {{"B", 1000}}, {"A", "B"}, {{"B", 1000, 2000}}},
        {"a cut on the window end is ignored", {{"B", 2000}}, {"A", "B"}, {}},
        {"no opening cut: the first camera by name", {{"B", 1500}}, {"B", "A"}, {{"A", 1000, 1500}, {"B", 1500, 2000}}},
        {"cuts of other cameras do not count", {{"C", 900}, {"C", 1500}}, {"A", "B"}, {}},
        {"an hour or more before the window never opens it", {{"A", 1000 - 90000}}, {"A", "B"}, {}},
        {"just under an hour before opens it", {{"A", 1000 - 89999}}, {"A"}, {{"A", 1000, 2000}}},
        {"the last opening cut wins", {{"A", 100}, {"B", 200}}, {"A", "B"}, {{"B", 1000, 2000}}},
        {"no cameras", {{"A", 1500}}, {}, {}},
    };
    for (const auto& c : cases) {
        auto cuts = c.cuts;
        for (auto& cut : cuts) cut.second += base;
        Pieces expected = c.expected;
        for (auto& piece : expected) {
            piece.start += base;
            piece.end += base;
        }
        EXPECT_EQ(ShootLibrary::programPieces(cutsAtFrames(cuts, rate), c.cameras, base + 1000, base + 2000, rate),
                  expected)
            << c.what;
    }
}

TEST(ProgramPiecesTest, AbsurdRatesFromAManifestDoNotOverflow) {
    // A hand-edited manifest once gave a clip the rate 9.2e18: the hour before the window overflowed.
    const auto day = ShootLibrary::decodeManifest(
        R"({"clips":[{"file":"a.mov","camera":"A","start":786000000,"duration":2,"isVideo":true,"take":1,)"
        R"("frameRate":9200000000000000000}],"cuts":[{"camera":"A","at":786000001}]})");
    ASSERT_TRUE(day);
    const TimelineRate rate = ShootLibrary::dayRate(day->clips);
    EXPECT_EQ(rate.rate, 9'200'000'000'000'000'000);
    EXPECT_TRUE(ShootLibrary::programPieces(day->cuts, {"A"}, 0, 1, rate).empty());
    EXPECT_FALSE(ShootLibrary::dayFCPXML("2024-11-27", *day, "/shoot", day->clips).empty());
    EXPECT_FALSE(ShootLibrary::dayXMEML("2024-11-27", *day, "/shoot", day->clips).empty());
}

TEST(SoundPiecesTest, Table) {
    const TimelineRate rate{25, false};
    const Date midnight = localDate(2026, 12, 6, 0, 0, 0);
    const auto at = [&](std::int64_t frame) { return midnight.addingTimeInterval((frame + 0.5) / 25.0); };
    const Clip b = movie("B", at(1000), 40.0);     // 1000..2000
    const Clip a1 = movie("A", at(900), 20.0);     // 900..1400
    const Clip a2 = movie("A", at(1000), 40.0);    // 1000..2000, overlaps too but comes second
    const Clip early = movie("C", at(500), 20.0);  // 500..1000, ends on the piece start
    const std::vector<Clip> take{b, a1, a2, early};
    using Sound = DeckEdit::Sound;

    auto pieces = ShootLibrary::soundPieces(b, 1100, 1500, Sound{Sound::Mix{}}, take, rate);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], (SoundPiece{a1, 1100, 1400}));
    EXPECT_EQ(pieces[1], (SoundPiece{b, 1100, 1500}));

    // C's only clip ends exactly on the piece start.
    pieces = ShootLibrary::soundPieces(b, 1000, 1500, Sound{Sound::Camera{"C"}}, take, rate);
    EXPECT_TRUE(pieces.empty());
    // Both of A's clips overlap: only the first in list order sounds.
    pieces = ShootLibrary::soundPieces(b, 1100, 1300, Sound{Sound::Camera{"A"}}, take, rate);
    EXPECT_EQ(pieces, (std::vector<SoundPiece>{{a1, 1100, 1300}}));
    // The first clip misses the piece: the next clip of the camera is tried.
    pieces = ShootLibrary::soundPieces(b, 1500, 1800, Sound{Sound::Camera{"A"}}, take, rate);
    EXPECT_EQ(pieces, (std::vector<SoundPiece>{{a2, 1500, 1800}}));
    pieces = ShootLibrary::soundPieces(b, 1500, 1800, Sound{Sound::FollowPicture{}}, take, rate);
    EXPECT_EQ(pieces, (std::vector<SoundPiece>{{b, 1500, 1800}}));
    pieces = ShootLibrary::soundPieces(b, 1000, 1200, Sound{Sound::Camera{"Nobody"}}, take, rate);
    EXPECT_TRUE(pieces.empty());
}

TEST(ClipsByTakeTest, GroupsInAscendingTakesKeepingOrder) {
    const auto groups =
        ShootLibrary::clipsByTake({movie("A", Date{}, 1, 2), movie("B", Date{}, 1, 1), movie("C", Date{}, 1, 2)});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups.begin()->first, 1);
    EXPECT_EQ(groups.at(2)[0].camera, "A");
    EXPECT_EQ(groups.at(2)[1].camera, "C");
}

}  // namespace
}  // namespace morvane
