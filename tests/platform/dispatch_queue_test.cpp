#include "platform/dispatch_queue.h"

#include "recorder.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace morvane;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using morvane::test::Recorder;

namespace {

std::string threadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

TEST(DispatchQueue, RunsWorkInOrderOneBlockAtATimeOnItsOwnThread) {
    // Declared first: the queue goes first and its last work still finds them.
    Recorder order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> wrongThread{false};
    DispatchQueue queue("morvane.test");
    EXPECT_EQ(queue.label(), "morvane.test");
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(DispatchQueue::current(), nullptr);

    const auto caller = std::this_thread::get_id();
    // Several producers: each one's blocks keep their order, and no two blocks overlap.
    std::vector<std::thread> producers;
    for (int p = 0; p < 3; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 300; ++i) {
                queue.async([&, p, i] {
                    if (running.fetch_add(1) != 0) overlapped = true;
                    if (!queue.isCurrent() || DispatchQueue::current() != &queue ||
                        std::this_thread::get_id() == caller) {
                        wrongThread = true;
                    }
                    order.add(p * 1000 + i);
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& t : producers) t.join();
    queue.sync([] {});
    const auto values = order.values();
    ASSERT_EQ(values.size(), 900u);
    std::vector<int> last(3, -1);
    for (int v : values) {
        EXPECT_GT(v % 1000, last[v / 1000]) << "out of order: " << v;
        last[v / 1000] = v % 1000;
    }
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(wrongThread);
}

TEST(DispatchQueue, SyncWaitsForTheBlockAndRunsInlineFromTheQueueItself) {
    DispatchQueue queue("morvane.sync");
    DispatchQueue other("morvane.other");

    int value = 0;
    queue.async([&] {
        std::this_thread::sleep_for(20ms);
        value = 1;
    });
    queue.sync([&] { value *= 10; });  // runs after the earlier block, and has finished on return
    EXPECT_EQ(value, 10);
    EXPECT_EQ(queue.syncResult([&] { return value + 1; }), 11);
    EXPECT_EQ(queue.syncResult([] { return std::string("label"); }), "label");

    // Nested: sync from inside the same queue would deadlock if it queued behind itself.
    std::vector<int> steps;
    queue.sync([&] {
        steps.push_back(1);
        queue.sync([&] {
            EXPECT_TRUE(queue.isCurrent());
            steps.push_back(2);
        });
        steps.push_back(3);
    });
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 3}));

    // From another queue's thread into this one.
    auto done = std::make_shared<std::promise<bool>>();
    other.async([&, done] {
        bool ranOnQueue = false;
        queue.sync([&] { ranOnQueue = queue.isCurrent() && !other.isCurrent(); });
        done->set_value(ranOnQueue);
    });
    auto future = done->get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(future.get());
}

TEST(DispatchQueue, SyncOnAnIdleQueueRunsOnTheCallerAsTheQueuesWork) {
    Recorder order;
    DispatchQueue queue("morvane.inline");
    DispatchQueue other("morvane.outer");

    const auto caller = std::this_thread::get_id();
    bool onCaller = false;
    bool current = false;
    queue.sync([&] {
        onCaller = std::this_thread::get_id() == caller;
        current = queue.isCurrent() && DispatchQueue::current() == &queue;
    });
    EXPECT_TRUE(onCaller);
    EXPECT_TRUE(current);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(DispatchQueue::current(), nullptr);

    // From another queue's work: inside, this queue is the current one; after, the other one is again.
    std::promise<bool> restored;
    other.async([&] {
        bool inside = false;
        queue.sync([&] { inside = queue.isCurrent() && !other.isCurrent(); });
        restored.set_value(inside && other.isCurrent() && DispatchQueue::current() == &other);
    });
    EXPECT_TRUE(restored.get_future().get());

    // Work handed over (or coming due) while the block runs waits for it.
    queue.sync([&] {
        queue.async([&] { order.add(2); });
        queue.asyncAfter(0.001, [&] { order.add(3); });
        std::this_thread::sleep_for(30ms);
        order.add(1);
    });
    ASSERT_TRUE(order.waitFor(3));
    EXPECT_EQ(order.values(), (std::vector<int>{1, 2, 3}));

    // A throwing block reaches the caller and leaves the queue working, whichever thread ran it.
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("thrown"); }), std::runtime_error);
    queue.async([] { std::this_thread::sleep_for(20ms); });
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("thrown"); }), std::runtime_error);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(queue.syncResult([] { return 7; }), 7);
    queue.async([&] { order.add(4); });
    queue.sync([] {});
    EXPECT_EQ(order.values().back(), 4);
}

TEST(DispatchQueue, SyncAndAsyncFromManyThreadsNeverOverlap) {
    Recorder order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    DispatchQueue queue("morvane.mixed");
    auto work = [&](int tag) {
        if (running.fetch_add(1) != 0) overlapped = true;
        if (!queue.isCurrent()) overlapped = true;
        order.add(tag);
        running.fetch_sub(1);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                // Even threads mix the two ways; what one thread hands over keeps its order either way.
                if (t % 2 == 0 && i % 3 == 0) {
                    queue.async([&work, t, i] { work(t * 1000 + i); });
                } else {
                    queue.sync([&work, t, i] { work(t * 1000 + i); });
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    queue.sync([] {});
    const auto values = order.values();
    ASSERT_EQ(values.size(), 800u);
    std::vector<int> last(4, -1);
    for (int v : values) {
        EXPECT_GT(v % 1000, last[v / 1000]) << "out of order: " << v;
        last[v / 1000] = v % 1000;
    }
    EXPECT_FALSE(overlapped);
}

TEST(DispatchQueue, MayBeDestroyedFromInsideASyncBlockOnTheCaller) {
    auto queue = std::make_shared<DispatchQueue>("morvane.gone");
    auto raw = queue.get();
    auto ran = std::make_shared<std::promise<void>>();
    auto after = ran->get_future();
    raw->sync([&] {
        raw->async([ran] { ran->set_value(); });
        queue.reset();  // the last owner lets go inside the queue's own work
    });
    EXPECT_EQ(after.wait_for(10s), std::future_status::ready);
}

TEST(DispatchQueue, DelayedWorkRunsByDeadlineAndNotBefore) {
    // Declared first: the queue goes first and its last work still finds the recorder.
    Recorder order;
    DispatchQueue queue("morvane.delay");
    std::mutex timesMutex;
    std::vector<double> elapsed(5);
    const auto start = Clock::now();
    auto at = [&](int tag, double delay) {
        queue.asyncAfter(delay, [&, tag, delay] {
            {
                std::lock_guard lock(timesMutex);
                elapsed[tag] = secondsSince(start) - delay;
            }
            order.add(tag);
        });
    };
    at(0, 0.3);
    at(1, 0.1);
    at(2, 0.2);
    at(3, 0.1);  // same deadline as 1, handed over later
    at(4, 0.0);
    ASSERT_TRUE(order.waitFor(5));
    EXPECT_EQ(order.values(), (std::vector<int>{4, 1, 3, 2, 0}));
    std::lock_guard lock(timesMutex);
    for (double early : elapsed) EXPECT_GE(early, 0.0);
}

TEST(DispatchQueue, ImmediateWorkDoesNotWaitBehindDelayedWork) {
    // Declared first: the queue goes first and its last work still finds the recorder.
    Recorder order;
    DispatchQueue queue("morvane.delay");
    queue.asyncAfter(30.0, [&] { order.add(1); });
    queue.async([&] { order.add(2); });
    ASSERT_TRUE(order.waitFor(1));
    EXPECT_EQ(order.values(), std::vector<int>{2});
}

TEST(DispatchQueue, OddDelaysAreSafe) {
    // Declared first: the queue goes first and its last work still finds the recorder.
    Recorder order;
    DispatchQueue queue("morvane.odd");
    queue.asyncAfter(-5, [&] { order.add(1); });
    queue.asyncAfter(std::nan(""), [&] { order.add(2); });
    // These must neither run nor overflow the clock arithmetic.
    queue.asyncAfter(std::numeric_limits<double>::infinity(), [&] { order.add(3); });
    queue.asyncAfter(1e300, [&] { order.add(4); });
    ASSERT_TRUE(order.waitFor(2));
    queue.sync([] {});
    EXPECT_EQ(order.values(), (std::vector<int>{1, 2}));
}

TEST(DispatchQueue, CancelledWorkItemsDoNotRun) {
    // Declared first: the queue goes first and its last work still finds the recorder.
    Recorder order;
    DispatchQueue queue("morvane.cancel");
    auto delayed = std::make_shared<DispatchWorkItem>([&] { order.add(1); });
    auto kept = std::make_shared<DispatchWorkItem>([&] { order.add(2); });
    queue.asyncAfter(0.03, delayed);
    queue.asyncAfter(0.06, kept);
    delayed->cancel();
    EXPECT_TRUE(delayed->isCancelled());

    // Cancelled while waiting behind a busy block.
    std::promise<void> release;
    auto gate = release.get_future().share();
    queue.async([gate] { gate.wait(); });
    auto queued = std::make_shared<DispatchWorkItem>([&] { order.add(3); });
    queue.async(queued);
    queue.async(std::make_shared<DispatchWorkItem>([&] { order.add(4); }));
    queued->cancel();
    release.set_value();

    ASSERT_TRUE(order.waitFor(2));
    std::this_thread::sleep_for(50ms);  // past the cancelled item's deadline
    queue.sync([] {});
    EXPECT_EQ(order.values(), (std::vector<int>{4, 2}));
}

TEST(DispatchQueue, DelayedWorkHandedOverWhileTheQueueWaitsForADeadline) {
    // The queue thread waits for the earliest deadline while others add delayed work, which grows (and moves) the
    // list the deadline is kept in: the wait must not read the deadline where it was.
    DispatchQueue queue("morvane.deadlines");
    std::atomic<int> ran{0};
    queue.asyncAfter(3600.0, [&] { ran.fetch_add(1); });
    for (int round = 0; round < 200; ++round) {
        std::this_thread::sleep_for(1ms);
        queue.asyncAfter(1800.0 + round, [&] { ran.fetch_add(1); });
    }
    queue.async([&] { ran.fetch_add(1000); });
    queue.sync([] {});
    EXPECT_EQ(ran.load(), 1000);
}

TEST(DispatchQueue, DestructionRunsHandedOverWorkAndDropsDelayedWork) {
    Recorder order;
    auto captured = std::make_shared<int>(7);
    std::weak_ptr<int> watch = captured;
    const auto start = Clock::now();
    {
        DispatchQueue queue("morvane.teardown");
        queue.async([&] {
            std::this_thread::sleep_for(30ms);
            order.add(1);
        });
        queue.async([&] { order.add(2); });
        queue.asyncAfter(10.0, [&, captured] { order.add(3); });
        queue.asyncAfter(3600.0, std::make_shared<DispatchWorkItem>([&] { order.add(4); }));
        captured.reset();
    }
    // Neither waited for the delayed work nor ran it, and let go of what it held.
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_EQ(order.values(), (std::vector<int>{1, 2}));
    EXPECT_TRUE(watch.expired());
}

TEST(DispatchQueue, MayBeDestroyedFromInsideItsOwnWork) {
    auto queue = std::make_shared<DispatchQueue>("morvane.self");
    std::promise<void> release;
    auto gate = release.get_future().share();
    auto done = std::make_shared<std::promise<bool>>();
    auto finished = done->get_future();
    // The first block holds the last reference once the test lets go; the queue is destroyed on
    // its own thread when that block is released, and the work behind it must still run safely.
    queue->async([keep = queue, gate] { gate.wait(); });
    queue->async([done] { done->set_value(DispatchQueue::current() == nullptr); });
    queue.reset();
    release.set_value();
    ASSERT_EQ(finished.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(finished.get());
}

TEST(DispatchQueue, ThreadIsNamedAfterTheLabel) {
    for (const auto& [label, expected] : std::vector<std::pair<std::string, std::string>>{
             {"morvane.a", "morvane.a"},
             {"fifteen-chars-x", "fifteen-chars-x"},
             {"morvane.peer-session", "ne.peer-session"},
             {"brindlecroft.usb-hub", "lecroft.usb-hub"},
         }) {
        DispatchQueue queue(label);
        std::promise<std::string> name;
        queue.async([&] { name.set_value(threadName()); });
        EXPECT_EQ(name.get_future().get(), expected) << label;
    }
}

TEST(DispatchQueue, ManyShortLivedQueues) {
    std::atomic<int> ran{0};
    for (int i = 0; i < 50; ++i) {
        DispatchQueue queue("morvane.burst");
        for (int j = 0; j < 20; ++j) queue.async([&] { ran.fetch_add(1); });
        queue.asyncAfter(5.0, [&] { ran.fetch_add(1000); });
    }
    EXPECT_EQ(ran.load(), 1000);
}
