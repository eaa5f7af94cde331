#include "qt_main_executor.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

namespace morvane {

// The application object lives on the GUI thread for as long as its event loop can run anything,
// so it serves as the context of every call and timer; nothing of ours needs deleting there.

QtMainExecutor::QtMainExecutor() : alive_(std::make_shared<std::atomic<bool>>(true)) {}

QtMainExecutor::~QtMainExecutor() {
    alive_->store(false);
}

void QtMainExecutor::async(std::function<void()> block) {
    auto* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app, [b = std::move(block)] { b(); }, Qt::QueuedConnection);
}

void QtMainExecutor::asyncAfter(double seconds, std::function<void()> block) {
    auto* app = QCoreApplication::instance();
    if (!app) return;
    // The deadline counts from now, not from when the GUI thread gets round to starting the timer.
    using Clock = std::chrono::steady_clock;
    const double delay = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, INT_MAX / 1000.0);
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(delay));
    // A timer must be started from the thread whose event loop runs it; hop to the GUI thread first.
    QMetaObject::invokeMethod(
        app,
        [alive = alive_, due, b = std::move(block)]() mutable {
            if (!alive->load()) return;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
            const int ms = left > 0 ? static_cast<int>(std::min<long long>(left, INT_MAX)) : 0;
            QTimer::singleShot(ms, Qt::PreciseTimer, QCoreApplication::instance(),
                               [alive = std::move(alive), b = std::move(b)] {
                                   if (alive->load()) b();
                               });
        },
        Qt::QueuedConnection);
}

bool QtMainExecutor::isCurrent() const {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

std::shared_ptr<QtMainExecutor> QtMainExecutor::shared() {
    static std::shared_ptr<QtMainExecutor> executor = std::make_shared<QtMainExecutor>();
    return executor;
}

}  // namespace morvane
