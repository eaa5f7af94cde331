// The application's shared library finds its folders through the standard settings store and the user's Movies
// folder. Both are pointed at a temporary home before anything reads them.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/defaults.h"
#include "shoot_library/shoot_library.h"
#include "shoot_test_support.h"

namespace morvane {
namespace {

TEST(SharedShootLibraryTest, UsesTheStandardSettingsAndMoviesFolder) {
    test::TempDir home;
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    test::writeFile(home / "config" / "user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Films\"\n");

    ShootLibrary& library = ShootLibrary::shared();
    EXPECT_EQ(&library, &ShootLibrary::shared());
    EXPECT_EQ(library.defaultFolder(), home / "Films" / "Brindlecroft");
    const auto day = library.folderURL(test::localDate(2024, 5, 1, 9, 0, 0));
    EXPECT_EQ(day, home / "Films" / "Brindlecroft" / "2024-05-01");
    EXPECT_TRUE(std::filesystem::is_directory(day));

    const auto chosen = home / "Elsewhere";
    std::filesystem::create_directories(chosen);
    Defaults::standard().set("shootFolderBookmark", chosen.string());
    EXPECT_EQ(library.defaultFolder(), chosen);
    EXPECT_TRUE(std::filesystem::exists(home / "config" / "Brindlecroft" / "defaults.json"));

    library.addCut("A", test::localDate(2024, 5, 1, 9, 0, 0));
    library.waitUntilIdle();
    EXPECT_TRUE(std::filesystem::exists(chosen / "2024-05-01" / ".quorbelin-shoot.json"));
}

}  // namespace
}  // namespace morvane
