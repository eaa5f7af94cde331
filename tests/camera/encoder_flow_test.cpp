// The live stream encoder's flow control, driven with a stand-in compressor and a clock the test sets.

#include <gtest/gtest.h>

#include "camera/h264_encoder.h"
#include "protocol/live_packets.h"

namespace morvane {
namespace {

struct Sent {
    Bytes packet;
    std::set<PeerId> excluded;
};

class FakeCompressor final : public LiveCompressor {
public:
    explicit FakeCompressor(int* count, std::vector<int>* bitRates) : count_(count), bitRates_(bitRates) {}
    std::optional<Output> compress(const AVFrame&, bool forceKeyframe) override {
        ++*count_;
        Output out;
        out.isKeyframe = forceKeyframe;
        if (forceKeyframe) out.parameterSets = {Bytes{0x67, 1}, Bytes{0x68, 2}};
        out.accessUnit = {0, 0, 0, 1, 0x65};
        return out;
    }
    void setBitRate(int bits) override { bitRates_->push_back(bits); }

private:
    int* count_;
    std::vector<int>* bitRates_;
};

struct Flow : ::testing::Test {
    double now = 100;
    int compressed = 0;
    int sessions = 0;
    std::pair<int, int> lastSessionSize;
    std::vector<int> bitRates;
    std::vector<Sent> sent;
    std::unique_ptr<H264Encoder> encoder;
    SharedFrame picture = makeVideoFrame(64, 36, AV_PIX_FMT_NV12);
    double frameTime = 0;

    void SetUp() override {
        H264Encoder::Options options;
        options.clock = [this] { return now; };
        options.minFrameInterval = 0.03;
        options.makeCompressor = [this](int w, int h, int, bool) -> std::unique_ptr<LiveCompressor> {
            ++sessions;
            lastSessionSize = {w, h};
            return std::make_unique<FakeCompressor>(&compressed, &bitRates);
        };
        encoder = std::make_unique<H264Encoder>(options);
        encoder->onPacket = [this](const Bytes& p, const std::set<PeerId>& ex) { sent.push_back({p, ex}); };
    }

    void offer(std::uint8_t rotation = 0) {
        frameTime += 1.0 / 30;
        encoder->encode(VideoFrame{picture, frameTime}, rotation);
    }
    std::vector<std::uint32_t> frameIds() const {
        std::vector<std::uint32_t> ids;
        for (const auto& s : sent) {
            if (auto f = FramePacket::decode(s.packet)) ids.push_back(f->number);
        }
        return ids;
    }
    std::uint32_t lastFrameId() const { return frameIds().back(); }
};

const PeerId kA{*Uuid::parse("00000000-0000-4000-8000-00000000000A")};
const PeerId kB{*Uuid::parse("00000000-0000-4000-8000-00000000000B")};

TEST(EncodedSize, ScalesDownToEvenSidesAndNeverUp) {
    struct Case {
        int w, h, side, ew, eh;
    } cases[] = {
        {3840, 2160, 1280, 1280, 720}, {1920, 1080, 3840, 1920, 1080}, {1919, 1079, 1920, 1918, 1078},
        {1080, 1920, 960, 540, 960},   {1001, 751, 1000, 1000, 750},   {640, 480, 0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(H264Encoder::encodedSize(c.w, c.h, c.side), std::make_pair(c.ew, c.eh)) << c.w << "x" << c.h;
    }
}

TEST_F(Flow, NoRemoteMeansNothingIsCompressed) {
    for (int i = 0; i < 5; ++i) offer();
    EXPECT_EQ(compressed, 0);
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(encoder->recipients().has_value());
}

TEST_F(Flow, FirstFrameIsAKeyFrameWithItsParameterSetsFirst) {
    encoder->addPeer(kA);
    offer(6);
    ASSERT_EQ(sent.size(), 2u);
    auto sets = ParameterSetsPacket::decode(sent[0].packet);
    ASSERT_TRUE(sets);
    EXPECT_EQ(sets->sets.size(), 2u);
    auto frame = FramePacket::decode(sent[1].packet);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->keyframe);
    EXPECT_EQ(frame->rotation, 2);  // the rotation byte keeps its low two bits
    EXPECT_EQ(encoder->framesInFlight(kA), 1);
}

TEST_F(Flow, FramesSoonerThanTheIntervalAreDroppedUnknownTimesNever) {
    encoder->addPeer(kA);
    encoder->encode(VideoFrame{picture, 1.0}, 0);
    encoder->encode(VideoFrame{picture, 1.01}, 0);
    EXPECT_EQ(compressed, 1);
    EXPECT_FALSE(encoder->shouldEncode(1.01));
    EXPECT_TRUE(encoder->shouldEncode(1.04));
    EXPECT_TRUE(encoder->shouldEncode(std::numeric_limits<double>::quiet_NaN()));
    encoder->encode(VideoFrame{picture, std::numeric_limits<double>::quiet_NaN()}, 0);
    EXPECT_EQ(compressed, 2);
}

TEST_F(Flow, AFullWindowStopsARemoteUntilItCatchesUpOnAKeyFrame) {
    encoder->addPeer(kA);
    for (int i = 0; i < 8; ++i) offer();  // ids 0…7 unacknowledged: d = 7, still sent
    EXPECT_EQ(encoder->framesInFlight(kA), 8);
    offer();  // d = 7 at the check: the ninth frame still goes out
    EXPECT_EQ(encoder->framesInFlight(kA), 9);
    offer();  // d = 8: resyncing, nothing compressed for nobody
    EXPECT_TRUE(encoder->isResyncing(kA));
    const int before = compressed;
    offer();
    EXPECT_EQ(compressed, before);

    // Acknowledgements bring it to d = 2: still waiting.
    for (std::uint32_t id = 0; id <= 5; ++id) encoder->acknowledge(kA, id);
    EXPECT_EQ(encoder->framesInFlight(kA), 3);
    offer();
    EXPECT_EQ(compressed, before);
    // d = 1: ready; a key frame is forced and it gets both packets.
    encoder->acknowledge(kA, 6);
    now += 2;  // the first key frame was forced just now
    sent.clear();
    offer();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[0].excluded.empty());
    EXPECT_TRUE(FramePacket::decode(sent[1].packet)->keyframe);
    EXPECT_FALSE(encoder->isResyncing(kA));
    EXPECT_EQ(encoder->framesInFlight(kA), 3);  // it missed no frame: 7 and 8 are still on their way
}

TEST_F(Flow, AResyncingRemoteIsExcludedWhileOthersGoOn) {
    encoder->addPeer(kA);
    encoder->addPeer(kB);
    for (int i = 0; i < 10; ++i) {
        offer();
        encoder->acknowledge(kB, lastFrameId());
    }
    EXPECT_TRUE(encoder->isResyncing(kA));
    sent.clear();
    offer();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().excluded, std::set<PeerId>{kA});
}

TEST_F(Flow, AStalledRemoteIsResetAfterThreeSeconds) {
    encoder->addPeer(kA);
    for (int i = 0; i < 10; ++i) offer();
    ASSERT_TRUE(encoder->isResyncing(kA));
    now += 3.0;  // exactly 3 s: unchanged
    const int before = compressed;
    offer();
    EXPECT_EQ(compressed, before);
    EXPECT_EQ(encoder->framesInFlight(kA), 9);
    now += 0.01;  // just over: reset to nothing in flight and restarted on a key frame
    sent.clear();
    offer();
    EXPECT_EQ(compressed, before + 1);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(FramePacket::decode(sent[1].packet)->keyframe);
    EXPECT_EQ(encoder->framesInFlight(kA), 1);
}

TEST_F(Flow, ForcedKeyFramesForARemoteCatchingUpComeAtMostOncePerSecond) {
    encoder->addPeer(kA);
    encoder->addPeer(kB);
    offer();  // key frame (new session), forced at `now`
    for (int i = 0; i < 10; ++i) {
        offer();
        encoder->acknowledge(kB, lastFrameId());
    }
    ASSERT_TRUE(encoder->isResyncing(kA));
    encoder->acknowledge(kA, 7);  // its last frame was 8: d = 0, ready
    sent.clear();
    offer();  // less than a second after the last forced key frame: no key frame yet
    ASSERT_FALSE(sent.empty());
    EXPECT_FALSE(FramePacket::decode(sent.back().packet)->keyframe);
    now += 1.5;
    sent.clear();
    offer();
    EXPECT_TRUE(FramePacket::decode(sent.back().packet)->keyframe);
}

TEST_F(Flow, FrameIdsWrapWithoutDisturbingTheCounts) {
    encoder->setNextFrameId(0xFFFFFFFEu);
    encoder->addPeer(kA);
    for (int i = 0; i < 4; ++i) offer();
    EXPECT_EQ(frameIds(), (std::vector<std::uint32_t>{0xFFFFFFFEu, 0xFFFFFFFFu, 0, 1}));
    EXPECT_EQ(encoder->framesInFlight(kA), 4);
    encoder->acknowledge(kA, 0xFFFFFFFFu);
    EXPECT_EQ(encoder->framesInFlight(kA), 2);
    encoder->acknowledge(kA, 1);
    EXPECT_EQ(encoder->framesInFlight(kA), 0);
    encoder->acknowledge(kA, 1000);  // never sent: ignored
    EXPECT_EQ(encoder->framesInFlight(kA), 0);
}

TEST_F(Flow, SizesBitRatesAndKeyFrameRequests) {
    picture = makeVideoFrame(3840, 2160, AV_PIX_FMT_NV12);
    encoder->addPeer(kA);
    encoder->setSize(kA, 960);
    offer();
    EXPECT_EQ(lastSessionSize, std::make_pair(960, 540));
    encoder->addPeer(kB);  // asks for nothing: the default 1280 is the largest wanted
    offer();
    EXPECT_EQ(lastSessionSize, std::make_pair(1280, 720));
    EXPECT_EQ(sessions, 2);
    encoder->setTargetBitRate(2'000'000);
    sent.clear();
    offer();
    EXPECT_EQ(bitRates.back(), 2'000'000);
    EXPECT_FALSE(FramePacket::decode(sent.back().packet)->keyframe);
    encoder->requestKeyframe();
    offer();
    EXPECT_TRUE(FramePacket::decode(sent.back().packet)->keyframe);
    encoder->removePeer(kA);
    encoder->removePeer(kB);
    const int before = compressed;
    offer();
    EXPECT_EQ(compressed, before);
}

TEST_F(Flow, SendTimesStayBounded) {
    encoder->addPeer(kA);
    for (int i = 0; i < 3000; ++i) {
        offer();
        encoder->acknowledge(kA, lastFrameId());
    }
    EXPECT_LE(encoder->sentTimesKept(), H264Encoder::maxSentTimes);
}

}  // namespace
}  // namespace morvane
