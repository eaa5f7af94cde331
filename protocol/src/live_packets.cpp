#include "protocol/live_packets.h"

#include <cmath>
#include <limits>

namespace morvane {

namespace {

void putU32(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void putU64(Bytes& out, std::uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t getU32(ByteView data, std::size_t at) {
    return (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) | (std::uint32_t{data[at + 2]} << 8) |
           std::uint32_t{data[at + 3]};
}

std::uint64_t getU64(ByteView data, std::size_t at) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | data[at + i];
    return v;
}

bool hasKind(ByteView packet, PacketType kind) {
    return !packet.empty() && packet[0] == packetTypeByte(kind);
}

Bytes start(PacketType kind, std::size_t bodySize) {
    Bytes out;
    out.reserve(1 + bodySize);
    out.push_back(packetTypeByte(kind));
    return out;
}

// Truncation toward zero that saturates instead of overflowing; NaN counts as 0.
std::uint64_t toUnsigned(double x) {
    if (!(x > 0)) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(x);
}

std::int64_t toSigned(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (x < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

}  // namespace

Bytes ClockPing::encode() const {
    Bytes out = start(PacketType::clockPing, 8);
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

std::optional<ClockPing> ClockPing::decode(ByteView packet) {
    if (packet.size() < 9 || !hasKind(packet, PacketType::clockPing)) return std::nullopt;
    ClockPing ping;
    std::copy(packet.begin() + 1, packet.begin() + 9, ping.value.begin());
    return ping;
}

Bytes ClockPong::encode() const {
    Bytes out = start(PacketType::clockPong, 16);
    out.insert(out.end(), ping.begin(), ping.end());
    putU64(out, nanoseconds);
    return out;
}

std::optional<ClockPong> ClockPong::decode(ByteView packet) {
    if (packet.size() != 17 || !hasKind(packet, PacketType::clockPong)) return std::nullopt;
    ClockPong pong;
    std::copy(packet.begin() + 1, packet.begin() + 9, pong.ping.begin());
    pong.nanoseconds = getU64(packet, 9);
    return pong;
}

ClockPong ClockPong::answering(const ClockPing& ping, double unixSeconds, double offsetSeconds) {
    return ClockPong{ping.value, clockNanoseconds(unixSeconds, offsetSeconds)};
}

std::uint64_t clockNanoseconds(double unixSeconds, double offsetSeconds) {
    std::uint64_t now = toUnsigned(unixSeconds * 1'000'000'000.0);
    std::int64_t offset = toSigned(offsetSeconds * 1'000'000'000.0);
    return now + static_cast<std::uint64_t>(offset);  // wraps
}

Bytes HistogramPacket::encode() const {
    Bytes out = start(PacketType::histogram, bins.size());
    out.insert(out.end(), bins.begin(), bins.end());
    return out;
}

std::optional<HistogramPacket> HistogramPacket::decode(ByteView packet) {
    if (packet.size() != 65 || !hasKind(packet, PacketType::histogram)) return std::nullopt;
    HistogramPacket h;
    std::copy(packet.begin() + 1, packet.end(), h.bins.begin());
    return h;
}

Bytes AudioLevelPacket::encode() const {
    return Bytes{packetTypeByte(PacketType::audioLevel), level};
}

std::optional<AudioLevelPacket> AudioLevelPacket::decode(ByteView packet) {
    if (packet.size() != 2 || !hasKind(packet, PacketType::audioLevel)) return std::nullopt;
    return AudioLevelPacket{packet[1]};
}

Bytes LoupePacket::encode() const {
    Bytes out = start(PacketType::loupe, picture.size());
    out.insert(out.end(), picture.begin(), picture.end());
    return out;
}

std::optional<LoupePacket> LoupePacket::decode(ByteView packet) {
    if (!hasKind(packet, PacketType::loupe)) return std::nullopt;
    return LoupePacket{Bytes(packet.begin() + 1, packet.end())};
}

LevelPacket LevelPacket::fromRoll(std::optional<double> degrees) {
    if (!degrees || std::isnan(*degrees)) return LevelPacket{};
    double tenths = std::round(*degrees * 10.0);
    if (tenths > 32767.0) tenths = 32767.0;
    if (tenths < -32767.0) tenths = -32767.0;  // -32768 would read as no reading
    return LevelPacket{static_cast<std::int16_t>(tenths)};
}

std::optional<double> LevelPacket::roll() const {
    if (tenths == noReading) return std::nullopt;
    return tenths / 10.0;
}

Bytes LevelPacket::encode() const {
    auto raw = static_cast<std::uint16_t>(tenths);
    return Bytes{packetTypeByte(PacketType::level), static_cast<std::uint8_t>(raw & 0xFF),
                 static_cast<std::uint8_t>(raw >> 8)};
}

std::optional<LevelPacket> LevelPacket::decode(ByteView packet) {
    if (packet.size() != 3 || !hasKind(packet, PacketType::level)) return std::nullopt;
    auto raw = static_cast<std::uint16_t>(packet[1] | (packet[2] << 8));
    return LevelPacket{static_cast<std::int16_t>(raw)};
}

std::optional<Bytes> ScopePacket::encodePayload() const {
    if (kind != ScopeKind::waveform && kind != ScopeKind::parade) return std::nullopt;
    if (width == 0 || height == 0) return std::nullopt;
    if (intensities.size() != std::size_t{width} * height) return std::nullopt;
    Bytes out;
    out.reserve(3 + intensities.size());
    out.push_back(static_cast<std::uint8_t>(kind));
    out.push_back(width);
    out.push_back(height);
    out.insert(out.end(), intensities.begin(), intensities.end());
    return out;
}

std::optional<Bytes> ScopePacket::encode() const {
    auto payload = encodePayload();
    if (!payload) return std::nullopt;
    Bytes out = start(PacketType::scope, payload->size());
    out.insert(out.end(), payload->begin(), payload->end());
    return out;
}

std::optional<ScopePacket> ScopePacket::decodePayload(ByteView payload) {
    if (payload.size() < 4) return std::nullopt;
    std::uint8_t kindByte = payload[0];
    if (kindByte != 1 && kindByte != 2) return std::nullopt;
    std::uint8_t w = payload[1];
    std::uint8_t h = payload[2];
    if (w == 0 || h == 0) return std::nullopt;
    if (payload.size() - 3 != std::size_t{w} * h) return std::nullopt;
    return ScopePacket{static_cast<ScopeKind>(kindByte), w, h, Bytes(payload.begin() + 3, payload.end())};
}

std::optional<ScopePacket> ScopePacket::decode(ByteView packet) {
    if (!hasKind(packet, PacketType::scope)) return std::nullopt;
    return decodePayload(packet.subspan(1));
}

std::optional<Bytes> ParameterSetsPacket::encode() const {
    if (sets.size() > 255) return std::nullopt;
    std::size_t size = 2;
    for (const auto& set : sets) {
        if (set.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        size += 4 + set.size();
    }
    Bytes out;
    out.reserve(size);
    out.push_back(packetTypeByte(PacketType::parameterSets));
    out.push_back(static_cast<std::uint8_t>(sets.size()));
    for (const auto& set : sets) {
        putU32(out, static_cast<std::uint32_t>(set.size()));
        out.insert(out.end(), set.begin(), set.end());
    }
    return out;
}

std::optional<ParameterSetsPacket> ParameterSetsPacket::decode(ByteView packet) {
    if (!hasKind(packet, PacketType::parameterSets)) return std::nullopt;
    ByteView body = packet.subspan(1);
    if (body.empty()) return std::nullopt;
    std::size_t count = body[0];
    ParameterSetsPacket out;
    out.sets.reserve(count);
    std::size_t p = 1;
    for (std::size_t i = 0; i < count; ++i) {
        if (body.size() - p < 4) return std::nullopt;
        std::size_t length = getU32(body, p);
        // Compare against what remains so that a huge length can neither overflow nor allocate.
        if (length > body.size() - p - 4) return std::nullopt;
        out.sets.emplace_back(body.begin() + static_cast<std::ptrdiff_t>(p + 4),
                              body.begin() + static_cast<std::ptrdiff_t>(p + 4 + length));
        p += 4 + length;
    }
    return out;
}

Bytes FramePacket::encode(std::uint32_t number, bool keyframe, std::uint8_t rotation, ByteView accessUnit) {
    Bytes out = start(PacketType::frame, 6 + accessUnit.size());
    putU32(out, number);
    out.push_back(keyframe ? 1 : 0);
    out.push_back(rotation & 3);
    out.insert(out.end(), accessUnit.begin(), accessUnit.end());
    return out;
}

std::optional<FramePacket> FramePacket::decode(ByteView packet) {
    if (packet.size() < 8 || !hasKind(packet, PacketType::frame)) return std::nullopt;
    FramePacket frame;
    frame.number = getU32(packet, 1);
    frame.keyframe = packet[5] == 1;
    frame.rotation = packet[6] & 3;
    frame.accessUnit = packet.subspan(7);
    return frame;
}

Bytes AckPacket::encode() const {
    Bytes out = start(PacketType::ack, 4);
    putU32(out, frameNumber);
    return out;
}

std::optional<AckPacket> AckPacket::decode(ByteView packet) {
    if (packet.size() != 5 || !hasKind(packet, PacketType::ack)) return std::nullopt;
    return AckPacket{getU32(packet, 1)};
}

const Bytes& keyframeRequestPacket() {
    static const Bytes packet{packetTypeByte(PacketType::keyframeRequest)};
    return packet;
}

bool isKeyframeRequestPacket(ByteView packet) {
    return packet.size() == 1 && packet[0] == packetTypeByte(PacketType::keyframeRequest);
}

}  // namespace morvane
