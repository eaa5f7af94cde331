#include <gtest/gtest.h>

#include <string>

#include "protocol/camera_status.h"
#include "protocol/message_codec.h"
#include "wire_samples.h"

namespace morvane {
namespace {

const std::string fullStatusJson =
    R"({"aperture":2.8,"apertureStops":[1.8,2.8,4],"audioInput":"usb-1","audioInputs":[{"id":"builtin","nam)"
    R"(e":"Built-in Microphone"},{"id":"usb-1","name":"USB Mic"}],"battery":0.8,"charging":true,"clipping":)"
    R"(true,"codec":"proRes422HQ","colorProfile":"appleLog","countdown":2,"customLUTName":"Film Look","deck)"
    R"(CopiesPreparing":1,"deckCopiesWaiting":2,"deckCopyProgress":0.5,"dimmed":true,"exposure":{"manual":{)"
    R"("iso":400,"shutter":0.02}},"exposureBias":-0.3,"externalDrive":{"freeBytes":500000000000,"name":"T7")"
    R"(,"warning":"Drive almost full"},"falseColor":true,"focus":{"manual":{"lensPosition":0.25}},"formats")"
    R"(:[{"colorFrameRates":{"appleLog2":[24],"hdr":[24,30]},"frameRates":[24,25,30],"logFrameRates":[24,30)"
    R"(],"resolution":{"height":2160,"width":3840}},{"frameRates":[24,30,60],"logFrameRates":[],"resolution)"
    R"(":{"height":1080,"width":1920}}],"frameRate":24,"freeBytes":123456789012,"isFrontCamera":true,"isRec)"
    R"(ording":true,"lenses":[0.5,1,2],"linkDelayMs":42,"liveAperture":1.8,"liveISO":640,"liveShutter":0.01)"
    R"(,"loupe":true,"loupeContours":false,"maxISO":3200,"maxShutter":0.5,"maxZoom":15,"minISO":32,"minShut)"
    R"(ter":0.0001,"mode":"video","ntsc":true,"peaking":true,"peakingLevel":"high","pendingTransfers":3,"po)"
    R"(rtrait":true,"previewLUT":"custom","proResCodecs":["proRes422HQ","proRes422"],"program":"Camera B",")"
    R"(recordToDrive":true,"recordingElapsed":12.5,"resolution":{"height":2160,"width":3840},"scope":2,"shu)"
    R"(tterAngle":172.8,"stabilization":"cinematic","stabilizationModes":["standard","cinematic"],"supports)"
    R"(ManualFocus":true,"supportsManualWhiteBalance":true,"supportsPortrait":true,"thermal":2,"timerSecond)"
    R"(s":3,"transferName":"Take 01.mov","transferProgress":0.25,"transfersPaused":true,"usbConnected":true)"
    R"(,"whiteBalance":{"manual":{"kelvin":5600,"tint":-3.5}},"zebras":true,"zoom":2})";

Bytes statusPacket(const std::string& json) {
    Bytes packet{packetTypeByte(PacketType::status)};
    packet.insert(packet.end(), json.begin(), json.end());
    return packet;
}

TEST(CameraStatusJson, FullStatusMatchesItsGoldenTextAndReadsBackStrictly) {
    auto text = encodeJsonText(samples::fullStatus());
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, fullStatusJson);
    std::string error;
    auto back = decodeJsonText<CameraStatus>(fullStatusJson, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, samples::fullStatus());
}

TEST(CameraStatusJson, DefaultsAreThoseTheCamerasRelyOn) {
    CameraStatus s;
    EXPECT_EQ(s.mode, CaptureMode::photo);
    EXPECT_EQ(s.timerSeconds, 0);
    EXPECT_EQ(s.lenses, std::vector<double>{1.0});
    EXPECT_EQ(s.zoom, 1.0);
    EXPECT_EQ(s.maxZoom, 1.0);
    EXPECT_TRUE(s.loupeContours);
    EXPECT_EQ(s.resolution, (Resolution{1920, 1080}));
    EXPECT_EQ(s.frameRate, 30);
    EXPECT_EQ(s.colorProfile, ColorProfile::standard);
    EXPECT_EQ(s.previewLUT, PreviewLUT::none);
    EXPECT_TRUE(s.whiteBalance.is<WhiteBalance::Auto>());
    EXPECT_TRUE(s.focus.is<FocusSetting::Auto>());
    EXPECT_TRUE(s.exposure.is<ExposureSetting::Auto>());
    EXPECT_EQ(s.peakingLevel, PeakingLevel::medium);
    EXPECT_EQ(s.scope, ScopeKind::off);
    EXPECT_EQ(s.stabilization, Stabilization::off);
    EXPECT_EQ(s.codec, VideoCodec::hevc);
    EXPECT_EQ(s.audioInput, "auto");
    EXPECT_EQ(s.deckCopiesPreparing, 0);
    EXPECT_EQ(s.deckCopiesWaiting, 0);
    EXPECT_FALSE(s.countdown || s.recordingElapsed || s.aperture || s.externalDrive || s.battery ||
                 s.transferProgress || s.program || s.deckCopyProgress);

    // The default status leaves every optional out and reads back equal.
    auto packet = encodeMessage(PacketType::status, s);
    ASSERT_TRUE(packet);
    auto json = Json::parse(packet->begin() + 1, packet->end());
    EXPECT_FALSE(json.contains("countdown"));
    EXPECT_FALSE(json.contains("externalDrive"));
    EXPECT_EQ(json.size(), 53u);  // the non-optional fields
    auto back = decodeMessage<CameraStatus>(*packet);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, s);
}

TEST(CameraStatusJson, MissingFieldsFallBackToTheDefaults) {
    std::string error;
    EXPECT_FALSE(decodeJsonText<CameraStatus>(R"({"isRecording":true})", &error)) << "strict reading needs every field";
    EXPECT_NE(error.find("mode"), std::string::npos) << error;

    auto status =
        decodeMessage<CameraStatus>(statusPacket(R"({"isRecording":true,"recordingElapsed":12,"mode":"video"})"));
    ASSERT_TRUE(status);
    CameraStatus expected;
    expected.isRecording = true;
    expected.recordingElapsed = 12;
    expected.mode = CaptureMode::video;
    EXPECT_EQ(*status, expected);

    // An older camera without the deck-copy keys.
    Json full = Json::parse(fullStatusJson);
    full.erase("deckCopiesPreparing");
    full.erase("deckCopiesWaiting");
    full.erase("deckCopyProgress");
    status = decodeMessage<CameraStatus>(statusPacket(full.dump()));
    ASSERT_TRUE(status);
    CameraStatus older = samples::fullStatus();
    older.deckCopiesPreparing = 0;
    older.deckCopiesWaiting = 0;
    older.deckCopyProgress.reset();
    EXPECT_EQ(*status, older);

    auto empty = decodeMessage<CameraStatus>(statusPacket("{}"));
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, CameraStatus{});
}

TEST(CameraStatusJson, OneMalformedFieldDropsTheWholeStatus) {
    struct Case {
        const char* key;
        Json value;
    };
    const Case cases[] = {
        {"zoom", "big"},
        {"whiteBalance", Json::parse(R"({"auto":{},"manual":{}})")},
        {"lenses", Json::parse(R"([1, "2"])")},
        {"exposureBias", 1e39},
        {"isRecording", 1},
        {"isRecording", "yes"},
        {"isRecording", nullptr},
        {"formats", Json::parse(R"([{"resolution":{"width":1}}])")},
        {"externalDrive", Json::parse(R"({"name":"T7"})")},
        {"scope", 7},
        {"deckCopiesWaiting", -1.5},
        {"mode", nullptr},
        {"recordingElapsed", "12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + c.value.dump());
        Json j = Json::parse(fullStatusJson);
        j[c.key] = c.value;
        EXPECT_FALSE(decodeJsonText<CameraStatus>(j.dump()));
        // Resetting the one field would show a recording camera as stopped: the report is dropped instead.
        EXPECT_FALSE(decodeMessage<CameraStatus>(statusPacket(j.dump())));
        // The same field malformed in a report that also leaves fields out: dropped as well.
        Json partial = Json::object();
        partial["mode"] = "video";
        partial[c.key] = c.value;
        EXPECT_FALSE(decodeMessage<CameraStatus>(statusPacket(partial.dump())));
    }
}

TEST(CameraStatusJson, NullOptionalsAndUnknownKeysAreAccepted) {
    Json j = Json::parse(fullStatusJson);
    j["countdown"] = nullptr;
    j["externalDrive"] = nullptr;
    j["futureField"] = Json::parse(R"({"nested":[1,2,3]})");
    auto status = decodeJsonText<CameraStatus>(j.dump());
    ASSERT_TRUE(status);
    EXPECT_FALSE(status->countdown);
    EXPECT_FALSE(status->externalDrive);
    EXPECT_EQ(status->program, "Camera B");
}

TEST(CameraStatusJson, PacketsThatAreNotAStatusObjectAreDropped) {
    const std::string notObjects[] = {
        "", "[]", "null", "42", R"("status")", "{", R"({"mode":"video")", "{\"mode\":\"vid\xff\"}"};
    for (const auto& payload : notObjects) {
        EXPECT_FALSE(decodeMessage<CameraStatus>(statusPacket(payload))) << payload;
    }
    EXPECT_FALSE(decodeMessage<CameraStatus>(Bytes{}));
}

TEST(CameraStatusJson, NonFiniteReadingsFailTheEncoding) {
    auto s = samples::fullStatus();
    s.liveISO = NAN;
    EXPECT_FALSE(encodeMessage(PacketType::status, s));
    s = samples::fullStatus();
    s.battery = INFINITY;
    EXPECT_FALSE(encodeMessage(PacketType::status, s));
    s = samples::fullStatus();
    s.lenses.push_back(std::nan(""));
    EXPECT_FALSE(encodeJsonText(s));
}

}  // namespace
}  // namespace morvane
