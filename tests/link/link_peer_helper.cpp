// A camera-role peer session in a process of its own, driven over its standard streams by the two-process test.
//
//   link_peer_helper <keychain folder> <device name>
//
// Discovery takes its group and port from MORVANE_NEARBY_GROUP / MORVANE_NEARBY_PORT. Prints "CODE <digits>" for a
// pairing request and accepts it when a line "ACCEPT" arrives, "READY" when a remote is connected, and echoes every
// packet back to its sender. Exits 0 when its input ends, 2 on a time-out.

#include "link/peer_session.h"
#include "platform/dispatch_queue.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

using namespace morvane;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: link_peer_helper <keychain folder> <device name>\n");
        return 64;
    }
    std::mutex outMutex;
    auto say = [&](const std::string& line) {
        std::lock_guard lock(outMutex);
        std::cout << line << std::endl;
    };
    auto keychain = std::make_shared<Keychain>(argv[1]);
    const std::string name = argv[2];
    keychain->write("device-name", Bytes(name.begin(), name.end()));
    auto main = std::make_shared<DispatchQueue>("helper.main");
    PeerSession::Options options;
    options.keychain = keychain;
    options.mainExecutor = main;
    options.interfaces = {"127.0.0.1"};
    options.temporaryFolder = std::string(argv[1]) + "/incoming";
    options.timing.announceInterval = 0.3;
    options.timing.announceBurstInterval = 0.05;
    auto session = PeerSession::create(PeerSession::Role::camera, true, 1, "morvane", options);
    std::mutex requestMutex;
    std::optional<PeerSession::PairingRequest> request;
    session->onPairingRequest = [&](const std::optional<PeerSession::PairingRequest>& r) {
        {
            std::lock_guard lock(requestMutex);
            request = r;
        }
        if (r) say("CODE " + r->code);
    };
    session->onPeerConnected = [&](const PeerId&) { say("READY"); };
    session->onData = [&, weak = std::weak_ptr<PeerSession>(session)](const Bytes& packet, const PeerId& peer) {
        if (auto s = weak.lock()) s->queue().sync([&] { s->send(packet, peer); });
    };
    main->sync([&] { session->start(); });

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    std::string line;
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline) {
            status = 2;
            break;
        }
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 100) <= 0) continue;
        if (!std::getline(std::cin, line)) break;
        if (line == "ACCEPT") {
            std::lock_guard lock(requestMutex);
            if (request) session->acceptPairing(request->id);
        }
    }
    main->sync([&] { session->stop(); });
    session->onData = nullptr;
    // The session's own threads hold it for a moment while they finish what the stop set off. Let go only as its
    // last owner, so that it is destroyed (its threads joined) here and not on a detached thread still running
    // when the process exits.
    for (int i = 0; i < 2000 && session.use_count() > 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    session.reset();
    return status;
}
