#pragma once

// What every timeline document works out alike for a take: the frames it spans, its picture size, the deck edits
// that belong to it and the take clip that shows each piece of such an edit.

#include <cstdint>
#include <vector>

#include "protocol/deck_edit.h"
#include "protocol/timeline_rate.h"
#include "shoot_library/shoot_library.h"

namespace morvane::timeline {

/// The time-of-day frame at which a clip starts: the frame of its movie's timecode when the clip was lined up with
/// it at this rate, else its start rounded to the nearest frame.
std::int64_t clipStartFrame(const ShootLibrary::Clip& clip, const TimelineRate& rate);

/// The rate the clip's movie was recorded at; `fallback` until it has been probed.
TimelineRate movieRate(const ShootLibrary::Clip& clip, const TimelineRate& fallback);

/// The frame at which the clip's movie starts, counted at its own rate `own`: its timecode when it has one, else
/// its start's time of day.
std::int64_t movieStartFrame(const ShootLibrary::Clip& clip, const TimelineRate& own);

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
