#include "platform/file_moves.h"

#include "file_size_limit.h"
#include "temp_dir.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <vector>

using namespace morvane;
using morvane::test::namesIn;
using morvane::test::TempDir;
namespace fs = std::filesystem;

TEST(FileMoves, RenamingNeverReplacesAFile) {
    TempDir temp;
    test::writeFile(temp / "a", "a");
    test::writeFile(temp / "b", "b");
    EXPECT_EQ(renameNoReplace(temp / "a", temp / "b"), EEXIST);
    EXPECT_EQ(test::readFile(temp / "b"), "b");
    EXPECT_EQ(renameNoReplace(temp / "a", temp / "c"), 0);
    EXPECT_EQ(test::readFile(temp / "c"), "a");
    EXPECT_EQ(renameNoReplace(temp / "a", temp / "d"), ENOENT);
    EXPECT_EQ(namesIn(temp.path()), (std::set<std::string>{"b", "c"}));
}

TEST(FileMoves, UnreadableFilesAreSetAsideUnderTheFirstFreeName) {
    TempDir temp;
    test::writeFile(temp / "takes.json", "first");
    ASSERT_TRUE(setAsideUnreadable(temp / "takes.json"));
    test::writeFile(temp / "takes.json", "second");
    ASSERT_TRUE(setAsideUnreadable(temp / "takes.json"));
    // A name taken by a folder is passed over as well.
    fs::create_directories(temp / "takes.json.unreadable 3");
    test::writeFile(temp / "takes.json", "third");
    ASSERT_TRUE(setAsideUnreadable(temp / "takes.json"));
    EXPECT_EQ(test::readFile(temp / "takes.json.unreadable"), "first");
    EXPECT_EQ(test::readFile(temp / "takes.json.unreadable 2"), "second");
    EXPECT_EQ(test::readFile(temp / "takes.json.unreadable 4"), "third");
    EXPECT_FALSE(fs::exists(temp / "takes.json"));

    std::error_code error;
    EXPECT_FALSE(setAsideUnreadable(temp / "takes.json", &error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

TEST(FileMoves, NumberedNamesFitAndClaimingTakesTheFirstFreeOne) {
    EXPECT_EQ(numberedName("Take", ".mov", 1), "Take.mov");
    EXPECT_EQ(numberedName("Take", ".mov", 12), "Take 12.mov");
    EXPECT_EQ(numberedName("notes", "", 2), "notes 2");
    // A stem of two-byte letters is cut between letters, never inside one.
    const std::string long_(300, 'a');
    EXPECT_EQ(numberedName(long_, ".mov", 3).size(), 255u);
    EXPECT_EQ(numberedName("\xC3\xA9\xC3\xA9\xC3\xA9", ".m", 1, 7), "\xC3\xA9\xC3\xA9.m");

    TempDir temp;
    test::writeFile(temp / "a.txt", "");
    fs::create_directories(temp / "a 2.txt");
    std::error_code error;
    const auto claimed = claimFirstFreeName(
        temp.path(), "a", ".txt", [](const fs::path& p) { return fs::exists(p) ? EEXIST : 0; }, error);
    EXPECT_EQ(claimed, temp / "a 3.txt");
    EXPECT_FALSE(claimFirstFreeName(
        temp.path(), "a", ".txt", [](const fs::path&) { return EACCES; }, error));
    EXPECT_EQ(error, std::errc::permission_denied);
}

// Every way a file is brought in: on one disk and across disks, replacing or not, under a free name or a fixed one.
TEST(FileMoves, PlacedFilesAreWholeAndNeverReplaceUnlessAsked) {
    TempDir here;
    std::vector<std::pair<std::string, fs::path>> sources{{"same disk", here.path()}};
    std::optional<TempDir> there;
    if (const auto other = test::otherFileSystem()) {
        there.emplace(*other);
        sources.emplace_back("other disk", there->path());
    }
    for (const auto& [label, source] : sources) {
        SCOPED_TRACE(label);
        const bool across = source != here.path();
        const fs::path folder = here / ("to " + label);
        fs::create_directories(folder);
        test::writeFile(folder / "taken.mov", "old");
        std::error_code error;

        test::writeFile(source / "a", "first");
        EXPECT_FALSE(placeFile(source / "a", folder / "taken.mov", error));
        EXPECT_EQ(error, std::errc::file_exists);
        EXPECT_EQ(test::readFile(folder / "taken.mov"), "old");
        EXPECT_EQ(test::readFile(source / "a"), "first");

        const auto replaced = placeFile(source / "a", folder / "taken.mov", error, {.replace = true});
        ASSERT_TRUE(replaced);
        EXPECT_EQ(*replaced, across ? Placement::copied : Placement::moved);
        EXPECT_EQ(test::readFile(folder / "taken.mov"), "first");
        EXPECT_FALSE(fs::exists(source / "a"));

        // Kept for the caller until it has recorded the copy; copied only, the original stays anyway.
        test::writeFile(source / "b", "second");
        ASSERT_TRUE(placeFile(source / "b", folder / "b.mov", error, {.removeOriginal = false}));
        EXPECT_EQ(fs::exists(source / "b"), across);
        test::writeFile(source / "c", "third");
        EXPECT_EQ(placeFile(source / "c", folder / "c.mov", error, {.copy = true}), Placement::copied);
        EXPECT_EQ(test::readFile(source / "c"), "third");

        const auto free = placeFileUnderFreeName(source / "c", folder, "taken", ".mov", error);
        EXPECT_EQ(free, folder / "taken 2.mov");
        EXPECT_EQ(test::readFile(folder / "taken 2.mov"), "third");
        EXPECT_FALSE(fs::exists(source / "c"));
        EXPECT_EQ(test::namesIn(folder), (std::set<std::string>{"taken.mov", "b.mov", "c.mov", "taken 2.mov"}));
    }
}

TEST(FileMoves, ACopyThatFailsLeavesNothingHalfAndTheOriginalInPlace) {
    const auto other = test::otherFileSystem();
    if (!other) GTEST_SKIP() << "no second file system";
    TempDir here, there(*other);
    test::writeFile(there / "big", std::string(256 * 1024, 'x'));
    std::error_code error;
    {
        test::ScopedFileSizeLimit disk(64 * 1024);
        EXPECT_FALSE(placeFile(there / "big", here / "big.mov", error));
        EXPECT_TRUE(error);
        EXPECT_FALSE(placeFileUnderFreeName(there / "big", here.path(), "big", ".mov", error));
    }
    EXPECT_EQ(fs::file_size(there / "big"), 256u * 1024);
    EXPECT_TRUE(test::namesIn(here.path()).empty());

    // What a placement cut short by the end of the process leaves is hidden, and removed on the next start.
    test::writeFile(here / ".placing-12345678.tmp", "half");
    test::writeFile(here / "kept.tmp", "mine");
    removeInterruptedPlacements(here.path());
    EXPECT_EQ(test::namesIn(here.path()), (std::set<std::string>{"kept.tmp"}));
}

// A copy cut short by a crash leaves a hidden file in the folder it was placing into (a fallback folder, the photo
// library, an export folder); the next placement there removes it, by either kind of placement.
TEST(FileMoves, TheFirstPlacementInAFolderRemovesWhatCrashedCopiesLeftThere) {
    struct Case {
        const char* what;
        std::function<bool(const fs::path& from, const fs::path& folder)> place;
    };
    const std::vector<Case> cases{
        {"placeFile",
         [](const fs::path& from, const fs::path& folder) {
             std::error_code error;
             return placeFile(from, folder / "Take.mov", error).has_value();
         }},
        {"placeFile copying",
         [](const fs::path& from, const fs::path& folder) {
             std::error_code error;
             return placeFile(from, folder / "Take.mov", error, {.copy = true}).has_value();
         }},
        {"placeFileUnderFreeName",
         [](const fs::path& from, const fs::path& folder) {
             std::error_code error;
             return placeFileUnderFreeName(from, folder, "Take", ".mov", error).has_value();
         }},
    };
    for (const auto& c : cases) {
        TempDir temp;
        const fs::path folder = temp / "Exports";
        test::writeFile(folder / ".placing-80513377.tmp", "half a copy");
        test::writeFile(folder / ".placing-notes.txt", "someone's");
        test::writeFile(temp / "capture", "capture");
        ASSERT_TRUE(c.place(temp / "capture", folder)) << c.what;
        EXPECT_EQ(namesIn(folder), (std::set<std::string>{".placing-notes.txt", "Take.mov"})) << c.what;
    }
}

// Captures and exports are the user's, for other programs and accounts to open; a file received into a private
// folder must not stay owner-only when it is placed for the user.
TEST(FileMoves, FilesPlacedForTheUserGetTheUmasksPermissions) {
    TempDir here;
    std::vector<fs::path> sources{here.path()};
    std::optional<TempDir> there;
    if (const auto other = test::otherFileSystem()) sources.push_back(there.emplace(*other).path());
    const mode_t previous = ::umask(027);
    for (const auto& source : sources) {
        test::writeFile(source / "private", "received");
        fs::permissions(source / "private", fs::perms::owner_read | fs::perms::owner_write);
        std::error_code error;
        const auto placed =
            placeFileUnderFreeName(source / "private", here.path(), "Take", ".mov", error, {.forUser = true});
        ASSERT_TRUE(placed) << error.message();
        EXPECT_EQ(fs::status(*placed).permissions() & fs::perms::all, static_cast<fs::perms>(0640)) << *placed;
    }
    ::umask(previous);
}
