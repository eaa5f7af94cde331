#include <gtest/gtest.h>

#include <random>

#include "shoot_library/shoot_library.h"
#include "shoot_test_support.h"

namespace morvane {
namespace {

using Day = ShootLibrary::Day;

Day sampleDay() {
    Day day;
    ShootLibrary::Clip full;
    full.file = "Take 01 \u2013 10.00.00 \u2013 A.mov";
    full.camera = "A";
    full.start = Date{786'000'000.25};
    full.duration = 12.5;
    full.isVideo = true;
    full.take = 1;
    full.frameRate = 30;
    full.ntsc = true;
    full.width = 1920;
    full.height = 1080;
    full.timecodeFrame = 1'294'705;
    full.hasAudio = false;
    ShootLibrary::Clip photo;
    photo.file = "Photo \u2013 10.00.05 \u2013 B.heic";
    photo.camera = "B";
    photo.start = Date{786'000'005};
    day.clips = {full, photo};
    day.markers = {{1, Date{786'000'001.5}, {"A", "B \"quoted\""}}, {7, Date{786'000'003}, {}}};
    day.cuts = {{"A", Date{786'000'000.5}}, {"B", Date{786'000'002}}};
    DeckEdit edit;
    edit.id = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    edit.name = "Take 1";
    edit.exportedAt = Date{786'100'000};
    edit.pieces = {{"A", Date{786'000'000}, Date{786'000'004}}, {"B", Date{786'000'004}, Date{786'000'009}}};
    edit.sound = DeckEdit::Sound::Camera{"B"};
    day.deckEdits = {edit};
    return day;
}

TEST(ManifestTest, RoundTripsEveryField) {
    const Day day = sampleDay();
    const auto text = ShootLibrary::encodeManifest(day);
    ASSERT_TRUE(text);
    EXPECT_EQ(ShootLibrary::decodeManifest(*text), day);
}

TEST(ManifestTest, IsPrettyPrintedWithSortedKeysAndWithoutAbsentFields) {
    Day day;
    ShootLibrary::Clip photo;
    photo.file = "p.heic";
    photo.camera = "B";
    photo.start = Date{10.5};
    day.clips = {photo};
    const std::string text = *ShootLibrary::encodeManifest(day);
    EXPECT_EQ(text,
              "{\n"
              "  \"clips\": [\n"
              "    {\n"
              "      \"camera\": \"B\",\n"
              "      \"duration\": 0,\n"
              "      \"file\": \"p.heic\",\n"
              "      \"isVideo\": false,\n"
              "      \"start\": 10.5,\n"
              "      \"take\": 0\n"
              "    }\n"
              "  ],\n"
              "  \"cuts\": [],\n"
              "  \"deckEdits\": [],\n"
              "  \"markers\": []\n"
              "}\n");
}

TEST(ManifestTest, MissingOrNullListsAreEmpty) {
    const auto day = ShootLibrary::decodeManifest(
        R"({"clips":[{"file":"a.mov","camera":"A","start":1,"duration":2,"isVideo":true,"take":1}],
            "markers":[{"number":1,"date":3,"cameras":["A"]}],"cuts":null})");
    ASSERT_TRUE(day);
    EXPECT_EQ(day->clips.size(), 1u);
    EXPECT_EQ(day->markers.size(), 1u);
    EXPECT_TRUE(day->cuts.empty());
    EXPECT_TRUE(day->deckEdits.empty());
    // The optional clip fields stay absent and are written back without their keys.
    EXPECT_FALSE(day->clips[0].frameRate || day->clips[0].ntsc || day->clips[0].width || day->clips[0].height ||
                 day->clips[0].timecodeFrame || day->clips[0].hasAudio);
    const std::string text = *ShootLibrary::encodeManifest(*day);
    for (const char* key : {"frameRate", "ntsc", "width", "height", "timecodeFrame", "hasAudio"})
        EXPECT_EQ(text.find(key), std::string::npos) << key;
    EXPECT_TRUE(ShootLibrary::decodeManifest("{}"));
}

TEST(ManifestTest, MalformedManifestsAreRejectedWhole) {
    const char* bad[] = {
        R"({"clips":[{"file":"a.mov","camera":"A","start":1,"duration":2,"isVideo":true}]})",  // no take
        R"({"clips":[{"file":"a.mov","camera":"A","start":1,"duration":2,"isVideo":1,"take":1}]})",
        R"({"clips":[{"file":"a.mov","camera":"A","start":1,"duration":"2","isVideo":true,"take":1}]})",
        R"({"clips":[{"file":"a.mov","camera":"A","start":1,"duration":2,"isVideo":true,"take":1.5}]})",
        R"({"markers":[{"number":1,"date":3}]})",
        R"({"markers":[{"number":1,"date":3,"cameras":[1]}]})",
        R"({"cuts":[{"camera":"A"}]})",
        R"({"deckEdits":[{"id":"nope","name":"x","exportedAt":1,"pieces":[],"sound":{"mix":{}}}]})",
        R"({"deckEdits":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"x","exportedAt":1,"pieces":[],
            "sound":{"mix":{},"followPicture":{}}}]})",
        R"({"clips":{}})",
        R"([])",
        R"({"clips":[)",
        "",
    };
    for (const char* text : bad) EXPECT_FALSE(ShootLibrary::decodeManifest(text)) << text;
}

TEST(ManifestTest, TimecodeFramesBeyondATimecodeTrackAreMalformed) {
    const auto manifest = [](const std::string& frame) {
        return R"({"clips":[{"file":"a.mov","camera":"A","start":786000000,"duration":2,"isVideo":true,"take":1,)"
               R"("frameRate":30,"ntsc":true,"timecodeFrame":)" +
               frame + "}]}";
    };
    const struct {
        const char* frame;
        bool accepted;
    } cases[] = {
        {"0", true},
        {"2147483647", true},
        {"-2147483648", true},
        {"2147483648", false},
        {"-2147483649", false},
        {"9000000000000000000", false},  // once overflowed the FCPXML times (× 1001)
    };
    for (const auto& c : cases) {
        const auto day = ShootLibrary::decodeManifest(manifest(c.frame));
        EXPECT_EQ(day.has_value(), c.accepted) << c.frame;
        if (!day) continue;
        const std::string xml = ShootLibrary::dayFCPXML("2024-11-27", *day, "/shoot", day->clips);
        EXPECT_NE(xml.find("start=\"" + std::to_string(std::stoll(c.frame) * 1001) + "/30000s\""), std::string::npos)
            << c.frame;
    }
}

TEST(ManifestTest, DatesReadAsNumbersOrInternetDateTimes) {
    struct Case {
        const char* json;
        std::optional<double> unix;
    };
    const Case cases[] = {
        {"0", Date::unixOffset},
        {"-1.5", Date::unixOffset - 1.5},
        {"\"2001-01-01T00:00:00Z\"", Date::unixOffset},
        {"\"2024-05-01T10:00:00Z\"", 1714557600.0},
        {"\"2024-05-01T10:00:00.250Z\"", 1714557600.25},
        {"\"2024-05-01T12:00:00+02:00\"", 1714557600.0},
        {"\"2024-02-29T00:00:00Z\"", 1709164800.0},
        {"\"2023-02-29T00:00:00Z\"", std::nullopt},
        {"\"2024-05-01 10:00:00Z\"", std::nullopt},
        {"\"2024-05-01T10:00:00\"", std::nullopt},
        {"\"2024-05-01T10:00:00.Z\"", std::nullopt},
        {"\"yesterday\"", std::nullopt},
        {"true", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto date = ShootLibrary::decodeDate(nlohmann::json::parse(c.json), &error);
        if (c.unix) {
            ASSERT_TRUE(date) << c.json << ": " << error;
            EXPECT_NEAR(date->unixSeconds(), *c.unix, 1e-6) << c.json;
        } else {
            EXPECT_FALSE(date) << c.json;
        }
    }
    std::string error;
    EXPECT_FALSE(ShootLibrary::decodeDate(nlohmann::json("yesterday"), &error));
    EXPECT_EQ(error, "Unreadable date yesterday");
}

TEST(ManifestTest, TextDatesAreAcceptedEverywhere) {
    const auto day = ShootLibrary::decodeManifest(R"({
        "clips":[{"file":"a.mov","camera":"A","start":"2024-05-01T10:00:00Z","duration":2,"isVideo":true,"take":1}],
        "markers":[{"number":1,"date":"2024-05-01T10:00:01.5Z","cameras":[]}],
        "cuts":[{"camera":"A","at":"2024-05-01T10:00:00Z"}],
        "deckEdits":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"x","exportedAt":"2024-05-01T11:00:00Z",
                      "pieces":[{"camera":"A","from":"2024-05-01T10:00:00Z","to":12.5}],"sound":{"mix":{}}}]})");
    ASSERT_TRUE(day);
    EXPECT_DOUBLE_EQ(day->clips[0].start.unixSeconds(), 1714557600.0);
    EXPECT_DOUBLE_EQ(day->markers[0].date.unixSeconds(), 1714557601.5);
    EXPECT_DOUBLE_EQ(day->cuts[0].at.unixSeconds(), 1714557600.0);
    EXPECT_DOUBLE_EQ(day->deckEdits[0].exportedAt.unixSeconds(), 1714561200.0);
    EXPECT_DOUBLE_EQ(day->deckEdits[0].pieces[0].to.secondsSinceReferenceDate, 12.5);

    std::string error;
    EXPECT_FALSE(ShootLibrary::decodeManifest(R"({"cuts":[{"camera":"A","at":"noon"}]})", &error));
    EXPECT_EQ(error, "Unreadable date noon");
}

TEST(ManifestTest, NamesThatAreNotUTF8StillEncode) {
    Day day;
    day.markers = {{1, Date{1}, {"bad\xFF"}}};
    const auto text = ShootLibrary::encodeManifest(day);
    ASSERT_TRUE(text);
    const auto back = ShootLibrary::decodeManifest(*text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->markers[0].cameras[0], "bad\xEF\xBF\xBD");
}

TEST(ManifestTest, HostileTextNeverCrashes) {
    const std::string valid = *ShootLibrary::encodeManifest(sampleDay());
    std::mt19937 random(1234);
    for (int round = 0; round < 2000; ++round) {
        std::string text = valid;
        switch (round % 4) {
            case 0:
                text.resize(random() % text.size());
                break;
            case 1:
                for (int k = 0; k < 4; ++k) text[random() % text.size()] = static_cast<char>(random());
                break;
            case 2:
                text = std::string(1 + random() % 5000, '[') + text;
                break;
            default:
                text.insert(random() % text.size(), "{\"clips\":null}");
                break;
        }
        (void)ShootLibrary::decodeManifest(text);
    }
}

}  // namespace
}  // namespace morvane
