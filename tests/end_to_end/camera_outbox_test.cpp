// A camera in this process and the remote controller over the real peer link on 127.0.0.1: a capture the remote has
// no room for waits on the camera while the captures behind it are filed, and the remote says why it waits; what the
// camera told reaches remotes that connect later.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <fstream>
#include <thread>
#include <utility>

#include <QBuffer>
#include <QImage>

#include "camera/camera_controller.h"
#include "camera/take_files.h"
#include "drive_machine.h"
#include "link/device_identity.h"
#include "loopback_remote.h"
#include "platform/file_contents.h"
#include "platform/keychain.h"
#include "platform/synthetic_source.h"
#include "qt_main_executor.h"
#include "qt_wait.h"
#include "remote/monitor_controller.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

bool eventually(const std::function<bool()>& condition, int milliseconds = 30000) {
    return test::eventually(condition, milliseconds);
}

// A capture waiting in the camera's outbox, `size` bytes long (sparse: a long take costs no disk here).
TransferInfo waitingCapture(CameraController& camera, const std::string& name, bool isVideo, std::uintmax_t size) {
    TransferInfo info;
    info.fileName = name;
    info.capturedAt = Date::now();
    info.isVideo = isVideo;
    if (isVideo) info.duration = 3600;
    std::ofstream(camera.outbox().directory() / name) << "capture";
    fs::resize_file(camera.outbox().directory() / name, size);
    camera.outbox().add(Outbox::Item{info, Outbox::Item::Location::outbox, name});
    return info;
}

std::vector<fs::path> filesUnder(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == extension) found.push_back(it->path());
    return found;
}

// A remote, and the camera named `name` that pairs with it, in this process on a folder of the test's own.
struct Site {
    explicit Site(const std::string& cameraName) : name(cameraName) {
        controller->start();
        options.folder = root / "camera";
        options.main = QtMainExecutor::shared();
        options.keychain = std::make_shared<Keychain>(root / "camera" / "keychain");
        options.keychain->write("device-name", Bytes(name.begin(), name.end()));
        options.session.interfaces = {"127.0.0.1"};
        options.session.multicastGroup = discovery.group;
        options.session.multicastPort = discovery.port;
        options.acceptPairing = [](const PeerSession::PairingRequest&) { return std::optional<bool>(true); };
    }
    ~Site() {
        controller->stop();
        // What the link handed to the remote's queue runs while the remote's stores (on this stack) are still there.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    bool start(CameraController& camera) {
        return camera.start(std::make_unique<SyntheticSource>(SyntheticSource::Settings{320, 180}));
    }
    // The remote finds the camera and pairs with it. A camera started again comes back under a new identity, while
    // the one it had may still be listed a while.
    bool listed() {
        for (const auto& entry : controller->nearbyCameras())
            if (entry.name == name && entry.id != before) id = entry.id;
        return id.has_value();
    }
    bool pair() {
        if (!eventually([&] { return listed(); })) return false;
        controller->peers()->connect(*id);
        if (!eventually([&] { return controller->pairingRequest().has_value(); })) return false;
        controller->acceptPairing();
        return true;
    }

    QTemporaryDir dir;
    fs::path root{dir.path().toStdString()};
    test::Discovery discovery = test::privateDiscovery();
    test::LoopbackRemote remote{root, discovery.group, discovery.port};
    std::shared_ptr<MonitorController> controller = MonitorController::create(
        4, false, [] { return 0.0; }, remote.env);
    std::string name;
    CameraController::Options options;
    std::optional<PeerId> before, id;
};

// The camera ended between placing a take in its outbox and listing it (here the list cannot be written, which leaves
// the same files behind): its next start lists the take, sends it once, and nothing stays in the outbox.
TEST(CameraOutbox, ATakePlacedInTheOutboxButNotListedIsSentOnceAtTheNextStart) {
    Site site("Cam Placed");
    ASSERT_TRUE(site.dir.isValid());
    const fs::path outbox = site.options.folder / "Outbox";
    {
        auto camera = CameraController::make(site.options);
        fs::create_directories(camera->outbox().listFile());
        ASSERT_TRUE(site.start(*camera));
        camera->handleCommand(CameraCommand::SetMode{CaptureMode::video}, std::nullopt);
        camera->handleCommand(CameraCommand::StartRecording{}, std::nullopt);
        ASSERT_TRUE(eventually([&] { return !filesUnder(site.options.folder / "Recording", ".mov").empty(); }));
        QElapsedTimer timer;
        timer.start();
        eventually([&] { return timer.elapsed() > 1500; });
        camera->handleCommand(CameraCommand::StopRecording{}, std::nullopt);
        ASSERT_TRUE(eventually([&] { return filesUnder(outbox, ".mov").size() == 1; }));
        ASSERT_TRUE(eventually([&] { return site.listed(); }));
        site.before = std::exchange(site.id, std::nullopt);
        camera->stop();
    }
    fs::remove(outbox / "outbox.json");

    auto camera = CameraController::make(site.options);
    ASSERT_TRUE(site.start(*camera));
    ASSERT_TRUE(site.pair());
    const fs::path filed = site.remote.shoot.defaultFolder();
    EXPECT_TRUE(eventually([&] { return !filesUnder(filed, ".mov").empty(); })) << "the take placed but not listed";
    EXPECT_TRUE(eventually([&] {
        return camera->outbox().items().empty() &&
               std::distance(fs::directory_iterator(outbox), fs::directory_iterator()) == 1;  // its list alone
    })) << "nothing left in the outbox";
    EXPECT_EQ(filesUnder(filed, ".mov").size(), 1u) << "sent once";
    camera->stop();
}

// A photo cut by a kill on its way: landed in the recording folder (and perhaps already copied into Pictures), or
// moved into the outbox and not yet listed; a name claimed for a photo never written. The next start keeps and sends
// each photo once, stores none twice, and leaves nothing behind.
TEST(CameraOutbox, APhotoCutByAKillIsSentOnceAtTheNextStart) {
    Site site("Cam Photo");
    ASSERT_TRUE(site.dir.isValid());
    const fs::path folder = site.options.folder, recording = folder / "Recording", outbox = folder / "Outbox";
    site.options.photoLibrary = std::make_shared<PhotoLibrary>(site.root / "pictures");
    const fs::path pictures = site.options.photoLibrary->folder();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImage(64, 36, QImage::Format_RGB32).save(&buffer, "JPG"));
    const auto write = [&](const fs::path& file, const QByteArray& bytes) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary).write(bytes.data(), bytes.size());
    };
    const std::string landed = "2026-03-04 10.11.12 Cam Photo.jpg";
    write(recording / landed, jpeg);
    write(pictures / landed, jpeg);  // copied into Pictures before the kill
    write(recording / "2026-03-04 10.11.12 Cam Photo 2.jpg", {});
    write(outbox / (Uuid().uuidString() + ".jpg"), jpeg);

    auto camera = CameraController::make(site.options);
    ASSERT_TRUE(site.start(*camera));
    ASSERT_TRUE(site.pair());
    const fs::path filed = site.remote.shoot.defaultFolder();
    EXPECT_TRUE(eventually([&] { return filesUnder(filed, ".jpg").size() == 2; })) << "both photos";
    EXPECT_TRUE(eventually([&] {
        return camera->outbox().items().empty() && fs::is_empty(recording) &&
               std::distance(fs::directory_iterator(outbox), fs::directory_iterator()) == 1;  // its list alone
    })) << "nothing left behind";
    EXPECT_EQ(filesUnder(pictures, ".jpg").size(), 1u) << "stored once: the copy in Pictures is its copy";
    EXPECT_EQ(filesUnder(filed, ".jpg").size(), 2u) << "sent once";
    camera->stop();
}

// A drive as the camera's library: its takes stay there, and a copy of each goes to the remote.
struct DriveSite : Site {
    explicit DriveSite(const std::string& name) : Site(name) {
        fs::create_directories(test::machineWithStick(machine) / "Brindlecroft");
        options.driveRoot = machine;
    }
    fs::path machine = root / "machine", takes = machine / "media/user/STICK/Brindlecroft";
};

// The copy of a drive take into the outbox did not land (cut by a kill, or an outbox that could not take it): the
// take waits on the drive with its journal, and the next start queues it, once.
TEST(CameraOutbox, ADriveTakeWhoseCopyIntoTheOutboxWasCutIsSentOnceAtTheNextStart) {
    DriveSite site("Cam Drive");
    ASSERT_TRUE(site.dir.isValid());
    const fs::path outbox = site.options.folder / "Outbox", movie = site.takes / "Take 0001.mov";
    {
        auto camera = CameraController::make(site.options);
        ASSERT_TRUE(site.start(*camera));
        camera->handleCommand(CameraCommand::SetMode{CaptureMode::video}, std::nullopt);
        camera->handleCommand(CameraCommand::SetRecordToDrive{true}, std::nullopt);
        camera->handleCommand(CameraCommand::StartRecording{}, std::nullopt);
        ASSERT_TRUE(eventually([&] { return fs::exists(movie); }));
        QElapsedTimer timer;
        timer.start();
        eventually([&] { return timer.elapsed() > 1500; });
        // Nothing can be placed in the outbox now.
        fs::remove_all(outbox);
        std::ofstream(outbox) << "not a folder";
        camera->handleCommand(CameraCommand::StopRecording{}, std::nullopt);
        ASSERT_TRUE(eventually([&] { return camera->takeLog().entries().size() == 1; })) << "stored";
        ASSERT_TRUE(eventually([&] { return site.listed(); }));
        site.before = std::exchange(site.id, std::nullopt);
        camera->stop();
    }
    fs::remove(outbox);
    fs::create_directories(outbox);

    auto camera = CameraController::make(site.options);
    ASSERT_TRUE(site.start(*camera));
    ASSERT_TRUE(site.pair());
    const fs::path filed = site.remote.shoot.defaultFolder();
    EXPECT_TRUE(eventually([&] { return filesUnder(filed, ".mov").size() == 1; })) << "the take whose copy was cut";
    EXPECT_TRUE(eventually([&] { return camera->outbox().items().empty(); }));
    EXPECT_TRUE(eventually([&] { return !fs::exists(journalOf(movie)); })) << "its journal goes once it is queued";
    EXPECT_TRUE(fs::exists(movie)) << "the drive keeps its take";
    EXPECT_EQ(camera->takeLog().entries().size(), 1u) << "stored once";
    camera->stop();
    EXPECT_EQ(filesUnder(filed, ".mov").size(), 1u) << "sent once";
}

// A take that another camera program on this computer is recording on the drive (here a recorder of this process,
// under this camera's own identity): the start leaves it to its recorder, which finishes it whole.
TEST(CameraOutbox, ADriveTakeBeingRecordedIsLeftToItsRecorder) {
    DriveSite site("Cam Shared");
    ASSERT_TRUE(site.dir.isValid());
    MovieRecorder::Options options;
    options.video = {.codec = MovieVideoSettings::Codec::h264, .width = 320, .height = 180};
    options.frameRate = 30;
    options.destination = site.takes / "Take 0001.mov";
    options.onDrive = true;
    options.camera = base64Encode(DeviceIdentity(site.options.keychain).publicKey());
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    const SyntheticSource::Settings picture{.width = 320, .height = 180};
    int frame = 0;
    const auto film = [&](int frames) {
        for (int end = frame + frames; frame < end; ++frame)
            recorder->append(VideoFrame{SyntheticSource::makePicture(picture, frame), frame / 30.0});
    };
    film(60);
    const fs::path journal = journalOf(*options.destination);
    ASSERT_TRUE(eventually([&] { return fs::file_size(journal) > 0; }));

    auto camera = CameraController::make(site.options);
    ASSERT_TRUE(site.start(*camera));
    camera->streamer().waitForTakes();
    EXPECT_TRUE(fs::exists(journal)) << "the take is its recorder's";
    film(30);
    const auto length = recorder->finish();
    ASSERT_TRUE(length) << "finished whole by its recorder";
    EXPECT_NEAR(*length, 3.0, 0.1);
    camera->stop();
}

TEST(CameraOutbox, ACaptureTheRemoteHasNoRoomForWaitsWhileTheOnesBehindItAreFiled) {
    Site site("Cam Long");
    ASSERT_TRUE(site.dir.isValid());
    auto& controller = site.controller;
    auto camera = CameraController::make(site.options);

    // A take far larger than the free space of the remote's disk, and a photo taken after it.
    const fs::path folder = site.remote.shoot.defaultFolder();
    const auto space = fs::space(site.root);
    const TransferInfo longTake = waitingCapture(*camera, "long.mov", true, space.available + (1ull << 30));
    const TransferInfo photo = waitingCapture(*camera, "photo.jpg", false, 5000);

    ASSERT_TRUE(site.start(*camera));
    ASSERT_TRUE(site.pair());

    std::vector<std::string> messages;
    const auto filedPhoto = [&] {
        if (auto text = controller->message(); text && (messages.empty() || messages.back() != *text))
            messages.push_back(*text);
        std::error_code ec;
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().extension() == ".jpg") return true;
        return false;
    };
    EXPECT_TRUE(eventually(filedPhoto)) << "the photo behind the take the remote has no room for";
    EXPECT_TRUE(eventually([&] {
        filedPhoto();
        return std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
            return m.starts_with("No room for a ") && m.find("Cam Long") != std::string::npos;
        });
    })) << "the remote says why the take waits";
    // The camera lets go of the photo once the remote's answer is back.
    EXPECT_TRUE(eventually([&] { return camera->outbox().items().size() == 1; }));
    const auto waiting = camera->outbox().items();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].info.id, longTake.id);
    EXPECT_FALSE(camera->outbox().item(photo.id));

    camera->stop();
}

// What a camera's start found is told before any remote is there: the first remote that connects shows it. A remote
// started again is told what still holds, not what was heard, and not what its crew read; a notice whose cause has
// passed goes.
TEST(CameraNotices, WhatNoRemoteHeardReachesTheFirstAndWhatHoldsEveryRemoteThatConnects) {
    Site site("Cam Told");
    ASSERT_TRUE(site.dir.isValid());
    auto camera = CameraController::make(site.options);
    ASSERT_TRUE(site.start(*camera));
    const std::string journal = "A take's journal is of another version: it is left alone";
    const std::string setAside = "Take 3 couldn't be finished: it is set aside";
    camera->streamer().postEvent({.kind = CameraEvent::Kind::failed, .message = journal});
    camera->streamer().postEvent(
        {.kind = CameraEvent::Kind::failed, .message = setAside, .subject = "take:Take 3 – Cam Told.mov"});
    const auto shown = [&] {
        std::vector<std::string> texts;
        for (const auto& notice : site.controller->notices()) texts.push_back(notice.text);
        return texts;
    };
    ASSERT_TRUE(site.pair());
    EXPECT_TRUE(eventually([&] { return shown() == std::vector{journal, setAside}; }));

    site.controller->stop();
    site.controller = MonitorController::create(
        4, false, [] { return 0.0; }, site.remote.env);
    site.controller->start();
    // Told in that order, the one heard would come first.
    EXPECT_TRUE(eventually([&] { return !shown().empty(); }));
    EXPECT_EQ(shown(), std::vector{setAside});

    // Read, it stays read when the remote starts again, though the camera tells it again; what comes after shows.
    site.controller->dismissNotice(site.controller->notices().front().id);
    site.controller->stop();
    site.controller = MonitorController::create(
        4, false, [] { return 0.0; }, site.remote.env);
    site.controller->start();
    const std::string late = "This camera can't record the chosen format in real time";
    camera->streamer().postEvent({.kind = CameraEvent::Kind::failed, .message = late, .subject = "realTime"});
    EXPECT_TRUE(eventually([&] { return shown() == std::vector{late}; })) << shown().size();

    camera->streamer().postEvent({.subject = "realTime", .over = true});
    EXPECT_TRUE(eventually([&] { return shown().empty(); }));
    camera->stop();
}

}  // namespace
}  // namespace morvane
