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

    // A camera's own idea of the program, once it has confirmed the cuts sent to it: followed without a
    // command, the selection unchanged.
    link->clearSent();
    controller->setSelectedID(peer(1));
    CameraStatus says;
    says.program = "A";
    status(1, says);
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
    says.program = "B";
    status(2, says);  // confirms the cut sent to it
    says.program = "A";
    status(2, says);                  // a cut made elsewhere
    shoot->addMarker({}, 30, false);  // waits for the library's queue
    std::ifstream in(shoot->folderURL(clock) / ".quorbelin-shoot.json");
    std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto day = ShootLibrary::decodeManifest(body);
    ASSERT_TRUE(day);
    ASSERT_EQ(day->cuts.size(), 2u);
    EXPECT_EQ(day->cuts[0].camera, "A");
    EXPECT_EQ(day->cuts[1].camera, "A");
}

// One thing that happens around a cut: a key cut to camera N, a status of camera N naming a program camera
// (none: a status without one), time passing, or camera C joining.
struct CutStep {
    enum class Kind { key, says, wait, joinC } kind;
    int camera = 0;
    std::optional<std::string> program;
    double seconds = 0;
};
CutStep key(int n) {
    return {CutStep::Kind::key, n, std::nullopt, 0};
}
CutStep says(int n, std::optional<std::string> program) {
    return {CutStep::Kind::says, n, std::move(program), 0};
}
CutStep wait(double seconds) {
    return {CutStep::Kind::wait, 0, std::nullopt, seconds};
}
const CutStep joinC{CutStep::Kind::joinC};

struct CutCase {
    const char* name;
    std::vector<CutStep> steps;  // cameras A, B and C are 1, 2 and 3; each camera's first status is a step
    std::optional<std::string> onAir;
    std::vector<std::string> logged;
    bool cStartsConnected = true;
};

TEST_F(CommandsTest, TheDaysCutsAreTheCutsMadeWhateverOrderStatusesArriveIn) {
    const std::vector<CutCase> cases = {
        {"the cameras' remembered program is shown on air but not logged",
         {says(1, "B"), says(2, "B"), says(3, "B"), wait(1), says(1, "B")},
         "B",
         {}},
        {"a remembered camera that joins after the others is no cut either",
         {says(1, "C"), says(2, "C"), wait(1), joinC, says(1, "C"), says(3, "C"), says(2, "C")},
         "C",
         {},
         false},
        {"statuses sent before the cameras heard the cut do not undo it",
         {says(1, "A"), says(2, "A"), says(3, "A"), key(2), says(1, "A"), says(3, "A"), wait(1.5), says(2, "A"),
          says(1, "B"), says(2, "B"), says(3, "B")},
         "B",
         {"B"}},
        {"a stale status then the confirmation within half a second",
         {says(1, "A"), says(2, "A"), says(3, "A"), key(2), wait(0.3), says(1, "A"), wait(0.1), says(1, "B")},
         "B",
         {"B"}},
        {"two quick cuts confirmed late and out of order",
         {says(1, "A"), says(2, "A"), says(3, "A"), key(2), wait(0.2), key(3), says(3, "B"), says(1, "A"), says(1, "B"),
          says(2, "A"), says(3, "C"), says(2, "B"), says(1, "C"), says(2, "C")},
         "C",
         {"B", "C"}},
        {"a cut from another remote, once our cut is confirmed, is taken",
         {says(1, "A"), says(2, "A"), says(3, "A"), key(2), says(1, "B"), says(2, "B"), says(3, "B"), wait(3),
          says(3, "C"), says(1, "C"), says(2, "C")},
         "C",
         {"B", "C"}},
        {"a cut from another remote with none of ours about",
         {says(1, "A"), says(2, "A"), says(3, std::nullopt), wait(2), says(3, "C"), says(1, "C")},
         "C",
         {"C"}},
        {"another remote's cut that reached a camera before ours waits for ours",
         {says(1, "A"), says(2, "A"), says(3, "A"), key(2), says(1, "C"), says(1, "B")},
         "B",
         {"B"}},
        {"a camera that never confirms is heard again after the grace period",
         {says(1, "A"), says(2, "A"), says(3, "A"), key(2), says(1, "A"), wait(11), says(1, "A"), says(1, "C")},
         "C",
         {"B", "C"}},
        {"the operator's cut back and forth within half a second is logged whole",
         {says(1, "A"), says(2, "A"), says(3, "A"), key(2), wait(0.2), key(1), wait(0.2), key(2), says(1, "B"),
          says(1, "A"), says(2, "A"), says(3, "B")},
         "B",
         {"B", "A", "B"}},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh remote, link and shoot folder per case.
        controller.reset();
        link = std::make_shared<ScriptedLink>();
        registered.clear();
        shoot = std::make_unique<ShootLibrary>(
            ShootLibrary::Environment{defaults.get(), root / ("Movies " + std::to_string(++run))});
        make();
        clock = Date::now();
        const Date start = clock;
        if (c.cStartsConnected)
            connect({{1, "A"}, {2, "B"}, {3, "C"}});
        else
            connect({{1, "A"}, {2, "B"}});
        for (const auto& step : c.steps) {
            switch (step.kind) {
                case CutStep::Kind::key:
                    controller->putOnAirByIndex(step.camera);
                    break;
                case CutStep::Kind::says: {
                    CameraStatus s;
                    s.program = step.program;
                    status(step.camera, s);
                    break;
                }
                case CutStep::Kind::wait:
                    clock = clock.addingTimeInterval(step.seconds);
                    break;
                case CutStep::Kind::joinC:
                    connect({{1, "A"}, {2, "B"}, {3, "C"}});
                    break;
            }
        }
        std::optional<std::string> onAir;
        if (auto id = controller->programID()) onAir = controller->feed(*id)->name();
        EXPECT_EQ(onAir, c.onAir);

        shoot->addMarker({}, 30, false);  // waits for the library's queue
        std::ifstream in(shoot->folderURL(start) / ".quorbelin-shoot.json");
        std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> logged;
        if (auto day = ShootLibrary::decodeManifest(body))
            for (const auto& cut : day->cuts) logged.push_back(cut.camera);
        EXPECT_EQ(logged, c.logged);
    }
}

TEST_F(CommandsTest, ARemoteBackMidTakeOffersTheLiveCutWithTheCameraOnAir) {
    struct Step {
        enum class Kind { says, deck, stops } kind;
        int camera = 0;
        bool recording = false;
        std::optional<std::string> program;
        bool deckOn = false;
    };
    auto says = [](int camera, bool recording, std::optional<std::string> program) {
        return Step{Step::Kind::says, camera, recording, std::move(program)};
    };
    auto deck = [](bool on) { return Step{Step::Kind::deck, 0, false, std::nullopt, on}; };
    struct Case {
        const char* what;
        bool deckAtStart;
        std::vector<Step> steps;
        bool offered;
        std::optional<std::string> onAir;
    };
    const Case cases[] = {
        {"back while recording with B on air", false, {says(1, true, "B"), says(2, true, "B")}, true, "B"},
        {"B on air but no take running", false, {says(1, false, "B"), says(2, false, "B")}, false, "B"},
        {"one camera records, the other tells the program",
         false,
         {says(1, true, std::nullopt), says(2, false, "B")},
         true,
         "B"},
        {"nothing on air mid-take", false, {says(1, true, std::nullopt), says(2, true, std::nullopt)}, false, {}},
        {"the deck already on", true, {says(1, true, "B"), says(2, true, "B")}, false, "B"},
        {"taken up with one click", false, {says(1, true, "B"), deck(true)}, false, "B"},
        {"turned down: the deck stays off", false, {says(1, true, "B"), deck(true), deck(false)}, false, "B"},
        {"the take ends",
         false,
         {says(1, true, "B"), says(2, true, "B"), says(1, false, "B"), says(2, false, "B")},
         false,
         "B"},
        {"the deck switched off by the crew mid-take is no offer",
         true,
         {says(1, true, "A"), says(2, true, "A"), deck(false), says(1, true, "A")},
         false,
         "A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        controller.reset();
        link = std::make_shared<ScriptedLink>();
        registered.clear();
        make();
        controller->setDeckMode(c.deckAtStart);
        connect({{1, "A"}, {2, "B"}});
        for (const auto& step : c.steps) {
            if (step.kind == Step::Kind::deck) {
                controller->setDeckMode(step.deckOn);
                continue;
            }
            CameraStatus s = videoStatus(step.recording);
            s.program = step.program;
            status(step.camera, s);
        }
        EXPECT_EQ(controller->liveCutOffered(), c.offered);
        std::optional<std::string> onAir;
        if (auto id = controller->programID()) onAir = controller->feed(*id)->name();
        EXPECT_EQ(onAir, c.onAir);
        if (c.offered) {
            ASSERT_TRUE(controller->message());
            EXPECT_NE(controller->message()->find("B is on air"), std::string::npos) << *controller->message();
            controller->setDeckMode(true);  // the one click
            EXPECT_TRUE(controller->deckMode());
            EXPECT_FALSE(controller->liveCutOffered());
            EXPECT_EQ(controller->programID(), peer(2)) << "the camera on air is kept, not cut away from";
        }
    }
}

TEST_F(CommandsTest, TheCameraOnAirComesBackOnAirAfterItsProgramRestarts) {
    struct Case {
        const char* what;
        int cutFirst;      // the key pressed before B is lost
        int cutWhileAway;  // the key pressed while B is away; 0 for none
        int keyBack;       // the identity key of the camera named B that joins as peer 5
        std::optional<std::string> onAir;
        std::vector<std::string> logged;
    };
    const Case cases[] = {
        {"the camera on air comes back on air, no cut logged", 2, 0, 2, "B", {"B"}},
        {"a cut made while it was away stands", 2, 1, 2, "A", {"B", "A"}},
        {"a camera that was not on air comes back idle", 1, 0, 2, "A", {"A"}},
        {"another camera of the same name is not it", 2, 0, 9, std::nullopt, {"B"}},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        controller.reset();
        link = std::make_shared<ScriptedLink>();
        registered.clear();
        shoot = std::make_unique<ShootLibrary>(
            ShootLibrary::Environment{defaults.get(), root / ("Restart " + std::to_string(++run))});
        make();
        clock = Date::now();
        const Date start = clock;
        // Cameras as (peer, identity key, name).
        const auto join = [&](const std::vector<std::tuple<int, int, std::string>>& cameras) {
            std::vector<CameraLink::Peer> list;
            for (const auto& [n, key, name] : cameras) {
                if (registered.insert(n).second) controller->registerReceiver(peer(n));
                list.push_back({peer(n), name, Bytes(32, static_cast<std::uint8_t>(key))});
            }
            controller->updatePeers(list);
        };
        join({{1, 1, "A"}, {2, 2, "B"}, {3, 3, "C"}});
        for (int n : {1, 2, 3}) status(n);
        controller->putOnAirByIndex(c.cutFirst);
        const Date cutAt = clock;
        clock = clock.addingTimeInterval(1);
        join({{1, 1, "A"}, {3, 3, "C"}});
        if (c.cutWhileAway) controller->putOnAirByIndex(c.cutWhileAway);
        clock = clock.addingTimeInterval(2);
        join({{1, 1, "A"}, {3, 3, "C"}, {5, c.keyBack, "B"}});
        status(5);  // a restarted camera remembers no program

        std::optional<std::string> onAir;
        if (auto id = controller->programID(); id && controller->feed(*id)) onAir = controller->feed(*id)->name();
        EXPECT_EQ(onAir, c.onAir);
        if (c.onAir == "B") {
            // Its takes then carry the cut in force, at the moment it was made.
            const auto commands = link->commandsTo(peer(5));
            const auto cut = std::find_if(commands.begin(), commands.end(),
                                          [](const CameraCommand& k) { return k.is<CameraCommand::ProgramCut>(); });
            ASSERT_NE(cut, commands.end());
            EXPECT_EQ(cut->as<CameraCommand::ProgramCut>()->at, cutAt);
        }
        shoot->addMarker({}, 30, false);  // waits for the library's queue
        std::vector<std::string> logged;
        std::ifstream in(shoot->folderURL(start) / ".quorbelin-shoot.json");
        const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (auto day = ShootLibrary::decodeManifest(body))
            for (const auto& cut : day->cuts) logged.push_back(cut.camera);
        EXPECT_EQ(logged, c.logged);
    }
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

TEST_F(CommandsTest, WithAllOnTheShutterBringsCamerasOutOfStepIntoStep) {
    struct Case {
        const char* name;
        bool all;
        CaptureMode selectedMode;
        std::vector<bool> recording;  // cameras 1, 2, 3; camera 2 is selected
        bool stops;                   // what the shutter shows
        std::vector<std::vector<std::string>> sent;
    };
    const std::vector<Case> cases = {
        {"one camera recording: every one stops",
         true,
         CaptureMode::video,
         {true, false, false},
         true,
         {{"stopRecording"}, {"stopRecording"}, {"stopRecording"}}},
        {"the selected camera alone records: every one stops",
         true,
         CaptureMode::video,
         {false, true, false},
         true,
         {{"stopRecording"}, {"stopRecording"}, {"stopRecording"}}},
        {"none recording: every one starts",
         true,
         CaptureMode::video,
         {false, false, false},
         false,
         {{"startRecording"}, {"startRecording"}, {"startRecording"}}},
        {"photos: a shot on every camera",
         true,
         CaptureMode::photo,
         {true, false, false},
         false,
         {{"shutter"}, {"shutter"}, {"shutter"}}},
        {"All off: the selected camera's own toggle",
         false,
         CaptureMode::video,
         {true, false, false},
         false,
         {{}, {"shutter"}, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        link = std::make_shared<ScriptedLink>();
        registered.clear();
        make();
        connect({{1, "A"}, {2, "B"}, {3, "C"}});
        for (int n = 1; n <= 3; ++n) {
            auto s = videoStatus(c.recording[static_cast<std::size_t>(n - 1)]);
            if (n == 2) s.mode = c.selectedMode;
            status(n, s);
        }
        controller->setSelectedID(peer(2));
        controller->setShutterAllCameras(c.all);
        EXPECT_EQ(controller->shutterStopsRecording(*controller->feed(peer(2))), c.stops);
        link->clearSent();
        controller->shutterFromControls();
        for (int n = 1; n <= 3; ++n) EXPECT_EQ(commandNames(n), c.sent[static_cast<std::size_t>(n - 1)]) << n;
    }

    // The shutter follows every camera, not only the selected one.
    controller->setShutterAllCameras(true);
    int changes = 0;
    QObject::connect(controller.get(), &MonitorController::recordingChanged, [&] { ++changes; });
    status(3, videoStatus(true));
    status(3, videoStatus(true));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(controller->shutterStopsRecording(*controller->feed(peer(2))));
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
    // Deck mode switches "All" on: the video cameras start together.
    EXPECT_EQ(commandNames(1), (std::vector<std::string>{"programCut", "startRecording"}));
    EXPECT_EQ(commandNames(2), (std::vector<std::string>{"programCut", "startRecording"}));

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
              "Voice words can't use the microphone: allow Brindlecroft to use it in the "
              "desktop's privacy settings, then switch voice words on again");
    EXPECT_FALSE(controller->voiceEnabled());
}

}  // namespace
}  // namespace morvane
