#include "platform/atomic_file.h"

#include "interrupted_write.h"
#include "temp_dir.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <thread>
#include <vector>

using namespace morvane;
using morvane::test::namesIn;
using morvane::test::TempDir;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& p) {
    struct stat info {};
    ::stat(p.c_str(), &info);
    return info.st_mode & 07777;
}

// Sets the process's umask for the life of the object.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t old_;
};

}  // namespace

TEST(AtomicFile, ReplacesTheWholeFileAndLeavesNoTemporaryFile) {
    TempDir temp;
    const fs::path file = temp / "Markers.edl";
    ASSERT_TRUE(writeFileAtomically(file, "first, and longer than what follows"));
    EXPECT_EQ(test::readFile(file), "first, and longer than what follows");
    ASSERT_TRUE(writeFileAtomically(file, "second", {.durable = false}));
    EXPECT_EQ(test::readFile(file), "second");

    const std::vector<std::uint8_t> bytes{0, 1, 2, 0, 255};
    ASSERT_TRUE(writeFileAtomically(temp / "binary", bytes));
    EXPECT_EQ(test::readFile(temp / "binary"), std::string("\0\1\2\0\xff", 5));
    ASSERT_TRUE(writeFileAtomically(temp / "empty", std::string_view()));
    EXPECT_EQ(fs::file_size(temp / "empty"), 0u);

    // A name that already takes all the bytes a name may have still gets a temporary file beside it.
    const std::string longest(255, 'n');
    ASSERT_TRUE(writeFileAtomically(temp / longest, "long"));
    EXPECT_EQ(test::readFile(temp / longest), "long");

    EXPECT_EQ(namesIn(temp.path()), (std::set<std::string>{"Markers.edl", "binary", "empty", longest}));
}

TEST(AtomicFile, NewFilesGetTheAskedModeExactlyOrTheUmasksOne) {
    TempDir temp;
    {
        ScopedUmask mask(027);
        ASSERT_TRUE(writeFileAtomically(temp / "plain", "x"));
        EXPECT_EQ(modeOf(temp / "plain"), 0640u);
        ASSERT_TRUE(writeFileAtomically(temp / "private", "x", {.permissions = fs::perms::owner_read}));
        EXPECT_EQ(modeOf(temp / "private"), 0400u);
    }
    {
        // The umask would take the owner's bits away; asked-for bits are kept whole.
        ScopedUmask mask(0277);
        ASSERT_TRUE(
            writeFileAtomically(temp / "secret", "x", {.permissions = fs::perms::owner_read | fs::perms::owner_write}));
        EXPECT_EQ(modeOf(temp / "secret"), 0600u);
    }
    // Replacing a file gives it the new file's mode, not the old one's.
    fs::permissions(temp / "plain", fs::perms::all);
    ASSERT_TRUE(
        writeFileAtomically(temp / "plain", "y", {.permissions = fs::perms::owner_read | fs::perms::owner_write}));
    EXPECT_EQ(modeOf(temp / "plain"), 0600u);
}

TEST(AtomicFile, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    TempDir temp;
    const fs::path file = temp / "settings.json";
    ASSERT_TRUE(writeFileAtomically(file, "old"));

    // A folder in the way: the write fails and the folder stays as it was.
    fs::create_directories(temp / "taken" / "inside");
    EXPECT_FALSE(writeFileAtomically(temp / "taken", "x"));
    EXPECT_TRUE(fs::is_directory(temp / "taken" / "inside"));
    // No folder to write in.
    EXPECT_FALSE(writeFileAtomically(temp / "missing" / "file", "x"));
    EXPECT_FALSE(fs::exists(temp / "missing"));
    // A folder that cannot be written (unless we run as root): the old file stays whole.
    fs::permissions(temp.path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(temp.path().c_str(), W_OK) != 0) {
        EXPECT_FALSE(writeFileAtomically(file, "new"));
        EXPECT_EQ(test::readFile(file), "old");
    }
    fs::permissions(temp.path(), fs::perms::owner_all);
    EXPECT_EQ(namesIn(temp.path()), (std::set<std::string>{"settings.json", "taken"}));
}

TEST(AtomicFile, ConcurrentWritersEachLeaveAWholeFile) {
    TempDir temp;
    const fs::path file = temp / "shared";
    const std::string a(64 * 1024, 'a');
    const std::string b(48 * 1024, 'b');
    ASSERT_TRUE(writeFileAtomically(file, a));
    std::vector<std::thread> writers;
    for (const std::string* text : {&a, &b, &a, &b}) {
        writers.emplace_back([&file, text] {
            for (int i = 0; i < 20; ++i) EXPECT_TRUE(writeFileAtomically(file, *text, {.durable = false}));
        });
    }
    // A reader never sees a torn or empty file.
    for (int i = 0; i < 200; ++i) {
        const std::string seen = test::readFile(file);
        EXPECT_TRUE(seen == a || seen == b) << seen.size();
    }
    for (auto& writer : writers) writer.join();
    const std::string last = test::readFile(file);
    EXPECT_TRUE(last == a || last == b);
    EXPECT_EQ(namesIn(temp.path()), std::set<std::string>{"shared"});
}

TEST(AtomicFile, TheOwnerRemovesWhatInterruptedWritesLeftAndNothingElse) {
    TempDir temp;
    const fs::path file = temp / "takes.json";
    ASSERT_TRUE(writeFileAtomically(file, std::string("[]")));
    const auto leftover = morvane::test::leaveInterruptedWrite(file, "[", "]");
    ASSERT_TRUE(leftover) << "no writer was caught in the middle of a write";
    // Names that only look alike, and the leftovers of other files, stay.
    const std::set<std::string> others = {".takes.json.ABCDEFGH.tmp", ".takes.json.abc.tmp", "takes.json.abcdefgh.tmp",
                                          ".takes.jsonx.abcdefgh.tmp", ".other.json.abcdefgh.tmp",
                                          ".takes.json.abcdefgh.tmp.keep"};
    for (const auto& name : others) test::writeFile(temp / name, "mine");
    fs::create_directory(temp / ".takes.json.zzzzzzzz.tmp");

    removeInterruptedWrites(file);
    EXPECT_FALSE(fs::exists(*leftover));
    std::set<std::string> expected = others;
    expected.insert({"takes.json", ".takes.json.zzzzzzzz.tmp"});
    EXPECT_EQ(namesIn(temp.path()), expected);

    // By folder: whatever names the owner claims, shortened ones included.
    const std::string longName(100, 'n');
    test::writeFile(temp / ("." + longName.substr(0, 64) + ".a1b2c3d4.tmp"), "partial");
    test::writeFile(temp / ".Markers.edl.0a0a0a0a.tmp", "partial");
    removeInterruptedWrites(temp.path(), [&](std::string_view name) {
        return name == "Markers.edl" || std::string_view(longName).starts_with(name);
    });
    EXPECT_EQ(namesIn(temp.path()), expected);
    EXPECT_EQ(test::readFile(file).front(), '[');
}
