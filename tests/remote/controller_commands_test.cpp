#include "controller_fixture.h"

#include "remote/voice_trigger.h"

#include <fstream>
#include <regex>

namespace morvane {
namespace {

using CommandsTest = ControllerTest;

CameraStatus videoStatus(bool recording = false) {
    CameraStatus s;
    s.mode = CaptureMode::video;
    s.isRecording = recording;
    return s;
}

TEST_F(CommandsTest, SendReachesOnlyCamerasWithAStatus) {
    make();
    controller->send(CameraCommand::Shutter{});  // no feeds: nothing
    connect({{1, "A"}, {2, "B"}});
    status(2);
    link->clearSent();
    controller->send(CameraCommand::Shutter{});
    EXPECT_TRUE(link->packetsTo(peer(1)).empty());
    EXPECT_EQ(commandNames(2), std::vector<std::string>{"shutter"});
    const auto packet = link->packetsTo(peer(2))[0];
    EXPECT_EQ(packet[0], 5);
    EXPECT_EQ(std::string(packet.begin() + 1, packet.end()), "{\"shutter\":{}}");
}

TEST_F(CommandsTest, ShutterTargets) {
    make();
    controller->shutterFromControls();
    controller->voiceRecord();
    EXPECT_TRUE(link->sent().empty());  // no camera connected
    EXPECT_EQ(controller->message(), "Heard “action”");

    connect({{1, "A"}, {2, "B"}});
    controller->setSelectedID(std::nullopt);
    controller->shutterFromControls();
    controller->voiceRecord();
    controller->voiceStop();
    EXPECT_EQ(commandNames(1), (std::vector<std::string>{"shutter", "startRecording", "stopRecording"}));
    EXPECT_TRUE(link->packetsTo(peer(2)).empty());
    link->clearSent();

    controller->setSelectedID(peer(2));
    controller->shutterFromControls();  // the selected camera, status or not
    EXPECT_EQ(commandNames(2), std::vector<std::string>{"shutter"});
    link->clearSent();

    status(1);
    link->clearSent();
    controller->setShutterAllCameras(true);
    controller->shutterFromControls();
    EXPECT_EQ(commandNames(1), std::vector<std::string>{"shutter"});
    EXPECT_TRUE(link->packetsTo(peer(2)).empty());
}

TEST_F(CommandsTest, PanelCommandsFollowTheAllCamerasSwitchOnlyWhereTheyShould) {
    make();
    connect({{1, "A"}, {2, "B"}, {3, "C"}});
    status(1);
    status(2);
    link->clearSent();
    controller->setShutterAllCameras(true);
    auto panel = controller->feed(peer(2));
    controller->sendFromControls(CameraCommand::SetZoom{2.0, true}, *panel);
    controller->sendFromControls(CameraCommand::SetWhiteBalance{}, *panel);
    EXPECT_EQ(commandNames(1), std::vector<std::string>{"setWhiteBalance"});
    EXPECT_EQ(commandNames(2), (std::vector<std::string>{"setZoom", "setWhiteBalance"}));
    EXPECT_TRUE(link->packetsTo(peer(3)).empty());
    link->clearSent();

    controller->setShutterAllCameras(false);
    controller->sendFromControls(CameraCommand::SetWhiteBalance{}, *controller->feed(peer(3)));
    EXPECT_EQ(commandNames(3), std::vector<std::string>{"setWhiteBalance"});  // the panel's camera, even without status
    EXPECT_TRUE(link->packetsTo(peer(1)).empty());
    link->clearSent();
    controller->setSelectedID(peer(2));
    controller->sendFromControls(CameraCommand::SwitchCamera{});
    EXPECT_EQ(commandNames(2), std::vector<std::string>{"switchCamera"});

    EXPECT_TRUE(MonitorController::isBroadcastCommand(CameraCommand::SetAids{}));
    EXPECT_TRUE(MonitorController::isBroadcastCommand(CameraCommand::SetTimer{}));
    EXPECT_FALSE(MonitorController::isBroadcastCommand(CameraCommand::SetLoupe{}));
    EXPECT_FALSE(MonitorController::isBroadcastCommand(CameraCommand::SetFocusMode{}));
    EXPECT_FALSE(MonitorController::isBroadcastCommand(CameraCommand::SetExposureBias{}));
}

TEST_F(CommandsTest, ProgramCutPutsOneCameraOnAir) {
    make();
    connect({{1, "A"}, {2, "B"}});
    status(1);
    status(2);
    link->clearSent();
    controller->putOnAir(*controller->feed(peer(2)));
    EXPECT_EQ(controller->programID(), peer(2));
    EXPECT_EQ(controller->selectedID(), peer(2));
    for (int n : {1, 2}) {
        auto commands = link->commandsTo(peer(n));
        ASSERT_EQ(commands.size(), 1u);
        EXPECT_EQ(commands[0].as<CameraCommand::ProgramCut>()->camera, "B");
    }
    link->clearSent();
    controller->putOnAir(*controller->feed(peer(2)));
    EXPECT_TRUE(link->sent().empty());
    controller->putOnAirByIndex(0);
    controller->putOnAirByIndex(3);
    EXPECT_TRUE(link->sent().empty());
    controller->putOnAirByIndex(1);
    EXPECT_EQ(controller->programID(), peer(1));

    // A camera's own idea of the program: followed without a command, the selection unchanged.
    link->clearSent();
    controller->setSelectedID(peer(1));
    CameraStatus says;
    says.program = "Nobody";
    status(1, says);
    EXPECT_EQ(controller->programID(), peer(1));
    says.program = "B";
    status(1, says);
    EXPECT_EQ(controller->programID(), peer(2));
    EXPECT_EQ(controller->selectedID(), peer(1));
    EXPECT_TRUE(link->sent().empty());
}

TEST_F(CommandsTest, CutsAreFiledInTheShootLibraryWhileImporting) {
    make(false, 0);
    clock = Date::now();
    connect({{1, "A"}, {2, "B"}});
    status(1);
    status(2);
    controller->putOnAir(*controller->feed(peer(1)));
    defaults->set("importsFiles", false);
    controller->putOnAir(*controller->feed(peer(2)));
    defaults->set("importsFiles", true);
    clock = clock.addingTimeInterval(5);
    CameraStatus says;
    says.program = "A";
    status(2, says);
    shoot->addMarker({}, 30, false);  // waits for the library's queue
    std::ifstream in(shoot->folderURL(clock) / ".quorbelin-shoot.json");
    std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto day = ShootLibrary::decodeManifest(body);
    ASSERT_TRUE(day);
    ASSERT_EQ(day->cuts.size(), 2u);
    EXPECT_EQ(day->cuts[0].camera, "A");
    EXPECT_EQ(day->cuts[1].camera, "A");
}

TEST_F(CommandsTest, RecordOnEveryCamera) {
    make();
    connect({{1, "A"}, {2, "B"}});
    status(2, videoStatus());
    link->clearSent();
    controller->recordOnEveryCamera();  // outside deck mode nobody goes on air
    EXPECT_FALSE(controller->programID());
    EXPECT_EQ(commandNames(2), std::vector<std::string>{"startRecording"});
    link->clearSent();

    controller->setDeckMode(true);
    controller->recordOnEveryCamera();
    EXPECT_EQ(controller->programID(), peer(2));  // the first camera with a status
    EXPECT_EQ(commandNames(2), (std::vector<std::string>{"programCut", "startRecording"}));
    EXPECT_TRUE(link->packetsTo(peer(1)).empty());
    link->clearSent();

    status(2, videoStatus(true));
    link->clearSent();
    controller->recordOnEveryCamera();
    EXPECT_EQ(commandNames(2), std::vector<std::string>{"stopRecording"});
}

TEST_F(CommandsTest, ShutterInDeckModePutsACameraOnAirFirst) {
    make();
    controller->setDeckMode(true);
    connect({{1, "A"}, {2, "B"}});
    status(1, videoStatus());
    status(2, videoStatus());
    link->clearSent();
    controller->shutterFromControls();
    EXPECT_EQ(controller->programID(), peer(1));
    EXPECT_EQ(commandNames(1), (std::vector<std::string>{"programCut", "shutter"}));
    EXPECT_EQ(commandNames(2), (std::vector<std::string>{"programCut", "shutter"}));

    // The camera on air left: the next shutter puts another one on air.
    connect({{2, "B"}});
    link->clearSent();
    controller->shutterFromControls();
    EXPECT_EQ(controller->programID(), peer(2));
}

TEST_F(CommandsTest, MarkersUseTheSelectedCamerasRateAndTheRecordingCameras) {
    make();
    clock = Date::now();
    controller->addMarker();
    ASSERT_TRUE(controller->message());
    EXPECT_TRUE(std::regex_match(*controller->message(), std::regex("Marker 1 · \\d\\d:\\d\\d:\\d\\d:\\d\\d")))
        << *controller->message();

    connect({{1, "A"}, {2, "B"}});
    auto recording = videoStatus(true);
    recording.frameRate = 25;
    status(1, recording);
    status(2, videoStatus(false));
    controller->addMarker();
    EXPECT_EQ(controller->message()->rfind("Marker 2 · ", 0), 0u);
    std::ifstream in(shoot->folderURL(Date::now()) / ".quorbelin-shoot.json");
    std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto day = ShootLibrary::decodeManifest(body);
    ASSERT_TRUE(day);
    ASSERT_EQ(day->markers.size(), 2u);
    EXPECT_TRUE(day->markers[0].cameras.empty());
    EXPECT_EQ(day->markers[1].cameras, std::vector<std::string>{"A"});

    recording.frameRate = -7;  // no rate at all: counted at 30
    status(1, recording);
    controller->addMarker();
    EXPECT_EQ(controller->message()->rfind("Marker 3 · ", 0), 0u);
}

TEST_F(CommandsTest, DeckCopyRequests) {
    make();
    controller->getTodaysTakes(clock);
    EXPECT_EQ(controller->message(), "No cameras connected");
    controller->requestTakeAgain({Uuid()});
    EXPECT_EQ(controller->message(), "No cameras connected");
    connect({{1, "A"}});
    controller->getTodaysTakes(clock);
    EXPECT_EQ(controller->message(), "Asked 1 camera for their takes");
    connect({{1, "A"}, {2, "B"}});
    status(2);
    link->clearSent();
    controller->getTodaysTakes(clock);
    EXPECT_EQ(controller->message(), "Asked 2 cameras for their takes");
    EXPECT_EQ(link->sent().size(), 1u);
    EXPECT_EQ(link->commandsTo(peer(2))[0].as<CameraCommand::RequestDeckCopies>()->since, clock);
    const std::vector<Uuid> ids{Uuid(), Uuid()};
    controller->requestTakeAgain(ids);
    EXPECT_EQ(controller->message(), "Asked the cameras for this take again");
    EXPECT_EQ(link->commandsTo(peer(2))[1].as<CameraCommand::RequestDeckCopiesOf>()->ids, ids);
}

TEST_F(CommandsTest, FocusNeedsAStatusAndAPicture) {
    make();
    connect({{1, "A"}});
    EXPECT_FALSE(controller->focusAt(QPointF(10, 10), *controller->feed(peer(1))));
    status(1);
    link->clearSent();
    // No picture yet: the point maps nowhere.
    EXPECT_FALSE(controller->focusAt(QPointF(10, 10), *controller->feed(peer(1))));
    EXPECT_TRUE(link->sent().empty());
}

TEST_F(CommandsTest, DeletingCapturesAsksTheGallerysCamera) {
    make();
    connect({{1, "A"}, {2, "B"}});
    GalleryItem a, b;
    a.id = Uuid();
    b.id = Uuid();
    controller->deleteCaptures({b, a}, *controller->feed(peer(2)));
    controller->deleteCaptures({}, *controller->feed(peer(2)));
    auto commands = link->commandsTo(peer(2));
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].as<CameraCommand::DeleteCaptures>()->ids, (std::vector<Uuid>{b.id, a.id}));
    EXPECT_TRUE(commands[1].as<CameraCommand::DeleteCaptures>()->ids.empty());
    EXPECT_TRUE(link->packetsTo(peer(1)).empty());
}

TEST_F(CommandsTest, VoiceShutterWaitsHalfASecondAndNotDuringACountdown) {
    make();
    controller->voiceShutter();  // no camera: nothing at all
    EXPECT_FALSE(controller->message());
    connect({{1, "A"}});
    CameraStatus counting;
    counting.countdown = 3;
    status(1, counting);
    link->clearSent();
    controller->voiceShutter();
    EXPECT_FALSE(controller->message());
    status(1);
    defaults->set("voiceKeyword", std::string("snap"));
    controller->voiceShutter();
    EXPECT_EQ(controller->message(), "Heard “snap”");
    EXPECT_TRUE(link->sent().empty());
    main->advance(0.5);
    EXPECT_EQ(commandNames(1), std::vector<std::string>{"shutter"});
    controller->voiceHeard("one two");
    EXPECT_EQ(controller->heardWords(), "one two");
    controller->voiceOff();
    EXPECT_FALSE(controller->heardWords());
}

TEST_F(CommandsTest, VoiceWordsWithoutARecognizerStayOff) {
    auto env = environment();
    env.makeVoiceTrigger = [this] {
        VoiceTrigger::Environment voice;
        voice.defaults = defaults.get();
        voice.mainQueue = main;
        voice.makeRecognizer = [](const std::string&) { return std::shared_ptr<SpeechRecognizer>(); };
        return VoiceTrigger::make(voice);
    };
    controller = MonitorController::create(
        4, false, [] { return 0.0; }, env);
    controller->toggleVoice();
    main->runPending();  // the permission's answer comes on the main queue
    EXPECT_FALSE(controller->voiceEnabled());
    EXPECT_FALSE(controller->voice());
    EXPECT_EQ(controller->message(), VoiceTrigger::offlineModelMessage);

    controller->startVoice(false);
    EXPECT_EQ(controller->message(),
              "Turn on Brindlecroft in System Settings › Privacy & Security › Speech Recognition");
    EXPECT_FALSE(controller->voiceEnabled());
}

}  // namespace
}  // namespace morvane
