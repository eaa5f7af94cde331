#include "fake_usbmux_service.h"
#include "link/usb_hub.h"
#include "link/usb_server.h"
#include "usb_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace morvane;
using namespace morvane::test;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t largeFileSize = 200ull << 20;

bool onHubQueue() {
    auto* queue = DispatchQueue::current();
    return queue && queue->label() == USBHub::queueLabel;
}

struct Arrival {
    TransferInfo info;
    std::string camera;
    crypto::Digest digest{};
    std::uint64_t size = 0;
    bool onHubQueue = false;
};

}  // namespace

class USBTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        pair(camera, remote);
        ASSERT_TRUE(service.start());
        env = std::make_unique<ScopedEnv>("USBMUXD_SOCKET_ADDRESS", service.address());
        std::filesystem::create_directories(imported);
    }

    void TearDown() override {
        if (hub) hub->stop();
        for (auto& server : servers) server->stop();
        hub.reset();
        servers.clear();
        service.stop();
        env.reset();
        EXPECT_EQ(countFiles(hubFolder), 0u) << "the hub left files behind";
    }

    void startHub() {
        hub = std::make_unique<USBHub>(USBHub::Options{remote, hubFolder, USBLink::port, 0.25});
        hub->onFile = [this](const std::filesystem::path& file, const TransferInfo& info, const std::string& name) {
            Arrival arrival{info, name, fileDigest(file), std::filesystem::file_size(file), onHubQueue()};
            // Like the shoot library: the file is moved away before the callback returns.
            std::filesystem::rename(file, imported / info.id.uuidString());
            std::lock_guard lock(mutex);
            arrivals.push_back(arrival);
            events.push_back("taken " + info.fileName);
        };
        hub->start();
    }

    USBServer& startServer(const std::shared_ptr<Keychain>& keychain) {
        servers.push_back(std::make_unique<USBServer>(USBServer::Options{keychain, "127.0.0.1", 0, 0.2}));
        auto& server = *servers.back();
        server.onAcknowledged = [this](const TransferInfo& info, bool ok) {
            std::lock_guard lock(mutex);
            events.push_back((ok ? "received " : "not received ") + info.fileName);
            if (ok) {
                // The outbox forgets the file.
                std::error_code ec;
                std::filesystem::remove(outbox / info.fileName, ec);
            }
        };
        server.onProgress = [this](const TransferInfo&, double fraction) {
            std::lock_guard lock(mutex);
            if (fraction < lastProgress) progressWentBack = true;
            lastProgress = fraction;
        };
        EXPECT_TRUE(server.start());
        return server;
    }

    std::filesystem::path queueFile(USBServer& server, const TransferInfo& info, std::uint64_t size,
                                    crypto::Digest* digest = nullptr) {
        std::filesystem::create_directories(outbox);
        const auto path = outbox / info.fileName;
        const auto sum = makeFile(path, size, static_cast<std::uint32_t>(size));
        if (digest) *digest = sum;
        server.send(path, info);
        return path;
    }

    std::size_t arrivalCount() {
        std::lock_guard lock(mutex);
        return arrivals.size();
    }
    std::vector<std::string> eventList() {
        std::lock_guard lock(mutex);
        return events;
    }

    TempDir dir;
    std::shared_ptr<Keychain> camera = makeDevice(dir / "camera", "Cam A");
    std::shared_ptr<Keychain> remote = makeDevice(dir / "remote", "Desk");
    FakeUsbmuxService service{dir / "usbmuxd.sock", USBLink::port};
    std::unique_ptr<ScopedEnv> env;
    std::filesystem::path hubFolder = dir / "hub";
    std::filesystem::path imported = dir / "imported";
    std::filesystem::path outbox = dir / "outbox";
    std::unique_ptr<USBHub> hub;
    std::vector<std::unique_ptr<USBServer>> servers;

    std::mutex mutex;
    std::vector<Arrival> arrivals;
    std::vector<std::string> events;
    double lastProgress = 0;
    bool progressWentBack = false;
};

TEST_F(USBTransfer, ALargeFileArrivesWholeAndTheCameraForgetsIt) {
    auto& server = startServer(camera);
    const auto info = sampleInfo("take 1.mov");
    crypto::Digest digest{};
    const auto path = queueFile(server, info, largeFileSize, &digest);
    service.attach(11, "00008110-001A2C3E0A12801E", server.port());
    startHub();

    ASSERT_TRUE(waitFor([&] { return arrivalCount() == 1; }, 90s));
    ASSERT_TRUE(waitFor([&] { return server.pendingCount() == 0; }, 10s));
    {
        std::lock_guard lock(mutex);
        const auto& arrival = arrivals[0];
        EXPECT_EQ(arrival.info, info);
        EXPECT_EQ(arrival.camera, "Cam A");
        EXPECT_EQ(arrival.size, largeFileSize);
        EXPECT_EQ(arrival.digest, digest);
        EXPECT_TRUE(arrival.onHubQueue);
        EXPECT_EQ(lastProgress, 1.0);
        EXPECT_FALSE(progressWentBack);
        // The acknowledgement follows the callback's return, and only then does the camera let go.
        EXPECT_EQ(events, (std::vector<std::string>{"taken take 1.mov", "received take 1.mov"}));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(fileDigest(imported / info.id.uuidString()), digest);
    EXPECT_TRUE(server.isConnected());
    EXPECT_EQ(hub->linkCount(), 1u);
    EXPECT_EQ(service.badPortRequests(), 0);
    EXPECT_EQ(countFiles(hubFolder), 0u);

    // Files handed over later on the same link follow one by one, in order.
    const auto second = sampleInfo("photo 2.heic");
    const auto third = sampleInfo("photo 3.heic");
    queueFile(server, second, 1);
    queueFile(server, third, 0);
    ASSERT_TRUE(waitFor([&] { return arrivalCount() == 3; }, 10s));
    std::lock_guard lock(mutex);
    EXPECT_EQ(arrivals[1].info, second);
    EXPECT_EQ(arrivals[2].info, third);
}

TEST_F(USBTransfer, ACorruptFileIsRefusedOverTheCable) {
    Listener listener;
    service.attach(12, "fake-camera", listener.port());
    startHub();
    const int fd = listener.accept(5000);
    ASSERT_GE(fd, 0);
    RawCamera cam(fd, camera);
    ASSERT_EQ(cam.greet(), USBLink::Handshake::Outcome::ok);

    const Bytes content(700000, 0x33);
    Bytes damaged = content;
    damaged[123456] ^= 1;
    const auto info = sampleInfo("damaged.mov");
    ASSERT_TRUE(cam.sendFile(info, damaged, crypto::sha256(content)));
    EXPECT_EQ(cam.waitAck(), (USBLink::Ack{info.id, false}));
    EXPECT_EQ(arrivalCount(), 0u);
    EXPECT_EQ(countFiles(hubFolder), 0u);

    // Sent again intact, it goes through.
    ASSERT_TRUE(cam.sendFile(info, content, crypto::sha256(content)));
    EXPECT_EQ(cam.waitAck(), (USBLink::Ack{info.id, true}));
    EXPECT_EQ(arrivalCount(), 1u);
}

TEST_F(USBTransfer, AnUntrustedDeviceGetsNoTransfer) {
    // A camera the remote never paired with.
    auto stranger = makeDevice(dir / "stranger", "Stranger");
    TrustedPeers(stranger).add(TrustedPeer{DeviceIdentity(remote).publicKey(), "Desk", TrustedPeer::remoteRole, {}});
    auto& strangerServer = startServer(stranger);
    queueFile(strangerServer, sampleInfo("from stranger.mov"), 1000);
    // A camera that forgot the remote (paired one way only).
    auto forgetful = makeDevice(dir / "forgetful", "Forgetful");
    TrustedPeers(remote).add(
        TrustedPeer{DeviceIdentity(forgetful).publicKey(), "Forgetful", TrustedPeer::cameraRole, {}});
    auto& forgetfulServer = startServer(forgetful);
    queueFile(forgetfulServer, sampleInfo("from forgetful.mov"), 1000);

    service.attach(21, "stranger", strangerServer.port());
    service.attach(22, "forgetful", forgetfulServer.port());
    startHub();
    // Several polls, each trying again.
    ASSERT_TRUE(waitFor([&] { return service.requests("Connect") >= 6; }, 10s));
    EXPECT_EQ(arrivalCount(), 0u);
    EXPECT_FALSE(strangerServer.isConnected());
    EXPECT_FALSE(forgetfulServer.isConnected());
    EXPECT_EQ(strangerServer.pendingCount(), 1u);
    EXPECT_EQ(forgetfulServer.pendingCount(), 1u);
    EXPECT_EQ(hub->linkCount(), 0u);

    // Once paired, the same camera is served at the next poll.
    pair(stranger, remote);
    ASSERT_TRUE(waitFor([&] { return arrivalCount() == 1; }, 10s));
    std::lock_guard lock(mutex);
    EXPECT_EQ(arrivals[0].camera, "Stranger");
}

TEST_F(USBTransfer, UnpluggedMidFileAndPluggedBackItArrivesOnce) {
    auto& server = startServer(camera);
    const auto info = sampleInfo("long take.mov");
    crypto::Digest digest{};
    queueFile(server, info, 24ull << 20, &digest);
    service.attach(31, "cam", server.port());
    service.throttle(31, 8ull << 20);
    startHub();

    // Some of the file is in the hub's folder: pull the cable.
    ASSERT_TRUE(waitFor(
        [&] {
            std::error_code ec;
            for (std::filesystem::recursive_directory_iterator it(hubFolder, ec), end; !ec && it != end;
                 it.increment(ec)) {
                if (it->is_regular_file(ec) && it->file_size(ec) > (2u << 20)) return true;
            }
            return false;
        },
        20s));
    service.detach(31);
    ASSERT_TRUE(waitFor([&] { return countFiles(hubFolder) == 0 && hub->linkCount() == 0; }, 5s));
    ASSERT_TRUE(waitFor([&] { return !server.isConnected(); }, 5s));
    EXPECT_EQ(arrivalCount(), 0u);
    EXPECT_EQ(server.pendingCount(), 1u);

    // Plugged back in (the service gives it a new number): the whole file arrives, once.
    service.attach(32, "cam", server.port());
    ASSERT_TRUE(waitFor([&] { return arrivalCount() == 1; }, 30s));
    ASSERT_TRUE(waitFor([&] { return server.pendingCount() == 0; }, 5s));
    std::lock_guard lock(mutex);
    EXPECT_EQ(arrivals[0].digest, digest);
    EXPECT_EQ(arrivals[0].info, info);
}

TEST_F(USBTransfer, StopClosesEveryLink) {
    auto second = makeDevice(dir / "second", "Cam B");
    pair(second, remote);
    auto& first = startServer(camera);
    auto& other = startServer(second);
    queueFile(other, sampleInfo("slow.mov"), 16ull << 20);
    service.attach(41, "a", first.port());
    service.attach(42, "b", other.port());
    service.throttle(42, 4ull << 20);
    startHub();
    ASSERT_TRUE(waitFor([&] { return first.isConnected() && other.isConnected() && hub->linkCount() == 2; }, 10s));
    ASSERT_TRUE(waitFor([&] { return countFiles(hubFolder) == 1; }, 10s));  // a file under way

    hub->stop();
    EXPECT_FALSE(hub->isRunning());
    EXPECT_EQ(hub->linkCount(), 0u);
    EXPECT_TRUE(waitFor([&] { return service.openStreams(41) == 0 && service.openStreams(42) == 0; }, 5s));
    EXPECT_TRUE(waitFor([&] { return !first.isConnected() && !other.isConnected(); }, 5s));
    EXPECT_TRUE(waitFor([&] { return countFiles(hubFolder) == 0; }, 5s));
    EXPECT_EQ(arrivalCount(), 0u);
    EXPECT_EQ(other.pendingCount(), 1u);

    // Polling has stopped too: no new link comes up.
    const int connects = service.requests("Connect");
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(service.requests("Connect"), connects);
    EXPECT_FALSE(first.isConnected());
}
