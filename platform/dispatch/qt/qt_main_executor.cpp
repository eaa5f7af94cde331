#include "qt_main_executor.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace morvane {

QtMainExecutor::QtMainExecutor() {
    auto* context = new QObject();
    if (auto* app = QCoreApplication::instance()) context->moveToThread(app->thread());
    context_ = context;
}

QtMainExecutor::~QtMainExecutor() {
    if (context_) context_->deleteLater();
}

void QtMainExecutor::async(std::function<void()> block) {
    if (!context_) return;
    QMetaObject::invokeMethod(context_.data(), [b = std::move(block)] { b(); }, Qt::QueuedConnection);
}

void QtMainExecutor::asyncAfter(double seconds, std::function<void()> block) {
    if (!context_) return;
    const int ms = seconds > 0 ? static_cast<int>(seconds * 1000.0 + 0.5) : 0;
    // QTimer::singleShot must be started from a thread with an event loop; hop to the main thread first.
    QPointer<QObject> context = context_;
    QMetaObject::invokeMethod(
        context_.data(),
        [context, ms, b = std::move(block)]() mutable {
            if (context) QTimer::singleShot(ms, context.data(), std::move(b));
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
