#include "deck/retouch_take.h"

#include <QString>

#include <algorithm>
#include <set>

#include "json_fields.h"

namespace morvane {

Date RetouchTake::start() const {
    if (clips.empty()) return distantPast;
    Date earliest = clips.front().start;
    for (const auto& clip : clips) {
        if (clip.start < earliest) earliest = clip.start;
    }
    return earliest;
}

Date RetouchTake::end() const {
    if (clips.empty()) return distantPast;
    Date latest = clips.front().start.addingTimeInterval(clips.front().duration);
    for (const auto& clip : clips) {
        const Date clipEnd = clip.start.addingTimeInterval(clip.duration);
        if (clipEnd > latest) latest = clipEnd;
    }
    return latest;
}

std::vector<std::string> RetouchTake::cameras() const {
    std::set<std::string> distinct;
    for (const auto& clip : clips) distinct.insert(clip.camera);
    // Code-point order of the composed form; UTF-8 byte order is code-point order.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(distinct.size());
    for (const auto& name : distinct) {
        keyed.emplace_back(QString::fromStdString(name).normalized(QString::NormalizationForm_C).toStdString(), name);
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::string> result;
    result.reserve(keyed.size());
    for (auto& [key, name] : keyed) result.push_back(std::move(name));
    return result;
}

std::string RetouchTake::defaultName() const {
    if (name && !name->empty()) return *name;
    return "Take " + std::to_string(number);
}

// MARK: JSON

using namespace jsonfields;

namespace {
std::vector<RetouchClip> clipList(const Json& v, const char* key) {
    if (!v.is_array()) throw DecodingError(std::string("Expected an array for \"") + key + "\"");
    std::vector<RetouchClip> list;
    list.reserve(v.size());
    for (const auto& c : v) list.push_back(c.get<RetouchClip>());
    return list;
}
}  // namespace

void to_json(Json& j, const RetouchClip& value) {
    j = Json{{"id", value.id.uuidString()},
             {"camera", value.camera},
             {"file", value.file},
             {"start", finite(value.start.secondsSinceReferenceDate)},
             {"duration", finite(value.duration)}};
}

void from_json(const Json& j, RetouchClip& value) {
    value.id = requireUuid(j, "id");
    value.camera = requireString(j, "camera");
    value.file = requireString(j, "file");
    value.start = requireDate(j, "start");
    value.duration = requireNumber(j, "duration");
}

void to_json(Json& j, const RetouchTake& value) {
    j = Json{{"id", value.id.uuidString()},
             {"number", value.number},
             {"clips", value.clips},
             {"cuts", programCutListToJson(value.cuts)}};
    if (value.exportedAt) j["exportedAt"] = finite(value.exportedAt->secondsSinceReferenceDate);
    if (value.edit) j["edit"] = *value.edit;
    if (value.exportedFile) j["exportedFile"] = *value.exportedFile;
    if (value.name) j["name"] = *value.name;
    if (value.exportedClips) j["exportedClips"] = *value.exportedClips;
}

void from_json(const Json& j, RetouchTake& value) {
    RetouchTake take;
    take.id = requireUuid(j, "id");
    take.number = integer(require(j, "number"), "number");
    take.clips = clipList(require(j, "clips"), "clips");
    const Json& cuts = require(j, "cuts");
    if (!cuts.is_array()) throw DecodingError("Expected an array for \"cuts\"");
    take.cuts = programCutListFromJson(cuts);
    if (present(j, "exportedAt")) take.exportedAt = date(j.at("exportedAt"), "exportedAt");
    if (present(j, "edit")) take.edit = j.at("edit").get<RetouchEdit>();
    if (present(j, "exportedFile")) take.exportedFile = string(j.at("exportedFile"), "exportedFile");
    if (present(j, "name")) take.name = string(j.at("name"), "name");
    if (present(j, "exportedClips")) take.exportedClips = clipList(j.at("exportedClips"), "exportedClips");
    value = std::move(take);
}

}  // namespace morvane
