#include "deck/retouch_library.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "file_size_limit.h"
#include "interrupted_write.h"
#include "temp_dir.h"
#include "test_files.h"

using namespace morvane;
using morvane::test::TempDir;
namespace fs = std::filesystem;

namespace {

const Date base{760000000.0};

void touch(const fs::path& file, const std::string& text = "movie") {
    test::writeFile(file, text);
}

class LibraryTest : public ::testing::Test {
protected:
    TempDir temp;
    fs::path dir() const { return temp.path() / "Retouch"; }
    fs::path programs() const { return temp.path() / "Program"; }

    std::unique_ptr<RetouchLibrary> open() { return std::make_unique<RetouchLibrary>(dir(), programs()); }

    // A clip whose copy exists in the library folder.
    RetouchClip clip(const std::string& camera, double offset, double duration, bool withFile = true) {
        RetouchClip c;
        c.camera = camera;
        c.file = c.id.uuidString() + ".mov";
        c.start = base.addingTimeInterval(offset);
        c.duration = duration;
        if (withFile) {
            fs::create_directories(dir());
            touch(dir() / c.file);
        }
        return c;
    }

    RetouchTake take(std::int64_t number, std::vector<RetouchClip> clips) {
        RetouchTake t;
        t.number = number;
        t.clips = std::move(clips);
        return t;
    }

    // Files one copy through the public entry, as a camera transfer would arrive.
    TransferInfo sendCopy(RetouchLibrary& library, const std::string& camera, double offset,
                          std::optional<double> duration, std::optional<Uuid> id = std::nullopt,
                          std::vector<ProgramCut> cuts = {}) {
        TransferInfo info;
        if (id) info.id = *id;
        info.fileName = "copy.mov";
        info.capturedAt = base.addingTimeInterval(offset);
        info.isVideo = true;
        info.duration = duration;
        if (!cuts.empty()) info.cuts = cuts;
        const fs::path incoming = temp.path() / ("incoming-" + info.id.uuidString());
        touch(incoming, "copy from " + camera);
        library.importClip(incoming, info, camera);
        QCoreApplication::processEvents();
        return info;
    }
};

}  // namespace

TEST_F(LibraryTest, FirstStartMakesTheFolderAndWritesNothing) {
    auto library = open();
    EXPECT_TRUE(fs::is_directory(dir()));
    EXPECT_TRUE(library->takes().empty());
    EXPECT_FALSE(fs::exists(dir() / "takes.json"));
}

TEST_F(LibraryTest, RoundTripsAndTidiesAtLoading) {
    auto a = clip("A", 0, 10), b = clip("B", 0.5, 10), c = clip("C", 1, 10);
    auto keep = take(1, {a, b, c});
    keep.cuts = {{"A", base}, {"B", base.addingTimeInterval(3)}};
    keep.name = "First";
    auto gone = take(2, {clip("A", 100, 5, false)});      // never exported, files gone
    auto exported = take(3, {clip("A", 200, 5, false)});  // exported earlier, files gone
    exported.exportedAt = base.addingTimeInterval(300);
    exported.exportedClips = exported.clips;
    exported.exportedFile = "Take 03 – Program – 2025-01-01 10.00.mov";
    {
        auto library = open();
        library->setTakes({keep, gone, exported});
        library->save();
    }
    fs::remove(dir() / b.file);
    fs::remove(dir() / c.file);
    auto library = open();
    ASSERT_EQ(library->takes().size(), 2u);
    EXPECT_EQ(library->takes()[0].clips, std::vector<RetouchClip>{a});
    EXPECT_EQ(library->takes()[0].cuts, keep.cuts);
    EXPECT_EQ(library->takes()[0].name, "First");
    EXPECT_EQ(library->takes()[1].number, 3);
    EXPECT_TRUE(library->takes()[1].clips.empty());
    EXPECT_EQ(library->takes()[1].exportedClips, exported.exportedClips);
}

TEST_F(LibraryTest, OptionalKeysStayAbsent) {
    auto a = clip("A", 0, 4);
    fs::create_directories(dir());
    const std::string text = R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","number":4,"cuts":[],"clips":[{"id":")" +
                             a.id.uuidString() + R"(","camera":"A","file":")" + a.file +
                             R"(","start":760000000,"duration":4,"future":true}],"name":""}])";
    touch(dir() / "takes.json", text);
    auto library = open();
    ASSERT_EQ(library->takes().size(), 1u);
    const auto& t = library->takes()[0];
    EXPECT_FALSE(t.edit || t.exportedAt || t.exportedFile || t.exportedClips);
    EXPECT_EQ(t.defaultName(), "Take 4");  // an empty name counts as none
    library->save();
    const auto written = Json::parse(test::readFile(dir() / "takes.json"));
    for (const char* key : {"edit", "exportedAt", "exportedFile", "exportedClips"}) {
        EXPECT_FALSE(written[0].contains(key)) << key;
    }
    EXPECT_EQ(written[0]["id"], "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
}

TEST_F(LibraryTest, UnreadableFileIsSetAsideBeforeANewOneIsWritten) {
    fs::create_directories(dir());
    auto a = clip("A", 0, 4);
    // One take lacks "cuts": the whole file is ignored.
    const std::string broken = R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","number":1,"clips":[]}])";
    for (const std::string& text : {broken, std::string("[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["),
                                    std::string("\xff\xfe{not json"), std::string(R"({"takes":[]})")}) {
        touch(dir() / "takes.json", text);
        fs::remove(dir() / "takes.json.unreadable");
        auto library = open();
        EXPECT_TRUE(library->takes().empty());
        EXPECT_EQ(test::readFile(dir() / "takes.json"), text);  // nothing written at loading
        library->setTakes({take(1, {a})});
        library->save();
        EXPECT_EQ(test::readFile(dir() / "takes.json.unreadable"), text);
        EXPECT_EQ(open()->takes().size(), 1u);
    }
}

TEST_F(LibraryTest, HostileFileNamesNeverReachOutsideTheFolder) {
    fs::create_directories(dir());
    const fs::path victim = temp.path() / "victim.mov";
    touch(victim);
    const std::string text =
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","number":1,"cuts":[],"clips":[)"
        R"({"id":"11111111-C36C-495A-93FC-0C247A3E6E5F","camera":"A","file":"../victim.mov","start":0,"duration":4},)"
        R"({"id":"22222222-C36C-495A-93FC-0C247A3E6E5F","camera":"A","file":")" +
        victim.string() + R"(","start":0,"duration":4}],"exportedAt":5,"exportedFile":"../victim.mov"}])";
    touch(dir() / "takes.json", text);
    auto library = open();
    ASSERT_EQ(library->takes().size(), 1u);
    EXPECT_TRUE(library->takes()[0].clips.empty());  // such names count as missing files
    EXPECT_FALSE(library->programURL(library->takes()[0]));

    // Even a take value handed in with such names removes nothing outside.
    RetouchTake crafted = library->takes()[0];
    for (const std::string& name : std::vector<std::string>{"../victim.mov", victim.string(), "..", ""}) {
        RetouchClip c;
        c.file = name;
        crafted.clips.push_back(c);
    }
    library->setTakes({crafted});
    library->recordExport(crafted.id, programs() / "x.mov");
    EXPECT_TRUE(fs::exists(victim));
    library->setTakes({crafted});
    library->deleteTake(crafted);
    EXPECT_TRUE(fs::exists(victim));
    EXPECT_TRUE(library->takes().empty());
}

TEST_F(LibraryTest, Rename) {
    auto library = open();
    auto t = take(7, {clip("A", 0, 3)});
    library->setTakes({t});
    library->rename(t.id, "   ");
    EXPECT_FALSE(library->take(t.id)->name);
    EXPECT_EQ(library->take(t.id)->defaultName(), "Take 7");
    library->rename(t.id, " \n Scene 4\t ");
    EXPECT_EQ(library->take(t.id)->name, "Scene 4");
    library->rename(t.id, std::string(70, 'x'));
    EXPECT_EQ(library->take(t.id)->name, std::string(60, 'x'));
    // A character of several code points counts once: 59 letters and a flag stay whole.
    const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
    library->rename(t.id, std::string(59, 'y') + flag + "zzz");
    EXPECT_EQ(library->take(t.id)->name, std::string(59, 'y') + flag);
    EXPECT_EQ(open()->take(t.id)->name, std::string(59, 'y') + flag);  // saved
    library->rename(Uuid(), "nobody");                                 // unknown id: nothing
    EXPECT_EQ(library->takes().size(), 1u);
}

TEST_F(LibraryTest, SaveEditOnlyWhenItDiffers) {
    auto library = open();
    auto t = take(1, {clip("A", 0, 3)});
    library->setTakes({t});
    library->save();
    QSignalSpy spy(library.get(), &RetouchLibrary::takesChanged);
    library->saveEdit(std::nullopt, t.id);
    EXPECT_EQ(spy.count(), 0);
    auto edit = RetouchEdit::editFromLiveCut(t);
    library->saveEdit(edit, t.id);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(open()->take(t.id)->edit, edit);
    fs::remove(dir() / "takes.json");
    library->saveEdit(edit, t.id);  // equal: no publish and no write
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(fs::exists(dir() / "takes.json"));
    library->saveEdit(std::nullopt, t.id);  // clearing is a change
    EXPECT_EQ(spy.count(), 2);
    EXPECT_FALSE(open()->take(t.id)->edit);
}

TEST_F(LibraryTest, RecordExportAndProgramURL) {
    auto library = open();
    auto a = clip("B", 0, 3), b = clip("A", 1, 3);
    auto t = take(1, {a, b});
    library->setTakes({t});
    fs::create_directories(programs());
    touch(programs() / "Take 01 – Program – x.mov");
    library->recordExport(t.id, programs() / "Take 01 – Program – x.mov");
    EXPECT_FALSE(fs::exists(dir() / a.file));
    EXPECT_FALSE(fs::exists(dir() / b.file));
    auto after = *library->take(t.id);
    EXPECT_EQ(after.exportedClips, (std::vector<RetouchClip>{a, b}));
    EXPECT_TRUE(after.clips.empty());
    EXPECT_EQ(after.start(), distantPast);
    EXPECT_EQ(after.end(), distantPast);
    EXPECT_TRUE(after.cameras().empty());
    EXPECT_NEAR(after.exportedAt->timeIntervalSinceNow(), 0, 5);
    EXPECT_EQ(after.exportedFile, "Take 01 – Program – x.mov");
    EXPECT_EQ(library->programURL(after), programs() / "Take 01 – Program – x.mov");
    fs::remove(programs() / "Take 01 – Program – x.mov");
    EXPECT_FALSE(library->programURL(after));
    EXPECT_EQ(open()->take(t.id), after);  // saved
}

TEST_F(LibraryTest, TakeValues) {
    auto t = take(3, {clip("B", 2, 3, false), clip("A", 1, 1, false), clip("B", 0.5, 10, false)});
    EXPECT_EQ(t.cameras(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(t.start(), base.addingTimeInterval(0.5));
    EXPECT_EQ(t.end(), base.addingTimeInterval(10.5));
    // A decomposed accent sorts by its composed form (U+00C9, after "Z"), not by its leading "E".
    auto accents = take(1, {clip("Z", 0, 1, false), clip("E\xCC\x81", 0, 1, false), clip("F", 0, 1, false)});
    EXPECT_EQ(accents.cameras(), (std::vector<std::string>{"F", "Z", "E\xCC\x81"}));
}

TEST_F(LibraryTest, DeleteTakeWithCopiesAlreadyGone) {
    auto library = open();
    auto gone = take(1, {clip("A", 0, 3, false)});
    auto other = take(2, {clip("A", 50, 3)});
    library->setTakes({gone, other});
    library->deleteTake(gone);
    EXPECT_EQ(library->takes(), std::vector<RetouchTake>{other});
    EXPECT_EQ(open()->takes(), std::vector<RetouchTake>{other});
    EXPECT_TRUE(fs::exists(dir() / other.clips[0].file));
}

TEST_F(LibraryTest, ImportMovesTheCopyAndFilesItLaterOnTheMainThread) {
    auto library = open();
    TransferInfo info;
    info.capturedAt = base;
    info.duration = 5;
    info.cuts = std::vector<ProgramCut>{{"A", base}};
    const fs::path incoming = temp.path() / "received";
    touch(incoming, "first");
    std::thread([&] { library->importClip(incoming, info, "A"); }).join();
    EXPECT_FALSE(fs::exists(incoming));
    EXPECT_EQ(test::readFile(dir() / (info.id.uuidString() + ".mov")), "first");
    EXPECT_TRUE(library->takes().empty());  // filed later, on the main queue
    QCoreApplication::processEvents();
    ASSERT_EQ(library->takes().size(), 1u);
    EXPECT_EQ(library->takes()[0].clips[0].file, info.id.uuidString() + ".mov");
    EXPECT_EQ(library->takes()[0].cuts, *info.cuts);

    // A failed move of a re-sent copy throws, changes nothing and keeps the copy the take lists.
    EXPECT_THROW(library->importClip(temp.path() / "missing", info, "A"), fs::filesystem_error);
    QCoreApplication::processEvents();
    EXPECT_EQ(test::readFile(dir() / (info.id.uuidString() + ".mov")), "first");
    EXPECT_EQ(library->takes()[0].clips.size(), 1u);

    // A successful re-send replaces it.
    touch(incoming, "second");
    library->importClip(incoming, info, "A");
    QCoreApplication::processEvents();
    EXPECT_EQ(test::readFile(dir() / (info.id.uuidString() + ".mov")), "second");
    EXPECT_EQ(library->takes()[0].clips.size(), 1u);
}

namespace {

// The clip identifiers that takes.json on the disk lists, take by take.
std::vector<std::vector<Uuid>> clipsOnDisk(const fs::path& file) {
    std::vector<std::vector<Uuid>> out;
    for (const auto& take : Json::parse(test::readFile(file))) {
        out.emplace_back();
        for (const auto& clip : take.at("clips")) out.back().push_back(clip.get<RetouchClip>().id);
    }
    return out;
}

}  // namespace

TEST_F(LibraryTest, ACopyIsInTakesJsonOnTheDiskWhenImportReturns) {
    auto library = open();
    auto earlier = take(1, {clip("A", -100, 5)});
    library->setTakes({earlier});
    library->save();

    TransferInfo info;
    info.capturedAt = base;
    info.duration = 5;
    const fs::path incoming = temp.path() / "received";
    touch(incoming, "copy");
    // Acknowledged when this returns: the camera may delete its copy, and the program may die, at once.
    std::thread([&] { library->importClip(incoming, info, "A"); }).join();
    auto onDisk = clipsOnDisk(dir() / "takes.json");
    ASSERT_EQ(onDisk.size(), 2u);
    EXPECT_EQ(onDisk[1], std::vector<Uuid>{info.id});
    EXPECT_EQ(test::readFile(dir() / (info.id.uuidString() + ".mov")), "copy");

    // A change on the main thread before the copy is shown keeps the copy on the disk.
    library->rename(earlier.id, "Earlier");
    onDisk = clipsOnDisk(dir() / "takes.json");
    ASSERT_EQ(onDisk.size(), 2u);
    EXPECT_EQ(onDisk[1], std::vector<Uuid>{info.id});
    ASSERT_EQ(library->takes().size(), 2u);  // the rename showed it along
    QCoreApplication::processEvents();
    ASSERT_EQ(library->takes().size(), 2u);
    EXPECT_EQ(library->takes()[0].name, "Earlier");
    EXPECT_EQ(library->takes()[1].clips[0].id, info.id);
    EXPECT_EQ(open()->takes(), library->takes());
}

TEST_F(LibraryTest, ACopyMovedInButNotRecordedBeforeTheEndIsFiledOnceWhenSentAgain) {
    TransferInfo info;
    info.capturedAt = base;
    info.duration = 5;
    // A run that died between the move and the record left the copy under its name and takes.json without it.
    touch(dir() / (info.id.uuidString() + ".mov"), "copy");
    auto library = open();
    EXPECT_TRUE(library->takes().empty());
    const fs::path incoming = temp.path() / "sent again";
    touch(incoming, "copy");
    library->importClip(incoming, info, "A");
    QCoreApplication::processEvents();
    ASSERT_EQ(library->takes().size(), 1u);
    ASSERT_EQ(library->takes()[0].clips.size(), 1u);
    EXPECT_EQ(library->takes()[0].clips[0].id, info.id);
    EXPECT_EQ(test::namesIn(dir()), (std::set<std::string>{info.id.uuidString() + ".mov", "takes.json"}));
}

TEST_F(LibraryTest, ACopyThatCannotBeRecordedIsNotKeptAndGoesBack) {
    auto library = open();
    library->setTakes({take(1, {clip("A", -100, 5)})});
    library->save();
    const std::string before = test::readFile(dir() / "takes.json");

    TransferInfo info;
    info.capturedAt = base;
    const fs::path incoming = temp.path() / "received";
    touch(incoming, "copy");
    {
        test::ScopedFileSizeLimit limit(before.size());  // the next takes.json is larger: its write fails
        EXPECT_THROW(library->importClip(incoming, info, "A"), fs::filesystem_error);
    }
    EXPECT_EQ(test::readFile(incoming), "copy");
    EXPECT_FALSE(fs::exists(dir() / (info.id.uuidString() + ".mov")));
    EXPECT_EQ(test::readFile(dir() / "takes.json"), before);
    QCoreApplication::processEvents();
    EXPECT_EQ(library->takes().size(), 1u);

    // Once the disk takes it again, the copy sent again is filed.
    library->importClip(incoming, info, "A");
    EXPECT_EQ(clipsOnDisk(dir() / "takes.json").size(), 2u);
}

TEST_F(LibraryTest, LeftoversOfAnInterruptedRunAreRemovedAtTheNextStart) {
    auto a = clip("A", 0, 5);
    {
        auto library = open();
        library->setTakes({take(1, {a})});
        library->save();
    }
    const auto leftover = test::leaveInterruptedWrite(dir() / "takes.json", "[", "]");
    ASSERT_TRUE(leftover);
    const std::string halfCopied = ".placing-80513377.tmp";
    touch(dir() / halfCopied, "half a copy");
    touch(dir() / "notes.txt", "someone's");
    // A run that ended in the middle of the leftover's write left takes.json as it was before.
    test::writeFile(dir() / "takes.json", Json::array({Json(take(1, {a}))}).dump());

    auto library = open();
    EXPECT_EQ(test::namesIn(dir()), (std::set<std::string>{a.file, "notes.txt", "takes.json"}));
    ASSERT_EQ(library->takes().size(), 1u);
}

TEST_F(LibraryTest, GroupsCopiesIntoTakes) {
    auto library = open();
    auto old = take(4, {clip("A", -100, 10)});
    library->setTakes({old});
    sendCopy(*library, "B", 0.5, 10);
    sendCopy(*library, "A", 0, 10);
    sendCopy(*library, "C", 1, 10);
    ASSERT_EQ(library->takes().size(), 2u);
    const auto& t = library->takes()[1];
    EXPECT_EQ(t.number, 5);
    ASSERT_EQ(t.clips.size(), 3u);
    EXPECT_EQ(t.cameras(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(open()->takes(), library->takes());  // saved after each

    // Take 5 ends at 11: exactly 2.0 s later is a new take, 1.9 s later joins.
    sendCopy(*library, "D", 13, 3);
    EXPECT_EQ(library->takes().size(), 3u);
    sendCopy(*library, "E", 12.9, 1);
    EXPECT_EQ(library->takes()[1].clips.size(), 4u);
    // Take 5 now starts at 0: a copy ending exactly 2.0 s before it does not join.
    const auto before = library->takes().size();
    sendCopy(*library, "F", -5, 3);
    EXPECT_EQ(library->takes().size(), before + 1);
    EXPECT_EQ(library->takes()[1].cameras(), std::vector<std::string>{"F"});  // sorted by start
}

TEST_F(LibraryTest, CopyWithoutDurationJoinsOnlyInsideTheTolerance) {
    auto library = open();
    sendCopy(*library, "A", 0, 10);
    sendCopy(*library, "B", 11.99, std::nullopt);
    EXPECT_EQ(library->takes().size(), 1u);
    EXPECT_EQ(library->takes()[0].clips.back().duration, 0);
    sendCopy(*library, "C", -2.0, std::nullopt);
    EXPECT_EQ(library->takes().size(), 2u);
}

TEST_F(LibraryTest, OverlapPicksTheFirstCollectingTakeAndSkipsExportedOnes) {
    auto library = open();
    auto first = take(1, {clip("A", 0, 10)});
    auto second = take(2, {clip("A", 9, 10)});
    auto exported = take(9, {});
    exported.exportedAt = base;
    exported.exportedClips = {clip("A", 30, 10, false)};
    library->setTakes({first, second, exported});
    sendCopy(*library, "B", 8, 4);
    EXPECT_EQ(library->take(first.id)->clips.size(), 2u);
    EXPECT_EQ(library->take(second.id)->clips.size(), 1u);
    // Overlapping only the exported take: a new take with the next number (exported numbers count).
    sendCopy(*library, "B", 31, 4);
    ASSERT_EQ(library->takes().size(), 4u);
    EXPECT_EQ(library->takes().back().number, 10);
    // The exported take has no clips, so its start is the distant past: it sorts first.
    EXPECT_EQ(library->takes().front().id, exported.id);
}

TEST_F(LibraryTest, SameTransferTwiceKeepsTheLaterCopy) {
    auto library = open();
    sendCopy(*library, "A", 0, 10);
    const auto info = sendCopy(*library, "B", 1, 5);
    sendCopy(*library, "C", 1, 5);
    sendCopy(*library, "B2", 1.5, 6, info.id);
    const auto& clips = library->takes()[0].clips;
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips.back().id, info.id);
    EXPECT_EQ(clips.back().camera, "B2");
    EXPECT_EQ(test::readFile(dir() / clips.back().file), "copy from B2");
}

TEST_F(LibraryTest, CollectedAgainGoesBackIntoItsExportedTake) {
    auto library = open();
    auto later = take(2, {clip("A", 100, 10)});
    auto exported = take(1, {});
    auto a = clip("A", 0, 10, false), b = clip("B", 0, 10, false);
    exported.exportedClips = {a, b};
    exported.exportedAt = base.addingTimeInterval(50);
    exported.exportedFile = "Take 01.mov";
    exported.name = "Kept";
    exported.cuts = {{"A", base}};
    exported.edit = RetouchEdit::editFromLiveCut(take(1, {a, b}));
    library->setTakes({later, exported});
    sendCopy(*library, "A", 0, 10, a.id, {{"B", base.addingTimeInterval(1)}});
    ASSERT_EQ(library->takes().size(), 2u);
    EXPECT_EQ(library->takes()[0].id, later.id);  // order kept
    const auto back = *library->take(exported.id);
    EXPECT_FALSE(back.exportedAt);
    EXPECT_EQ(back.name, "Kept");
    EXPECT_EQ(back.edit, exported.edit);
    EXPECT_EQ(back.cuts, exported.cuts);  // incoming cuts not merged
    EXPECT_EQ(back.exportedClips, exported.exportedClips);
    ASSERT_EQ(back.clips.size(), 1u);
    EXPECT_EQ(back.clips[0].id, a.id);
}

TEST_F(LibraryTest, TakesAreNumberedPerDayInCaptureOrderAsTheShootLibraryNumbersThem) {
    struct Copy {
        const char* camera;
        double at;
    };
    struct Case {
        const char* what;
        std::vector<Copy> copies;                            // in order of arrival, 10 s each
        std::vector<std::pair<double, std::int64_t>> takes;  // each take's start and number
        std::optional<double> exportedAt = std::nullopt;     // a take exported as Take 01 before the copies came
    };
    const Case cases[] = {
        {"copies arriving out of capture order", {{"B", 300}, {"A", 0}}, {{0, 1}, {300, 2}}},
        {"copies of two takes from three cameras, mixed",
         {{"A", 300}, {"B", 0}, {"C", 301}, {"A", 0.5}, {"B", 600}},
         {{0, 1}, {300, 2}, {600, 3}}},
        {"each day counts from one", {{"A", -86400}, {"A", 0}, {"A", -86000}}, {{-86400, 1}, {-86000, 2}, {0, 1}}},
        {"an exported take keeps its number; one captured before it comes after the day's highest",
         {{"A", 0}, {"A", 600}},
         {{0, 2}, {300, 1}, {600, 3}},
         300},
    };
    for (const auto& c : cases) {
        auto library = open();
        std::vector<RetouchTake> before;
        if (c.exportedAt) {
            auto exported = take(1, {});
            exported.exportedClips = {clip("A", *c.exportedAt, 10, false)};
            exported.exportedAt = base.addingTimeInterval(*c.exportedAt + 60);
            exported.exportedFile = "Take 01 \u2013 Program.mov";
            before.push_back(exported);
        }
        library->setTakes(before);
        for (const auto& copy : c.copies) sendCopy(*library, copy.camera, copy.at, 10);
        std::vector<std::pair<double, std::int64_t>> numbered;
        for (const auto& t : library->takes()) {
            const auto& clips = t.clips.empty() ? *t.exportedClips : t.clips;
            Date start = clips.front().start;
            for (const auto& clip : clips) start = std::min(start, clip.start);
            numbered.emplace_back(start.timeIntervalSince(base), t.number);
        }
        std::sort(numbered.begin(), numbered.end());
        EXPECT_EQ(numbered, c.takes) << c.what;
    }
}

TEST_F(LibraryTest, NumbersAreNotReserved) {
    auto library = open();
    sendCopy(*library, "A", 0, 5);
    sendCopy(*library, "A", 100, 5);
    ASSERT_EQ(library->takes().back().number, 2);
    library->deleteTake(library->takes().back());
    sendCopy(*library, "A", 200, 5);
    EXPECT_EQ(library->takes().back().number, 2);
}

TEST(RetouchLibraryCuts, MergeCuts) {
    const Date t = base;
    auto merged =
        RetouchLibrary::mergeCuts({{"A", t}}, {{"A", t.addingTimeInterval(0.3)}, {"B", t.addingTimeInterval(0.4)}});
    EXPECT_EQ(merged, (std::vector<ProgramCut>{{"A", t}, {"B", t.addingTimeInterval(0.4)}}));
    merged = RetouchLibrary::mergeCuts({{"A", t}}, {{"A", t.addingTimeInterval(0.5)}});
    EXPECT_EQ(merged, (std::vector<ProgramCut>{{"A", t}, {"A", t.addingTimeInterval(0.5)}}));
    merged = RetouchLibrary::mergeCuts({{"B", t.addingTimeInterval(2)}}, {{"A", t}, {"A", t.addingTimeInterval(0.1)}});
    EXPECT_EQ(merged, (std::vector<ProgramCut>{{"A", t}, {"B", t.addingTimeInterval(2)}}));
}

TEST_F(LibraryTest, RecentDeckEdits) {
    auto library = open();
    const Date now = Date::now();
    auto a = clip("A", 0, 10, false), b = clip("B", 0, 10, false);
    auto recent = take(1, {});
    recent.exportedClips = {a, b};
    recent.exportedAt = now.addingTimeInterval(-71 * 3600);
    recent.cuts = {{"B", base.addingTimeInterval(4)}};
    auto old = recent;
    old.id = Uuid();
    old.exportedAt = now.addingTimeInterval(-73 * 3600);
    auto again = recent;
    again.id = Uuid();
    again.exportedAt.reset();
    auto stored = recent;
    stored.id = Uuid();
    stored.name = "Named";
    RetouchEdit edit = RetouchEdit::editFromLiveCut(take(1, {a, b}));
    edit.trimStart = 1;
    edit.sound = RetouchEdit::Sound::mix();
    stored.edit = edit;
    library->setTakes({recent, old, again, stored});

    auto edits = library->recentDeckEdits();
    ASSERT_EQ(edits.size(), 2u);
    EXPECT_EQ(edits[0].id, recent.id);
    EXPECT_EQ(edits[0].name, "Take 1");
    EXPECT_EQ(edits[0].exportedAt, *recent.exportedAt);
    // The live cut: A from the start (the first camera), B from 4 s.
    ASSERT_EQ(edits[0].pieces.size(), 2u);
    EXPECT_EQ(edits[0].pieces[0], (DeckEdit::Piece{"B", base, base.addingTimeInterval(4)}));
    EXPECT_EQ(edits[0].pieces[1], (DeckEdit::Piece{"B", base.addingTimeInterval(4), base.addingTimeInterval(10)}));
    EXPECT_EQ(edits[0].sound, DeckEdit::Sound(DeckEdit::Sound::Camera{"A"}));
    EXPECT_EQ(edits[1].name, "Named");
    EXPECT_EQ(edits[1].sound, DeckEdit::Sound(DeckEdit::Sound::Mix{}));
    EXPECT_EQ(edits[1].pieces.front().from, base.addingTimeInterval(1));
}

TEST(RetouchLibraryDeckEdit, MakeDeckEdit) {
    RetouchTake t;
    t.number = 12;
    RetouchEdit edit;
    edit.sound = RetouchEdit::Sound::camera();
    auto empty = RetouchLibrary::makeDeckEdit(t, edit);
    EXPECT_EQ(empty.sound, DeckEdit::Sound(DeckEdit::Sound::Camera{""}));
    EXPECT_EQ(empty.name, "Take 12");
    EXPECT_TRUE(empty.pieces.empty());
    edit.sound = RetouchEdit::Sound::camera("Z");
    EXPECT_EQ(RetouchLibrary::makeDeckEdit(t, edit).sound, DeckEdit::Sound(DeckEdit::Sound::Camera{"Z"}));
    edit.sound = RetouchEdit::Sound::followPicture();
    EXPECT_EQ(RetouchLibrary::makeDeckEdit(t, edit).sound, DeckEdit::Sound(DeckEdit::Sound::FollowPicture{}));
}

TEST_F(LibraryTest, MangledTakesFilesNeverCrashTheLoader) {
    auto a = clip("A", 0, 4);
    auto t = take(1, {a});
    t.cuts = {{"A", base}};
    t.edit = RetouchEdit::editFromLiveCut(t);
    t.edit->removedSections = std::vector<RetouchEdit::Section>{{Uuid(), 1, 2}};
    t.exportedClips = t.clips;
    t.name = "Name";
    {
        auto library = open();
        library->setTakes({t});
        library->save();
    }
    const std::string good = test::readFile(dir() / "takes.json");
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::string text = good;
        switch (round % 3) {
            case 0:
                text.resize(random() % text.size());
                break;
            case 1:
                for (int i = 0; i < 3; ++i) text[random() % text.size()] = char(random());
                break;
            default:
                text.insert(random() % text.size(), std::string(1 + random() % 4, "[]{}\",:0-e"[random() % 10]));
        }
        touch(dir() / "takes.json", text);
        auto library = open();
        ASSERT_LE(library->takes().size(), 1u);
        for (const auto& loaded : library->takes()) {
            for (const auto& c : loaded.clips) EXPECT_TRUE(RetouchLibrary::isPlainFileName(c.file));
        }
    }
}
