#pragma once

// Text helpers shared by the file-name rules and the document writers.

#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::text {

/// Valid UTF-8 with every control character (C0, DEL, C1) replaced by a space and every malformed sequence, and
/// every code point that XML does not allow, by U+FFFD.
std::string sanitized(std::string_view text);

/// Sanitised, then "&", "<", ">" and the double quotation mark replaced by their entities, in that order.
std::string xmlEscaped(std::string_view text);

/// Percent-encoding of a path with the URL path character set: ASCII letters and digits and - . _ ~ ! $ & ' ( ) * +
/// , = : @ / stay, every other byte becomes "%" and two upper-case hex digits.
std::string percentEncodedPath(std::string_view path);

/// Decimal text of an integer.
inline std::string number(std::int64_t value) {
    return std::to_string(value);
}

/// "%02d" of a take number.
std::string twoDigits(std::int64_t value);

}  // namespace morvane::text
