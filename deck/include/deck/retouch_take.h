#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "deck/retouch_edit.h"
#include "platform/date.h"
#include "platform/uuid.h"
#include "protocol/json_coding.h"
#include "protocol/program_cut.h"

namespace morvane {

/// The earliest representable date: the start of a take that has no clips.
inline constexpr Date distantPast{-63114076800.0};

/// One camera's 1080p copy of a take, a movie in the take library's folder.
struct RetouchClip {
    Uuid id;              ///< the transfer's identifier; a copy sent again carries the same one
    std::string camera;   ///< display name of the camera that recorded it
    std::string file;     ///< file name inside the library folder
    Date start;           ///< when the recording started
    double duration = 0;  ///< seconds; 0 when the camera gave none

    friend bool operator==(const RetouchClip&, const RetouchClip&) = default;
    static bool listsEqual(const std::vector<RetouchClip>& a, const std::vector<RetouchClip>& b) { return a == b; }
};

/// One collected take: a copy per camera, the live program cuts, the stored edit and the last export.
struct RetouchTake {
    Uuid id;
    std::int64_t number = 0;
    std::vector<RetouchClip> clips;  ///< copies present in the library folder, in order of arrival
    std::vector<ProgramCut> cuts;    ///< the live program's switches in this take, by time
    std::optional<Date> exportedAt;
    std::optional<RetouchEdit> edit;
    std::optional<std::string> exportedFile;  ///< file name of the last exported program movie
    std::optional<std::string> name;
    std::optional<std::vector<RetouchClip>> exportedClips;  ///< the clips at the last export (files gone)

    /// The earliest clip start; `distantPast` without clips.
    Date start() const;
    /// The latest clip start plus duration; `distantPast` without clips.
    Date end() const;
    /// The distinct camera names of the clips, sorted ascending.
    std::vector<std::string> cameras() const;
    /// The name when present and not empty, else "Take " and the number.
    std::string defaultName() const;

    friend bool operator==(const RetouchTake&, const RetouchTake&) = default;
};

void to_json(Json& j, const RetouchClip& value);
void from_json(const Json& j, RetouchClip& value);
void to_json(Json& j, const RetouchTake& value);
void from_json(const Json& j, RetouchTake& value);

}  // namespace morvane
