// Generated hostile input for every decoder: valid packets of every kind, mutated with a fixed seed (bit flips,
// truncation, insertion, splices of JSON tokens and of other packets). Nothing may crash or trip a sanitizer,
// and whatever a decoder accepts must survive being written and read again.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "wire_samples.h"

namespace morvane {
namespace {

std::vector<Bytes> seedPackets() {
    std::vector<Bytes> seeds;
    auto add = [&](std::optional<Bytes> packet) {
        ASSERT_TRUE(packet);
        seeds.push_back(std::move(*packet));
    };
    add(encodeMessage(PacketType::status, samples::fullStatus()));
    add(encodeMessage(PacketType::status, CameraStatus{}));
    add(encodeMessage(PacketType::event, CameraEvent{CameraEvent::Kind::videoSaved, "saved", samples::galleryItem()}));
    add(encodeMessage(PacketType::gallery, std::vector<GalleryItem>{samples::galleryItem(), samples::galleryItem()}));
    add(encodeMessage(PacketType::preview, GalleryPreview{samples::uuid(samples::idA), Bytes{0xFF, 0xD8, 0xFF}}));
    add(encodeMessage(PacketType::transferInfo, samples::transferInfo()));
    add(encodeMessage(PacketType::deckEdit, samples::deckEdit()));
    add(encodeMessage(PacketType::command, CameraCommand{CameraCommand::DeckEdit{samples::deckEdit()}}));
    add(encodeMessage(PacketType::command, CameraCommand{CameraCommand::SetAids{}}));
    add(encodeMessage(PacketType::command, CameraCommand{CameraCommand::SetWhiteBalance{WhiteBalance::Manual{}}}));
    add(encodeMessage(PacketType::command, CameraCommand{CameraCommand::LoadCustomLUT{"L", 1, Bytes(12, 0x3F)}}));
    add(encodeMessage(PacketType::command, CameraCommand{CameraCommand::SetFormat{}}));
    add(ClockPing{{1, 2, 3, 4, 5, 6, 7, 8}}.encode());
    add(ClockPong{{1, 2, 3, 4, 5, 6, 7, 8}, 123456789}.encode());
    add(HistogramPacket{}.encode());
    add(AudioLevelPacket{9}.encode());
    add(LoupePacket{Bytes{0xFF, 0xD8, 0xFF, 0xD9}}.encode());
    add(LevelPacket::fromRoll(12.6).encode());
    add(ScopePacket{ScopeKind::parade, 4, 6, Bytes(24, 200)}.encode());
    add(ParameterSetsPacket{{Bytes{0x67, 1, 2}, Bytes{0x68, 3}}}.encode());
    add(FramePacket::encode(77, true, 1, Bytes{0, 0, 0, 1, 0x65}));
    add(AckPacket{77}.encode());
    add(keyframeRequestPacket());
    return seeds;
}

const char* const jsonTokens[] = {
    "null",
    "true",
    "false",
    "0",
    "-1",
    "1e999",
    "-1e999",
    "1.5",
    "9223372036854775808",
    "\"\"",
    "\"x\"",
    "[]",
    "{}",
    "[[[[[[[[",
    "]]]]",
    "{\"a\":",
    "\"\\u0000\"",
    "\"\\ud800\"",
    "\xff",
    ",",
    ":",
    "\"_0\"",
    "{\"auto\":{}}",
};

Bytes mutate(const Bytes& seed, const std::vector<Bytes>& seeds, std::mt19937& rng) {
    Bytes data = seed;
    auto pick = [&](std::size_t n) {
        return n == 0 ? std::size_t{0} : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    int rounds = 1 + static_cast<int>(pick(4));
    for (int i = 0; i < rounds; ++i) {
        switch (pick(8)) {
            case 0:  // flip a bit
                if (!data.empty()) data[pick(data.size())] ^= static_cast<std::uint8_t>(1u << pick(8));
                break;
            case 1:  // truncate
                data.resize(pick(data.size() + 1));
                break;
            case 2: {  // insert random bytes
                Bytes noise(pick(8) + 1);
                for (auto& b : noise) b = static_cast<std::uint8_t>(pick(256));
                data.insert(data.begin() + static_cast<std::ptrdiff_t>(pick(data.size() + 1)), noise.begin(),
                            noise.end());
                break;
            }
            case 3: {  // splice a JSON token
                std::string token = jsonTokens[pick(std::size(jsonTokens))];
                auto at = data.begin() + static_cast<std::ptrdiff_t>(pick(data.size() + 1));
                data.insert(at, token.begin(), token.end());
                break;
            }
            case 4: {  // replace a run with a JSON token
                if (data.size() < 2) break;
                std::size_t from = 1 + pick(data.size() - 1);
                std::size_t len = std::min(data.size() - from, pick(12) + 1);
                std::string token = jsonTokens[pick(std::size(jsonTokens))];
                data.erase(data.begin() + static_cast<std::ptrdiff_t>(from),
                           data.begin() + static_cast<std::ptrdiff_t>(from + len));
                data.insert(data.begin() + static_cast<std::ptrdiff_t>(from), token.begin(), token.end());
                break;
            }
            case 5:  // change the kind byte
                if (!data.empty()) data[0] = static_cast<std::uint8_t>(pick(22));
                break;
            case 6: {  // splice the tail of another packet
                const Bytes& other = seeds[pick(seeds.size())];
                std::size_t cut = pick(data.size() + 1);
                std::size_t from = pick(other.size() + 1);
                data.resize(cut);
                data.insert(data.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
                break;
            }
            default:  // set a byte to an edge value
                if (!data.empty()) {
                    const std::uint8_t edges[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, '"', '\\', '{', '['};
                    data[pick(data.size())] = edges[pick(std::size(edges))];
                }
                break;
        }
    }
    return data;
}

// A value a decoder accepted must encode again and read back to the same thing.
template <class T>
void expectStable(const std::optional<T>& decoded, PacketType kind) {
    if (!decoded) return;
    auto again = encodeMessage(kind, *decoded);
    ASSERT_TRUE(again) << "an accepted value could not be written again";
    auto reread = decodeMessage<T>(*again);
    ASSERT_TRUE(reread);
    EXPECT_EQ(Json(*reread), Json(*decoded));
}

struct Counts {
    int accepted = 0;
};

void runAllDecoders(const Bytes& packet, Counts& counts) {
    expectStable(decodeMessage<CameraStatus>(packet), PacketType::status);
    expectStable(decodeMessage<CameraEvent>(packet), PacketType::event);
    expectStable(decodeMessage<GalleryPreview>(packet), PacketType::preview);
    expectStable(decodeMessage<TransferInfo>(packet), PacketType::transferInfo);
    expectStable(decodeMessage<DeckEdit>(packet), PacketType::deckEdit);
    expectStable(decodeMessage<CameraCommand>(packet), PacketType::command);
    if (auto list = decodeListMessage<GalleryItem>(packet)) {
        ++counts.accepted;
        auto again = encodeMessage(PacketType::gallery, *list);
        ASSERT_TRUE(again);
        ASSERT_TRUE(decodeListMessage<GalleryItem>(*again));
    }

    if (auto v = ClockPing::decode(packet)) {
        EXPECT_EQ(v->encode(), Bytes(packet.begin(), packet.begin() + 9));
    }
    if (auto v = ClockPong::decode(packet)) {
        EXPECT_EQ(v->encode(), packet);
    }
    if (auto v = HistogramPacket::decode(packet)) {
        EXPECT_EQ(v->encode(), packet);
    }
    if (auto v = AudioLevelPacket::decode(packet)) {
        EXPECT_EQ(v->encode(), packet);
    }
    if (auto v = LoupePacket::decode(packet)) {
        EXPECT_EQ(v->encode(), packet);
    }
    if (auto v = LevelPacket::decode(packet)) {
        EXPECT_EQ(v->encode(), packet);
    }
    if (auto v = AckPacket::decode(packet)) {
        EXPECT_EQ(v->encode(), packet);
    }
    if (auto v = ScopePacket::decode(packet)) {
        ++counts.accepted;
        EXPECT_EQ(v->encode(), packet);
    }
    if (auto v = ParameterSetsPacket::decode(packet)) {
        ++counts.accepted;
        auto again = v->encode();
        ASSERT_TRUE(again);
        ASSERT_LE(again->size(), packet.size());
        EXPECT_TRUE(std::equal(again->begin(), again->end(), packet.begin()));
    }
    if (auto v = FramePacket::decode(packet)) {
        ++counts.accepted;
        EXPECT_LE(v->rotation, 3);
        EXPECT_EQ(v->accessUnit.size(), packet.size() - 7);
    }
    (void)isKeyframeRequestPacket(packet);
    (void)packetKind(packet);
}

TEST(GeneratedInput, MutatedPacketsNeverBreakADecoder) {
    const auto seeds = seedPackets();
    std::mt19937 rng(20240611);
    Counts counts;
    // Every seed decodes cleanly before mutation.
    for (const auto& seed : seeds) runAllDecoders(seed, counts);

    // A fixed number of rounds keeps the run reproducible; the deadline only guards slow machines.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int iterations = 0;
    for (; iterations < 6000 && std::chrono::steady_clock::now() < deadline; ++iterations) {
        const Bytes& seed = seeds[iterations % seeds.size()];
        runAllDecoders(mutate(seed, seeds, rng), counts);
        if (HasFatalFailure()) break;
    }
    EXPECT_GT(iterations, 1000);
    EXPECT_GT(counts.accepted, 0) << "mutation never produced an acceptable packet; the test lost its bite";
}

TEST(GeneratedInput, RandomBytesAndOversizedInput) {
    std::mt19937 rng(7);
    Counts counts;
    for (int i = 0; i < 3000; ++i) {
        Bytes packet(std::uniform_int_distribution<std::size_t>(0, 64)(rng));
        for (auto& b : packet) b = static_cast<std::uint8_t>(rng());
        runAllDecoders(packet, counts);
    }
    // A large status whose every field is malformed is dropped after the retry; with only unknown keys beside
    // the padding it decodes to the defaults.
    Json j = Json::object();
    const Json full = samples::fullStatus();
    for (const auto& [key, value] : full.items()) j[key] = Json::array({key, 1, nullptr});
    j["padding"] = std::string(1 << 20, 'x');
    auto packet = encodeMessage(PacketType::status, j);
    ASSERT_TRUE(packet);
    EXPECT_FALSE(decodeMessage<CameraStatus>(*packet));
    Json unknown = Json::object();
    unknown["padding"] = std::string(1 << 20, 'x');
    packet = encodeMessage(PacketType::status, unknown);
    ASSERT_TRUE(packet);
    auto status = decodeMessage<CameraStatus>(*packet);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, CameraStatus{});
    // A parameter-set count of 255 with no bytes behind it allocates nothing large and fails.
    EXPECT_FALSE(ParameterSetsPacket::decode(Bytes{1, 255, 0xFF, 0xFF, 0xFF, 0xF0}));
}

}  // namespace
}  // namespace morvane
