#include "take_timeline.h"

#include <algorithm>

#include "shoot_library/timecode.h"

namespace morvane::timeline {

namespace {

// Exact products of frame counts and rates.
__extension__ typedef __int128 Wide;

// A rate as frames per second num/den. Nominal rates are held to a million, far above any camera's, so that the
// products of frame counts (at most 4e15) and rates fit 128 bits.
std::pair<Wide, Wide> fraction(const TimelineRate& rate) {
    const Wide nominal = std::clamp<std::int64_t>(rate.rate, 1, 1'000'000);
    if (rate.ntsc && TimelineRate::ntscRates().count(rate.rate)) return {nominal * 1000, 1001};
    return {nominal, 1};
}

}  // namespace

std::int64_t convertFrames(std::int64_t frames, const TimelineRate& from, const TimelineRate& to, bool up) {
    const auto [fromNum, fromDen] = fraction(from);
    const auto [toNum, toDen] = fraction(to);
    const Wide num = static_cast<Wide>(frames) * fromDen * toNum;
    const Wide den = fromNum * toDen;
    Wide quotient = num / den;  // toward zero
    const Wide rest = num % den;
    if (rest != 0 && (rest > 0) == up) quotient += up ? 1 : -1;
    return static_cast<std::int64_t>(quotient);
}

ClipSpan clipSpan(const ShootLibrary::Clip& clip, const TimelineRate& rate) {
    const TimelineRate own = movieRate(clip, rate);
    const std::int64_t movieStart = movieStartFrame(clip, own);
    const std::int64_t first = convertFrames(movieStart, own, rate, true);
    const std::int64_t last =
        std::max(first, convertFrames(movieStart + timecode::frames(own, clip.duration), own, rate, false));
    const std::int64_t captured = timecode::timeOfDayFrames(clip.start, rate);
    const std::int64_t difference = first - captured;
    ClipSpan span;
    span.start = difference >= -1 && difference <= 1 ? first : captured;
    span.in = first;
    span.length = std::clamp<std::int64_t>(timecode::frames(rate, clip.duration), 0, last - first);
    return span;
}

std::int64_t clipStartFrame(const ShootLibrary::Clip& clip, const TimelineRate& rate) {
    return clipSpan(clip, rate).start;
}

TimelineRate movieRate(const ShootLibrary::Clip& clip, const TimelineRate& fallback) {
    return clip.frameRate ? timecode::normalised(*clip.frameRate, clip.ntsc.value_or(false)) : fallback;
}

std::int64_t movieStartFrame(const ShootLibrary::Clip& clip, const TimelineRate& own) {
    return clip.timecodeFrame ? *clip.timecodeFrame : timecode::timeOfDayFrames(clip.start, own);
}

FrameWindow takeWindow(const std::vector<ShootLibrary::Clip>& clips, const TimelineRate& rate) {
    FrameWindow window;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const ClipSpan span = clipSpan(clips[i], rate);
        const std::int64_t s = span.start;
        const std::int64_t e = span.end();
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
            const ClipSpan span = clipSpan(c, rate);
            return c.camera == piece.camera && span.start < pt && span.end() > pf;
        });
        if (clip == takeClips.end()) continue;
        const ClipSpan span = clipSpan(*clip, rate);
        const std::int64_t from = std::max(pf, span.start);
        const std::int64_t to = std::min(pt, span.end());
        if (from < to) pieces.push_back({&*clip, from, to});
    }
    return pieces;
}

}  // namespace morvane::timeline
