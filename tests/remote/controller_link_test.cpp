// The controller against scripted cameras built on the real camera-role peer session, over 127.0.0.1.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <unistd.h>
#include <fstream>
#include <future>
#include <mutex>
#include <random>

#include "deck/retouch_library.h"
#include "link/usb_hub.h"
#include "platform/defaults.h"
#include "platform/keychain.h"
#include "protocol/camera_event.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "qt_main_executor.h"
#include "qt_wait.h"
#include "remote/monitor_controller.h"
#include "shoot_library/shoot_library.h"

namespace morvane {
namespace {

struct Discovery {
    std::string group;
    std::uint16_t port = 0;
};

Discovery uniqueDiscovery() {
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(::getpid()));
    return {"239.255." + std::to_string(100 + random() % 100) + "." + std::to_string(1 + random() % 250),
            static_cast<std::uint16_t>(40000 + random() % 20000)};
}

PeerSession::Options sessionOptions(const Discovery& discovery, const std::filesystem::path& folder,
                                    std::shared_ptr<Executor> main) {
    PeerSession::Options options;
    options.keychain = std::make_shared<Keychain>(folder / "keychain");
    options.mainExecutor = std::move(main);
    options.interfaces = {"127.0.0.1"};
    options.multicastGroup = discovery.group;
    options.multicastPort = discovery.port;
    options.temporaryFolder = folder / "incoming";
    options.timing.announceInterval = 0.3;
    options.timing.announceBurstInterval = 0.05;
    options.timing.maintenanceInterval = 0.5;
    return options;
}

bool eventually(const std::function<bool()>& condition, int milliseconds = 10000) {
    return test::eventually(condition, milliseconds);
}

/// A camera as the remote meets it: a camera-role session that records what it receives and sends what the
/// test tells it to.
class ScriptedCamera {
public:
    ScriptedCamera(const std::string& name, const Discovery& discovery, const std::filesystem::path& folder)
        : main_(std::make_shared<DispatchQueue>("test.camera-main")) {
        auto options = sessionOptions(discovery, folder, main_);
        options.keychain->write("device-name", Bytes(name.begin(), name.end()));
        session = PeerSession::create(PeerSession::Role::camera, true, 1, "morvane", options);
        session->onData = [this](const Bytes& packet, const PeerId& peer) {
            std::lock_guard lock(mutex_);
            received_.push_back(packet);
            monitor_ = peer;
        };
        session->onPairingRequest = [this](const std::optional<PeerSession::PairingRequest>& request) {
            std::lock_guard lock(mutex_);
            if (request) request_ = request;
        };
        session->onPeersChanged = [this](const std::vector<PeerSession::Peer>& peers) {
            std::lock_guard lock(mutex_);
            if (!peers.empty()) monitor_ = peers.front().id;
        };
        main_->sync([&] { session->start(); });
    }

    ~ScriptedCamera() {
        main_->sync([&] { session->stop(); });
        session->onData = nullptr;
        session->onPairingRequest = nullptr;
        session->onPeersChanged = nullptr;
    }

    void send(const Bytes& packet) {
        auto peer = monitor();
        ASSERT_TRUE(peer);
        session->queue().sync([&] { session->send(packet, *peer); });
    }
    template <class T>
    void sendMessage(PacketType kind, const T& value) {
        auto packet = encodeMessage(kind, value);
        ASSERT_TRUE(packet);
        send(*packet);
    }

    std::optional<PeerSession::PairingRequest> request() const {
        std::lock_guard lock(mutex_);
        return request_;
    }
    std::optional<PeerId> monitor() const {
        std::lock_guard lock(mutex_);
        return monitor_;
    }
    std::vector<Bytes> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    std::vector<CameraCommand> commands() const {
        std::vector<CameraCommand> out;
        for (const auto& packet : received())
            if (packetKind(packet) == PacketType::command)
                if (auto command = decodeMessage<CameraCommand>(packet)) out.push_back(*command);
        return out;
    }
    std::vector<std::string> commandNames() const {
        std::vector<std::string> out;
        for (const auto& command : commands()) out.push_back(command.caseName());
        return out;
    }

    std::shared_ptr<PeerSession> session;

private:
    std::shared_ptr<DispatchQueue> main_;
    mutable std::mutex mutex_;
    std::vector<Bytes> received_;
    std::optional<PeerSession::PairingRequest> request_;
    std::optional<PeerId> monitor_;
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The USB hub asks a multiplexing service that is not there.
        static const bool muxd = [] {
            setenv("USBMUXD_SOCKET_ADDRESS", "UNIX:/tmp/morvane-remote-test-no-usbmuxd", 1);
            return true;
        }();
        (void)muxd;
        ASSERT_TRUE(dir.isValid());
        root = std::filesystem::path(dir.path().toStdString());
        discovery = uniqueDiscovery();
        defaults = std::make_unique<Defaults>(root / "defaults.json");
        shoot = std::make_unique<ShootLibrary>(ShootLibrary::Environment{defaults.get(), root / "Movies"});
        retouch = std::make_unique<RetouchLibrary>(root / "Retouch", root / "Program");

        MonitorEnvironment env;
        env.mainExecutor = QtMainExecutor::shared();
        env.defaults = defaults.get();
        env.shootLibrary = shoot.get();
        env.retouchLibrary = retouch.get();
        env.fallbackFolder = root / "Unfiled";
        auto options = sessionOptions(discovery, root / "remote", env.mainExecutor);
        env.makeLink = [options](int maxCameras) -> std::shared_ptr<CameraLink> {
            return PeerSessionLink::makeMonitor(maxCameras, options);
        };
        env.makeUSBHub = [this] {
            USBHub::Options hub;
            hub.keychain = std::make_shared<Keychain>(root / "remote" / "keychain");
            hub.temporaryFolder = root / "usb";
            return std::make_shared<USBHub>(hub);
        };
        controller = MonitorController::create(
            4, false, [] { return 0.0; }, env);
        controller->start();
    }

    void TearDown() override {
        cameras.clear();
        if (controller) controller->stop();
        controller.reset();
        QCoreApplication::processEvents();
    }

    /// Starts a camera, connects it from the remote and confirms the code on both sides.
    ScriptedCamera& pairCamera(const std::string& name) {
        cameras.push_back(std::make_unique<ScriptedCamera>(name, discovery, root / name));
        auto& camera = *cameras.back();
        std::optional<PeerId> nearby;
        EXPECT_TRUE(eventually([&] {
            for (const auto& entry : controller->nearbyCameras())
                if (entry.name == name) nearby = entry.id;
            return nearby.has_value();
        }));
        if (!nearby) return camera;
        controller->peers()->connect(*nearby);
        EXPECT_TRUE(eventually([&] { return controller->pairingRequest() && camera.request(); }));
        if (!controller->pairingRequest() || !camera.request()) return camera;
        EXPECT_EQ(controller->pairingRequest()->code, camera.request()->code);
        const auto monitorId = camera.request()->id;
        controller->acceptPairing();
        camera.session->acceptPairing(monitorId);
        EXPECT_TRUE(eventually([&] { return controller->feed(*nearby) != nullptr && camera.monitor(); }));
        return camera;
    }

    /// Sends a file from the camera and waits for the remote's answer: none when it kept the file.
    std::optional<std::string> sendFile(ScriptedCamera& camera, const std::filesystem::path& file) {
        auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
        auto answered = answer->get_future();
        camera.session->sendResource(file, Uuid().uuidString(), *camera.monitor(),
                                     [answer](const std::optional<std::string>& error) { answer->set_value(error); });
        EXPECT_TRUE(
            eventually([&] { return answered.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        return answered.get();
    }

    MonitorController::FeedPtr feedNamed(const std::string& name) const {
        for (const auto& feed : controller->feeds())
            if (feed->name() == name) return feed;
        return nullptr;
    }

    QTemporaryDir dir;
    std::filesystem::path root;
    Discovery discovery;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<ShootLibrary> shoot;
    std::unique_ptr<RetouchLibrary> retouch;
    std::shared_ptr<MonitorController> controller;
    std::vector<std::unique_ptr<ScriptedCamera>> cameras;
};

Bytes jpeg(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::yellow);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return Bytes(data.begin(), data.end());
}

TEST_F(LinkTest, ALostCameraIsNamedAndComesBackUnderItsNumber) {
    pairCamera("Cam A");
    pairCamera("Cam B");
    ASSERT_TRUE(feedNamed("Cam A") && feedNamed("Cam B"));
    EXPECT_EQ(controller->cameraNumber(feedNamed("Cam A")->id()), 1);
    EXPECT_EQ(controller->cameraNumber(feedNamed("Cam B")->id()), 2);

    // Cam A's program ends: the remote says so, and Cam B keeps its number.
    cameras[0].reset();
    ASSERT_TRUE(eventually([&] { return controller->message() == "Lost the link to Cam A · reconnecting…"; }))
        << controller->message().value_or("(none)");
    ASSERT_TRUE(eventually([&] { return !feedNamed("Cam A"); }));
    EXPECT_EQ(controller->cameraNumber(feedNamed("Cam B")->id()), 2);

    // Started again, it is reconnected by itself and gets its number back.
    cameras[0] = std::make_unique<ScriptedCamera>("Cam A", discovery, root / "Cam A");
    ASSERT_TRUE(eventually([&] { return feedNamed("Cam A") != nullptr; }));
    EXPECT_EQ(controller->cameraNumber(feedNamed("Cam A")->id()), 1);
    EXPECT_EQ(controller->cameraNumber(feedNamed("Cam B")->id()), 2);

    // A camera the user disconnects is not reported lost.
    controller->peers()->disconnectCamera(feedNamed("Cam B")->id());
    ASSERT_TRUE(eventually([&] { return !feedNamed("Cam B"); }));
    QCoreApplication::processEvents();
    EXPECT_NE(controller->message(), "Lost the link to Cam B · reconnecting…");
    EXPECT_NE(controller->message(), "Lost the link to Cam B");
}

TEST_F(LinkTest, TwoCamerasAreGreetedFedAndCut) {
    auto& a = pairCamera("Cam A");
    ASSERT_TRUE(a.monitor());
    auto feedA = feedNamed("Cam A");
    ASSERT_TRUE(feedA);

    // The first status is answered with exactly the greeting and the stream settings.
    a.sendMessage(PacketType::status, CameraStatus{});
    ASSERT_TRUE(eventually([&] { return a.commands().size() >= 4; }));
    EXPECT_EQ(a.commandNames(),
              (std::vector<std::string>{"monitorHello", "requestGallery", "setStreamSize", "setStreamBitRate"}));
    EXPECT_TRUE(a.commands()[0].as<CameraCommand::MonitorHello>()->acceptsFiles);
    EXPECT_EQ(a.commands()[2].as<CameraCommand::SetStreamSize>()->longSide, 1280);
    EXPECT_EQ(a.commands()[3].as<CameraCommand::SetStreamBitRate>()->bitsPerSecond, 4'000'000);
    a.clear();

    // A second camera changes both cameras' streams.
    auto& b = pairCamera("Cam B");
    ASSERT_TRUE(b.monitor());
    b.sendMessage(PacketType::status, CameraStatus{});
    ASSERT_TRUE(eventually([&] { return b.commands().size() >= 4 && a.commands().size() >= 2; }));
    EXPECT_EQ(b.commandNames(),
              (std::vector<std::string>{"monitorHello", "requestGallery", "setStreamSize", "setStreamBitRate"}));
    EXPECT_EQ(b.commands()[2].as<CameraCommand::SetStreamSize>()->longSide, 960);
    EXPECT_EQ(a.commandNames(), (std::vector<std::string>{"setStreamSize", "setStreamBitRate"}));
    EXPECT_EQ(a.commands()[0].as<CameraCommand::SetStreamSize>()->longSide, 960);
    EXPECT_EQ(a.commands()[1].as<CameraCommand::SetStreamBitRate>()->bitsPerSecond, 3'000'000);
    a.clear();
    b.clear();

    // A clock ping gets its 17-byte answer.
    a.send(Bytes{10, 9, 8, 7, 6, 5, 4, 3, 2});
    ASSERT_TRUE(eventually([&] { return !a.received().empty(); }));
    const auto pong = a.received()[0];
    ASSERT_EQ(pong.size(), 17u);
    EXPECT_EQ(pong[0], 11);
    EXPECT_EQ(Bytes(pong.begin() + 1, pong.begin() + 9), (Bytes{9, 8, 7, 6, 5, 4, 3, 2}));
    a.clear();

    // Live video reaches the camera's receiver, which acknowledges each frame.
    a.send(FramePacket::encode(41, false, 0, Bytes{0, 0, 0, 2, 0x09, 0xF0}));
    ASSERT_TRUE(eventually([&] {
        for (const auto& packet : a.received())
            if (packet == Bytes{3, 0, 0, 0, 41}) return true;
        return false;
    }));
    a.clear();

    // Readings.
    CameraStatus loupeOn;
    loupeOn.loupe = true;
    a.sendMessage(PacketType::status, loupeOn);
    a.send(HistogramPacket{}.encode());
    a.send(Bytes{14, 77});
    Bytes loupe{15};
    const auto picture = jpeg(24, 24);
    loupe.insert(loupe.end(), picture.begin(), picture.end());
    a.send(loupe);
    a.send(Bytes{17, 0x2C, 0x01});
    a.send(Bytes{18, 2, 1, 3, 10, 20, 30});
    auto& live = feedA->live();
    ASSERT_TRUE(eventually([&] { return live.scope().has_value(); }));
    ASSERT_TRUE(live.histogram());
    EXPECT_EQ(live.histogram()->size(), 64u);
    EXPECT_EQ(live.audioLevel(), 77);
    EXPECT_EQ(live.loupe().size(), QSize(24, 24));
    EXPECT_EQ(live.roll(), 30.0);
    EXPECT_EQ(live.scope()->kind, ScopeKind::parade);

    // A photo saved.
    a.sendMessage(PacketType::event, CameraEvent{CameraEvent::Kind::photoSaved, std::nullopt, std::nullopt});
    ASSERT_TRUE(eventually([&] { return controller->message() == "Cam A: Photo saved on camera"; }));
    EXPECT_EQ(feedA->shutterCount(), 1);

    // A file announced and sent lands in the shoot library under its take name.
    TransferInfo info;
    info.id = Uuid();
    info.fileName = "IMG_0042.mov";
    info.capturedAt = Date::now();
    info.isVideo = true;
    info.duration = 2;
    a.sendMessage(PacketType::transferInfo, info);
    const auto file = root / "outgoing.mov";
    std::ofstream(file, std::ios::binary) << std::string(300'000, 'v');
    struct Completion {
        std::mutex mutex;
        bool done = false;
        std::optional<std::string> error;
    };
    auto completion = std::make_shared<Completion>();
    a.session->sendResource(file, info.id.uuidString(), *a.monitor(),
                            [completion](const std::optional<std::string>& error) {
                                std::lock_guard lock(completion->mutex);
                                completion->done = true;
                                completion->error = error;
                            });
    ASSERT_TRUE(eventually([&] { return controller->message() && controller->message()->rfind("Saved ", 0) == 0; }));
    const auto filed = shoot->folderURL(info.capturedAt) / controller->message()->substr(6);
    EXPECT_EQ(std::filesystem::file_size(filed), 300'000u);
    EXPECT_EQ(filed.filename().string().rfind("Take ", 0), 0u);
    EXPECT_NE(filed.filename().string().find("Cam A"), std::string::npos);
    EXPECT_FALSE(controller->incomingFile(info.id.uuidString()));
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(completion->mutex);
        return completion->done;
    }));
    EXPECT_FALSE(completion->error);

    // Deck mode: a cut reaches every camera and the shoot library.
    a.clear();
    b.clear();
    controller->setDeckMode(true);
    controller->putOnAir(*feedNamed("Cam B"));
    ASSERT_TRUE(eventually([&] { return !a.commands().empty() && !b.commands().empty(); }));
    EXPECT_EQ(a.commands()[0].as<CameraCommand::ProgramCut>()->camera, "Cam B");
    EXPECT_EQ(b.commands()[0].as<CameraCommand::ProgramCut>()->camera, "Cam B");
    shoot->addMarker({}, 30, false);  // waits for the library's queue
    std::ifstream in(shoot->folderURL(Date::now()) / ".quorbelin-shoot.json");
    auto day = ShootLibrary::decodeManifest(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(day);
    ASSERT_FALSE(day->cuts.empty());
    EXPECT_EQ(day->cuts.back().camera, "Cam B");

    // With nobody to take a file, the camera hears that it did not arrive (and so keeps its copy).
    controller->peers()->onResource = nullptr;
    auto untaken = std::make_shared<Completion>();
    a.session->sendResource(file, Uuid().uuidString(), *a.monitor(),
                            [untaken](const std::optional<std::string>& error) {
                                std::lock_guard lock(untaken->mutex);
                                untaken->done = true;
                                untaken->error = error;
                            });
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(untaken->mutex);
        return untaken->done;
    }));
    EXPECT_TRUE(untaken->error);
}

// Files arrive under the shoot folder in use when each one starts: the arrival folder is made again when something
// took it away, follows a shoot folder chosen meanwhile, and when it cannot be made the operator hears why.
TEST_F(LinkTest, FilesArriveUnderTheShootFolderInUseAtTheirStart) {
    auto& a = pairCamera("Cam A");
    ASSERT_TRUE(a.monitor());
    const auto file = root / "outgoing.mov";
    std::ofstream(file, std::ios::binary) << std::string(300'000, 'v');
    const auto first = shoot->defaultFolder() / ".incoming";
    const auto chosen = root / "Chosen";
    struct Case {
        const char* what;
        std::function<void()> before;
        std::filesystem::path arrival;  // where the file arrives; none: refused, and the operator told
        std::string message;            // how the remote's message begins
    };
    const Case cases[] = {
        {"the arrival folder was deleted",
         [&] {
             std::filesystem::remove_all(root / "remote" / "incoming");
             std::filesystem::remove_all(first);
         },
         first, "Saved "},
        {"the shoot folder changed",
         [&] {
             std::filesystem::create_directories(chosen);
             defaults->set(std::string(ShootLibrary::bookmarkKey), chosen.string());
         },
         chosen / ".incoming", "Saved "},
        {"the arrival folder cannot be made",
         [&] {
             std::filesystem::remove_all(chosen / ".incoming");
             std::ofstream(chosen / ".incoming") << "in the way";
         },
         {},
         "No folder for a 0.3 MB file from Cam A: " + (chosen / ".incoming").string() + " can't be made ("},
    };
    for (const auto& c : cases) {
        c.before();
        controller->showMessage("");
        const auto error = sendFile(a, file);
        EXPECT_EQ(!error, !c.arrival.empty()) << c.what << ": " << error.value_or("");
        EXPECT_TRUE(eventually([&] { return controller->message().value_or("").starts_with(c.message); }))
            << c.what << ": " << controller->message().value_or("(none)");
        EXPECT_TRUE(c.arrival.empty() || std::filesystem::is_directory(c.arrival)) << c.what;
    }
}

}  // namespace
}  // namespace morvane
