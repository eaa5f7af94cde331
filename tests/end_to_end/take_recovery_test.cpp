// The camera program and the remote controller over the real peer link on 127.0.0.1: a take cut by a kill reaches
// the remote when the camera starts again, and a take whose disk fills on the way still reaches the remote.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "camera_process.h"
#include "drive_machine.h"
#include "loopback_remote.h"
#include "platform/ffmpeg_handles.h"
#include "platform/file_contents.h"
#include "qt_wait.h"
#include "remote/monitor_controller.h"
#include "shoot_library/shoot_library.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

// Generous: the camera program runs under the sanitizers on a machine that may be busy with other work.
bool eventually(const std::function<bool()>& condition, int milliseconds = 120000) {
    return test::eventually(condition, milliseconds);
}

// What a kill may take of a take's end: the second not yet journalled and, on a busy machine, the pictures still
// waiting to be compressed (the recorder queues up to 48: 1.6 s at 30 fps). A take filmed for s seconds keeps at least
// s less this much; one that kept only its first journalled second falls short of it.
constexpr double kLostToAKill = 3;

void pause(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    eventually([&] { return timer.elapsed() > milliseconds; }, milliseconds + 1000);
}

std::size_t filesIn(const fs::path& folder) {
    std::size_t count = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++count;
    return count;
}

std::map<fs::path, std::string> contentsOf(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        files[it->path().filename()] = readFileContents(it->path(), 1 << 28).value_or("");
    return files;
}

// Kills `pid` the moment a file named `name` appears in `folder` (written whole and renamed there, or linked there):
// as a kill aimed at one step of the camera's saving lands. Answers whether it appeared before `seconds` passed.
class KillWhenNamed {
public:
    KillWhenNamed(const fs::path& folder, const std::string& name, qint64 pid, double seconds = 120) {
        fd_ = ::inotify_init1(IN_CLOEXEC);
        if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CREATE) < 0) return;
        watcher_ = std::thread([this, name, pid, seconds] {
            alignas(inotify_event) char buffer[4096];
            const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
            while (std::chrono::steady_clock::now() < end) {
                pollfd ready{fd_, POLLIN, 0};
                if (::poll(&ready, 1, 100) <= 0) continue;
                const ssize_t n = ::read(fd_, buffer, sizeof buffer);
                for (ssize_t at = 0; at < n;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    if (event->len && name == event->name) {
                        ::kill(static_cast<pid_t>(pid), SIGKILL);
                        killed_ = true;
                        return;
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                }
            }
        });
    }
    ~KillWhenNamed() {
        if (watcher_.joinable()) watcher_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool killed() {
        if (watcher_.joinable()) watcher_.join();
        return killed_;
    }

private:
    int fd_ = -1;
    std::thread watcher_;
    std::atomic<bool> killed_{false};
};

// A remote paired with a camera program on its own folder, which can be killed and started again.
struct Crew {
    QTemporaryDir dir;
    fs::path root{dir.path().toStdString()};
    test::Discovery discovery = test::privateDiscovery();
    test::LoopbackRemote remote{root, discovery.group, discovery.port};
    std::shared_ptr<MonitorController> controller = MonitorController::create(
        4, false, [] { return 0.0; }, remote.env);
    std::unique_ptr<test::CameraProcess> camera;
    std::string name = "Cam Kept";
    std::optional<PeerId> id;
    std::set<PeerId> joined;  // every identity the crew's cameras had

    Crew() { controller->start(); }
    ~Crew() {
        camera.reset();
        controller->stop();
        // What the link handed to the remote's queue runs while the remote's stores (on this stack) are still there.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    bool start(const fs::path& folder, const QString& size = "320x180", const fs::path& machine = {}) {
        camera = std::make_unique<test::CameraProcess>();
        auto environment = QProcessEnvironment::systemEnvironment();
        if (!machine.empty()) environment.insert("MORVANE_TEST_DRIVE_ROOT", QString::fromStdString(machine.string()));
        environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
        environment.insert("MORVANE_NEARBY_GROUP", QString::fromStdString(discovery.group));
        environment.insert("MORVANE_NEARBY_PORT", QString::number(discovery.port));
        camera->start(CAMERA_PROGRAM,
                      {"--name", QString::fromStdString(name), "--folder", QString::fromStdString(folder.string()),
                       "--size", size},
                      environment);
        return eventually([&] { return camera->lineStartingWith("ready").has_value(); });
    }
    // The remote connects to the camera, pairing with it the first time. A camera started again comes back under a
    // new identity, while any it had before may still be listed a while, also when another camera came in between.
    bool join() {
        id.reset();
        if (!eventually([&] {
                for (const auto& entry : controller->nearbyCameras())
                    if (entry.name == name && !joined.contains(entry.id)) id = entry.id;
                return id.has_value();
            }))
            return false;
        joined.insert(*id);
        controller->peers()->connect(*id);
        return eventually([&] {
            // The camera takes a code only while it shows the request, which it raises a step of the handshake after
            // the remote: the code is typed once the camera asks for it.
            const auto asked = camera->lineStartingWith("pairing ");
            if (auto request = controller->pairingRequest();
                request && asked && asked->ends_with(" " + request->code)) {
                controller->acceptPairing();
                camera->type(request->code);
            }
            return controller->feed(*id) && controller->feed(*id)->status();
        });
    }
    bool recording(bool on = true) {
        return eventually([&] {
            auto feed = controller->feed(*id);
            return feed && feed->status() && feed->status()->isRecording == on;
        });
    }
    // A video take started on the drive: true once it records and its `movie` is there.
    bool recordOnTheDrive(const fs::path& movie) {
        controller->send(CameraCommand::SetMode{CaptureMode::video});
        controller->send(CameraCommand::SetRecordToDrive{true});
        controller->send(CameraCommand::StartRecording{});
        return recording() && eventually([&] { return fs::exists(movie); });
    }
    void kill() {
        ::kill(static_cast<pid_t>(camera->process.processId()), SIGKILL);
        camera->process.waitForFinished(10000);
    }
    std::vector<ShootLibrary::Clip> clips() {
        remote.shoot.waitUntilIdle();
        auto text = readFileContents(remote.shoot.folderURL(Date::now()) / ".quorbelin-shoot.json", 1 << 24);
        auto day = text ? ShootLibrary::decodeManifest(*text) : std::nullopt;
        return day ? day->clips : std::vector<ShootLibrary::Clip>{};
    }
    std::vector<ShootLibrary::Clip> clipsWhenThere(std::size_t count) {
        std::vector<ShootLibrary::Clip> found;
        eventually([&] { return (found = clips()).size() >= count; }, 180000);
        return found;
    }
    // The length of the filed movie as it plays.
    std::optional<double> playable(const ShootLibrary::Clip& clip) {
        auto movie = ff::openLocalMovie((remote.shoot.folderURL(Date::now()) / clip.file).string());
        if (!movie || movie->duration <= 0) return std::nullopt;
        return static_cast<double>(movie->duration) / AV_TIME_BASE;
    }
};

TEST(TakeRecovery, ATakeCutByAKillReachesTheRemoteWhenTheCameraStartsAgain) {
    Crew crew;
    ASSERT_TRUE(crew.dir.isValid());
    const fs::path folder = crew.root / "camera";
    ASSERT_TRUE(crew.start(folder));
    ASSERT_TRUE(crew.join());

    // Killed six seconds into a take, then started again: the take is finished and filed, and nothing stays behind.
    crew.controller->send(CameraCommand::SetMode{CaptureMode::video});
    crew.controller->send(CameraCommand::StartRecording{});
    ASSERT_TRUE(crew.recording());
    pause(6000);
    crew.kill();
    ASSERT_TRUE(crew.start(folder));
    ASSERT_TRUE(crew.join());
    std::vector<ShootLibrary::Clip> clips;
    ASSERT_TRUE(eventually([&] { return !(clips = crew.clips()).empty(); }, 180000)) << "the take cut by the kill";
    EXPECT_GE(clips.front().duration, 6 - kLostToAKill);
    const auto plays = crew.playable(clips.front());
    ASSERT_TRUE(plays);
    EXPECT_GE(*plays, 6 - kLostToAKill);
    EXPECT_TRUE(eventually([&] { return filesIn(folder / "Recording") == 0; }));

    // Killed before its first second was journalled: its kept room goes at the next start, and the movie, which cannot
    // be finished, is set aside with its journal rather than removed (unless it held no sample yet).
    crew.controller->send(CameraCommand::StartRecording{});
    ASSERT_TRUE(crew.recording());
    pause(300);
    crew.kill();
    ASSERT_TRUE(crew.start(folder));
    const auto onlySetAside = [&] {
        std::error_code ec;
        for (fs::directory_iterator it(folder / "Recording", ec), end; !ec && it != end; it.increment(ec))
            if (const auto name = it->path().filename().string();
                !name.ends_with(".unfinished") && !name.ends_with(".unfinished.journal"))
                return false;
        return true;
    };
    EXPECT_TRUE(eventually(onlySetAside)) << "nothing left behind but the movie set aside";
    EXPECT_LE(filesIn(folder / "Recording"), 2u);
}

// "Record to …" on: the movie, its journal and its kept room are on the drive, which the start looks at too. The take
// is finished there, stays there as the drive's own, and its copy reaches the remote.
TEST(TakeRecovery, ATakeCutByAKillOnTheDriveIsFinishedThereAndReachesTheRemote) {
    Crew crew;
    ASSERT_TRUE(crew.dir.isValid());
    const fs::path folder = crew.root / "camera";
    const fs::path machine = crew.root / "machine";
    const fs::path stick = test::machineWithStick(machine);
    ASSERT_TRUE(crew.start(folder, "320x180", machine));
    ASSERT_TRUE(crew.join());

    ASSERT_TRUE(crew.recordOnTheDrive(stick / "Brindlecroft" / "Take 0001.mov"));
    pause(5000);
    crew.kill();
    ASSERT_TRUE(crew.start(folder, "320x180", machine));
    ASSERT_TRUE(crew.join());
    std::vector<ShootLibrary::Clip> clips;
    ASSERT_TRUE(eventually([&] { return !(clips = crew.clips()).empty(); }, 180000)) << "the take cut by the kill";
    EXPECT_GE(clips.front().duration, 5 - kLostToAKill);
    const auto plays = crew.playable(clips.front());
    ASSERT_TRUE(plays);
    EXPECT_GE(*plays, 5 - kLostToAKill);
    EXPECT_EQ(filesIn(stick / "Brindlecroft"), 1u) << "the finished take, without its journal or its kept room";
    auto kept = ff::openLocalMovie((stick / "Brindlecroft" / "Take 0001.mov").string());
    ASSERT_TRUE(kept);
    EXPECT_GE(static_cast<double>(kept->duration) / AV_TIME_BASE, 5 - kLostToAKill);
}

// A drive that Cam B was recording on when it was killed, then seen by Cam A (a crew that moves a dead camera's drive,
// or two camera programs on one computer): Cam A leaves B's take as it is, and B finishes it at its own next start.
// Each take reaches the remote once, under its own camera's name.
TEST(TakeRecovery, ADriveTakeCutOffIsFinishedByItsOwnCameraAlone) {
    Crew crew;
    ASSERT_TRUE(crew.dir.isValid());
    const fs::path machine = crew.root / "machine";
    const fs::path stick = test::machineWithStick(machine), takes = stick / "Brindlecroft";
    // Filmed for `seconds` from the take's first picture, which makes its `movie`.
    const auto record = [&](double seconds, const std::string& movie) {
        ASSERT_TRUE(crew.recordOnTheDrive(takes / movie));
        pause(static_cast<int>(seconds * 1000));
    };
    crew.name = "Cam B";
    ASSERT_TRUE(crew.start(crew.root / "b", "320x180", machine));
    ASSERT_TRUE(crew.join());
    record(5, "Take 0001.mov");
    if (HasFatalFailure()) return;
    crew.kill();
    const auto leftByB = contentsOf(takes);
    ASSERT_EQ(leftByB.size(), 3u) << "movie, journal and kept room";

    // Cam A starts with the drive, records a take of its own there and stops it: its start is long over by the time
    // its take arrives.
    crew.name = "Cam A";
    ASSERT_TRUE(crew.start(crew.root / "a", "320x180", machine));
    ASSERT_TRUE(crew.join());
    record(2, "Take 0002.mov");
    if (HasFatalFailure()) return;
    crew.controller->send(CameraCommand::StopRecording{});
    auto clips = crew.clipsWhenThere(1);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0].camera, "Cam A");
    auto now = contentsOf(takes);
    now.erase("Take 0002.mov");
    EXPECT_EQ(now, leftByB) << "Cam B's take as B left it";

    crew.name = "Cam B";
    ASSERT_TRUE(crew.start(crew.root / "b", "320x180", machine));
    ASSERT_TRUE(crew.join());
    clips = crew.clipsWhenThere(2);
    ASSERT_EQ(clips.size(), 2u);
    const auto ofB = std::find_if(clips.begin(), clips.end(), [](const auto& c) { return c.camera == "Cam B"; });
    ASSERT_NE(ofB, clips.end()) << "B's take under B's name";
    EXPECT_GE(ofB->duration, 5 - kLostToAKill);
    EXPECT_TRUE(crew.playable(*ofB));
    EXPECT_TRUE(eventually([&] { return contentsOf(takes).size() == 2; })) << "both takes, nothing else, on the drive";
}

// Captures kept in the vault: a take killed right after its take-log entry was written, before the outbox listed it
// (while its gallery pictures are made), reaches the remote once when the camera starts again.
TEST(TakeRecovery, AVaultTakeKilledBeforeItWasQueuedReachesTheRemoteOnce) {
    Crew crew;
    ASSERT_TRUE(crew.dir.isValid());
    const fs::path folder = crew.root / "camera";
    fs::create_directories(folder);
    std::ofstream(folder / "defaults.json") << R"({"useVault": true})";
    ASSERT_TRUE(crew.start(folder));
    ASSERT_TRUE(crew.join());
    crew.controller->send(CameraCommand::SetMode{CaptureMode::video});
    crew.controller->send(CameraCommand::StartRecording{});
    ASSERT_TRUE(crew.recording());
    pause(2000);
    {
        KillWhenNamed kill(folder, "takes.json", crew.camera->process.processId());
        crew.controller->send(CameraCommand::StopRecording{});
        ASSERT_TRUE(kill.killed()) << "the take log was written";
    }
    crew.camera->process.waitForFinished(10000);
    const std::string queued = readFileContents(folder / "Outbox" / "outbox.json", 1 << 20).value_or("");
    ASSERT_EQ(queued.find(".mov"), std::string::npos) << "killed before the outbox listed the take: " << queued;

    ASSERT_TRUE(crew.start(folder));
    ASSERT_TRUE(crew.join());
    ASSERT_EQ(crew.clipsWhenThere(1).size(), 1u) << "the take killed on its way";
    // A take recorded after the start arrives after anything the start queued: nothing came twice before it.
    crew.controller->send(CameraCommand::StartRecording{});
    ASSERT_TRUE(crew.recording());
    pause(1000);
    crew.controller->send(CameraCommand::StopRecording{});
    ASSERT_EQ(crew.clipsWhenThere(2).size(), 2u);
    pause(1000);
    EXPECT_EQ(crew.clips().size(), 2u);
}

// A drive take killed as its copy landed in the outbox, the drive then back at another mount point (another label,
// another user's /media): the take is known by its name on the drive and reaches the remote once.
TEST(TakeRecovery, ADriveTakeBackAtAnotherMountPointReachesTheRemoteOnce) {
    Crew crew;
    ASSERT_TRUE(crew.dir.isValid());
    const fs::path folder = crew.root / "camera";
    const fs::path machine = crew.root / "machine";
    const fs::path stick = test::machineWithStick(machine);
    ASSERT_TRUE(crew.start(folder, "320x180", machine));
    ASSERT_TRUE(crew.join());
    ASSERT_TRUE(crew.recordOnTheDrive(stick / "Brindlecroft" / "Take 0001.mov"));
    pause(2000);
    {
        KillWhenNamed kill(folder / "Outbox", "outbox.json", crew.camera->process.processId());
        crew.controller->send(CameraCommand::StopRecording{});
        ASSERT_TRUE(kill.killed()) << "the outbox listed the take";
    }
    crew.camera->process.waitForFinished(10000);
    ASSERT_TRUE(fs::exists(stick / "Brindlecroft" / ".Take 0001.mov.journal"))
        << "killed before the journal went: the start looks at the take again";

    const fs::path elsewhere = machine / "media/ann/STICK1";
    fs::create_directories(elsewhere.parent_path());
    fs::rename(stick, elsewhere);
    std::ofstream(machine / "proc/self/mounts")
        << "/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/ann/STICK1 exfat rw 0 0\n";
    ASSERT_TRUE(crew.start(folder, "320x180", machine));
    ASSERT_TRUE(crew.join());
    ASSERT_EQ(crew.clipsWhenThere(1).size(), 1u);
    crew.controller->send(CameraCommand::SetRecordToDrive{false});
    crew.controller->send(CameraCommand::StartRecording{});
    ASSERT_TRUE(crew.recording());
    pause(1000);
    crew.controller->send(CameraCommand::StopRecording{});
    ASSERT_EQ(crew.clipsWhenThere(2).size(), 2u);
    pause(1000);
    EXPECT_EQ(crew.clips().size(), 2u) << "the drive take once, and the take after it";
    EXPECT_EQ(filesIn(elsewhere / "Brindlecroft"), 1u) << "the take, without its journal or its kept room";
}

// The camera's folder on a small disk that fills during the take: the take ends, and what was written reaches the
// remote, which is told.
TEST(TakeRecovery, ATakeWhoseDiskFillsEndsAndStillReachesTheRemote) {
    Crew crew;
    ASSERT_TRUE(crew.dir.isValid());
    const fs::path folder = crew.root / "camera";
    fs::create_directories(folder);
    if (::geteuid() != 0 || ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=3m") != 0)
        GTEST_SKIP() << "needs root to mount a small disk";
    struct Unmount {
        fs::path folder;
        ~Unmount() { ::umount2(folder.c_str(), MNT_DETACH); }
    } unmount{folder};
    ASSERT_TRUE(crew.start(folder, "1280x720"));
    ASSERT_TRUE(crew.join());

    crew.controller->send(CameraCommand::SetMode{CaptureMode::video});
    crew.controller->send(CameraCommand::SetCodec{VideoCodec::proRes422HQ});
    crew.controller->send(CameraCommand::StartRecording{});
    ASSERT_TRUE(crew.recording());
    std::vector<std::string> messages;
    const auto heard = [&] {
        if (auto text = crew.controller->message(); text && (messages.empty() || messages.back() != *text))
            messages.push_back(*text);
    };
    std::vector<ShootLibrary::Clip> clips;
    ASSERT_TRUE(eventually(
        [&] {
            heard();
            return !(clips = crew.clips()).empty();
        },
        180000))  // ProRes under the sanitizers on two busy cores: the disk fills late and the take is slow to encode
        << "what was written reaches the remote";
    EXPECT_TRUE(crew.recording(false)) << "the take ended by itself";
    EXPECT_TRUE(crew.playable(clips.front()));
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
        return m.find("Recording stopped") != std::string::npos;
    })) << "the remote is told";
}

}  // namespace
}  // namespace morvane
