#include "platform/keychain.h"

#include "scoped_env.h"
#include "temp_dir.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

using namespace morvane;
using morvane::test::namesIn;
using morvane::test::ScopedEnv;
using morvane::test::TempDir;
namespace fs = std::filesystem;

namespace {

mode_t modeOf(const fs::path& p) {
    struct stat info {};
    EXPECT_EQ(::lstat(p.c_str(), &info), 0) << p;
    return info.st_mode & 07777;
}
}  // namespace

TEST(Keychain, StoresReplacesAndRemovesItems) {
    TempDir temp;
    Keychain keychain(temp / "a" / "keychain");
    EXPECT_FALSE(keychain.read("identity-key"));

    const Bytes key = {0, 1, 2, 0, 255, 0};
    ASSERT_TRUE(keychain.write("identity-key", key));
    EXPECT_EQ(keychain.read("identity-key"), key);
    ASSERT_TRUE(keychain.write("device-name", Bytes{}));
    EXPECT_EQ(keychain.read("device-name"), Bytes{});

    const Bytes longer(10000, 7);
    ASSERT_TRUE(keychain.write("identity-key", longer));
    EXPECT_EQ(keychain.read("identity-key"), longer);
    ASSERT_TRUE(keychain.write("identity-key", Bytes{9}));
    EXPECT_EQ(keychain.read("identity-key"), Bytes{9});

    // Another instance on the same folder sees the same items.
    EXPECT_EQ(Keychain(keychain.folder()).read("identity-key"), Bytes{9});

    EXPECT_TRUE(keychain.remove("identity-key"));
    EXPECT_FALSE(keychain.read("identity-key"));
    EXPECT_TRUE(keychain.remove("identity-key"));  // already gone
    EXPECT_EQ(keychain.read("device-name"), Bytes{});
    // No temporary files stay behind.
    EXPECT_EQ(namesIn(keychain.folder()), std::set<std::string>{"device-name"});
}

TEST(Keychain, ItemsAndFolderArePrivate) {
    TempDir temp;
    const auto old = ::umask(0);  // the modes must not depend on the caller's umask
    Keychain keychain(temp / "keychain");
    ASSERT_TRUE(keychain.write("trusted-peers", Bytes{1, 2, 3}));
    ::umask(old);
    EXPECT_EQ(modeOf(keychain.folder()), 0700u);
    EXPECT_EQ(modeOf(keychain.folder() / "trusted-peers"), 0600u);

    // A folder that exists with wider access is narrowed.
    fs::create_directories(temp / "open");
    fs::permissions(temp / "open", fs::perms::all);
    Keychain reopened(temp / "open");
    EXPECT_EQ(modeOf(temp / "open"), 0700u);
    ASSERT_TRUE(reopened.write("x", Bytes{1}));
    EXPECT_EQ(modeOf(temp / "open" / "x"), 0600u);
}

TEST(Keychain, RefusesNamesThatAreNotOnePlainFileName) {
    TempDir temp;
    Keychain keychain(temp / "keychain");
    ASSERT_TRUE(keychain.write("ok", Bytes{1}));
    std::ofstream(temp / "outside") << "secret";

    for (const std::string& bad :
         {std::string(), std::string("."), std::string(".."), std::string("../outside"), std::string("a/b"),
          std::string("/etc/passwd"), std::string("a\nb"), std::string("\x01"), std::string("tab\there"),
          std::string("nul\0x", 5), std::string(".hidden"), std::string(".ok.XXXXXX"), std::string(201, 'n'),
          std::string("del\x7f")}) {
        EXPECT_FALSE(keychain.write(bad, Bytes{6})) << bad;
        EXPECT_FALSE(keychain.read(bad)) << bad;
        EXPECT_FALSE(keychain.remove(bad)) << bad;
    }
    EXPECT_EQ(namesIn(temp.path()), (std::set<std::string>{"keychain", "outside"}));
    EXPECT_EQ(namesIn(keychain.folder()), std::set<std::string>{"ok"});
    EXPECT_EQ(test::readFile(temp / "outside"), "secret");
    // Names that are odd but safe work.
    for (const std::string& fine :
         std::vector<std::string>{"device name", "a..b", "x.", "Ünïcode-名前", std::string(200, 'n')}) {
        EXPECT_TRUE(keychain.write(fine, Bytes{5})) << fine;
        EXPECT_EQ(keychain.read(fine), Bytes{5}) << fine;
    }
}

TEST(Keychain, NeverFollowsALinkOutOfItsFolder) {
    TempDir temp;
    Keychain keychain(temp / "keychain");
    std::ofstream(temp / "target") << "outside";
    fs::create_symlink(temp / "target", keychain.folder() / "identity-key");

    EXPECT_FALSE(keychain.read("identity-key"));
    ASSERT_TRUE(keychain.write("identity-key", Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(test::readFile(temp / "target"), "outside");
    EXPECT_FALSE(fs::is_symlink(keychain.folder() / "identity-key"));
    EXPECT_EQ(keychain.read("identity-key"), (Bytes{'n', 'e', 'w'}));

    // A folder in place of an item is not an item.
    fs::create_directory(keychain.folder() / "dir");
    EXPECT_FALSE(keychain.read("dir"));
}

TEST(Keychain, ReportsFailureWhenItCannotStore) {
    TempDir temp;
    std::ofstream(temp / "file") << "not a folder";
    Keychain keychain(temp / "file");
    EXPECT_FALSE(keychain.write("identity-key", Bytes{1}));
    EXPECT_FALSE(keychain.read("identity-key"));
    EXPECT_EQ(test::readFile(temp / "file"), "not a folder");
}

TEST(Keychain, ConcurrentWritersNeverLeaveATornItem) {
    TempDir temp;
    // Two instances share the folder but not a lock: only the rename keeps items whole.
    Keychain first(temp / "keychain");
    Keychain second(temp / "keychain");
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w) {
        threads.emplace_back([&, w] {
            Keychain& k = w % 2 ? first : second;
            for (int i = 0; i < 40; ++i) {
                const auto fill = static_cast<std::uint8_t>(w * 40 + i);
                ASSERT_TRUE(k.write("shared", Bytes(1000 + fill * 37, fill)));
                if (auto got = k.read("shared")) {
                    const std::uint8_t f = got->empty() ? 0 : got->front();
                    if (got->size() != 1000u + f * 37u || std::count(got->begin(), got->end(), f) != (long)got->size())
                        torn = true;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(torn);
    EXPECT_EQ(namesIn(temp / "keychain"), std::set<std::string>{"shared"});
}

TEST(Keychain, DefaultFolderFollowsTheDataHome) {
    TempDir temp;
    {
        ScopedEnv data("XDG_DATA_HOME", (temp / "data").c_str());
        EXPECT_EQ(Keychain::defaultFolder(), temp / "data" / "Brindlecroft" / "keychain");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", "relative/data");
        ScopedEnv home("HOME", temp.path().c_str());
        EXPECT_EQ(Keychain::defaultFolder(), temp / ".local" / "share" / "Brindlecroft" / "keychain");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ScopedEnv home("HOME", temp.path().c_str());
        EXPECT_EQ(Keychain::defaultFolder(), temp / ".local" / "share" / "Brindlecroft" / "keychain");
    }
}
