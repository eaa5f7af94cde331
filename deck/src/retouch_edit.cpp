#include "deck/retouch_edit.h"

#include <algorithm>
#include <cmath>

#include "deck/retouch_take.h"
#include "json_fields.h"

namespace morvane {

namespace {
constexpr double remnantLimit = 0.001;      // kept ranges and pieces this short or shorter are dropped
constexpr double cameraTolerance = 0.0001;  // a switch this close after a moment already shows
constexpr double normalizeTolerance = 0.001;
constexpr double switchTolerance = 1.0 / 60.0;
constexpr double liveCutTolerance = 0.01;
}  // namespace

std::vector<RetouchEdit::Range> RetouchEdit::keptRanges() const {
    std::vector<Range> ranges{{trimStart, trimEnd}};
    std::vector<Section> sections = removedSections.value_or(std::vector<Section>{});
    sortByTime(sections);
    for (const auto& section : sections) {
        std::vector<Range> next;
        next.reserve(ranges.size() + 1);
        for (const auto& range : ranges) {
            if (!(section.end > range.start && range.end > section.start)) {
                next.push_back(range);
                continue;
            }
            if (section.start - range.start > remnantLimit) next.push_back({range.start, section.start});
            if (range.end - section.end > remnantLimit) next.push_back({section.end, range.end});
        }
        ranges = std::move(next);
    }
    return ranges;
}

double RetouchEdit::programTime(double t) const {
    double total = 0;
    for (const auto& range : keptRanges()) {
        if (range.start > t) return total;
        if (range.end >= t) return total + (t - range.start);
        total += range.end - range.start;
    }
    return total;
}

double RetouchEdit::takeTime(double p) const {
    const auto ranges = keptRanges();
    if (ranges.empty()) return trimEnd;
    double rest = p;
    for (const auto& range : ranges) {
        if (range.end - range.start >= rest) return range.start + rest;
        rest -= range.end - range.start;
    }
    return ranges.back().end;
}

std::optional<RetouchEdit::Section> RetouchEdit::removedSection(double t) const {
    if (!removedSections) return std::nullopt;
    for (const auto& section : *removedSections) {
        if (section.start <= t && t < section.end) return section;
    }
    return std::nullopt;
}

std::string RetouchEdit::camera(double t) const {
    if (switches.empty()) return {};
    for (auto it = switches.rbegin(); it != switches.rend(); ++it) {
        if (it->time <= t + cameraTolerance) return it->camera;
    }
    return switches.front().camera;
}

std::vector<RetouchEdit::Block> RetouchEdit::blocks(double end) const {
    std::vector<Switch> sorted = switches;
    sortByTime(sorted);
    std::vector<Block> result;
    result.reserve(sorted.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const double blockEnd = i + 1 < sorted.size() ? sorted[i + 1].time : end;
        result.push_back({sorted[i].time, blockEnd, sorted[i].camera});
    }
    return result;
}

std::vector<RetouchEdit::Block> RetouchEdit::pieces() const {
    const auto ranges = keptRanges();
    std::vector<Block> result;
    for (const auto& block : blocks(trimEnd)) {
        for (const auto& range : ranges) {
            const double lo = std::max(block.start, range.start);
            const double hi = std::min(range.end, block.end);
            if (hi > lo + remnantLimit) result.push_back({lo, hi, block.camera});
        }
    }
    std::stable_sort(result.begin(), result.end(), [](const Block& a, const Block& b) { return a.start < b.start; });
    return result;
}

void RetouchEdit::switchCamera(const std::string& newCamera, double t) {
    auto near = std::find_if(switches.begin(), switches.end(),
                             [t](const Switch& s) { return std::fabs(s.time - t) < switchTolerance; });
    if (near != switches.end()) {
        near->camera = newCamera;
    } else if (camera(t) != newCamera) {
        switches.push_back({Uuid(), t, newCamera});
    }
    normalize();
}

void RetouchEdit::normalize() {
    sortByTime(switches);
    std::vector<Switch> tidy;
    tidy.reserve(switches.size());
    for (const auto& s : switches) {
        if (!tidy.empty() && std::fabs(s.time - tidy.back().time) < normalizeTolerance) {
            tidy.back() = s;
        } else {
            tidy.push_back(s);
        }
    }
    if (!tidy.empty() && tidy.front().time != 0) tidy.front().time = 0;
    switches = std::move(tidy);
}

void RetouchEdit::sortByTime(std::vector<Switch>& list) {
    std::stable_sort(list.begin(), list.end(), [](const Switch& a, const Switch& b) { return a.time < b.time; });
}

void RetouchEdit::sortByTime(std::vector<Section>& list) {
    std::stable_sort(list.begin(), list.end(), [](const Section& a, const Section& b) { return a.start < b.start; });
}

RetouchEdit RetouchEdit::editFromLiveCut(const RetouchTake& take) {
    const auto cameras = take.cameras();
    const Date takeStart = take.start();
    const double length = take.end().timeIntervalSince(takeStart);

    std::vector<ProgramCut> cuts = take.cuts;
    std::stable_sort(cuts.begin(), cuts.end(), [](const ProgramCut& a, const ProgramCut& b) { return a.at < b.at; });

    std::vector<Switch> list;
    for (const auto& cut : cuts) {
        if (cameras.empty() || std::find(cameras.begin(), cameras.end(), cut.camera) == cameras.end()) continue;
        const double t = std::max(0.0, cut.at.timeIntervalSince(takeStart));
        if (!(t < length)) continue;
        if (!list.empty() && std::fabs(list.back().time - t) < liveCutTolerance) {
            list.back().camera = cut.camera;
            continue;
        }
        if (!list.empty() && list.back().camera == cut.camera) continue;
        list.push_back({Uuid(), t, cut.camera});
    }
    if (list.empty()) {
        list.insert(list.begin(), Switch{Uuid(), 0, cameras.empty() ? std::string() : cameras.front()});
    } else if (list.front().time != 0) {
        list.insert(list.begin(), Switch{Uuid(), 0, list.front().camera});
    }

    RetouchEdit edit;
    edit.switches = std::move(list);
    edit.trimStart = 0;
    edit.trimEnd = length;
    edit.sound = Sound::camera();
    return edit;
}

// MARK: JSON

using namespace jsonfields;

void to_json(Json& j, const RetouchEdit::Switch& value) {
    j = Json{{"id", value.id.uuidString()}, {"time", finite(value.time)}, {"camera", value.camera}};
}

void from_json(const Json& j, RetouchEdit::Switch& value) {
    value.id = requireUuid(j, "id");
    value.time = requireNumber(j, "time");
    value.camera = requireString(j, "camera");
}

void to_json(Json& j, const RetouchEdit::Section& value) {
    j = Json{{"id", value.id.uuidString()}, {"start", finite(value.start)}, {"end", finite(value.end)}};
}

void from_json(const Json& j, RetouchEdit::Section& value) {
    value.id = requireUuid(j, "id");
    value.start = requireNumber(j, "start");
    value.end = requireNumber(j, "end");
}

void to_json(Json& j, const RetouchEdit::Sound& value) {
    if (auto camera = value.as<RetouchEdit::Sound::Camera>()) {
        Json inner = Json::object();
        if (camera->name) inner["_0"] = *camera->name;
        j = Json{{"camera", inner}};
    } else if (value.is<RetouchEdit::Sound::FollowPicture>()) {
        j = Json{{"followPicture", Json::object()}};
    } else {
        j = Json{{"mix", Json::object()}};
    }
}

void from_json(const Json& j, RetouchEdit::Sound& value) {
    if (!j.is_object()) throw DecodingError("Expected an object for the sound");
    int cases = 0;
    for (const char* key : {"camera", "followPicture", "mix"}) cases += j.contains(key) ? 1 : 0;
    if (cases != 1) throw DecodingError(std::string(invalidKeyCountMessage));
    if (auto it = j.find("camera"); it != j.end()) {
        if (!it->is_object()) throw DecodingError("Expected an object for \"camera\"");
        RetouchEdit::Sound::Camera camera;
        if (present(*it, "_0")) camera.name = string(it->at("_0"), "_0");
        value = camera;
    } else if (auto fp = j.find("followPicture"); fp != j.end()) {
        if (!fp->is_object()) throw DecodingError("Expected an object for \"followPicture\"");
        value = RetouchEdit::Sound::FollowPicture{};
    } else {
        if (!j.at("mix").is_object()) throw DecodingError("Expected an object for \"mix\"");
        value = RetouchEdit::Sound::Mix{};
    }
}

void to_json(Json& j, const RetouchEdit& value) {
    Json volumes = Json::object();
    for (const auto& [camera, gain] : value.volumes) volumes[camera] = finite(gain);
    Json offsets = Json::object();
    for (const auto& [camera, offset] : value.soundOffsets) offsets[camera] = finite(offset);
    j = Json{{"switches", value.switches},
             {"trimStart", finite(value.trimStart)},
             {"trimEnd", finite(value.trimEnd)},
             {"sound", value.sound},
             {"volumes", volumes},
             {"soundOffsets", offsets}};
    if (value.removedSections) j["removedSections"] = *value.removedSections;
}

void from_json(const Json& j, RetouchEdit& value) {
    RetouchEdit edit;
    const Json& switches = require(j, "switches");
    if (!switches.is_array()) throw DecodingError("Expected an array for \"switches\"");
    for (const auto& s : switches) edit.switches.push_back(s.get<RetouchEdit::Switch>());
    edit.trimStart = requireNumber(j, "trimStart");
    edit.trimEnd = requireNumber(j, "trimEnd");
    edit.sound = require(j, "sound").get<RetouchEdit::Sound>();
    const Json& volumes = require(j, "volumes");
    if (!volumes.is_object()) throw DecodingError("Expected an object for \"volumes\"");
    for (const auto& [camera, gain] : volumes.items()) edit.volumes[camera] = requireFloat(gain, "volumes");
    const Json& offsets = require(j, "soundOffsets");
    if (!offsets.is_object()) throw DecodingError("Expected an object for \"soundOffsets\"");
    for (const auto& [camera, offset] : offsets.items()) edit.soundOffsets[camera] = number(offset, "soundOffsets");
    if (present(j, "removedSections")) {
        const Json& sections = j.at("removedSections");
        if (!sections.is_array()) throw DecodingError("Expected an array for \"removedSections\"");
        std::vector<RetouchEdit::Section> list;
        for (const auto& s : sections) list.push_back(s.get<RetouchEdit::Section>());
        edit.removedSections = std::move(list);
    }
    value = std::move(edit);
}

}  // namespace morvane
