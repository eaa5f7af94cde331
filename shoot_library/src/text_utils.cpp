#include "text_utils.h"

#include <cstdio>

namespace morvane::text {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

void appendCodePoint(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one code point at `i`; on a malformed sequence returns false and the count of bytes to skip.
bool decode(std::string_view s, std::size_t i, char32_t& cp, std::size_t& length) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        cp = b0;
        length = 1;
        return true;
    }
    std::size_t need;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        length = 1;
        return false;
    }
    std::size_t k = 1;
    for (; k <= need; ++k) {
        if (i + k >= s.size()) break;
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) break;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (k <= need) {
        length = k;
        return false;
    }
    length = need + 1;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    return true;
}

}  // namespace

std::string sanitized(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        std::size_t length = 1;
        if (!decode(text, i, cp, length)) {
            out += replacement;
        } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
            out += ' ';
        } else if (cp == 0xFFFE || cp == 0xFFFF) {
            out += replacement;
        } else {
            appendCodePoint(out, cp);
        }
        i += length;
    }
    return out;
}

std::string xmlEscaped(std::string_view raw) {
    const std::string clean = sanitized(raw);
    std::string out;
    out.reserve(clean.size() + 16);
    for (char c : clean) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string percentEncodedPath(std::string_view path) {
    static constexpr std::string_view kept = "-._~!$&'()*+,=:@/";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size() + 16);
    for (char c : path) {
        const auto b = static_cast<unsigned char>(c);
        const bool alnum = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9');
        if (alnum || kept.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

std::string twoDigits(std::int64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02lld", static_cast<long long>(value));
    return buffer;
}

}  // namespace morvane::text
