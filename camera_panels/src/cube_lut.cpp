#include "camera_panels/cube_lut.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace morvane {
namespace {

constexpr std::int64_t minimumSize = 2;
constexpr std::int64_t maximumSize = 64;

/// One decoded character and the bytes it took; malformed UTF-8 reads as one replacement character per byte.
struct CodePoint {
    char32_t value;
    std::size_t length;
};

CodePoint decodeAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t value = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return {0xFFFD, 1};
    }
    if (at + length > text.size()) return {0xFFFD, 1};
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        if ((next & 0xC0) != 0x80) return {0xFFFD, 1};
        value = (value << 6) | (next & 0x3F);
    }
    return {value, length};
}

bool isLineBreak(char32_t c) {
    return c == U'\n' || c == U'\v' || c == U'\f' || c == U'\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

/// Unicode white space that is not a line break: tab, space and the space separators.
bool isSpace(char32_t c) {
    return c == U'\t' || c == U' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

/// The first tokens of a line, split at runs of white space; `count` goes one past the last kept token when
/// there are more, which is all a line's meaning depends on.
struct Tokens {
    static constexpr std::size_t kept = 3;
    std::array<std::string_view, kept> items;
    std::size_t count = 0;
};

Tokens tokens(std::string_view line) {
    Tokens result;
    const auto add = [&](std::string_view token) {
        if (result.count < Tokens::kept) result.items[result.count] = token;
        ++result.count;
    };
    std::size_t start = std::string_view::npos;
    for (std::size_t at = 0; at < line.size() && result.count <= Tokens::kept;) {
        const CodePoint c = decodeAt(line, at);
        if (isSpace(c.value)) {
            if (start != std::string_view::npos) add(line.substr(start, at - start));
            start = std::string_view::npos;
        } else if (start == std::string_view::npos) {
            start = at;
        }
        at += c.length;
    }
    if (start != std::string_view::npos && result.count <= Tokens::kept) add(line.substr(start));
    return result;
}

/// An optional sign followed by the digits 0 to 9 only, fitting a signed 64-bit integer.
std::optional<std::int64_t> decimalInteger(std::string_view token) {
    if (token.empty()) return std::nullopt;
    std::string_view digits = token;
    if (digits.front() == '+' || digits.front() == '-') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    // from_chars takes a minus sign but no plus.
    std::string_view parsed = token.front() == '+' ? digits : token;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(parsed.data(), parsed.data() + parsed.size(), value);
    if (error != std::errc() || end != parsed.data() + parsed.size()) return std::nullopt;
    return value;
}

float narrowed(double value) {
    if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
    if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

/// The whole token as a number: decimal or exponent notation with an optional sign, hexadecimal floating point
/// ("0x1.8p1"), or the words for infinity and not-a-number in any letter case. Values beyond the double range
/// read as not-a-number, which makes the table unusable later.
std::optional<float> floatValue(std::string_view token) {
    if (token.empty()) return std::nullopt;
    bool negative = false;
    std::string_view body = token;
    if (body.front() == '+' || body.front() == '-') {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty() || body.front() == '+' || body.front() == '-') return std::nullopt;
    auto format = std::chars_format::general;
    if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
        body.remove_prefix(2);
        format = std::chars_format::hex;
        if (body.empty() || body.front() == '+' || body.front() == '-') return std::nullopt;
    }
    double value = 0;
    auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), value, format);
    if (end != body.data() + body.size()) return std::nullopt;
    if (error == std::errc::result_out_of_range) return std::numeric_limits<float>::quiet_NaN();
    if (error != std::errc()) return std::nullopt;
    return narrowed(negative ? -value : value);
}

void appendLittleEndian(Bytes& out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

}  // namespace

std::optional<CubeLUT> parseCubeLUT(std::string_view text) {
    std::int64_t size = 0;
    std::vector<float> values;

    const auto handleLine = [&](std::string_view line) {
        const Tokens parts = tokens(line);
        if (parts.count == 0 || parts.items[0].front() == '#') return;
        if (parts.count == 2 && parts.items[0] == "LUT_3D_SIZE") {
            if (auto n = decimalInteger(parts.items[1])) {
                size = *n;
                // Room for the whole table at once; the check comes first so no product can overflow.
                if (size >= minimumSize && size <= maximumSize) {
                    values.reserve(std::max(values.size(), static_cast<std::size_t>(size * size * size * 3)));
                }
                return;
            }
        }
        if (parts.count != 3) return;
        float entry[3];
        for (int i = 0; i < 3; ++i) {
            auto v = floatValue(parts.items[static_cast<std::size_t>(i)]);
            if (!v) return;
            entry[i] = *v;
        }
        values.insert(values.end(), entry, entry + 3);
    };

    std::size_t lineStart = 0;
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint c = decodeAt(text, at);
        if (isLineBreak(c.value)) {
            handleLine(text.substr(lineStart, at - lineStart));
            at += c.length;
            // A carriage return followed by a line feed is one break.
            if (c.value == U'\r' && at < text.size() && text[at] == '\n') ++at;
            lineStart = at;
        } else {
            at += c.length;
        }
    }
    if (lineStart < text.size()) handleLine(text.substr(lineStart));

    if (size < minimumSize || size > maximumSize) return std::nullopt;
    const auto expected = static_cast<std::size_t>(size * size * size * 3);
    if (values.size() != expected) return std::nullopt;
    for (float v : values) {
        if (!std::isfinite(v)) return std::nullopt;
    }
    CubeLUT lut;
    lut.size = size;
    lut.data.reserve(values.size() * sizeof(float));
    for (float v : values) appendLittleEndian(lut.data, v);
    return lut;
}

}  // namespace morvane
