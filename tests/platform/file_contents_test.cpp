#include "platform/file_contents.h"

#include "temp_dir.h"
#include "test_files.h"

#include <gtest/gtest.h>

using namespace morvane;
using morvane::test::TempDir;
namespace fs = std::filesystem;

TEST(FileContents, ReadsWholeRegularFilesUpToTheLimit) {
    TempDir temp;
    const std::string text("exactly\0ten", 11);
    test::writeFile(temp / "file", text);
    EXPECT_EQ(readFileContents(temp / "file", 11), text);
    EXPECT_EQ(readFileContents(temp / "file", 1000), text);
    EXPECT_FALSE(readFileContents(temp / "file", 10));
    test::writeFile(temp / "empty", "");
    EXPECT_EQ(readFileContents(temp / "empty", 0), "");

    fs::create_symlink(temp / "file", temp / "link");
    EXPECT_EQ(readFileContents(temp / "link", 11), text);
    EXPECT_FALSE(readFileContents(temp / "missing", 100));
    fs::create_directories(temp / "folder");
    EXPECT_FALSE(readFileContents(temp / "folder", 100));
    // A device is no regular file, even one that never ends.
    EXPECT_FALSE(readFileContents("/dev/zero", 1 << 20));
}
