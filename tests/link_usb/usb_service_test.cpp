// The hub against the multiplexing service itself: Debian's real daemon, an absent one and one that answers
// nonsense. Kept apart from the transfer tests because the client library remembers a failed request for the rest
// of the process (it then asks with Listen instead of ListDevices).

#include "fake_usbmux_service.h"
#include "link/usb_hub.h"
#include "link/usb_server.h"
#include "test_files.h"
#include "usb_test_support.h"

#include <gtest/gtest.h>
#include <usbmuxd.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

// The client library keeps a plist that is not a dictionary when it gets one in answer to a listen request
// (libusbmuxd 2.0.2); that leak is the library's, on an answer no real service gives.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libplist-2.0.so\n";
}

using namespace morvane;
using namespace morvane::test;
using namespace std::chrono_literals;

namespace {

constexpr const char* daemonPath = "/usr/sbin/usbmuxd";

// Debian's daemon, in foreground, with /run of its own (it has no option for its socket path): a private mount
// namespace in which a temporary folder is bound over /run.
class RealDaemon {
public:
    explicit RealDaemon(const std::filesystem::path& folder) : run_(folder / "run"), log_(folder / "usbmuxd.log") {
        std::filesystem::create_directories(run_);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const std::string script = "mount --bind \"$0\" /run && exec " + std::string(daemonPath) + " -f -n";
        const std::string runText = run_.string();
        char* argv[] = {const_cast<char*>("unshare"),
                        const_cast<char*>("-m"),
                        const_cast<char*>("sh"),
                        const_cast<char*>("-c"),
                        const_cast<char*>(script.c_str()),
                        const_cast<char*>(runText.c_str()),
                        nullptr};
        if (posix_spawnp(&pid_, "unshare", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~RealDaemon() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }

    /// Waits for the daemon's socket; the reason when it does not come.
    std::optional<std::string> waitUntilReady() {
        if (pid_ <= 0) return "unshare could not be started";
        const bool ready = waitFor(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                    pid_ = -1;
                    return true;
                }
                return std::filesystem::exists(socket());
            },
            5s);
        if (pid_ <= 0) return "usbmuxd stopped at once: " + test::readFile(log_);
        if (!ready) return "usbmuxd made no socket: " + test::readFile(log_);
        return std::nullopt;
    }
    std::filesystem::path socket() const { return run_ / "usbmuxd"; }

private:
    std::filesystem::path run_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
};

}  // namespace

TEST(USBServiceReal, DebiansDaemonAnswersTheHubWithAnEmptyList) {
    if (!std::filesystem::exists(daemonPath)) GTEST_SKIP() << "usbmuxd is not installed";
    if (::geteuid() != 0) GTEST_SKIP() << "giving usbmuxd a private /run needs root";
    TempDir dir;
    RealDaemon daemon(dir.path());
    if (auto failure = daemon.waitUntilReady()) GTEST_SKIP() << "usbmuxd cannot run here: " << *failure;
    ScopedEnv env("USBMUXD_SOCKET_ADDRESS", "UNIX:" + daemon.socket().string());

    usbmuxd_device_info_t* list = nullptr;
    EXPECT_EQ(usbmuxd_get_device_list(&list), 0);
    usbmuxd_device_list_free(&list);

    auto remote = makeDevice(dir / "remote", "Desk");
    USBHub hub(USBHub::Options{remote, dir / "hub", USBLink::port, 0.25});
    hub.start();
    std::this_thread::sleep_for(1200ms);
    const auto counters = hub.counters();
    hub.stop();
    EXPECT_GE(counters.polls, 3u);
    EXPECT_LE(counters.polls, 7u);
    EXPECT_EQ(counters.failedPolls, 0u);
    EXPECT_EQ(hub.linkCount(), 0u);
}

class USBServiceTrouble : public ::testing::Test {
protected:
    void SetUp() override { pair(camera, remote); }

    void startHub() {
        hub = std::make_unique<USBHub>(USBHub::Options{remote, dir / "hub", USBLink::port, 0.25});
        hub->onFile = [this](const std::filesystem::path&, const TransferInfo&, const std::string&) { ++arrivals; };
        hub->start();
    }

    // Sends one file from a camera behind the service and waits for it.
    void expectAFileGetsThrough(FakeUsbmuxService& service, std::uint32_t deviceId) {
        USBServer server(USBServer::Options{camera, "127.0.0.1", 0});
        ASSERT_TRUE(server.start());
        makeFile(dir / "photo.heic", 5000);
        server.send(dir / "photo.heic", sampleInfo("photo.heic"));
        const int before = arrivals;
        service.attach(deviceId, "cam", server.port());
        EXPECT_TRUE(waitFor([&] { return arrivals == before + 1; }, 10s));
        service.detach(deviceId);
    }

    TempDir dir;
    std::shared_ptr<Keychain> camera = makeDevice(dir / "camera", "Cam A");
    std::shared_ptr<Keychain> remote = makeDevice(dir / "remote", "Desk");
    std::unique_ptr<USBHub> hub;
    std::atomic<int> arrivals{0};
};

TEST_F(USBServiceTrouble, AnAbsentServiceIsAskedAgainAtThePollPace) {
    const auto socket = dir / "usbmuxd.sock";
    ScopedEnv env("USBMUXD_SOCKET_ADDRESS", "UNIX:" + socket.string());
    startHub();
    std::this_thread::sleep_for(1200ms);
    auto counters = hub->counters();
    EXPECT_GE(counters.polls, 3u);
    EXPECT_LE(counters.polls, 7u);  // every 0.25 s, not as fast as it can
    EXPECT_EQ(counters.failedPolls, counters.polls);

    // The service comes up later: the hub finds the camera at its next poll.
    FakeUsbmuxService service(socket, USBLink::port);
    ASSERT_TRUE(service.start());
    expectAFileGetsThrough(service, 5);
    hub->stop();
    service.stop();
}

TEST_F(USBServiceTrouble, NonsenseAnswersAreRetriedQuietly) {
    FakeUsbmuxService service(dir / "usbmuxd.sock", USBLink::port);
    ASSERT_TRUE(service.start());
    ScopedEnv env("USBMUXD_SOCKET_ADDRESS", service.address());
    startHub();
    for (auto mode : {FakeUsbmuxService::Mode::garbage, FakeUsbmuxService::Mode::notADict,
                      FakeUsbmuxService::Mode::errorResult, FakeUsbmuxService::Mode::hangUp}) {
        service.setMode(mode);
        std::this_thread::sleep_for(300ms);  // let a poll under the old mode finish
        const auto before = hub->counters();
        const int requestsBefore = service.totalRequests();
        std::this_thread::sleep_for(1000ms);
        const auto after = hub->counters();
        const auto polls = after.polls - before.polls;
        EXPECT_GE(polls, 2u) << static_cast<int>(mode);
        EXPECT_LE(polls, 6u) << static_cast<int>(mode);
        EXPECT_EQ(after.failedPolls - before.failedPolls, polls) << static_cast<int>(mode);
        // The client library may ask twice per poll (a device list, then a listen), never more.
        EXPECT_LE(service.totalRequests() - requestsBefore, static_cast<int>(2 * polls + 2)) << static_cast<int>(mode);
        EXPECT_EQ(hub->linkCount(), 0u);
    }
    service.setMode(FakeUsbmuxService::Mode::normal);
    expectAFileGetsThrough(service, 6);
    hub->stop();
    service.stop();
}
