#include "protocol/camera_event.h"

#include <utility>

#include "json_values.h"

namespace morvane {

namespace {

const std::pair<const char*, CameraEvent::Kind> kinds[] = {{"photoSaved", CameraEvent::Kind::photoSaved},
                                                           {"videoSaved", CameraEvent::Kind::videoSaved},
                                                           {"failed", CameraEvent::Kind::failed},
                                                           {"info", CameraEvent::Kind::info}};

}  // namespace

const char* caseName(CameraEvent::Kind kind) {
    for (const auto& [name, value] : kinds) {
        if (value == kind) return name;
    }
    return "info";
}

void to_json(Json& j, CameraEvent::Kind kind) {
    for (const auto& [name, value] : kinds) {
        if (value == kind) {
            j = name;
            return;
        }
    }
    throw EncodingError("Invalid CameraEvent kind.");
}

void from_json(const Json& j, CameraEvent::Kind& kind) {
    kind = wire::enumFromName(j, kinds, "Kind");
}

void to_json(Json& j, const CameraEvent& event) {
    j = wire::ObjectWriter()
            .field("kind", event.kind)
            .field("message", event.message)
            .field("item", event.item)
            .field("subject", event.subject)
            .field("over", event.over)
            .field("soundMissing", event.soundMissing)
            .field("occurrence", event.occurrence)
            .field("retold", event.retold)
            .take();
}

void from_json(const Json& j, CameraEvent& event) {
    wire::ObjectReader r(j);
    CameraEvent out;
    r.field("kind", out.kind);
    r.field("message", out.message);
    r.field("item", out.item);
    r.field("subject", out.subject);
    r.field("over", out.over);
    r.field("soundMissing", out.soundMissing);
    r.field("occurrence", out.occurrence);
    r.field("retold", out.retold);
    event = std::move(out);
}

}  // namespace morvane
