#include "link/link_message.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace morvane {

namespace {

void putU32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void putU64(Bytes& out, std::uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t getU32(const Bytes& in, std::size_t at) {
    return (std::uint32_t{in[at]} << 24) | (std::uint32_t{in[at + 1]} << 16) | (std::uint32_t{in[at + 2]} << 8) |
           std::uint32_t{in[at + 3]};
}

std::uint64_t getU64(const Bytes& in, std::size_t at) {
    return (std::uint64_t{getU32(in, at)} << 32) | getU32(in, at + 4);
}

bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

}  // namespace

std::size_t LinkMessage::maxBody(std::uint8_t kind, bool ready) {
    switch (static_cast<Kind>(kind)) {
        case Kind::hello:
            return maxHello;
        case Kind::proof:
        case Kind::commit:
        case Kind::nonce:
        case Kind::reveal:
        case Kind::confirm:
            return tokenSize;
        case Kind::refuse:
            return 1;
        case Kind::pair:
        case Kind::ping:
        case Kind::pong:
            return 0;
        case Kind::data:
            return ready ? maxPacket : 0;
        case Kind::fileStart:
            return ready ? 4 + 8 + 2 + maxResourceName : 0;
        case Kind::fileChunk:
            return ready ? 4 + maxChunk : 0;
        case Kind::fileEnd:
            return ready ? 4 + 32 : 0;
        case Kind::fileCancel:
            return ready ? 4 : 0;
        case Kind::fileResult:
            return ready ? 5 : 0;
    }
    return 0;
}

Bytes LinkMessage::Hello::encode() const {
    nlohmann::json json = {{"v", 1},
                           {"role", role},
                           {"instance", instance.uuidString()},
                           {"name", name},
                           {"key", base64Encode(publicKey)}};
    const auto text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return Bytes(text.begin(), text.end());
}

std::optional<LinkMessage::Hello> LinkMessage::Hello::decode(const Bytes& body) {
    if (body.empty() || body.size() > maxHello) return std::nullopt;
    auto json = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (!json.is_object()) return std::nullopt;
    auto v = json.find("v");
    auto role = json.find("role");
    auto instance = json.find("instance");
    auto name = json.find("name");
    auto key = json.find("key");
    if (v == json.end() || !v->is_number_integer() || v->get<std::int64_t>() != 1) return std::nullopt;
    if (role == json.end() || !role->is_number_unsigned() || role->get<std::uint64_t>() > 255) return std::nullopt;
    if (instance == json.end() || !instance->is_string() || name == json.end() || !name->is_string()) {
        return std::nullopt;
    }
    if (key == json.end() || !key->is_string()) return std::nullopt;
    auto uuid = Uuid::parse(instance->get<std::string>());
    auto keyBytes = base64Decode(key->get<std::string>());
    if (!uuid || !keyBytes || keyBytes->size() != 32) return std::nullopt;
    return Hello{static_cast<std::uint8_t>(role->get<std::uint64_t>()), *uuid, name->get<std::string>(),
                 std::move(*keyBytes)};
}

Bytes LinkMessage::FileStart::encode() const {
    Bytes out;
    putU32(out, id);
    putU64(out, size);
    const auto length = static_cast<std::uint16_t>(std::min(name.size(), maxResourceName));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), name.begin(), name.begin() + length);
    return out;
}

std::optional<LinkMessage::FileStart> LinkMessage::FileStart::decode(const Bytes& body) {
    if (body.size() < 14) return std::nullopt;
    const std::size_t length = (std::size_t{body[12]} << 8) | body[13];
    if (length > maxResourceName || body.size() != 14 + length) return std::nullopt;
    std::string name(body.begin() + 14, body.end());
    if (!validUtf8(name)) return std::nullopt;
    return FileStart{getU32(body, 0), getU64(body, 4), std::move(name)};
}

Bytes LinkMessage::encodeChunkHeader(std::uint32_t id) {
    return encodeId(id);
}

std::optional<std::uint32_t> LinkMessage::decodeChunkId(const Bytes& body) {
    if (body.size() < 4) return std::nullopt;
    return getU32(body, 0);
}

Bytes LinkMessage::FileEnd::encode() const {
    Bytes out(36);
    for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(id >> (24 - 8 * i));
    std::copy(digest.begin(), digest.end(), out.begin() + 4);
    return out;
}

std::optional<LinkMessage::FileEnd> LinkMessage::FileEnd::decode(const Bytes& body) {
    if (body.size() != 36) return std::nullopt;
    FileEnd end;
    end.id = getU32(body, 0);
    std::copy(body.begin() + 4, body.end(), end.digest.begin());
    return end;
}

Bytes LinkMessage::encodeId(std::uint32_t id) {
    Bytes out;
    putU32(out, id);
    return out;
}

std::optional<std::uint32_t> LinkMessage::decodeId(const Bytes& body) {
    if (body.size() != 4) return std::nullopt;
    return getU32(body, 0);
}

Bytes LinkMessage::FileResult::encode() const {
    Bytes out;
    putU32(out, id);
    out.push_back(static_cast<std::uint8_t>(status));
    return out;
}

std::optional<LinkMessage::FileResult> LinkMessage::FileResult::decode(const Bytes& body) {
    if (body.size() != 5 || body[4] > static_cast<std::uint8_t>(FileStatus::failed)) return std::nullopt;
    return FileResult{getU32(body, 0), static_cast<FileStatus>(body[4])};
}

}  // namespace morvane
