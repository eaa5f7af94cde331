#include "platform/manual_executor.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace morvane;

TEST(ManualExecutor, RunsWorkOnlyWhenItsClockIsMoved) {
    ManualExecutor executor;
    std::vector<std::pair<int, double>> ran;  // tag, clock while running
    auto mark = [&](int tag) { return [&, tag] { ran.emplace_back(tag, executor.now()); }; };

    executor.asyncAfter(1.0, mark(1));
    executor.asyncAfter(0.5, mark(2));
    executor.asyncAfter(0.5, mark(3));  // same deadline, later: runs after 2
    executor.async(mark(4));
    executor.asyncAfter(-1, mark(5));
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(executor.pendingCount(), 5u);

    EXPECT_EQ(executor.runPending(), 2u);
    EXPECT_EQ(ran, (std::vector<std::pair<int, double>>{{4, 0.0}, {5, 0.0}}));

    // Work handed over while running lands at its own deadline inside the same step, or stays.
    executor.asyncAfter(0.4, [&] {
        ran.emplace_back(6, executor.now());
        executor.asyncAfter(0.3, mark(7));  // due at 0.7
        executor.asyncAfter(0.7, mark(8));  // due at 1.1: beyond this step
    });
    ran.clear();
    EXPECT_EQ(executor.advance(1.0), 5u);
    EXPECT_EQ(ran, (std::vector<std::pair<int, double>>{{6, 0.4}, {2, 0.5}, {3, 0.5}, {7, 0.7}, {1, 1.0}}));
    EXPECT_DOUBLE_EQ(executor.now(), 1.0);
    EXPECT_EQ(executor.pendingCount(), 1u);

    ran.clear();
    EXPECT_EQ(executor.advance(0.05), 0u);
    EXPECT_EQ(executor.advance(0.05), 1u);
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(ran[0].first, 8);
    EXPECT_DOUBLE_EQ(ran[0].second, 1.1);
    EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST(ManualExecutor, CancelledItemsAndOtherThreads) {
    ManualExecutor executor;
    EXPECT_TRUE(executor.isCurrent());
    int ran = 0;
    auto item = std::make_shared<DispatchWorkItem>([&] { ran += 1; });
    executor.asyncAfter(2.0, item);
    item->cancel();

    bool currentElsewhere = true;
    std::thread other([&] {
        currentElsewhere = executor.isCurrent();
        executor.async([&] { ran += 10; });
    });
    other.join();
    EXPECT_FALSE(currentElsewhere);
    EXPECT_EQ(executor.advance(5.0), 2u);  // the cancelled item is taken but does nothing
    EXPECT_EQ(ran, 10);
}
