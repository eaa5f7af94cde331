#pragma once

#include "platform/dispatch_queue.h"

#include <QObject>
#include <QPointer>

namespace morvane {

/// Runs work on the Qt GUI thread through its event loop: the application's main queue.
class QtMainExecutor final : public Executor {
public:
    QtMainExecutor();
    ~QtMainExecutor() override;

    using Executor::async;
    using Executor::asyncAfter;
    void async(std::function<void()> block) override;
    void asyncAfter(double seconds, std::function<void()> block) override;
    bool isCurrent() const override;

    /// The process-wide main executor (needs a QCoreApplication).
    static std::shared_ptr<QtMainExecutor> shared();

private:
    QPointer<QObject> context_;
};

}  // namespace morvane
