// The day manifest ".quorbelin-shoot.json": pretty-printed, keys sorted, dates as seconds since 2001-01-01; dates
// are also read as ISO 8601 text.

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "shoot_library/shoot_library.h"

namespace morvane {

namespace {

using Json = nlohmann::json;

struct ManifestError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& message) {
    throw ManifestError(message);
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// RFC 3339 internet date-time, with or without fractional seconds.
std::optional<Date> parseInternetDate(std::string_view s) {
    std::size_t i = 0;
    auto digits = [&](std::size_t count, int& value) {
        if (i + count > s.size()) return false;
        value = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const char c = s[i + k];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        i += count;
        return true;
    };
    auto expect = [&](char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    int year, month, day, hour, minute, second;
    if (!digits(4, year) || !expect('-') || !digits(2, month) || !expect('-') || !digits(2, day)) return std::nullopt;
    if (!(expect('T') || expect('t'))) return std::nullopt;
    if (!digits(2, hour) || !expect(':') || !digits(2, minute) || !expect(':') || !digits(2, second))
        return std::nullopt;
    double fraction = 0;
    if (expect('.')) {
        double scale = 0.1;
        std::size_t count = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            fraction += (s[i] - '0') * scale;
            scale /= 10;
            ++i;
            ++count;
        }
        if (count == 0) return std::nullopt;
    }
    int offset = 0;
    if (expect('Z') || expect('z')) {
        offset = 0;
    } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        const int sign = s[i] == '-' ? -1 : 1;
        ++i;
        int oh, om;
        if (!digits(2, oh) || !expect(':') || !digits(2, om) || oh > 23 || om > 59) return std::nullopt;
        offset = sign * (oh * 3600 + om * 60);
    } else {
        return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    static constexpr int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return std::nullopt;
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const double unix = static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second - offset) + fraction;
    return Date::fromUnix(unix);
}

const Json* member(const Json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

const Json& required(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) fail(std::string("Missing value for key \"") + key + "\"");
    return *value;
}

std::string readString(const Json& value, const char* key) {
    if (!value.is_string()) fail(std::string("Expected a string for \"") + key + "\"");
    return value.get<std::string>();
}

std::int64_t readInt(const Json& value, const char* key) {
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return static_cast<std::int64_t>(u);
    } else if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::trunc(d) == d && d >= -9.2e18 && d <= 9.2e18) return static_cast<std::int64_t>(d);
    }
    fail(std::string("Expected a whole number for \"") + key + "\"");
}

double readDouble(const Json& value, const char* key) {
    if (!value.is_number()) fail(std::string("Expected a number for \"") + key + "\"");
    return value.get<double>();
}

bool readBool(const Json& value, const char* key) {
    if (!value.is_boolean()) fail(std::string("Expected a boolean for \"") + key + "\"");
    return value.get<bool>();
}

Date readDate(const Json& value) {
    std::string error;
    auto date = ShootLibrary::decodeDate(value, &error);
    if (!date) fail(error);
    return *date;
}

const Json& readArray(const Json& value, const char* key) {
    if (!value.is_array()) fail(std::string("Expected an array for \"") + key + "\"");
    return value;
}

const Json& readObject(const Json& value, const char* what) {
    if (!value.is_object()) fail(std::string("Expected an object for ") + what);
    return value;
}

ShootLibrary::Clip readClip(const Json& j) {
    readObject(j, "a clip");
    ShootLibrary::Clip clip;
    clip.file = readString(required(j, "file"), "file");
    clip.camera = readString(required(j, "camera"), "camera");
    clip.start = readDate(required(j, "start"));
    clip.duration = readDouble(required(j, "duration"), "duration");
    clip.isVideo = readBool(required(j, "isVideo"), "isVideo");
    clip.take = readInt(required(j, "take"), "take");
    if (auto v = member(j, "frameRate")) clip.frameRate = readInt(*v, "frameRate");
    if (auto v = member(j, "ntsc")) clip.ntsc = readBool(*v, "ntsc");
    if (auto v = member(j, "width")) clip.width = readInt(*v, "width");
    if (auto v = member(j, "height")) clip.height = readInt(*v, "height");
    if (auto v = member(j, "timecodeFrame")) {
        // A timecode track holds a 32-bit frame number; anything wider would overflow the timeline arithmetic.
        const std::int64_t frame = readInt(*v, "timecodeFrame");
        if (frame < std::numeric_limits<std::int32_t>::min() || frame > std::numeric_limits<std::int32_t>::max())
            fail("Expected a 32-bit frame number for \"timecodeFrame\"");
        clip.timecodeFrame = frame;
    }
    if (auto v = member(j, "hasAudio")) clip.hasAudio = readBool(*v, "hasAudio");
    // Only spares a second copy of a capture sent again: a clip whose identifier cannot be read is kept without one.
    if (auto v = member(j, "id"); v && v->is_string()) clip.id = Uuid::parse(v->get<std::string>());
    return clip;
}

ShootLibrary::Marker readMarker(const Json& j) {
    readObject(j, "a marker");
    ShootLibrary::Marker marker;
    marker.number = readInt(required(j, "number"), "number");
    marker.date = readDate(required(j, "date"));
    for (const auto& camera : readArray(required(j, "cameras"), "cameras"))
        marker.cameras.push_back(readString(camera, "cameras"));
    return marker;
}

// The wire coding of cuts and deck edits reads dates as numbers only: turn manifest dates into numbers first.
void numberDate(Json& object, const char* key) {
    if (!object.is_object()) return;
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return;
    *found = dateToJson(readDate(*found));
}

ProgramCut readCut(Json j) {
    numberDate(j, "at");
    try {
        return j.get<ProgramCut>();
    } catch (const ManifestError&) {
        throw;
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

DeckEdit readDeckEdit(Json j) {
    numberDate(j, "exportedAt");
    if (j.is_object()) {
        if (auto pieces = j.find("pieces"); pieces != j.end() && pieces->is_array()) {
            for (auto& piece : *pieces) {
                numberDate(piece, "from");
                numberDate(piece, "to");
            }
        }
    }
    try {
        return j.get<DeckEdit>();
    } catch (const ManifestError&) {
        throw;
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

Json clipJson(const ShootLibrary::Clip& clip) {
    Json j = Json::object();
    j["file"] = clip.file;
    j["camera"] = clip.camera;
    j["start"] = dateToJson(clip.start);
    j["duration"] = doubleToJson(clip.duration);
    j["isVideo"] = clip.isVideo;
    j["take"] = clip.take;
    if (clip.frameRate) j["frameRate"] = *clip.frameRate;
    if (clip.ntsc) j["ntsc"] = *clip.ntsc;
    if (clip.width) j["width"] = *clip.width;
    if (clip.height) j["height"] = *clip.height;
    if (clip.timecodeFrame) j["timecodeFrame"] = *clip.timecodeFrame;
    if (clip.hasAudio) j["hasAudio"] = *clip.hasAudio;
    if (clip.id) j["id"] = clip.id->uuidString();
    return j;
}

Json markerJson(const ShootLibrary::Marker& marker) {
    Json j = Json::object();
    j["number"] = marker.number;
    j["date"] = dateToJson(marker.date);
    j["cameras"] = marker.cameras;
    return j;
}

}  // namespace

std::optional<Date> ShootLibrary::decodeDate(const Json& value, std::string* error) {
    if (value.is_number()) return Date{value.get<double>()};
    if (!value.is_string()) {
        if (error) *error = "Expected a date number or text";
        return std::nullopt;
    }
    const auto& text = value.get_ref<const std::string&>();
    if (auto date = parseInternetDate(text)) return date;
    if (error) *error = "Unreadable date " + text;
    return std::nullopt;
}

std::optional<std::string> ShootLibrary::encodeManifest(const Day& day) {
    try {
        Json j = Json::object();
        j["clips"] = Json::array();
        for (const auto& clip : day.clips) j["clips"].push_back(clipJson(clip));
        j["markers"] = Json::array();
        for (const auto& marker : day.markers) j["markers"].push_back(markerJson(marker));
        j["cuts"] = Json::array();
        for (const auto& cut : day.cuts) j["cuts"].push_back(Json(cut));
        j["deckEdits"] = Json::array();
        for (const auto& edit : day.deckEdits) j["deckEdits"].push_back(Json(edit));
        // Names from other devices may hold bytes that are not UTF-8: write U+FFFD rather than fail the whole file.
        return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<ShootLibrary::Day> ShootLibrary::decodeManifest(std::string_view text, std::string* error) {
    auto parsed = parseJson(text, error);
    if (!parsed) return std::nullopt;
    try {
        const Json& j = readObject(*parsed, "the day");
        Day day;
        if (auto clips = member(j, "clips"))
            for (const auto& c : readArray(*clips, "clips")) day.clips.push_back(readClip(c));
        if (auto markers = member(j, "markers"))
            for (const auto& m : readArray(*markers, "markers")) day.markers.push_back(readMarker(m));
        if (auto cuts = member(j, "cuts"))
            for (const auto& c : readArray(*cuts, "cuts")) day.cuts.push_back(readCut(c));
        if (auto edits = member(j, "deckEdits"))
            for (const auto& e : readArray(*edits, "deckEdits")) day.deckEdits.push_back(readDeckEdit(e));
        return day;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

}  // namespace morvane
