// JSON application packets as the remote and the camera take them: the kind byte picks the message type, as
// their intake does. Whatever a decoder accepts must be written again and read back to the same value.

#include "fuzz_support.h"
#include "protocol/message_codec.h"

namespace morvane {
namespace {

template <class T>
void checkStable(const std::optional<T>& decoded, PacketType kind) {
    if (!decoded) return;
    auto again = encodeMessage(kind, *decoded);
    fuzz::require(again.has_value(), "an accepted message cannot be written again");
    auto reread = decodeMessage<T>(*again);
    fuzz::require(reread.has_value(), "a written message does not read back");
    fuzz::require(Json(*reread) == Json(*decoded), "a message changed on its way through writing and reading");
}

template <class T>
void check(ByteView packet, PacketType kind) {
    checkStable(decodeMessage<T>(packet), kind);
}

}  // namespace
}  // namespace morvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    const ByteView packet(data, size);
    const auto kind = packetKind(packet);
    if (!kind) return 0;
    switch (*kind) {
        case PacketType::command:
            check<CameraCommand>(packet, *kind);
            break;
        case PacketType::status:
            // The tolerant reading: whatever it keeps must be a status that is written and read strictly.
            check<CameraStatus>(packet, *kind);
            break;
        case PacketType::event:
            check<CameraEvent>(packet, *kind);
            break;
        case PacketType::gallery:
            if (auto items = decodeListMessage<GalleryItem>(packet)) {
                auto again = encodeMessage(*kind, *items);
                fuzz::require(again.has_value(), "an accepted gallery cannot be written again");
                auto reread = decodeListMessage<GalleryItem>(*again);
                fuzz::require(reread && Json(*reread) == Json(*items), "a gallery changed on its way back");
            }
            break;
        case PacketType::preview:
            check<GalleryPreview>(packet, *kind);
            break;
        case PacketType::transferInfo:
            check<TransferInfo>(packet, *kind);
            break;
        case PacketType::deckEdit:
            check<DeckEdit>(packet, *kind);
            break;
        default:
            break;
    }
    return 0;
}
