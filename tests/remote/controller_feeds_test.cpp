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

TEST_F(FeedsTest, CamerasArrivingTogetherFollowTheStoredOrderByName) {
    defaults->set("cameraOrder", std::vector<std::string>{"B", "A"});
    make();
    connect({{1, "A"}, {2, "C"}, {3, "B"}});
    EXPECT_EQ(names(controller->feeds()), (std::vector<std::string>{"B", "A", "C"}));

    // Two cameras sharing a listed name take its place and keep their order.
    make();
    connect({{1, "A"}, {2, "C"}, {3, "B"}, {4, "A"}});
    auto feeds = controller->feeds();
    EXPECT_EQ(names(feeds), (std::vector<std::string>{"B", "A", "A", "C"}));
    EXPECT_EQ(feeds[1]->id(), peer(1));
    EXPECT_EQ(feeds[2]->id(), peer(4));
}

/// Each camera as (peer, identity key byte, name); a key byte of 0 stands for a camera without a key.
using Keyed = std::vector<std::tuple<int, int, std::string>>;

/// The feeds in order, each as its name and number.
using Numbered = std::vector<std::pair<std::string, int>>;

class NumbersTest : public FeedsTest {
protected:
    void join(const Keyed& cameras) {
        std::vector<CameraLink::Peer> list;
        for (const auto& [n, key, name] : cameras) {
            if (registered.insert(n).second) controller->registerReceiver(peer(n));
            list.push_back({peer(n), name, key ? Bytes(32, static_cast<std::uint8_t>(key)) : Bytes{}});
        }
        controller->updatePeers(list);
    }

    Numbered numbered() const {
        Numbered out;
        for (const auto& feed : controller->feeds())
            out.emplace_back(feed->name(), controller->cameraNumber(feed->id()));
        return out;
    }

    /// The camera the key for `number` puts on air, if any.
    std::optional<std::string> keyCuts(int number) {
        controller->putOnAirByIndex(number);
        auto on = controller->programID() ? controller->feed(*controller->programID()) : nullptr;
        return on ? std::optional<std::string>(on->name()) : std::nullopt;
    }
};

TEST_F(NumbersTest, ACameraKeepsItsNumberWhenOthersDropAndRejoin) {
    make();
    join({{1, 1, "A"}});
    join({{1, 1, "A"}, {2, 2, "B"}});
    join({{1, 1, "A"}, {2, 2, "B"}, {3, 3, "C"}});
    EXPECT_EQ(numbered(), (Numbered{{"A", 1}, {"B", 2}, {"C", 3}}));

    // B drops: C stays 3, and 2 cuts to nobody.
    join({{1, 1, "A"}, {3, 3, "C"}});
    EXPECT_EQ(numbered(), (Numbered{{"A", 1}, {"C", 3}}));
    EXPECT_EQ(keyCuts(3), "C");
    EXPECT_EQ(keyCuts(2), "C");

    // A newcomer takes a free number, not B's; B, back as a restarted camera with a new peer identity, gets its own.
    join({{1, 1, "A"}, {3, 3, "C"}, {4, 4, "D"}});
    join({{1, 1, "A"}, {3, 3, "C"}, {4, 4, "D"}, {5, 2, "B"}});
    EXPECT_EQ(numbered(), (Numbered{{"A", 1}, {"B", 2}, {"C", 3}, {"D", 4}}));
    EXPECT_EQ(keyCuts(2), "B");

    // A fifth camera is numbered past the keys; once others leave it takes a number a key reaches, and keeps it
    // while its link lasts.
    join({{1, 1, "A"}, {3, 3, "C"}, {4, 4, "D"}, {5, 2, "B"}, {6, 0, "E"}});
    join({{1, 1, "A"}, {6, 0, "E"}});
    EXPECT_EQ(keyCuts(2), "E");
    join({{6, 0, "E"}, {3, 3, "C"}, {1, 1, "A"}});
    EXPECT_EQ(numbered(), (Numbered{{"A", 1}, {"E", 2}, {"C", 3}}));
}

TEST_F(NumbersTest, PairedCamerasKeepTheirNumbersAcrossRestarts) {
    make();
    join({{1, 1, "A"}, {2, 2, "B"}, {3, 3, "C"}, {4, 0, "Guest"}});
    controller->moveCamera("C", *controller->feed(peer(1)));  // numbers go with the places
    EXPECT_EQ(numbered(), (Numbered{{"C", 1}, {"A", 2}, {"B", 3}, {"Guest", 4}}));

    // The next run: other peer identities, another order of arrival.
    make();
    join({{11, 2, "B"}});
    EXPECT_EQ(keyCuts(3), "B");
    join({{11, 2, "B"}, {12, 0, "Guest"}});
    join({{11, 2, "B"}, {12, 0, "Guest"}, {13, 3, "C"}, {14, 1, "A"}});
    EXPECT_EQ(numbered(), (Numbered{{"C", 1}, {"A", 2}, {"B", 3}, {"Guest", 4}}));
    EXPECT_EQ(keyCuts(1), "C");

    // Numbers of cameras only remembered give way once the keys would reach no other.
    make();
    join({{21, 5, "E"}, {22, 6, "F"}});
    EXPECT_EQ(numbered(), (Numbered{{"F", 1}, {"E", 4}}));
    make();
    join({{31, 1, "A"}, {32, 6, "F"}});
    EXPECT_EQ(numbered(), (Numbered{{"F", 1}, {"A", 2}}));
}

// A camera lost on a slow link, or one that starts again, is waited for where it was: its tile, and with it the grid,
// the record panel and the cut keys, stay put, and a selection stays on it while it is away and back.
TEST_F(NumbersTest, ACameraBeingReconnectedKeepsItsPlaceAndTheSelection) {
    struct Case {
        const char* what;
        bool reconnecting;  // as the link says when it loses the camera
        bool givenUp;       // the camera leaves the nearby list while away, or the user disconnects it
        int chosen;         // the camera the user selects while it is away; 0: none
        int backAs;         // the peer it comes back as (2: the same session); 0: not back
        std::vector<std::string> whileAway;
        int selectedAfter;
    };
    const Case cases[] = {
        {"a link that drops and comes back", true, false, 0, 2, {"A", "B", "C"}, 2},
        {"a camera that starts again", true, false, 0, 12, {"A", "B", "C"}, 12},
        {"a camera given up, then started again", true, true, 0, 12, {"A", "C"}, 12},
        {"a camera the user disconnects while it is away", true, true, 0, 0, {"A", "C"}, 1},
        {"a camera lost for good", false, false, 0, 0, {"A", "C"}, 1},
        {"another chosen while it was away", false, false, 3, 12, {"A", "C"}, 3},
    };
    auto nearby = [](std::initializer_list<int> cameras) {
        std::vector<CameraLink::NearbyCamera> list;
        for (int n : cameras) list.push_back({peer(n), "cam", true});
        return list;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (controller) controller->stop();
        make();
        controller->start();
        registered.clear();
        join({{1, 1, "A"}, {2, 2, "B"}, {3, 3, "C"}});
        link->onNearbyChanged(nearby({1, 2, 3}));
        controller->setSelectedID(peer(2));
        CameraStatus rolling;
        rolling.mode = CaptureMode::video;
        rolling.isRecording = true;
        status(2, rolling);
        const auto before = controller->feed(peer(2));

        link->onPeerLost({peer(2), "B", Bytes(32, 2)}, c.reconnecting);
        controller->peerDisconnected(peer(2));
        join({{1, 1, "A"}, {3, 3, "C"}});
        if (c.givenUp && c.backAs)
            link->onNearbyChanged(nearby({1, 3}));
        else if (c.givenUp)
            controller->disconnectCamera(peer(2));
        EXPECT_EQ(names(controller->feeds()), c.whileAway);
        if (c.whileAway.size() == 3) {
            EXPECT_EQ(controller->feeds()[1], before);
            EXPECT_TRUE(before->reconnecting());
            EXPECT_EQ(controller->selectedID(), peer(2));
            EXPECT_FALSE(controller->anyCameraRecording());  // what it said last may no longer hold
        } else {
            EXPECT_EQ(controller->selectedID(), peer(1));
        }
        if (c.chosen) controller->setSelectedID(peer(c.chosen));
        if (!c.backAs) continue;

        registered.erase(c.backAs);  // a new receiver, as at every connection
        join({{1, 1, "A"}, {c.backAs, 2, "B"}, {3, 3, "C"}});
        EXPECT_EQ(numbered(), (Numbered{{"A", 1}, {"B", 2}, {"C", 3}}));
        const auto back = controller->feeds()[1];
        EXPECT_EQ(back->id(), peer(c.backAs));
        EXPECT_NE(back, before);
        EXPECT_FALSE(back->reconnecting());
        EXPECT_FALSE(back->status());  // what it says now, once it says it
        EXPECT_EQ(controller->selectedID(), peer(c.selectedAfter));
    }
}

TEST_F(NumbersTest, ACameraBackFromARestartIsShownAsItReportsAndTheShutterFollowsIt) {
    make();
    controller->start();
    join({{1, 1, "A"}, {2, 2, "B"}});
    CameraStatus photo;
    photo.mode = CaptureMode::photo;
    status(1, photo);
    status(2, photo);
    controller->setSelectedID(peer(2));
    controller->setShutterAllCameras(true);

    link->onPeerLost({peer(2), "B", Bytes(32, 2)}, true);
    controller->peerDisconnected(peer(2));
    join({{1, 1, "A"}});
    join({{1, 1, "A"}, {12, 2, "B"}});
    CameraStatus video;
    video.mode = CaptureMode::video;
    status(12, video);
    ASSERT_TRUE(controller->selectedFeed());
    EXPECT_EQ(controller->selectedFeed()->id(), peer(12));
    EXPECT_EQ(controller->selectedFeed()->status()->mode, CaptureMode::video);
    // In video with "All" on, the shutter starts every camera together.
    link->clearSent();
    controller->shutterFromControls();
    EXPECT_EQ(commandNames(12), std::vector<std::string>{"startRecording"});
    EXPECT_EQ(commandNames(1), std::vector<std::string>{"startRecording"});
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

TEST_F(FeedsTest, ALostCameraIsNamedLongEnoughToRead) {
    make();
    controller->start();
    connect({{1, "Cam A"}, {2, "Cam B"}});
    struct Case {
        CameraLink::Peer peer;
        bool reconnecting;
        const char* text;
    };
    for (const auto& c : {Case{{peer(2), "Cam B"}, true, "Lost the link to Cam B · reconnecting…"},
                          Case{{peer(1), "Cam A"}, false, "Lost the link to Cam A"},
                          Case{{peer(3), ""}, true, "Lost the link to Camera · reconnecting…"}}) {
        link->onPeerLost(c.peer, c.reconnecting);
        EXPECT_EQ(controller->message(), c.text);
        main->advance(MonitorController::messageDuration + 1);
        EXPECT_EQ(controller->message(), c.text);  // outlasts an ordinary message
        main->advance(MonitorController::lostCameraNoticeDuration);
        EXPECT_FALSE(controller->message());
    }
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
