#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/date.h"

namespace morvane {

/// When a key or mouse button was pressed, from the press's own stamp. Presses wait in the queue while the main
/// thread is busy and are then handled one right after the other; their stamps (milliseconds on the window
/// system's clock) still say when each was made. Where the stamps' clock is known (the caller's reading of
/// wall clock − stamp clock agrees with the event), that reading places the press. Otherwise the stamps' clock is
/// tied to the wall clock by the event handled soonest after its stamp: the least (handled − stamp) seen, loosened
/// by `drift` per second so that a clock that drifts is followed.
class PressClock {
public:
    /// A press stamped further back than this when handled is taken as made when handled: no main thread is busy
    /// that long, a stamp that far off comes from a clock that was set or wrapped.
    static constexpr double longestWait = 60.0;
    static constexpr double drift = 0.001;

    /// An input event stamped `stamp` ms, handled at `handled`: when it was made, never after `handled`. A stamp of
    /// 0 is no stamp. `guess`: (wall clock − stamp clock) in seconds, read at `handled`, if the stamps' clock is
    /// likely known (the X server and Wayland compositors stamp with the monotonic clock); it counts only when
    /// this event agrees with it.
    Date madeAt(std::uint64_t stamp, Date handled, std::optional<double> guess = std::nullopt);

private:
    std::optional<double> offset_;  // handled − stamp of the promptest event, seconds
    Date tiedAt_;
};

/// When the press being handled now was made, if one is.
using PressMoment = std::function<std::optional<Date>()>;

/// Watches the application's input events for `PressClock` and keeps the moment of the key or mouse press being
/// handled, so that a control that cuts or marks knows when it was pressed. Lives on the main thread.
class PressTimes : public QObject {
public:
    explicit PressTimes(std::function<Date()> now, QObject* parent = nullptr);
    ~PressTimes() override;

    /// When the key press, or the mouse press of the click, now being handled was made; none outside the handling
    /// of a press or of its button's release.
    std::optional<Date> pressMadeAt() const;

    /// The wall clock minus CLOCK_MONOTONIC in 32-bit milliseconds, as the X server stamps.
    static double monotonicGuess(Date now);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Date madeAt(std::uint64_t stamp, Date handled);

    std::function<Date()> now_;
    PressClock clock_;
    std::optional<Date> press_;
    Date pressHandled_;
};

}  // namespace morvane
