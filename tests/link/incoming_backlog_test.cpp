#include "incoming_files.h"

#include <gtest/gtest.h>

#include <deque>

namespace morvane::test {
namespace {

/// A connection that only notes whether its reading is paused.
class PausableConnection final : public nearby::NearbyConnection {
public:
    void start(Handlers) override {}
    void send(std::uint8_t, const std::uint8_t*, std::size_t, std::function<void()>, Lane) override {}
    void pauseReading() override { paused = true; }
    void resumeReading() override { paused = false; }
    void recycle(Bytes) override {}
    void close(const std::string&) override {}
    bool isClosed() const override { return false; }
    std::size_t bufferedAmount() const override { return 0; }
    double secondsSinceReceive() const override { return 0; }
    double secondsSinceSend() const override { return 0; }
    std::string remoteAddress() const override { return "127.0.0.1"; }

    bool paused = false;
};

// Reading stops above 16 MiB of file data waiting for the disk and goes on as soon as less than 15 MiB wait, so that
// packets behind the file data in the peer's stream never wait for long.
TEST(IncomingBacklogTest, ReadingPausesAbove16MiBAndGoesOnBelow15MiB) {
    constexpr std::size_t chunk = 256u << 10;
    constexpr std::size_t mib = 1u << 20;
    auto conn = std::make_shared<PausableConnection>();
    auto backlog = std::make_shared<IncomingFiles::Backlog>(conn);
    std::deque<std::shared_ptr<void>> waiting;
    auto waitingBytes = [&] { return waiting.size() * chunk; };

    while (waitingBytes() < 16 * mib) waiting.push_back(IncomingFiles::Backlog::add(backlog, chunk));
    EXPECT_FALSE(conn->paused);
    waiting.push_back(IncomingFiles::Backlog::add(backlog, chunk));
    EXPECT_TRUE(conn->paused);

    // Chunks written, oldest first.
    while (waitingBytes() > 15 * mib) {
        waiting.pop_front();
        EXPECT_TRUE(conn->paused) << waitingBytes() << " bytes waiting";
    }
    waiting.pop_front();
    EXPECT_FALSE(conn->paused) << waitingBytes() << " bytes waiting";

    // And again once it is full.
    while (waitingBytes() <= 16 * mib) waiting.push_back(IncomingFiles::Backlog::add(backlog, chunk));
    EXPECT_TRUE(conn->paused);
    waiting.clear();
    EXPECT_FALSE(conn->paused);
}

// What the operator reads of a refused file's size and of the free space: a photo is never "0.0 GB".
TEST(IncomingFilesTest, SizesBelow50MBReadInMegabytes) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0.0 MB"},           {300'000, "0.3 MB"},    {12'345'678, "12.3 MB"},
        {49'940'000, "49.9 MB"}, {50'000'000, "0.1 GB"}, {4'400'000'000, "4.4 GB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(IncomingFiles::sizeText(bytes), text) << bytes;
}

}  // namespace
}  // namespace morvane::test
