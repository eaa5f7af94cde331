// A camera process and the remote controller over the real peer link on 127.0.0.1: pairing with the code, live
// pictures, a take filed in the shoot library with its timecode, a photo in the gallery with its preview, the
// program cut in the camera's log, and a capture over the USB link through a stand-in multiplexing service.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "camera_process.h"
#include "deck/retouch_library.h"
#include "fake_usbmux_service.h"
#include "link/usb_hub.h"
#include "link/usb_link.h"
#include "loopback_remote.h"
#include "platform/defaults.h"
#include "platform/file_contents.h"
#include "platform/keychain.h"
#include "qt_main_executor.h"
#include "qt_wait.h"
#include "remote/monitor_controller.h"
#include "remote/video_receiver.h"
#include "shoot_library/shoot_library.h"

namespace morvane {
namespace {

bool eventually(const std::function<bool()>& condition, int milliseconds = 20000) {
    return test::eventually(condition, milliseconds);
}

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

using test::CameraProcess;

// A camera whose identity key can be neither read nor stored would never announce itself: the program says why
// and ends instead of reporting that it is ready.
TEST(CameraAndRemote, ACameraWithoutItsIdentityKeyFailsWithTheReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path folder = std::filesystem::path(dir.path().toStdString()) / "camera";
    std::filesystem::create_directories(folder / "keychain" / "identity-key" / "in-the-way");
    QProcess camera;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
    camera.setProcessEnvironment(environment);
    camera.start(CAMERA_PROGRAM,
                 {"--name", "Cam Key", "--folder", QString::fromStdString(folder.string()), "--size", "320x180"});
    ASSERT_TRUE(camera.waitForFinished(20000));
    EXPECT_NE(camera.exitCode(), 0);
    EXPECT_FALSE(camera.readAllStandardOutput().contains("ready"));
    EXPECT_TRUE(camera.readAllStandardError().contains("Couldn't store this device's identity key"));
}

// The folder is the camera (identity key, name, takes): a second camera program started on the same computer as the
// first, with a name of its own and no folder, refuses the folder in use and says how to give it one; with --folder
// it films as a camera of its own.
TEST(CameraAndRemote, ASecondCameraProgramNeverUsesTheFolderOfAnother) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path root(dir.path().toStdString());
    const auto discovery = test::privateDiscovery();
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
    environment.insert("MORVANE_NEARBY_GROUP", QString::fromStdString(discovery.group));
    environment.insert("MORVANE_NEARBY_PORT", QString::number(discovery.port));
    environment.insert("XDG_DATA_HOME", QString::fromStdString((root / "data").string()));
    const QStringList small{"--size", "320x180"};

    CameraProcess first;
    first.start(CAMERA_PROGRAM, QStringList{"--name", "Cam A"} + small, environment);
    ASSERT_TRUE(eventually([&] { return first.lineStartingWith("ready").has_value(); }));

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(CAMERA_PROGRAM, QStringList{"--name", "Cam B"} + small);
    const bool ended = second.waitForFinished(20000);
    const QString said = QString::fromUtf8(second.readAllStandardError());
    if (!ended) {
        second.write("quit\n");
        second.waitForFinished(15000);
    }
    ASSERT_TRUE(ended) << "a second camera program ran on the first one's folder";
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(said.contains(QString::fromStdString((root / "data" / "brindlecroft-camera").string())))
        << said.toStdString();
    EXPECT_TRUE(said.contains("--folder")) << said.toStdString();

    CameraProcess own;
    own.start(CAMERA_PROGRAM,
              QStringList{"--name", "Cam B", "--folder", QString::fromStdString((root / "cam-b").string())} + small,
              environment);
    EXPECT_TRUE(eventually([&] { return own.lineStartingWith("ready").has_value(); }));
    EXPECT_EQ(first.process.state(), QProcess::Running);
}

TEST(CameraAndRemote, PairStreamRecordPhotographCutAndSendOverTheCable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path root(dir.path().toStdString());
    const auto discovery = test::privateDiscovery();
    const std::string& group = discovery.group;
    const std::uint16_t port = discovery.port;

    // The cable: a stand-in multiplexing service that forwards the phone's link port to the camera process.
    const std::uint16_t cameraUSBPort = freePort();
    test::FakeUsbmuxService usbmux(root / "usbmuxd.sock", USBLink::port);
    ASSERT_TRUE(usbmux.start());
    setenv("USBMUXD_SOCKET_ADDRESS", usbmux.address().c_str(), 1);

    test::LoopbackRemote remote(root, group, port);
    ShootLibrary& shoot = remote.shoot;
    MonitorEnvironment& env = remote.env;
    const PeerSession::Options& options = remote.options;
    env.makeUSBHub = [&] {
        USBHub::Options hub;
        hub.keychain = options.keychain;
        hub.temporaryFolder = root / "usb";
        return std::make_shared<USBHub>(hub);
    };
    auto controller = MonitorController::create(
        4, false, [] { return 0.0; }, env);
    controller->start();

    CameraProcess camera;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");  // whatever started the test, nothing leaves loopback
    environment.insert("MORVANE_NEARBY_GROUP", QString::fromStdString(group));
    environment.insert("MORVANE_NEARBY_PORT", QString::number(port));
    camera.start(CAMERA_PROGRAM,
                 {"--name", "Cam E2E", "--folder", QString::fromStdString((root / "camera").string()), "--size",
                  "640x360", "--usb-port", QString::number(cameraUSBPort)},
                 environment);
    ASSERT_TRUE(eventually([&] { return camera.lineStartingWith("ready").has_value(); }));

    // Pairing: the remote asks, both sides show the same code, the camera's user types it.
    std::optional<PeerId> id;
    ASSERT_TRUE(eventually([&] {
        for (const auto& entry : controller->nearbyCameras())
            if (entry.name == "Cam E2E") id = entry.id;
        return id.has_value();
    }));
    controller->peers()->connect(*id);
    ASSERT_TRUE(eventually([&] { return controller->pairingRequest() && camera.lineStartingWith("pairing"); }));
    const std::string code = controller->pairingRequest()->code;
    const std::string asked = *camera.lineStartingWith("pairing");
    EXPECT_EQ(asked.substr(asked.size() - 7), " " + code);
    controller->acceptPairing();
    camera.type(code);
    ASSERT_TRUE(eventually([&] { return controller->feed(*id) && controller->feed(*id)->status(); }));
    auto feed = controller->feed(*id);

    // Live pictures, decoded on the remote.
    ASSERT_TRUE(eventually([&] {
        auto receiver = controller->receiver(*id);
        return receiver && !receiver->containerLayer().picture().isNull();
    }));
    const QImage picture = controller->receiver(*id)->containerLayer().picture();
    EXPECT_EQ(picture.size(), QSize(640, 360));
    EXPECT_GT(qGray(picture.pixel(40, 40)), 100);  // the light grey bar

    // The program cut reaches the camera's cut log.
    controller->send(CameraCommand::ProgramCut{"Cam E2E"});

    // A two-second take, filed in the shoot library under its take name with its timecode.
    controller->send(CameraCommand::SetMode{CaptureMode::video});
    controller->send(CameraCommand::StartRecording{});
    ASSERT_TRUE(eventually([&] { return feed->status() && feed->status()->isRecording; }));
    QElapsedTimer recording;
    recording.start();
    eventually([&] { return recording.elapsed() > 2000; });
    controller->send(CameraCommand::StopRecording{});
    ASSERT_TRUE(eventually([&] { return camera.lineStartingWith("take ").has_value(); }, 60000));
    const auto dayFolder = shoot.folderURL(Date::now());
    std::optional<ShootLibrary::Day> day;
    ASSERT_TRUE(eventually(
        [&] {
            shoot.waitUntilIdle();
            auto text = readFileContents(dayFolder / ".quorbelin-shoot.json", 1 << 24);
            day = text ? ShootLibrary::decodeManifest(*text) : std::nullopt;
            // The movie's timecode is read by a probe after the take is filed.
            return day && !day->clips.empty() && day->clips.front().timecodeFrame.has_value();
        },
        60000));
    const auto& clip = day->clips.front();
    EXPECT_TRUE(clip.isVideo);
    EXPECT_EQ(clip.take, 1);
    EXPECT_EQ(clip.camera, "Cam E2E");
    EXPECT_NEAR(clip.duration, 2.0, 0.6);
    EXPECT_TRUE(clip.timecodeFrame.has_value());
    EXPECT_TRUE(std::filesystem::exists(dayFolder / clip.file));
    EXPECT_EQ(clip.file.rfind("Take 01", 0), 0u) << clip.file;

    camera.type("cuts");
    ASSERT_TRUE(eventually([&] { return camera.lineStartingWith("cuts-end").has_value(); }));
    EXPECT_TRUE(camera.lineStartingWith("cut Cam E2E"));

    // A photo: in the camera's gallery, with a preview the remote can fetch.
    controller->send(CameraCommand::SetMode{CaptureMode::photo});
    controller->send(CameraCommand::Shutter{});
    ASSERT_TRUE(eventually([&] {
        for (const auto& item : feed->gallery())
            if (!item.isVideo) return true;
        return false;
    }));
    Uuid photo;
    for (const auto& item : feed->gallery())
        if (!item.isVideo) photo = item.id;
    std::optional<QImage> preview;
    controller->preview(photo, feed, [&](const QImage& image) { preview = image; });
    ASSERT_TRUE(eventually([&] { return preview.has_value(); }));
    EXPECT_FALSE(preview->isNull());
    ASSERT_TRUE(eventually([&] {
        shoot.waitUntilIdle();
        auto text = readFileContents(dayFolder / ".quorbelin-shoot.json", 1 << 24);
        day = text ? ShootLibrary::decodeManifest(*text) : std::nullopt;
        return day && day->clips.size() == 2;
    }));

    // With the link's transfers paused, the next capture comes over the cable.
    controller->send(CameraCommand::SetTransfersPaused{true});
    ASSERT_TRUE(eventually([&] { return feed->status() && feed->status()->transfersPaused; }));
    usbmux.attach(7, "camera-e2e", cameraUSBPort);
    controller->send(CameraCommand::Shutter{});
    ASSERT_TRUE(eventually(
        [&] {
            shoot.waitUntilIdle();
            auto text = readFileContents(dayFolder / ".quorbelin-shoot.json", 1 << 24);
            day = text ? ShootLibrary::decodeManifest(*text) : std::nullopt;
            return day && day->clips.size() == 3;
        },
        60000));
    EXPECT_GE(usbmux.requests("Connect"), 1);

    // SIGTERM (as Ctrl+C) while recording: the camera program finishes the take and keeps it, then ends.
    controller->send(CameraCommand::SetMode{CaptureMode::video});
    controller->send(CameraCommand::StartRecording{});
    ASSERT_TRUE(eventually([&] { return feed->status() && feed->status()->isRecording; }));
    const auto takeLines = [&] {
        return std::count_if(camera.lines.begin(), camera.lines.end(),
                             [](const std::string& line) { return line.rfind("take ", 0) == 0; });
    };
    const auto takesBefore = takeLines();
    recording.restart();
    eventually([&] { return recording.elapsed() > 1500; });
    ::kill(static_cast<pid_t>(camera.process.processId()), SIGTERM);
    ASSERT_TRUE(camera.process.waitForFinished(60000));
    while (camera.process.canReadLine()) camera.lines.push_back(camera.process.readLine().trimmed().toStdString());
    EXPECT_EQ(camera.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(camera.process.exitCode(), 0);
    std::string output;
    for (const auto& line : camera.lines) output += line + "\n";
    EXPECT_EQ(takeLines(), takesBefore + 1) << "the running take is finished:\n" << output;
    EXPECT_TRUE(camera.lineStartingWith("stopped"));
    std::string kept;
    for (const auto& line : camera.lines)
        if (line.rfind("take ", 0) == 0) kept = line;
    const std::string keptName = kept.substr(kept.find(' ', 5) + 1);
    bool found = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "camera"))
        found = found || (entry.is_regular_file() && entry.path().filename() == keptName && entry.file_size() > 0);
    EXPECT_TRUE(found) << keptName << " is kept in the camera's folder";

    controller->stop();
    usbmux.stop();
    unsetenv("USBMUXD_SOCKET_ADDRESS");
}

// A typo in the code: both sides say the code did not match, and the right code typed next pairs.
TEST(CameraAndRemote, AWrongCodeIsToldOnBothSidesAndTheRightOneTypedNextPairs) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path root(dir.path().toStdString());
    const auto discovery = test::privateDiscovery();
    test::LoopbackRemote remote(root, discovery.group, discovery.port);
    remote.env.makeUSBHub = [&] {
        USBHub::Options hub;
        hub.keychain = remote.options.keychain;
        hub.temporaryFolder = root / "usb";
        return std::make_shared<USBHub>(hub);
    };
    auto controller = MonitorController::create(
        4, false, [] { return 0.0; }, remote.env);
    controller->start();

    CameraProcess camera;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
    environment.insert("MORVANE_NEARBY_GROUP", QString::fromStdString(discovery.group));
    environment.insert("MORVANE_NEARBY_PORT", QString::number(discovery.port));
    camera.start(
        CAMERA_PROGRAM,
        {"--name", "Cam Typo", "--folder", QString::fromStdString((root / "camera").string()), "--size", "320x180"},
        environment);
    ASSERT_TRUE(eventually([&] { return camera.lineStartingWith("ready").has_value(); }));
    std::optional<PeerId> id;
    ASSERT_TRUE(eventually([&] {
        for (const auto& entry : controller->nearbyCameras())
            if (entry.name == "Cam Typo") id = entry.id;
        return id.has_value();
    }));
    controller->peers()->connect(*id);
    ASSERT_TRUE(eventually([&] { return controller->pairingRequest() && camera.lineStartingWith("pairing"); }));
    const std::string code = controller->pairingRequest()->code;
    controller->acceptPairing();

    std::string wrong = code;
    wrong[0] = wrong[0] == '9' ? '0' : static_cast<char>(wrong[0] + 1);
    camera.type(wrong);
    ASSERT_TRUE(eventually([&] { return camera.lineStartingWith("pairing-mismatch").has_value(); }));
    ASSERT_TRUE(eventually([&] { return controller->message() == "The code typed at Cam Typo did not match"; }));
    EXPECT_FALSE(controller->feed(*id));

    camera.type(code);
    ASSERT_TRUE(eventually([&] { return controller->feed(*id) && controller->feed(*id)->status(); }));
    controller->stop();
}

}  // namespace
}  // namespace morvane
