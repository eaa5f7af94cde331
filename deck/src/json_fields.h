#pragma once

// Strict readers of JSON fields for the deck's stored records: a missing or mistyped field fails the whole record.

#include <cmath>
#include <limits>
#include <string>

#include "platform/date.h"
#include "platform/uuid.h"
#include "protocol/json_coding.h"

namespace morvane::jsonfields {

inline const Json& require(const Json& j, const char* key) {
    if (!j.is_object()) throw DecodingError("Expected an object");
    auto it = j.find(key);
    if (it == j.end()) throw DecodingError(std::string("No value associated with key \"") + key + "\"");
    return *it;
}

inline bool present(const Json& j, const char* key) {
    auto it = j.find(key);
    return it != j.end() && !it->is_null();
}

inline double number(const Json& v, const char* key) {
    if (!v.is_number()) throw DecodingError(std::string("Expected a number for \"") + key + "\"");
    return v.get<double>();
}

inline double requireNumber(const Json& j, const char* key) {
    return number(require(j, key), key);
}

inline float requireFloat(const Json& v, const char* key) {
    const double d = number(v, key);
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) {
        throw DecodingError(std::string("Number does not fit a float for \"") + key + "\"");
    }
    return static_cast<float>(d);
}

inline std::int64_t integer(const Json& v, const char* key) {
    if (v.is_number_integer()) {
        if (v.is_number_unsigned() &&
            v.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
            throw DecodingError(std::string("Integer out of range for \"") + key + "\"");
        }
        return v.get<std::int64_t>();
    }
    if (v.is_number_float()) {
        // A whole number written with a fraction part ("7.0") is still a whole number.
        const double d = v.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && d >= -9.2e18 && d <= 9.2e18) return static_cast<std::int64_t>(d);
    }
    throw DecodingError(std::string("Expected an integer for \"") + key + "\"");
}

inline std::string string(const Json& v, const char* key) {
    if (!v.is_string()) throw DecodingError(std::string("Expected a string for \"") + key + "\"");
    return v.get<std::string>();
}

inline std::string requireString(const Json& j, const char* key) {
    return string(require(j, key), key);
}

inline Uuid requireUuid(const Json& j, const char* key) {
    auto parsed = Uuid::parse(requireString(j, key));
    if (!parsed)
        throw DecodingError(std::string("Attempted to decode UUID from invalid UUID string for \"") + key + "\"");
    return *parsed;
}

inline Date date(const Json& v, const char* key) {
    return Date{number(v, key)};
}
inline Date requireDate(const Json& j, const char* key) {
    return date(require(j, key), key);
}

/// A number for writing; non-finite values cannot be written as JSON.
inline Json finite(double d) {
    if (!std::isfinite(d)) throw EncodingError("Unable to encode a non-finite number");
    return d;
}

}  // namespace morvane::jsonfields
