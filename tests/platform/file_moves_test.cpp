#include "platform/file_moves.h"

#include "temp_dir.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cerrno>

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
