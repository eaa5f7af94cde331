#include "link/usb_link.h"
#include "file_size_limit.h"
#include "link/usb_device_link.h"
#include "usb_test_support.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using namespace morvane;
using namespace morvane::test;

namespace {

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::optional<USBLink::Hello> helloFrom(const std::string& json) {
    const auto bytes = text(json);
    return USBLink::decodeHello(bytes.data(), bytes.size());
}

std::pair<int, int> socketPair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    return {fds[0], fds[1]};
}

}  // namespace

TEST(USBLinkMessages, FramesAndBodiesRoundTrip) {
    const Bytes body{0xAA, 0xBB};
    EXPECT_EQ(USBLink::frame(USBLink::Kind::fileData, body), (Bytes{0, 0, 0, 3, 4, 0xAA, 0xBB}));
    EXPECT_EQ(USBLink::frame(USBLink::Kind::proof, Bytes{}), (Bytes{0, 0, 0, 1, 2}));

    const USBLink::Hello hello{TrustedPeer::remoteRole, "Desk “Mac” – 2", Bytes(32, 7), Bytes(32, 9)};
    const auto helloBody = USBLink::encodeHello(hello);
    EXPECT_EQ(USBLink::decodeHello(helloBody.data(), helloBody.size()), hello);

    const USBLink::FileStart start{(1ull << 40) - 1, sampleInfo()};
    const auto startBody = USBLink::encodeFileStart(start);
    ASSERT_TRUE(startBody);
    EXPECT_EQ(Bytes(startBody->begin(), startBody->begin() + 8), (Bytes{0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(USBLink::decodeFileStart(startBody->data(), startBody->size()), start);

    const USBLink::Ack ack{Uuid(), true};
    const auto ackBody = USBLink::encodeAck(ack);
    ASSERT_EQ(ackBody.size(), 17u);
    EXPECT_EQ(ackBody[16], 1);
    EXPECT_EQ(USBLink::decodeAck(ackBody.data(), ackBody.size()), ack);
}

TEST(USBLinkMessages, DecodersRefuseMalformedBodies) {
    const std::string key = base64Encode(Bytes(32, 1));
    auto hello = [&](const std::string& version, const std::string& role, const std::string& keyText,
                     const std::string& nonce, const std::string& name = "\"Cam\"") {
        return "{\"version\":" + version + ",\"role\":" + role + ",\"name\":" + name + ",\"key\":\"" + keyText +
               "\",\"nonce\":\"" + nonce + "\"}";
    };
    EXPECT_TRUE(helloFrom(hello("1", "1", key, key)));
    EXPECT_FALSE(helloFrom(hello("2", "1", key, key)));  // unknown version
    EXPECT_FALSE(helloFrom(hello("1", "3", key, key)));  // no such role
    EXPECT_FALSE(helloFrom(hello("1", "-1", key, key)));
    EXPECT_FALSE(helloFrom(hello("1", "1.5", key, key)));
    EXPECT_FALSE(helloFrom(hello("1", "1", base64Encode(Bytes(31, 1)), key)));  // short key
    EXPECT_FALSE(helloFrom(hello("1", "1", key, base64Encode(Bytes(33, 1)))));  // long nonce
    EXPECT_FALSE(helloFrom(hello("1", "1", "not base64!", key)));
    EXPECT_FALSE(helloFrom(hello("1", "1", key, key, "7")));  // name of another type
    EXPECT_FALSE(helloFrom(hello("1", "1", key, key, "\"" + std::string(2000, 'x') + "\"")));
    EXPECT_FALSE(helloFrom("[]"));
    EXPECT_FALSE(helloFrom("{\"version\":1}"));
    EXPECT_FALSE(helloFrom(std::string(100, '[')));
    EXPECT_FALSE(helloFrom(""));

    auto start = *USBLink::encodeFileStart(USBLink::FileStart{10, sampleInfo()});
    for (std::size_t cut = 0; cut < start.size(); cut += 7) {
        EXPECT_FALSE(USBLink::decodeFileStart(start.data(), cut)) << cut;  // every truncation
    }
    auto huge = start;
    huge[0] = 0x01;  // 2^56 bytes: beyond any file the link takes
    EXPECT_FALSE(USBLink::decodeFileStart(huge.data(), huge.size()));
    const auto noId = text(std::string(8, '\0') + "{\"fileName\":\"a\",\"capturedAt\":0,\"isVideo\":true}");
    EXPECT_FALSE(USBLink::decodeFileStart(noId.data(), noId.size()));

    const Bytes ack(17, 0);
    EXPECT_TRUE(USBLink::decodeAck(ack.data(), 17));
    EXPECT_FALSE(USBLink::decodeAck(ack.data(), 16));
    Bytes badFlag = ack;
    badFlag[16] = 2;
    EXPECT_FALSE(USBLink::decodeAck(badFlag.data(), 17));
    EXPECT_FALSE(USBLink::decodeDigest(ack.data(), 17));
}

TEST(USBLinkFrameReader, SplitsAStreamFedByteByByte) {
    Bytes stream;
    for (const auto& frame :
         {USBLink::frame(USBLink::Kind::fileData, Bytes(3000, 5)), USBLink::frame(USBLink::Kind::fileEnd, Bytes(32, 6)),
          USBLink::frame(USBLink::Kind::ack, Bytes(17, 0))}) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    USBLink::FrameReader reader;
    std::vector<std::pair<std::uint8_t, std::size_t>> seen;
    for (std::uint8_t byte : stream) {
        std::size_t available = 0;
        *reader.space(1, available) = byte;
        reader.commit(1);
        USBLink::Frame frame;
        while (reader.next(frame) == USBLink::FrameReader::State::frame) seen.emplace_back(frame.kind, frame.size);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint8_t, std::size_t>>{{4, 3000}, {5, 32}, {6, 17}}));
}

TEST(USBLinkFrameReader, RefusesHostileHeadersBeforeTheirBody) {
    auto verdict = [](const Bytes& bytes) {
        USBLink::FrameReader reader;
        std::size_t available = 0;
        std::memcpy(reader.space(bytes.size(), available), bytes.data(), bytes.size());
        reader.commit(bytes.size());
        USBLink::Frame frame;
        return reader.next(frame);
    };
    using State = USBLink::FrameReader::State;
    EXPECT_EQ(verdict({0xFF, 0xFF, 0xFF, 0xFF}), State::invalid);  // 4 GiB announced: refused at once
    EXPECT_EQ(verdict({0, 0, 0, 0}), State::invalid);              // no room for a kind
    EXPECT_EQ(verdict({0, 0x10, 0, 2, 4}), State::invalid);        // one byte beyond the largest chunk
    EXPECT_EQ(verdict({0, 0x10, 0, 1, 4}), State::needMore);       // exactly the largest chunk: wait for it
    EXPECT_EQ(verdict({0, 0, 0, 34, 2}), State::invalid);          // a proof of 33 bytes
    EXPECT_EQ(verdict({0, 0, 0, 1, 0x21}), State::invalid);        // a kind that does not exist
    EXPECT_EQ(verdict({0, 0, 0, 1, 0}), State::invalid);
    EXPECT_EQ(verdict({0, 0, 0}), State::needMore);
}

TEST(USBLinkFrameReader, RandomStreamsStayBounded) {
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        USBLink::FrameReader reader;
        std::size_t frames = 0;
        for (int piece = 0; piece < 40; ++piece) {
            Bytes bytes(1 + random() % 4096);
            for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
            // Plausible headers now and then, so that bodies get read too.
            if (bytes.size() >= 5 && random() % 3 == 0) {
                bytes[0] = bytes[1] = 0;
                bytes[4] = static_cast<std::uint8_t>(1 + random() % 6);
            }
            std::size_t available = 0;
            std::memcpy(reader.space(bytes.size(), available), bytes.data(), bytes.size());
            reader.commit(bytes.size());
            USBLink::Frame frame;
            USBLink::FrameReader::State state;
            while ((state = reader.next(frame)) == USBLink::FrameReader::State::frame) {
                ASSERT_LE(frame.size, USBLink::maxBody(frame.kind));
                ++frames;
            }
            if (state == USBLink::FrameReader::State::invalid) break;
            ASSERT_LE(reader.buffered(), USBLink::maxChunk + 5);
        }
        (void)frames;
    }
}

// MARK: handshake

class USBLinkHandshake : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<Keychain> camera = makeDevice(dir / "camera", "Cam A");
    std::shared_ptr<Keychain> remote = makeDevice(dir / "remote", "Desk");

    using Outcome = USBLink::Handshake::Outcome;

    // Runs both ends against each other; returns (camera's outcome, remote's outcome).
    std::pair<Outcome, Outcome> run(const std::shared_ptr<Keychain>& cameraSide,
                                    const std::shared_ptr<Keychain>& remoteSide, std::string* remoteSaw = nullptr,
                                    std::uint8_t cameraRole = TrustedPeer::cameraRole) {
        auto [a, b] = socketPair();
        USBLink::Channel cameraChannel(a);
        USBLink::Channel remoteChannel(b);
        Outcome cameraOutcome{};
        std::thread cameraThread([&] {
            USBLink::Handshake handshake{DeviceIdentity(cameraSide), TrustedPeers(cameraSide), cameraRole};
            cameraOutcome = handshake.run(cameraChannel, 3000);
            if (cameraOutcome != Outcome::ok) cameraChannel.shutdown();
        });
        USBLink::Handshake handshake{DeviceIdentity(remoteSide), TrustedPeers(remoteSide), TrustedPeer::remoteRole};
        const auto remoteOutcome = handshake.run(remoteChannel, 3000);
        if (remoteOutcome != Outcome::ok) remoteChannel.shutdown();
        cameraThread.join();
        if (remoteSaw) *remoteSaw = handshake.peerName();
        return {cameraOutcome, remoteOutcome};
    }
};

TEST_F(USBLinkHandshake, PairedDevicesProveThemselves) {
    pair(camera, remote);
    std::string name;
    EXPECT_EQ(run(camera, remote, &name), std::make_pair(Outcome::ok, Outcome::ok));
    EXPECT_EQ(name, "Cam A");

    // A renamed camera is shown by its new name, not the one it paired with.
    DeviceIdentity(camera).setDeviceName("Cam B");
    EXPECT_EQ(run(camera, remote, &name), std::make_pair(Outcome::ok, Outcome::ok));
    EXPECT_EQ(name, "Cam B");
}

TEST_F(USBLinkHandshake, UnpairedOrWrongRoleGetsNoFurther) {
    auto stranger = makeDevice(dir / "stranger", "Stranger");
    pair(camera, remote);
    // The remote does not know the camera.
    auto [cameraOutcome, remoteOutcome] = run(stranger, remote);
    EXPECT_EQ(remoteOutcome, Outcome::untrusted);
    EXPECT_NE(cameraOutcome, Outcome::ok);
    // The camera does not know the remote.
    std::tie(cameraOutcome, remoteOutcome) = run(camera, stranger);
    EXPECT_EQ(cameraOutcome, Outcome::untrusted);
    EXPECT_NE(remoteOutcome, Outcome::ok);
    // A paired remote posing as a camera.
    std::tie(cameraOutcome, remoteOutcome) = run(camera, remote, nullptr, TrustedPeer::remoteRole);
    EXPECT_EQ(remoteOutcome, Outcome::wrongRole);
}

TEST_F(USBLinkHandshake, AnImpostorWithAPairedKeyFailsTheProof) {
    pair(camera, remote);
    auto [a, b] = socketPair();
    USBLink::Channel impostor(a);
    USBLink::Channel remoteChannel(b);
    std::thread impostorThread([&] {
        // Announces the paired camera's public key without holding its private key.
        const USBLink::Hello hello{TrustedPeer::cameraRole, "Cam A", DeviceIdentity(camera).publicKey(),
                                   crypto::randomBytes(32)};
        impostor.send(USBLink::Kind::hello, USBLink::encodeHello(hello));
        USBLink::Frame frame;
        impostor.receive(frame, 3000);  // the remote's hello
        const auto guess = crypto::randomBytes(32);
        impostor.send(USBLink::Kind::proof, guess);
    });
    USBLink::Handshake handshake{DeviceIdentity(remote), TrustedPeers(remote), TrustedPeer::remoteRole};
    EXPECT_EQ(handshake.run(remoteChannel, 3000), Outcome::badProof);
    impostorThread.join();
}

TEST_F(USBLinkHandshake, SilenceAndGarbageEndTheGreeting) {
    pair(camera, remote);
    {
        auto [a, b] = socketPair();
        USBLink::Channel silent(a);
        USBLink::Channel remoteChannel(b);
        USBLink::Handshake handshake{DeviceIdentity(remote), TrustedPeers(remote), TrustedPeer::remoteRole};
        EXPECT_EQ(handshake.run(remoteChannel, 200), Outcome::timeout);
    }
    {
        auto [a, b] = socketPair();
        const Bytes junk{0, 0, 0, 5, 3, 1, 2, 3, 4};  // a file start before any hello
        ASSERT_EQ(::write(a, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
        USBLink::Channel remoteChannel(b);
        USBLink::Handshake handshake{DeviceIdentity(remote), TrustedPeers(remote), TrustedPeer::remoteRole};
        EXPECT_EQ(handshake.run(remoteChannel, 2000), Outcome::malformed);
        ::close(a);
    }
}

// MARK: the remote's end of one link

class USBDeviceLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        pair(camera, remote);
        std::filesystem::create_directories(folder);
        auto [a, b] = socketPair();
        link = std::make_shared<USBDeviceLink>(
            7, b, remote, folder, [this](const std::shared_ptr<USBDeviceLink>& from, USBDeviceLink::ReceivedFile file) {
                std::lock_guard lock(mutex);
                received.push_back(file);
                contents.push_back(fileDigest(file.file));
                std::filesystem::remove(file.file);
                if (autoAck) from->acknowledge(file.info.id, true);
            });
        cam = std::make_unique<RawCamera>(a, camera);
        link->start();
        ASSERT_EQ(cam->greet(), USBLink::Handshake::Outcome::ok);
        ASSERT_TRUE(waitFor([&] { return link->isAuthenticated(); }, std::chrono::seconds(5)));
    }
    void TearDown() override {
        link->close();
        EXPECT_EQ(countFiles(folder), 0u) << "a partial or refused file was left behind";
    }

    std::size_t receivedCount() {
        std::lock_guard lock(mutex);
        return received.size();
    }

    TempDir dir;
    std::shared_ptr<Keychain> camera = makeDevice(dir / "camera", "Cam A");
    std::shared_ptr<Keychain> remote = makeDevice(dir / "remote", "Desk");
    std::filesystem::path folder = dir / "incoming";
    std::shared_ptr<USBDeviceLink> link;
    std::unique_ptr<RawCamera> cam;
    std::mutex mutex;
    std::vector<USBDeviceLink::ReceivedFile> received;
    std::vector<crypto::Digest> contents;
    bool autoAck = true;
};

TEST_F(USBDeviceLinkTest, AWholeFileIsHandedOverThenAcknowledged) {
    const Bytes content(300000, 0x5A);
    const auto info = sampleInfo();
    ASSERT_TRUE(cam->start(info, content.size()));
    ASSERT_TRUE(cam->data(Bytes(content.begin(), content.begin() + 100000)));
    ASSERT_TRUE(cam->data(Bytes(content.begin() + 100000, content.end())));
    ASSERT_TRUE(cam->end(crypto::sha256(content)));
    const auto ack = cam->waitAck();
    ASSERT_TRUE(ack);
    EXPECT_EQ(*ack, (USBLink::Ack{info.id, true}));
    ASSERT_EQ(receivedCount(), 1u);
    EXPECT_EQ(received[0].info, info);
    EXPECT_EQ(received[0].cameraName, "Cam A");
    EXPECT_EQ(contents[0], crypto::sha256(content));
    EXPECT_EQ(received[0].file.parent_path(), folder);

    // An empty file is a file too.
    const auto empty = sampleInfo("empty.jpg");
    ASSERT_TRUE(cam->sendFile(empty, {}, crypto::sha256(Bytes{})));
    EXPECT_EQ(cam->waitAck(), (USBLink::Ack{empty.id, true}));
}

TEST_F(USBDeviceLinkTest, CorruptShortAndOversizedFilesAreRefused) {
    const Bytes content(5000, 1);
    const auto corrupt = sampleInfo("corrupt.mov");
    ASSERT_TRUE(cam->sendFile(corrupt, content, crypto::sha256(Bytes(5000, 2))));
    EXPECT_EQ(cam->waitAck(), (USBLink::Ack{corrupt.id, false}));

    const auto shortFile = sampleInfo("short.mov");
    ASSERT_TRUE(cam->start(shortFile, 6000));
    ASSERT_TRUE(cam->data(content));
    ASSERT_TRUE(cam->end(crypto::sha256(content)));
    EXPECT_EQ(cam->waitAck(), (USBLink::Ack{shortFile.id, false}));

    const auto oversized = sampleInfo("oversized.mov");
    ASSERT_TRUE(cam->start(oversized, 4000));
    ASSERT_TRUE(cam->data(content));
    ASSERT_TRUE(cam->end(crypto::sha256(content)));
    EXPECT_EQ(cam->waitAck(), (USBLink::Ack{oversized.id, false}));

    {
        // A disk that fills up part way: the rest is refused, in several chunks so that writing lags behind.
        ScopedFileSizeLimit full(3000);
        const auto tooBig = sampleInfo("full-disk.mov");
        ASSERT_TRUE(cam->start(tooBig, 5000 * 4));
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(cam->data(content));
        ASSERT_TRUE(cam->end(crypto::sha256(Bytes(5000 * 4, 1))));
        EXPECT_EQ(cam->waitAck(), (USBLink::Ack{tooBig.id, false}));
    }

    EXPECT_EQ(receivedCount(), 0u);
    EXPECT_EQ(countFiles(folder), 0u);

    // The link still works after refusals.
    const auto good = sampleInfo("good.mov");
    ASSERT_TRUE(cam->sendFile(good, content, crypto::sha256(content)));
    EXPECT_EQ(cam->waitAck(), (USBLink::Ack{good.id, true}));
}

TEST_F(USBDeviceLinkTest, OutOfTurnMessagesCloseTheLinkAndLeaveNothing) {
    // Half a file, then a second start: the partial file goes with the link.
    ASSERT_TRUE(cam->start(sampleInfo(), 10000));
    ASSERT_TRUE(cam->data(Bytes(4000, 3)));
    ASSERT_TRUE(waitFor([&] { return countFiles(folder) == 1; }, std::chrono::seconds(5)));
    cam->start(sampleInfo(), 10);
    EXPECT_TRUE(cam->waitClosed());
    EXPECT_TRUE(waitFor([&] { return link->isClosed(); }, std::chrono::seconds(5)));
    EXPECT_EQ(countFiles(folder), 0u);
    EXPECT_EQ(receivedCount(), 0u);
}

TEST_F(USBDeviceLinkTest, ANewFileWaitsForTheLastOneToBeTaken) {
    autoAck = false;
    const Bytes content(100, 4);
    ASSERT_TRUE(cam->sendFile(sampleInfo(), content, crypto::sha256(content)));
    ASSERT_TRUE(waitFor([&] { return receivedCount() == 1; }, std::chrono::seconds(5)));
    // Not acknowledged yet: a camera that does not wait is dropped (its sends may fail part way).
    cam->sendFile(sampleInfo(), content, crypto::sha256(content));
    EXPECT_TRUE(cam->waitClosed());
    EXPECT_EQ(receivedCount(), 1u);
}

TEST_F(USBDeviceLinkTest, DataWithoutAStartClosesTheLink) {
    ASSERT_TRUE(cam->data(Bytes(1000, 1)));
    EXPECT_TRUE(cam->waitClosed());
    EXPECT_TRUE(waitFor([&] { return link->isClosed(); }, std::chrono::seconds(5)));
}

TEST_F(USBDeviceLinkTest, APulledCableMidFileLeavesNothing) {
    ASSERT_TRUE(cam->start(sampleInfo(), 1u << 20));
    ASSERT_TRUE(cam->data(Bytes(1000, 1)));
    ASSERT_TRUE(waitFor([&] { return countFiles(folder) == 1; }, std::chrono::seconds(5)));
    cam.reset();  // the cable is pulled mid-file
    EXPECT_TRUE(waitFor([&] { return link->isClosed(); }, std::chrono::seconds(5)));
    EXPECT_TRUE(waitFor([&] { return countFiles(folder) == 0; }, std::chrono::seconds(5)));
}

TEST(USBDeviceLinkHostile, RandomMessagesAfterTheGreetingLeaveNothingBehind) {
    TempDir dir;
    auto camera = makeDevice(dir / "camera", "Cam A");
    auto remote = makeDevice(dir / "remote", "Desk");
    pair(camera, remote);
    const auto folder = dir / "incoming";
    std::filesystem::create_directories(folder);
    std::mt19937 random(11);
    std::atomic<int> delivered{0};
    for (int round = 0; round < 40; ++round) {
        auto [a, b] = socketPair();
        auto link = std::make_shared<USBDeviceLink>(
            round, b, remote, folder,
            [&](const std::shared_ptr<USBDeviceLink>& from, USBDeviceLink::ReceivedFile file) {
                ++delivered;
                std::filesystem::remove(file.file);
                from->acknowledge(file.info.id, true);
            });
        link->start();
        RawCamera cam(a, camera);
        ASSERT_EQ(cam.greet(), USBLink::Handshake::Outcome::ok);
        for (int message = 0; message < 12; ++message) {
            const auto kind = static_cast<USBLink::Kind>(1 + random() % 6);
            Bytes body(random() % 2048);
            for (auto& byte : body) byte = static_cast<std::uint8_t>(random());
            if (kind == USBLink::Kind::fileStart && random() % 2) {
                body = *USBLink::encodeFileStart(USBLink::FileStart{random() % 4096, sampleInfo()});
            }
            if (!cam.channel().send(kind, body)) break;
        }
        cam.channel().shutdown();
        ASSERT_TRUE(waitFor([&] { return link->isClosed(); }, std::chrono::seconds(5)));
        link->close();
        ASSERT_EQ(countFiles(folder), 0u) << "round " << round;
    }
}

TEST(USBLinkHandshakeHostile, RandomGreetingsAreRefused) {
    TempDir dir;
    auto remote = makeDevice(dir / "remote", "Desk");
    std::mt19937 random(5);
    for (int round = 0; round < 60; ++round) {
        auto [a, b] = socketPair();
        Bytes junk(1 + random() % 600);
        for (auto& byte : junk) byte = static_cast<std::uint8_t>(random());
        if (random() % 2) {
            // A well-framed hello with a hostile body.
            junk = USBLink::frame(USBLink::Kind::hello, junk);
        }
        ASSERT_EQ(::write(a, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
        ::shutdown(a, SHUT_WR);
        USBLink::Channel channel(b);
        USBLink::Handshake handshake{DeviceIdentity(remote), TrustedPeers(remote), TrustedPeer::remoteRole};
        EXPECT_NE(handshake.run(channel, 2000), USBLink::Handshake::Outcome::ok);
        ::close(a);
    }
}
