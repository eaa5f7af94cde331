#include "app/press_clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QInputEvent>
#include <QKeyEvent>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace morvane {

Date PressClock::madeAt(std::uint64_t stamp, Date handled) {
    if (stamp == 0) return handled;
    const double seen = handled.secondsSinceReferenceDate - static_cast<double>(stamp) / 1000.0;
    if (guess_ && !offset_) {
        // The guessed clock holds if this event was handled after its stamp, and not implausibly long after.
        if (seen >= *guess_ - 0.05 && seen - *guess_ <= longestWait) offset_ = *guess_;
        guess_.reset();
    }
    if (offset_) *offset_ += drift * std::max(0.0, handled.timeIntervalSince(tiedAt_));
    tiedAt_ = handled;
    if (!offset_ || seen < *offset_) offset_ = seen;
    const double waited = seen - *offset_;
    if (waited > longestWait) {
        offset_ = seen;
        return handled;
    }
    return handled.addingTimeInterval(-waited);
}

KeyPressTimes::KeyPressTimes(std::function<Date()> now, QObject* parent)
    : QObject(parent), now_(std::move(now)), clock_(monotonicGuess(now_())) {
    if (auto* app = QCoreApplication::instance()) app->installEventFilter(this);
}

KeyPressTimes::~KeyPressTimes() {
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

double KeyPressTimes::monotonicGuess(Date now) {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    const auto ms = static_cast<std::uint64_t>(t.tv_sec) * 1000u + static_cast<std::uint64_t>(t.tv_nsec) / 1'000'000u;
    return now.secondsSinceReferenceDate - static_cast<double>(ms & 0xFFFFFFFFu) / 1000.0;
}

std::optional<Date> KeyPressTimes::pressMadeAt() const {
    // The shortcut fires while its key event is handled; a press from longer ago is not the one.
    if (!press_ || std::abs(now_().timeIntervalSince(pressHandled_)) > 0.25) return std::nullopt;
    return press_;
}

bool KeyPressTimes::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->isAutoRepeat()) break;
            pressHandled_ = now_();
            press_ = clock_.madeAt(key->timestamp(), pressHandled_);
            break;
        }
        case QEvent::KeyRelease:
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::Wheel:
            // Every stamped event handled promptly ties the stamps' clock closer.
            clock_.madeAt(static_cast<QInputEvent*>(event)->timestamp(), now_());
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace morvane
