#include "controller_fixture.h"

#include "remote/video_receiver.h"

namespace morvane {
namespace {

using FeedsTest = ControllerTest;

std::vector<std::string> names(const std::vector<MonitorController::FeedPtr>& feeds) {
    std::vector<std::string> out;
    for (const auto& feed : feeds) out.push_back(feed->name());
    return out;
}

TEST_F(FeedsTest, OneFeedPerIdentityWithTheLaterName) {
    make();
    controller->registerReceiver(peer(1));
    controller->updatePeers({{peer(1), "Early"}, {peer(1), "Late"}});
    ASSERT_EQ(controller->feeds().size(), 1u);
    EXPECT_EQ(controller->feeds()[0]->name(), "Early");  // the feed takes the first entry's name
    EXPECT_EQ(controller->cameraName(peer(1)), "Late");  // the name table keeps the later one
    EXPECT_EQ(controller->feeds()[0]->receiver(), controller->receiver(peer(1)));
    EXPECT_EQ(controller->selectedID(), peer(1));
}

TEST_F(FeedsTest, FeedsFollowTheStoredOrderByName) {
    defaults->set("cameraOrder", std::vector<std::string>{"B", "A"});
    make();
    connect({{1, "A"}});
    connect({{1, "A"}, {2, "C"}});
    connect({{1, "A"}, {2, "C"}, {3, "B"}});
    EXPECT_EQ(names(controller->feeds()), (std::vector<std::string>{"B", "A", "C"}));

    // Two cameras sharing a listed name take its place and keep their order.
    connect({{1, "A"}, {2, "C"}, {3, "B"}, {4, "A"}});
    auto feeds = controller->feeds();
    EXPECT_EQ(names(feeds), (std::vector<std::string>{"B", "A", "A", "C"}));
    EXPECT_EQ(feeds[1]->id(), peer(1));
    EXPECT_EQ(feeds[2]->id(), peer(4));
}

TEST_F(FeedsTest, ReconnectedCameraGetsAFreshFeed) {
    make();
    connect({{1, "A"}});
    status(1);
    auto before = controller->feeds()[0];
    ASSERT_TRUE(before->status());
    // Gone and back between two peer-list changes: a new receiver is registered.
    controller->peerDisconnected(peer(1));
    EXPECT_FALSE(controller->receiver(peer(1)));
    controller->registerReceiver(peer(1));
    controller->updatePeers({{peer(1), "A"}});
    auto after = controller->feeds()[0];
    EXPECT_NE(after, before);
    EXPECT_FALSE(after->status());
    EXPECT_TRUE(after->gallery().empty());
    EXPECT_EQ(after->receiver(), controller->receiver(peer(1)));
}

TEST_F(FeedsTest, LeavingCamerasEndSelectionSoloAndWatches) {
    make();
    connect({{1, "A"}, {2, "B"}, {3, "C"}});
    controller->setSelectedID(peer(2));
    controller->setSoloID(peer(3));
    auto leaving = controller->feed(peer(3));
    controller->checkSilence(*leaving, false);
    controller->repairConnection(*controller->feed(peer(2)));
    EXPECT_EQ(controller->silentSeconds().at(peer(2)), 6);

    bool answered = false;
    QImage answer(1, 1, QImage::Format_RGB32);
    controller->preview(Uuid(), leaving, [&](const QImage& picture) {
        answered = true;
        answer = picture;
    });
    main->runPending();
    ASSERT_FALSE(answered);

    connect({{1, "A"}});
    EXPECT_TRUE(answered);  // at once, with none
    EXPECT_TRUE(answer.isNull());
    EXPECT_EQ(controller->selectedID(), peer(1));
    EXPECT_FALSE(controller->soloID());
    EXPECT_TRUE(controller->silentSeconds().empty());
    EXPECT_TRUE(controller->repairRequested().empty());
    EXPECT_EQ(controller->visibleFeeds().size(), 1u);

    connect({});
    EXPECT_FALSE(controller->selectedID());
    EXPECT_FALSE(controller->selectedFeed());
}

TEST_F(FeedsTest, VisibleAndSelectedFeeds) {
    make();
    connect({{1, "A"}, {2, "B"}});
    EXPECT_EQ(controller->visibleFeeds().size(), 2u);
    controller->setSoloID(peer(2));
    ASSERT_EQ(controller->visibleFeeds().size(), 1u);
    EXPECT_EQ(controller->visibleFeeds()[0]->id(), peer(2));
    controller->setSoloID(peer(9));  // names no camera
    EXPECT_EQ(controller->visibleFeeds().size(), 2u);
    controller->setSelectedID(peer(9));
    EXPECT_EQ(controller->selectedFeed()->id(), peer(1));
    controller->setSelectedID(peer(2));
    EXPECT_EQ(controller->selectedFeed()->id(), peer(2));
}

TEST_F(FeedsTest, DraggingReordersAndRemembersByName) {
    defaults->set("cameraOrder", std::vector<std::string>{"Gone", "A"});
    make();
    connect({{1, "A"}, {2, "B"}, {3, "C"}});
    ASSERT_EQ(names(controller->feeds()), (std::vector<std::string>{"A", "B", "C"}));
    const auto fileBefore = std::filesystem::last_write_time(defaults->file());

    controller->moveCamera("B", *controller->feed(peer(2)));  // onto itself
    controller->moveCamera("Nobody", *controller->feed(peer(2)));
    EXPECT_EQ(names(controller->feeds()), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(defaults->stringList("cameraOrder", {}), (std::vector<std::string>{"Gone", "A"}));
    EXPECT_EQ(std::filesystem::last_write_time(defaults->file()), fileBefore);

    controller->moveCamera("A", *controller->feed(peer(3)));
    EXPECT_EQ(names(controller->feeds()), (std::vector<std::string>{"B", "C", "A"}));
    EXPECT_EQ(defaults->stringList("cameraOrder", {}), (std::vector<std::string>{"B", "C", "A", "Gone"}));
    controller->moveCamera("A", *controller->feed(peer(2)));
    EXPECT_EQ(names(controller->feeds()), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(controller->cameraOrder(), (std::vector<std::string>{"A", "B", "C", "Gone"}));
}

TEST_F(FeedsTest, PairingAnswersReachTheLink) {
    make();
    controller->start();
    controller->acceptPairing();  // nothing pending: only cleared
    EXPECT_TRUE(link->accepted.empty());
    EXPECT_FALSE(controller->message());

    link->onPairingRequest(CameraLink::PairingRequest{peer(5), "Phone", "123456"});
    ASSERT_TRUE(controller->pairingRequest());
    EXPECT_EQ(controller->pairingRequest()->code, "123456");
    controller->acceptPairing();
    EXPECT_EQ(link->accepted, std::vector<PeerId>{peer(5)});
    EXPECT_EQ(controller->message(), "Waiting for the camera to accept…");
    EXPECT_FALSE(controller->pairingRequest());

    link->onPairingRequest(CameraLink::PairingRequest{peer(6), "Other", "654321"});
    controller->cancelPairing();
    EXPECT_EQ(link->cancelled, std::vector<PeerId>{peer(6)});
    EXPECT_FALSE(controller->pairingRequest());

    link->onNearbyChanged({CameraLink::NearbyCamera{peer(7), "Near", true, false, false, false}});
    ASSERT_EQ(controller->nearbyCameras().size(), 1u);
    link->onIssue("Couldn't reach Near");
    EXPECT_EQ(controller->message(), "Couldn't reach Near");
}

TEST_F(FeedsTest, RepairRestartsVideoAndArmsTheReconnect) {
    make();
    connect({{1, "Cam"}});
    status(1);
    link->clearSent();
    controller->repairConnection(*controller->feed(peer(1)));
    EXPECT_EQ(controller->message(), "Repairing Cam…");
    EXPECT_EQ(controller->silentSeconds().at(peer(1)), 6);
    auto packets = link->packetsTo(peer(1));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(link->commandNamesTo(peer(1)), std::vector<std::string>{"setVideo"});
    EXPECT_EQ(packets[1], keyframeRequestPacket());
    // Five silent seconds later the camera is asked to reconnect.
    for (int i = 0; i < 4; ++i) controller->checkSilence(*controller->feed(peer(1)), false);
    EXPECT_TRUE(link->reconnects.empty());
    controller->checkSilence(*controller->feed(peer(1)), false);
    EXPECT_EQ(link->reconnects, std::vector<PeerId>{peer(1)});
}

}  // namespace
}  // namespace morvane
