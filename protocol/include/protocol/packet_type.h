#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/base64.h"

namespace morvane {

/// The kind of an application packet, sent as its first byte. The byte is the case's position plus one;
/// 16 belonged to a kind that is no longer sent and stays reserved so that the others keep their bytes.
enum class PacketType : std::uint8_t {
    parameterSets = 1,
    frame = 2,
    ack = 3,
    keyframeRequest = 4,
    command = 5,
    status = 6,
    event = 7,
    gallery = 8,
    preview = 9,
    clockPing = 10,
    clockPong = 11,
    histogram = 12,
    transferInfo = 13,
    audioLevel = 14,
    loupe = 15,
    level = 17,
    scope = 18,
    deckEdit = 19,
};

using ByteView = std::span<const std::uint8_t>;

constexpr std::uint8_t packetTypeByte(PacketType kind) {
    return static_cast<std::uint8_t>(kind);
}

/// The kind a byte names: none for 0, the reserved 16 and anything above 19.
std::optional<PacketType> packetTypeFromByte(std::uint8_t byte);

/// The first byte of a byte string, or none when it is empty.
std::optional<std::uint8_t> firstByte(ByteView data);

/// The bytes after the first (the payload after the kind byte); empty for an empty input.
Bytes dropFirst(ByteView data);

/// The kind of a packet: none when it is empty or its first byte names no kind.
std::optional<PacketType> packetKind(ByteView packet);

}  // namespace morvane
