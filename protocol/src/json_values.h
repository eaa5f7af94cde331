#pragma once

// Building blocks of the wire JSON: typed reading and writing of record fields and tagged-union cases.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "protocol/json_coding.h"

namespace morvane::wire {

[[noreturn]] void fail(std::string message);
[[noreturn]] void typeMismatch(const char* expected, const Json& found);

// Scalar and container values. Records and enums go through their own to_json / from_json.
inline Json encode(bool v) {
    return Json(v);
}
inline Json encode(std::int64_t v) {
    return Json(v);
}
inline Json encode(double v) {
    return doubleToJson(v);
}
inline Json encode(float v) {
    return floatToJson(v);
}
inline Json encode(const std::string& v) {
    return Json(v);
}
inline Json encode(Date v) {
    return dateToJson(v);
}
inline Json encode(const Uuid& v) {
    return uuidToJson(v);
}
inline Json encode(const Bytes& v) {
    return bytesToJson(v);
}
template <class T>
Json encode(const T& v) {
    Json j = v;
    return j;
}
template <class T>
Json encode(const std::vector<T>& list) {
    Json j = Json::array();
    j.get_ref<Json::array_t&>().reserve(list.size());
    for (const auto& element : list) j.push_back(encode(element));
    return j;
}
template <class T>
Json encode(const std::map<std::string, T>& map) {
    Json j = Json::object();
    for (const auto& [key, value] : map) j[key] = encode(value);
    return j;
}

inline void decode(const Json& j, bool& v) {
    v = boolFromJson(j);
}
inline void decode(const Json& j, std::int64_t& v) {
    v = intFromJson(j);
}
inline void decode(const Json& j, double& v) {
    v = doubleFromJson(j);
}
inline void decode(const Json& j, float& v) {
    v = floatFromJson(j);
}
inline void decode(const Json& j, std::string& v) {
    v = stringFromJson(j);
}
inline void decode(const Json& j, Date& v) {
    v = dateFromJson(j);
}
inline void decode(const Json& j, Uuid& v) {
    v = uuidFromJson(j);
}
inline void decode(const Json& j, Bytes& v) {
    v = bytesFromJson(j);
}
template <class T>
void decode(const Json& j, T& v) {
    from_json(j, v);
}
template <class T>
void decode(const Json& j, std::vector<T>& list) {
    if (!j.is_array()) typeMismatch("an array", j);
    std::vector<T> out;
    out.reserve(j.size());
    for (const auto& element : j) {
        T value{};
        decode(element, value);
        out.push_back(std::move(value));
    }
    list = std::move(out);
}
template <class T>
void decode(const Json& j, std::map<std::string, T>& map) {
    if (!j.is_object()) typeMismatch("a dictionary", j);
    std::map<std::string, T> out;
    for (const auto& [key, element] : j.items()) {
        T value{};
        decode(element, value);
        out.emplace(key, std::move(value));
    }
    map = std::move(out);
}

/// Writes the fields of one record (or one tagged-union payload) into an object.
class ObjectWriter {
public:
    ObjectWriter() : j_(Json::object()) {}

    template <class T>
    ObjectWriter& field(const char* key, const T& value) {
        j_[key] = encode(value);
        return *this;
    }
    /// Absent optionals are left out.
    template <class T>
    ObjectWriter& field(const char* key, const std::optional<T>& value) {
        if (value) j_[key] = encode(*value);
        return *this;
    }

    Json take() { return std::move(j_); }

private:
    Json j_;
};

/// Reads the fields of one record (or one tagged-union payload) from an object. Unknown keys are ignored.
class ObjectReader {
public:
    /// Fails unless `j` is an object.
    explicit ObjectReader(const Json& j);

    /// A required field: fails when it is missing, null or malformed.
    template <class T>
    void field(const char* key, T& out) const {
        const Json& value = require(key);
        try {
            decode(value, out);
        } catch (const DecodingError& e) {
            rethrowAt(key, e);
        }
    }
    /// An optional field: missing or null gives none.
    template <class T>
    void field(const char* key, std::optional<T>& out) const {
        const Json* value = find(key);
        if (!value || value->is_null()) {
            out.reset();
            return;
        }
        try {
            T v{};
            decode(*value, v);
            out = std::move(v);
        } catch (const DecodingError& e) {
            rethrowAt(key, e);
        }
    }

    const Json* find(const char* key) const;

private:
    const Json& require(const char* key) const;
    [[noreturn]] static void rethrowAt(const char* key, const DecodingError& e);

    const Json& j_;
};

/// A tagged union as written: {"case": {payload}}.
Json unionCase(const char* name, Json payload);
inline Json unionCase(const char* name) {
    return unionCase(name, Json::object());
}

/// The case name and payload of a tagged union; fails unless `j` is an object with exactly one key whose
/// value is an object.
std::pair<std::string_view, const Json&> readUnionCase(const Json& j);

[[noreturn]] void unknownCase(std::string_view type, std::string_view name);

/// Reads a plain enum written as its case name.
template <class E, std::size_t N>
E enumFromName(const Json& j, const std::pair<const char*, E> (&names)[N], const char* type) {
    if (!j.is_string()) typeMismatch("a String", j);
    const auto& text = j.get_ref<const std::string&>();
    for (const auto& [name, value] : names) {
        if (text == name) return value;
    }
    fail(std::string("Cannot initialize ") + type + " from invalid String value " + text);
}

}  // namespace morvane::wire
