#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "protocol/camera_command.h"
#include "protocol/message_codec.h"
#include "wire_samples.h"

namespace morvane {
namespace {

using CC = CameraCommand;

struct Golden {
    CameraCommand command;
    std::string json;
};

std::vector<Golden> goldenCommands() {
    const std::string a = samples::idA;
    const std::string b = samples::idB;
    return {
        {CC::SetMode{CaptureMode::video}, R"({"setMode":{"_0":"video"}})"},
        {CC::SetTimer{10}, R"({"setTimer":{"seconds":10}})"},
        {CC::SetExposureBias{0.3f}, R"({"setExposureBias":{"_0":0.3}})"},
        {CC::SetZoom{2.5, true}, R"({"setZoom":{"_0":2.5,"smooth":true}})"},
        {CC::SwitchCamera{}, R"({"switchCamera":{}})"},
        {CC::Shutter{}, R"({"shutter":{}})"},
        {CC::StartRecording{}, R"({"startRecording":{}})"},
        {CC::StopRecording{}, R"({"stopRecording":{}})"},
        {CC::SetFormat{{3840, 2160}, 25}, R"({"setFormat":{"_0":{"height":2160,"width":3840},"frameRate":25}})"},
        {CC::SetFrameRate{30, true}, R"({"setFrameRate":{"_0":30,"ntsc":true}})"},
        {CC::SetColorProfile{ColorProfile::hdr}, R"({"setColorProfile":{"_0":"hdr"}})"},
        {CC::SetStabilization{Stabilization::standard}, R"({"setStabilization":{"_0":"standard"}})"},
        {CC::SetCodec{VideoCodec::proRes4444XQ}, R"({"setCodec":{"_0":"proRes4444XQ"}})"},
        {CC::SetRecordToDrive{true}, R"({"setRecordToDrive":{"_0":true}})"},
        {CC::SetPreviewLUT{PreviewLUT::appleLog2ToRec709}, R"({"setPreviewLUT":{"_0":"appleLog2ToRec709"}})"},
        {CC::LoadCustomLUT{"Film", 2, Bytes{0x00, 0x00, 0x80, 0x3F}},
         R"({"loadCustomLUT":{"data":"AACAPw==","name":"Film","size":2}})"},
        {CC::SetWhiteBalance{WhiteBalance::Auto{}}, R"({"setWhiteBalance":{"_0":{"auto":{}}}})"},
        {CC::SetWhiteBalance{WhiteBalance::Manual{3200, 10}},
         R"({"setWhiteBalance":{"_0":{"manual":{"kelvin":3200,"tint":10}}}})"},
        {CC::SetFocusMode{FocusSetting::Locked{}}, R"({"setFocusMode":{"_0":{"locked":{}}}})"},
        {CC::SetFocusMode{FocusSetting::Auto{}}, R"({"setFocusMode":{"_0":{"auto":{}}}})"},
        {CC::SetFocusMode{FocusSetting::Manual{0.5f}}, R"({"setFocusMode":{"_0":{"manual":{"lensPosition":0.5}}}})"},
        {CC::SetPortrait{false}, R"({"setPortrait":{"_0":false}})"},
        {CC::SetExposureMode{ExposureSetting::Auto{}}, R"({"setExposureMode":{"_0":{"auto":{}}}})"},
        {CC::SetExposureMode{ExposureSetting::Manual{800, 0.004}},
         R"({"setExposureMode":{"_0":{"manual":{"iso":800,"shutter":0.004}}}})"},
        {CC::SetManualAngle{400, 172.8}, R"({"setManualAngle":{"angle":172.8,"iso":400}})"},
        {CC::SetAperture{}, R"({"setAperture":{}})"},
        {CC::SetAperture{2.8f}, R"({"setAperture":{"_0":2.8}})"},
        {CC::SetDimmed{true}, R"({"setDimmed":{"_0":true}})"},
        {CC::SetAids{ExposureAids{true, true, PeakingLevel::low, false, true, ScopeKind::waveform}},
         R"({"setAids":{"_0":{"clipping":true,"falseColor":false,"peaking":true,"peakingLevel":"low","scope":1,)"
         R"("zebras":true}}})"},
        {CC::SetLoupe{true, false}, R"({"setLoupe":{"contours":false,"on":true}})"},
        {CC::SetAudioInput{"usb-1"}, R"({"setAudioInput":{"_0":"usb-1"}})"},
        {CC::DeleteCaptures{{samples::uuid(samples::idA), samples::uuid(samples::idB)}},
         R"({"deleteCaptures":{"_0":[")" + a + R"(",")" + b + R"("]}})"},
        {CC::MonitorHello{true}, R"({"monitorHello":{"acceptsFiles":true}})"},
        {CC::MasterHello{}, R"({"masterHello":{}})"},
        {CC::DeckHello{}, R"({"deckHello":{}})"},
        {CC::DeckStopAutoCopies{}, R"({"deckStopAutoCopies":{}})"},
        {CC::RequestGallery{}, R"({"requestGallery":{}})"},
        {CC::DeckEdit{samples::deckEdit()},
         R"({"deckEdit":{"_0":{"exportedAt":726000100,"id":")" + b +
             R"(","name":"Take 3 edit","pieces":[{"camera":"Camera A","from":726000000,"to":726000010.5},)"
             R"({"camera":"Camera B","from":726000010.5,"to":726000020}],"sound":{"camera":{"_0":"Camera A"}}}}})"},
        {CC::SetVideo{false}, R"({"setVideo":{"_0":false}})"},
        {CC::SetStreamSize{1280}, R"({"setStreamSize":{"_0":1280}})"},
        {CC::SetStreamBitRate{6000000}, R"({"setStreamBitRate":{"_0":6000000}})"},
        {CC::ProgramCut{"Camera B"}, R"({"programCut":{"camera":"Camera B"}})"},
        {CC::ProgramCut{"Camera B", Date{726000000.25}}, R"({"programCut":{"at":726000000.25,"camera":"Camera B"}})"},
        {CC::RequestDeckCopies{Date{726000000.5}}, R"({"requestDeckCopies":{"since":726000000.5}})"},
        {CC::RequestDeckCopiesOf{{samples::uuid(samples::idA)}}, R"({"requestDeckCopiesOf":{"_0":[")" + a + R"("]}})"},
        {CC::Focus{0.25, 0.75}, R"({"focus":{"x":0.25,"y":0.75}})"},
        {CC::RequestPreview{samples::uuid(samples::idA)}, R"({"requestPreview":{"_0":")" + a + R"("}})"},
        {CC::SetTransfersPaused{true}, R"({"setTransfersPaused":{"_0":true}})"},
    };
}

TEST(CameraCommandJson, EveryCaseEncodesToItsGoldenTextAndReadsBack) {
    std::set<std::size_t> covered;
    for (const auto& golden : goldenCommands()) {
        SCOPED_TRACE(golden.json);
        covered.insert(golden.command.value.index());
        auto text = encodeJsonText(golden.command);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, golden.json);
        std::string error;
        auto back = decodeJsonText<CameraCommand>(golden.json, &error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(*back, golden.command);
        EXPECT_EQ(std::string(back->caseName()), Json::parse(golden.json).begin().key());
    }
    EXPECT_EQ(covered.size(), std::variant_size_v<CameraCommand::Value>) << "a command case has no golden text";
}

TEST(CameraCommandJson, CommandPacketIsKindFiveFollowedByJson) {
    auto packet = encodeMessage(PacketType::command, CameraCommand{CC::Shutter{}});
    ASSERT_TRUE(packet);
    std::string expected = std::string("\x05") + R"({"shutter":{}})";
    EXPECT_EQ(std::string(packet->begin(), packet->end()), expected);
    auto back = decodeMessage<CameraCommand>(*packet);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->is<CC::Shutter>());
}

TEST(CameraCommandJson, TaggedUnionWithOtherThanOneKeyFailsWithTheStandardText) {
    for (const char* text : {R"({})", R"({"shutter":{},"stopRecording":{}})"}) {
        std::string error;
        EXPECT_FALSE(decodeJsonText<CameraCommand>(text, &error)) << text;
        EXPECT_EQ(error, "Invalid number of keys found, expected one.") << text;
    }
    std::string error;
    EXPECT_FALSE(decodeJsonText<WhiteBalance>(R"({"auto":{},"manual":{"kelvin":1,"tint":2}})", &error));
    EXPECT_EQ(error, invalidKeyCountMessage);
    EXPECT_FALSE(decodeJsonText<FocusSetting>(R"({})", &error));
    EXPECT_EQ(error, invalidKeyCountMessage);
    EXPECT_FALSE(decodeJsonText<ExposureSetting>(R"({"a":{},"b":{}})", &error));
    EXPECT_EQ(error, invalidKeyCountMessage);
    EXPECT_FALSE(decodeJsonText<DeckEdit::Sound>(R"({"mix":{},"followPicture":{}})", &error));
    EXPECT_EQ(error, invalidKeyCountMessage);
}

TEST(CameraCommandJson, MalformedCommandsAreRefused) {
    const char* bad[] = {
        R"({"launchRockets":{}})",                  // unknown case
        R"({"shutter":true})",                      // payload not an object
        R"(["shutter"])",                           // not an object
        R"({"setZoom":{"smooth":true}})",           // missing unlabelled value
        R"({"setZoom":{"_0":"2","smooth":true}})",  // number as text
        R"({"setVideo":{"_0":1}})",                 // Bool as number
        R"({"setTimer":{"seconds":2.5}})",          // fraction for an Int
        R"({"setTimer":{"seconds":1e30}})",         // beyond Int64
        R"({"setStreamSize":{"_0":9223372036854775808}})",
        R"({"setExposureBias":{"_0":1e39}})",     // beyond Float
        R"({"setMode":{"_0":"panorama"}})",       // unknown enum case
        R"({"setAids":{"_0":{"zebras":true}}})",  // record with missing fields
        R"({"setAids":{"_0":{"clipping":true,"falseColor":false,"peaking":true,"peakingLevel":"low","scope":3,"zebras":true}}})",
        R"({"requestPreview":{"_0":"not-a-uuid"}})",
        R"({"loadCustomLUT":{"data":"AACAP","name":"x","size":1}})",  // bad Base64
        R"({"requestDeckCopies":{"since":null}})",
        R"({"setMode":{"_0":"video"})",  // truncated text
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(decodeJsonText<CameraCommand>(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(CameraCommandJson, ReadingIsLenientWhereTheStandardDecoderIs) {
    // Unknown labels are ignored, whole numbers may carry a fraction, UUIDs may be lower case, an absent or
    // null optional is automatic aperture.
    auto zoom = decodeJsonText<CameraCommand>(R"({"setZoom":{"_0":3,"smooth":false,"extra":[1,2]}})");
    ASSERT_TRUE(zoom);
    EXPECT_EQ(*zoom, CameraCommand(CC::SetZoom{3.0, false}));
    auto timer = decodeJsonText<CameraCommand>(R"({"setTimer":{"seconds":10.0}})");
    ASSERT_TRUE(timer);
    EXPECT_EQ(timer->as<CC::SetTimer>()->seconds, 10);
    auto preview = decodeJsonText<CameraCommand>(R"({"requestPreview":{"_0":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"}})");
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->as<CC::RequestPreview>()->id, samples::uuid(samples::idA));
    auto aperture = decodeJsonText<CameraCommand>(R"({"setAperture":{"_0":null}})");
    ASSERT_TRUE(aperture);
    EXPECT_FALSE(aperture->as<CC::SetAperture>()->aperture);
    auto scopeByName = decodeJsonText<ExposureAids>(
        R"({"clipping":false,"falseColor":false,"peaking":false,"peakingLevel":"medium","scope":"parade","zebras":false})");
    ASSERT_TRUE(scopeByName);
    EXPECT_EQ(scopeByName->scope, ScopeKind::parade);
}

TEST(CameraCommandJson, NonFiniteNumbersFailTheEncoding) {
    EXPECT_FALSE(encodeMessage(PacketType::command, CameraCommand{CC::SetZoom{std::nan(""), true}}));
    EXPECT_FALSE(encodeMessage(PacketType::command, CameraCommand{CC::SetExposureBias{INFINITY}}));
    EXPECT_FALSE(encodeMessage(PacketType::command, CameraCommand{CC::Focus{0.5, -INFINITY}}));
    EXPECT_FALSE(encodeMessage(PacketType::command, CameraCommand{CC::RequestDeckCopies{Date{NAN}}}));
    EXPECT_FALSE(encodeMessage(PacketType::command, CameraCommand{CC::SetWhiteBalance{WhiteBalance::Manual{NAN, 0}}}));
    // Text that is not UTF-8 cannot be written as JSON either.
    EXPECT_FALSE(encodeMessage(PacketType::command, CameraCommand{CC::ProgramCut{"Cam\xff"}}));
    EXPECT_TRUE(encodeMessage(PacketType::command, CameraCommand{CC::ProgramCut{"Caméra «A»"}}));
}

}  // namespace
}  // namespace morvane
