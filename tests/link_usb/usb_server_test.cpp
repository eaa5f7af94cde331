#include "link/usb_server.h"
#include "usb_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

using namespace morvane;
using namespace morvane::test;
using namespace std::chrono_literals;

namespace {

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A remote that speaks the link by hand.
struct RawRemote {
    RawRemote(std::uint16_t port, std::shared_ptr<Keychain> keychain) : channel(connectTo(port)), keychain(keychain) {}
    USBLink::Handshake::Outcome greet() {
        USBLink::Handshake handshake{DeviceIdentity(keychain), TrustedPeers(keychain), TrustedPeer::remoteRole};
        return handshake.run(channel, 5000);
    }
    // Reads one whole file; returns its start, or none.
    std::optional<USBLink::FileStart> receiveFile(Bytes* content = nullptr, crypto::Digest* digest = nullptr) {
        USBLink::Frame frame;
        if (channel.receive(frame, 5000) != USBLink::Channel::Result::frame) return std::nullopt;
        auto start = USBLink::decodeFileStart(frame.body, frame.size);
        if (!start) return std::nullopt;
        for (;;) {
            if (channel.receive(frame, 5000) != USBLink::Channel::Result::frame) return std::nullopt;
            if (frame.kind == static_cast<std::uint8_t>(USBLink::Kind::fileEnd)) {
                if (digest) *digest = *USBLink::decodeDigest(frame.body, frame.size);
                return start;
            }
            if (content) content->insert(content->end(), frame.body, frame.body + frame.size);
        }
    }
    bool closedByServer() {
        USBLink::Frame frame;
        return channel.receive(frame, 5000) == USBLink::Channel::Result::closed;
    }
    USBLink::Channel channel;
    std::shared_ptr<Keychain> keychain;
};

}  // namespace

class USBServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        pair(camera, remote);
        server.onAcknowledged = [this](const TransferInfo& info, bool ok) {
            std::lock_guard lock(mutex);
            acks.emplace_back(info.fileName, ok);
        };
        server.onFailed = [this](const TransferInfo& info, const std::string&) {
            std::lock_guard lock(mutex);
            failures.push_back(info.fileName);
        };
        server.onConnectionChanged = [this](bool connected) {
            std::lock_guard lock(mutex);
            connections.push_back(connected);
        };
        ASSERT_TRUE(server.start());
    }
    // Before the members the callbacks write to go.
    void TearDown() override { server.stop(); }

    std::vector<std::pair<std::string, bool>> ackList() {
        std::lock_guard lock(mutex);
        return acks;
    }

    TempDir dir;
    std::shared_ptr<Keychain> camera = makeDevice(dir / "camera", "Cam A");
    std::shared_ptr<Keychain> remote = makeDevice(dir / "remote", "Desk");
    USBServer server{USBServer::Options{camera, "127.0.0.1", 0, 0.1, 2}};
    std::mutex mutex;
    std::vector<std::pair<std::string, bool>> acks;
    std::vector<std::string> failures;
    std::vector<bool> connections;
};

TEST_F(USBServerTest, AFileNotReceivedIsSentAgainAndAMissingOneIsDropped) {
    const auto info = sampleInfo("clip.mov");
    const auto digest = makeFile(dir / "clip.mov", 300000);
    server.send(dir / "missing.mov", sampleInfo("missing.mov"));
    server.send(dir / "clip.mov", info);
    server.send(dir / "clip.mov", info);  // given twice, queued once
    EXPECT_EQ(server.pendingCount(), 2u);

    RawRemote hub(server.port(), remote);
    ASSERT_EQ(hub.greet(), USBLink::Handshake::Outcome::ok);
    ASSERT_TRUE(waitFor([&] { return server.isConnected(); }, 5s));
    Bytes content;
    crypto::Digest sent{};
    auto start = hub.receiveFile(&content, &sent);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->info, info);
    EXPECT_EQ(start->size, 300000u);
    EXPECT_EQ(sent, digest);
    EXPECT_EQ(crypto::sha256(content), digest);
    ASSERT_TRUE(hub.channel.send(USBLink::Kind::ack, USBLink::encodeAck({info.id, false})));

    // Not received: the same file comes again after the retry delay.
    content.clear();
    start = hub.receiveFile(&content);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->info, info);
    EXPECT_EQ(crypto::sha256(content), digest);
    ASSERT_TRUE(hub.channel.send(USBLink::Kind::ack, USBLink::encodeAck({info.id, true})));
    ASSERT_TRUE(waitFor([&] { return server.pendingCount() == 0; }, 5s));
    EXPECT_EQ(ackList(), (std::vector<std::pair<std::string, bool>>{{"clip.mov", false}, {"clip.mov", true}}));
    std::lock_guard lock(mutex);
    EXPECT_EQ(failures, std::vector<std::string>{"missing.mov"});
}

TEST_F(USBServerTest, AFileThatShrinksWhileItIsSentIsReportedAndDropped) {
    const auto info = sampleInfo("shrinking.mov");
    const auto file = dir / "shrinking.mov";
    makeFile(file, 16u << 20);
    USBServer shrinking{USBServer::Options{camera, "127.0.0.1", 0, 0.1, 2}};
    std::atomic<bool> cut{false};
    // Cut short once the first chunk is out, while the next ones are being read ahead.
    shrinking.onProgress = [&](const TransferInfo&, double fraction) {
        if (fraction > 0 && !cut.exchange(true)) std::filesystem::resize_file(file, 1u << 20);
    };
    std::vector<std::string> failed;
    shrinking.onFailed = [&](const TransferInfo& failedInfo, const std::string&) {
        std::lock_guard lock(mutex);
        failed.push_back(failedInfo.fileName);
    };
    ASSERT_TRUE(shrinking.start());
    shrinking.send(file, info);
    RawRemote hub(shrinking.port(), remote);
    ASSERT_EQ(hub.greet(), USBLink::Handshake::Outcome::ok);
    Bytes content;
    const auto start = hub.receiveFile(&content);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->size, 16u << 20);
    EXPECT_LT(content.size(), start->size);
    ASSERT_TRUE(hub.channel.send(USBLink::Kind::ack, USBLink::encodeAck({info.id, false})));
    EXPECT_TRUE(waitFor([&] { return shrinking.pendingCount() == 0; }, 5s));
    shrinking.stop();
    EXPECT_EQ(failed, std::vector<std::string>{"shrinking.mov"});
}

TEST_F(USBServerTest, AHostileRemoteLosesItsLinkAndTheFileWaits) {
    makeFile(dir / "clip.mov", 5000);
    server.send(dir / "clip.mov", sampleInfo("clip.mov"));

    // Junk instead of a greeting.
    {
        const int fd = connectTo(server.port());
        const Bytes junk{0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
        ASSERT_EQ(::write(fd, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
        USBLink::Channel channel(fd);
        USBLink::Frame frame;
        while (channel.receive(frame, 5000) == USBLink::Channel::Result::frame) {
        }
    }
    // A paired remote that acknowledges a file it was not sent.
    {
        RawRemote hub(server.port(), remote);
        ASSERT_EQ(hub.greet(), USBLink::Handshake::Outcome::ok);
        ASSERT_TRUE(hub.receiveFile());
        ASSERT_TRUE(hub.channel.send(USBLink::Kind::ack, USBLink::encodeAck({Uuid(), true})));
        EXPECT_TRUE(hub.closedByServer());
    }
    EXPECT_EQ(server.pendingCount(), 1u);
    EXPECT_TRUE(ackList().empty());
    ASSERT_TRUE(waitFor([&] { return !server.isConnected(); }, 5s));

    // Remotes that never greet take only a few places; the ones beyond are turned away at once.
    const int silent1 = connectTo(server.port());
    const int silent2 = connectTo(server.port());
    RawRemote turnedAway(server.port(), remote);
    EXPECT_TRUE(turnedAway.closedByServer());
    ::close(silent1);
    ::close(silent2);

    // A sound remote still gets the file.
    std::this_thread::sleep_for(100ms);
    RawRemote hub(server.port(), remote);
    ASSERT_EQ(hub.greet(), USBLink::Handshake::Outcome::ok);
    const auto start = hub.receiveFile();
    ASSERT_TRUE(start);
    ASSERT_TRUE(hub.channel.send(USBLink::Kind::ack, USBLink::encodeAck({start->info.id, true})));
    EXPECT_TRUE(waitFor([&] { return server.pendingCount() == 0; }, 5s));
}

TEST_F(USBServerTest, TheNewerRemoteTakesOverAndStopEndsEverything) {
    RawRemote first(server.port(), remote);
    ASSERT_EQ(first.greet(), USBLink::Handshake::Outcome::ok);
    ASSERT_TRUE(waitFor([&] { return server.isConnected(); }, 5s));
    RawRemote second(server.port(), remote);
    ASSERT_EQ(second.greet(), USBLink::Handshake::Outcome::ok);
    EXPECT_TRUE(first.closedByServer());

    makeFile(dir / "clip.mov", 1000);
    server.send(dir / "clip.mov", sampleInfo("clip.mov"));
    ASSERT_TRUE(second.receiveFile());

    server.stop();
    EXPECT_TRUE(second.closedByServer());
    EXPECT_FALSE(server.isConnected());
    EXPECT_EQ(server.port(), 0);
    EXPECT_EQ(server.pendingCount(), 1u);  // kept for the next start
    std::lock_guard lock(mutex);
    EXPECT_EQ(connections, (std::vector<bool>{true, false}));
}

TEST_F(USBServerTest, ARemoteThatSpeaksOutOfTurnIsDropped) {
    RawRemote hub(server.port(), remote);
    ASSERT_EQ(hub.greet(), USBLink::Handshake::Outcome::ok);
    ASSERT_TRUE(waitFor([&] { return server.isConnected(); }, 5s));
    // Nothing is being sent, so there is nothing to acknowledge.
    ASSERT_TRUE(hub.channel.send(USBLink::Kind::ack, USBLink::encodeAck({Uuid(), true})));
    EXPECT_TRUE(hub.closedByServer());
    EXPECT_TRUE(waitFor([&] { return !server.isConnected(); }, 5s));
}
