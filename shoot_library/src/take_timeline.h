#pragma once

// What every timeline document works out alike for a take: the frames it spans, its picture size, the deck edits
// that belong to it and the take clip that shows each piece of such an edit.

#include <cstdint>
#include <vector>

#include "protocol/deck_edit.h"
#include "protocol/timeline_rate.h"
#include "shoot_library/shoot_library.h"

namespace morvane::timeline {

/// Where a clip lies on a take's time-of-day axis and what of its movie it shows, in frames at the take's rate. Its
/// first frame is the movie's first whole frame at that rate or a later one, its last the movie's last whole frame or
/// an earlier one (the movie's start rounded up, its end rounded down), so that no clip reaches outside its media,
/// whatever rate the movie was recorded at.
struct ClipSpan {
    std::int64_t start = 0;   ///< time-of-day frame of the clip's first frame
    std::int64_t length = 0;  ///< frames
    std::int64_t in = 0;      ///< the movie's frame shown first, on the movie's own time axis (its asset's start on)

    std::int64_t end() const { return start + length; }
    /// The movie's frame shown at time-of-day frame `f`.
    std::int64_t mediaFrame(std::int64_t f) const { return in + (f - start); }
};

/// A movie whose start agrees with its capture time (within a frame) is lined up on its first whole frame; one whose
/// timecode says otherwise (a camera clock set elsewhere) keeps its capture time on the axis and shows its movie
/// from that first frame.
ClipSpan clipSpan(const ShootLibrary::Clip& clip, const TimelineRate& rate);

/// `clipSpan(clip, rate).start`.
std::int64_t clipStartFrame(const ShootLibrary::Clip& clip, const TimelineRate& rate);

/// The rate the clip's movie was recorded at; `fallback` until it has been probed.
TimelineRate movieRate(const ShootLibrary::Clip& clip, const TimelineRate& fallback);

/// The frame at which the clip's movie starts, counted at its own rate `own`: its timecode when it has one, else
/// its start's time of day.
std::int64_t movieStartFrame(const ShootLibrary::Clip& clip, const TimelineRate& own);

/// Frames at rate `from` as frames at rate `to`, rounded down, or up when `up`; exact, so that a moment on a frame
/// of both rates stays on it.
std::int64_t convertFrames(std::int64_t frames, const TimelineRate& from, const TimelineRate& to, bool up);

/// Time-of-day frames [start, end).
struct FrameWindow {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

/// The frames the clips cover together; empty for no clips.
FrameWindow takeWindow(const std::vector<ShootLibrary::Clip>& clips, const TimelineRate& rate);

struct FrameSize {
    std::int64_t width = 1920;
    std::int64_t height = 1080;
};

/// The first probed width and the first probed height among the clips, 1920×1080 where none is known.
FrameSize takeFrameSize(const std::vector<ShootLibrary::Clip>& clips);

/// The deck edits whose first piece starts in the window (with 30 frames of slack before it), in the order they
/// were exported.
std::vector<const DeckEdit*> deckEditsOfTake(const std::vector<DeckEdit>& edits, const FrameWindow& window,
                                             const TimelineRate& rate);

/// One piece of a deck edit on the take clip that shows it, in time-of-day frames [from, to).
struct EditPiece {
    const ShootLibrary::Clip* clip = nullptr;
    std::int64_t from = 0;
    std::int64_t to = 0;
};

/// Each piece on the first clip of its camera that overlaps it, cut to that clip; a piece no clip shows is left
/// out. The pieces point into `takeClips`.
std::vector<EditPiece> editPieces(const DeckEdit& edit, const std::vector<ShootLibrary::Clip>& takeClips,
                                  const TimelineRate& rate);

}  // namespace morvane::timeline
