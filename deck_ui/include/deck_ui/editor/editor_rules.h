#pragma once

// The deck editor's rules as plain functions: edit changes handed to `RetouchEditor::commitEdit`, the texts of its
// panels and buttons, and the geometry and gesture decisions of the switching strip. No widget is needed to use them.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "deck/retouch_edit.h"
#include "deck/retouch_take.h"
#include "platform/uuid.h"

namespace morvane {

/// What is selected on the switching strip.
struct EditorSelection {
    struct SwitchPoint {
        Uuid id;
        friend bool operator==(const SwitchPoint&, const SwitchPoint&) = default;
    };
    struct Block {
        double start = 0;
        double end = 0;
        friend bool operator==(const Block&, const Block&) = default;
    };
    struct Removed {
        Uuid id;
        friend bool operator==(const Removed&, const Removed&) = default;
    };
    std::variant<SwitchPoint, Block, Removed> value;

    static EditorSelection switchPoint(Uuid id) { return {SwitchPoint{id}}; }
    static EditorSelection block(double start, double end) { return {Block{start, end}}; }
    static EditorSelection removed(Uuid id) { return {Removed{id}}; }
    template <class C>
    const C* as() const {
        return std::get_if<C>(&value);
    }
    friend bool operator==(const EditorSelection&, const EditorSelection&) = default;
};

namespace editor {

/// Seconds from the take's earliest clip start to its latest clip end (0 without clips).
double takeLength(const RetouchTake& take);
/// The program's length: the kept ranges end to end.
double programLength(const RetouchEdit& edit);

// MARK: Edit changes

/// Puts the camera on the picture at the playhead.
void switchAtPlayhead(RetouchEdit& edit, const std::string& camera, double time);
/// Gives the switch at `time` (within 0.001 s, first in list order) the camera; no such switch, no change.
void retargetSwitch(RetouchEdit& edit, const std::string& camera, double time);
/// Moves a switch between its neighbours (1/30 s from each; the last one up to the trim end). The earliest switch
/// never moves; no room, no change.
void moveSwitchTime(RetouchEdit& edit, const Uuid& id, double time);
void deleteSwitch(RetouchEdit& edit, const Uuid& id);
/// Removes [start, end] cut to the trim, merging with removed parts it touches.
void removeRange(RetouchEdit& edit, double start, double end);
void restoreSection(RetouchEdit& edit, const Uuid& id);
/// Start of the program at the playhead, keeping 1 s of program when the take is that long; never before the take.
void setTrimStart(RetouchEdit& edit, double time);
/// End of the program at the playhead, keeping 1 s of program when the take is that long; never past the take.
void setTrimEnd(RetouchEdit& edit, double time, double takeLength);
void clearTrim(RetouchEdit& edit, const RetouchTake& take);
void restoreRemovedParts(RetouchEdit& edit);
void restoreLiveCut(RetouchEdit& edit, const RetouchTake& take);

// MARK: Playhead

/// Where the playhead goes for a wanted take time: inside the trim and out of a removed part. None for a time
/// that is not a number.
std::optional<double> seekTarget(const RetouchEdit& edit, double time);
/// The next (or previous) switch strictly inside the trim, else the trim's end (or start).
double jumpTarget(const RetouchEdit& edit, double time, bool forward);
/// The removed part at `time`, else the block at `time` among the blocks up to `duration`; none when neither.
std::optional<EditorSelection> selectionAt(const RetouchEdit& edit, double duration, double time);

// MARK: Texts

/// Timecode as editors write it, "hh:mm:ss:ff": hours, minutes, seconds and the frame within the second at the take's
/// `framesPerSecond` (30 when that is no rate: not above 0, or above 1000); negative and non-finite times read
/// 00:00:00:00.
std::string timecodeText(double seconds, double framesPerSecond);
/// The take's rate as people write it: "23.976 fps", "25 fps" (30 when it is no rate, as above).
std::string frameRateText(double framesPerSecond);
/// The transport's "program time / program length · rate".
std::string transportText(const RetouchEdit& edit, double time, double framesPerSecond);
/// "Sound: …" for the sound button.
std::string soundLabel(const RetouchEdit::Sound& sound, const std::vector<std::string>& cameras);
/// The title: the take's name, "Take N" without one, "Take" without a take.
std::string titleText(const std::optional<RetouchTake>& take);

extern const char* const helpText;
/// "Switch to CAM at 00:00:10:15" (program time), or none for a switch that no panel shows (unknown, or at 0).
std::optional<std::string> switchPanelText(const RetouchEdit& edit, const EditorSelection::SwitchPoint& selected,
                                           double framesPerSecond);
/// "CAM · 00:00:02:00 · click a camera to change it".
std::string blockPanelText(const RetouchEdit& edit, double start, double end, double framesPerSecond);
/// "Exporting 1080p… 42%".
std::string exportProgressText(float fraction);
/// Where an export went: the pictures folder and the program folder, by the names the desktop gives them.
std::string exportDoneText();

// MARK: Camera buttons

/// The camera's colour position in the strip palette: its index in `cameras` (0 when absent) modulo 6.
int cameraColorIndex(const std::string& camera, const std::vector<std::string>& cameras);
/// The thumbnail's key for a playhead: its half second, truncated toward zero; none for a time that is not a finite
/// number small enough to count.
std::optional<std::int64_t> thumbnailKey(double time);
/// The playhead in the camera's own clip, or none when the camera has no clip, the playhead lies outside the clip,
/// or it is not a number. `clip` receives the clip that was used.
std::optional<double> clipTimeFor(const RetouchTake& take, const std::string& camera, double time,
                                  const RetouchClip** clip = nullptr);
/// What a camera button shows at the playhead: its clip's picture there; where the playhead lies before the clip
/// starts or after it ends, the clip's nearest picture (its first or last), dimmed. Cameras never start at one instant:
/// a black box for each camera that began a moment late would leave the row black at the take's start. None when the
/// camera has no clip or the playhead is not a number.
struct ButtonPicture {
    double clipTime = 0;
    bool dimmed = false;
    friend bool operator==(const ButtonPicture&, const ButtonPicture&) = default;
};
std::optional<ButtonPicture> buttonPictureFor(const RetouchTake& take, const std::string& camera, double time,
                                              const RetouchClip** clip = nullptr);
/// Accessibility text of a camera button.
std::string cameraButtonLabel(const std::string& camera, bool onAir);

// MARK: Sound panel

/// The camera whose " only" row carries the check mark, when one does.
bool soundRowChecked(const RetouchEdit::Sound& sound, const std::vector<std::string>& cameras, const std::string& row);
/// Whether a camera's volume slider shows.
bool showsVolume(const RetouchEdit::Sound& sound, const std::string& camera);
double volume(const RetouchEdit& edit, const std::string& camera);
void setVolume(RetouchEdit& edit, double value, const std::string& camera);
double syncOffset(const RetouchEdit& edit, const std::string& camera);
void setSyncOffset(RetouchEdit& edit, double value, const std::string& camera);
/// "Sound sync: -100 ms".
std::string syncLabel(const RetouchEdit& edit, const std::string& camera);
std::string soundFooter(const RetouchEdit::Sound& sound);
inline constexpr double syncOffsetLimit = 0.5;
inline constexpr double syncOffsetStep = 0.01;

}  // namespace editor

// MARK: Switching strip

/// The strip's view of the take: which stretch of take time its width shows and where each moment lies.
struct StripGeometry {
    double duration = 0;  ///< the take's length
    double zoom = 1;
    double viewStart = 0;
    double width = 0;  ///< points

    static constexpr double minimumSpan = 0.2;
    static constexpr double maximumZoom = 60;

    double span() const;
    /// Points per second; 0 for a strip without width.
    double scale() const;
    double x(double t) const;
    /// The take time under a position; none when the strip has no width or the result is not a number.
    std::optional<double> t(double x) const;
    double clampViewStart(double v) const;

    /// "3×" while zoomed beyond 1.05, else none.
    static std::optional<std::string> zoomBadge(double zoom);
    /// A drag that starts this far from the playhead while zoomed scrolls the take instead of moving the playhead.
    static constexpr double scrollDistance = 24;
    static bool dragScrolls(double zoom, double startX, double playheadX);
    /// A scrolling drag that moved less than this is a tap that moves the playhead.
    static constexpr double tapSlop = 4;

    /// Zooms about the strip's centre: the new zoom and view start for a pinch of `magnification` from `baseZoom`.
    StripGeometry pinched(double baseZoom, double magnification) const;
    /// The view start that keeps the playhead in view: unchanged while it shows, else a fifth of the width in.
    double followPlayhead(double time) const;
};

}  // namespace morvane
