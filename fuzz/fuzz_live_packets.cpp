// Binary application packets (live video, clock, readings, scopes). Every decoder sees every packet, as a
// mislabelled packet from a hostile peer would reach any of them; what one accepts must encode to the same bytes.

#include <algorithm>
#include <cmath>

#include "fuzz_support.h"
#include "protocol/live_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    using fuzz::require;
    const ByteView packet(data, size);
    const auto same = [&](const Bytes& encoded) {
        return encoded.size() == packet.size() && std::equal(encoded.begin(), encoded.end(), packet.begin());
    };

    if (auto v = ClockPing::decode(packet)) {
        const Bytes encoded = v->encode();
        require(encoded.size() == 9 && std::equal(encoded.begin(), encoded.end(), packet.begin()), "clock ping");
        // The remote answers every ping with its own clock.
        const auto pong = ClockPong::answering(*v, 7.3e8, -1.5);
        require(ClockPong::decode(pong.encode()) == pong, "clock pong answer");
    }
    if (auto v = ClockPong::decode(packet)) require(same(v->encode()), "clock pong");
    if (auto v = HistogramPacket::decode(packet)) require(same(v->encode()), "histogram");
    if (auto v = AudioLevelPacket::decode(packet)) require(same(v->encode()), "audio level");
    if (auto v = LoupePacket::decode(packet)) require(same(v->encode()), "loupe");
    if (auto v = LevelPacket::decode(packet)) {
        require(same(v->encode()), "level");
        if (auto roll = v->roll()) {
            require(std::isfinite(*roll) && std::abs(*roll) <= 3276.8, "level roll out of range");
            require(LevelPacket::fromRoll(roll) == *v, "level roll does not give the packet back");
        }
    }
    if (auto v = AckPacket::decode(packet)) require(same(v->encode()), "ack");
    if (auto v = ScopePacket::decode(packet)) {
        auto encoded = v->encode();
        require(encoded && same(*encoded), "scope");
        require(v->intensities.size() == std::size_t{v->width} * v->height, "scope size");
    }
    if (auto v = ParameterSetsPacket::decode(packet)) {
        auto encoded = v->encode();
        // Bytes after the last counted set are ignored, so the encoding is a prefix of the packet.
        require(encoded && encoded->size() <= packet.size() &&
                    std::equal(encoded->begin(), encoded->end(), packet.begin()),
                "parameter sets");
    }
    if (auto v = FramePacket::decode(packet)) {
        require(v->rotation <= 3, "frame rotation");
        require(v->accessUnit.data() == packet.data() + 7 && v->accessUnit.size() == packet.size() - 7,
                "frame access unit");
    }
    (void)isKeyframeRequestPacket(packet);
    (void)packetKind(packet);
    return 0;
}
