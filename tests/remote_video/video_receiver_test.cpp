// The live video receiver on real libx264 streams: acknowledgements, key-frame requests, decoding, picture
// size and rotation, tap conversion, statistics, reset, and damaged or hostile packets.

#include "remote/video_receiver.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "live_stream.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;
using testing::LiveStream;

/// The camera's side of the link: every packet the receiver sends, and a gate that can hold the receiver's
/// queue inside a send.
class CameraPeer {
public:
    void attach(VideoReceiver& receiver) {
        receiver.setSendToCamera([this](const Bytes& packet) { take(packet); });
    }

    std::vector<std::uint32_t> acks() const {
        std::lock_guard guard(mutex_);
        return acks_;
    }
    int keyframeRequests() const {
        std::lock_guard guard(mutex_);
        return requests_;
    }
    int others() const {
        std::lock_guard guard(mutex_);
        return others_;
    }

    /// The next send waits until `open` is called.
    void closeGate() {
        std::lock_guard guard(mutex_);
        gateClosed_ = true;
        held_ = false;
    }
    bool holding() const {
        std::lock_guard guard(mutex_);
        return held_;
    }
    void openGate() {
        {
            std::lock_guard guard(mutex_);
            gateClosed_ = false;
        }
        cv_.notify_all();
    }

private:
    void take(const Bytes& packet) {
        std::unique_lock lock(mutex_);
        if (gateClosed_) {
            held_ = true;
            cv_.wait(lock, [&] { return !gateClosed_; });
        }
        if (auto ack = AckPacket::decode(packet)) {
            acks_.push_back(ack->frameNumber);
        } else if (isKeyframeRequestPacket(packet)) {
            ++requests_;
        } else {
            ++others_;
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::uint32_t> acks_;
    int requests_ = 0;
    int others_ = 0;
    bool gateClosed_ = false;
    bool held_ = false;
};

template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        if (pred()) return true;
        std::this_thread::sleep_for(2ms);
    }
    QCoreApplication::processEvents();
    return pred();
}

/// Lets everything queued so far settle: the receiver's queue, then what it handed to the main thread.
void settle(VideoReceiver& receiver, CameraPeer&) {
    receiver.queue().sync([] {});
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

struct Fixture : ::testing::Test {
    std::shared_ptr<VideoReceiver> receiver = VideoReceiver::make();
    CameraPeer peer;
    std::vector<std::optional<QSizeF>> sizes;

    void SetUp() override {
        peer.attach(*receiver);
        receiver->onPictureSize = [this](std::optional<QSizeF> size) { sizes.push_back(size); };
        receiver->layout(QRectF(0, 0, 400, 400));
    }

    void send(const testing::StreamFrame& f, bool withParameterSets = true) {
        if (withParameterSets && f.parameterSets) receiver->receive(*f.parameterSets);
        receiver->receive(f.frame);
    }

    const QImage& picture() const { return receiver->containerLayer().picture(); }
};

using VideoReceiverTest = Fixture;

TEST_F(VideoReceiverTest, AcknowledgesEveryFrameAndShowsPicturesFromTheFirstKeyFrame) {
    LiveStream stream(320, 240);
    (void)stream.next();           // the receiver joins after this key frame...
    auto before = stream.take(3);  // ...so the first frames it sees are not key frames
    for (const auto& f : before) send(f);
    settle(*receiver, peer);
    EXPECT_TRUE(picture().isNull());
    EXPECT_EQ(peer.keyframeRequests(), 1);  // three frames within 0.5 s: one request
    EXPECT_TRUE(sizes.empty());

    auto key = stream.next(true);
    send(key);
    auto after = stream.take(10);
    for (const auto& f : after) send(f);
    settle(*receiver, peer);

    std::vector<std::uint32_t> expected;
    for (const auto& f : before) expected.push_back(f.number);
    expected.push_back(key.number);
    for (const auto& f : after) expected.push_back(f.number);
    EXPECT_EQ(peer.acks(), expected);
    EXPECT_EQ(peer.others(), 0);

    ASSERT_FALSE(picture().isNull());
    EXPECT_EQ(picture().size(), QSize(320, 240));
    EXPECT_EQ(picture().format(), QImage::Format_RGB32);
    // The last picture (the 15th made) has its bright square at x = 8 × 14, a third of the way down.
    EXPECT_GT(qGray(picture().pixel(112 + 32, 80 + 32)), 200);
    EXPECT_LT(qGray(picture().pixel(112 - 40, 80 + 32)), 200);
    ASSERT_EQ(sizes.size(), 1u);  // the same size is reported once however many parameter sets arrive
    EXPECT_EQ(sizes[0], QSizeF(320, 240));
    EXPECT_EQ(receiver->videoSize(), QSizeF(320, 240));
    EXPECT_EQ(peer.keyframeRequests(), 1);
}

TEST_F(VideoReceiverTest, KeyFrameRequestsAtMostEveryHalfSecond) {
    LiveStream stream(160, 120);
    (void)stream.next();
    auto frames = stream.take(21);
    for (int i = 0; i < 20; ++i) send(frames[static_cast<std::size_t>(i)]);
    settle(*receiver, peer);
    EXPECT_EQ(peer.keyframeRequests(), 1);
    EXPECT_EQ(peer.acks().size(), 20u);
    std::this_thread::sleep_for(550ms);
    send(frames[20]);
    settle(*receiver, peer);
    EXPECT_EQ(peer.keyframeRequests(), 2);
}

TEST_F(VideoReceiverTest, KeyFrameBeforeParameterSetsDoesNotEndTheWait) {
    LiveStream stream(320, 240);
    auto key = stream.next();
    auto next = stream.take(3);
    send(key, false);  // the parameter sets were lost
    settle(*receiver, peer);
    EXPECT_EQ(peer.keyframeRequests(), 1);
    // The sets arrive late, then frames that depend on the key frame the receiver could not decode: none
    // of them may be shown.
    receiver->receive(*key.parameterSets);
    for (const auto& f : next) send(f);
    settle(*receiver, peer);
    EXPECT_TRUE(picture().isNull());
    EXPECT_EQ(sizes.size(), 1u);  // the format itself is known now

    auto key2 = stream.next(true);
    send(key2);
    settle(*receiver, peer);
    ASSERT_FALSE(picture().isNull());
    EXPECT_EQ(picture().size(), QSize(320, 240));
}

TEST_F(VideoReceiverTest, RotationTurnsTheLayerAndSwapsTheReportedSize) {
    LiveStream stream(320, 240);
    send(stream.next(false, 0));
    settle(*receiver, peer);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes.back(), QSizeF(320, 240));

    send(stream.next(false, 1));
    settle(*receiver, peer);
    EXPECT_EQ(receiver->rotation(), 1);
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes.back(), QSizeF(240, 320));
    const auto& layer = receiver->containerLayer();
    EXPECT_EQ(layer.quarterTurns(), 1);
    EXPECT_EQ(layer.frame(), QRectF(0, 0, 400, 400));
    EXPECT_EQ(layer.displayPosition(), QPointF(200, 200));

    // Same rotation again: nothing to report.
    send(stream.next(false, 1));
    settle(*receiver, peer);
    EXPECT_EQ(sizes.size(), 2u);

    // Only the low two bits count: 6 is a half turn.
    send(stream.next(false, 6));
    settle(*receiver, peer);
    EXPECT_EQ(receiver->rotation(), 2);
    EXPECT_EQ(sizes.back(), QSizeF(320, 240));

    // In a wide host a quarter turn swaps the display area's sides.
    send(stream.next(false, 3));
    settle(*receiver, peer);
    receiver->layout(QRectF(0, 0, 640, 360));
    EXPECT_EQ(layer.displaySize(), QSizeF(360, 640));
    EXPECT_EQ(layer.displayPosition(), QPointF(320, 180));
}

TEST_F(VideoReceiverTest, TapsBecomePicturePointsWhateverTheRotation) {
    LiveStream stream(320, 240);
    auto key = stream.next();
    EXPECT_FALSE(receiver->devicePoint(QPointF(200, 200)));  // no size yet
    send(key);
    settle(*receiver, peer);
    // 400 × 400 host, 4:3 picture: 400 × 300 with 50-point bars above and below.
    auto centre = receiver->devicePoint(QPointF(200, 200));
    ASSERT_TRUE(centre);
    EXPECT_DOUBLE_EQ(centre->x(), 0.5);
    EXPECT_DOUBLE_EQ(centre->y(), 0.5);
    EXPECT_FALSE(receiver->devicePoint(QPointF(200, 20)));
    EXPECT_FALSE(receiver->devicePoint(QPointF(200, 360)));
    auto corner = receiver->devicePoint(QPointF(1, 51));
    ASSERT_TRUE(corner);
    EXPECT_NEAR(corner->x(), 1.0 / 400, 1e-9);
    EXPECT_NEAR(corner->y(), 1.0 / 300, 1e-9);

    // A quarter turn clockwise: the picture's top-left corner is now at the top right of the host and the
    // bars are at the sides.
    send(stream.next(false, 1));
    settle(*receiver, peer);
    centre = receiver->devicePoint(QPointF(200, 200));
    ASSERT_TRUE(centre);
    EXPECT_NEAR(centre->x(), 0.5, 1e-9);
    EXPECT_NEAR(centre->y(), 0.5, 1e-9);
    corner = receiver->devicePoint(QPointF(349, 1));
    ASSERT_TRUE(corner);
    EXPECT_NEAR(corner->x(), 1.0 / 400, 1e-9);
    EXPECT_NEAR(corner->y(), 1.0 / 300, 1e-9);
    EXPECT_FALSE(receiver->devicePoint(QPointF(20, 200)));
    EXPECT_TRUE(receiver->devicePoint(QPointF(200, 20)));

    // A host offset from its parent's origin: the bounds' origin is the container's.
    send(stream.next(false, 0));
    settle(*receiver, peer);
    receiver->layout(QRectF(100, 50, 400, 400));
    centre = receiver->devicePoint(QPointF(300, 250));
    ASSERT_TRUE(centre);
    EXPECT_NEAR(centre->x(), 0.5, 1e-9);
    EXPECT_NEAR(centre->y(), 0.5, 1e-9);
}

TEST_F(VideoReceiverTest, PaintsTheTurnedPictureAspectFit) {
    LiveStream stream(320, 240);
    send(stream.next(false, 1));
    settle(*receiver, peer);
    ASSERT_FALSE(picture().isNull());
    QImage canvas(400, 400, QImage::Format_RGB32);
    canvas.fill(Qt::red);
    QPainter painter(&canvas);
    receiver->containerLayer().paint(painter);
    painter.end();
    // Turned a quarter: 300 wide, 400 tall, bars of 50 at the left and right.
    EXPECT_EQ(canvas.pixel(10, 200), qRgb(0, 0, 0));
    EXPECT_EQ(canvas.pixel(390, 200), qRgb(0, 0, 0));
    EXPECT_NE(canvas.pixel(200, 200), qRgb(0, 0, 0));
    EXPECT_NE(canvas.pixel(200, 200), qRgb(255, 0, 0));
    // The bright square of the first picture sits at x 0–64, y 80–144 of the picture; turned clockwise it
    // lands near the top right.
    const QPoint squareOnScreen(350 - int((80 + 32) * 300.0 / 240), int(32 * 400.0 / 320));
    EXPECT_GT(qGray(canvas.pixel(squareOnScreen)), 200);
}

TEST_F(VideoReceiverTest, StatisticsCountFramesAndBytes) {
    LiveStream stream(160, 120);
    (void)receiver->takeStats();
    std::size_t bytes = 0;
    for (const auto& f : stream.take(12)) {
        send(f);
        bytes += f.frame.size() - 1;
    }
    settle(*receiver, peer);
    const auto stats = receiver->takeStats();
    ASSERT_GT(stats.framesPerSecond, 0);
    const double bytesPerFrame = stats.megabitsPerSecond * 1e6 / 8 / stats.framesPerSecond;
    EXPECT_NEAR(bytesPerFrame, static_cast<double>(bytes) / 12, 1e-6);
    // Called again at once: nothing counted, and no division by zero.
    const auto again = receiver->takeStats();
    EXPECT_EQ(again, (VideoReceiver::Stats{0, 0}));
}

TEST_F(VideoReceiverTest, ResetDropsThePictureAndWaitsForAKeyFrame) {
    LiveStream stream(320, 240);
    send(stream.next(false, 1));
    for (const auto& f : stream.take(3, 1)) send(f);
    settle(*receiver, peer);
    ASSERT_FALSE(picture().isNull());
    ASSERT_EQ(sizes.back(), QSizeF(240, 320));
    const auto reportsBefore = sizes.size();
    const int requestsBefore = peer.keyframeRequests();

    receiver->reset();
    EXPECT_EQ(receiver->rotation(), 0);
    ASSERT_EQ(sizes.size(), reportsBefore + 1);
    EXPECT_FALSE(sizes.back());
    EXPECT_FALSE(receiver->devicePoint(QPointF(200, 200)));
    EXPECT_EQ(peer.keyframeRequests(), requestsBefore);  // reset sends nothing itself
    settle(*receiver, peer);
    EXPECT_TRUE(picture().isNull());
    EXPECT_EQ(sizes.size(), reportsBefore + 1);

    receiver->reset();  // nothing left to report
    settle(*receiver, peer);
    EXPECT_EQ(sizes.size(), reportsBefore + 1);

    // Non-key frames now only bring a request, even after the parameter sets.
    auto more = stream.take(2);
    receiver->receive(*LiveStream(320, 240).next().parameterSets);
    for (const auto& f : more) send(f);
    settle(*receiver, peer);
    EXPECT_TRUE(picture().isNull());
    EXPECT_EQ(peer.keyframeRequests(), requestsBefore + 1);

    send(stream.next(true));
    settle(*receiver, peer);
    EXPECT_FALSE(picture().isNull());
    EXPECT_EQ(sizes.back(), QSizeF(320, 240));
}

TEST_F(VideoReceiverTest, ResetRacingParameterSetsLeavesNoSizeWithoutFormat) {
    LiveStream stream(320, 240);
    auto key = stream.next();
    send(key);
    settle(*receiver, peer);
    ASSERT_EQ(sizes.back(), QSizeF(320, 240));

    // Hold the queue inside an acknowledgement, queue a parameter-set packet behind it, and reset meanwhile.
    peer.closeGate();
    send(stream.next(), false);
    ASSERT_TRUE(waitFor([&] { return peer.holding(); }));
    LiveStream other(640, 360);
    receiver->receive(*other.next().parameterSets);
    receiver->reset();
    peer.openGate();
    settle(*receiver, peer);

    // Whatever order the two took, a size is never left without the format that goes with it: frames after
    // the reset are refused for want of a format, so the size must be gone too.
    EXPECT_EQ(receiver->videoSize(), QSizeF());
    EXPECT_FALSE(sizes.back());
    EXPECT_FALSE(receiver->devicePoint(QPointF(200, 200)));
}

TEST_F(VideoReceiverTest, DamagedFramesAskForAKeyFrameAndTheNextOneRecovers) {
    LiveStream stream(320, 240, 1000);
    send(stream.next());
    for (const auto& f : stream.take(2)) send(f);
    settle(*receiver, peer);
    ASSERT_FALSE(picture().isNull());
    const qint64 shown = picture().cacheKey();
    const int requests = peer.keyframeRequests();

    auto damaged = stream.next();
    damaged.frame.resize(damaged.frame.size() / 2);  // a truncated access unit
    send(damaged);
    settle(*receiver, peer);
    EXPECT_EQ(peer.keyframeRequests(), requests + 1);
    // The last good picture stays up while waiting.
    EXPECT_EQ(picture().cacheKey(), shown);

    // Later frames depend on the damaged one: dropped.
    for (const auto& f : stream.take(3)) send(f);
    settle(*receiver, peer);
    EXPECT_EQ(picture().cacheKey(), shown);

    send(stream.next(true));
    auto after = stream.take(2);
    for (const auto& f : after) send(f);
    settle(*receiver, peer);
    EXPECT_NE(picture().cacheKey(), shown);
    EXPECT_EQ(picture().size(), QSize(320, 240));
}

TEST_F(VideoReceiverTest, HostilePacketsNeverCrashAndAKeyFrameRecovers) {
    LiveStream stream(320, 240);
    auto key = stream.next();
    auto frames = stream.take(4);
    std::mt19937 random(5);
    std::size_t acknowledged = 0;

    // Frame packets cut short: bodies under 7 bytes are dropped unacknowledged.
    for (std::size_t n = 0; n <= 12; ++n) {
        Bytes cut(key.frame.begin(), key.frame.begin() + static_cast<std::ptrdiff_t>(std::min(n, key.frame.size())));
        receiver->receive(cut);
        if (n >= 8) ++acknowledged;
    }
    // Parameter sets with wrong counts, lengths past the end, truncated, or garbage; an unknown kind.
    const Bytes& sets = *key.parameterSets;
    receiver->receive({});
    receiver->receive({1});
    receiver->receive({1, 0});
    receiver->receive({1, 3, 0, 0, 0, 2, 0x67, 0x42});
    receiver->receive({1, 1, 0xff, 0xff, 0xff, 0xff, 0x67});
    receiver->receive({0});
    receiver->receive({16, 1, 2, 3});
    receiver->receive({200, 1, 2, 3});
    for (std::size_t n = 1; n < sets.size(); n += 3)
        receiver->receive(Bytes(sets.begin(), sets.begin() + static_cast<std::ptrdiff_t>(n)));
    for (int i = 0; i < 300; ++i) {
        Bytes junk(random() % 64);
        for (auto& b : junk) b = static_cast<std::uint8_t>(random());
        if (!junk.empty()) junk[0] = static_cast<std::uint8_t>(1 + i % 2);
        if (junk.size() >= 8 && junk[0] == 2) ++acknowledged;
        receiver->receive(junk);
    }
    // Real frames with flipped bits, claimed to be key frames.
    for (int i = 0; i < 40; ++i) {
        Bytes bad = frames[static_cast<std::size_t>(i) % frames.size()].frame;
        bad[5] = 1;
        for (int f = 0; f < 6; ++f)
            bad[7 + random() % (bad.size() - 7)] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        receiver->receive(sets);
        receiver->receive(bad);
        ++acknowledged;
    }
    settle(*receiver, peer);
    EXPECT_EQ(peer.acks().size(), acknowledged);

    send(stream.next(true));
    for (const auto& f : stream.take(3)) send(f);
    settle(*receiver, peer);
    ASSERT_FALSE(picture().isNull());
    EXPECT_EQ(picture().size(), QSize(320, 240));
    EXPECT_EQ(receiver->videoSize(), QSizeF(320, 240));
}

TEST_F(VideoReceiverTest, ReplacedFormatChangesTheSizeWithoutAFlush) {
    LiveStream small(320, 240);
    send(small.next());
    settle(*receiver, peer);
    ASSERT_EQ(sizes.back(), QSizeF(320, 240));
    LiveStream large(640, 360);
    auto key = large.next();
    send(key);
    for (const auto& f : large.take(2)) send(f);
    settle(*receiver, peer);
    EXPECT_EQ(sizes.back(), QSizeF(640, 360));
    EXPECT_EQ(picture().size(), QSize(640, 360));
}

TEST_F(VideoReceiverTest, FramesBeyondTheQueueLimitAreDroppedThenResyncOnAKeyFrame) {
    LiveStream stream(160, 120);
    send(stream.next());
    settle(*receiver, peer);
    const int requests = peer.keyframeRequests();

    peer.closeGate();
    send(stream.next());
    ASSERT_TRUE(waitFor([&] { return peer.holding(); }));
    // More than the queue takes: 70 packets of 1 MiB claimed as frames.
    Bytes big = FramePacket::encode(1, false, 0, Bytes(1024 * 1024, 0));
    for (int i = 0; i < 70; ++i) receiver->receive(big);
    peer.openGate();
    settle(*receiver, peer);
    EXPECT_LT(peer.acks().size(), 70u);

    // The stream cannot go on from where it was: the next frame asks for a key frame.
    send(stream.next());
    settle(*receiver, peer);
    EXPECT_GT(peer.keyframeRequests(), requests);
}

TEST(VideoReceiverLifetime, ReleasedWithWorkStillQueued) {
    LiveStream stream(320, 240);
    auto frames = stream.take(30);
    CameraPeer peer;
    {
        auto receiver = VideoReceiver::make();
        peer.attach(*receiver);
        receiver->onPictureSize = [](std::optional<QSizeF>) {};
        for (const auto& f : frames) receiver->receive(f.frame);
        receiver->reset();
        std::thread([r = std::move(receiver)] {}).join();  // the last reference goes on another thread
    }
    // Deliveries already on their way to the main thread find the receiver gone.
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    SUCCEED();
}

}  // namespace
}  // namespace morvane
