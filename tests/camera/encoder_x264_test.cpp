// The live stream for real: synthetic 4K pictures compressed by libx264 for a remote that wants 1280 pixels,
// decoded by the remote's own video receiver.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <chrono>
#include <thread>

#include "camera/h264_encoder.h"
#include "platform/synthetic_source.h"
#include "remote/video_receiver.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;

template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit = 10000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        if (pred()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return pred();
}

TEST(LiveStreamX264, FourKPicturesArriveAs720pWithTheirColours) {
    const PeerId remote{Uuid()};
    H264Encoder encoder;
    auto receiver = VideoReceiver::make();
    std::vector<std::uint32_t> acks;
    std::mutex acksLock;
    receiver->setSendToCamera([&](const Bytes& packet) {
        if (auto ack = AckPacket::decode(packet)) {
            std::lock_guard guard(acksLock);
            acks.push_back(ack->frameNumber);
            encoder.acknowledge(remote, ack->frameNumber);
        }
    });
    receiver->layout(QRectF(0, 0, 640, 360));
    int parameterSetPackets = 0, framePackets = 0;
    encoder.onPacket = [&](const Bytes& packet, const std::set<PeerId>& excluded) {
        ASSERT_TRUE(excluded.empty());
        if (packet[0] == 1) ++parameterSetPackets;
        if (packet[0] == 2) ++framePackets;
        receiver->receive(packet);
    };
    encoder.addPeer(remote);
    encoder.setSize(remote, 1280);

    SyntheticSource::Settings settings;
    settings.width = 3840;
    settings.height = 2160;
    for (int i = 0; i < 6; ++i) {
        encoder.encode(VideoFrame{SyntheticSource::makePicture(settings, i), i / 30.0}, 0);
    }
    EXPECT_EQ(encoder.sessionSize(), std::make_pair(1280, 720));
    EXPECT_EQ(parameterSetPackets, 1);
    EXPECT_EQ(framePackets, 6);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard guard(acksLock);
        return acks.size() == 6 && !receiver->containerLayer().picture().isNull();
    }));
    const QImage picture = receiver->containerLayer().picture();
    EXPECT_EQ(picture.size(), QSize(1280, 720));
    // The bars along the top: 75 % grey, then yellow, cyan, green, magenta, red, blue.
    auto near = [](QColor c, int r, int g, int b) {
        return std::abs(c.red() - r) < 24 && std::abs(c.green() - g) < 24 && std::abs(c.blue() - b) < 24;
    };
    const int y = 100;
    auto barColour = [&](int bar) { return picture.pixelColor((2 * bar + 1) * 1280 / 14, y); };
    EXPECT_TRUE(near(barColour(0), 191, 191, 191)) << barColour(0).name().toStdString();
    EXPECT_TRUE(near(barColour(1), 191, 191, 0)) << barColour(1).name().toStdString();
    EXPECT_TRUE(near(barColour(5), 191, 0, 0)) << barColour(5).name().toStdString();
    EXPECT_TRUE(near(barColour(6), 0, 0, 191)) << barColour(6).name().toStdString();
    receiver->queue().sync([] {});
}

}  // namespace
}  // namespace morvane
