#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

namespace morvane::test {

/// Runs the Qt event loop until the condition holds (true) or the time is up (false).
inline bool eventually(const std::function<bool()>& condition, int milliseconds = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace morvane::test
