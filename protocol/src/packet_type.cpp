#include "protocol/packet_type.h"

namespace morvane {

std::optional<PacketType> packetTypeFromByte(std::uint8_t byte) {
    if (byte < 1 || byte > 19 || byte == 16) return std::nullopt;
    return static_cast<PacketType>(byte);
}

std::optional<std::uint8_t> firstByte(ByteView data) {
    if (data.empty()) return std::nullopt;
    return data.front();
}

Bytes dropFirst(ByteView data) {
    if (data.empty()) return {};
    return Bytes(data.begin() + 1, data.end());
}

std::optional<PacketType> packetKind(ByteView packet) {
    auto byte = firstByte(packet);
    if (!byte) return std::nullopt;
    return packetTypeFromByte(*byte);
}

}  // namespace morvane
