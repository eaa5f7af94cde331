#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

#include <sys/stat.h>

#include <thread>

#include "atomic_file.h"
#include "file_size_limit.h"
#include "interrupted_write.h"
#include "platform/defaults.h"
#include "shoot_library/shoot_library.h"
#include "shoot_library/timecode.h"
#include "shoot_test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::localDate;
using test::readFile;
using test::writeFile;

const std::string dash = " \u2013 ";

class ShootLibraryTest : public ::testing::Test {
protected:
    ShootLibraryTest() {
        test::useTestTimeZone();
        library = std::make_unique<ShootLibrary>(ShootLibrary::Environment{&defaults, movies()});
    }
    ~ShootLibraryTest() override {
        if (library) library->waitUntilIdle();
    }

    fs::path movies() const { return root / "Movies"; }
    fs::path shoot() const { return movies() / "Brindlecroft"; }
    fs::path dayFolder(const std::string& key) const { return shoot() / key; }
    fs::path manifest(const std::string& key) const { return dayFolder(key) / ".quorbelin-shoot.json"; }

    // A received file waiting to be filed.
    fs::path incoming(const std::string& name, const std::string& bytes = "capture") {
        const fs::path file = root / "incoming" / name;
        writeFile(file, bytes);
        return file;
    }

    static TransferInfo transfer(const std::string& fileName, Date capturedAt, bool isVideo,
                                 std::optional<double> duration = std::nullopt,
                                 std::optional<std::vector<ProgramCut>> cuts = std::nullopt) {
        TransferInfo info;
        info.fileName = fileName;
        info.capturedAt = capturedAt;
        info.isVideo = isVideo;
        info.duration = duration;
        info.cuts = std::move(cuts);
        return info;
    }

    ShootLibrary::Day dayOnDisk(const std::string& key) {
        library->waitUntilIdle();
        auto day = ShootLibrary::decodeManifest(readFile(manifest(key)));
        EXPECT_TRUE(day) << key;
        return day.value_or(ShootLibrary::Day{});
    }

    void flush() { library->waitUntilIdle(); }

    test::TempDir root;
    Defaults defaults{root / "config" / "defaults.json"};
    std::unique_ptr<ShootLibrary> library;
};

TEST_F(ShootLibraryTest, FoldersFollowTheStoredChoice) {
    EXPECT_EQ(library->resolveBookmark(), std::nullopt);
    EXPECT_EQ(library->defaultFolder(), shoot());
    EXPECT_FALSE(fs::exists(shoot()));
    const fs::path day = library->folderURL(localDate(2024, 5, 1, 12, 0, 0));
    EXPECT_EQ(day, shoot() / "2024-05-01");
    EXPECT_TRUE(fs::is_directory(day));

    const fs::path chosen = root / "Chosen";
    defaults.set("shootFolderBookmark", chosen.string());
    EXPECT_EQ(library->resolveBookmark(), chosen);
    EXPECT_EQ(library->defaultFolder(), shoot()) << "a chosen folder that does not exist is not used";
    fs::create_directories(chosen);
    EXPECT_EQ(library->defaultFolder(), chosen);
    defaults.set("shootFolderBookmark", std::string("relative/folder"));
    EXPECT_EQ(library->resolveBookmark(), std::nullopt);
    defaults.set("shootFolderBookmark", 5);
    EXPECT_EQ(library->defaultFolder(), shoot());
}

// The chosen folder takes captures while it is there on the file system it was chosen on; a drive unmounted from
// under it leaves its mount folder bare on the system disk, which is not where the user chose.
TEST(ShootFolderUse, TheChosenFolderIsUsedOnlyOnTheFileSystemItWasChosenOn) {
    using Use = ShootLibrary::FolderUse;
    using Facts = ShootLibrary::ChosenFacts;
    const fs::path drive = "/mnt/drive";
    const fs::path system = "/";
    struct Row {
        const char* what;
        std::optional<Facts> chosen;
        Use expected;
    };
    const std::vector<Row> rows = {
        {"nothing chosen", std::nullopt, Use::noneChosen},
        {"the chosen folder removed", Facts{false, drive, std::nullopt}, Use::missing},
        {"the chosen folder there on its drive", Facts{true, drive, drive}, Use::chosen},
        {"the drive unmounted, its mount folder left", Facts{true, drive, system}, Use::driveGone},
        {"another drive mounted over the system disk's folder it was chosen on", Facts{true, system, drive},
         Use::driveGone},
        {"a folder on the system disk", Facts{true, system, system}, Use::chosen},
        {"chosen before drives were recorded", Facts{true, std::nullopt, system}, Use::chosen},
        {"the file system it is on now unknown", Facts{true, drive, std::nullopt}, Use::chosen},
    };
    for (const auto& row : rows) EXPECT_EQ(ShootLibrary::folderUse(row.chosen), row.expected) << row.what;
}

TEST_F(ShootLibraryTest, AChoiceKeepsTheFileSystemItWasMadeOn) {
    auto mountedOn = std::make_shared<std::optional<fs::path>>(root / "Drive");
    library = std::make_unique<ShootLibrary>(
        ShootLibrary::Environment{&defaults, movies(), [mountedOn](const fs::path&) { return *mountedOn; }});
    const fs::path chosen = root / "Drive" / "Shoot";
    fs::create_directories(chosen);
    library->chooseFolder(chosen);
    EXPECT_EQ(library->defaultFolder(), chosen);
    *mountedOn = "/";
    EXPECT_EQ(library->shootFolder().use, ShootLibrary::FolderUse::driveGone);
    EXPECT_EQ(library->folderURL(localDate(2024, 5, 1, 12, 0, 0)), shoot() / "2024-05-01");
    EXPECT_TRUE(fs::is_empty(chosen));
    // What was recorded of one choice says nothing of another stored without it.
    const fs::path other = root / "Other";
    fs::create_directories(other);
    defaults.set("shootFolderBookmark", other.string());
    EXPECT_EQ(library->defaultFolder(), other);
}

TEST_F(ShootLibraryTest, FilesMoviesAndPhotosByTakeAndWritesTheExports) {
    const Date at = localDate(2024, 5, 1, 14, 5, 22);
    const fs::path source = incoming("clip.MOV");
    const fs::path movie = library->importFile(source, transfer("clip.MOV", at, true, 12.0), "Camera A");
    EXPECT_EQ(movie, dayFolder("2024-05-01") / ("Take 01" + dash + "14.05.22" + dash + "Camera A.MOV"));
    EXPECT_TRUE(fs::exists(movie));
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(readFile(movie), "capture");

    const fs::path photo = library->importFile(incoming("IMG"), transfer("IMG", at, false), "Camera A");
    EXPECT_EQ(photo.filename().string(), "Photo" + dash + "14.05.22" + dash + "Camera A.heic");

    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.clips.size(), 2u);
    EXPECT_EQ(day.clips[0].take, 1);
    EXPECT_TRUE(day.clips[0].isVideo);
    EXPECT_EQ(day.clips[0].duration, 12.0);
    EXPECT_EQ(day.clips[0].start, at);
    EXPECT_EQ(day.clips[1].take, 0);
    EXPECT_EQ(day.clips[1].camera, "Camera A");

    const fs::path folder = dayFolder("2024-05-01");
    for (const std::string& name :
         std::vector<std::string>{"Markers.edl", "Markers.csv", "Brindlecroft 2024-05-01.fcpxml",
                                  "Brindlecroft 2024-05-01" + dash + "Premiere.xml", "XML per take/Take 01.fcpxml",
                                  "XML per take/Take 01" + dash + "Premiere.xml"})
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    EXPECT_EQ(test::xmllintProblems(folder / "Brindlecroft 2024-05-01.fcpxml", true), "");
    EXPECT_EQ(test::xmllintProblems(folder / "XML per take/Take 01.fcpxml", true), "");
    EXPECT_EQ(test::xmllintProblems(folder / ("Brindlecroft 2024-05-01" + dash + "Premiere.xml"), false), "");
    // Nothing half-written is left behind: the manifest is the only hidden file.
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.') {
            EXPECT_EQ(name, ".quorbelin-shoot.json") << entry.path();
        }
    }
}

TEST_F(ShootLibraryTest, OverlappingMoviesShareATakeAndNamesStayUnique) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    library->importFile(incoming("a.mov"), transfer("a.mov", ten, true, 60.0), "A");
    const auto b =
        library->importFile(incoming("b.mov"), transfer("b.mov", ten.addingTimeInterval(30), true, 60.0), "B");
    EXPECT_EQ(b.filename().string(), "Take 01" + dash + "10.00.30" + dash + "B.mov");
    const auto late =
        library->importFile(incoming("c.mov"), transfer("c.mov", ten.addingTimeInterval(300), true, 10.0), "A");
    EXPECT_EQ(late.filename().string(), "Take 02" + dash + "10.05.00" + dash + "A.mov");
    // The same camera twice more in the same second: two more recordings, each its own take.
    // Both were captured before Take 02, so their names say they were filed late.
    const auto again = library->importFile(incoming("d.mov"), transfer("d.mov", ten, true, 1.0), "A");
    EXPECT_EQ(again.filename().string(), "Take 03" + dash + "10.00.00" + dash + "A (filed late).mov");
    const auto third = library->importFile(incoming("e.mov"), transfer("e.mov", ten, true, 1.0), "A");
    EXPECT_EQ(third.filename().string(), "Take 04" + dash + "10.00.00" + dash + "A (filed late).mov");
    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.clips.size(), 5u);
    EXPECT_EQ(day.clips[4].file, third.filename().string());
    EXPECT_TRUE(fs::exists(dayFolder("2024-05-01") / "XML per take" / "Take 02.fcpxml"));
}

TEST_F(ShootLibraryTest, TakesFollowCaptureOrderOrSayTheyWereFiledLate) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    struct Arrival {
        const char* camera;
        double at;  // seconds after 10:00
        double duration;
        std::string name;
    };
    // The take at 10:05 was kept aside and comes after the one at 10:10.
    const Arrival arrivals[] = {
        {"A", 0, 60, "Take 01" + dash + "10.00.00" + dash + "A.mov"},
        {"A", 600, 60, "Take 02" + dash + "10.10.00" + dash + "A.mov"},
        {"A", 300, 60, "Take 03" + dash + "10.05.00" + dash + "A (filed late).mov"},
        {"B", 302, 50, "Take 03" + dash + "10.05.02" + dash + "B (filed late).mov"},
        {"B", 1, 50, "Take 01" + dash + "10.00.01" + dash + "B.mov"},
        {"A", 900, 60, "Take 04" + dash + "10.15.00" + dash + "A.mov"},
    };
    int n = 0;
    for (const auto& a : arrivals) {
        const std::string file = std::to_string(++n) + ".mov";
        const auto filed = library->importFile(
            incoming(file), transfer(file, ten.addingTimeInterval(a.at), true, a.duration), a.camera);
        EXPECT_EQ(filed.filename().string(), a.name) << n;
    }
    // No file already filed was renamed.
    for (const auto& a : arrivals) EXPECT_TRUE(fs::exists(dayFolder("2024-05-01") / a.name)) << a.name;
}

TEST_F(ShootLibraryTest, AFailedMoveLeavesTheDayAsItWas) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    library->importFile(incoming("a.mov"), transfer("a.mov", ten, true, 5.0), "A");
    library->waitUntilIdle();
    flush();
    const fs::path folder = dayFolder("2024-05-01");
    const std::string manifestBefore = readFile(manifest("2024-05-01"));
    const std::string edlBefore = readFile(folder / "Markers.edl");
    std::size_t filesBefore = 0;
    for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(folder)) ++filesBefore;

    EXPECT_THROW(library->importFile(root / "incoming" / "never-arrived.mov",
                                     transfer("x.mov", ten, true, 5.0, std::vector<ProgramCut>{{"A", ten}}), "A"),
                 fs::filesystem_error);
    library->waitUntilIdle();
    EXPECT_EQ(readFile(manifest("2024-05-01")), manifestBefore);
    EXPECT_EQ(readFile(folder / "Markers.edl"), edlBefore);
    std::size_t filesAfter = 0;
    for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(folder)) ++filesAfter;
    EXPECT_EQ(filesAfter, filesBefore);

    // A later import still works and the failed one left no trace in the day.
    library->importFile(incoming("b.mov"), transfer("b.mov", ten, true, 5.0), "B");
    EXPECT_EQ(dayOnDisk("2024-05-01").clips.size(), 2u);
}

TEST_F(ShootLibraryTest, CapturesGoToTheDayTheyWereTaken) {
    library->importFile(incoming("a.mov"), transfer("a.mov", localDate(2024, 5, 1, 23, 59, 59), true, 1.0), "A");
    library->importFile(incoming("b.mov"), transfer("b.mov", localDate(2024, 5, 2, 0, 0, 1), true, 1.0), "A");
    // Arriving long after midnight still files into the day of the capture.
    library->importFile(incoming("c.mov"), transfer("c.mov", localDate(2024, 5, 1, 23, 30, 0), true, 1.0), "A");
    EXPECT_EQ(dayOnDisk("2024-05-01").clips.size(), 2u);
    EXPECT_EQ(dayOnDisk("2024-05-02").clips.size(), 1u);
    EXPECT_EQ(dayOnDisk("2024-05-02").clips[0].take, 1);
}

TEST_F(ShootLibraryTest, TransferCutsAndLiveCutsGoToTheDay) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    library->importFile(
        incoming("a.mov"),
        transfer("a.mov", ten, true, 20.0,
                 std::vector<ProgramCut>{{"A", ten.addingTimeInterval(5)}, {"B", localDate(2024, 5, 2, 9, 0, 0)}}),
        "A");
    library->addCut("A", ten.addingTimeInterval(5.4));  // duplicate, dropped
    library->addCut("B/1", ten.addingTimeInterval(2));  // out of order
    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.cuts.size(), 3u);
    EXPECT_EQ(day.cuts[0], (ProgramCut{"B-1", ten.addingTimeInterval(2)}));
    EXPECT_EQ(day.cuts[1], (ProgramCut{"A", ten.addingTimeInterval(5)}));
    EXPECT_EQ(day.cuts[2].camera, "B") << "a transfer's cuts stay with the capture's day";

    // A dropped duplicate still rewrites the files.
    fs::remove(manifest("2024-05-01"));
    library->addCut("A", ten.addingTimeInterval(5.1));
    EXPECT_EQ(dayOnDisk("2024-05-01").cuts.size(), 3u);
}

TEST_F(ShootLibraryTest, CamerasCopiesOfCutsNeverRewriteTheCutsMade) {
    using Cuts = std::vector<std::pair<std::string, double>>;  // camera, seconds after ten
    struct Case {
        const char* what;
        Cuts made;                                        // by this remote, in order
        Cuts heard;                                       // made elsewhere, told of by a status at that moment
        std::vector<std::pair<std::string, Cuts>> files;  // each camera's copies, in the order the files arrive
        Cuts day;
    };
    const Cuts quick{{"A", 0}, {"B", 0.6}, {"C", 1.2}, {"A", 1.8}, {"B", 2.4}};
    const auto late = [](Cuts cuts, std::vector<double> by) {
        for (std::size_t i = 0; i < cuts.size(); ++i) cuts[i].second += by[i % by.size()];
        return cuts;
    };
    const Case cases[] = {
        {"a link 1.6 s late", quick, {}, {{"C", late(quick, {1.6})}}, quick},
        {"two cameras 0.2 s to 2 s late, filed the other way round",
         quick,
         {},
         {{"C", late(quick, {2.0, 0.2, 1.1})}, {"B", late(quick, {0.2, 2.0})}},
         quick},
        {"copies stamped when the cuts were made, from two cameras", quick, {}, {{"B", quick}, {"C", quick}}, quick},
        {"a paused camera's backlog, stamped all at once",
         quick,
         {},
         {{"B", late(quick, {2.8, 2.2, 1.6, 1.0, 0.4})}},
         quick},
        {"a cut from another remote comes in at the moment it was made",
         {{"A", 0}, {"B", 5}},
         {},
         {{"A", {{"A", 0}, {"C", 2.5}, {"B", 5}}}, {"C", {{"C", 2.5}, {"B", 5}}}},
         {{"A", 0}, {"C", 2.5}, {"B", 5}}},
        {"a cut from another remote heard late from a status moves to when it was made",
         {{"A", 0}, {"B", 4}},
         {{"C", 3.6}},
         {{"A", {{"A", 0}, {"C", 2.5}, {"B", 4}}}, {"B", {{"C", 2.5}, {"B", 5.6}}}},
         {{"A", 0}, {"C", 2.5}, {"B", 4}}},
    };
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    const auto dated = [&](const Cuts& cuts) {
        std::vector<ProgramCut> out;
        for (const auto& [camera, seconds] : cuts) out.push_back({camera, ten.addingTimeInterval(seconds)});
        return out;
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        library = std::make_unique<ShootLibrary>(
            ShootLibrary::Environment{&defaults, root / ("Movies " + std::to_string(++run))});
        for (const auto& cut : dated(c.made)) library->addCut(cut.camera, cut.at);
        for (const auto& cut : dated(c.heard)) library->addHeardCut(cut.camera, cut.at);
        int file = 0;
        for (const auto& [camera, copies] : c.files) {
            const std::string name = std::to_string(++file) + ".jpg";
            library->importFile(incoming(name), transfer(name, ten, false, std::nullopt, dated(copies)), camera);
        }
        library->waitUntilIdle();
        const auto day = ShootLibrary::decodeManifest(readFile(
            root / ("Movies " + std::to_string(run)) / "Brindlecroft" / "2024-05-01" / ".quorbelin-shoot.json"));
        ASSERT_TRUE(day);
        EXPECT_EQ(day->cuts, dated(c.day));
    }
}

TEST_F(ShootLibraryTest, AnEndlessListOfCutsIsCutShort) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    std::vector<ProgramCut> cuts;
    for (int i = 0; i < 50'000; ++i) cuts.push_back({i % 2 ? "A" : "B", ten.addingTimeInterval(-i * 0.7)});
    library->importFile(incoming("a.mov"), transfer("a.mov", ten, true, 5.0, cuts), "A");
    const auto day = dayOnDisk("2024-05-01");
    EXPECT_EQ(day.cuts.size(), 10'000u);
    EXPECT_TRUE(std::is_sorted(day.cuts.begin(), day.cuts.end(),
                               [](const ProgramCut& a, const ProgramCut& b) { return a.at < b.at; }));
}

TEST_F(ShootLibraryTest, DeckEditsReplaceByIdentifier) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    DeckEdit edit;
    edit.id = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    edit.name = "Take 1";
    edit.exportedAt = ten.addingTimeInterval(3600);
    edit.pieces = {{"A", ten, ten.addingTimeInterval(5)}};
    edit.sound = DeckEdit::Sound::Mix{};
    DeckEdit other = edit;
    other.id = Uuid();
    other.name = "Other";

    library->addDeckEdit(edit);
    library->addDeckEdit(other);
    EXPECT_EQ(dayOnDisk("2024-05-01").deckEdits.size(), 2u);

    fs::remove(manifest("2024-05-01"));
    library->addDeckEdit(edit);
    flush();
    EXPECT_FALSE(fs::exists(manifest("2024-05-01"))) << "the same edit again writes nothing";

    DeckEdit renamed = edit;
    renamed.name = "Take 1 (final)";
    library->addDeckEdit(renamed);
    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.deckEdits.size(), 2u);
    EXPECT_EQ(day.deckEdits[0].name, "Other");
    EXPECT_EQ(day.deckEdits[1], renamed);

    DeckEdit empty = edit;
    empty.id = Uuid();
    empty.pieces.clear();
    library->addDeckEdit(empty);
    flush();
    EXPECT_EQ(dayOnDisk("2024-05-01").deckEdits.size(), 2u);
}

TEST_F(ShootLibraryTest, MarkersAreNumberedAndTheirTimecodeIsTheOneTheMarkerListsKeep) {
    const std::string today = ShootLibrary::dayKeyString(Date::now());
    ShootLibrary::Day existing;
    ShootLibrary::Clip clip;
    clip.file = "a.mov";
    clip.camera = "A";
    clip.start = Date::now().addingTimeInterval(-30);
    clip.duration = 3600;
    clip.isVideo = true;
    clip.take = 3;
    clip.frameRate = 25;
    existing.clips = {clip};
    existing.markers = {{1, Date::now()}, {2, Date::now()}, {7, Date::now()}};
    writeFile(manifest(today), *ShootLibrary::encodeManifest(existing));

    const auto stamp = library->addMarker({"A", "B \"cam\""}, 30, true);
    EXPECT_EQ(stamp.number, 8);
    const auto day = dayOnDisk(today);
    ASSERT_EQ(day.markers.size(), 4u);
    const auto& marker = day.markers.back();
    EXPECT_EQ(marker.cameras, (std::vector<std::string>{"A", "B \"cam\""}));
    // The caller's camera runs at 29.97 fps; the day's video is at 25, and so are the lists.
    const TimelineRate dayRate{25, false};
    EXPECT_EQ(stamp.timecode, timecode::timecodeString(timecode::timeOfDayFrames(marker.date, dayRate), dayRate));
    const std::string edl = readFile(dayFolder(today) / "Markers.edl");
    EXPECT_NE(edl.find("FCM: NON-DROP FRAME\n"), std::string::npos);
    EXPECT_NE(edl.find("008  001      V     C        " + stamp.timecode), std::string::npos);
    EXPECT_NE(readFile(dayFolder(today) / "Markers.csv").find("8," + stamp.timecode + ","), std::string::npos);
    EXPECT_NE(readFile(dayFolder(today) / "Markers.csv").find(",3,\"A; B 'cam'\"\n"), std::string::npos);

    // Every later writing of the lists keeps the timecode that was shown.
    library->addCut("A", Date::now());
    flush();
    EXPECT_NE(readFile(dayFolder(today) / "Markers.edl").find("FCM: NON-DROP FRAME\n"), std::string::npos);
    EXPECT_NE(readFile(dayFolder(today) / "Markers.csv").find("8," + stamp.timecode + ","), std::string::npos);
    EXPECT_EQ(library->addMarker({}, 25, false).number, 9);
}

TEST_F(ShootLibraryTest, BeforeTheDaysVideoIsProbedAMarkerCountsAtTheCamerasRateAndTheListsKeepIt) {
    struct Case {
        const char* what;
        bool unprobedVideo;
        std::int64_t rate;
        bool ntsc;
        char separator;
    };
    const Case cases[] = {
        {"no video yet, 29.97 fps", false, 30, true, ';'},
        {"a movie filed but not probed yet, 59.94 fps", true, 60, true, ';'},
        {"no video yet, 25 fps", false, 25, false, ':'},
    };
    for (const auto& c : cases) {
        const std::string today = ShootLibrary::dayKeyString(Date::now());
        library->waitUntilIdle();
        library = std::make_unique<ShootLibrary>(ShootLibrary::Environment{&defaults, movies()});
        ShootLibrary::Day existing;
        if (c.unprobedVideo) {
            ShootLibrary::Clip clip;
            clip.file = "gone.mov";  // not there, so never probed
            clip.camera = "A";
            clip.start = Date::now().addingTimeInterval(-30);
            clip.duration = 20;
            clip.isVideo = true;
            clip.take = 1;
            existing.clips = {clip};
        }
        writeFile(manifest(today), *ShootLibrary::encodeManifest(existing));

        const auto stamp = library->addMarker({"A"}, c.rate, c.ntsc);
        ASSERT_EQ(stamp.timecode.size(), 11u) << c.what;
        EXPECT_EQ(stamp.timecode[8], c.separator) << c.what << ": " << stamp.timecode;
        // A cut written after it rewrites the lists with the same timecode.
        library->addCut("A", Date::now());
        flush();
        const std::string line = std::to_string(stamp.number) + "," + stamp.timecode + ",";
        EXPECT_NE(readFile(dayFolder(today) / "Markers.csv").find(line), std::string::npos) << c.what;
        EXPECT_NE(readFile(dayFolder(today) / "Markers.edl").find(stamp.timecode), std::string::npos) << c.what;
    }
}

TEST_F(ShootLibraryTest, AMarkerRateIsNormalisedOnTheWay) {
    const auto stamp = library->addMarker({}, 25, true);
    EXPECT_EQ(stamp.number, 1);
    EXPECT_EQ(stamp.timecode.find(';'), std::string::npos);
    EXPECT_EQ(stamp.timecode.size(), 11u);
}

TEST_F(ShootLibraryTest, TheLoadedDayIsReadOnceUntilTheShootFolderChanges) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    library->importFile(incoming("a.mov"), transfer("a.mov", ten, true, 5.0), "A");
    library->waitUntilIdle();
    // The file on disk changes behind the library's back: the day in memory is kept.
    writeFile(manifest("2024-05-01"), "{}");
    library->addCut("A", ten);
    EXPECT_EQ(dayOnDisk("2024-05-01").clips.size(), 1u);

    // A newly chosen shoot folder takes effect at the next entry of the same day.
    const fs::path chosen = root / "Chosen";
    ShootLibrary::Day there;
    ShootLibrary::Clip photo;
    photo.file = "p.heic";
    photo.camera = "P";
    photo.start = ten;
    there.clips = {photo, photo};
    writeFile(chosen / "2024-05-01" / ".quorbelin-shoot.json", *ShootLibrary::encodeManifest(there));
    defaults.set("shootFolderBookmark", chosen.string());
    library->addCut("B", ten);
    flush();
    const auto moved = ShootLibrary::decodeManifest(readFile(chosen / "2024-05-01" / ".quorbelin-shoot.json"));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->clips.size(), 2u);
    EXPECT_EQ(moved->cuts.size(), 1u);
    EXPECT_EQ(dayOnDisk("2024-05-01").cuts.size(), 1u) << "the old folder keeps its own day";
    // Photos only: manifest and marker lists, no timeline documents.
    EXPECT_TRUE(fs::exists(chosen / "2024-05-01" / "Markers.edl"));
    EXPECT_FALSE(fs::exists(chosen / "2024-05-01" / "XML per take"));
    EXPECT_FALSE(fs::exists(chosen / "2024-05-01" / "Brindlecroft 2024-05-01.fcpxml"));
}

TEST_F(ShootLibraryTest, AnUnreadableManifestIsKeptAside) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    writeFile(manifest("2024-05-01"), "{\"clips\": [ this is not json");
    library->addCut("A", ten);
    const auto day = dayOnDisk("2024-05-01");
    EXPECT_EQ(day.cuts.size(), 1u);
    EXPECT_EQ(readFile(dayFolder("2024-05-01") / ".quorbelin-shoot.json.unreadable"), "{\"clips\": [ this is not json");

    // A second bad manifest does not overwrite the first one kept.
    writeFile(dayFolder("2024-05-02") / ".quorbelin-shoot.json.unreadable", "older");
    writeFile(manifest("2024-05-02"), "{\"clips\": [{\"file\": 1}]}");
    library->addCut("A", localDate(2024, 5, 2, 10, 0, 0));
    flush();
    EXPECT_EQ(readFile(dayFolder("2024-05-02") / ".quorbelin-shoot.json.unreadable"), "older");
    EXPECT_EQ(readFile(dayFolder("2024-05-02") / ".quorbelin-shoot.json.unreadable 2"), "{\"clips\": [{\"file\": 1}]}");
}

TEST_F(ShootLibraryTest, NamesFromOtherDevicesStayInsideTheDayFolder) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    const fs::path filed = library->importFile(incoming("x"), transfer("../../../../evil.sh/..", ten, true, 5.0),
                                               "../../etc\n\x01/passwd..");
    EXPECT_EQ(filed.parent_path(), dayFolder("2024-05-01"));
    EXPECT_EQ(filed.filename().string(), "Take 01" + dash + "10.00.00" + dash + "-..-etc  -passwd.mov");

    std::string longName;
    for (int i = 0; i < 90; ++i) longName += "\xF0\x9F\x8E\xA5";
    const fs::path first = library->importFile(incoming("y"), transfer("y.mov", ten, true, 5.0), longName);
    const fs::path second = library->importFile(incoming("z"), transfer("z.mov", ten, true, 5.0), longName);
    EXPECT_LE(first.filename().string().size(), 255u);
    EXPECT_LE(second.filename().string().size(), 255u);
    EXPECT_TRUE(fs::exists(first));
    EXPECT_TRUE(fs::exists(second));
    EXPECT_NE(first, second);
    const auto day = dayOnDisk("2024-05-01");
    EXPECT_EQ(day.clips[1].camera.size(), 80u * 4) << "the record keeps the whole cleaned name";
    EXPECT_EQ(test::xmllintProblems(dayFolder("2024-05-01") / "Brindlecroft 2024-05-01.fcpxml", true), "");
}

TEST_F(ShootLibraryTest, ManifestFileNamesAreUsedOnlyAsSingleComponents) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    fs::create_directories(shoot());
    test::makeTestMovie(shoot() / "outside.mov", "25", "");
    ShootLibrary::Day day;
    ShootLibrary::Clip clip;
    clip.file = "../outside.mov";
    clip.camera = "A";
    clip.start = ten;
    clip.duration = 1;
    clip.isVideo = true;
    clip.take = 1;
    day.clips = {clip};
    writeFile(manifest("2024-05-01"), *ShootLibrary::encodeManifest(day));
    library->addCut("A", ten);
    const auto loaded = dayOnDisk("2024-05-01");
    ASSERT_EQ(loaded.clips.size(), 1u);
    EXPECT_FALSE(loaded.clips[0].frameRate) << "a name that leaves the folder is never probed";
    EXPECT_FALSE(fs::exists(dayFolder("2024-05-01") / "Brindlecroft 2024-05-01.fcpxml"));
}

TEST_F(ShootLibraryTest, ProbesFillInTheMovieAndLineItUpWithItsTimecode) {
    const Date reported = localDate(2024, 5, 1, 12, 0, 0, 0.3);
    const fs::path source = root / "incoming" / "ntsc.mov";
    fs::create_directories(source.parent_path());
    test::makeTestMovie(source, "30000/1001", "12:00:00;01", true);
    const fs::path filed = library->importFile(source, transfer("ntsc.mov", reported, true, 5.0), "A");

    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.clips.size(), 1u);
    const auto& clip = day.clips[0];
    EXPECT_EQ(clip.width, 160);
    EXPECT_EQ(clip.height, 120);
    EXPECT_EQ(clip.frameRate, 30);
    EXPECT_EQ(clip.ntsc, true);
    EXPECT_EQ(clip.timecodeFrame, 1'294'705);
    EXPECT_NEAR(clip.duration, 1.0, 0.1);
    const double expected = localDate(2024, 5, 1, 0, 0, 0).secondsSinceReferenceDate + 1'294'705 / (30000.0 / 1001);
    EXPECT_NEAR(clip.start.secondsSinceReferenceDate, expected, 1e-6);
    EXPECT_NEAR(timecode::secondsSinceLocalMidnight(clip.start), 43'199.990, 0.001);

    const std::string doc = readFile(dayFolder("2024-05-01") / "Brindlecroft 2024-05-01.fcpxml");
    EXPECT_NE(doc.find("start=\"" + std::to_string(1'294'705ll * 1001) + "/30000s\""), std::string::npos);
    EXPECT_NE(doc.find("tcFormat=\"DF\""), std::string::npos);
    // The multicam and its angle start the movie on that frame too, and the xmeml reads its timecode.
    const std::string start = std::to_string(1'294'705ll * 1001) + "/30000s";
    EXPECT_NE(doc.find("tcStart=\"" + start + "\""), std::string::npos);
    EXPECT_NE(doc.find("offset=\"" + start + "\" start=\"" + start + "\""), std::string::npos);
    EXPECT_EQ(doc.find(std::to_string(1'294'704ll * 1001) + "/30000s"), std::string::npos);
    const std::string xmeml = readFile(dayFolder("2024-05-01") / "Brindlecroft 2024-05-01 \u2013 Premiere.xml");
    EXPECT_NE(xmeml.find("<string>12:00:00;01</string><frame>1294705</frame>"), std::string::npos);
    EXPECT_EQ(xmeml.find("<string>12:00:00;00</string>"), std::string::npos);
    EXPECT_EQ(test::xmllintProblems(dayFolder("2024-05-01") / "Brindlecroft 2024-05-01.fcpxml", true), "");
    (void)filed;
}

TEST_F(ShootLibraryTest, LoadingADayProbesItsUnprobedMovies) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    fs::create_directories(dayFolder("2024-05-01"));
    test::makeTestMovie(dayFolder("2024-05-01") / "there.mov", "25", "");
    ShootLibrary::Day day;
    ShootLibrary::Clip there;
    there.file = "there.mov";
    there.camera = "A";
    there.start = ten;
    there.duration = 7;
    there.isVideo = true;
    there.take = 1;
    ShootLibrary::Clip gone = there;
    gone.file = "gone.mov";
    day.clips = {there, gone};
    writeFile(manifest("2024-05-01"), *ShootLibrary::encodeManifest(day));

    library->addCut("A", ten);
    const auto loaded = dayOnDisk("2024-05-01");
    ASSERT_EQ(loaded.clips.size(), 2u);
    EXPECT_EQ(loaded.clips[0].frameRate, 25);
    EXPECT_EQ(loaded.clips[0].ntsc, false);
    EXPECT_EQ(loaded.clips[0].width, 160);
    EXPECT_FALSE(loaded.clips[0].timecodeFrame);
    EXPECT_EQ(loaded.clips[0].start, ten) << "no timecode: the reported start stays";
    EXPECT_EQ(loaded.clips[1], gone);
}

// The threads of this process with the name, as the kernel lists them.
int threadsNamed(const std::string& name) {
    int count = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/self/task", ec)) {
        std::string comm = readFile(task.path() / "comm");
        while (!comm.empty() && comm.back() == '\n') comm.pop_back();
        if (comm == name) ++count;
    }
    return count;
}

TEST_F(ShootLibraryTest, ProbesEndWithTheLibraryAndUnprobedMoviesAreProbedNextTime) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    const fs::path movie = root / "movie.mov";
    test::makeTestMovie(movie, "25", "10:00:00:00");
    for (int i = 0; i < 12; ++i) {
        const fs::path file = root / "incoming" / ("m" + std::to_string(i) + ".mov");
        fs::create_directories(file.parent_path());
        fs::copy_file(movie, file);
        library->importFile(file, transfer("m.mov", ten.addingTimeInterval(i * 10), true, 1.0), "A");
    }
    EXPECT_GT(threadsNamed("shoot-probe"), 0);
    // Gone at once: the probes not started are cancelled, the ones under way finish, and no worker stays behind.
    library.reset();
    EXPECT_EQ(threadsNamed("shoot-probe"), 0);

    library = std::make_unique<ShootLibrary>(ShootLibrary::Environment{&defaults, movies()});
    library->addCut("A", ten);
    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.clips.size(), 12u);
    for (const auto& clip : day.clips) {
        EXPECT_EQ(clip.frameRate, 25) << clip.file;
        EXPECT_EQ(clip.timecodeFrame, 900'000) << clip.file;
    }
    library.reset();
    EXPECT_EQ(threadsNamed("shoot-probe"), 0);
}

TEST_F(ShootLibraryTest, ACaptureThatCannotBeRecordedIsNotFiledAndGoesBack) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    library->importFile(incoming("first.mov"), transfer("first.mov", ten, true, 5.0), "A");
    flush();
    const std::string before = readFile(manifest("2024-05-01"));

    const fs::path second = incoming("second.mov", "second capture");
    {
        test::ScopedFileSizeLimit limit(before.size());  // the manifest that lists the capture is larger
        EXPECT_THROW(library->importFile(second, transfer("second.mov", ten.addingTimeInterval(60), true, 5.0), "A"),
                     fs::filesystem_error);
    }
    EXPECT_EQ(readFile(second), "second capture");
    EXPECT_EQ(readFile(manifest("2024-05-01")), before);
    EXPECT_EQ(dayOnDisk("2024-05-01").clips.size(), 1u);
    for (const auto& name : test::namesIn(dayFolder("2024-05-01"))) EXPECT_EQ(name.find("10.01.00"), std::string::npos);

    // Sent again once the disk takes it: filed under the name it would have had.
    const fs::path filed =
        library->importFile(second, transfer("second.mov", ten.addingTimeInterval(60), true, 5.0), "A");
    EXPECT_EQ(filed.filename(), "Take 02" + dash + "10.01.00" + dash + "A.mov");
    EXPECT_EQ(dayOnDisk("2024-05-01").clips.size(), 2u);
}

TEST_F(ShootLibraryTest, ACaptureMovedInButNotRecordedBeforeTheEndIsFiledOnceWhenSentAgain) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    library->importFile(incoming("one.mov", "take one"), transfer("one.mov", ten, true, 5.0), "A");
    flush();
    library.reset();
    // A run that died between the move and the manifest left the capture under its name, unlisted.
    const std::string name = "Take 02" + dash + "10.01.00" + dash + "A.mov";
    writeFile(dayFolder("2024-05-01") / name, "take two");
    // Another capture of the same second and camera that is not this one keeps its own name.
    const std::string photoName = "Photo" + dash + "10.02.00" + dash + "A.jpg";
    writeFile(dayFolder("2024-05-01") / photoName, "another photo");

    library = std::make_unique<ShootLibrary>(ShootLibrary::Environment{&defaults, movies()});
    const fs::path resent = incoming("two.mov", "take two");
    const fs::path filed = library->importFile(resent, transfer("two.mov", ten.addingTimeInterval(60), true, 5.0), "A");
    EXPECT_EQ(filed.filename(), name);
    EXPECT_FALSE(fs::exists(resent));
    const fs::path photo =
        library->importFile(incoming("p.jpg", "a photo"), transfer("p.jpg", ten.addingTimeInterval(120), false), "A");
    EXPECT_EQ(photo.filename(), "Photo" + dash + "10.02.00" + dash + "A 2.jpg");

    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.clips.size(), 3u);
    EXPECT_EQ(day.clips[1].file, name);
    EXPECT_EQ(day.clips[1].take, 2);
    const auto names = test::namesIn(dayFolder("2024-05-01"));
    EXPECT_FALSE(names.count("Take 02" + dash + "10.01.00" + dash + "A 2.mov"));
    EXPECT_EQ(readFile(dayFolder("2024-05-01") / name), "take two");
    EXPECT_EQ(readFile(dayFolder("2024-05-01") / photoName), "another photo");
}

// A camera sends a capture again when the answer to the first sending was lost (the remote was killed, or the link
// dropped, after the manifest listed it): it is answered from the manifest and never filed a second time. The filed
// movie is the user's, for an editor under any account to open, though it arrived owner-only.
TEST_F(ShootLibraryTest, ACaptureSentAgainIsAnsweredFromTheManifest) {
    const Date at = localDate(2024, 5, 1, 9, 30, 0);
    const auto info = transfer("clip.mov", at, true, 5.0);
    const fs::path source = incoming("first.mov", "take");
    fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write);
    const mode_t previous = ::umask(022);
    const fs::path filed = library->importFile(source, info, "A");
    ::umask(previous);
    EXPECT_EQ(fs::status(filed).permissions() & fs::perms::all, static_cast<fs::perms>(0644));
    for (const char* run : {"the same run", "a run that loaded the day again"}) {
        const fs::path again = incoming("again.mov", "take");
        EXPECT_EQ(library->importFile(again, info, "A"), filed) << run;
        EXPECT_FALSE(fs::exists(again)) << run;
        library->waitUntilIdle();
        library = std::make_unique<ShootLibrary>(ShootLibrary::Environment{&defaults, movies()});
    }
    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.clips.size(), 1u);
    EXPECT_EQ(day.clips[0].id, info.id);
    // Another capture of the same moment from the same camera is still filed, under a name of its own.
    const fs::path other = library->importFile(incoming("other.mov"), transfer("clip.mov", at, true, 5.0), "A");
    EXPECT_NE(other, filed);
    EXPECT_EQ(dayOnDisk("2024-05-01").clips.size(), 2u);
}

// The manifest answers for a capture only while its movie is there: when the user removed or moved it, or the disk
// lost part of it, the copy sent again is the last one, and is filed again under the take it had.
TEST_F(ShootLibraryTest, ACaptureSentAgainIsFiledAgainWhenItsMovieIsGone) {
    const Date at = localDate(2024, 5, 1, 9, 30, 0);
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> change;
        const char* filedName;
    };
    const std::string name = "Take 01" + dash + "09.30.00" + dash + "A";
    const std::vector<Case> cases{
        {"removed", [](const fs::path& movie) { fs::remove(movie); }, ".mov"},
        {"moved away", [&](const fs::path& movie) { fs::rename(movie, root / "elsewhere.mov"); }, ".mov"},
        {"cut short by the disk", [](const fs::path& movie) { fs::resize_file(movie, 3); }, " 2.mov"},
    };
    for (const auto& c : cases) {
        library.reset();
        fs::remove_all(shoot());
        library = std::make_unique<ShootLibrary>(ShootLibrary::Environment{&defaults, movies()});
        const auto info = transfer("clip.mov", at, true, 5.0);
        const fs::path filed = library->importFile(incoming("first.mov", "the whole take"), info, "A");
        c.change(filed);
        const fs::path again = incoming("again.mov", "the whole take");
        const fs::path refiled = library->importFile(again, info, "A");
        EXPECT_EQ(refiled.filename(), name + c.filedName) << c.what;
        EXPECT_EQ(readFile(refiled), "the whole take") << c.what;
        EXPECT_FALSE(fs::exists(again)) << c.what;
        const auto day = dayOnDisk("2024-05-01");
        ASSERT_EQ(day.clips.size(), 1u) << c.what;
        EXPECT_EQ(day.clips[0].file, refiled.filename()) << c.what;
        EXPECT_EQ(day.clips[0].id, info.id) << c.what;
        EXPECT_EQ(day.clips[0].take, 1) << c.what;
    }
}

TEST_F(ShootLibraryTest, LeftoversOfAnInterruptedRunAreRemovedWhenTheDayIsLoaded) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    library->importFile(incoming("one.mov"), transfer("one.mov", ten, true, 5.0), "A");
    flush();
    library.reset();
    const fs::path folder = dayFolder("2024-05-01");
    const auto leftover = test::leaveInterruptedWrite(manifest("2024-05-01"));
    ASSERT_TRUE(leftover);
    const auto exportLeftover = test::leaveInterruptedWrite(folder / "Markers.csv");
    ASSERT_TRUE(exportLeftover);
    writeFile(folder / ".placing-80513377.tmp", "half a copy");
    writeFile(folder / "XML per take" / ".Take 01.fcpxml.a1b2c3d4.tmp", "half a document");
    writeFile(folder / ".notes.txt", "someone's");
    // The interrupted writes left the manifest as a run that finished would have.
    ShootLibrary::Day day;
    ShootLibrary::Clip filed;
    filed.file = "Take 01" + dash + "10.00.00" + dash + "A.mov";
    filed.camera = "A";
    filed.start = ten;
    filed.duration = 5.0;
    filed.isVideo = true;
    filed.take = 1;
    day.clips = {filed};
    writeFile(manifest("2024-05-01"), *ShootLibrary::encodeManifest(day));

    library = std::make_unique<ShootLibrary>(ShootLibrary::Environment{&defaults, movies()});
    library->addCut("A", ten);
    flush();
    for (const auto& name : test::namesIn(folder)) {
        EXPECT_FALSE(name.ends_with(".tmp")) << name;
    }
    EXPECT_TRUE(test::namesIn(folder / "XML per take").count("Take 01.fcpxml"));
    EXPECT_EQ(test::namesIn(folder / "XML per take").size(), 2u);
    EXPECT_EQ(readFile(folder / ".notes.txt"), "someone's");
    EXPECT_EQ(dayOnDisk("2024-05-01").clips.size(), 1u);
}

TEST_F(ShootLibraryTest, CallersOnManyThreadsAreServedOneAtATime) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i) + ".mov";
                library->importFile(incoming(name), transfer(name, ten, true, 5.0), "Cam " + std::to_string(t % 2));
                library->addCut("Cam " + std::to_string(t % 2), ten.addingTimeInterval(t * 10 + i));
                if (i % 4 == 0) library->addMarker({"Cam 0"}, 25, false);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const auto day = dayOnDisk("2024-05-01");
    EXPECT_EQ(day.clips.size(), 32u);
    std::set<std::string> files;
    std::set<std::pair<std::string, std::int64_t>> cameraTakes;
    for (const auto& clip : day.clips) {
        files.insert(clip.file);
        // One camera's recordings never share a take, whichever thread filed them.
        EXPECT_TRUE(cameraTakes.insert({clip.camera, clip.take}).second) << clip.file;
        EXPECT_TRUE(fs::exists(dayFolder("2024-05-01") / clip.file)) << clip.file;
    }
    EXPECT_EQ(files.size(), 32u);
    EXPECT_EQ(day.cuts.size(), 32u);
}

TEST_F(ShootLibraryTest, DurationsThatAreNotNumbersDoNotSpoilTheManifest) {
    const Date ten = localDate(2024, 5, 1, 10, 0, 0);
    library->importFile(incoming("a.mov"), transfer("a.mov", ten, true, std::nan("")), "A");
    library->importFile(incoming("b.mov"), transfer("b.mov", ten, true, HUGE_VAL), "B");
    const auto day = dayOnDisk("2024-05-01");
    ASSERT_EQ(day.clips.size(), 2u);
    EXPECT_EQ(day.clips[0].duration, 0);
    EXPECT_EQ(day.clips[1].duration, 0);
}

TEST(ReplaceFileContentsTest, UnchangedContentsAreNotWrittenAgain) {
    test::TempDir dir;
    const fs::path file = dir / "Markers.edl";
    ASSERT_TRUE(replaceFileContents(file, "first"));
    EXPECT_EQ(readFile(file), "first");
    ASSERT_TRUE(replaceFileContents(file, "second", true));
    EXPECT_EQ(readFile(file), "second");

    struct stat before {};
    ::stat(file.c_str(), &before);
    ASSERT_TRUE(replaceFileContents(file, "second"));
    struct stat after {};
    ::stat(file.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    // The same length but other bytes is a change.
    ASSERT_TRUE(replaceFileContents(file, "sec0nd"));
    EXPECT_EQ(readFile(file), "sec0nd");

    // A folder in the way: the write fails and nothing is left behind.
    fs::create_directories(dir / "taken" / "inside");
    EXPECT_FALSE(replaceFileContents(dir / "taken", "x"));
    EXPECT_TRUE(fs::is_directory(dir / "taken" / "inside"));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"Markers.edl", "taken"}));
}

TEST(ApplyProbeTest, RatesWithoutTimecode) {
    struct Case {
        float rate;
        std::int64_t nominal;
        bool ntsc;
    };
    const Case cases[] = {{29.97f, 30, true}, {23.976f, 24, true}, {59.94f, 60, true}, {25.0f, 25, false},
                          {0.0f, 1, false},   {30.0f, 30, false},  {1.5f, 2, true},    {50.0f, 50, false}};
    for (const auto& c : cases) {
        ShootLibrary::Day day;
        day.clips.resize(1);
        day.clips[0].file = "a.mov";
        day.clips[0].duration = 4;
        ProbeResult result;
        result.fileName = "a.mov";
        result.width = 1920.9;
        result.height = 1080;
        result.nominalFrameRate = c.rate;
        ASSERT_TRUE(ShootLibrary::applyProbe(day, result));
        EXPECT_EQ(day.clips[0].frameRate, c.nominal) << c.rate;
        EXPECT_EQ(day.clips[0].ntsc, c.ntsc) << c.rate;
        EXPECT_EQ(day.clips[0].width, 1920);
        EXPECT_EQ(day.clips[0].duration, 4) << "no duration read: the reported one stays";
    }
}

TEST(ApplyProbeTest, DurationsUnknownFilesAndMidnight) {
    test::useTestTimeZone();
    ShootLibrary::Day day;
    day.clips.resize(1);
    day.clips[0].file = "a.mov";
    day.clips[0].duration = 4;
    day.clips[0].start = localDate(2024, 5, 1, 0, 0, 0, 0.2);
    const ShootLibrary::Day before = day;

    ProbeResult result;
    result.fileName = "b.mov";
    EXPECT_FALSE(ShootLibrary::applyProbe(day, result));
    EXPECT_EQ(day, before);

    result.fileName = "a.mov";
    result.duration = 0.0;
    ASSERT_TRUE(ShootLibrary::applyProbe(day, result));
    EXPECT_EQ(day.clips[0].duration, 4);
    result.duration = std::nan("");
    ASSERT_TRUE(ShootLibrary::applyProbe(day, result));
    EXPECT_EQ(day.clips[0].duration, 4);
    EXPECT_FALSE(day.clips[0].hasAudio);  // not probed for sound: taken to have it
    result.hasAudio = false;
    ASSERT_TRUE(ShootLibrary::applyProbe(day, result));
    EXPECT_EQ(day.clips[0].hasAudio, false);

    // Reported just after midnight, recorded with a timecode just before it: the clip stays on its day.
    result.timecode = TimecodeStart{2'591'997, 30, false};  // 23:59:59.9
    ASSERT_TRUE(ShootLibrary::applyProbe(day, result));
    EXPECT_EQ(day.clips[0].start, before.clips[0].start);
    EXPECT_EQ(day.clips[0].timecodeFrame, 2'591'997);
    // Reported just before midnight with the next day's first frame.
    day.clips[0].start = localDate(2024, 5, 1, 23, 59, 59, 0.95);
    result.timecode = TimecodeStart{0, 30, false};
    ASSERT_TRUE(ShootLibrary::applyProbe(day, result));
    EXPECT_EQ(day.clips[0].start, localDate(2024, 5, 1, 23, 59, 59, 0.95));
    // An ordinary timecode moves the start to the frame it names.
    result.timecode = TimecodeStart{2'591'970, 30, false};  // 23:59:59.0
    ASSERT_TRUE(ShootLibrary::applyProbe(day, result));
    EXPECT_EQ(day.clips[0].start, localDate(2024, 5, 1, 23, 59, 59));
}

}  // namespace
}  // namespace morvane
