#include "platform/user_folders.h"

#include "scoped_env.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

using namespace morvane;
using morvane::test::ScopedEnv;
namespace fs = std::filesystem;

namespace {

std::optional<fs::path> passwordDatabaseHome() {
    const passwd* entry = ::getpwuid(::getuid());
    if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') return std::nullopt;
    return fs::path(entry->pw_dir);
}

}  // namespace

TEST(UserFolders, AnAbsoluteVariableWinsOverTheHomeFolder) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv base("MORVANE_TEST_BASE", "/elsewhere/base");
        EXPECT_EQ(userBaseFolder("MORVANE_TEST_BASE", ".cache"), fs::path("/elsewhere/base"));
    }
    // A relative or empty value is ignored, as is an absent one.
    for (const char* value : {"relative/base", "", static_cast<const char*>(nullptr)}) {
        ScopedEnv base("MORVANE_TEST_BASE", value);
        EXPECT_EQ(homeFolder(), fs::path("/home/someone"));
        EXPECT_EQ(userBaseFolder("MORVANE_TEST_BASE", ".local/share"), fs::path("/home/someone/.local/share"))
            << (value ? value : "(unset)");
    }
}

TEST(UserFolders, WithoutAUsableHomeVariableThePasswordDatabaseTells) {
    ScopedEnv base("MORVANE_TEST_BASE", nullptr);
    for (const char* value : {"relative/home", "", static_cast<const char*>(nullptr)}) {
        ScopedEnv home("HOME", value);
        const auto expected = passwordDatabaseHome();
        EXPECT_EQ(homeFolder(), expected) << (value ? value : "(unset)");
        if (expected) {
            EXPECT_EQ(userBaseFolder("MORVANE_TEST_BASE", ".config"), *expected / ".config");
        }
    }
}
