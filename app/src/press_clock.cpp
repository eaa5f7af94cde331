#include "app/press_clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QInputEvent>
#include <QKeyEvent>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace morvane {

Date PressClock::madeAt(std::uint64_t stamp, Date handled, std::optional<double> guess) {
    if (stamp == 0) return handled;
    const double seen = handled.secondsSinceReferenceDate - static_cast<double>(stamp) / 1000.0;
    if (guess && seen >= *guess - 0.05 && seen - *guess <= longestWait) {
        // The stamps' clock is known and read now: a tie kept through an idle spell would have loosened.
        offset_ = *guess;
        tiedAt_ = handled;
        return handled.addingTimeInterval(-std::max(0.0, seen - *guess));
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

PressTimes::PressTimes(std::function<Date()> now, QObject* parent) : QObject(parent), now_(std::move(now)) {
    if (auto* app = QCoreApplication::instance()) app->installEventFilter(this);
}

PressTimes::~PressTimes() {
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

double PressTimes::monotonicGuess(Date now) {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    const auto ms = static_cast<std::uint64_t>(t.tv_sec) * 1000u + static_cast<std::uint64_t>(t.tv_nsec) / 1'000'000u;
    return now.secondsSinceReferenceDate - static_cast<double>(ms & 0xFFFFFFFFu) / 1000.0;
}

Date PressTimes::madeAt(std::uint64_t stamp, Date handled) {
    return clock_.madeAt(stamp, handled, monotonicGuess(handled));
}

std::optional<Date> PressTimes::pressMadeAt() const {
    // The control acts while its press (or its click's release) is handled; a press from longer ago is not the one.
    if (!press_ || std::abs(now_().timeIntervalSince(pressHandled_)) > 0.25) return std::nullopt;
    return press_;
}

bool PressTimes::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->isAutoRepeat()) break;
            pressHandled_ = now_();
            press_ = madeAt(key->timestamp(), pressHandled_);
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            pressHandled_ = now_();
            press_ = madeAt(static_cast<QInputEvent*>(event)->timestamp(), pressHandled_);
            break;
        case QEvent::MouseButtonRelease:
            // A click acts on its release, and was made when its button went down.
            pressHandled_ = now_();
            madeAt(static_cast<QInputEvent*>(event)->timestamp(), pressHandled_);
            break;
        case QEvent::KeyRelease:
        case QEvent::MouseMove:
        case QEvent::Wheel:
            // Every stamped event handled promptly ties the stamps' clock closer.
            madeAt(static_cast<QInputEvent*>(event)->timestamp(), now_());
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace morvane
