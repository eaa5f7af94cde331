#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

using Bytes = std::vector<std::uint8_t>;

/// Standard Base64 with padding.
std::string base64Encode(const std::uint8_t* data, std::size_t size);
inline std::string base64Encode(const Bytes& data) { return base64Encode(data.data(), data.size()); }

/// Strict decoding: the standard alphabet, padded to a multiple of four; anything else is none.
std::optional<Bytes> base64Decode(std::string_view text);

}  // namespace morvane
