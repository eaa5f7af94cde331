#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/base64.h"
#include "platform/date.h"
#include "platform/uuid.h"

namespace morvane {

/// The JSON value type of the wire model. Every message type has `to_json` / `from_json` overloads for it
/// (so `Json j = value;` and `j.get<T>()` work), which follow the wire rules: dates as seconds since
/// 2001-01-01, bytes as Base64, identifiers as upper-case UUID text, absent optionals left out, tagged
/// unions as one-key objects.
using Json = nlohmann::json;

/// Thrown by `from_json` of the wire types when a value does not have the expected shape.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Thrown by `to_json` of the wire types when a value cannot be written (a non-finite number).
class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The error of a tagged union whose object does not have exactly one key.
inline constexpr std::string_view invalidKeyCountMessage = "Invalid number of keys found, expected one.";

/// Deepest nesting of arrays and objects accepted from another device; the deepest message is far shallower.
inline constexpr std::size_t maxJsonDepth = 32;

/// Wire forms of the scalar values, for records that embed them in JSON of their own. The writers throw
/// `EncodingError` and the readers `DecodingError`.
Json dateToJson(Date date);  ///< seconds since 2001-01-01 00:00:00 UTC
Date dateFromJson(const Json& j);
Json uuidToJson(const Uuid& id);      ///< upper-case text
Uuid uuidFromJson(const Json& j);     ///< either case
Json bytesToJson(const Bytes& data);  ///< Base64 with padding
Bytes bytesFromJson(const Json& j);
Json doubleToJson(double value);  ///< shortest form that reads back exactly; whole numbers without ".0"
double doubleFromJson(const Json& j);
Json floatToJson(float value);            ///< shortest decimal form of the 32-bit value (0.3, not 0.30000001192092896)
float floatFromJson(const Json& j);       ///< a number outside the 32-bit range fails
std::int64_t intFromJson(const Json& j);  ///< a whole number in the signed 64-bit range
bool boolFromJson(const Json& j);         ///< true or false only
std::string stringFromJson(const Json& j);

/// Parses JSON text from another device: none when it is not valid JSON, nests deeper than `maxJsonDepth`,
/// or holds text that is not UTF-8.
std::optional<Json> parseJson(std::string_view text, std::string* error = nullptr);

/// Writes a value as compact JSON text; none when it cannot be written.
template <class T>
std::optional<std::string> encodeJsonText(const T& value, std::string* error = nullptr) {
    try {
        Json j = value;
        return j.dump();
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

/// Reads a value from JSON text; none on any failure, with the reason in `error` when given.
template <class T>
std::optional<T> decodeJsonText(std::string_view text, std::string* error = nullptr) {
    auto j = parseJson(text, error);
    if (!j) return std::nullopt;
    try {
        return j->template get<T>();
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

}  // namespace morvane
