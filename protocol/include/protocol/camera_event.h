#pragma once

#include <optional>
#include <string>

#include "protocol/gallery.h"
#include "protocol/json_coding.h"

namespace morvane {

/// A notice from a camera to the remote.
struct CameraEvent {
    enum class Kind { photoSaved, videoSaved, failed, info };

    Kind kind = Kind::info;
    std::optional<std::string> message;
    std::optional<GalleryItem> item;

    friend bool operator==(const CameraEvent&, const CameraEvent&) = default;
};

const char* caseName(CameraEvent::Kind kind);

void to_json(Json& j, CameraEvent::Kind kind);
void from_json(const Json& j, CameraEvent::Kind& kind);
void to_json(Json& j, const CameraEvent& event);
void from_json(const Json& j, CameraEvent& event);

}  // namespace morvane
