#include "controller_fixture.h"

#include <QBuffer>

#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "protocol/camera_event.h"

namespace morvane {
namespace {

using IntakeTest = ControllerTest;

Bytes jpegBytes(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return Bytes(data.begin(), data.end());
}

Bytes withKind(PacketType kind, Bytes body) {
    body.insert(body.begin(), packetTypeByte(kind));
    return body;
}

TEST_F(IntakeTest, ClockPingsAreAnsweredOnTheDeliveryThread) {
    make(false, 0.25);
    clock = Date::fromUnix(1'700'000'000.5);
    Bytes ping{10, 1, 2, 3, 4, 5, 6, 7, 8};
    std::thread delivery([&] { controller->handlePeerData(ping, peer(1)); });
    delivery.join();
    auto sent = link->packetsTo(peer(1));
    ASSERT_EQ(sent.size(), 1u);  // before the call returned, without the main queue
    ASSERT_EQ(sent[0].size(), 17u);
    EXPECT_EQ(sent[0][0], 11);
    EXPECT_TRUE(std::equal(sent[0].begin() + 1, sent[0].begin() + 9, ping.begin() + 1));
    std::uint64_t ns = 0;
    for (int i = 9; i < 17; ++i) ns = ns << 8 | sent[0][static_cast<std::size_t>(i)];
    EXPECT_NEAR(static_cast<double>(ns), 1'700'000'000.75e9, 1e3);

    link->clearSent();
    deliver(Bytes{10, 1, 2, 3, 4, 5, 6, 7}, 1);  // 8 bytes: no answer
    EXPECT_TRUE(link->sent().empty());
    Bytes longer = ping;
    longer.push_back(99);
    deliver(longer, 1);
    EXPECT_EQ(link->packetsTo(peer(1)).size(), 1u);
}

TEST_F(IntakeTest, AnUnusableClockOffsetCountsAsNone) {
    controller = MonitorController::create(
        4, false, [] { return std::numeric_limits<double>::quiet_NaN(); }, environment());
    clock = Date::fromUnix(1000);
    deliver(Bytes{10, 0, 0, 0, 0, 0, 0, 0, 0}, 1);
    auto sent = link->packetsTo(peer(1));
    ASSERT_EQ(sent.size(), 1u);
    std::uint64_t ns = 0;
    for (int i = 9; i < 17; ++i) ns = ns << 8 | sent[0][static_cast<std::size_t>(i)];
    EXPECT_EQ(ns, 1000'000'000'000ull);
}

TEST_F(IntakeTest, ReadingsOfTheRightLengthReachLiveReadings) {
    make();
    connect({{1, "A"}});
    auto& live = controller->feed(peer(1))->live();

    deliver(withKind(PacketType::histogram, Bytes(63, 7)), 1);  // 64 bytes with the kind
    EXPECT_FALSE(live.histogram());
    deliver(withKind(PacketType::histogram, Bytes(65, 7)), 1);  // 66
    EXPECT_FALSE(live.histogram());
    Bytes bins(64);
    for (int i = 0; i < 64; ++i) bins[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    deliver(withKind(PacketType::histogram, bins), 1);
    ASSERT_TRUE(live.histogram());
    EXPECT_EQ(*live.histogram(), bins);

    deliver(Bytes{14}, 1);
    deliver(Bytes{14, 1, 2}, 1);
    EXPECT_FALSE(live.audioLevel());
    deliver(Bytes{14, 200}, 1);
    EXPECT_EQ(live.audioLevel(), 200);

    deliver(Bytes{17, 0x2C, 0x01}, 1);
    EXPECT_EQ(live.roll(), 30.0);
    deliver(Bytes{17, 0xD4, 0xFE}, 1);
    EXPECT_EQ(live.roll(), -30.0);
    deliver(Bytes{17, 0x2C, 0x01, 0}, 1);
    EXPECT_EQ(live.roll(), -30.0);
    deliver(Bytes{17, 0x00, 0x80}, 1);
    EXPECT_FALSE(live.roll());

    deliver(Bytes{18, 1, 1, 1, 255}, 1);
    ASSERT_TRUE(live.scope());
    EXPECT_EQ(live.scope()->kind, ScopeKind::waveform);
    deliver(Bytes{18, 1, 1, 1}, 1);  // malformed: the scope is hidden
    EXPECT_FALSE(live.scope());
}

TEST_F(IntakeTest, LoupeOnlyWhileTheCameraShowsIt) {
    make();
    connect({{1, "A"}});
    auto feed = controller->feed(peer(1));
    const auto loupe = withKind(PacketType::loupe, jpegBytes(32, 32));
    deliver(loupe, 1);  // before the first status
    EXPECT_TRUE(feed->live().loupe().isNull());
    status(1);
    deliver(loupe, 1);  // status says the loupe is off
    EXPECT_TRUE(feed->live().loupe().isNull());
    CameraStatus on;
    on.loupe = true;
    status(1, on);
    deliver(loupe, 1);
    EXPECT_EQ(feed->live().loupe().size(), QSize(32, 32));
    deliver(withKind(PacketType::loupe, Bytes{1, 2, 3}), 1);  // undecodable: none
    EXPECT_TRUE(feed->live().loupe().isNull());
    deliver(loupe, 1);
    status(1);  // loupe off again clears the picture
    EXPECT_TRUE(feed->live().loupe().isNull());
}

TEST_F(IntakeTest, FirstStatusGreetsTheCameraInOrder) {
    make();
    connect({{1, "A"}});
    status(1);
    EXPECT_EQ(commandNames(1),
              (std::vector<std::string>{"monitorHello", "requestGallery", "setStreamSize", "setStreamBitRate"}));
    auto commands = link->commandsTo(peer(1));
    EXPECT_TRUE(std::get<CameraCommand::MonitorHello>(commands[0].value).acceptsFiles);
    EXPECT_EQ(std::get<CameraCommand::SetStreamSize>(commands[2].value).longSide, 1280);
    EXPECT_EQ(std::get<CameraCommand::SetStreamBitRate>(commands[3].value).bitsPerSecond, 4'000'000);
    EXPECT_EQ(controller->feed(peer(1))->lastHello(), clock);
    link->clearSent();
    status(1);
    EXPECT_TRUE(link->sent().empty());  // a second status does not greet again
}

TEST_F(IntakeTest, GreetingOfALeadCameraCollectingDeckCopies) {
    defaults->set("importsFiles", false);
    make();
    controller->setMasterCamera(true);
    controller->setCollectsDeckCopies(true);
    controller->setDeckMode(true);
    controller->setLivePictures(false);
    connect({{1, "A"}});
    status(1);
    EXPECT_EQ(commandNames(1), (std::vector<std::string>{"monitorHello", "masterHello", "deckHello", "setVideo",
                                                         "requestGallery", "setStreamSize", "setStreamBitRate"}));
    auto commands = link->commandsTo(peer(1));
    EXPECT_FALSE(std::get<CameraCommand::MonitorHello>(commands[0].value).acceptsFiles);
    EXPECT_FALSE(std::get<CameraCommand::SetVideo>(commands[3].value).on);
}

// Only a remote that files captures in its shoot library asks the cameras for them: a deck beside it collects its
// own copies, and a capture the camera handed to the deck would never reach the shoot library.
TEST_F(IntakeTest, OnlyARemoteThatFilesCapturesAsksForThem) {
    struct Row {
        const char* what;
        bool importsFiles;
        bool deck;
        bool asks;
    };
    const std::vector<Row> rows = {
        {"a remote that files captures", true, false, true},
        {"a remote set not to save captures", false, false, false},
        {"a deck, set to save captures", true, true, false},
        {"a deck, set not to", false, true, false},
    };
    int n = 0;
    for (const auto& row : rows) {
        ++n;
        defaults->set("importsFiles", row.importsFiles);
        make();
        controller->setCollectsDeckCopies(row.deck);
        connect({{n, "A"}});
        status(n);  // greeted
        CameraStatus waiting;
        waiting.pendingTransfers = 3;
        clock = clock.addingTimeInterval(10.5);
        status(n, waiting);  // asked again for the captures waiting, or not
        link->ready = {peer(n)};
        controller->greetCameras();  // greeted again on the link of an earlier screen
        std::vector<bool> hellos;
        for (const auto& command : link->commandsTo(peer(n)))
            if (auto hello = command.as<CameraCommand::MonitorHello>()) hellos.push_back(hello->acceptsFiles);
        const auto expected = row.asks ? std::vector<bool>{true, true, true} : std::vector<bool>{false, false};
        EXPECT_EQ(hellos, expected) << row.what;
    }
}

TEST_F(IntakeTest, PendingTransfersAreAskedForEveryTenSeconds) {
    make();
    connect({{1, "A"}});
    status(1);
    link->clearSent();
    CameraStatus waiting;
    waiting.pendingTransfers = 3;
    status(1, waiting);
    EXPECT_TRUE(link->sent().empty());  // greeted just now
    clock = clock.addingTimeInterval(10.5);
    status(1, waiting);
    ASSERT_EQ(commandNames(1), std::vector<std::string>{"monitorHello"});
    EXPECT_TRUE(std::get<CameraCommand::MonitorHello>(link->commandsTo(peer(1))[0].value).acceptsFiles);
    clock = clock.addingTimeInterval(5);
    status(1, waiting);
    EXPECT_EQ(commandNames(1).size(), 1u);
    waiting.transferProgress = 0.5;  // one is on its way: no need to ask
    clock = clock.addingTimeInterval(20);
    status(1, waiting);
    EXPECT_EQ(commandNames(1).size(), 1u);
    waiting.transferProgress.reset();
    defaults->set("importsFiles", false);
    status(1, waiting);
    EXPECT_EQ(commandNames(1).size(), 1u);
    defaults->set("importsFiles", true);
    status(1, waiting);
    EXPECT_EQ(commandNames(1).size(), 2u);
}

TEST_F(IntakeTest, RecordingStartFollowsTheStatus) {
    make();
    connect({{1, "A"}});
    auto feed = controller->feed(peer(1));
    CameraStatus recording;
    recording.isRecording = true;
    recording.recordingElapsed = 12;
    status(1, recording);
    ASSERT_TRUE(feed->recordingStart());
    EXPECT_EQ(*feed->recordingStart(), clock.addingTimeInterval(-12));
    const auto start = *feed->recordingStart();
    clock = clock.addingTimeInterval(1);
    recording.recordingElapsed = 13;
    status(1, recording);
    EXPECT_EQ(feed->recordingStart(), start);
    status(1);
    EXPECT_FALSE(feed->recordingStart());

    recording.recordingElapsed = 1e300;  // no recording lasts that long: the start stays unknown
    status(1, recording);
    EXPECT_FALSE(feed->recordingStart());
    recording.recordingElapsed = -5;
    status(1, recording);
    EXPECT_FALSE(feed->recordingStart());
    recording.recordingElapsed.reset();
    status(1, recording);
    EXPECT_EQ(feed->recordingStart(), clock);
}

TEST_F(IntakeTest, NumbersOutOfRangeAreHidden) {
    make();
    connect({{1, "A"}, {2, "B"}});
    CameraStatus odd;
    odd.battery = 7.5f;
    odd.transferProgress = -0.5;
    odd.freeBytes = -1;
    odd.deckCopiesPreparing = std::numeric_limits<std::int64_t>::max();
    odd.deckCopiesWaiting = std::numeric_limits<std::int64_t>::max();
    odd.linkDelayMs = -3;
    status(1, odd);
    status(2, odd);
    const auto& shown = *controller->feed(peer(1))->status();
    EXPECT_FALSE(shown.battery);
    EXPECT_FALSE(shown.transferProgress);
    EXPECT_FALSE(shown.linkDelayMs);
    EXPECT_EQ(shown.freeBytes, 0);
    EXPECT_EQ(controller->deckCopiesArriving(), 4'000'000);  // no overflow

    CameraStatus fine;
    fine.battery = 0.5f;
    fine.deckCopiesPreparing = 2;
    fine.deckCopiesWaiting = 1;
    status(1, fine);
    status(2, fine);
    EXPECT_EQ(controller->feed(peer(1))->status()->battery, 0.5f);
    EXPECT_EQ(controller->deckCopiesArriving(), 6);
}

TEST_F(IntakeTest, DeckCopiesArrivingIsPublishedOnlyWhenItChanges) {
    make();
    connect({{1, "A"}});
    int changes = 0;
    QObject::connect(controller.get(), &MonitorController::deckCopiesArrivingChanged, [&] { ++changes; });
    CameraStatus s;
    s.deckCopiesWaiting = 2;
    status(1, s);
    status(1, s);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(controller->deckCopiesArriving(), 2);
}

// What a take lost holds for every take after it: it stays on the band until read, whatever comes after it, and
// the tile says "no sound" until a take records sound again. Cameras of before sent these as passing `info`.
TEST_F(IntakeTest, ATakeThatLostItsSoundStaysToldUntilATakeRecordsSoundAgain) {
    using Kind = CameraEvent::Kind;
    const std::string silent = "The take has no sound: its sound couldn't be converted. Its pictures are kept";
    const std::string settings = "The camera does not take its settings";
    const std::string ended = "The take's sound ends early. Its pictures are kept";
    struct Step {
        Kind kind;
        std::optional<std::string> message;
        std::optional<std::string> shows;  // after 10 s more
        bool noSound;
        std::optional<bool> soundMissing = std::nullopt;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"a silent take, then its saving",
         {{Kind::failed, silent, silent, true}, {Kind::videoSaved, std::nullopt, silent, true}}},
        {"as an older camera tells it",
         {{Kind::info, silent, silent, true}, {Kind::videoSaved, std::nullopt, silent, true}}},
        {"two silent takes are told once, counted",
         {{Kind::failed, silent, silent, true},
          {Kind::videoSaved, std::nullopt, silent, true},
          {Kind::failed, silent, "2 takes have no sound: their sound couldn't be converted. Their pictures are kept",
           true},
          {Kind::videoSaved, std::nullopt,
           "2 takes have no sound: their sound couldn't be converted. Their pictures are kept", true}}},
        {"a take with sound clears the tile, not the notice",
         {{Kind::failed, silent, silent, true},
          {Kind::videoSaved, std::nullopt, silent, true},
          {Kind::videoSaved, std::nullopt, silent, false}}},
        {"a silent take that could not be kept stays silent until a take with sound",
         {{Kind::failed, silent, silent, true},
          {Kind::failed, std::string("Couldn't save to Pictures › Brindlecroft: Not a directory"),
           "Couldn't save to Pictures › Brindlecroft: Not a directory", true},
          {Kind::videoSaved, std::nullopt, "Couldn't save to Pictures › Brindlecroft: Not a directory", false}}},
        {"a take marked as lacking its sound, whatever its words",
         {{Kind::failed, ended, ended, true, true}, {Kind::videoSaved, std::nullopt, ended, true}}},
        {"settings not taken stay, as an older camera tells it too",
         {{Kind::info, settings, settings, false}, {Kind::photoSaved, std::nullopt, settings, false}}},
        {"a passing word goes", {{Kind::info, std::string("Low light"), std::nullopt, false}}},
    };
    for (const auto& c : cases) {
        make();
        connect({{1, "A"}});
        auto feed = controller->feed(peer(1));
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const auto& step = c.steps[i];
            CameraEvent event{step.kind, step.message, std::nullopt};
            event.soundMissing = step.soundMissing;
            deliverMessage(PacketType::event, event, 1);
            main->advance(10);
            EXPECT_EQ(controller->message(), step.shows) << c.what << ", step " << i;
            EXPECT_EQ(feed->noSound(), step.noSound) << c.what << ", step " << i;
        }
    }
}

TEST_F(IntakeTest, EventsCountShotsFillTheGalleryAndSayWhatHappened) {
    make();
    connect({{1, "A"}});
    auto feed = controller->feed(peer(1));
    GalleryItem item;
    item.id = Uuid();
    CameraEvent saved{CameraEvent::Kind::photoSaved, std::nullopt, item};
    deliverMessage(PacketType::event, saved, 1);
    deliverMessage(PacketType::event, saved, 1);
    EXPECT_EQ(feed->shutterCount(), 2);
    ASSERT_EQ(feed->gallery().size(), 1u);
    EXPECT_EQ(controller->message(), "Photo saved on camera");

    deliverMessage(PacketType::event, CameraEvent{CameraEvent::Kind::failed, std::nullopt, std::nullopt}, 1);
    main->advance(MonitorController::messageDuration);
    EXPECT_EQ(controller->message(), "Capture failed");
    connect({{1, "A"}, {2, "B"}});
    deliverMessage(PacketType::event, CameraEvent{CameraEvent::Kind::failed, std::nullopt, std::nullopt}, 1);
    // A failure stays until read, above what comes after it.
    deliverMessage(PacketType::event, CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, std::nullopt}, 2);
    EXPECT_EQ(controller->message(), "B: Video saved on camera");
    main->advance(MonitorController::noticeDuration);
    EXPECT_EQ(controller->message(), "A: Capture failed");
    ASSERT_EQ(controller->notices().size(), 1u) << "the same failure again is told once";
    EXPECT_EQ(controller->notices()[0].text, "A: Capture failed");
    controller->dismissNotice(controller->notices()[0].id);
    EXPECT_EQ(controller->notices().size(), 0u);
    deliverMessage(PacketType::event, CameraEvent{CameraEvent::Kind::info, std::string("Low light"), std::nullopt}, 2);
    EXPECT_EQ(controller->message(), "B: Low light");

    GalleryItem other;
    other.id = Uuid();
    deliverMessage(PacketType::gallery, std::vector<GalleryItem>{other, item}, 1);
    ASSERT_EQ(feed->gallery().size(), 2u);
    EXPECT_EQ(feed->gallery()[0].id, other.id);
    deliver(withKind(PacketType::gallery, Bytes{'{', '}'}), 1);
    EXPECT_EQ(feed->gallery().size(), 2u);
}

// Notices that stay, as the cameras tell them: one of a kind from several cameras is one naming them, told again (a
// camera that connects again says what still holds) it stays one, and it goes once its cause has passed for each.
TEST_F(IntakeTest, ANoticeFromSeveralCamerasIsOneAndGoesWhenItsCauseHasPassed) {
    const auto failed = [](std::string message, std::optional<std::string> subject = std::nullopt) {
        return CameraEvent{.kind = CameraEvent::Kind::failed, .message = std::move(message), .subject = subject};
    };
    const CameraEvent over{.subject = "realTime", .over = true};
    const std::string late = "can't record the chosen format in real time";
    const std::string full = "Recording stopped: the disk is full. What was recorded is kept";
    const std::vector<std::tuple<int, CameraEvent, std::vector<std::string>>> steps = {
        {1, failed(late, "realTime"), {"A: " + late}},
        {2, failed(late, "realTime"), {"A, B: " + late}},
        {1, failed(late, "realTime"), {"A, B: " + late}},
        {1, over, {"B: " + late}},
        {3, over, {"B: " + late}},
        {2, failed(full), {"B: " + late, "B: " + full}},
        {3, failed(full), {"B: " + late, "B, C: " + full}},
        {2, over, {"B, C: " + full}},
    };
    make();
    connect({{1, "A"}, {2, "B"}, {3, "C"}});
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& [camera, event, shows] = steps[i];
        deliverMessage(PacketType::event, event, camera);
        std::vector<std::string> shown;
        for (const auto& notice : controller->notices()) shown.push_back(notice.text);
        EXPECT_EQ(shown, shows) << "step " << i;
    }
}

// What a camera tells of what still holds, over a day of link drops and restarts: a take's notices that the crew
// dismissed stay dismissed across reconnects and remote restarts (the camera tells them again at every connect), a
// camera's takes without sound are one notice counting them, a camera that starts again is named once, and a tile
// says "No sound" while the camera says its microphone gives none, not for a take told again from earlier.
TEST_F(IntakeTest, WhatTheCrewDismissedStaysDismissedAndTheTileFollowsTheMicrophone) {
    using Kind = CameraEvent::Kind;
    const std::string silent = "The take has no sound: the microphone gave nothing. Its pictures are kept";
    const std::string counted = "takes have no sound, or not all of it. Their pictures are kept";
    const std::string late = "can't record the chosen format in real time";
    const std::string deaf = "The microphone “pulse:x” gives no sound: the camera films without it";
    const auto silentTake = [&](const std::string& file, bool retold = false) {
        CameraEvent event{Kind::failed, silent, std::nullopt, "take:" + file, std::nullopt, true};
        event.occurrence = "take:" + file + "#1";
        if (retold) event.retold = true;
        return event;
    };
    const auto standing = [](std::string message, std::string subject, std::string occurrence, bool retold = false) {
        CameraEvent event{Kind::failed, std::move(message), std::nullopt, std::move(subject)};
        event.occurrence = std::move(occurrence);
        if (retold) event.retold = true;
        return event;
    };
    const auto over = [](std::string subject) { return CameraEvent{.subject = std::move(subject), .over = true}; };
    struct Step {
        enum { tell, dismissAll, reconnect, restart } what;
        int camera = 1;  // that tells; or reconnects as `as`
        CameraEvent event = {};
        int as = 0;
        std::vector<std::string> shows = {};
        bool noSound = false;  // of camera A
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"one camera's takes without sound are one notice counting them",
         {{Step::tell, 1, silentTake("a.mov"), 0, {"A: " + silent}, true},
          {Step::tell, 1, silentTake("b.mov"), 0, {"A: 2 " + counted}, true},
          {Step::tell, 1, silentTake("c.mov"), 0, {"A: 3 " + counted}, true},
          {Step::tell, 1, over("take:b.mov"), 0, {"A: 2 " + counted}, true},
          {Step::tell, 2, over("take:c.mov"), 0, {"A: " + silent}, true}}},
        {"dismissed, then the link drops: the camera tells them again, they stay dismissed",
         {{Step::tell, 1, silentTake("a.mov"), 0, {"A: " + silent}, true},
          {Step::tell, 1, standing(late, "realTime", "r1"), 0, {"A: " + silent, "A: " + late}, true},
          {Step::dismissAll, 1, {}, 0, {}, true},
          {Step::reconnect, 1, {}, 3, {}, false},
          {Step::tell, 3, silentTake("a.mov", true), 0, {}, false},
          {Step::tell, 3, standing(late, "realTime", "r1", true), 0, {}, false},
          {Step::tell, 3, silentTake("d.mov"), 0, {"A: " + silent}, true}}},
        {"dismissed, then the remote starts again: they stay dismissed, what else holds shows",
         {{Step::tell, 1, silentTake("a.mov"), 0, {"A: " + silent}, true},
          {Step::dismissAll, 1, {}, 0, {}, true},
          {Step::tell, 1, standing(deaf, "microphone", "m1"), 0, {"A: " + deaf}, true},
          {Step::restart, 1, {}, 0, {}, false},
          {Step::tell, 1, silentTake("a.mov", true), 0, {}, false},
          {Step::tell, 1, standing(deaf, "microphone", "m1", true), 0, {"A: " + deaf}, true},
          {Step::tell, 1, over("microphone"), 0, {}, false}}},
        {"a take told again from earlier says nothing of the microphone now",
         {{Step::tell, 1, silentTake("a.mov", true), 0, {"A: " + silent}, false},
          {Step::tell, 1, {Kind::videoSaved}, 0, {"A: " + silent}, false}}},
        {"a camera that starts again is named once, and its cause passing is told by its new run",
         {{Step::tell, 1, standing(late, "realTime", "r1"), 0, {"A: " + late}},
          {Step::tell, 2, standing(late, "realTime", "r2"), 0, {"A, B: " + late}},
          {Step::reconnect, 1, {}, 3, {"A, B: " + late}},
          {Step::tell, 3, standing(late, "realTime", "r3", true), 0, {"A, B: " + late}},
          {Step::tell, 3, over("realTime"), 0, {"B: " + late}}}},
    };
    const auto staying = [&] {
        std::vector<std::string> shown;
        for (const auto& notice : controller->notices())
            if (notice.stays) shown.push_back(notice.text);
        return shown;
    };
    for (const auto& c : cases) {
        defaults->set(MonitorController::dismissedNoticesKey, std::vector<std::string>{});
        registered.clear();
        make();
        std::map<int, std::string> cameras{{1, "A"}, {2, "B"}};
        const auto join = [&] { connect({cameras.begin(), cameras.end()}); };
        join();
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const auto& step = c.steps[i];
            switch (step.what) {
                case Step::tell:
                    deliverMessage(PacketType::event, step.event, step.camera);
                    break;
                case Step::dismissAll:
                    for (const auto shown = controller->notices(); const auto& notice : shown)
                        if (notice.stays) controller->dismissNotice(notice.id);
                    break;
                case Step::reconnect:
                    cameras.erase(step.camera);
                    join();
                    cameras[step.as] = step.camera == 1 ? "A" : "B";
                    join();
                    break;
                case Step::restart:
                    controller.reset();
                    registered.clear();
                    make();
                    join();
                    break;
            }
            EXPECT_EQ(staying(), step.shows) << c.what << ", step " << i;
            int a = 0;
            for (const auto& [n, name] : cameras)
                if (name == "A") a = n;
            EXPECT_EQ(controller->feed(peer(a))->noSound(), step.noSound) << c.what << ", step " << i;
        }
    }
}

TEST_F(IntakeTest, TransferDescriptionsAreRememberedByIdentifier) {
    make();
    TransferInfo info;
    info.id = Uuid();
    info.fileName = "clip.mov";
    std::thread delivery([&] { controller->handlePeerData(*encodeMessage(PacketType::transferInfo, info), peer(1)); });
    delivery.join();
    auto entry = controller->incomingFile(info.id.uuidString());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->camera, "Camera");  // no name known for that peer yet
    EXPECT_EQ(entry->info, info);
    EXPECT_EQ(main->pendingCount(), 0u);  // nothing for the main thread

    connect({{1, "Named"}});
    info.fileName = "again.mov";
    deliverMessage(PacketType::transferInfo, info, 1);
    EXPECT_EQ(controller->incomingFile(info.id.uuidString())->camera, "Named");
    EXPECT_EQ(controller->incomingFile(info.id.uuidString())->info.fileName, "again.mov");
    EXPECT_EQ(controller->incomingCount(), 1u);
    deliver(withKind(PacketType::transferInfo, Bytes{'x'}), 1);
    EXPECT_EQ(controller->incomingCount(), 1u);
}

TEST_F(IntakeTest, AnnouncedTransfersAreBounded) {
    make();
    std::vector<Uuid> ids;
    for (std::size_t i = 0; i < MonitorController::incomingLimit + 10; ++i) {
        TransferInfo info;
        info.id = Uuid();
        ids.push_back(info.id);
        controller->handlePeerData(*encodeMessage(PacketType::transferInfo, info), peer(1));
    }
    EXPECT_EQ(controller->incomingCount(), MonitorController::incomingLimit);
    EXPECT_FALSE(controller->incomingFile(ids.front().uuidString()));
    EXPECT_TRUE(controller->incomingFile(ids.back().uuidString()));
}

TEST_F(IntakeTest, DeckEditsAreFiledOnlyWhileImporting) {
    make();
    connect({{1, "A"}});
    auto makeEdit = [](const std::string& name) {
        DeckEdit edit;
        edit.id = Uuid();
        edit.name = name;
        edit.pieces = {{"A", Date::now(), Date::now().addingTimeInterval(5)}};
        return edit;
    };
    const auto ignored = makeEdit("Ignored");
    const auto filed = makeEdit("Filed");
    defaults->set("importsFiles", false);
    deliverMessage(PacketType::deckEdit, ignored, 1);
    defaults->set("importsFiles", true);
    deliverMessage(PacketType::deckEdit, filed, 1);
    deliver(withKind(PacketType::deckEdit, Bytes{'[', ']'}), 1);

    const auto manifest = shoot->folderURL(Date::now()) / ".quorbelin-shoot.json";
    std::string body;
    for (int i = 0; i < 200 && body.find(filed.id.uuidString()) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(manifest);
        body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(body.find(filed.id.uuidString()), std::string::npos);
    EXPECT_EQ(body.find(ignored.id.uuidString()), std::string::npos);  // queued earlier, never filed
}

TEST_F(IntakeTest, PacketsWithoutAFeedOrKindAreDropped) {
    make();
    connect({{1, "A"}});
    status(2);  // no feed for that camera
    EXPECT_TRUE(link->packetsTo(peer(2)).empty());
    deliver(Bytes{}, 1);
    deliver(Bytes{0}, 1);
    deliver(Bytes{16, 1}, 1);
    deliver(Bytes{20, 1}, 1);
    deliver(Bytes{5, '{', '}'}, 1);
    deliver(Bytes{3, 0, 0, 0, 1}, 1);
    EXPECT_FALSE(controller->feed(peer(1))->status());
    EXPECT_TRUE(link->sent().empty());
}

TEST_F(IntakeTest, HostilePacketsOfEveryKindChangeNothingUnsafe) {
    make();
    connect({{1, "A"}});
    CameraStatus on;
    on.loupe = true;
    status(1, on);
    std::mt19937 random(11);
    for (int round = 0; round < 4000; ++round) {
        Bytes packet(random() % 48);
        for (auto& b : packet) b = static_cast<std::uint8_t>(random());
        if (!packet.empty()) packet[0] = static_cast<std::uint8_t>(random() % 21);
        if (round % 3 == 0 && packet.size() > 2) {  // JSON-ish bodies
            const std::string json = round % 2 ? "{\"kind\":{\"photoSaved\":{}},\"message\":1}" : "[{\"id\":5}]";
            packet.resize(1);
            packet.insert(packet.end(), json.begin(), json.end());
        }
        controller->handlePeerData(packet, peer(1));
    }
    main->runPending();
    ASSERT_TRUE(controller->feed(peer(1))->status());
}

TEST_F(IntakeTest, AStatusWithAMalformedFieldLeavesTheShownStateAsItWas) {
    make();
    connect({{1, "A"}});
    auto feed = controller->feed(peer(1));
    CameraStatus recording;
    recording.mode = CaptureMode::video;
    recording.isRecording = true;
    recording.recordingElapsed = 12;
    status(1, recording);
    ASSERT_TRUE(feed->status() && feed->status()->isRecording);

    Json malformed = Json(recording);
    for (const Json& value : {Json("yes"), Json(nullptr)}) {
        malformed["isRecording"] = value;
        const std::string text = malformed.dump();
        Bytes packet{packetTypeByte(PacketType::status)};
        packet.insert(packet.end(), text.begin(), text.end());
        deliver(packet, 1);
        ASSERT_TRUE(feed->status());
        EXPECT_TRUE(feed->status()->isRecording) << value.dump();
        EXPECT_EQ(feed->status()->mode, CaptureMode::video);
    }

    // A report that leaves fields out still counts, over the defaults.
    const std::string partial = R"({"mode":"video","isRecording":false})";
    Bytes packet{packetTypeByte(PacketType::status)};
    packet.insert(packet.end(), partial.begin(), partial.end());
    deliver(packet, 1);
    EXPECT_FALSE(feed->status()->isRecording);
}

}  // namespace
}  // namespace morvane
