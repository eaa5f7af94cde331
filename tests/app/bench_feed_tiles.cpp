// Drawing cost of the feed grid: four 1280×720 cameras in a 1200×800 grid, each tile repainted once per
// picture as the live video does, with every overlay on (grid, level, loupe, legend, scope, histogram, menu,
// stats and health line, deck bar) and with none. Prints the main-thread time per grid repaint.
//
//   bench_feed_tiles [repaints]        (run with QT_QPA_PLATFORM=offscreen, or under Xvfb)

#include <QApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

#include "app/feed_grid.h"
#include "app/feed_tile.h"
#include "platform/defaults.h"
#include "platform/h264_compression_session.h"
#include "platform/manual_executor.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "remote/monitor_controller.h"
#include "remote/video_receiver.h"
#include "scripted_link.h"

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

PeerId peer(int n) {
    std::array<std::uint8_t, 16> bytes{};
    bytes[15] = static_cast<std::uint8_t>(n);
    bytes[6] = 0x40;
    return PeerId{Uuid(bytes)};
}

double timeRepaints(FeedGrid& grid, int repaints) {
    const auto start = Clock::now();
    for (int i = 0; i < repaints; ++i) {
        // A new picture in every camera repaints its host and whatever lies over it.
        for (auto* tile : grid.tiles()) tile->picture()->update();
        grid.repaint();
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / repaints;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int repaints = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    QTemporaryDir dir;
    Defaults defaults(std::filesystem::path(dir.path().toStdString()) / "defaults.json");
    auto main = std::make_shared<ManualExecutor>();
    auto link = std::make_shared<ScriptedLink>();
    MonitorEnvironment env;
    env.mainExecutor = main;
    env.defaults = &defaults;
    env.fallbackFolder = std::filesystem::path(dir.path().toStdString()) / "Unfiled";
    env.makeLink = [link](int) { return link; };
    auto controller = MonitorController::create(4, false, [] { return 0.0; }, env);

    std::vector<CameraLink::Peer> peers;
    for (int n = 1; n <= 4; ++n) {
        controller->registerReceiver(peer(n));
        peers.push_back({peer(n), "Camera " + std::to_string(n)});
    }
    controller->updatePeers(peers);
    CameraStatus status;
    status.mode = CaptureMode::video;
    status.freeBytes = 64'000'000'000;
    status.battery = 0.7f;
    status.liveISO = 400;
    status.liveShutter = 1.0 / 50;
    status.linkDelayMs = 40;
    status.loupe = true;
    status.falseColor = true;
    status.scope = ScopeKind::waveform;
    for (int n = 1; n <= 4; ++n) {
        controller->handlePeerData(*encodeMessage(PacketType::status, status), peer(n));
        auto session = H264CompressionSession::make({1280, 720, 30, 4'000'000, 30});
        if (!session) return 1;
        auto out = session->encode(*session->makeTestPicture(n * 11), true);
        controller->handlePeerData(*ParameterSetsPacket{out->parameterSets}.encode(), peer(n));
        controller->handlePeerData(FramePacket::encode(1, true, 0, out->accessUnit), peer(n));
    }
    // Wait for every picture to be decoded and shown.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    auto allShown = [&] {
        for (int n = 1; n <= 4; ++n)
            if (controller->receiver(peer(n))->containerLayer().picture().isNull()) return false;
        return true;
    };
    while (!allShown() && Clock::now() < deadline) {
        main->runPending();
        QCoreApplication::processEvents();
    }
    main->runPending();
    for (int n = 1; n <= 4; ++n) {
        auto feed = controller->feed(peer(n));
        feed->setStats("30 fps · 4.0 Mb/s");
        feed->live().setAudioLevel(150);
        feed->live().setRoll(3.0);
        feed->live().setHistogram(std::vector<std::uint8_t>(64, 120));
        Bytes scope{18, 1, 64, 32};
        for (int i = 0; i < 64 * 32; ++i) scope.push_back(static_cast<std::uint8_t>(i * 7));
        feed->live().setScope(ScopeImage::decode(scope));
        feed->live().setLoupe(QImage(240, 240, QImage::Format_RGB32));
    }

    FeedGrid grid(controller);
    grid.resize(1200, 800);
    grid.show();
    QCoreApplication::processEvents();

    defaults.set("showGrid", true);
    defaults.set("showLevel", true);
    controller->setShowHistogram(true);
    controller->setDeckMode(true);
    timeRepaints(grid, 20);  // warm up caches
    const double withOverlays = timeRepaints(grid, repaints);

    defaults.set("showGrid", false);
    defaults.set("showLevel", false);
    controller->setShowHistogram(false);
    controller->setDeckMode(false);
    status.loupe = false;
    status.falseColor = false;
    status.scope = ScopeKind::off;
    for (int n = 1; n <= 4; ++n) {
        controller->handlePeerData(*encodeMessage(PacketType::status, status), peer(n));
        controller->feed(peer(n))->setStats(std::nullopt);
    }
    main->runPending();
    timeRepaints(grid, 20);
    const double bare = timeRepaints(grid, repaints);

    std::printf("grid 1200x800, 4 cameras 1280x720, %d repaints\n", repaints);
    std::printf("  every overlay on: %.3f ms per repaint of the whole grid\n", withOverlays);
    std::printf("  overlays off:     %.3f ms per repaint of the whole grid\n", bare);
    std::printf("  at 30 pictures per second per camera: %.1f %% of the main thread with overlays\n",
                withOverlays * 30 / 10);
    return 0;
}
