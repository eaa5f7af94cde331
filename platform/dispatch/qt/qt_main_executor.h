#pragma once

#include "platform/dispatch_queue.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

namespace morvane {

/// Runs work on the Qt GUI thread through its event loop: the application's main queue. Work handed
/// over while no QCoreApplication exists is dropped. Work handed over before the executor is
/// destroyed still runs; delayed work that has not come due is dropped with it.
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
    // Cleared when the executor goes, so that its delayed work that has not come due is dropped.
    std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace morvane
