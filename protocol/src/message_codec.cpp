#include "protocol/message_codec.h"

#include <string_view>

namespace morvane {
namespace detail {

std::optional<Bytes> framePacket(PacketType kind, const Json& j) {
    try {
        std::string text = j.dump();
        Bytes out;
        out.reserve(1 + text.size());
        out.push_back(packetTypeByte(kind));
        out.insert(out.end(), text.begin(), text.end());
        return out;
    } catch (const std::exception&) {
        return std::nullopt;  // text that is not UTF-8
    }
}

std::optional<Json> parsePayload(ByteView packet) {
    if (packet.empty()) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(packet.data()) + 1, packet.size() - 1);
    return parseJson(text);
}

std::optional<CameraStatus> decodeStatusPacket(ByteView packet) {
    auto j = parsePayload(packet);
    if (!j) return std::nullopt;
    try {
        return j->get<CameraStatus>();
    } catch (const std::exception&) {
        // Another version of the camera may leave fields out or shape one differently: keep what reads.
        return decodeStatusOverDefaults(*j);
    }
}

}  // namespace detail
}  // namespace morvane

namespace morvane {
// Reading builds each value from its default first.
static_assert(std::is_default_constructible_v<CameraCommand> && std::is_default_constructible_v<CameraStatus> &&
              std::is_default_constructible_v<CameraEvent> && std::is_default_constructible_v<DeckEdit> &&
              std::is_default_constructible_v<WhiteBalance> && std::is_default_constructible_v<FocusSetting> &&
              std::is_default_constructible_v<ExposureSetting> && std::is_default_constructible_v<DeckEdit::Sound>);
}  // namespace morvane
