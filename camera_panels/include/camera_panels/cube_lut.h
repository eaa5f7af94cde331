#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/base64.h"

namespace morvane {

/// A 3D colour table read from a .cube file.
struct CubeLUT {
    /// Entries along each axis, 2 to 64.
    std::int64_t size = 0;
    /// size³ entries of red, green, blue as 32-bit floats, little-endian, packed, in the file's order.
    Bytes data;

    friend bool operator==(const CubeLUT&, const CubeLUT&) = default;
};

/// The table a .cube text describes, or none when it is not a usable 3D table of 2 to 64 entries per axis
/// with finite values. A pure function of the text; bytes that are not UTF-8 never match anything.
std::optional<CubeLUT> parseCubeLUT(std::string_view text);

}  // namespace morvane
