#include "platform/log.h"

#include "scoped_env.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>
#include <vector>

using namespace morvane;
using morvane::test::ScopedEnv;

TEST(Log, WritesComponentPrefixedLinesToStandardErrorWhenAsked) {
    {
        ScopedEnv env("MORVANE_LOG_STDERR", "1");
        ::testing::internal::CaptureStderr();
        log::error("MovieRecorder", "couldn't create the writer");
        log::info("PeerSession", "connected to “Cam A”");
        log::debug("X", "");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "MovieRecorder: couldn't create the writer\nPeerSession: connected to “Cam A”\nX: \n");
    }
    // Not asked and not at a terminal: only where there is no system log, lest the line be lost.
    ScopedEnv env("MORVANE_LOG_STDERR", nullptr);
    ::testing::internal::CaptureStderr();
    log::error("MovieRecorder", "couldn't create the writer");
    log::debug("X", "never at a terminal");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              log::hasSystemLog() ? "" : "MovieRecorder: couldn't create the writer\n");
}

TEST(Log, LinesFromManyThreadsStayWhole) {
    ScopedEnv env("MORVANE_LOG_STDERR", "1");
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                log::info("Thread" + std::to_string(t), "line " + std::to_string(i) + std::string(200, 'x'));
            }
        });
    }
    for (auto& t : threads) t.join();
    std::istringstream out(::testing::internal::GetCapturedStderr());
    std::set<std::string> lines;
    for (std::string line; std::getline(out, line);) lines.insert(line);
    EXPECT_EQ(lines.size(), 400u);
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 100; ++i) {
            const std::string expected =
                "Thread" + std::to_string(t) + ": line " + std::to_string(i) + std::string(200, 'x');
            EXPECT_TRUE(lines.count(expected)) << expected;
        }
    }
}
