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
    /// What a notice that stands is about ("realTime", "microphone", a take's file name, …). A camera keeps its
    /// standing notices until a remote has heard them and tells a remote that connects those still true; a later
    /// event of the same subject with `over` set says the cause has passed, and the remote takes the notice away.
    std::optional<std::string> subject;
    std::optional<bool> over;
    /// Set on a take's event when the camera has a microphone and the take holds its sound for only part of its
    /// length, or none: what marks a take as silent, whatever its message says.
    std::optional<bool> soundMissing;
    /// Which occurrence of its cause a notice that stands tells: the same each time it is told again, a new one once
    /// the cause comes again. A remote knows what its crew dismissed by it.
    std::optional<std::string> occurrence;
    /// Set on what a camera tells again to a remote that connects: what still holds from before, not what happens now.
    std::optional<bool> retold;

    friend bool operator==(const CameraEvent&, const CameraEvent&) = default;
};

/// What a camera says of a take whose sound could not be converted, and of settings it does not take. Remotes know
/// these by their text, as cameras before them sent both as passing `info`.
inline constexpr const char* takeWithoutSoundMessage =
    "The take has no sound: its sound couldn't be converted. Its pictures are kept";
inline constexpr const char* settingsNotTakenMessage = "The camera does not take its settings";
/// The subject of a camera's notice that its microphone gives no sound.
inline constexpr const char* microphoneSubject = "microphone";
inline bool says(const CameraEvent& event, const char* message) {
    return event.message && *event.message == message;
}

const char* caseName(CameraEvent::Kind kind);

void to_json(Json& j, CameraEvent::Kind kind);
void from_json(const Json& j, CameraEvent::Kind& kind);
void to_json(Json& j, const CameraEvent& event);
void from_json(const Json& j, CameraEvent& event);

}  // namespace morvane
