#include "controller_fixture.h"

#include <algorithm>
#include <thread>

namespace morvane {
namespace {

using StreamsTest = ControllerTest;

struct Setting {
    std::int64_t size, bitRate;
    friend bool operator==(const Setting&, const Setting&) = default;
};

// The stream settings handed to one camera, in order.
std::vector<Setting> settingsSent(const ScriptedLink& link, const PeerId& peer) {
    std::vector<Setting> out;
    std::optional<std::int64_t> size;
    for (const auto& command : link.commandsTo(peer)) {
        if (auto s = command.as<CameraCommand::SetStreamSize>()) size = s->longSide;
        if (auto r = command.as<CameraCommand::SetStreamBitRate>()) {
            EXPECT_TRUE(size) << "bit rate before size";
            out.push_back({size.value_or(-1), r->bitsPerSecond});
            size.reset();
        }
    }
    return out;
}

TEST_F(StreamsTest, SettingsFollowHowManyCamerasAreShown) {
    make();
    connect({{1, "A"}, {2, "B"}, {3, "C"}});
    status(1);
    status(2);
    status(3);
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(settingsSent(*link, peer(n)), (std::vector<Setting>{{720, 1'500'000}}));
    link->clearSent();
    controller->updateStreamQuality();
    EXPECT_TRUE(link->sent().empty());

    controller->setSoloID(peer(2));
    EXPECT_EQ(settingsSent(*link, peer(2)), (std::vector<Setting>{{1280, 4'000'000}}));
    EXPECT_EQ(settingsSent(*link, peer(1)), (std::vector<Setting>{{480, 1'000'000}}));
    EXPECT_EQ(settingsSent(*link, peer(3)), (std::vector<Setting>{{480, 1'000'000}}));
    link->clearSent();
    controller->setSoloID(std::nullopt);
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(settingsSent(*link, peer(n)), (std::vector<Setting>{{720, 1'500'000}}));
    link->clearSent();
    controller->updateStreamQuality();
    EXPECT_TRUE(link->sent().empty());
    EXPECT_EQ(controller->sentSizes().at(peer(1)), 720);
    EXPECT_EQ(controller->sentBitRates().at(peer(1)), 1'500'000);
}

TEST_F(StreamsTest, CamerasWithoutStatusGetNothing) {
    make();
    connect({{1, "A"}, {2, "B"}});
    status(1);
    EXPECT_EQ(settingsSent(*link, peer(1)), (std::vector<Setting>{{960, 3'000'000}}));
    EXPECT_TRUE(link->packetsTo(peer(2)).empty());
    EXPECT_FALSE(controller->sentSizes().count(peer(2)));
}

TEST_F(StreamsTest, ASecondCameraChangesBothStreams) {
    make();
    connect({{1, "A"}});
    status(1);
    EXPECT_EQ(settingsSent(*link, peer(1)), (std::vector<Setting>{{1280, 4'000'000}}));
    link->clearSent();
    connect({{1, "A"}, {2, "B"}});
    status(2);
    EXPECT_EQ(settingsSent(*link, peer(1)), (std::vector<Setting>{{960, 3'000'000}}));
    EXPECT_EQ(settingsSent(*link, peer(2)), (std::vector<Setting>{{960, 3'000'000}}));
}

TEST_F(StreamsTest, SilentCameraIsRestartedThenReconnected) {
    make();
    connect({{1, "Cam"}});
    status(1);
    link->clearSent();
    auto feed = controller->feed(peer(1));
    std::vector<int> restarts;
    for (int second = 1; second <= 45; ++second) {
        const auto before = link->packetsTo(peer(1)).size();
        controller->checkSilence(*feed, false);
        const auto after = link->packetsTo(peer(1));
        if (after.size() == before + 2 && after.back() == keyframeRequestPacket()) restarts.push_back(second);
        if (second == 2) {
            EXPECT_FALSE(feed->noPicture());
        }
        if (second == 3) {
            EXPECT_TRUE(feed->noPicture());
        }
        if (second == 11) {
            EXPECT_EQ(controller->message(), "Reconnecting Cam…");
            EXPECT_EQ(link->reconnects, std::vector<PeerId>{peer(1)});
        }
    }
    EXPECT_EQ(restarts, (std::vector<int>{3, 20, 40}));
    EXPECT_EQ(link->reconnects.size(), 1u);

    controller->checkSilence(*feed, true);
    EXPECT_FALSE(feed->noPicture());
    EXPECT_FALSE(controller->silentSeconds().count(peer(1)));
    EXPECT_NE(controller->message(), "Cam is back");  // no repair was asked for
}

TEST_F(StreamsTest, CameraWithoutStatusIsOnlyReconnectedWhenARepairWasAsked) {
    make();
    connect({{1, "Cam"}, {2, "Other"}});
    auto quiet = controller->feed(peer(1));
    for (int i = 0; i < 11; ++i) controller->checkSilence(*quiet, false);
    EXPECT_FALSE(quiet->noPicture());
    EXPECT_TRUE(link->reconnects.empty());
    controller->repairConnection(*controller->feed(peer(2)));
    for (int i = 0; i < 5; ++i) controller->checkSilence(*controller->feed(peer(2)), false);
    EXPECT_EQ(link->reconnects, std::vector<PeerId>{peer(2)});
    EXPECT_EQ(controller->message(), "Reconnecting Other…");
    controller->checkSilence(*controller->feed(peer(2)), true);
    EXPECT_EQ(controller->message(), "Other is back");
    controller->showMessage("x");
    controller->checkSilence(*controller->feed(peer(2)), true);
    EXPECT_EQ(controller->message(), "x");  // once only
}

TEST_F(StreamsTest, NoWatchWhileVideoIsNotWanted) {
    make();
    connect({{1, "Cam"}});
    status(1);
    auto feed = controller->feed(peer(1));
    for (int i = 0; i < 3; ++i) controller->checkSilence(*feed, false);
    ASSERT_TRUE(feed->noPicture());
    controller->setLivePictures(false);
    controller->setDeckMode(true);
    link->clearSent();
    for (int i = 0; i < 30; ++i) controller->checkSilence(*feed, false);
    EXPECT_FALSE(feed->noPicture());
    EXPECT_TRUE(controller->silentSeconds().empty());
    EXPECT_TRUE(link->sent().empty());
    EXPECT_TRUE(link->reconnects.empty());
}

TEST_F(StreamsTest, TheStatisticsTimerRunsTheWatchEverySecond) {
    make();
    controller->start();
    connect({{1, "Cam"}});
    status(1);
    link->clearSent();
    auto feed = controller->feed(peer(1));
    main->advance(2.5);
    EXPECT_EQ(controller->silentSeconds().at(peer(1)), 2);
    ASSERT_TRUE(feed->stats());
    EXPECT_EQ(*feed->stats(), "0 fps · 0.0 Mb/s");
    EXPECT_FALSE(feed->noPicture());
    main->advance(1);
    EXPECT_TRUE(feed->noPicture());
    EXPECT_EQ(link->packetsTo(peer(1)).back(), keyframeRequestPacket());
    main->advance(8);
    EXPECT_EQ(link->reconnects, std::vector<PeerId>{peer(1)});
    EXPECT_EQ(controller->message(), "Reconnecting Cam…");
    main->advance(2.5);
    EXPECT_FALSE(controller->message());  // cleared 2.5 s later
    controller->stop();
    const auto ticks = controller->silentSeconds().at(peer(1));
    main->advance(5);
    EXPECT_EQ(controller->silentSeconds().at(peer(1)), ticks);
}

TEST_F(StreamsTest, FramesReturningAfterARepairAreAnnouncedByTheTimer) {
    make();
    controller->start();
    connect({{1, "Cam"}});
    status(1);
    controller->repairConnection(*controller->feed(peer(1)));
    main->advance(5);
    EXPECT_EQ(link->reconnects, std::vector<PeerId>{peer(1)});  // six and five make eleven
    EXPECT_TRUE(controller->feed(peer(1))->noPicture());

    // A frame through the intake reaches the camera's receiver, which acknowledges it.
    const Bytes accessUnit{0, 0, 0, 2, 0x09, 0xF0};
    controller->handlePeerData(FramePacket::encode(7, false, 0, accessUnit), peer(1));
    const Bytes ack{3, 0, 0, 0, 7};
    for (int i = 0; i < 500; ++i) {
        const auto sent = link->packetsTo(peer(1));
        if (std::find(sent.begin(), sent.end(), ack) != sent.end()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto sent = link->packetsTo(peer(1));
    ASSERT_NE(std::find(sent.begin(), sent.end(), ack), sent.end());
    main->advance(1);
    EXPECT_EQ(controller->message(), "Cam is back");
    EXPECT_FALSE(controller->feed(peer(1))->noPicture());
    ASSERT_TRUE(controller->feed(peer(1))->stats());
    EXPECT_NE(controller->feed(peer(1))->stats()->find(" fps · "), std::string::npos);
    EXPECT_TRUE(controller->repairRequested().empty());
}

TEST_F(StreamsTest, StreamSettingTable) {
    EXPECT_EQ(MonitorController::streamSetting(true, 1), (MonitorController::StreamSetting{4'000'000, 1280}));
    EXPECT_EQ(MonitorController::streamSetting(true, 2), (MonitorController::StreamSetting{3'000'000, 960}));
    EXPECT_EQ(MonitorController::streamSetting(true, 7), (MonitorController::StreamSetting{1'500'000, 720}));
    EXPECT_EQ(MonitorController::streamSetting(false, 1), (MonitorController::StreamSetting{1'000'000, 480}));
}

}  // namespace
}  // namespace morvane
