#include "platform/defaults.h"

#include "interrupted_write.h"
#include "scoped_env.h"
#include "temp_dir.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <set>
#include <thread>

using namespace morvane;
using morvane::test::namesIn;
using morvane::test::ScopedEnv;
using morvane::test::TempDir;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

}  // namespace

TEST(Defaults, AbsentKeysReadAsTheCallersDefault) {
    TempDir temp;
    Defaults d(temp / "defaults.json");
    EXPECT_TRUE(d.boolValue("deckLivePictures", true));
    EXPECT_FALSE(d.boolValue("showHistogram", false));
    EXPECT_EQ(d.doubleValue("zoom", 1.5), 1.5);
    EXPECT_EQ(d.integerValue("count", -4), -4);
    EXPECT_EQ(d.stringValue("voiceKeyword", "shutter"), "shutter");
    EXPECT_EQ(d.stringList("cameraOrder", Strings{"A"}), Strings{"A"});
    EXPECT_FALSE(d.value("x"));
    EXPECT_FALSE(d.contains("x"));
    EXPECT_FALSE(fs::exists(temp / "defaults.json"));  // reading writes nothing
}

TEST(Defaults, ValuesOfAnotherTypeReadAsTheDefault) {
    TempDir temp;
    Defaults d(temp / "defaults.json");
    d.set("flag", true);
    d.set("whole", 3);
    d.set("wholeDouble", 4.0);
    d.set("fraction", 2.5);
    d.set("text", "7");
    d.set("list", Strings{"a", "b"});
    d.setValue("mixedList", nlohmann::json::array({"a", 1}));
    d.set("emptyList", Strings{});
    d.set("huge", 1e19);

    // A bool is never a number, and nothing else is a bool.
    EXPECT_TRUE(d.boolValue("flag", false));
    EXPECT_EQ(d.doubleValue("flag", -1), -1);
    EXPECT_EQ(d.integerValue("flag", -1), -1);
    EXPECT_FALSE(d.boolValue("whole", false));
    EXPECT_TRUE(d.boolValue("text", true));

    // Whole numbers read as doubles; doubles read as integers only when whole and in range.
    EXPECT_EQ(d.integerValue("whole", -1), 3);
    EXPECT_EQ(d.doubleValue("whole", -1), 3.0);
    EXPECT_EQ(d.integerValue("wholeDouble", -1), 4);
    EXPECT_EQ(d.integerValue("fraction", -1), -1);
    EXPECT_EQ(d.doubleValue("fraction", -1), 2.5);
    EXPECT_EQ(d.integerValue("huge", -1), -1);
    EXPECT_EQ(d.doubleValue("huge", -1), 1e19);

    // Text is not a number, and a number is not text.
    EXPECT_EQ(d.integerValue("text", -1), -1);
    EXPECT_EQ(d.stringValue("text", "x"), "7");
    EXPECT_EQ(d.stringValue("whole", "x"), "x");

    EXPECT_EQ(d.stringList("list", Strings{"z"}), (Strings{"a", "b"}));
    EXPECT_EQ(d.stringList("mixedList", Strings{"z"}), Strings{"z"});
    EXPECT_EQ(d.stringList("text", Strings{"z"}), Strings{"z"});
    EXPECT_EQ(d.stringList("emptyList", Strings{"z"}), Strings{});
    EXPECT_EQ(d.stringValue("list", "x"), "x");

    EXPECT_EQ(d.value("list"), nlohmann::json::array({"a", "b"}));
    EXPECT_TRUE(d.contains("flag"));
}

TEST(Defaults, NumbersFromAFileKeepTheirRules) {
    TempDir temp;
    test::writeFile(temp / "defaults.json",
                    R"({"big": 18446744073709551615, "min": -9223372036854775808, "wholeDouble": 12.0,
                  "edge": 9223372036854775808.0, "negative": -3})");
    Defaults d(temp / "defaults.json");
    EXPECT_EQ(d.integerValue("big", 1), 1);  // does not fit
    EXPECT_EQ(d.doubleValue("big", 1), 18446744073709551615.0);
    EXPECT_EQ(d.integerValue("min", 1), std::numeric_limits<long long>::min());
    EXPECT_EQ(d.integerValue("wholeDouble", 1), 12);
    EXPECT_EQ(d.integerValue("edge", 1), 1);  // 2^63 does not fit
    EXPECT_EQ(d.integerValue("negative", 1), -3);
}

TEST(Defaults, ChangesArePersistedAsOneJsonObject) {
    TempDir temp;
    const fs::path file = temp / "config" / "Brindlecroft" / "defaults.json";
    {
        Defaults d(file);
        d.set("importsFiles", false);
        d.set("zoom", 2.0);
        d.set("cameraOrder", Strings{"Cam B", "Cam A"});
        d.set("shootFolderBookmark", std::string("/home/u/Movies/Shoot “1”"));
        d.set("gone", 1);
        d.remove("gone");
        d.set("nulled", 1);
        d.setValue("nulled", nullptr);
        d.remove("never-there");
    }
    const auto json = nlohmann::json::parse(test::readFile(file));
    ASSERT_TRUE(json.is_object());
    EXPECT_EQ(json.size(), 4u);

    Defaults reread(file);
    EXPECT_FALSE(reread.boolValue("importsFiles", true));
    EXPECT_EQ(reread.doubleValue("zoom", 0), 2.0);
    EXPECT_EQ(reread.integerValue("zoom", 0), 2);
    EXPECT_EQ(reread.stringList("cameraOrder", {}), (Strings{"Cam B", "Cam A"}));
    EXPECT_EQ(reread.stringValue("shootFolderBookmark", ""), "/home/u/Movies/Shoot “1”");
    EXPECT_FALSE(reread.contains("gone"));
    EXPECT_FALSE(reread.contains("nulled"));
    // Only the file itself stays in the folder: the temporary copies were renamed or removed.
    EXPECT_EQ(namesIn(file.parent_path()), std::set<std::string>{"defaults.json"});
}

TEST(Defaults, ACorruptFileIsKeptAsideAndTheStoreStartsEmpty) {
    TempDir temp;
    const fs::path file = temp / "defaults.json";
    for (const std::string& bad :
         {std::string("{\"showGrid\": tru"), std::string("[1, 2]"), std::string("42"), std::string("\xff\xfe{}", 4)}) {
        test::writeFile(file, bad);
        {
            Defaults d(file);
            EXPECT_FALSE(d.contains("showGrid"));
            EXPECT_TRUE(d.boolValue("showGrid", true));
            d.set("showGrid", false);
        }
        EXPECT_FALSE(Defaults(file).boolValue("showGrid", true));
        // The unreadable text is still there, beside the new file.
        std::string kept;
        for (const auto& name : namesIn(temp.path())) {
            if (name.rfind("defaults.json.corrupt-", 0) == 0) {
                kept = test::readFile(temp / name);
                fs::remove(temp / name);
            }
        }
        EXPECT_EQ(kept, bad);
        fs::remove(file);
    }
    // An empty file holds nothing and is not worth keeping.
    test::writeFile(file, "");
    EXPECT_FALSE(Defaults(file).contains("x"));
    EXPECT_EQ(namesIn(temp.path()), std::set<std::string>{"defaults.json"});
}

TEST(Defaults, RefusesValuesJsonCannotHold) {
    TempDir temp;
    const fs::path file = temp / "defaults.json";
    Defaults d(file);
    d.set("zoom", 2.0);
    d.set("zoom", std::nan(""));
    d.set("zoom", std::numeric_limits<double>::infinity());
    d.setValue("list", nlohmann::json::array({1.0, std::numeric_limits<double>::quiet_NaN()}));
    d.set("name", std::string("bad \xc3\x28 text"));
    EXPECT_EQ(d.doubleValue("zoom", 0), 2.0);
    EXPECT_FALSE(d.contains("list"));
    EXPECT_FALSE(d.contains("name"));
    // Later changes are still saved.
    d.set("after", true);
    Defaults reread(file);
    EXPECT_EQ(reread.doubleValue("zoom", 0), 2.0);
    EXPECT_TRUE(reread.boolValue("after", false));
}

TEST(Defaults, AFailedSaveKeepsWorkingInMemory) {
    TempDir temp;
    test::writeFile(temp / "blocker", "a file where a folder should be");
    Defaults d(temp / "blocker" / "defaults.json");
    d.set("showLevel", true);
    EXPECT_TRUE(d.boolValue("showLevel", false));
    EXPECT_EQ(test::readFile(temp / "blocker"), "a file where a folder should be");
}

TEST(Defaults, ASaveCutShortByTheEndOfTheProcessIsClearedAtTheNextStart) {
    TempDir temp;
    const fs::path file = temp / "defaults.json";
    {
        Defaults d(file);
        d.set("showGrid", true);
    }
    const auto leftover = test::leaveInterruptedWrite(file);
    ASSERT_TRUE(leftover);
    Defaults d(file);
    EXPECT_FALSE(fs::exists(*leftover));
    EXPECT_EQ(namesIn(temp.path()), (std::set<std::string>{"defaults.json"}));
}

TEST(Defaults, ConcurrentUseLosesNothing) {
    TempDir temp;
    const fs::path file = temp / "defaults.json";
    Defaults d(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&d, t] {
            for (int i = 0; i < 25; ++i) {
                const std::string key = "k" + std::to_string(t) + "-" + std::to_string(i);
                d.set(key, static_cast<long long>(i));
                EXPECT_EQ(d.integerValue(key, -1), i);
                (void)d.stringList("k0-0", {});
            }
        });
    }
    for (auto& t : threads) t.join();
    Defaults reread(file);
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 25; ++i) {
            EXPECT_EQ(reread.integerValue("k" + std::to_string(t) + "-" + std::to_string(i), -1), i);
        }
    }
}

TEST(Defaults, StandardStoreLivesInTheConfigHome) {
    // The store is made once per process, so the folder must outlive a single test run.
    static TempDir temp;
    ScopedEnv config("XDG_CONFIG_HOME", temp.path().c_str());
    Defaults& standard = Defaults::standard();
    EXPECT_EQ(&standard, &Defaults::standard());
    EXPECT_EQ(standard.file(), temp / "Brindlecroft" / "defaults.json");
    standard.set("useVault", true);
    EXPECT_TRUE(Defaults(temp / "Brindlecroft" / "defaults.json").boolValue("useVault", false));
}
