#pragma once

// JSON messages as application packets: the kind byte followed by the message's JSON text.

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/base64.h"
#include "protocol/camera_command.h"
#include "protocol/camera_event.h"
#include "protocol/camera_status.h"
#include "protocol/deck_edit.h"
#include "protocol/gallery.h"
#include "protocol/json_coding.h"
#include "protocol/packet_type.h"
#include "protocol/transfer_info.h"

namespace morvane {

namespace detail {
std::optional<Bytes> framePacket(PacketType kind, const Json& j);
std::optional<Json> parsePayload(ByteView packet);
std::optional<CameraStatus> decodeStatusPacket(ByteView packet);
}  // namespace detail

/// The kind's byte followed by the value's JSON; none when the value cannot be encoded (the caller then
/// sends nothing).
template <class T>
std::optional<Bytes> encodeMessage(PacketType kind, const T& value) {
    try {
        Json j = value;
        return detail::framePacket(kind, j);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

/// Decodes the JSON after the kind byte; none on any failure. `CameraStatus` alone is tolerant: when the strict
/// reading fails, its top-level fields are laid over the status defaults (missing fields take the defaults; a malformed
/// one still drops the whole status).
template <class T>
std::optional<T> decodeMessage(ByteView packet) {
    if constexpr (std::is_same_v<T, CameraStatus>) {
        return detail::decodeStatusPacket(packet);
    } else {
        auto j = detail::parsePayload(packet);
        if (!j) return std::nullopt;
        try {
            return j->template get<T>();
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
}

/// Decodes a JSON list of `T` after the kind byte; none on any failure.
template <class T>
std::optional<std::vector<T>> decodeListMessage(ByteView packet) {
    auto j = detail::parsePayload(packet);
    if (!j || !j->is_array()) return std::nullopt;
    try {
        std::vector<T> out;
        out.reserve(j->size());
        for (const auto& element : *j) out.push_back(element.template get<T>());
        return out;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace morvane
