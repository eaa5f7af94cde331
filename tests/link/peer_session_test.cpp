#include "link_test_support.h"

#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <stdexcept>

namespace morvane::test {
namespace {

using Role = PeerSession::Role;

Bytes packetWithNumber(std::uint32_t n, std::size_t size) {
    Bytes packet = randomBytes(size, n);
    packet.resize(std::max<std::size_t>(size, 4));
    packet[0] = static_cast<std::uint8_t>(n >> 24);
    packet[1] = static_cast<std::uint8_t>(n >> 16);
    packet[2] = static_cast<std::uint8_t>(n >> 8);
    packet[3] = static_cast<std::uint8_t>(n);
    return packet;
}

std::uint32_t numberOf(const Bytes& packet) {
    return (std::uint32_t{packet[0]} << 24) | (std::uint32_t{packet[1]} << 16) | (std::uint32_t{packet[2]} << 8) |
           packet[3];
}

void writeFile(const std::filesystem::path& path, const Bytes& contents) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
}

std::size_t filesIn(const std::filesystem::path& folder) {
    std::error_code ec;
    std::size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        ++n;
    }
    return n;
}

// How the queue's own thread is scheduled (sync may run a block on the caller's).
Scheduling schedulingOf(DispatchQueue& queue) {
    auto value = std::make_shared<std::promise<Scheduling>>();
    queue.async([value] { value->set_value(scheduling()); });
    return value->get_future().get();
}

struct Completion {
    std::mutex mutex;
    bool done = false;
    std::optional<std::string> error;
    PeerSession::ResourceCompletion handler() {
        return [this](const std::optional<std::string>& e) {
            std::lock_guard lock(mutex);
            done = true;
            error = e;
        };
    }
    bool finished() {
        std::lock_guard lock(mutex);
        return done;
    }
};

class PeerSessionTest : public ::testing::Test {
protected:
    TempDir dir;
    Discovery discovery = Discovery::unique();
};

// The whole first meeting: discovery, the code on both screens, trust on both sides, then packets and files.
TEST_F(PeerSessionTest, PairsWithTheSameCodeThenCarriesPacketsAndFiles) {
    // The camera's stored name carries control characters; nobody else may see them.
    Node camera(Role::camera, discovery, dir / "camera", "Cam\x07 A\n");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    camera.start();
    monitor.start();

    ASSERT_TRUE(eventually([&] { return monitor.recorder.nearbyNamed("Cam A").has_value(); }));
    auto seen = *monitor.recorder.nearbyNamed("Cam A");
    EXPECT_FALSE(seen.isPaired);
    EXPECT_FALSE(seen.isConnected);
    EXPECT_FALSE(seen.isThisDevice);

    // The trust must be stored before the peer is reported connected.
    std::atomic<bool> trustedWhenConnected{false};
    monitor.session->onPeerConnected = [&](const PeerId&) {
        trustedWhenConnected = TrustedPeers(monitor.keychain).find(camera.publicKey()).has_value();
    };

    monitor.session->connect(seen.id);
    ASSERT_TRUE(eventually([&] { return monitor.recorder.currentRequest() && camera.recorder.currentRequest(); }));
    const auto onMonitor = *monitor.recorder.currentRequest();
    const auto onCamera = *camera.recorder.currentRequest();
    EXPECT_EQ(onMonitor.code, onCamera.code);
    EXPECT_EQ(onMonitor.code.size(), 6u);
    EXPECT_TRUE(std::all_of(onMonitor.code.begin(), onMonitor.code.end(), ::isdigit));
    EXPECT_EQ(onMonitor.name, "Cam A");
    EXPECT_EQ(onCamera.name, "Desk");
    EXPECT_EQ(onMonitor.id, seen.id);
    EXPECT_TRUE(eventually([&] {
        auto c = monitor.recorder.nearbyNamed("Cam A");
        return c && c->isConnecting;
    }));
    EXPECT_TRUE(monitor.trustedList().empty());

    monitor.session->acceptPairing(onMonitor.id);
    // One side alone does not make a link.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(monitor.recorder.peers().empty());
    camera.session->acceptPairing(onCamera.id);
    ASSERT_TRUE(waitConnected(monitor, camera));
    EXPECT_TRUE(eventually([&] { return trustedWhenConnected.load(); }));

    const auto monitorTrust = monitor.trustedList();
    ASSERT_EQ(monitorTrust.size(), 1u);
    EXPECT_EQ(monitorTrust[0].publicKey, camera.publicKey());
    EXPECT_EQ(monitorTrust[0].name, "Cam A");
    EXPECT_EQ(monitorTrust[0].role, TrustedPeer::cameraRole);
    EXPECT_LT(std::abs(monitorTrust[0].pairedAt.timeIntervalSinceNow()), 60);
    const auto cameraTrust = camera.trustedList();
    ASSERT_EQ(cameraTrust.size(), 1u);
    EXPECT_EQ(cameraTrust[0].publicKey, monitor.publicKey());
    EXPECT_EQ(cameraTrust[0].role, TrustedPeer::remoteRole);
    EXPECT_EQ(cameraTrust[0].name, "Desk");

    // The camera's request is over; the peer list names the camera cleanly.
    EXPECT_TRUE(eventually([&] { return !camera.recorder.currentRequest(); }));
    ASSERT_EQ(monitor.recorder.peers().size(), 1u);
    EXPECT_EQ(monitor.recorder.peers()[0].name, "Cam A");
    EXPECT_EQ(monitor.recorder.peers()[0].id, seen.id);
    EXPECT_TRUE(eventually([&] {
        auto c = monitor.recorder.nearbyNamed("Cam A");
        return c && c->isConnected && c->isPaired && !c->isConnecting;
    }));
    {
        // Connected, then the peer list, on the camera side too (the monitor's connected slot was replaced above).
        auto events = camera.recorder.events();
        auto connected = std::find_if(events.begin(), events.end(), [](auto& e) { return e.what == "connected"; });
        ASSERT_NE(connected, events.end());
        EXPECT_TRUE(std::any_of(connected, events.end(), [](auto& e) { return e.what == "peers" && e.detail == "1"; }));
    }

    // Packets both ways, in order, of mixed sizes, some sent from several threads' hand-overs in turn.
    const auto cameraSide = camera.readyPeers();
    ASSERT_EQ(cameraSide.size(), 1u);
    constexpr std::uint32_t count = 300;
    for (std::uint32_t i = 0; i < count; ++i) {
        monitor.send(packetWithNumber(i, 4 + (i * 977) % 70000), seen.id);
        camera.send(packetWithNumber(i, 4 + (i * 131) % 3000), cameraSide[0]);
    }
    ASSERT_TRUE(
        eventually([&] { return camera.recorder.data().size() == count && monitor.recorder.data().size() == count; }));
    for (std::uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(camera.recorder.data()[i], packetWithNumber(i, 4 + (i * 977) % 70000));
        EXPECT_EQ(numberOf(monitor.recorder.data()[i]), i);
    }

    // The largest packet passes; one byte more is refused before it leaves, the sender hears so, and the link goes
    // on.
    Bytes largest = randomBytes(16'777'216, 7);
    EXPECT_TRUE(monitor.send(largest, seen.id));
    EXPECT_FALSE(monitor.send(Bytes(16'777'217, 1), seen.id));
    EXPECT_TRUE(monitor.send(packetWithNumber(4242, 10), seen.id));
    ASSERT_TRUE(eventually([&] { return camera.recorder.data().size() == count + 2; }, 30));
    EXPECT_EQ(camera.recorder.data()[count], largest);
    EXPECT_EQ(numberOf(camera.recorder.data()[count + 1]), 4242u);

    // Files both ways: checked, handed over once, deleted once the callback returns.
    const Bytes fromCamera = randomBytes(1'500'000, 11);
    const Bytes fromMonitor = randomBytes(300'000, 12);
    writeFile(dir / "outgoing-camera.bin", fromCamera);
    writeFile(dir / "outgoing-monitor.bin", fromMonitor);
    std::atomic<bool> existedInCallback{false};
    std::atomic<int> takerNiceness{0};
    monitor.recorder.resourceHook = [&](const std::filesystem::path& path, const std::string&, const PeerId&) {
        existedInCallback = std::filesystem::exists(path);
        takerNiceness = scheduling().niceness;
    };
    Completion cameraDone, monitorDone;
    auto cameraProgress = camera.session->sendResource(
        dir / "outgoing-camera.bin", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", cameraSide[0], cameraDone.handler());
    auto monitorProgress =
        monitor.session->sendResource(dir / "outgoing-monitor.bin", "deck-copy", seen.id, monitorDone.handler());
    ASSERT_TRUE(eventually([&] { return cameraDone.finished() && monitorDone.finished(); }, 30));
    EXPECT_FALSE(cameraDone.error) << *cameraDone.error;
    EXPECT_FALSE(monitorDone.error) << *monitorDone.error;
    EXPECT_DOUBLE_EQ(cameraProgress->fractionCompleted(), 1.0);
    EXPECT_TRUE(cameraProgress->isFinished());
    EXPECT_EQ(cameraProgress->totalBytes(), fromCamera.size());

    auto received = monitor.recorder.resources();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].name, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(received[0].contents, fromCamera);
    EXPECT_EQ(received[0].peer, seen.id);
    EXPECT_TRUE(existedInCallback.load());
    EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(received[0].path); }));
    EXPECT_EQ(received[0].path.parent_path(), monitor.temporaryFolder);
    auto onCameraFiles = camera.recorder.resources();
    ASSERT_EQ(onCameraFiles.size(), 1u);
    EXPECT_EQ(onCameraFiles[0].contents, fromMonitor);
    EXPECT_EQ(onCameraFiles[0].name, "deck-copy");
    EXPECT_EQ(std::filesystem::status(monitor.temporaryFolder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    // The threads that read, hash and write file data give way to the ones that carry packets, which take short
    // turns where the kernel has them.
    const auto packets = schedulingOf(monitor.session->queue());
    const auto files = schedulingOf(monitor.session->sendQueue());
    if (packets.niceness < 19) {
        EXPECT_GT(takerNiceness.load(), packets.niceness);
        EXPECT_GT(files.niceness, packets.niceness);
    }
    if (files.turn != 0) {
        EXPECT_LT(packets.turn, files.turn);
    }

    // Sending to a peer that is not connected fails at once.
    Completion nowhere;
    monitor.session->sendResource(dir / "outgoing-monitor.bin", "x", PeerId{}, nowhere.handler());
    ASSERT_TRUE(eventually([&] { return nowhere.finished(); }));
    EXPECT_TRUE(nowhere.error.has_value());

    EXPECT_TRUE(monitor.recorder.threadsRight()) << ::testing::PrintToString(monitor.recorder.threadFaults());
    EXPECT_TRUE(camera.recorder.threadsRight()) << ::testing::PrintToString(camera.recorder.threadFaults());
    EXPECT_TRUE(monitor.recorder.issues().empty()) << ::testing::PrintToString(monitor.recorder.issues());
}

TEST_F(PeerSessionTest, PairedDevicesReconnectAfterARestartWithoutAsking) {
    {
        Node camera(Role::camera, discovery, dir / "camera", "Cam B");
        Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
        camera.start();
        monitor.start();
        ASSERT_TRUE(pair(monitor, camera, "Cam B"));
    }
    Node camera(Role::camera, discovery, dir / "camera");
    Node monitor(Role::monitor, discovery, dir / "monitor");
    camera.start();
    monitor.start();
    ASSERT_TRUE(waitConnected(monitor, camera));
    EXPECT_TRUE(monitor.recorder.pairingRequests().empty());
    EXPECT_TRUE(camera.recorder.pairingRequests().empty());
    EXPECT_EQ(monitor.trustedList().size(), 1u);
    EXPECT_EQ(monitor.recorder.peers()[0].name, "Cam B");
    monitor.send(Bytes{5, 1, 2, 3});
    ASSERT_TRUE(eventually([&] { return camera.recorder.data().size() == 1; }));
    EXPECT_EQ(camera.recorder.data()[0], (Bytes{5, 1, 2, 3}));

    // A camera that forgot the remote is asked again rather than let in.
    TrustedPeers(camera.keychain).remove(monitor.publicKey());
    monitor.session->reconnect(monitor.recorder.peers()[0].id);
    ASSERT_TRUE(eventually([&] { return camera.recorder.currentRequest().has_value(); }));
    EXPECT_TRUE(camera.readyPeers().empty());
}

TEST_F(PeerSessionTest, RefusingOnEitherSideStoresNothingAndDropsTheLink) {
    Node camera(Role::camera, discovery, dir / "camera", "Cam C");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    camera.start();
    monitor.start();
    ASSERT_TRUE(eventually([&] { return monitor.recorder.nearbyNamed("Cam C").has_value(); }));
    const auto id = monitor.recorder.nearbyNamed("Cam C")->id;

    // The camera refuses, after the remote accepted.
    monitor.session->connect(id);
    ASSERT_TRUE(eventually([&] { return monitor.recorder.currentRequest() && camera.recorder.currentRequest(); }));
    monitor.session->acceptPairing(id);
    camera.session->cancelPairing(camera.recorder.currentRequest()->id);
    ASSERT_TRUE(eventually([&] {
        auto c = monitor.recorder.nearbyNamed("Cam C");
        return c && !c->isConnecting && !c->isConnected && !camera.recorder.currentRequest();
    }));
    EXPECT_TRUE(eventually([&] { return monitor.recorder.issues().size() == 1; }));
    EXPECT_EQ(monitor.recorder.issues()[0], "Cam C declined the pairing");

    // The remote refuses.
    monitor.session->connect(id);
    ASSERT_TRUE(eventually([&] { return monitor.recorder.currentRequest() && camera.recorder.currentRequest(); }));
    camera.session->acceptPairing(camera.recorder.currentRequest()->id);
    monitor.session->cancelPairing(id);
    ASSERT_TRUE(eventually([&] { return !camera.recorder.currentRequest() && !monitor.recorder.currentRequest(); }));
    EXPECT_TRUE(eventually([&] { return camera.recorder.issues().size() == 1; }));
    EXPECT_EQ(camera.recorder.issues()[0], "Desk declined the pairing");

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(monitor.trustedList().empty());
    EXPECT_TRUE(camera.trustedList().empty());
    EXPECT_EQ(monitor.recorder.count("connected"), 0u);
    EXPECT_EQ(camera.recorder.count("connected"), 0u);
}

TEST_F(PeerSessionTest, AWrongCodeIsToldOnBothSidesAndTheRightOneStillPairs) {
    Node camera(Role::camera, discovery, dir / "camera", "Cam F");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    camera.start();
    monitor.start();
    ASSERT_TRUE(eventually([&] { return monitor.recorder.nearbyNamed("Cam F").has_value(); }));
    const auto id = monitor.recorder.nearbyNamed("Cam F")->id;
    monitor.session->connect(id);
    ASSERT_TRUE(eventually([&] { return monitor.recorder.currentRequest() && camera.recorder.currentRequest(); }));
    monitor.session->acceptPairing(id);
    const auto request = *camera.recorder.currentRequest();

    // Two wrong tries: each is told on both sides, and the request stays open.
    for (std::size_t tries = 1; tries <= 2; ++tries) {
        camera.session->codeDidNotMatch(request.id);
        ASSERT_TRUE(eventually([&] { return monitor.recorder.issues().size() == tries; }));
        ASSERT_TRUE(eventually([&] { return camera.recorder.issues().size() == tries; }));
        EXPECT_EQ(monitor.recorder.issues().back(), "The code typed at Cam F did not match");
        EXPECT_EQ(camera.recorder.issues().back(), "The code did not match the one Desk shows");
    }
    EXPECT_EQ(camera.recorder.currentRequest(), request);
    EXPECT_TRUE(monitor.trustedList().empty());

    // The right code.
    camera.session->acceptPairing(request.id);
    ASSERT_TRUE(eventually(
        [&] { return monitor.recorder.count("connected") == 1 && camera.recorder.count("connected") == 1; }));
    EXPECT_EQ(monitor.trustedList().size(), 1u);
    EXPECT_EQ(camera.trustedList().size(), 1u);
    EXPECT_EQ(monitor.recorder.issues().size(), 2u);
}

TEST_F(PeerSessionTest, UnansweredRequestTimesOutAsARefusal) {
    Node camera(Role::camera, discovery, dir / "camera", "Cam D");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    // Recreate the monitor's session with a short pairing time-out.
    camera.start();
    monitor.session.reset();
    PeerSession::Options options;
    options.keychain = monitor.keychain;
    options.mainExecutor = monitor.main;
    options.interfaces = {"127.0.0.1"};
    options.multicastGroup = discovery.group;
    options.multicastPort = discovery.port;
    options.timing = fastTiming();
    options.timing.pairingTimeout = 0.6;
    monitor.session = PeerSession::create(Role::monitor, true, 4, "morvane", options);
    monitor.recorder.attach(*monitor.session, monitor.main);
    monitor.start();

    ASSERT_TRUE(eventually([&] { return monitor.recorder.nearbyNamed("Cam D").has_value(); }));
    monitor.session->connect(monitor.recorder.nearbyNamed("Cam D")->id);
    ASSERT_TRUE(eventually([&] { return camera.recorder.pairingRequests().size() == 1; }));
    // Nobody answers: both requests end, both users are told, nothing is stored.
    ASSERT_TRUE(eventually([&] { return !camera.recorder.currentRequest() && !monitor.recorder.currentRequest(); }));
    EXPECT_TRUE(eventually([&] { return !monitor.recorder.issues().empty() && !camera.recorder.issues().empty(); }));
    EXPECT_EQ(monitor.recorder.issues()[0], "The pairing with Cam D timed out");
    EXPECT_EQ(camera.recorder.issues()[0], "The pairing with Desk timed out");
    EXPECT_TRUE(camera.trustedList().empty());
}

TEST_F(PeerSessionTest, DisconnectedCameraStaysAwayUntilConnected) {
    Node camera(Role::camera, discovery, dir / "camera", "Cam E");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    camera.start();
    monitor.start();
    auto id = pair(monitor, camera, "Cam E");
    ASSERT_TRUE(id);

    monitor.session->disconnectCamera(*id);
    ASSERT_TRUE(eventually([&] { return monitor.recorder.peers().empty() && camera.recorder.peers().empty(); }));
    EXPECT_EQ(monitor.recorder.count("disconnected"), 1u);
    // Several maintenance rounds pass without a reconnection.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(monitor.recorder.peers().empty());
    EXPECT_EQ(monitor.recorder.count("connected"), 1u);
    auto seen = monitor.recorder.nearbyNamed("Cam E");
    ASSERT_TRUE(seen);
    EXPECT_TRUE(seen->isPaired);
    EXPECT_FALSE(seen->isConnected);

    monitor.session->connect(*id);
    ASSERT_TRUE(waitConnected(monitor, camera));
    EXPECT_EQ(monitor.recorder.pairingRequests().size(), 1u);  // only the first pairing
    // Once wanted again, a dropped link comes back by itself.
    monitor.session->reconnect(*id);
    EXPECT_TRUE(eventually([&] { return monitor.recorder.count("connected") == 3; }));
    EXPECT_EQ(monitor.readyPeers().size(), 1u);
}

TEST_F(PeerSessionTest, CameraLimitHolds) {
    Node first(Role::camera, discovery, dir / "first", "Cam One");
    Node second(Role::camera, discovery, dir / "second", "Cam Two");
    // 0 is clamped to 1.
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk", 0);
    first.start();
    second.start();
    monitor.start();
    ASSERT_TRUE(pair(monitor, first, "Cam One"));
    ASSERT_TRUE(eventually([&] { return monitor.recorder.nearbyNamed("Cam Two").has_value(); }));
    const auto secondId = monitor.recorder.nearbyNamed("Cam Two")->id;
    monitor.session->connect(secondId);
    ASSERT_TRUE(eventually([&] { return !monitor.recorder.issues().empty(); }));
    EXPECT_EQ(monitor.recorder.issues()[0], "Can't connect Cam Two: at most 1 camera at a time");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(second.recorder.pairingRequests().empty());

    monitor.session->setMaxCameras(2);
    ASSERT_TRUE(pair(monitor, second, "Cam Two"));
    EXPECT_EQ(monitor.readyPeers().size(), 2u);
    // A packet to all reaches both; to one reaches only that one.
    monitor.send(Bytes{9});
    monitor.send(Bytes{8}, secondId);
    ASSERT_TRUE(eventually([&] { return second.recorder.data().size() == 2 && first.recorder.data().size() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(first.recorder.data().size(), 1u);
}

TEST_F(PeerSessionTest, PeerVanishingMidFileLeavesNoPartialFile) {
    auto camera = std::make_unique<Node>(Role::camera, discovery, dir / "camera", "Cam F");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    camera->start();
    monitor.start();
    ASSERT_TRUE(pair(monitor, *camera, "Cam F"));
    writeFile(dir / "big.bin", randomBytes(64 << 20, 3));
    Completion done;
    auto progress = camera->session->sendResource(dir / "big.bin", "big", camera->readyPeers()[0], done.handler());
    ASSERT_TRUE(eventually([&] { return progress->completedBytes() > (1u << 20); }, 20));
    EXPECT_EQ(filesIn(monitor.temporaryFolder), 1u);
    camera.reset();
    ASSERT_TRUE(eventually([&] { return monitor.recorder.peers().empty(); }));
    EXPECT_TRUE(eventually([&] { return filesIn(monitor.temporaryFolder) == 0; }));
    EXPECT_TRUE(monitor.recorder.resources().empty());
}

// Files arrive in a lasting folder (on the disk they are filed to): what a run that ended mid-file left there goes
// when the next session starts, and nothing else of the folder's.
TEST_F(PeerSessionTest, PartialFilesOfAnEarlierRunAreRemovedFromTheFolder) {
    std::filesystem::create_directories(dir / "monitor" / "incoming");
    writeFile(dir / "monitor" / "incoming" / "incoming-0123456789abcdef.part", randomBytes(4096, 5));
    writeFile(dir / "monitor" / "incoming" / "notes.txt", randomBytes(16, 6));
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    EXPECT_EQ(filesIn(monitor.temporaryFolder), 1u);
    EXPECT_TRUE(std::filesystem::exists(monitor.temporaryFolder / "notes.txt"));
}

TEST_F(PeerSessionTest, CancelledTransferReportsAndCleansUp) {
    Node camera(Role::camera, discovery, dir / "camera", "Cam G");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    camera.start();
    monitor.start();
    ASSERT_TRUE(pair(monitor, camera, "Cam G"));
    writeFile(dir / "big.bin", randomBytes(64 << 20, 4));
    Completion done;
    auto progress = camera.session->sendResource(dir / "big.bin", "big", camera.readyPeers()[0], done.handler());
    ASSERT_TRUE(eventually([&] { return progress->completedBytes() > 0; }, 20));
    progress->cancel();
    ASSERT_TRUE(eventually([&] { return done.finished(); }));
    EXPECT_EQ(done.error, "The transfer was cancelled");
    EXPECT_TRUE(eventually([&] { return filesIn(monitor.temporaryFolder) == 0; }));
    // The link itself carries on.
    camera.send(Bytes{6, 6});
    EXPECT_TRUE(eventually([&] { return monitor.recorder.data().size() == 1; }));
    EXPECT_EQ(monitor.readyPeers().size(), 1u);
}

// A file is reported delivered only when a taker kept it: the sender may delete its copy on that word.
TEST_F(PeerSessionTest, FileNobodyTookIsNotReportedDelivered) {
    Node camera(Role::camera, discovery, dir / "camera", "Cam J");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    camera.start();
    monitor.start();
    ASSERT_TRUE(pair(monitor, camera, "Cam J"));
    writeFile(dir / "take.bin", randomBytes(200'000, 5));

    monitor.session->onResource = nullptr;
    Completion untaken;
    camera.session->sendResource(dir / "take.bin", "take", camera.readyPeers()[0], untaken.handler());
    ASSERT_TRUE(eventually([&] { return untaken.finished(); }, 20));
    EXPECT_TRUE(untaken.error.has_value());

    monitor.session->onResource = [](const std::filesystem::path&, const std::string&, const PeerId&) {
        throw std::runtime_error("disk full");
    };
    Completion failed;
    camera.session->sendResource(dir / "take.bin", "take", camera.readyPeers()[0], failed.handler());
    ASSERT_TRUE(eventually([&] { return failed.finished(); }, 20));
    EXPECT_TRUE(failed.error.has_value());
    EXPECT_TRUE(eventually([&] { return filesIn(monitor.temporaryFolder) == 0; }));
    EXPECT_TRUE(std::filesystem::exists(dir / "take.bin"));

    // The link carries on.
    camera.send(Bytes{7});
    EXPECT_TRUE(eventually([&] { return monitor.recorder.data().size() == 1; }));
}

TEST_F(PeerSessionTest, StopDropsEveryPeerAndStartFindsThemAgain) {
    Node camera(Role::camera, discovery, dir / "camera", "Cam H");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    camera.start();
    monitor.start();
    ASSERT_TRUE(pair(monitor, camera, "Cam H"));
    EXPECT_TRUE(monitor.session->isRunning());
    monitor.main->sync([&] { monitor.session->stop(); });
    EXPECT_FALSE(monitor.session->isRunning());
    ASSERT_TRUE(eventually([&] { return monitor.recorder.peers().empty() && camera.recorder.peers().empty(); }));
    EXPECT_TRUE(eventually([&] { return monitor.recorder.nearby().empty(); }));
    monitor.main->sync([&] { monitor.session->start(); });
    ASSERT_TRUE(waitConnected(monitor, camera));
    EXPECT_EQ(monitor.recorder.pairingRequests().size(), 1u);
}

// Paired means remembered: a remote that cannot write its trusted list says so and does not call the pairing done.
TEST_F(PeerSessionTest, PairingThatCannotBeStoredEndsWithAMessage) {
    Node camera(Role::camera, discovery, dir / "camera", "Cam S");
    Node monitor(Role::monitor, discovery, dir / "monitor", "Desk");
    // A folder where the list's file belongs: every write of the list fails.
    std::filesystem::create_directories(monitor.keychain->folder() / "trusted-peers" / "in-the-way");
    camera.start();
    monitor.start();
    ASSERT_TRUE(eventually([&] { return monitor.recorder.nearbyNamed("Cam S").has_value(); }));
    const auto id = monitor.recorder.nearbyNamed("Cam S")->id;
    monitor.session->connect(id);
    ASSERT_TRUE(eventually([&] { return monitor.recorder.currentRequest() && camera.recorder.currentRequest(); }));
    monitor.session->acceptPairing(monitor.recorder.currentRequest()->id);
    camera.session->acceptPairing(camera.recorder.currentRequest()->id);
    ASSERT_TRUE(eventually([&] { return !monitor.recorder.issues().empty(); }));
    EXPECT_EQ(monitor.recorder.issues()[0], "Couldn't save the pairing with Cam S");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(monitor.recorder.count("connected"), 0u);
    EXPECT_TRUE(monitor.readyPeers().empty());
    EXPECT_FALSE(monitor.recorder.currentRequest());
    EXPECT_TRUE(monitor.trustedList().empty());
    // The camera may have counted the link as up for a moment; it does not stay up.
    EXPECT_TRUE(eventually([&] { return camera.readyPeers().empty(); }));
}

}  // namespace
}  // namespace morvane::test
