// Benchmark: four cameras streaming 1280 × 720 H.264 at 30 fps over the real link on 127.0.0.1, shown at once in
// the real application window. Reports, per camera, the frames received and the frames shown per second, and
// the main thread's time per shown frame and its share of the wall clock. Run under a display (xvfb-run -a):
//
//   bench_live_window [seconds]

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QAbstractButton>
#include <QTemporaryDir>
#include <QTimer>

#include <time.h>

#include <cstdio>
#include <map>

#include "app/display_layer_view.h"
#include "app/morvane_app.h"
#include "platform/theme.h"
#include "remote/video_receiver.h"
#include "qt_wait.h"
#include "scripted_camera.h"

namespace {

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

/// Runs the event loop, idle when there is nothing to do, for a while.
void runFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace morvane;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    QTemporaryDir root;
    const std::string base = root.path().toStdString();
    screens::keepToFolder(base);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlecroft"));
    theme::apply(application);
    MorvaneApp app;
    app.show();
    auto& controller = app.contentView()->monitorScreen()->controller();
    auto* screen = app.contentView()->monitorScreen();

    std::vector<std::unique_ptr<screens::ScriptedCamera>> cameras;
    for (int i = 0; i < 4; ++i) {
        screens::ScriptedCamera::Options options;
        options.name = "Camera " + std::to_string(i + 1);
        options.folder = std::filesystem::path(base) / options.name;
        options.status.mode = CaptureMode::video;
        cameras.push_back(std::make_unique<screens::ScriptedCamera>(options));
        auto& camera = *cameras.back();
        std::optional<PeerId> id;
        if (!test::eventually([&] {
                for (const auto& e : controller.nearbyCameras())
                    if (e.name == camera.name()) id = e.id;
                return id.has_value();
            }, 20000)) {
            std::fprintf(stderr, "%s not seen\n", camera.name().c_str());
            return 1;
        }
        controller.peers()->connect(*id);
        if (!test::eventually([&] { return screen->pairingAlert() && camera.pairingRequest(); }, 20000)) return 1;
        for (auto* button : screen->pairingAlert()->buttons())
            if (button->text() == QLatin1String("Codes Match")) button->click();
        camera.acceptPairing();
        if (!test::eventually([&] { return controller.feeds().size() == std::size_t(i + 1); }, 20000)) return 1;
        camera.startStreaming();
    }
    auto views = [&] {
        std::vector<DisplayLayerView*> out;
        for (auto* v : app.window()->findChildren<DisplayLayerView*>())
            if (v->isVisible()) out.push_back(v);
        return out;
    };
    if (!test::eventually([&] { return views().size() == 4; }, 20000)) {
        std::fprintf(stderr, "the window shows %zu live pictures, not 4\n", views().size());
        return 1;
    }
    // Let the streams settle at the sizes the window asks for.
    runFor(3000);

    std::map<DisplayLayerView*, std::uint64_t> shownBefore;
    std::vector<std::uint64_t> sentBefore;
    for (auto* v : views()) shownBefore[v] = v->framesShown();
    for (auto& c : cameras) sentBefore.push_back(c->framesSent());
    const double cpuBefore = threadSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(int(seconds * 1000));
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = threadSeconds() - cpuBefore;

    std::uint64_t totalShown = 0;
    std::printf("live window: %d cameras, 1280x720 at 30 fps, window %dx%d, %.1f s\n", int(cameras.size()),
                app.window()->width(), app.window()->height(), elapsed);
    int index = 0;
    for (auto* v : views()) {
        const auto shown = v->framesShown() - shownBefore[v];
        totalShown += shown;
        std::printf("  picture %d (%dx%d): %.1f frames shown per second\n", ++index, v->width(), v->height(),
                    shown / elapsed);
    }
    for (std::size_t i = 0; i < cameras.size(); ++i)
        std::printf("  %s: %.1f frames sent per second\n", cameras[i]->name().c_str(),
                    (cameras[i]->framesSent() - sentBefore[i]) / elapsed);
    std::printf("  main thread: %.1f %% busy, %.2f ms per shown frame\n", 100.0 * cpu / elapsed,
                totalShown ? 1000.0 * cpu / double(totalShown) : 0.0);
    cameras.clear();
    MonitorController::stopSharedLink();
    return 0;
}
