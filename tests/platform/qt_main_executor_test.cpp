#include "qt_main_executor.h"
#include "platform/dispatch_queue.h"
#include "recorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

using namespace morvane;
using namespace std::chrono_literals;
using morvane::test::Recorder;

namespace {

/// Runs the main event loop until `done` holds or the time-out passes.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void pumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

}  // namespace

TEST(QtMainExecutor, RunsWorkFromOtherThreadsOnTheGuiThread) {
    auto main = QtMainExecutor::shared();
    EXPECT_EQ(main, QtMainExecutor::shared());
    EXPECT_TRUE(main->isCurrent());

    DispatchQueue queue("morvane.qt-test");
    std::atomic<bool> currentOnQueue{true};
    std::atomic<int> onGui{0};
    std::atomic<int> elsewhere{0};
    Recorder order;
    queue.async([&] {
        currentOnQueue = main->isCurrent();
        for (int i = 0; i < 50; ++i) {
            main->async([&, i] {
                (QThread::currentThread() == QCoreApplication::instance()->thread() && main->isCurrent() ? onGui
                                                                                                         : elsewhere)++;
                order.add(i);
            });
        }
    });
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 50; }));
    EXPECT_FALSE(currentOnQueue);
    EXPECT_EQ(onGui, 50);
    EXPECT_EQ(elsewhere, 0);
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i) expected[i] = i;
    EXPECT_EQ(order.values(), expected);
}

TEST(QtMainExecutor, DelayedWorkRunsByDeadlineOnTheGuiThread) {
    QtMainExecutor main;
    Recorder order;
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> early;
    DispatchQueue queue("morvane.qt-delay");
    auto at = [&](int tag, int ms) {
        main.asyncAfter(ms / 1000.0, [&, tag, ms] {
            EXPECT_TRUE(main.isCurrent());
            early.push_back(clock.elapsed() - ms);
            order.add(tag);
        });
    };
    queue.sync([&] {
        at(1, 300);
        at(2, 100);
        at(3, 200);
    });
    at(4, 0);
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order.values(), (std::vector<int>{4, 2, 3, 1}));
    for (auto e : early) EXPECT_GE(e, 0);
}

TEST(QtMainExecutor, DeadlineCountsFromTheCallNotFromWhenTheGuiThreadIsFree) {
    QtMainExecutor main;
    DispatchQueue queue("morvane.qt-busy");
    Recorder order;
    std::atomic<bool> busy{false}, asked{false};
    // The GUI thread is busy; meanwhile another thread asks for work in 100 ms. When the GUI thread is free
    // (150 ms after that call, however late the other thread got to it) it asks for its own work in 50 ms: the
    // first is overdue by then and must come first.
    main.async([&] {
        busy = true;
        for (int i = 0; i < 10000 && !asked; ++i) QThread::msleep(1);
        QThread::msleep(150);
        main.asyncAfter(0.05, [&] { order.add(2); });
    });
    queue.async([&] {
        while (!busy) std::this_thread::sleep_for(1ms);
        main.asyncAfter(0.1, [&] { order.add(1); });
        asked = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order.values(), (std::vector<int>{1, 2}));
}

TEST(QtMainExecutor, CancelledAndDroppedWorkDoesNotRun) {
    Recorder order;
    {
        QtMainExecutor main;
        auto item = std::make_shared<DispatchWorkItem>([&] { order.add(1); });
        main.asyncAfter(0.03, item);
        main.async(std::make_shared<DispatchWorkItem>([&] { order.add(2); }));
        item->cancel();
        pumpFor(80);
    }
    EXPECT_EQ(order.values(), std::vector<int>{2});

    {
        // Work handed over before the executor goes still runs; delayed work goes with it.
        auto main = std::make_unique<QtMainExecutor>();
        main->asyncAfter(0.03, [&] { order.add(3); });
        main->async([&] { order.add(4); });
        main.reset();
        pumpFor(80);
    }
    EXPECT_EQ(order.values(), (std::vector<int>{2, 4}));
}
