#include "link_test_support.h"

#include "platform/nearby_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <future>

namespace morvane::test {
namespace {

using namespace morvane::nearby;

TEST(NearbyAnnouncementTest, EncodesAndRejectsWhatIsNotOurs) {
    NearbyAnnouncement a;
    a.role = 1;
    a.name = "Cam";
    a.publicKey = Bytes(32, 3);
    a.port = 4000;
    const auto text = a.encode("morvane");
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(NearbyAnnouncement::decode(text, "morvane"), a);
    EXPECT_FALSE(NearbyAnnouncement::decode(text, "other"));

    NearbyAnnouncement query;
    query.kind = NearbyAnnouncement::Kind::query;
    auto decodedQuery = NearbyAnnouncement::decode(query.encode("morvane"), "morvane");
    ASSERT_TRUE(decodedQuery);
    EXPECT_EQ(decodedQuery->kind, NearbyAnnouncement::Kind::query);
    EXPECT_EQ(decodedQuery->instance, query.instance);

    // A name that would make the datagram too large is not sent at all.
    a.name = std::string(1100, 'x');
    EXPECT_TRUE(a.encode("morvane").empty());

    auto replaced = [&](const std::string& from, const std::string& to) {
        auto t = text;
        t.replace(t.find(from), from.size(), to);
        return NearbyAnnouncement::decode(t, "morvane");
    };
    EXPECT_FALSE(replaced("\"v\":1", "\"v\":2"));
    EXPECT_FALSE(replaced("\"port\":4000", "\"port\":70000"));
    EXPECT_FALSE(replaced("\"port\":4000", "\"port\":0"));
    EXPECT_FALSE(replaced("\"kind\":\"announce\"", "\"kind\":\"shout\""));
    EXPECT_FALSE(replaced("\"role\":1", "\"role\":\"1\""));
    EXPECT_FALSE(NearbyAnnouncement::decode(std::string(1025, ' '), "morvane"));
    EXPECT_FALSE(NearbyAnnouncement::decode("", "morvane"));
    for (std::size_t n = 0; n < text.size(); ++n)
        EXPECT_FALSE(NearbyAnnouncement::decode(text.substr(0, n), "morvane"));
    for (std::uint32_t seed = 0; seed < 500; ++seed) {
        auto bytes = randomBytes(seed % 300, seed);
        (void)NearbyAnnouncement::decode(std::string(bytes.begin(), bytes.end()), "morvane");
    }
}

TEST(NearbyConfigTest, LoopbackRuleOverridesInterfaces) {
    EXPECT_TRUE(isLoopbackAddress("127.0.0.1"));
    EXPECT_TRUE(isLoopbackAddress("127.200.1.9"));
    EXPECT_FALSE(isLoopbackAddress("128.0.0.1"));
    EXPECT_FALSE(isLoopbackAddress("localhost"));
    EXPECT_FALSE(isLoopbackAddress("::1"));

    ::setenv("MORVANE_TEST_LOOPBACK_ONLY", "1", 1);
    NearbyConfig config;
    config.interfaces = {"192.0.2.7"};
    auto resolved = config.resolved();
    EXPECT_EQ(resolved.interfaces, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(NearbyConfig{}.resolved().interfaces, std::vector<std::string>{"127.0.0.1"});

    ::unsetenv("MORVANE_NEARBY_PORT");
    ::unsetenv("MORVANE_NEARBY_GROUP");
    EXPECT_EQ(resolved.port, NearbyConfig::defaultPort);
    EXPECT_EQ(resolved.group, NearbyConfig::defaultGroup);
    ::setenv("MORVANE_NEARBY_PORT", "45678", 1);
    ::setenv("MORVANE_NEARBY_GROUP", "239.255.9.9", 1);
    EXPECT_EQ(NearbyConfig{}.resolved().port, 45678);
    EXPECT_EQ(NearbyConfig{}.resolved().group, "239.255.9.9");
    config.port = 41000;  // an explicit choice wins over the environment
    EXPECT_EQ(config.resolved().port, 41000);
    ::setenv("MORVANE_NEARBY_PORT", "99999", 1);
    EXPECT_EQ(NearbyConfig{}.resolved().port, NearbyConfig::defaultPort);
    ::unsetenv("MORVANE_NEARBY_PORT");
    ::unsetenv("MORVANE_NEARBY_GROUP");
}

struct Seen {
    std::mutex mutex;
    std::vector<NearbyEntry> found, lost;
    std::size_t foundCount() {
        std::lock_guard lock(mutex);
        return found.size();
    }
    std::size_t lostCount() {
        std::lock_guard lock(mutex);
        return lost.size();
    }
};

TEST(NearbyBeaconTest, FindsAnnouncesAnswersQueriesAndForgets) {
    ::setenv("MORVANE_TEST_LOOPBACK_ONLY", "1", 1);
    const auto discovery = Discovery::unique();
    NearbyService service("test.nearby");
    NearbyBeacon::Options options;
    options.network.group = discovery.group;
    options.network.port = discovery.port;
    options.announceInterval = 0.2;
    options.burstInterval = 0.05;
    options.expiry = 0.8;

    auto cameraOptions = options;
    cameraOptions.ownInstance = Uuid();
    auto camera = service.beacon(cameraOptions);
    ASSERT_TRUE(camera);
    camera->advertise([] {
        NearbyAnnouncement a;
        a.role = 1;
        a.name = "Cam";
        a.publicKey = Bytes(32, 5);
        a.port = 1234;
        return a;
    });

    auto browserOptions = options;
    browserOptions.ownInstance = Uuid();
    auto browser = service.beacon(browserOptions);
    ASSERT_TRUE(browser);
    Seen seen;
    browser->browse(
        [&](const NearbyEntry& e) {
            std::lock_guard lock(seen.mutex);
            seen.found.push_back(e);
        },
        [&](const NearbyEntry& e) {
            std::lock_guard lock(seen.mutex);
            seen.lost.push_back(e);
        });
    ASSERT_TRUE(eventually([&] { return seen.foundCount() >= 1; }, 5));
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_EQ(seen.found[0].instance, cameraOptions.ownInstance);
        EXPECT_EQ(seen.found[0].name, "Cam");
        EXPECT_EQ(seen.found[0].port, 1234);
        EXPECT_EQ(seen.found[0].address, "127.0.0.1");
    }
    // Repeated identical announces are not reported again.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(seen.foundCount(), 1u);
    // A group of another test stays apart.
    EXPECT_EQ(seen.lostCount(), 0u);

    // Bye removes at once.
    camera->stop();
    ASSERT_TRUE(eventually([&] { return seen.lostCount() == 1; }, 3));

    // An announcer that just goes silent expires.
    auto silentOptions = options;
    silentOptions.ownInstance = Uuid();
    silentOptions.announceInterval = 60;
    silentOptions.burstCount = 1;
    auto silent = service.beacon(silentOptions);
    ASSERT_TRUE(silent);
    silent->advertise([] {
        NearbyAnnouncement a;
        a.role = 1;
        a.name = "Quiet";
        a.publicKey = Bytes(32, 6);
        a.port = 1;
        return a;
    });
    ASSERT_TRUE(eventually([&] { return seen.foundCount() == 2; }, 3));
    ASSERT_TRUE(eventually([&] { return seen.lostCount() == 2; }, 3));
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_EQ(seen.lost[1].name, "Quiet");
    }
    // A browser that starts later gets an answer to its query at once, not at the next minute's announce.
    Seen late;
    auto lateOptions = options;
    lateOptions.ownInstance = Uuid();
    auto lateBrowser = service.beacon(lateOptions);
    ASSERT_TRUE(lateBrowser);
    lateBrowser->browse(
        [&](const NearbyEntry& e) {
            std::lock_guard lock(late.mutex);
            late.found.push_back(e);
        },
        [](const NearbyEntry&) {});
    EXPECT_TRUE(eventually([&] { return late.foundCount() == 1; }, 0.5));
    silent->stop();
    browser->stop();
    lateBrowser->stop();
}

struct Received {
    std::mutex mutex;
    std::vector<std::pair<std::uint8_t, Bytes>> messages;
    std::optional<std::string> closed;
    Bytes exporter;
    std::size_t count() {
        std::lock_guard lock(mutex);
        return messages.size();
    }
    bool isClosed() {
        std::lock_guard lock(mutex);
        return closed.has_value();
    }
    NearbyConnection::Handlers handlers(std::size_t limit) {
        NearbyConnection::Handlers h;
        h.exporterLabel = "EXPORTER-test";
        h.onReady = [this](const Bytes& e) {
            std::lock_guard lock(mutex);
            exporter = e;
        };
        h.maxBody = [limit](std::uint8_t kind) { return kind == 9 ? 0 : limit; };
        h.onMessage = [this](std::uint8_t kind, Bytes body) {
            std::lock_guard lock(mutex);
            messages.emplace_back(kind, std::move(body));
        };
        h.onClosed = [this](const std::string& reason) {
            std::lock_guard lock(mutex);
            closed = reason;
        };
        return h;
    }
};

TEST(NearbyConnectionTest, FramesTravelInOrderAndOversizeCloses) {
    NearbyService server("test.server");
    NearbyService client("test.client");
    Received atServer, atClient;
    std::mutex acceptedMutex;
    std::shared_ptr<NearbyConnection> accepted;
    auto listener = server.listen("127.0.0.1", 0, [&](std::shared_ptr<NearbyConnection> c) {
        c->start(atServer.handlers(100000));
        std::lock_guard lock(acceptedMutex);
        accepted = c;
    });
    ASSERT_TRUE(listener);
    auto conn = client.connect("127.0.0.1", listener->port());
    conn->start(atClient.handlers(100000));
    for (std::uint32_t i = 0; i < 500; ++i) conn->send(static_cast<std::uint8_t>(i % 8), randomBytes(i * 97 % 5000, i));
    ASSERT_TRUE(eventually([&] { return atServer.count() == 500; }));
    {
        std::lock_guard lock(atServer.mutex);
        for (std::uint32_t i = 0; i < 500; ++i) {
            EXPECT_EQ(atServer.messages[i].first, i % 8);
            EXPECT_EQ(atServer.messages[i].second, randomBytes(i * 97 % 5000, i));
        }
        std::lock_guard lock2(atClient.mutex);
        EXPECT_EQ(atServer.exporter.size(), 32u);
        EXPECT_EQ(atServer.exporter, atClient.exporter);  // one TLS session, one exporter value
    }
    EXPECT_TRUE(eventually([&] { return conn->bufferedAmount() == 0; }));
    EXPECT_EQ(conn->remoteAddress(), "127.0.0.1");

    // A frame over the receiver's limit closes the connection before its body is read.
    conn->send(1, Bytes(100001, 0));
    ASSERT_TRUE(eventually([&] { return atServer.isClosed() && atClient.isClosed(); }));
    EXPECT_EQ(atServer.count(), 500u);
    EXPECT_NE(atServer.closed->find("oversized"), std::string::npos);
    EXPECT_TRUE(conn->isClosed());
    conn->send(1, Bytes{1});  // sending on a closed connection is harmless
    listener->close();
}

TEST(NearbyConnectionTest, RefusedConnectionReportsClosed) {
    NearbyService service("test.refused");
    std::uint16_t port = 0;
    {
        auto listener = service.listen("127.0.0.1", 0, [](std::shared_ptr<NearbyConnection>) {});
        ASSERT_TRUE(listener);
        port = listener->port();
        listener->close();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Received r;
    auto conn = service.connect("127.0.0.1", port);
    conn->start(r.handlers(10));
    EXPECT_TRUE(eventually([&] { return r.isClosed(); }));
}

// File data goes in the bulk lane: packets sent after it overtake what still waits, and each lane keeps its order.
TEST(NearbyConnectionTest, PacketsOvertakeBulkFramesAndEachLaneKeepsItsOrder) {
    NearbyService server("test.server");
    NearbyService client("test.client");
    Received atClient;
    std::mutex mutex;
    std::vector<std::pair<std::uint8_t, Bytes>> got;
    std::shared_ptr<NearbyConnection> accepted;
    auto listener = server.listen("127.0.0.1", 0, [&](std::shared_ptr<NearbyConnection> c) {
        NearbyConnection::Handlers h;
        h.exporterLabel = "EXPORTER-test";
        h.maxBody = [](std::uint8_t) { return std::size_t{1 << 20}; };
        std::weak_ptr<NearbyConnection> weak = c;
        // The receiver holds still at first, so that the sender's queue fills up.
        h.onMessage = [&, weak](std::uint8_t kind, Bytes& body) {
            std::lock_guard lock(mutex);
            got.emplace_back(kind, std::move(body));
            if (got.size() == 1) {
                if (auto self = weak.lock()) self->pauseReading();
            }
        };
        c->start(std::move(h));
        std::lock_guard lock(mutex);
        accepted = c;
    });
    ASSERT_TRUE(listener);
    auto conn = client.connect("127.0.0.1", listener->port());
    conn->start(atClient.handlers(1 << 20));
    constexpr std::uint32_t bulkFrames = 400;
    for (std::uint32_t i = 0; i < bulkFrames; ++i) {
        Bytes body(64 * 1024, static_cast<std::uint8_t>(i));
        body[0] = static_cast<std::uint8_t>(i >> 8);
        conn->send(2, body, {}, NearbyConnection::Lane::bulk);
    }
    auto count = [&] {
        std::lock_guard lock(mutex);
        return got.size();
    };
    ASSERT_TRUE(eventually([&] { return count() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (std::uint8_t i = 0; i < 3; ++i) conn->send(1, Bytes{i});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard lock(mutex);
        accepted->resumeReading();
    }
    ASSERT_TRUE(eventually([&] { return count() == bulkFrames + 3; }));
    {
        std::lock_guard lock(mutex);
        std::vector<std::size_t> packetPositions;
        std::uint32_t nextBulk = 0;
        for (std::size_t at = 0; at < got.size(); ++at) {
            const auto& [kind, body] = got[at];
            if (kind == 1) {
                EXPECT_EQ(body, Bytes{static_cast<std::uint8_t>(packetPositions.size())});
                packetPositions.push_back(at);
            } else {
                ASSERT_EQ(body.size(), 64u * 1024);
                EXPECT_EQ(body[1], static_cast<std::uint8_t>(nextBulk));
                EXPECT_EQ(body[0], static_cast<std::uint8_t>(nextBulk >> 8));
                ++nextBulk;
            }
        }
        ASSERT_EQ(packetPositions.size(), 3u);
        // Behind what was already in the sockets, ahead of the megabytes still queued.
        EXPECT_LT(packetPositions.back(), bulkFrames / 2);
    }
    conn->close();
    EXPECT_TRUE(eventually([&] { return atClient.isClosed() && accepted->isClosed(); }));
    listener->close();
}

// Threads sending at once both ways, some packets written by their sending thread, some (large ones, or while the
// socket is full because the receiver holds still) by the network thread: each thread's packets arrive whole and in
// order, and every written-callback runs once, on the network thread.
TEST(NearbyConnectionTest, PacketsFromManyThreadsKeepTheirOrderWhoeverWritesThem) {
    NearbyService server("test.server");
    NearbyService client("test.client");
    constexpr int threads = 4;
    constexpr std::uint32_t perThread = 150;
    auto size = [](int t, std::uint32_t i) -> std::size_t {
        return i % 10 == 9 ? 300'000 + static_cast<std::size_t>(t) : 200 + i * 1300 % 90'000;
    };
    auto body = [&](int t, std::uint32_t i) {
        auto b = randomBytes(size(t, i), static_cast<std::uint32_t>(t * 100'000 + i));
        b[0] = static_cast<std::uint8_t>(t);
        b[1] = static_cast<std::uint8_t>(i);
        b[2] = static_cast<std::uint8_t>(i >> 8);
        return b;
    };
    struct Side {
        std::mutex mutex;
        std::vector<Bytes> got;
        std::size_t count() {
            std::lock_guard lock(mutex);
            return got.size();
        }
    };
    auto handlers = [](Side& side) {
        NearbyConnection::Handlers h;
        h.exporterLabel = "EXPORTER-test";
        h.maxBody = [](std::uint8_t) { return std::size_t{1 << 20}; };
        h.onMessage = [&side](std::uint8_t, Bytes& b) {
            std::lock_guard lock(side.mutex);
            side.got.push_back(std::move(b));
        };
        return h;
    };
    Side atServer, atClient;
    std::mutex acceptedMutex;
    std::shared_ptr<NearbyConnection> accepted;
    std::atomic<bool> hold{true};
    auto listener = server.listen("127.0.0.1", 0, [&](std::shared_ptr<NearbyConnection> c) {
        auto h = handlers(atServer);
        std::weak_ptr<NearbyConnection> weak = c;
        auto deliver = h.onMessage;
        // The server holds still after its first packet for a while, so that the client's socket fills up.
        h.onMessage = [deliver, weak, &hold](std::uint8_t kind, Bytes& b) {
            deliver(kind, b);
            if (hold.exchange(false)) {
                if (auto self = weak.lock()) self->pauseReading();
            }
        };
        c->start(std::move(h));
        std::lock_guard lock(acceptedMutex);
        accepted = c;
    });
    ASSERT_TRUE(listener);
    auto conn = client.connect("127.0.0.1", listener->port());
    conn->start(handlers(atClient));
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(acceptedMutex);
        return accepted != nullptr;
    }));
    std::shared_ptr<NearbyConnection> serverSide;
    {
        std::lock_guard lock(acceptedMutex);
        serverSide = accepted;
    }
    std::atomic<int> written{0};
    std::atomic<int> writtenElsewhere{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t) {
        senders.emplace_back([&, t] {
            for (std::uint32_t i = 0; i < perThread; ++i) {
                conn->send(1, body(t, i), [&] {
                    ++written;
                    if (!client.isCurrent()) ++writtenElsewhere;
                });
                serverSide->send(2, body(t, i));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    serverSide->resumeReading();
    for (auto& s : senders) s.join();
    const std::size_t total = threads * perThread;
    ASSERT_TRUE(eventually([&] { return atServer.count() == total && atClient.count() == total; }, 30));
    for (Side* side : {&atServer, &atClient}) {
        std::lock_guard lock(side->mutex);
        std::vector<std::uint32_t> next(threads, 0);
        for (const auto& b : side->got) {
            ASSERT_GE(b.size(), 3u);
            const int t = b[0];
            ASSERT_LT(t, threads);
            const std::uint32_t i = b[1] | (std::uint32_t{b[2]} << 8);
            ASSERT_EQ(i, next[t]) << "out of order from thread " << t;
            EXPECT_EQ(b, body(t, i));
            ++next[t];
        }
    }
    EXPECT_TRUE(eventually([&] { return written.load() == static_cast<int>(total); }));
    EXPECT_EQ(writtenElsewhere.load(), 0);
    EXPECT_TRUE(eventually([&] { return conn->bufferedAmount() == 0 && serverSide->bufferedAmount() == 0; }));
    conn->close();
    listener->close();
}

// A side busy writing megabytes of file data reads what comes meanwhile between its writes: packets it answers from
// there, and a pause and resume of its reading in the middle of it, lose, duplicate or reorder nothing either way.
TEST(NearbyConnectionTest, PacketsAnsweredWhileFileDataGoesOutKeepEveryStreamWhole) {
    NearbyService server("test.server");
    NearbyService client("test.client");
    constexpr std::uint32_t bulkFrames = 160, packets = 300, pauseAt = 40;
    auto packet = [](std::uint32_t i) { return randomBytes(100 + i * 577 % 20'000, i); };
    std::atomic<std::uint32_t> asked{0};
    std::mutex mutex;
    std::shared_ptr<NearbyConnection> accepted;
    auto listener = server.listen("127.0.0.1", 0, [&](std::shared_ptr<NearbyConnection> c) {
        NearbyConnection::Handlers h;
        h.exporterLabel = "EXPORTER-test";
        h.maxBody = [](std::uint8_t) { return std::size_t{1 << 20}; };
        h.onMessage = [weak = std::weak_ptr<NearbyConnection>(c), &asked](std::uint8_t kind, Bytes& b) {
            if (auto self = weak.lock()) {
                self->send(kind, b);
                if (++asked == pauseAt) self->pauseReading();
            }
        };
        c->start(std::move(h));
        std::lock_guard lock(mutex);
        accepted = c;
    });
    ASSERT_TRUE(listener);
    Received atClient;
    auto conn = client.connect("127.0.0.1", listener->port());
    conn->start(atClient.handlers(1 << 20));
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return accepted != nullptr;
    }));
    for (std::uint32_t i = 0; i < bulkFrames; ++i)
        accepted->send(2, Bytes(128 * 1024, i), {}, NearbyConnection::Lane::bulk);
    for (std::uint32_t i = 0; i < packets; ++i) {
        conn->send(1, packet(i));
        if (i % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ASSERT_TRUE(eventually([&] { return asked.load() == pauseAt; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(asked.load(), pauseAt);
    accepted->resumeReading();
    ASSERT_TRUE(eventually([&] { return atClient.count() == packets + bulkFrames; }, 30));
    std::lock_guard lock(atClient.mutex);
    std::uint32_t answers = 0, bulk = 0;
    for (const auto& [kind, body] : atClient.messages) {
        if (kind == 1) {
            ASSERT_EQ(body, packet(answers++));
        }
        if (kind == 2) {
            ASSERT_EQ(body, Bytes(128 * 1024, bulk++));
        }
    }
    conn->close();
    listener->close();
}

// Sending from a thread of the caller's (where SIGPIPE is not blocked) while the peer goes away ends the connection,
// never the process.
TEST(NearbyConnectionTest, SendingAsThePeerHangsUpIsHarmless) {
    struct Round {
        std::mutex mutex;
        std::shared_ptr<NearbyConnection> accepted;
        Received atServer, atClient;
    };
    // Declared first: the services (and the callbacks they may still run) go before what the callbacks touch.
    std::vector<std::unique_ptr<Round>> rounds;
    NearbyService server("test.server");
    NearbyService client("test.client");
    for (int i = 0; i < 20; ++i) {
        auto& r = *rounds.emplace_back(std::make_unique<Round>());
        auto listener = server.listen("127.0.0.1", 0, [&r](std::shared_ptr<NearbyConnection> c) {
            c->start(r.atServer.handlers(1 << 20));
            std::lock_guard lock(r.mutex);
            r.accepted = c;
        });
        ASSERT_TRUE(listener);
        auto conn = client.connect("127.0.0.1", listener->port());
        conn->start(r.atClient.handlers(1 << 20));
        conn->send(1, Bytes{1});
        ASSERT_TRUE(eventually([&] { return r.atServer.count() == 1; }));
        {
            std::lock_guard lock(r.mutex);
            r.accepted->close();
        }
        const Bytes packet(20'000, 7);
        for (int n = 0; n < 2000 && !conn->isClosed(); ++n) conn->send(1, packet);
        EXPECT_TRUE(eventually([&] { return conn->isClosed(); }));
        listener->close();
    }
}

// A receiver that cannot keep up stops reading; nothing is lost or reordered, and it reads on when it resumes.
TEST(NearbyConnectionTest, PausedReadingHoldsMessagesUntilResumed) {
    NearbyService server("test.server");
    NearbyService client("test.client");
    Received atClient;
    std::mutex mutex;
    std::vector<Bytes> got;
    std::shared_ptr<NearbyConnection> accepted;
    auto listener = server.listen("127.0.0.1", 0, [&](std::shared_ptr<NearbyConnection> c) {
        NearbyConnection::Handlers h;
        h.exporterLabel = "EXPORTER-test";
        h.maxBody = [](std::uint8_t) { return std::size_t{1 << 20}; };
        std::weak_ptr<NearbyConnection> weak = c;
        h.onMessage = [&, weak](std::uint8_t, Bytes& body) {
            std::lock_guard lock(mutex);
            got.push_back(std::move(body));
            if (got.size() == 1) {
                if (auto self = weak.lock()) self->pauseReading();
            }
        };
        c->start(std::move(h));
        std::lock_guard lock(mutex);
        accepted = c;
    });
    ASSERT_TRUE(listener);
    auto conn = client.connect("127.0.0.1", listener->port());
    conn->start(atClient.handlers(10));
    for (std::uint32_t i = 0; i < 50; ++i) conn->send(1, randomBytes(1000 + i * 3000, i));
    auto count = [&] {
        std::lock_guard lock(mutex);
        return got.size();
    };
    ASSERT_TRUE(eventually([&] { return count() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(count(), 1u);
    {
        std::lock_guard lock(mutex);
        accepted->resumeReading();
    }
    ASSERT_TRUE(eventually([&] { return count() == 50; }));
    {
        std::lock_guard lock(mutex);
        for (std::uint32_t i = 0; i < 50; ++i) EXPECT_EQ(got[i], randomBytes(1000 + i * 3000, i)) << i;
    }
    conn->close();
    EXPECT_TRUE(eventually([&] { return atClient.isClosed() && accepted->isClosed(); }));
    listener->close();
}

// A connection that never starts TLS does not keep its place: it is closed after the first-bytes time-out.
TEST(NearbyConnectionTest, ConnectionThatSendsNothingIsClosed) {
    NearbyService server("test.server");
    std::mutex mutex;
    std::vector<std::shared_ptr<NearbyConnection>> accepted;
    std::vector<Received> received(2);
    auto listener = server.listen(
        "127.0.0.1", 0,
        [&](std::shared_ptr<NearbyConnection> c) {
            std::lock_guard lock(mutex);
            c->start(received[std::min<std::size_t>(accepted.size(), 1)].handlers(10));
            accepted.push_back(c);
        },
        0.3);
    ASSERT_TRUE(listener);
    const int idle = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(idle, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval timeout{3, 0};
    ::setsockopt(idle, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const auto start = std::chrono::steady_clock::now();
    char byte = 0;
    EXPECT_EQ(::recv(idle, &byte, 1, 0), 0);  // closed by the server, not timed out here
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ::close(idle);
    ASSERT_TRUE(eventually([&] { return received[0].isClosed(); }));
    EXPECT_EQ(*received[0].closed, "no TLS from the peer");

    // A peer that speaks TLS at once is not affected, however long it stays.
    NearbyService client("test.client");
    Received atClient;
    auto conn = client.connect("127.0.0.1", listener->port());
    conn->start(atClient.handlers(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_FALSE(atClient.isClosed());
    EXPECT_FALSE(received[1].isClosed());
    conn->close();
    EXPECT_TRUE(eventually([&] { return atClient.isClosed() && received[1].isClosed(); }));
    listener->close();
}

// Out of file descriptors, accept fails at once and keeps failing: the listener pauses between tries instead of
// spinning a core, and accepts again when descriptors are free.
TEST(NearbyServiceTest, NetworkThreadTakesShortTurnsAndKeepsItsNiceValue) {
    const auto caller = scheduling();
    NearbyService service("morvane.test-io");
    auto network = std::make_shared<std::promise<Scheduling>>();
    service.post([network] { network->set_value(scheduling()); });
    const auto seen = network->get_future().get();
    EXPECT_EQ(seen.niceness, caller.niceness);
    if (caller.turn != 0) {
        EXPECT_LE(seen.turn, 500'000u);
    }
}

TEST(NearbyListenerTest, FailingAcceptsDoNotSpin) {
    NearbyService server("test.server");
    std::atomic<int> acceptedCount{0};
    auto listener = server.listen("127.0.0.1", 0, [&](std::shared_ptr<NearbyConnection>) { ++acceptedCount; });
    ASSERT_TRUE(listener);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(client, 0);
    // The lowest free descriptor number becomes the limit: no new descriptor can be made.
    const int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int connected = ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    auto cpu = [] {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double before = cpu();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const double used = cpu() - before;
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(connected, 0);
    EXPECT_EQ(acceptedCount.load(), 0);
    EXPECT_LT(used, 0.3) << "seconds of processor time while accepts failed for one second";
    EXPECT_TRUE(eventually([&] { return acceptedCount.load() == 1; }, 5));
    ::close(client);
    listener->close();
}

}  // namespace
}  // namespace morvane::test
