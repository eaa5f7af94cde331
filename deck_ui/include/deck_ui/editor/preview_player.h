#pragma once

#include <functional>
#include <optional>

#include "platform/program_renderer.h"

namespace morvane {

/// What the deck editor needs of its preview player: an item (a program plan) that it plays, pauses and seeks on
/// the program's time line. Called on the main thread only; the seek's completion runs there too.
class PreviewPlayer {
public:
    virtual ~PreviewPlayer() = default;

    /// Puts a new program in place of the current one, or none (the picture goes blank). Playback stops; the
    /// position returns to 0 until the next seek.
    virtual void replaceCurrentItem(std::optional<ProgramRenderer::Plan> plan) = 0;
    /// Moves to an exact program time. `completion` runs once the picture of that time is shown (true), or when a
    /// later seek or item replaced this one (false).
    virtual void seek(double programSeconds, std::function<void(bool)> completion = {}) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    /// 1 while playing, 0 while paused or stopped at the end.
    virtual double rate() const = 0;
    /// The program time shown now, in seconds.
    virtual double currentTime() const = 0;
};

}  // namespace morvane
