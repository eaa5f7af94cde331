#include "platform/user_folders.h"

#include "platform/photo_library.h"
#include "scoped_env.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

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

TEST(UserFolders, ThePicturesFolderComesFromTheDesktopsUserFoldersFile) {
    morvane::test::TempDir temp;
    const fs::path config = temp / "config";
    fs::create_directories(config);
    ScopedEnv home("HOME", (temp / "home").c_str());
    ScopedEnv configHome("XDG_CONFIG_HOME", config.c_str());
    // The key is the file's, not the environment's: a variable of that name is no user folder.
    ScopedEnv variable("XDG_PICTURES_DIR", "/from/the/environment");

    struct Case {
        const char* file;
        fs::path expected;
    };
    const Case cases[] = {
        {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n", temp / "home" / "Bilder"},
        {"# written by xdg-user-dirs-update\nXDG_PICTURES_DIR=\"/srv/photos/\"\n", "/srv/photos"},
        {"XDG_PICTURES_DIR=\"$HOME/My \\\"Shots\\\"\"\n", temp / "home" / "My \"Shots\""},
        {"XDG_PICTURES_DIR=$HOME/Unquoted\n", temp / "home" / "Unquoted"},
        {"XDG_PICTURES_DIR=\"$HOME/First\"\nXDG_PICTURES_DIR=\"$HOME/Second\"\n", temp / "home" / "Second"},
        // Relative values, other keys and prefixes of the key fall back to Pictures in the home folder.
        {"XDG_PICTURES_DIR=\"relative/photos\"\n", temp / "home" / "Pictures"},
        {"XDG_PICTURES_DIRECTORY=\"/srv/other\"\nXDG_MUSIC_DIR=\"/srv/music\"\n", temp / "home" / "Pictures"},
        {"XDG_PICTURES_DIR=\"$HOMEWORK/photos\"\n", temp / "home" / "Pictures"},
        {"", temp / "home" / "Pictures"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::ofstream(config / "user-dirs.dirs", std::ios::trunc) << c.file;
        EXPECT_EQ(userDirectory("XDG_PICTURES_DIR", "Pictures"), c.expected);
        EXPECT_EQ(PhotoLibrary::defaultPicturesFolder(), c.expected);
    }

    // Without the file at all.
    fs::remove(config / "user-dirs.dirs");
    EXPECT_EQ(PhotoLibrary::defaultPicturesFolder(), temp / "home" / "Pictures");
}

// A take stored again (the camera ended after copying it and before letting go of it) is not copied twice; another
// file of the same name still gets a name of its own.
TEST(PhotoLibrary, TheSameBytesUnderTheSameNameAreNotCopiedTwice) {
    struct Row {
        const char* name;
        const char* there;  // what the library holds under the name already, if anything
        const char* added;
        const char* expected;  // the name the library gives back
        std::size_t files;     // files in the library afterwards
    };
    const std::vector<Row> rows = {
        {"an empty library", nullptr, "take", "Take.mov", 1},
        {"the same take again", "take", "take", "Take.mov", 1},
        {"another take of the same name", "take", "other", "Take 2.mov", 2},
        {"another take, the same size", "take", "tako", "Take 2.mov", 2},
        {"a longer take of the same name", "take", "take and more", "Take 2.mov", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir temp;
        PhotoLibrary library(temp.path() / "Pictures");
        fs::create_directories(library.folder());
        if (row.there) std::ofstream(library.folder() / "Take.mov") << row.there;
        fs::create_directories(temp.path() / "Recording");
        const fs::path recorded = temp.path() / "Recording" / "Take.mov";
        std::ofstream(recorded) << row.added;
        EXPECT_EQ(library.addVideo(recorded), library.folder() / row.expected);
        EXPECT_EQ(
            static_cast<std::size_t>(std::distance(fs::directory_iterator(library.folder()), fs::directory_iterator())),
            row.files);
        EXPECT_TRUE(fs::exists(recorded));
    }
}
