#include "controller_fixture.h"

namespace morvane {
namespace {

using LifecycleTest = ControllerTest;

TEST_F(LifecycleTest, SettingsFallBackToTheirDefaults) {
    make();
    EXPECT_TRUE(controller->livePictures());
    EXPECT_TRUE(controller->collectsTakesAutomatically());
    EXPECT_FALSE(controller->showHistogram());
    EXPECT_TRUE(controller->cameraOrder().empty());
    EXPECT_TRUE(controller->importsFiles());
    EXPECT_TRUE(controller->feeds().empty());
    EXPECT_FALSE(controller->message());
    EXPECT_FALSE(controller->hasStatsTimer());
    EXPECT_EQ(link->starts, 0);  // creation starts nothing

    defaults->set("deckLivePictures", std::string("yes"));
    defaults->set("deckCollectsTakes", false);
    defaults->set("showHistogram", true);
    defaults->set("importsFiles", std::string("no"));
    defaults->set("cameraOrder", std::vector<std::string>{"B", "A"});
    make();
    EXPECT_TRUE(controller->livePictures());
    EXPECT_FALSE(controller->collectsTakesAutomatically());
    EXPECT_TRUE(controller->showHistogram());
    EXPECT_TRUE(controller->importsFiles());
    EXPECT_EQ(controller->cameraOrder(), (std::vector<std::string>{"B", "A"}));
    defaults->set("importsFiles", false);
    EXPECT_FALSE(controller->importsFiles());  // read anew at every use
}

TEST_F(LifecycleTest, StartAndStopWithTheirOwnLink) {
    make(false);
    controller->setCollectsDeckCopies(true);
    controller->start();
    EXPECT_EQ(link->starts, 1);
    EXPECT_TRUE(controller->hasStatsTimer());
    ASSERT_TRUE(controller->usbHub());
    EXPECT_TRUE(controller->usbHub()->isRunning());
    EXPECT_TRUE(controller->observesDeckEdits());
    auto hub = controller->usbHub();
    controller->stop();
    EXPECT_EQ(link->stops, 1);  // at once
    EXPECT_FALSE(controller->usbHub());
    EXPECT_FALSE(hub->isRunning());
    EXPECT_FALSE(controller->hasStatsTimer());
    EXPECT_FALSE(controller->observesDeckEdits());
    EXPECT_TRUE(link->sent().empty());  // not a lead camera: nothing greeted on the way out
    EXPECT_LE(main->advance(5), 2u);    // the ticks already due find the timer gone and end
}

TEST_F(LifecycleTest, WithoutImportsNoHubAndNoLibraryDay) {
    defaults->set("importsFiles", false);
    make(false);
    controller->start();
    EXPECT_FALSE(controller->usbHub());
    controller->stop();
}

TEST_F(LifecycleTest, SharedLinkOutlivesAScreenForThirtySeconds) {
    auto first = make(true);
    ASSERT_EQ(MonitorController::sharedLinkNow(), link);
    EXPECT_FALSE(first->adoptsLink());
    first->start();
    EXPECT_EQ(link->starts, 1);
    link->ready = {peer(1), peer(2)};
    first->stop();
    EXPECT_EQ(link->stops, 0);

    main->advance(10);
    controller = MonitorController::create(
        3, true, [] { return 0.0; }, environment());
    EXPECT_EQ(controller->peers(), std::static_pointer_cast<CameraLink>(link));
    EXPECT_EQ(linksMade, 1);
    EXPECT_EQ(link->maxCameras, 3);
    EXPECT_TRUE(controller->adoptsLink());
    main->advance(30);
    EXPECT_EQ(link->stops, 0);  // the pending stop was cancelled

    controller->start();
    EXPECT_EQ(link->starts, 1);  // greeted instead of started
    EXPECT_EQ(link->publishes, 1);
    EXPECT_EQ(commandNames(1), (std::vector<std::string>{"monitorHello", "deckStopAutoCopies", "setVideo"}));
    EXPECT_EQ(commandNames(2), (std::vector<std::string>{"monitorHello", "deckStopAutoCopies", "setVideo"}));
    EXPECT_EQ(std::get<CameraCommand::SetVideo>(link->commandsTo(peer(1))[2].value).on, true);
    EXPECT_TRUE(controller->receiver(peer(1)));
    EXPECT_TRUE(controller->receiver(peer(2)));

    controller->stop();
    main->advance(31);
    EXPECT_EQ(link->stops, 1);
    EXPECT_FALSE(MonitorController::sharedLinkNow());
    nextLinks.push_back(std::make_shared<ScriptedLink>());
    auto fresh = nextLinks.front();
    controller = MonitorController::create(
        4, true, [] { return 0.0; }, environment());
    EXPECT_EQ(controller->peers(), std::static_pointer_cast<CameraLink>(fresh));
    EXPECT_FALSE(controller->adoptsLink());
    controller->start();
    EXPECT_EQ(fresh->starts, 1);
}

TEST_F(LifecycleTest, ShowingTheScreenAgainWithinTheDelayKeepsTheLink) {
    make(true);
    controller->start();
    controller->stop();
    main->advance(20);
    controller->start();  // the same screen shown again
    main->advance(60);
    EXPECT_EQ(link->stops, 0);
    EXPECT_EQ(MonitorController::sharedLinkNow(), link);

    // Shown again after the link went: it takes up a new one and starts it.
    controller->stop();
    main->advance(31);
    EXPECT_EQ(link->stops, 1);
    auto fresh = std::make_shared<ScriptedLink>();
    nextLinks.push_back(fresh);
    controller->start();
    EXPECT_EQ(controller->peers(), std::static_pointer_cast<CameraLink>(fresh));
    EXPECT_EQ(fresh->starts, 1);
}

TEST_F(LifecycleTest, LeadCameraGreetsReadyCamerasOnStop) {
    make(true);
    controller->setMasterCamera(true);
    controller->start();
    link->ready = {peer(1)};
    defaults->set("importsFiles", false);
    controller->stop();
    auto commands = link->commandsTo(peer(1));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(std::get<CameraCommand::MonitorHello>(commands[0].value).acceptsFiles, false);
}

TEST_F(LifecycleTest, MessagesClearAfterTheirOwnTime) {
    make();
    controller->showMessage("A");
    main->advance(1);
    controller->showMessage("B");
    main->advance(1.6);  // 2.6 s after A
    EXPECT_EQ(controller->message(), "B");
    main->advance(0.8);  // 3.4 s
    EXPECT_EQ(controller->message(), "B");
    main->advance(0.2);  // 3.6 s
    EXPECT_FALSE(controller->message());

    controller->showMessage("same");
    main->advance(1);
    controller->showMessage("same");
    main->advance(1.6);  // 2.6 s after the first
    EXPECT_FALSE(controller->message());
}

TEST_F(LifecycleTest, NoticesThatMatterStayTheirTimeAndNoneHidesAnother) {
    // What happens at a time, and what the band then says (nothing for none).
    struct Step {
        double at;
        enum { lost, lostReconnecting, issue, passing, shows } what;
        const char* text;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"two cameras lost at once are both named",
         {{0, Step::lostReconnecting, "Cam B"},
          {0, Step::lost, "Cam A"},
          {0.1, Step::shows, "Lost the link to Cam B and Cam A · reconnecting Cam B…"},
          {5.9, Step::shows, "Lost the link to Cam B and Cam A · reconnecting Cam B…"},
          {6.1, Step::shows, nullptr}}},
        {"three lost in turn are named together, each for the full time",
         {{0, Step::lostReconnecting, "A"},
          {2, Step::lostReconnecting, "B"},
          {4, Step::lostReconnecting, "C"},
          {9.9, Step::shows, "Lost the link to A, B and C · reconnecting…"},
          {10.1, Step::shows, nullptr}}},
        {"two pairing failures are each shown in full, in turn",
         {{0, Step::issue, "The pairing with P timed out"},
          {1, Step::issue, "The pairing with Q timed out"},
          {5.9, Step::shows, "The pairing with P timed out"},
          {6.1, Step::shows, "The pairing with Q timed out"},
          {12.1, Step::shows, nullptr}}},
        {"a passing message waits behind a notice that matters, and gives way to a newer one",
         {{0, Step::lost, "Cam A"},
          {1, Step::passing, "Saved Take 01"},
          {2, Step::passing, "Saved Take 02"},
          {5.9, Step::shows, "Lost the link to Cam A"},
          {6.1, Step::shows, "Saved Take 02"},
          {8.7, Step::shows, nullptr}}},
        {"a notice that matters takes the place of a passing message at once",
         {{0, Step::passing, "Marker 3 · 07:14:29;11"},
          {1, Step::issue, "Can't connect D: at most 4 cameras"},
          {1.1, Step::shows, "Can't connect D: at most 4 cameras"},
          {6.9, Step::shows, "Can't connect D: at most 4 cameras"},
          {7.1, Step::shows, nullptr}}},
    };
    for (const auto& c : cases) {
        make();
        controller->start();
        double now = 0;
        for (const auto& step : c.steps) {
            main->advance(step.at - now);
            now = step.at;
            switch (step.what) {
                case Step::lost:
                case Step::lostReconnecting:
                    link->onPeerLost({peer(9), step.text}, step.what == Step::lostReconnecting);
                    break;
                case Step::issue:
                    link->onIssue(step.text);
                    break;
                case Step::passing:
                    controller->showMessage(step.text);
                    break;
                case Step::shows:
                    EXPECT_EQ(controller->message(), step.text ? std::optional<std::string>(step.text) : std::nullopt)
                        << c.what << ", at " << step.at << " s";
                    break;
            }
        }
        controller->stop();
    }
}

TEST_F(LifecycleTest, ChangeHandlersStoreAndTellTheCameras) {
    make();
    connect({{1, "A"}});
    status(1);
    link->clearSent();

    controller->setLivePictures(false);
    EXPECT_FALSE(defaults->boolValue("deckLivePictures", true));
    ASSERT_EQ(commandNames(1), (std::vector<std::string>{"setVideo"}));  // outside deck mode too
    link->clearSent();

    controller->setDeckMode(true);
    EXPECT_TRUE(controller->shutterAllCameras());
    auto commands = link->commandsTo(peer(1));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_FALSE(std::get<CameraCommand::SetVideo>(commands[0].value).on);
    link->clearSent();
    controller->setDeckMode(false);
    commands = link->commandsTo(peer(1));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_TRUE(std::get<CameraCommand::SetVideo>(commands[0].value).on);
    EXPECT_TRUE(controller->shutterAllCameras());
    link->clearSent();

    controller->setLivePictures(true);
    link->clearSent();
    controller->setDeckMode(true);  // live pictures on: the video stays as it is
    EXPECT_TRUE(commandNames(1).empty());

    controller->setCollectsTakesAutomatically(false);
    EXPECT_FALSE(defaults->boolValue("deckCollectsTakes", true));
    EXPECT_TRUE(commandNames(1).empty());  // not collecting deck copies: only stored
    controller->setCollectsDeckCopies(true);
    controller->setCollectsTakesAutomatically(false);
    controller->setCollectsTakesAutomatically(true);
    EXPECT_EQ(commandNames(1), (std::vector<std::string>{"deckStopAutoCopies", "deckHello"}));
    link->clearSent();

    controller->setShowHistogram(true);
    EXPECT_TRUE(defaults->boolValue("showHistogram", false));
    EXPECT_TRUE(link->sent().empty());
}

TEST_F(LifecycleTest, HandlersWithoutCamerasOnlyStore) {
    make();
    connect({{1, "A"}});  // connected, but no status yet
    controller->setLivePictures(false);
    controller->setDeckMode(true);
    EXPECT_TRUE(link->sent().empty());
    EXPECT_FALSE(defaults->boolValue("deckLivePictures", true));
}

}  // namespace
}  // namespace morvane
