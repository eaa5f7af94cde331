#include "deck_ui/editor/editor_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/user_folder_names.h"
#include "shoot_library/timecode.h"

namespace morvane {

namespace editor {

namespace {

constexpr double frameStep = 1.0 / 30;
constexpr double retargetTolerance = 0.001;
constexpr double mergeTolerance = 0.001;
constexpr double minimumProgram = 1.0;
constexpr double nextSwitchGap = 0.02;
constexpr double previousSwitchGap = 0.1;
constexpr int paletteSize = 6;

// Whole numbers beyond this cannot be held by a 64-bit count.
constexpr double countLimit = 9.0e18;

// No camera films faster than this; a larger figure is no rate (and would overflow a frame count).
constexpr double fastestRate = 1000;

double usableRate(double framesPerSecond) {
    return framesPerSecond > 0 && framesPerSecond <= fastestRate ? framesPerSecond : 30;
}

std::string format(const char* pattern, auto... values) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

}  // namespace

double takeLength(const RetouchTake& take) {
    if (take.clips.empty()) return 0;
    return std::max(0.0, take.end().timeIntervalSince(take.start()));
}

double programLength(const RetouchEdit& edit) {
    double total = 0;
    for (const auto& range : edit.keptRanges()) total += range.end - range.start;
    return total;
}

// MARK: Edit changes

void switchAtPlayhead(RetouchEdit& edit, const std::string& camera, double time) {
    edit.switchCamera(camera, time);
}

void retargetSwitch(RetouchEdit& edit, const std::string& camera, double time) {
    for (auto& s : edit.switches) {
        if (std::fabs(s.time - time) < retargetTolerance) {
            s.camera = camera;
            return;
        }
    }
}

void moveSwitchTime(RetouchEdit& edit, const Uuid& id, double time) {
    if (!std::isfinite(time)) return;
    auto sorted = edit.switches;
    RetouchEdit::sortByTime(sorted);
    auto it = std::find_if(sorted.begin(), sorted.end(), [&](const RetouchEdit::Switch& s) { return s.id == id; });
    if (it == sorted.end() || it == sorted.begin()) return;
    const double lo = std::prev(it)->time + frameStep;
    const double hi = std::next(it) == sorted.end() ? edit.trimEnd : std::next(it)->time - frameStep;
    if (hi <= lo) return;
    for (auto& s : edit.switches) {
        if (s.id == id) {
            s.time = std::min(hi, std::max(lo, time));
            return;
        }
    }
}

void deleteSwitch(RetouchEdit& edit, const Uuid& id) {
    std::erase_if(edit.switches, [&](const RetouchEdit::Switch& s) { return s.id == id; });
}

void removeRange(RetouchEdit& edit, double start, double end) {
    const double s = std::max(start, edit.trimStart);
    const double e = std::min(end, edit.trimEnd);
    auto sections = edit.removedSections.value_or(std::vector<RetouchEdit::Section>{});
    sections.push_back({Uuid(), s, e});
    RetouchEdit::sortByTime(sections);
    std::vector<RetouchEdit::Section> result;
    for (const auto& section : sections) {
        if (!(section.end > section.start)) continue;
        if (!result.empty() && result.back().end + mergeTolerance >= section.start) {
            result.back().end = std::max(result.back().end, section.end);
        } else {
            result.push_back(section);
        }
    }
    edit.removedSections = std::move(result);
}

void restoreSection(RetouchEdit& edit, const Uuid& id) {
    if (!edit.removedSections) return;
    std::erase_if(*edit.removedSections, [&](const RetouchEdit::Section& s) { return s.id == id; });
}

void setTrimStart(RetouchEdit& edit, double time) {
    if (!std::isfinite(time)) return;
    // A take shorter than the minimum keeps its start at the take's start rather than before it.
    edit.trimStart = std::max(0.0, std::min(edit.trimEnd - minimumProgram, time));
}

void setTrimEnd(RetouchEdit& edit, double time, double takeLength) {
    if (!std::isfinite(time)) return;
    const double wanted = std::max(edit.trimStart + minimumProgram, time);
    // Never past the take's end, nor before the start, whatever the take's length.
    edit.trimEnd = std::max(edit.trimStart, std::min(std::max(takeLength, edit.trimStart), wanted));
}

void clearTrim(RetouchEdit& edit, const RetouchTake& take) {
    edit.trimStart = 0;
    edit.trimEnd = takeLength(take);
}

void restoreRemovedParts(RetouchEdit& edit) {
    edit.removedSections.reset();
}

void restoreLiveCut(RetouchEdit& edit, const RetouchTake& take) {
    edit = RetouchEdit::editFromLiveCut(take);
}

// MARK: Playhead

std::optional<double> seekTarget(const RetouchEdit& edit, double time) {
    if (std::isnan(time)) return std::nullopt;
    double t = std::min(edit.trimEnd, std::max(edit.trimStart, time));
    if (auto section = edit.removedSection(t)) t = std::min(edit.trimEnd, section->end);
    if (!std::isfinite(t)) return std::nullopt;
    return t;
}

double jumpTarget(const RetouchEdit& edit, double time, bool forward) {
    std::vector<double> times;
    for (const auto& s : edit.switches) {
        if (edit.trimStart < s.time && s.time < edit.trimEnd) times.push_back(s.time);
    }
    std::sort(times.begin(), times.end());
    if (forward) {
        for (double t : times) {
            if (t > time + nextSwitchGap) return t;
        }
        return edit.trimEnd;
    }
    for (auto it = times.rbegin(); it != times.rend(); ++it) {
        if (*it < time - previousSwitchGap) return *it;
    }
    return edit.trimStart;
}

std::optional<EditorSelection> selectionAt(const RetouchEdit& edit, double duration, double time) {
    if (std::isnan(time)) return std::nullopt;
    if (auto section = edit.removedSection(time)) return EditorSelection::removed(section->id);
    for (const auto& block : edit.blocks(duration)) {
        if (block.start <= time && time < block.end) return EditorSelection::block(block.start, block.end);
    }
    return std::nullopt;
}

// MARK: Texts

std::string timecodeText(double seconds, double framesPerSecond) {
    // Counted as every timeline file counts it: frames at the take's rate, not seconds of the clock.
    const TimelineRate rate = timecode::rateOf(usableRate(framesPerSecond));
    const double s = std::isnan(seconds) ? 0 : std::max(seconds, 0.0);
    // The frame that runs at this instant; far beyond any take the count stops inside 64 bits.
    const double frame = std::min(std::floor(s * rate.fps() + 1e-6), countLimit);
    return timecode::timecodeString(static_cast<std::int64_t>(frame), rate);
}

std::string frameRateText(double framesPerSecond) {
    std::string text = format("%.3f", usableRate(framesPerSecond));
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text + " fps";
}

std::string transportText(const RetouchEdit& edit, double time, double framesPerSecond) {
    return timecodeText(edit.programTime(time), framesPerSecond) + " / " +
           timecodeText(programLength(edit), framesPerSecond) + " \u00B7 " + frameRateText(framesPerSecond);
}

std::string soundLabel(const RetouchEdit::Sound& sound, const std::vector<std::string>& cameras) {
    if (sound.is<RetouchEdit::Sound::FollowPicture>()) return "Sound: follows the picture";
    if (sound.is<RetouchEdit::Sound::Mix>()) return "Sound: mix";
    const auto& name = sound.as<RetouchEdit::Sound::Camera>()->name;
    if (name) return "Sound: " + *name;
    return "Sound: " + (cameras.empty() ? std::string() : cameras.front());
}

std::string titleText(const std::optional<RetouchTake>& take) {
    return take ? take->defaultName() : std::string("Take");
}

const char* const helpText =
    "Click a camera to switch at the playhead. Click a switch to move it; double-click a block to remove it or give "
    "it another camera. Pinch the strip or scroll with Ctrl to zoom, drag to scroll, drag the red line to move the "
    "playhead.";

std::optional<std::string> switchPanelText(const RetouchEdit& edit, const EditorSelection::SwitchPoint& selected,
                                           double framesPerSecond) {
    for (const auto& s : edit.switches) {
        if (s.id != selected.id) continue;
        if (!(s.time > 0)) return std::nullopt;
        return "Switch to " + s.camera + " at " + timecodeText(edit.programTime(s.time), framesPerSecond);
    }
    return std::nullopt;
}

std::string blockPanelText(const RetouchEdit& edit, double start, double end, double framesPerSecond) {
    return edit.camera(start) + " \u00B7 " + timecodeText(end - start, framesPerSecond) +
           " \u00B7 click a camera to change it";
}

std::string exportProgressText(float fraction) {
    double percent = double(fraction) * 100;
    if (!std::isfinite(percent)) percent = 0;
    percent = std::clamp(percent, 0.0, 100.0);
    return format("Exporting 1080p\u2026 %d%%", static_cast<int>(percent));
}

std::string exportDoneText() {
    return "Saved to " + userFolderNames::pictures().toStdString() + " \u203A Brindlecroft and to " +
           userFolderNames::documents().toStdString() + " \u203A Brindlecroft \u203A Program";
}

// MARK: Camera buttons

int cameraColorIndex(const std::string& camera, const std::vector<std::string>& cameras) {
    auto it = std::find(cameras.begin(), cameras.end(), camera);
    const auto index = it == cameras.end() ? 0 : std::distance(cameras.begin(), it);
    return int(index % paletteSize);
}

std::optional<std::int64_t> thumbnailKey(double time) {
    const double doubled = time * 2;
    if (!std::isfinite(doubled) || std::fabs(doubled) > countLimit) return std::nullopt;
    return static_cast<std::int64_t>(doubled);
}

std::optional<double> clipTimeFor(const RetouchTake& take, const std::string& camera, double time,
                                  const RetouchClip** found) {
    for (const auto& clip : take.clips) {
        if (clip.camera != camera) continue;
        if (found) *found = &clip;
        const double t = time - clip.start.timeIntervalSince(take.start());
        if (std::isnan(t) || t < 0 || t > clip.duration) return std::nullopt;
        return t;
    }
    if (found) *found = nullptr;
    return std::nullopt;
}

std::optional<ButtonPicture> buttonPictureFor(const RetouchTake& take, const std::string& camera, double time,
                                              const RetouchClip** found) {
    const RetouchClip* clip = nullptr;
    if (const auto inside = clipTimeFor(take, camera, time, &clip)) {
        if (found) *found = clip;
        return ButtonPicture{*inside, false};
    }
    if (found) *found = clip;
    if (!clip || std::isnan(time)) return std::nullopt;
    const double t = time - clip->start.timeIntervalSince(take.start());
    if (std::isnan(t)) return std::nullopt;
    return ButtonPicture{t < 0 ? 0.0 : std::max(clip->duration, 0.0), true};
}

std::string cameraButtonLabel(const std::string& camera, bool onAir) {
    return onAir ? camera + ", on air" : camera;
}

// MARK: Sound panel

bool soundRowChecked(const RetouchEdit::Sound& sound, const std::vector<std::string>& cameras, const std::string& row) {
    const auto* choice = sound.as<RetouchEdit::Sound::Camera>();
    if (!choice) return false;
    if (choice->name) return *choice->name == row;
    return !cameras.empty() && cameras.front() == row;
}

bool showsVolume(const RetouchEdit::Sound& sound, const std::string& camera) {
    if (sound.is<RetouchEdit::Sound::Mix>()) return true;
    const auto* choice = sound.as<RetouchEdit::Sound::Camera>();
    return choice && choice->name && *choice->name == camera;
}

double volume(const RetouchEdit& edit, const std::string& camera) {
    auto it = edit.volumes.find(camera);
    return it == edit.volumes.end() ? 1.0 : double(it->second);
}

void setVolume(RetouchEdit& edit, double value, const std::string& camera) {
    edit.volumes[camera] = float(value);
}

double syncOffset(const RetouchEdit& edit, const std::string& camera) {
    auto it = edit.soundOffsets.find(camera);
    return it == edit.soundOffsets.end() ? 0.0 : it->second;
}

void setSyncOffset(RetouchEdit& edit, double value, const std::string& camera) {
    if (!std::isfinite(value)) return;
    edit.soundOffsets[camera] = std::round(value * 100) / 100;
}

std::string syncLabel(const RetouchEdit& edit, const std::string& camera) {
    double ms = std::round(syncOffset(edit, camera) * 1000);
    if (std::isnan(ms)) ms = 0;
    ms = std::clamp(ms, -countLimit, countLimit);
    return format("Sound sync: %lld ms", static_cast<long long>(ms));
}

std::string soundFooter(const RetouchEdit::Sound& sound) {
    if (sound.is<RetouchEdit::Sound::Mix>()) {
        return "Mixing works best when each person has their own microphone close by. Built-in mics in one room can "
               "sound echoey: the same voice reaches each mic a few milliseconds apart.";
    }
    return "One camera's sound keeps the sound steady; following the picture switches the sound with every cut.";
}

}  // namespace editor

// MARK: Strip geometry

double StripGeometry::span() const {
    const double z = zoom > 0 ? zoom : 1;
    const double s = duration / z;
    return std::isfinite(s) ? std::max(minimumSpan, s) : minimumSpan;
}

double StripGeometry::scale() const {
    return width > 0 ? width / span() : 0;
}

double StripGeometry::x(double t) const {
    return (t - viewStart) * scale();
}

std::optional<double> StripGeometry::t(double x) const {
    const double s = scale();
    if (!(s > 0) || !std::isfinite(x)) return std::nullopt;
    const double result = viewStart + x / s;
    if (!std::isfinite(result)) return std::nullopt;
    return result;
}

double StripGeometry::clampViewStart(double v) const {
    if (std::isnan(v)) v = 0;
    return std::min(std::max(0.0, duration - span()), std::max(0.0, v));
}

std::optional<std::string> StripGeometry::zoomBadge(double zoom) {
    if (!(zoom > 1.05)) return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof text, "%lld\u00D7", static_cast<long long>(std::round(std::min(zoom, 1.0e6))));
    return std::string(text);
}

bool StripGeometry::dragScrolls(double zoom, double startX, double playheadX) {
    return zoom > 1.05 && std::fabs(startX - playheadX) >= scrollDistance;
}

StripGeometry StripGeometry::pinched(double baseZoom, double magnification) const {
    StripGeometry next = *this;
    const double wanted = baseZoom * magnification;
    if (!std::isfinite(wanted)) return next;
    next.zoom = std::min(maximumZoom, std::max(1.0, wanted));
    const double before = std::max(minimumSpan, duration / zoom);
    const double after = std::max(minimumSpan, duration / next.zoom);
    next.viewStart = next.clampViewStart(viewStart + before / 2 - after / 2);
    return next;
}

double StripGeometry::followPlayhead(double time) const {
    const double s = span();
    if (time < viewStart || time > viewStart + s) return clampViewStart(time - 0.2 * s);
    return viewStart;
}

}  // namespace morvane
