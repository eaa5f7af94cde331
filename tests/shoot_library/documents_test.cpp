#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <tuple>

#include "golden_days.h"
#include "shoot_library/shoot_library.h"
#include "shoot_library/timecode.h"
#include "shoot_test_support.h"
#include "timeline_media.h"

namespace morvane {
namespace {

using test::clip;
using test::localDate;
using test::probed;
using Day = ShootLibrary::Day;

const std::filesystem::path shootFolder = "/Volumes/Shoot/2026-12-06";

std::vector<ShootLibrary::Clip> videosOf(const Day& day, std::optional<std::int64_t> take = std::nullopt) {
    std::vector<ShootLibrary::Clip> out;
    for (const auto& c : day.clips) {
        if (c.isVideo && (!take || c.take == *take)) out.push_back(c);
    }
    return out;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void checkGolden(const std::string& name, const std::string& actual) {
    const auto path = test::testDataFolder() / "golden" / name;
    if (std::getenv("MORVANE_UPDATE_GOLDEN")) {
        test::writeFile(path, actual);
        return;
    }
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(actual, test::readFile(path)) << name;
}

TEST(GoldenDocumentTest, MulticamDay) {
    const Day day = test::multicamDay();
    const auto all = videosOf(day);
    checkGolden("multicam-day.fcpxml", ShootLibrary::dayFCPXML("2026-12-06", day, shootFolder, all));
    checkGolden("multicam-day.xml", ShootLibrary::dayXMEML("2026-12-06", day, shootFolder, all));
    checkGolden("multicam-take-02.fcpxml", ShootLibrary::dayFCPXML("2026-12-06", day, shootFolder, videosOf(day, 2)));
    checkGolden("multicam-take-02.xml", ShootLibrary::dayXMEML("2026-12-06", day, shootFolder, videosOf(day, 2)));
    const TimelineRate rate = ShootLibrary::dayRate(all);
    checkGolden("multicam-day.edl", ShootLibrary::markersEDL("2026-12-06", day, rate));
    checkGolden("multicam-day.csv", ShootLibrary::markersCSV("2026-12-06", day, rate));
}

TEST(GoldenDocumentTest, PalDay) {
    const Day day = test::palDay();
    const std::filesystem::path folder = "/home/editor/Movies/My Shoots/2026-03-02";
    checkGolden("pal-day.fcpxml", ShootLibrary::dayFCPXML("2026-03-02", day, folder, videosOf(day)));
    checkGolden("pal-day.xml", ShootLibrary::dayXMEML("2026-03-02", day, folder, videosOf(day)));
    checkGolden("pal-day.edl", ShootLibrary::markersEDL("2026-03-02", day, ShootLibrary::dayRate(videosOf(day))));
}

TEST(GoldenDocumentTest, MoviesStartingOnOddFramesStartThereInEveryDocument) {
    const Day day = test::oddFramesDay();
    const auto all = videosOf(day);
    const std::string fcp = ShootLibrary::dayFCPXML("2026-12-08", day, shootFolder, all);
    const std::string xml = ShootLibrary::dayXMEML("2026-12-08", day, shootFolder, all);
    checkGolden("odd-frames-day.fcpxml", fcp);
    checkGolden("odd-frames-day.xml", xml);
    const TimelineRate rate = ShootLibrary::dayRate(all);
    checkGolden("odd-frames-day.edl", ShootLibrary::markersEDL("2026-12-08", day, rate));
    checkGolden("odd-frames-day.csv", ShootLibrary::markersCSV("2026-12-08", day, rate));

    // The asset, its angle clip and the program all start the movie on its timecode frame.
    const std::string a = std::to_string(1'294'705LL * 1001) + "/30000s";
    EXPECT_TRUE(contains(fcp, "name=\"Take 01 \u2013 11.59.56 \u2013 A.mov\" start=\"" + a + "\""));
    EXPECT_TRUE(contains(fcp, "offset=\"" + a + "\" start=\"" + a + "\""));
    EXPECT_TRUE(contains(fcp, "<multicam format=\"r1\" tcStart=\"" + a + "\" tcFormat=\"DF\">"));
    EXPECT_TRUE(contains(fcp, "offset=\"" + a + "\" name=\"A\" start=\"" + a + "\""));
    EXPECT_TRUE(contains(fcp, "offset=\"1170007/25s\" start=\"1170007/25s\""));
    EXPECT_TRUE(contains(fcp, "offset=\"1170013/25s\" start=\"1170013/25s\""));
    EXPECT_TRUE(contains(xml, "<string>12:00:00;01</string><frame>1294705</frame>"));
    EXPECT_TRUE(contains(xml, "<string>13:00:00:07</string><frame>1170007</frame>"));
    EXPECT_FALSE(contains(xml, "<string>12:00:00;00</string>"));
    EXPECT_FALSE(contains(fcp, std::to_string(1'294'704LL * 1001) + "/30000s"));
}

TEST(GoldenDocumentTest, PhotosOnlyDay) {
    const Day day = test::photoDay();
    const TimelineRate rate = ShootLibrary::dayRate(videosOf(day));
    checkGolden("photos-day.edl", ShootLibrary::markersEDL("2026-12-07", day, rate));
    checkGolden("photos-day.csv", ShootLibrary::markersCSV("2026-12-07", day, rate));
    // Without a video clip the documents hold an empty library.
    checkGolden("photos-day.fcpxml", ShootLibrary::dayFCPXML("2026-12-07", day, shootFolder, day.clips));
    checkGolden("photos-day.xml", ShootLibrary::dayXMEML("2026-12-07", day, shootFolder, day.clips));
}

// Whatever rates a take mixes and whatever a camera's timecode says, every clip starts on its movie's first whole
// frame at the take's rate or later and ends on its last whole frame or earlier.
TEST(GoldenDocumentTest, EveryClipLiesInsideItsMedia) {
    const std::pair<const char*, Day> days[] = {{"multicam", test::multicamDay()},
                                                {"pal", test::palDay()},
                                                {"odd frames", test::oddFramesDay()},
                                                {"mixed rates", test::mixedRatesDay()}};
    for (const auto& [name, day] : days) {
        const auto all = videosOf(day);
        const auto fcp = ShootLibrary::dayFCPXML("2026-12-09", day, shootFolder, all);
        const auto xml = ShootLibrary::dayXMEML("2026-12-09", day, shootFolder, all);
        EXPECT_EQ(test::fcpxmlClipsOutsideMedia(fcp), std::vector<std::string>{}) << name << "\n" << fcp;
        EXPECT_EQ(test::xmemlClipsOutsideMedia(xml), std::vector<std::string>{}) << name << "\n" << xml;
    }
}

TEST(GoldenDocumentTest, EveryGoldenDocumentPassesXmllint) {
    const auto folder = test::testDataFolder() / "golden";
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto extension = entry.path().extension();
        if (extension != ".fcpxml" && extension != ".xml") continue;
        EXPECT_EQ(test::xmllintProblems(entry.path(), extension == ".fcpxml"), "") << entry.path();
        ++checked;
    }
    EXPECT_GE(checked, 6);
}

TEST(DocumentTypeTest, TheValidatorRefusesWhatTheDocumentTypeForbids) {
    // tcFormat on mc-clip is the attribute the document type does not declare; the check must catch it.
    const Day day = test::multicamDay();
    std::string document = ShootLibrary::dayFCPXML("2026-12-06", day, shootFolder, videosOf(day));
    const auto at = document.find("<mc-clip ");
    ASSERT_NE(at, std::string::npos);
    const auto close = document.find('>', at);
    document.insert(close, " tcFormat=\"DF\"");
    EXPECT_NE(test::xmllintTextProblems(document, true), "");
}

// Edge cases of the FCPXML writer.

std::string fcpxml(const std::vector<ShootLibrary::Clip>& clips, const Day& day = {}) {
    return ShootLibrary::dayFCPXML("2026-12-06", day, shootFolder, clips);
}

TEST(FcpxmlTest, RationalTimes) {
    EXPECT_EQ(ShootLibrary::fcpxmlTime(0, 25, false), "0/25s");
    EXPECT_EQ(ShootLibrary::fcpxmlTime(1, 30, true), "1001/30000s");
    EXPECT_EQ(ShootLibrary::fcpxmlTime(90, 30, false), "90/30s");
    EXPECT_EQ(ShootLibrary::fcpxmlTime(-2, 24, true), "-2002/24000s");
}

TEST(FcpxmlTest, ClipRatesSizesAndTimecodes) {
    const auto t = [](int s, double f = 0) { return localDate(2026, 12, 6, 10, 0, s, f); };
    const auto ntsc = probed(clip("B", "b.mov", t(1), 10, 1), 30, true, 1920, 1080);
    const auto pal = probed(clip("A", "a.mov", t(0), 10, 1), 25, false, 1920, 1080, 900'000);
    const auto pal2 = probed(clip("C", "c.mov", t(0, 0.5), 10, 1), 25, false, 1920, 1080);
    const std::string doc = fcpxml({ntsc, pal, pal2});
    // The NTSC clip has its own format and thirty-thousandths, while its angle clip is at the take rate.
    EXPECT_TRUE(contains(doc, "<format id=\"r1\" frameDuration=\"1/25s\" width=\"1920\" height=\"1080\"/>"));
    EXPECT_TRUE(contains(doc, "<format id=\"r4\" frameDuration=\"1001/30000s\" width=\"1920\" height=\"1080\"/>"));
    const std::int64_t ntscStart = timecode::timeOfDayFrames(t(1), TimelineRate{30, true});
    EXPECT_TRUE(contains(doc, "<asset id=\"a3\" name=\"b.mov\" start=\"" + std::to_string(ntscStart * 1001) +
                                  "/30000s\" duration=\"300300/30000s\" hasVideo=\"1\" hasAudio=\"1\" format=\"r4\""));
    EXPECT_TRUE(
        contains(doc, "<asset-clip ref=\"a3\" offset=\"900025/25s\" start=\"900025/25s\" duration=\"250/25s\""));
    // A camera timecode starts the asset there; the angle clip still starts at its time of day.
    EXPECT_TRUE(contains(doc, "<asset id=\"a2\" name=\"a.mov\" start=\"900000/25s\""));
    EXPECT_TRUE(contains(doc, "<asset-clip ref=\"a2\" offset=\"900000/25s\""));
    EXPECT_TRUE(contains(doc, "<asset id=\"a5\" name=\"c.mov\" start=\"900013/25s\""));  // 12.5 frames in
    EXPECT_TRUE(contains(doc, "<multicam format=\"r1\" tcStart=\"900000/25s\" tcFormat=\"NDF\">"));
    EXPECT_EQ(test::xmllintTextProblems(doc, true), "");
}

TEST(FcpxmlTest, UnprobedTakesAndSharedFormats) {
    const auto t = [](int m) { return localDate(2026, 12, 6, 10, m, 0); };
    const std::string doc = fcpxml({clip("A", "a.mov", t(0), 5, 1), clip("A", "b.mov", t(10), 5, 2)});
    EXPECT_TRUE(contains(doc, "<format id=\"r1\" frameDuration=\"1/30s\" width=\"1920\" height=\"1080\"/>"));
    EXPECT_FALSE(contains(doc, "id=\"r4\""));  // take 2 reuses r1
    EXPECT_TRUE(contains(doc, "<multicam format=\"r1\" tcStart=\"1098000/30s\" tcFormat=\"NDF\">"));
    EXPECT_TRUE(contains(doc, "<media id=\"m3\" name=\"Take 01\">"));
    EXPECT_TRUE(contains(doc, "<media id=\"m5\" name=\"Take 02\">"));
    // One camera: a single angle, and no program without cuts.
    EXPECT_TRUE(contains(doc, "angleID=\"angle1\""));
    EXPECT_FALSE(contains(doc, "angle2"));
    EXPECT_FALSE(contains(doc, "<project"));
    EXPECT_EQ(test::xmllintTextProblems(doc, true), "");
}

TEST(FcpxmlTest, EscapingOfNamesAndSources) {
    const std::string doc = fcpxml({clip("Cam \"1\" <x>", "A&B.mov", localDate(2026, 12, 6, 10, 0, 0), 5, 1)});
    EXPECT_TRUE(contains(doc, "name=\"A&amp;B.mov\""));
    EXPECT_TRUE(contains(doc, "src=\"file:///Volumes/Shoot/2026-12-06/A&amp;B.mov\""));
    EXPECT_TRUE(contains(doc, "<mc-angle name=\"Cam &quot;1&quot; &lt;x&gt;\" angleID=\"angle1\">"));
    EXPECT_EQ(test::xmllintTextProblems(doc, true), "");

    // Control characters and broken UTF-8 from another device never reach the document.
    Day day;
    day.deckEdits = {test::deckEdit(
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "Bell\x07 and \xFF byte", localDate(2026, 12, 6, 12, 0, 0),
        {{"A", localDate(2026, 12, 6, 10, 0, 1), localDate(2026, 12, 6, 10, 0, 3)}}, DeckEdit::Sound::FollowPicture{})};
    const std::string edited = fcpxml({clip("A", "a\x01.mov", localDate(2026, 12, 6, 10, 0, 0), 5, 1)}, day);
    EXPECT_TRUE(contains(edited, "Deck edit (Bell  and \xEF\xBF\xBD byte)"));
    EXPECT_TRUE(contains(edited, "src=\"file:///Volumes/Shoot/2026-12-06/a%01.mov\""));
    EXPECT_EQ(test::xmllintTextProblems(edited, true), "");
}

TEST(FcpxmlTest, MarkersAndDeckEditsAtTheWindowEdges) {
    const Date midnight = localDate(2026, 12, 6, 0, 0, 0);
    const auto at = [&](std::int64_t frame) { return midnight.addingTimeInterval((frame + 0.25) / 25.0); };
    const auto a = probed(clip("A", "a.mov", at(900'000), 40.0, 1), 25, false, 1920, 1080);  // 900000..901000
    Day day;
    day.markers = {{1, at(901'000)}, {2, at(899'999)}, {3, at(901'001)}, {4, at(900'000)}};
    using Sound = DeckEdit::Sound;
    day.deckEdits = {
        test::deckEdit("00000001-0000-0000-0000-000000000000", "thirty before", Date{},
                       {{"A", at(899'970), at(900'100)}}, Sound::FollowPicture{}),
        test::deckEdit("00000002-0000-0000-0000-000000000000", "thirty-one before", Date{},
                       {{"A", at(899'969), at(900'100)}}, Sound::FollowPicture{}),
        test::deckEdit("00000003-0000-0000-0000-000000000000", "at the end", Date{}, {{"A", at(901'000), at(901'100)}},
                       Sound::FollowPicture{}),
    };
    const std::string doc = fcpxml({a}, day);
    EXPECT_TRUE(contains(doc, "value=\"Marker 1\""));
    EXPECT_FALSE(contains(doc, "value=\"Marker 2\""));
    EXPECT_FALSE(contains(doc, "value=\"Marker 3\""));
    EXPECT_TRUE(contains(doc, "<marker start=\"900000/25s\" duration=\"1/25s\" value=\"Marker 4\"/>"));
    EXPECT_TRUE(contains(doc, "Deck edit (thirty before)"));
    EXPECT_FALSE(contains(doc, "Deck edit (thirty-one before)"));
    EXPECT_FALSE(contains(doc, "Deck edit (at the end)"));
    // The piece is cut to the clip: it starts at the clip's first frame.
    EXPECT_TRUE(contains(doc,
                         "<asset-clip ref=\"a2\" offset=\"0/25s\" name=\"A\" start=\"900000/25s\" "
                         "duration=\"100/25s\" srcEnable=\"all\" tcFormat=\"NDF\"/>"));
    EXPECT_EQ(test::xmllintTextProblems(doc, true), "");
}

TEST(FcpxmlTest, ProgramWithMissingCamerasAndRepeatedCameras) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    const auto a1 = clip("A", "a1.mov", ten, 10, 1);
    const auto a2 = clip("A", "a2.mov", ten.addingTimeInterval(1), 10, 1);
    const auto b = clip("B", "b.mov", ten, 10, 1);
    Day day;
    day.cuts = {{"B", ten.addingTimeInterval(-5)}, {"A", ten.addingTimeInterval(3)}};
    const std::string doc = fcpxml({a2, b, a1}, day);
    // Two angles named A, in take order; the program uses the first and its lane.
    EXPECT_TRUE(contains(doc, "<mc-angle name=\"A\" angleID=\"angle1\">"));
    EXPECT_TRUE(contains(doc, "<mc-angle name=\"A\" angleID=\"angle2\">"));
    EXPECT_TRUE(contains(doc, "<mc-angle name=\"B\" angleID=\"angle3\">"));
    EXPECT_TRUE(contains(doc, "<asset-clip ref=\"a2\" lane=\"1\" offset=\"1080090/30s\" name=\"A\""));
    EXPECT_TRUE(contains(doc, "<asset-clip ref=\"a4\" lane=\"3\" offset=\"1080000/30s\" name=\"B\""));
    EXPECT_TRUE(contains(doc, "lane=\"-3\""));
    EXPECT_EQ(test::xmllintTextProblems(doc, true), "");

    // A program that only showed a camera without a clip in the take keeps just the sound clips.
    Day other;
    other.cuts = {{"B", ten.addingTimeInterval(-5)}};
    const std::string onlySound = fcpxml({b, clip("C", "c.mov", ten, 10, 1)}, other);
    EXPECT_TRUE(contains(onlySound, "<gap name=\"Program\""));
    EXPECT_TRUE(contains(onlySound, "srcEnable=\"video\""));
    Day noClip;
    noClip.cuts = {{"Z", ten.addingTimeInterval(-5)}};
    // "Z" has no clip: its cut does not count for the take at all, so there is no program.
    EXPECT_FALSE(contains(fcpxml({b}, noClip), "<project"));
}

TEST(FcpxmlTest, MoviesWithoutSoundClaimNone) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    auto silent = clip("A", "a.mov", ten, 10, 1);
    silent.hasAudio = false;
    auto sounding = clip("B", "b.mov", ten, 10, 1);
    sounding.hasAudio = true;
    Day day;
    day.cuts = {{"A", ten.addingTimeInterval(-5)}, {"B", ten.addingTimeInterval(4)}};
    const std::string doc = fcpxml({silent, sounding}, day);
    EXPECT_TRUE(contains(doc,
                         "name=\"a.mov\" start=\"1080000/30s\" duration=\"300/30s\" hasVideo=\"1\" hasAudio=\"0\" "
                         "format=\"r1\">"))
        << doc;
    EXPECT_TRUE(contains(doc, "hasAudio=\"1\" format=\"r1\" audioSources=\"1\">")) << doc;
    EXPECT_FALSE(contains(doc, "name=\"A sound\"")) << doc;
    EXPECT_TRUE(contains(doc, "name=\"B sound\"")) << doc;
    EXPECT_EQ(test::xmllintTextProblems(doc, true), "");

    const std::string xml = ShootLibrary::dayXMEML("2026-12-06", day, shootFolder, {silent, sounding});
    EXPECT_EQ(test::xmllintTextProblems(xml, false), "");
    // Only B's movie (the second file) has an audio description and sound clips.
    EXPECT_EQ(xml.find("<audio><channelcount>1</channelcount></audio>"),
              xml.rfind("<audio><channelcount>1</channelcount></audio>"))
        << xml;
    EXPECT_FALSE(contains(xml, "\"clip-1-a\"")) << xml;
    EXPECT_TRUE(contains(xml, "\"clip-2-a\"")) << xml;
    EXPECT_FALSE(contains(xml, "program-sound-1\"")) << xml;
    EXPECT_TRUE(contains(xml, "program-sound-2\"")) << xml;
}

TEST(FcpxmlTest, DeckEditSoundKinds) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    const auto b = clip("B", "b.mov", ten, 10, 1);
    const auto a = clip("A", "a.mov", ten, 10, 1);
    using Sound = DeckEdit::Sound;
    Day day;
    day.deckEdits = {test::deckEdit("00000001-0000-0000-0000-000000000000", "mixed", Date{},
                                    {{"B", ten.addingTimeInterval(1), ten.addingTimeInterval(2)}}, Sound::Mix{})};
    const std::string doc = fcpxml({b, a}, day);
    const auto soundA = doc.find("name=\"A sound\" start=\"1080030/30s\"");
    const auto soundB = doc.find("name=\"B sound\" start=\"1080030/30s\"");
    ASSERT_NE(soundA, std::string::npos);
    ASSERT_NE(soundB, std::string::npos);
    EXPECT_LT(soundA, soundB);
    EXPECT_TRUE(contains(doc, "lane=\"-1\" offset=\"1080030/30s\" name=\"A sound\""));
    EXPECT_TRUE(contains(doc, "lane=\"-2\" offset=\"1080030/30s\" name=\"B sound\""));
    EXPECT_TRUE(contains(doc, "srcEnable=\"video\" tcFormat=\"NDF\">\n"));
    EXPECT_EQ(test::xmllintTextProblems(doc, true), "");
}

TEST(FcpxmlTest, MarkersAndDeckEditsInTwoTakes) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    Day day;
    day.markers = {{5, ten.addingTimeInterval(3)}};
    day.deckEdits = {test::deckEdit("00000001-0000-0000-0000-000000000000", "both", Date{},
                                    {{"A", ten.addingTimeInterval(1), ten.addingTimeInterval(2)}},
                                    DeckEdit::Sound::FollowPicture{})};
    const std::string doc = fcpxml({clip("A", "a.mov", ten, 10, 1), clip("A", "b.mov", ten, 10, 2)}, day);
    const auto first = doc.find("value=\"Marker 5\"");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(doc.find("value=\"Marker 5\"", first + 1), std::string::npos);
    EXPECT_TRUE(contains(doc, "Take 01 \u2013 Deck edit (both)"));
    EXPECT_TRUE(contains(doc, "Take 02 \u2013 Deck edit (both)"));
    EXPECT_EQ(test::xmllintTextProblems(doc, true), "");
}

// Edge cases of the xmeml writer.

std::string xmeml(const std::vector<ShootLibrary::Clip>& clips, const Day& day = {}) {
    return ShootLibrary::dayXMEML("2026-12-06", day, shootFolder, clips);
}

TEST(XmemlTest, TheProgramHoldsARecordingCameraWhereTheCameraOnAirRecordedNothing) {
    using Spans = std::vector<std::tuple<std::string, double, double>>;  // camera, seconds after noon: from, to
    struct Case {
        const char* what;
        Spans recorded;
        std::vector<std::pair<std::string, double>> cuts;
        Spans program;
    };
    const Case cases[] = {
        {"the camera on air stops: the camera on air before it holds",
         {{"A", 0, 20}, {"B", 0, 12}, {"C", 0, 20}},
         {{"A", -60}, {"B", 5}},
         {{"A", 0, 5}, {"B", 5, 12}, {"A", 12, 20}}},
        {"no camera on air before it recorded there: the first by name that did, but the take ends with the cut",
         {{"A", 0, 20}, {"B", 0, 3}, {"C", 0, 12}},
         {{"B", -60}, {"C", 5}},
         {{"B", 0, 3}, {"A", 3, 5}, {"C", 5, 12}}},
        {"the camera on air starts late: the program begins with it",
         {{"A", 0, 20}, {"B", 2, 20}},
         {{"B", -60}},
         {{"B", 2, 20}}},
        {"the camera on air starts late: the camera on air before the take holds",
         {{"A", 0, 20}, {"B", 2, 20}, {"C", 0, 20}},
         {{"C", -120}, {"B", -60}},
         {{"C", 0, 2}, {"B", 2, 20}}},
        {"the camera on air stops before another: the program ends with it",
         {{"A", 0, 20}, {"B", 0, 21}},
         {{"A", -60}},
         {{"A", 0, 20}}},
        {"where nobody recorded the program is empty, and after the last picture on air nobody cut to shows",
         {{"A", 0, 5}, {"B", 10, 20}},
         {{"A", -60}},
         {{"A", 0, 5}}},
        {"every camera recorded throughout: the cuts stand",
         {{"A", 0, 20}, {"B", 0, 20}},
         {{"A", -60}, {"B", 5}, {"A", 10}},
         {{"A", 0, 5}, {"B", 5, 10}, {"A", 10, 20}}},
    };
    const Date noon = localDate(2026, 12, 6, 12, 0, 0);
    const std::regex piece(
        R"(<clipitem id="take-1-program-\d+"><name>(\w+)\.mov</name>.*?<start>(\d+)</start><end>(\d+)</end>)");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Day day;
        for (const auto& [camera, from, to] : c.recorded)
            day.clips.push_back(probed(clip(camera, camera + ".mov", noon.addingTimeInterval(from), to - from, 1), 25,
                                       false, 1920, 1080));
        for (const auto& [camera, at] : c.cuts) day.cuts.push_back({camera, noon.addingTimeInterval(at)});
        const std::string doc = xmeml(day.clips, day);
        Spans program;
        for (auto m = std::sregex_iterator(doc.begin(), doc.end(), piece); m != std::sregex_iterator(); ++m)
            program.emplace_back((*m)[1], std::stod((*m)[2]) / 25, std::stod((*m)[3]) / 25);
        // The document lists the pieces camera by camera.
        std::sort(program.begin(), program.end(),
                  [](const auto& a, const auto& b) { return std::get<1>(a) < std::get<1>(b); });
        EXPECT_EQ(program, c.program);
    }
}

TEST(XmemlTest, ClipNumbersFollowTakesAndCameraNames) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    const std::string doc = xmeml({clip("B", "b1.mov", ten, 5, 1), clip("A", "a1.mov", ten, 5, 1),
                                   clip("B", "b2.mov", ten.addingTimeInterval(600), 5, 2),
                                   clip("A", "a2.mov", ten.addingTimeInterval(600), 5, 2)});
    const auto pos = [&](const std::string& part) { return doc.find(part); };
    EXPECT_LT(pos("<clipitem id=\"clip-1-v\">\n            <name>a1.mov"),
              pos("<clipitem id=\"clip-2-v\">\n            <name>b1.mov"));
    EXPECT_NE(pos("<clipitem id=\"clip-3-v\">\n            <name>a2.mov"), std::string::npos);
    EXPECT_NE(pos("<clipitem id=\"clip-4-a\">\n            <name>b2.mov"), std::string::npos);
    EXPECT_EQ(test::xmllintTextProblems(doc, false), "");
}

TEST(XmemlTest, ShortClipsAndTimecodes) {
    const std::string tiny = xmeml({clip("A", "a.mov", localDate(2026, 12, 6, 10, 0, 0), 0.01, 1)});
    EXPECT_TRUE(contains(tiny, "<duration>1</duration><rate>"));
    EXPECT_TRUE(contains(tiny, "<start>0</start><end>1</end><in>0</in><out>1</out>"));
    EXPECT_TRUE(contains(tiny, "<name>Take 01</name>\n      <duration>1</duration>"));

    const std::string pal =
        xmeml({probed(clip("A", "a.mov", localDate(2026, 12, 6, 10, 0, 0, 0.5), 2, 1), 25, false, 1920, 1080)});
    EXPECT_TRUE(contains(pal, "<start>0</start>"));
    EXPECT_TRUE(contains(pal,
                         "<timecode><rate><timebase>25</timebase><ntsc>FALSE</ntsc></rate><string>10:00:00:13"
                         "</string><frame>900013</frame><displayformat>NDF</displayformat></timecode>"));

    const std::string ntsc =
        xmeml({probed(clip("A", "a.mov", localDate(2026, 12, 6, 10, 0, 0), 2, 1), 30, true, 1920, 1080)});
    EXPECT_TRUE(contains(ntsc, "<rate><timebase>30</timebase><ntsc>TRUE</ntsc></rate>"));
    EXPECT_TRUE(contains(ntsc, "<displayformat>DF</displayformat>"));
    const std::string film =
        xmeml({probed(clip("A", "a.mov", localDate(2026, 12, 6, 10, 0, 0), 2, 1), 24, true, 1920, 1080)});
    EXPECT_TRUE(contains(film, "<rate><timebase>24</timebase><ntsc>TRUE</ntsc></rate>"));
    EXPECT_FALSE(contains(film, "<displayformat>DF"));
    const std::string unprobed = xmeml({clip("A", "a.mov", localDate(2026, 12, 6, 10, 0, 0), 2, 1)});
    EXPECT_TRUE(contains(unprobed, "<rate><timebase>30</timebase><ntsc>FALSE</ntsc></rate>"));
}

TEST(XmemlTest, PathURLsAndSizes) {
    const std::string name = "Take 01 \u2013 10.15.30 \u2013 A&B.mov";
    const std::string doc =
        xmeml({probed(clip("A", name, localDate(2026, 12, 6, 10, 15, 30), 2, 1), 25, false, 3840, 2160),
               probed(clip("B", "b.mov", localDate(2026, 12, 6, 10, 15, 30), 2, 1), 25, false, 1920, 1080)});
    EXPECT_TRUE(contains(doc,
                         "<pathurl>file://localhost/Volumes/Shoot/2026-12-06/"
                         "Take%2001%20%E2%80%93%2010.15.30%20%E2%80%93%20A&amp;B.mov</pathurl>"));
    EXPECT_TRUE(contains(doc, "<name>Take 01 \u2013 10.15.30 \u2013 A&amp;B.mov</name>"));
    EXPECT_TRUE(contains(doc,
                         "<format><samplecharacteristics><rate><timebase>25</timebase><ntsc>FALSE</ntsc></rate>"
                         "<width>3840</width><height>2160</height>"));
    EXPECT_TRUE(contains(doc, "<width>1920</width><height>1080</height></samplecharacteristics></video>"));
}

TEST(XmemlTest, EachFileIsDescribedAtItsOwnRateWhileItsClipsKeepTheTakeRate) {
    const auto noon = [](double seconds) { return localDate(2026, 12, 6, 12, 0, 0, seconds); };
    const double ntscFrame = 1001.0 / 30000;
    struct Case {
        ShootLibrary::Clip clip;
        std::string file;      // the <file> element's rate, duration and timecode
        std::string clipitem;  // the take sequence's clip item, at the take's 25 fps
    };
    const auto rate = [](int base, bool ntsc) {
        return "<rate><timebase>" + std::to_string(base) + "</timebase><ntsc>" + (ntsc ? "TRUE" : "FALSE") +
               "</ntsc></rate>";
    };
    const auto tc = [&](int base, bool ntsc, const std::string& text, std::int64_t frame, const char* format) {
        return "<timecode>" + rate(base, ntsc) + "<string>" + text + "</string><frame>" + std::to_string(frame) +
               "</frame><displayformat>" + format + "</displayformat></timecode>";
    };
    const std::vector<Case> cases{
        {probed(clip("A", "a.mov", noon(0), 4.0, 1), 25, false, 1920, 1080, 1'080'000),
         rate(25, false) + "<duration>100</duration>" + tc(25, false, "12:00:00:00", 1'080'000, "NDF"),
         "<name>a.mov</name><duration>100</duration>" + rate(25, false) + "<start>0</start>"},
        // A drop-frame camera two frames past noon, 120 frames long: its movie runs from 0.59 to 100.69 frames past
        // noon at 25, so its clip holds the 99 whole ones from frame 1.
        {probed(clip("B", "b.mov", noon(2 * ntscFrame), 120 * ntscFrame, 1), 30, true, 1920, 1080, 1'294'706),
         rate(30, true) + "<duration>120</duration>" + tc(30, true, "12:00:00;02", 1'294'706, "DF"),
         "<name>b.mov</name><duration>99</duration>" + rate(25, false) + "<start>1</start>"},
        // No timecode in the movie: its start's time of day, counted at its own rate (a hair before noon, 50.05
        // frames at 25), so its clip holds the 49 whole ones from noon.
        {probed(clip("C", "c.mov", noon(0), 2.0, 1), 24, true, 1920, 1080),
         rate(24, true) + "<duration>48</duration>" + tc(24, true, "11:59:16:20", 1'035'764, "NDF"),
         "<name>c.mov</name><duration>49</duration>" + rate(25, false) + "<start>0</start>"},
        // Not probed yet: described at the take's rate.
        {clip("D", "d.mov", noon(0.5), 2.0, 1),
         rate(25, false) + "<duration>50</duration>" + tc(25, false, "12:00:00:13", 1'080'013, "NDF"),
         "<name>d.mov</name><duration>50</duration>" + rate(25, false) + "<start>13</start>"},
        {probed(clip("E", "e.mov", noon(0), 4.0, 1), 25, false, 1280, 720),
         rate(25, false) + "<duration>100</duration>" + tc(25, false, "12:00:00:00", 1'080'000, "NDF"),
         "<name>e.mov</name><duration>100</duration>" + rate(25, false) + "<start>0</start>"},
    };
    std::vector<ShootLibrary::Clip> clips;
    for (const auto& c : cases) clips.push_back(c.clip);
    const std::string doc = xmeml(clips);
    EXPECT_TRUE(contains(doc, "<name>Take 01</name>\n      <duration>100</duration>" + rate(25, false)));
    for (const auto& c : cases) {
        const std::string file = "<name>" + c.clip.file + "</name><pathurl>";
        const auto at = doc.find(file);
        ASSERT_NE(at, std::string::npos) << c.clip.file;
        const std::string line = doc.substr(at, doc.find('\n', at) - at);
        EXPECT_TRUE(contains(line, "</pathurl>" + c.file)) << line;
        // The file's picture is described at its own rate too.
        const std::string media = doc.substr(at + line.size(), doc.find("</file>", at) - at - line.size());
        EXPECT_TRUE(contains(media, "<samplecharacteristics>" + c.file.substr(0, c.file.find("<duration>")))) << media;
        EXPECT_TRUE(contains(doc, c.clipitem)) << c.clip.file;
    }
    EXPECT_EQ(test::xmllintTextProblems(doc, false), "");
}

TEST(XmemlTest, MarkersAtTheWindowEdges) {
    const Date midnight = localDate(2026, 12, 6, 0, 0, 0);
    const auto at = [&](std::int64_t frame) { return midnight.addingTimeInterval((frame + 0.25) / 30.0); };
    Day day;
    day.markers = {{1, at(1'080'300)}, {2, at(1'080'301)}, {3, at(1'079'999)}, {4, at(1'080'000)}};
    const std::string doc = xmeml({clip("A", "a.mov", at(1'080'000), 10, 1)}, day);
    EXPECT_TRUE(contains(doc, "<marker><name>Marker 1</name><comment></comment><in>300</in><out>-1</out></marker>"));
    EXPECT_FALSE(contains(doc, "Marker 2"));
    EXPECT_FALSE(contains(doc, "Marker 3"));
    EXPECT_TRUE(contains(doc, "<in>0</in><out>-1</out>"));
}

TEST(XmemlTest, ProgramAndDeckEditSequences) {
    const Date ten = localDate(2026, 12, 6, 10, 0, 0);
    const auto at = [&](double s) { return ten.addingTimeInterval(s); };
    // A quarter of a frame in, so that rounding lands on the frame.
    const auto frame = [&](double f) { return ten.addingTimeInterval((f + 0.25) / 30.0); };
    const auto a = clip("A", "a.mov", ten, 10, 1);
    const auto b = clip("B", "b.mov", ten, 10, 1);
    const auto c = clip("C", "c.mov", ten, 10, 1);
    using Sound = DeckEdit::Sound;
    Day day;
    day.cuts = {{"A", at(-600)}, {"B", at(2)}, {"A", at(5)}};
    day.deckEdits = {
        test::deckEdit("AAAAAAAA-0000-0000-0000-000000000000", "late", at(7200), {{"A", at(1), at(2)}},
                       Sound::FollowPicture{}),
        test::deckEdit("BBBBBBBB-0000-0000-0000-000000000000", "early", at(3600),
                       {{"A", frame(0), frame(100)}, {"Z", at(4), at(5)}, {"B", frame(120), frame(170)}},
                       Sound::FollowPicture{}),
        test::deckEdit("CCCCCCCC-0000-0000-0000-000000000000", "mixed", at(7300), {{"B", at(1), at(2)}}, Sound::Mix{}),
        test::deckEdit("DDDDDDDD-0000-0000-0000-000000000000", "nobody", at(7400), {{"A", at(1), at(2)}},
                       Sound::Camera{"Q"}),
        test::deckEdit("EEEEEEEE-0000-0000-0000-000000000000", "twenty before", at(7500), {{"A", frame(-20), at(1)}},
                       Sound::FollowPicture{}),
    };
    const std::string doc = xmeml({a, b, c}, day);
    // Pieces A, B, A share the tracks of their cameras; C's track stays empty.
    EXPECT_TRUE(contains(doc, "<clipitem id=\"take-1-program-0\"><name>a.mov</name>"));
    EXPECT_TRUE(contains(doc, "<clipitem id=\"take-1-program-1\"><name>b.mov</name>"));
    EXPECT_TRUE(contains(doc, "take-1-program-2\"><name>a.mov</name>"));
    EXPECT_TRUE(contains(doc, "</clipitem>\n          <clipitem id=\"take-1-program-2\">"));
    EXPECT_TRUE(contains(doc, "        <track>\n        </track>\n        </video>"));
    EXPECT_TRUE(contains(doc, "take-1-program-sound-3"));
    // Deck edits by export time; dropped pieces take no number.
    const auto early = doc.find("<name>Take 01 \u2013 Deck edit (early)</name>");
    const auto late = doc.find("<name>Take 01 \u2013 Deck edit (late)</name>");
    ASSERT_NE(early, std::string::npos);
    ASSERT_NE(late, std::string::npos);
    EXPECT_LT(early, late);
    EXPECT_TRUE(contains(doc,
                         "<sequence id=\"take-1-deck-BBBBBBBB\">\n      <name>Take 01 \u2013 Deck edit (early)"
                         "</name>\n      <duration>150</duration>"));
    EXPECT_TRUE(contains(doc,
                         "<clipitem id=\"take-1-deck-BBBBBBBB-0\"><name>a.mov</name><rate><timebase>30</timebase>"
                         "<ntsc>FALSE</ntsc></rate><start>0</start><end>100</end><in>0</in><out>100</out>"));
    EXPECT_TRUE(contains(doc,
                         "<clipitem id=\"take-1-deck-BBBBBBBB-1\"><name>b.mov</name><rate><timebase>30</timebase>"
                         "<ntsc>FALSE</ntsc></rate><start>100</start><end>150</end><in>120</in><out>170</out>"));
    EXPECT_TRUE(contains(doc, "take-1-deck-BBBBBBBB-0-a0"));
    EXPECT_TRUE(contains(doc, "take-1-deck-BBBBBBBB-1-a0"));
    EXPECT_TRUE(contains(doc,
                         "<timecode><rate><timebase>30</timebase><ntsc>FALSE</ntsc></rate><string>00:00:00:00"
                         "</string><frame>0</frame>"));
    // Mix: one track per camera, A's first.
    const auto mixA = doc.find("take-1-deck-CCCCCCCC-0-a0\"><name>a.mov");
    const auto mixB = doc.find("take-1-deck-CCCCCCCC-0-a1\"><name>b.mov");
    ASSERT_NE(mixA, std::string::npos);
    ASSERT_NE(mixB, std::string::npos);
    EXPECT_TRUE(contains(doc.substr(mixA, mixB - mixA), "</track>\n        <track>"));
    // A sound camera that is not in the take: the audio holds no track.
    EXPECT_TRUE(contains(doc, "Deck edit (nobody)"));
    const auto nobody = doc.find("Deck edit (nobody)");
    EXPECT_TRUE(contains(doc.substr(nobody, doc.find("</sequence>", nobody) - nobody), "<audio>\n        </audio>"));
    // Twenty frames before the take belongs to it.
    EXPECT_TRUE(contains(doc, "Deck edit (twenty before)"));
    EXPECT_EQ(test::xmllintTextProblems(doc, false), "");

    // Two clips of A and one of B: two picture tracks and three sound tracks.
    const std::string repeated = xmeml({a, clip("A", "a2.mov", at(1), 5, 1), b}, day);
    const auto program = repeated.find("<sequence id=\"take-1-program\">");
    const std::string programText = repeated.substr(program, repeated.find("</sequence>", program) - program);
    const auto count = [](const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(programText, "        <track>\n"), 2u);
    EXPECT_EQ(count(programText, "-program-sound-"), 3u);

    // Without any cut of the take's cameras there is no program sequence.
    Day quiet;
    quiet.cuts = {{"A", at(-4000)}};
    EXPECT_FALSE(contains(xmeml({a, b}, quiet), "-program"));
}

// Marker lists.

TEST(MarkerListTest, EmptyDays) {
    const Day day;
    EXPECT_EQ(ShootLibrary::markersEDL("2026-12-06", day, TimelineRate{25, false}),
              "TITLE: Brindlecroft 2026-12-06\nFCM: NON-DROP FRAME\n\n");
    EXPECT_EQ(ShootLibrary::markersCSV("2026-12-06", day, TimelineRate{25, false}),
              "Marker,Timecode,Time,Take,Recording cameras\n");
}

TEST(MarkerListTest, Table) {
    const Date noon = localDate(2026, 12, 6, 12, 0, 0);
    struct Case {
        std::int64_t number;
        TimelineRate rate;
        std::vector<std::string> cameras;
        std::string edlFirstLine;
        std::string csvRow;
    };
    const Case cases[] = {
        {7,
         {30, true},
         {"A", "B"},
         "007  001      V     C        12:00:00;01 12:00:00;02 12:00:00;01 12:00:00;02",
         "7,12:00:00;01,12.00.00,,\"A; B\""},
        {1000,
         {24, true},
         {},
         "1000  001      V     C        11:59:16:20 11:59:16:21 11:59:16:20 11:59:16:21",
         "1000,11:59:16:20,12.00.00,,\"\""},
        {3,
         {25, false},
         {"Say \"hi\""},
         "003  001      V     C        12:00:00:00 12:00:00:01 12:00:00:00 12:00:00:01",
         "3,12:00:00:00,12.00.00,,\"Say 'hi'\""},
    };
    for (const auto& c : cases) {
        Day day;
        day.markers = {{c.number, noon, c.cameras}};
        const std::string edl = ShootLibrary::markersEDL("2026-12-06", day, c.rate);
        EXPECT_TRUE(contains(edl, "\n\n" + c.edlFirstLine + "\n |C:ResolveColorYellow |M:Marker " +
                                      std::to_string(c.number) + " |D:1\n\n"))
            << edl;
        EXPECT_TRUE(contains(edl, timecode::isDropFrame(c.rate) ? "FCM: DROP FRAME\n" : "FCM: NON-DROP FRAME\n"));
        EXPECT_EQ(ShootLibrary::markersCSV("2026-12-06", day, c.rate),
                  "Marker,Timecode,Time,Take,Recording cameras\n" + c.csvRow + "\n");
    }
    // A marker inside a movie names its take.
    Day day;
    day.clips = {clip("A", "a.mov", noon.addingTimeInterval(-1), 5, 4)};
    day.markers = {{1, noon, {"A"}}};
    EXPECT_TRUE(contains(ShootLibrary::markersCSV("2026-12-06", day, {25, false}), "1,12:00:00:00,12.00.00,4,\"A\"\n"));
}

TEST(MarkerListTest, TheOutPointIsAlwaysOneFrameAfterTheInPoint) {
    // Find marker moments where adding one frame's duration in seconds rounds to a frame other than the next.
    const TimelineRate rate{30, true};
    const Date midnight = localDate(2026, 12, 6, 0, 0, 0);
    int found = 0;
    for (std::int64_t frame = 1'000'000; frame < 1'300'000 && found < 20; ++frame) {
        // Half a frame in, where rounding the moment and the moment a frame later may not give frames one apart.
        const Date date = midnight.addingTimeInterval((static_cast<double>(frame) + 0.5) / rate.fps());
        const std::int64_t in = timecode::timeOfDayFrames(date, rate);
        const std::int64_t naiveOut = timecode::timeOfDayFrames(date.addingTimeInterval(1.0 / rate.fps()), rate);
        if (naiveOut != in + 1) {
            ++found;
            Day day;
            day.markers = {{1, date}};
            const std::string edl = ShootLibrary::markersEDL("2026-12-06", day, rate);
            const std::string expected = timecode::timecodeString(in, rate) + " " +
                                         timecode::timecodeString(in + 1, rate) + " " +
                                         timecode::timecodeString(in, rate);
            EXPECT_TRUE(contains(edl, expected)) << edl;
        }
    }
    EXPECT_GT(found, 0) << "no moment where rounding would collapse the out point was found";
}

}  // namespace
}  // namespace morvane
