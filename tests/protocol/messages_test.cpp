#include <gtest/gtest.h>

#include <string>

#include "protocol/message_codec.h"
#include "protocol/program_cut.h"
#include "wire_samples.h"

namespace morvane {
namespace {

template <class T>
Bytes packetOf(PacketType kind, const std::string& json) {
    Bytes packet{packetTypeByte(kind)};
    packet.insert(packet.end(), json.begin(), json.end());
    return packet;
}

std::string text(const Bytes& packet) {
    return std::string(packet.begin() + 1, packet.end());
}

void expectSameItem(const GalleryItem& a, const GalleryItem& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.date, b.date);
    EXPECT_EQ(a.isVideo, b.isVideo);
    EXPECT_EQ(a.duration, b.duration);
    EXPECT_EQ(a.thumbnail, b.thumbnail);
    EXPECT_EQ(a.vaultFile, b.vaultFile);
    EXPECT_EQ(a.photoAssetID, b.photoAssetID);
}

TEST(TransferInfoJson, GoldenTextRoundTripAndRequiredKeys) {
    const std::string golden = R"({"capturedAt":726000000.25,"cuts":[{"at":726000001,"camera":"Camera A"},)"
                               R"({"at":726000030.75,"camera":"Camera B"}],"duration":61.5,"fileName":"Take 03 – )"
                               R"(Camera A.mov","id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","isVideo":true})";
    auto packet = encodeMessage(PacketType::transferInfo, samples::transferInfo());
    ASSERT_TRUE(packet);
    EXPECT_EQ((*packet)[0], 13);
    EXPECT_EQ(text(*packet), golden);
    auto back = decodeMessage<TransferInfo>(*packet);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, samples::transferInfo());

    // A photo without duration or cuts leaves both keys out.
    TransferInfo photo{samples::uuid(samples::idB), "IMG.heic", Date{1.5}, false, std::nullopt, std::nullopt};
    auto photoText = encodeJsonText(photo);
    ASSERT_TRUE(photoText);
    EXPECT_EQ(
        *photoText,
        R"({"capturedAt":1.5,"fileName":"IMG.heic","id":"0B5A3B1C-1111-4A2B-8C3D-FFEEDDCCBBAA","isVideo":false})");
    EXPECT_EQ(decodeJsonText<TransferInfo>(*photoText), photo);

    // No tolerant retry: any missing required key drops the message.
    for (const char* key : {"id", "fileName", "capturedAt", "isVideo"}) {
        Json j = Json::parse(golden);
        j.erase(key);
        EXPECT_FALSE(decodeMessage<TransferInfo>(packetOf<TransferInfo>(PacketType::transferInfo, j.dump()))) << key;
    }
    Json j = Json::parse(golden);
    j["cuts"][1].erase("at");
    EXPECT_FALSE(decodeMessage<TransferInfo>(packetOf<TransferInfo>(PacketType::transferInfo, j.dump())));
}

TEST(DeckEditJson, EverySoundRoundTripsAndBadShapesFail) {
    auto edit = samples::deckEdit();
    for (DeckEdit::Sound sound :
         {DeckEdit::Sound{DeckEdit::Sound::FollowPicture{}}, DeckEdit::Sound{DeckEdit::Sound::Camera{"Camera «B»"}},
          DeckEdit::Sound{DeckEdit::Sound::Mix{}}}) {
        edit.sound = sound;
        auto packet = encodeMessage(PacketType::deckEdit, edit);
        ASSERT_TRUE(packet);
        EXPECT_EQ(decodeMessage<DeckEdit>(*packet), edit);
    }
    EXPECT_EQ(encodeJsonText(DeckEdit::Sound{DeckEdit::Sound::FollowPicture{}}), R"({"followPicture":{}})");
    EXPECT_EQ(encodeJsonText(DeckEdit::Sound{DeckEdit::Sound::Mix{}}), R"({"mix":{}})");
    EXPECT_EQ(encodeJsonText(DeckEdit::Sound{DeckEdit::Sound::Camera{"B"}}), R"({"camera":{"_0":"B"}})");

    // Equality looks at every field, pieces position by position.
    auto other = samples::deckEdit();
    EXPECT_EQ(other, samples::deckEdit());
    other.pieces[1].to = Date{726000020.001};
    EXPECT_NE(other, samples::deckEdit());
    other = samples::deckEdit();
    other.sound = DeckEdit::Sound::Camera{"Camera B"};
    EXPECT_NE(other, samples::deckEdit());

    std::string error;
    Json j = samples::deckEdit();
    j["sound"] = Json::parse(R"({"camera":{"_0":"A"},"mix":{}})");
    EXPECT_FALSE(decodeJsonText<DeckEdit>(j.dump(), &error));
    EXPECT_NE(error.find(invalidKeyCountMessage), std::string::npos) << error;
    j["sound"] = Json::parse(R"({"camera":{}})");
    EXPECT_FALSE(decodeJsonText<DeckEdit>(j.dump()));
    j["sound"] = Json::parse(R"({"stereo":{}})");
    EXPECT_FALSE(decodeJsonText<DeckEdit>(j.dump()));
    j = samples::deckEdit();
    j["id"] = "E621E1F8C36C495A93FC0C247A3E6E5F";
    EXPECT_FALSE(decodeJsonText<DeckEdit>(j.dump()));
}

TEST(ProgramCutJson, ListsKeepTheirOrderAndCompareByPosition) {
    std::vector<ProgramCut> cuts{{"A", Date{10}}, {"B", Date{20.5}}};
    Json j = programCutListToJson(cuts);
    EXPECT_EQ(j.dump(), R"([{"at":10,"camera":"A"},{"at":20.5,"camera":"B"}])");
    EXPECT_EQ(programCutListFromJson(j), cuts);
    EXPECT_THROW(programCutListFromJson(Json::parse(R"([{"camera":"A"}])")), DecodingError);
    EXPECT_THROW(programCutListFromJson(Json::parse(R"({"camera":"A","at":1})")), DecodingError);

    EXPECT_TRUE(ProgramCut::listsEqual(cuts, cuts));
    EXPECT_TRUE(ProgramCut::listsEqual({}, {}));
    auto reordered = std::vector<ProgramCut>{cuts[1], cuts[0]};
    EXPECT_FALSE(ProgramCut::listsEqual(cuts, reordered));
    EXPECT_FALSE(ProgramCut::listsEqual(cuts, {cuts[0]}));
    auto moved = cuts;
    moved[1].at = Date{20.25};
    EXPECT_FALSE(ProgramCut::listsEqual(cuts, moved));
}

TEST(GalleryJson, ItemsPreviewsAndEventsRoundTrip) {
    auto item = samples::galleryItem();
    const std::string golden = R"({"date":726000000.5,"duration":12.25,"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)"
                               R"("isVideo":true,"photoAssetID":"ASSET/L0/001","thumbnail":"/9j/4A==",)"
                               R"("vaultFile":"vault-1.mov"})";
    EXPECT_EQ(encodeJsonText(item), golden);

    GalleryItem photo{samples::uuid(samples::idB), Date{5}, false, std::nullopt, Bytes{}, std::nullopt, std::nullopt};
    auto list = encodeMessage(PacketType::gallery, std::vector<GalleryItem>{item, photo});
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[0], 8);
    auto back = decodeListMessage<GalleryItem>(*list);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    expectSameItem((*back)[0], item);
    expectSameItem((*back)[1], photo);

    auto emptyList = decodeListMessage<GalleryItem>(packetOf<GalleryItem>(PacketType::gallery, "[]"));
    ASSERT_TRUE(emptyList);
    EXPECT_TRUE(emptyList->empty());
    // One bad entry drops the whole list; so does anything that is not a list.
    Json bad = Json::parse(text(*list));
    bad[1]["thumbnail"] = "not base64!";
    EXPECT_FALSE(decodeListMessage<GalleryItem>(packetOf<GalleryItem>(PacketType::gallery, bad.dump())));
    EXPECT_FALSE(decodeListMessage<GalleryItem>(packetOf<GalleryItem>(PacketType::gallery, golden)));
    EXPECT_FALSE(decodeListMessage<GalleryItem>(Bytes{}));

    // Items are identified by id alone.
    auto renamed = item;
    renamed.vaultFile = "other";
    EXPECT_EQ(renamed, item);

    GalleryPreview preview{item.id, Bytes{0xFF, 0xD8, 0x00, 0x01, 0xFF, 0xD9}};
    auto previewPacket = encodeMessage(PacketType::preview, preview);
    ASSERT_TRUE(previewPacket);
    EXPECT_EQ(text(*previewPacket), R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","jpeg":"/9gAAf/Z"})");
    EXPECT_EQ(decodeMessage<GalleryPreview>(*previewPacket), preview);

    CameraEvent saved{CameraEvent::Kind::photoSaved, std::nullopt, item};
    auto eventPacket = encodeMessage(PacketType::event, saved);
    ASSERT_TRUE(eventPacket);
    auto event = decodeMessage<CameraEvent>(*eventPacket);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, CameraEvent::Kind::photoSaved);
    EXPECT_FALSE(event->message);
    ASSERT_TRUE(event->item);
    expectSameItem(*event->item, item);

    CameraEvent failed{CameraEvent::Kind::failed, "Couldn't save the movie", std::nullopt};
    EXPECT_EQ(encodeJsonText(failed), R"({"kind":"failed","message":"Couldn't save the movie"})");
    for (auto kind : {CameraEvent::Kind::photoSaved, CameraEvent::Kind::videoSaved, CameraEvent::Kind::failed,
                      CameraEvent::Kind::info}) {
        CameraEvent e{kind, "m", std::nullopt};
        EXPECT_EQ(decodeJsonText<CameraEvent>(*encodeJsonText(e)), e);
    }
    CameraEvent standing{CameraEvent::Kind::info, std::nullopt, std::nullopt, "realTime", true, true};
    EXPECT_EQ(encodeJsonText(standing), R"({"kind":"info","over":true,"soundMissing":true,"subject":"realTime"})");
    EXPECT_EQ(decodeJsonText<CameraEvent>(*encodeJsonText(standing)), standing);
    CameraEvent retold{.kind = CameraEvent::Kind::failed, .subject = "take:A.mov", .occurrence = "7F", .retold = true};
    EXPECT_EQ(encodeJsonText(retold), R"({"kind":"failed","occurrence":"7F","retold":true,"subject":"take:A.mov"})");
    EXPECT_EQ(decodeJsonText<CameraEvent>(*encodeJsonText(retold)), retold);
    EXPECT_FALSE(
        decodeMessage<CameraEvent>(packetOf<CameraEvent>(PacketType::event, R"({"kind":"info","over":"yes"})")));
    EXPECT_FALSE(decodeMessage<CameraEvent>(packetOf<CameraEvent>(PacketType::event, R"({"kind":"exploded"})")));
    EXPECT_FALSE(decodeMessage<CameraEvent>(packetOf<CameraEvent>(PacketType::event, R"({"message":"x"})")));
}

TEST(CaptureSettingsJson, ValueTypesRoundTrip) {
    FormatOption format = samples::fullStatus().formats[0];
    EXPECT_EQ(decodeJsonText<FormatOption>(*encodeJsonText(format)), format);
    DriveStatus drive{"Drive", 7, std::nullopt};
    EXPECT_EQ(encodeJsonText(drive), R"({"freeBytes":7,"name":"Drive"})");
    EXPECT_EQ(decodeJsonText<DriveStatus>(*encodeJsonText(drive)), drive);
    for (auto codec : {VideoCodec::hevc, VideoCodec::proRes4444XQ, VideoCodec::proRes4444, VideoCodec::proRes422HQ,
                       VideoCodec::proRes422, VideoCodec::proRes422LT, VideoCodec::proRes422Proxy}) {
        EXPECT_EQ(decodeJsonText<VideoCodec>(*encodeJsonText(codec)), codec);
    }
    for (auto lut :
         {PreviewLUT::none, PreviewLUT::appleLogToRec709, PreviewLUT::appleLog2ToRec709, PreviewLUT::custom}) {
        EXPECT_EQ(decodeJsonText<PreviewLUT>(*encodeJsonText(lut)), lut);
    }
    EXPECT_EQ(encodeJsonText(ScopeKind::off), "0");
    EXPECT_EQ(encodeJsonText(ScopeKind::waveform), "1");
    EXPECT_EQ(decodeJsonText<ScopeKind>(R"("waveform")"), ScopeKind::waveform);
    EXPECT_EQ(decodeJsonText<ScopeKind>("2.0"), ScopeKind::parade);
    EXPECT_FALSE(decodeJsonText<ScopeKind>("-1"));
    EXPECT_FALSE(decodeJsonText<ScopeKind>("true"));
    EXPECT_EQ(encodeJsonText(PeakingLevel::low), R"("low")");
    EXPECT_EQ(encodeJsonText(ColorProfile::appleLog2), R"("appleLog2")");
    EXPECT_EQ(encodeJsonText(CaptureMode::photo), R"("photo")");
}

TEST(ScalarJson, NumbersAreWrittenShortAndReadStrictly) {
    EXPECT_EQ(floatToJson(0.3f).dump(), "0.3");
    EXPECT_EQ(floatToJson(1.0f).dump(), "1");
    EXPECT_EQ(floatToJson(-2.8f).dump(), "-2.8");
    EXPECT_EQ(floatToJson(1e-7f).dump(), "1e-07");
    EXPECT_EQ(floatToJson(3.4028235e38f).dump(), "3.4028235e+38");
    EXPECT_EQ(floatFromJson(floatToJson(0.1f)), 0.1f);
    EXPECT_EQ(doubleToJson(0.1).dump(), "0.1");
    EXPECT_EQ(doubleToJson(-0.0).dump(), "-0.0");
    EXPECT_EQ(doubleToJson(1e300).dump(), "1e+300");
    EXPECT_EQ(doubleToJson(9007199254740992.0).dump(), "9.007199254740992e+15");  // 2^53 stays a double
    EXPECT_EQ(doubleToJson(9007199254740991.0).dump(), "9007199254740991");
    EXPECT_THROW(doubleToJson(NAN), EncodingError);
    EXPECT_THROW(floatToJson(-INFINITY), EncodingError);

    EXPECT_EQ(intFromJson(Json::parse("-9223372036854775808")), INT64_MIN);
    EXPECT_EQ(intFromJson(Json::parse("9223372036854775807")), INT64_MAX);
    EXPECT_THROW(intFromJson(Json::parse("9223372036854775808")), DecodingError);
    EXPECT_THROW(intFromJson(Json::parse("9.3e18")), DecodingError);
    EXPECT_THROW(intFromJson(Json::parse("\"1\"")), DecodingError);
    EXPECT_THROW(boolFromJson(Json::parse("0")), DecodingError);
    EXPECT_THROW(floatFromJson(Json::parse("3.5e38")), DecodingError);
    EXPECT_THROW(doubleFromJson(Json(INFINITY)), DecodingError);
    EXPECT_THROW(intFromJson(Json(NAN)), DecodingError);
    EXPECT_FALSE(parseJson("1e999"));
    EXPECT_THROW(dateFromJson(Json::parse("\"2024-01-01\"")), DecodingError);
    EXPECT_EQ(dateFromJson(Json::parse("-978307200")).unixSeconds(), 0);
    EXPECT_EQ(uuidToJson(samples::uuid("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")).get<std::string>(), samples::idA);
    EXPECT_THROW(bytesFromJson(Json::parse("\"AAEC\\n\"")), DecodingError);
    EXPECT_EQ(bytesFromJson(bytesToJson(Bytes{0, 1, 2, 255})), (Bytes{0, 1, 2, 255}));
}

TEST(JsonParsing, HostileTextIsRefusedWithoutBuildingIt) {
    std::string deep(100000, '[');
    EXPECT_FALSE(parseJson(deep));
    std::string deepObject;
    for (int i = 0; i < 40; ++i) deepObject += R"({"a":)";
    deepObject += "1" + std::string(40, '}');
    EXPECT_FALSE(parseJson(deepObject));
    // Brackets inside strings do not count towards the depth.
    std::string quoted = "[\"" + std::string(1000, '[') + "\\\"" + std::string(1000, '{') + "\"]";
    EXPECT_TRUE(parseJson(quoted));
    EXPECT_FALSE(parseJson("\"\xc3\x28\""));  // not UTF-8
    EXPECT_FALSE(parseJson(std::string("{\"a\":1}\0", 8)));
    EXPECT_FALSE(parseJson(std::string("{\"a\":1}\0{\"b\"", 12)));
    EXPECT_FALSE(parseJson(""));
    EXPECT_TRUE(parseJson(" {\"a\" : [1, 2.5, \"x\"]} \n"));
}

}  // namespace
}  // namespace morvane
