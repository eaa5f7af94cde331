#include "take_timeline.h"

#include <algorithm>

#include "shoot_library/timecode.h"

namespace morvane::timeline {

namespace {

std::int64_t frameCount(const ShootLibrary::Clip& clip, const TimelineRate& rate) {
    return timecode::frames(rate, clip.duration);
}

}  // namespace

std::int64_t clipStartFrame(const ShootLibrary::Clip& clip, const TimelineRate& rate) {
    const std::int64_t fromStart = timecode::timeOfDayFrames(clip.start, rate);
    if (!clip.timecodeFrame || !clip.frameRate) return fromStart;
    const TimelineRate own = timecode::normalised(*clip.frameRate, clip.ntsc.value_or(false));
    // A start moved onto the movie's timecode is that frame exactly; a start the timecode did not move (another
    // day's timecode, say) keeps its own frame.
    if (own.rate != rate.rate || own.ntsc != rate.ntsc) return fromStart;
    const std::int64_t difference = *clip.timecodeFrame - fromStart;
    return difference >= -1 && difference <= 1 ? *clip.timecodeFrame : fromStart;
}

TimelineRate movieRate(const ShootLibrary::Clip& clip, const TimelineRate& fallback) {
    return clip.frameRate ? timecode::normalised(*clip.frameRate, clip.ntsc.value_or(false)) : fallback;
}

std::int64_t movieStartFrame(const ShootLibrary::Clip& clip, const TimelineRate& own) {
    return clip.timecodeFrame ? *clip.timecodeFrame : clipStartFrame(clip, own);
}

FrameWindow takeWindow(const std::vector<ShootLibrary::Clip>& clips, const TimelineRate& rate) {
    FrameWindow window;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const std::int64_t s = clipStartFrame(clips[i], rate);
        const std::int64_t e = s + frameCount(clips[i], rate);
        window.start = i == 0 ? s : std::min(window.start, s);
        window.end = i == 0 ? e : std::max(window.end, e);
    }
    return window;
}

FrameSize takeFrameSize(const std::vector<ShootLibrary::Clip>& clips) {
    FrameSize size;
    if (auto c = std::find_if(clips.begin(), clips.end(), [](const auto& c) { return c.width.has_value(); });
        c != clips.end())
        size.width = *c->width;
    if (auto c = std::find_if(clips.begin(), clips.end(), [](const auto& c) { return c.height.has_value(); });
        c != clips.end())
        size.height = *c->height;
    return size;
}

std::vector<const DeckEdit*> deckEditsOfTake(const std::vector<DeckEdit>& edits, const FrameWindow& window,
                                             const TimelineRate& rate) {
    std::vector<const DeckEdit*> found;
    for (const auto& edit : edits) {
        if (edit.pieces.empty()) continue;
        const std::int64_t first = timecode::timeOfDayFrames(edit.pieces.front().from, rate);
        if (window.start - 30 <= first && first < window.end) found.push_back(&edit);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const DeckEdit* a, const DeckEdit* b) { return a->exportedAt < b->exportedAt; });
    return found;
}

std::vector<EditPiece> editPieces(const DeckEdit& edit, const std::vector<ShootLibrary::Clip>& takeClips,
                                  const TimelineRate& rate) {
    std::vector<EditPiece> pieces;
    for (const auto& piece : edit.pieces) {
        const std::int64_t pf = timecode::timeOfDayFrames(piece.from, rate);
        const std::int64_t pt = timecode::timeOfDayFrames(piece.to, rate);
        auto clip = std::find_if(takeClips.begin(), takeClips.end(), [&](const ShootLibrary::Clip& c) {
            const std::int64_t cs = clipStartFrame(c, rate);
            return c.camera == piece.camera && cs < pt && cs + frameCount(c, rate) > pf;
        });
        if (clip == takeClips.end()) continue;
        const std::int64_t cs = clipStartFrame(*clip, rate);
        const std::int64_t from = std::max(pf, cs);
        const std::int64_t to = std::min(pt, cs + frameCount(*clip, rate));
        if (from < to) pieces.push_back({&*clip, from, to});
    }
    return pieces;
}

}  // namespace morvane::timeline
