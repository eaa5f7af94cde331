#include "json_values.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace morvane {

namespace {

// Whole numbers up to 2^53 are written without a fraction, as the cameras' own encoder writes them.
Json numberJson(double v) {
    constexpr double exactLimit = 9007199254740992.0;
    if (v == std::trunc(v) && std::fabs(v) < exactLimit && !(v == 0 && std::signbit(v))) {
        return Json(static_cast<std::int64_t>(v));
    }
    return Json(v);
}

const char* typeName(const Json& j) {
    switch (j.type()) {
        case Json::value_t::null:
            return "null";
        case Json::value_t::boolean:
            return "a Bool";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float:
            return "a number";
        case Json::value_t::string:
            return "a string";
        case Json::value_t::array:
            return "an array";
        case Json::value_t::object:
            return "a dictionary";
        default:
            return "an unsupported value";
    }
}

double finiteNumber(const Json& j, const char* type) {
    if (!j.is_number()) wire::typeMismatch(type, j);
    double v = j.get<double>();
    if (!std::isfinite(v)) wire::fail(std::string("Number is not representable as ") + type + ".");
    return v;
}

}  // namespace

Json dateToJson(Date date) {
    return doubleToJson(date.secondsSinceReferenceDate);
}
Date dateFromJson(const Json& j) {
    return Date{finiteNumber(j, "a Double")};
}

Json uuidToJson(const Uuid& id) {
    return Json(id.uuidString());
}
Uuid uuidFromJson(const Json& j) {
    if (!j.is_string()) wire::typeMismatch("a String", j);
    const auto& text = j.get_ref<const std::string&>();
    auto id = Uuid::parse(text);
    if (!id) wire::fail("Attempted to decode UUID from invalid UUID string.");
    return *id;
}

Json bytesToJson(const Bytes& data) {
    return Json(base64Encode(data));
}
Bytes bytesFromJson(const Json& j) {
    if (!j.is_string()) wire::typeMismatch("a String", j);
    auto data = base64Decode(j.get_ref<const std::string&>());
    if (!data) wire::fail("Encountered Data is not valid Base64.");
    return std::move(*data);
}

Json doubleToJson(double value) {
    if (!std::isfinite(value)) throw EncodingError("Unable to encode a non-finite Double in JSON.");
    return numberJson(value);
}
double doubleFromJson(const Json& j) {
    return finiteNumber(j, "a Double");
}

Json floatToJson(float value) {
    if (!std::isfinite(value)) throw EncodingError("Unable to encode a non-finite Float in JSON.");
    // The shortest text that reads back as this float, then that decimal as a double, so that the double
    // writer prints the same short text.
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    double decimal = value;
    if (ec == std::errc()) {
        double parsed = 0;
        auto result = std::from_chars(buffer, end, parsed);
        if (result.ec == std::errc()) decimal = parsed;
    }
    return numberJson(decimal);
}
float floatFromJson(const Json& j) {
    double v = finiteNumber(j, "a Float");
    if (std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) {
        wire::fail("Parsed JSON number does not fit in Float.");
    }
    return static_cast<float>(v);
}

std::int64_t intFromJson(const Json& j) {
    switch (j.type()) {
        case Json::value_t::number_integer:
            return j.get<std::int64_t>();
        case Json::value_t::number_unsigned: {
            auto v = j.get<std::uint64_t>();
            if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) break;
            return static_cast<std::int64_t>(v);
        }
        case Json::value_t::number_float: {
            double v = j.get<double>();
            // -2^63 <= v < 2^63, whole
            if (std::isfinite(v) && v == std::trunc(v) && v >= -9223372036854775808.0 && v < 9223372036854775808.0) {
                return static_cast<std::int64_t>(v);
            }
            break;
        }
        default:
            wire::typeMismatch("an Int", j);
    }
    wire::fail("Parsed JSON number does not fit in Int.");
}

bool boolFromJson(const Json& j) {
    if (!j.is_boolean()) wire::typeMismatch("a Bool", j);
    return j.get<bool>();
}

std::string stringFromJson(const Json& j) {
    if (!j.is_string()) wire::typeMismatch("a String", j);
    return j.get<std::string>();
}

std::optional<Json> parseJson(std::string_view text, std::string* error) {
    // Refuse deep nesting before the parser builds it.
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        // The parser would take a NUL as the end of the text and ignore whatever follows it.
        if (c == '\0') {
            if (error) *error = "JSON text holds a NUL byte.";
            return std::nullopt;
        }
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxJsonDepth) {
                if (error) *error = "JSON nests too deeply.";
                return std::nullopt;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    try {
        return Json::parse(text);
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

namespace wire {

void fail(std::string message) {
    throw DecodingError(std::move(message));
}

void typeMismatch(const char* expected, const Json& found) {
    fail(std::string("Expected to decode ") + expected + " but found " + typeName(found) + " instead.");
}

ObjectReader::ObjectReader(const Json& j) : j_(j) {
    if (!j.is_object()) typeMismatch("a dictionary", j);
}

const Json* ObjectReader::find(const char* key) const {
    auto it = j_.find(key);
    return it == j_.end() ? nullptr : &*it;
}

const Json& ObjectReader::require(const char* key) const {
    const Json* value = find(key);
    if (!value) fail(std::string("No value associated with key \"") + key + "\".");
    if (value->is_null()) fail(std::string("Expected a value for key \"") + key + "\" but found null instead.");
    return *value;
}

void ObjectReader::rethrowAt(const char* key, const DecodingError& e) {
    fail(std::string("\"") + key + "\": " + e.what());
}

Json unionCase(const char* name, Json payload) {
    Json j = Json::object();
    j[name] = std::move(payload);
    return j;
}

std::pair<std::string_view, const Json&> readUnionCase(const Json& j) {
    if (!j.is_object()) typeMismatch("a dictionary", j);
    if (j.size() != 1) fail(std::string(invalidKeyCountMessage));
    auto it = j.begin();
    if (!it->is_object()) typeMismatch("a dictionary", *it);
    return {std::string_view(it.key()), *it};
}

void unknownCase(std::string_view type, std::string_view name) {
    fail(std::string("Cannot initialize ") + std::string(type) + " from invalid case \"" + std::string(name) + "\".");
}

}  // namespace wire
}  // namespace morvane
