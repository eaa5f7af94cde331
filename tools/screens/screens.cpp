// The screenshot program: starts the real application window (under Xvfb for the test command), brings
// scripted cameras onto the real peer link over 127.0.0.1 streaming real H.264, walks through the remote's main
// states and writes one PNG per state into the given folder, checking each picture as it goes.
//
//   screens <output-folder>
//
// Each state is one function in the table at the end; a later screen adds its own function and table line.
// Exits non-zero when any check fails.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/display_layer_view.h"
#include "app/help_web_screen.h"
#include "app/monitor_toolbar.h"
#include "app/morvane_app.h"
#include "app/nearby_cameras_view.h"
#include "app/sheet_dialog.h"
#include "platform/defaults.h"
#include "platform/theme.h"
#include "remote/video_receiver.h"
#include "scripted_camera.h"

namespace morvane::screens {
namespace {

/// What the states share: the application, its cameras and where the pictures go.
class Shooter {
public:
    Shooter(MorvaneApp& app, QDir output, std::filesystem::path cameraRoot)
        : app(app), output_(std::move(output)), cameraRoot_(std::move(cameraRoot)) {}

    MorvaneApp& app;
    std::vector<std::unique_ptr<ScriptedCamera>> cameras;

    MonitorScreen& screen() { return *app.contentView()->monitorScreen(); }
    MonitorController& controller() { return screen().controller(); }

    void settle(int milliseconds) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    bool waitFor(const std::function<bool()>& condition, int milliseconds = 15000) {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > milliseconds) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

    /// What a person sees of the window: the screen itself under a real display (so dialogs over the window
    /// are in the picture), else the window's own rendering.
    QImage grab() {
        settle(150);
        QWidget* window = app.window();
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            const QRect frame = window->frameGeometry();
            return window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
        }
        return window->grab().toImage();
    }

    void save(const std::string& name, const QImage& image) {
        const QString path = output_.filePath(QString::fromStdString(name) + ".png");
        if (!image.save(path)) fail("couldn't write " + path.toStdString());
    }

    QImage shoot(const std::string& name) {
        QImage image = grab();
        save(name, image);
        return image;
    }

    void check(bool condition, const std::string& what) {
        if (!condition) fail(what);
    }
    void fail(const std::string& what) {
        failures.push_back(current + ": " + what);
        std::fprintf(stderr, "screens: %s: %s\n", current.c_str(), what.c_str());
    }

    /// Share of a widget's pixels in a screen picture that are not black.
    double litShare(const QImage& shot, QWidget* widget) {
        const QPoint origin = widget->mapTo(app.window(), QPoint(0, 0));
        const QRect area = QRect(origin, widget->size()).intersected(shot.rect());
        if (area.isEmpty()) return 0;
        int lit = 0;
        int total = 0;
        for (int y = area.top(); y <= area.bottom(); y += 4) {
            for (int x = area.left(); x <= area.right(); x += 4) {
                const QRgb p = shot.pixel(x, y);
                ++total;
                if (qRed(p) + qGreen(p) + qBlue(p) > 60) ++lit;
            }
        }
        return total ? double(lit) / total : 0;
    }

    std::vector<DisplayLayerView*> pictures() {
        std::vector<DisplayLayerView*> out;
        for (auto* view : app.window()->findChildren<DisplayLayerView*>())
            if (view->isVisible()) out.push_back(view);
        return out;
    }

    CameraStatus statusFor(int index) {
        CameraStatus status;
        status.mode = CaptureMode::video;
        status.resolution = Resolution{1920, 1080};
        status.frameRate = 30;
        status.battery = 0.9f - 0.15f * static_cast<float>(index);
        status.freeBytes = 96'000'000'000LL;
        status.liveISO = 200;
        status.liveShutter = 1.0 / 60;
        status.linkDelayMs = 40 + 10 * index;
        return status;
    }

    ScriptedCamera& addCamera(const std::string& name) {
        ScriptedCamera::Options options;
        options.name = name;
        options.folder = cameraRoot_ / name;
        options.status = statusFor(static_cast<int>(cameras.size()));
        cameras.push_back(std::make_unique<ScriptedCamera>(options));
        return *cameras.back();
    }

    std::optional<PeerId> nearbyId(const std::string& name) {
        for (const auto& entry : controller().nearbyCameras())
            if (entry.name == name && !entry.isThisDevice) return entry.id;
        return std::nullopt;
    }

    /// Confirms the code on both sides through the real alert, then waits for the camera's feed and starts
    /// its stream.
    bool confirmPairing(ScriptedCamera& camera) {
        if (!waitFor([&] { return screen().pairingAlert() && screen().pairingAlert()->isVisible() &&
                                  camera.pairingRequest(); })) {
            fail("no pairing alert for " + camera.name());
            return false;
        }
        auto buttons = screen().pairingAlert()->buttons();
        for (auto* button : buttons)
            if (button->text() == QLatin1String("Codes Match")) button->click();
        camera.acceptPairing();
        const bool joined = waitFor([&] {
            for (const auto& feed : controller().feeds())
                if (feed->name() == camera.name()) return true;
            return false;
        });
        if (!joined) {
            fail(camera.name() + " never joined");
            return false;
        }
        camera.startStreaming();
        return true;
    }

    std::string current;
    std::vector<std::string> failures;

private:
    QDir output_;
    std::filesystem::path cameraRoot_;
};

// MARK: States

void noCameras(Shooter& s) {
    s.settle(400);
    s.shoot("01-no-cameras");
    s.check(s.screen().pictureKind() == PictureAreaKind::nearbyCameras, "the picture area lists nearby cameras");
    auto* view = qobject_cast<NearbyCamerasView*>(s.screen().pictureView());
    s.check(view && view->list()->waitingText()->isVisible(), "the waiting text shows");
    s.check(s.screen().toolbar()->shownItems().size() == 4, "the top bar has its four buttons");
}

void cameraNearby(Shooter& s) {
    s.addCamera("Studio");
    s.check(s.waitFor([&] { return s.nearbyId("Studio").has_value(); }), "the camera is seen nearby");
    auto* view = qobject_cast<NearbyCamerasView*>(s.screen().pictureView());
    s.check(s.waitFor([&] { return view && !view->list()->rows().empty(); }), "its row shows");
    s.shoot("02-camera-nearby");
    bool pair = false;
    if (view)
        for (auto* row : view->list()->rows())
            if (row->camera().name == "Studio" && row->button() && row->button()->text() == QLatin1String("Pair"))
                pair = true;
    s.check(pair, "the row offers \"Pair\"");
}

void pairingAlert(Shooter& s) {
    auto* view = qobject_cast<NearbyCamerasView*>(s.screen().pictureView());
    QPushButton* pair = nullptr;
    if (view)
        for (auto* row : view->list()->rows())
            if (row->camera().name == "Studio") pair = row->button();
    if (!pair) return s.fail("no Pair button");
    pair->click();
    auto& camera = *s.cameras.front();
    s.check(s.waitFor([&] { return s.screen().pairingAlert() && s.screen().pairingAlert()->isVisible() &&
                                   camera.pairingRequest(); }),
            "the pairing alert opens");
    s.settle(300);
    s.shoot("03-pairing-alert");
    auto* alert = s.screen().pairingAlert();
    if (!alert) return;
    const auto request = camera.pairingRequest();
    s.check(alert->text() == QLatin1String("Confirm pairing code"), "the alert's title");
    s.check(request && alert->informativeText().contains(QString::fromStdString(request->code)),
            "the alert shows the camera's code");
    s.check(alert->informativeText().contains(QStringLiteral("Camera: “Studio”")), "the alert names the camera");
}

void oneCamera(Shooter& s) {
    if (!s.confirmPairing(*s.cameras.front())) return;
    s.check(s.waitFor([&] {
        auto pictures = s.pictures();
        return pictures.size() == 1 && !pictures[0]->receiver()->containerLayer().picture().isNull();
    }),
            "the live picture reaches its tile");
    s.settle(1500);
    const QImage shot = s.shoot("04-one-camera");
    for (auto* picture : s.pictures()) s.check(s.litShare(shot, picture) > 0.3, "the camera's picture is not black");
}

void fourCameras(Shooter& s) {
    for (const char* name : {"Wide", "Close-up", "Overhead"}) {
        auto& camera = s.addCamera(name);
        if (!s.waitFor([&] { return s.nearbyId(name).has_value(); })) {
            s.fail(std::string(name) + " is not seen nearby");
            continue;
        }
        // What the "Pair" button of the cameras sheet does.
        s.controller().peers()->connect(*s.nearbyId(name));
        s.confirmPairing(camera);
    }
    s.check(s.waitFor([&] {
        auto pictures = s.pictures();
        if (pictures.size() != 4) return false;
        for (auto* p : pictures)
            if (p->receiver()->containerLayer().picture().isNull()) return false;
        return true;
    }),
            "four live pictures");
    s.settle(1500);
    const QImage shot = s.shoot("05-four-cameras");
    for (auto* picture : s.pictures()) s.check(s.litShare(shot, picture) > 0.3, "every picture is not black");
}

void selectedCamera(Shooter& s) {
    if (s.controller().feeds().empty()) return s.fail("no camera to select");
    s.controller().setSelectedID(s.controller().feeds().front()->id());
    s.settle(800);
    s.shoot("06-selected-camera");
}

void deckMode(Shooter& s) {
    QTest::mouseClick(s.screen().toolbar()->deckSwitch(), Qt::LeftButton);
    s.controller().putOnAirByIndex(2);
    s.settle(800);
    s.shoot("07-deck-mode");
    s.check(s.controller().deckMode(), "deck mode is on");
    s.check(s.screen().toolbar()->item(ToolbarItem::livePictures)->isVisible(), "the live-pictures button shows");
}

void deckButtons(Shooter& s) {
    s.controller().setLivePictures(false);
    s.settle(600);
    s.shoot("08-deck-buttons");
    s.check(s.screen().pictureKind() == PictureAreaKind::deckButtons, "the deck buttons replace the pictures");
    s.controller().setLivePictures(true);
    s.controller().setDeckMode(false);
    s.controller().setSelectedID(std::nullopt);
    s.settle(300);
}

void camerasSheet(Shooter& s) {
    s.screen().setShowCameras(true);
    s.settle(600);
    s.shoot("09-cameras-sheet");
    auto* sheet = s.screen().openSheet();
    s.check(sheet && sheet->findChild<NearbyCamerasView*>(), "the sheet lists the nearby cameras");
    if (sheet && sheet->doneButton()) sheet->doneButton()->click();
    s.settle(300);
}

void nearbyDevices(Shooter& s) {
    s.screen().setShowNetwork(true);
    s.settle(600);
    s.shoot("10-nearby-devices");
    auto* sheet = s.screen().openSheet();
    s.check(sheet && sheet->findChild<NetworkView*>(), "the nearby-devices sheet opens");
    if (sheet) sheet->reject();
    s.settle(300);
}

void help(Shooter& s) {
    HelpWebScreen helpScreen([](const QUrl&) {});
    helpScreen.resize(760, 820);
    helpScreen.show();
    s.settle(500);
    QImage image = helpScreen.grab().toImage();
    s.save("11-help", image);
    s.check(helpScreen.view()->pageLoaded(), "the help page is bundled");
}

void privacyCover(Shooter& s) {
    Defaults::standard().set(MorvaneApp::useVaultKey, true);
    s.app.setScenePhase(ScenePhase::inactive);
    s.settle(300);
    const QImage shot = s.shoot("12-privacy-cover");
    s.check(s.app.privacyCover()->isVisible(), "the cover shows");
    s.check(shot.pixelColor(5, shot.height() - 5) == QColor(Qt::black), "black to the edges");
    Defaults::standard().set(MorvaneApp::useVaultKey, false);
    s.app.setScenePhase(ScenePhase::active);
}

struct State {
    const char* name;
    void (*run)(Shooter&);
};

const State states[] = {
    {"no cameras", noCameras},
    {"camera nearby", cameraNearby},
    {"pairing alert", pairingAlert},
    {"one camera", oneCamera},
    {"four cameras", fourCameras},
    {"selected camera", selectedCamera},
    {"deck mode", deckMode},
    {"deck buttons", deckButtons},
    {"cameras sheet", camerasSheet},
    {"nearby devices", nearbyDevices},
    {"help", help},
    {"privacy cover", privacyCover},
};

}  // namespace
}  // namespace morvane::screens

int main(int argc, char** argv) {
    using namespace morvane;
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screens");
    // Settings, keys and libraries of this run live in a folder of its own, never the user's.
    QTemporaryDir root;
    if (!root.isValid()) return 2;
    const std::string base = root.path().toStdString();
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        ::setenv(name, (base + "/" + name).c_str(), 1);
    ::setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + base + "/no-usbmuxd").c_str(), 1);
    screens::useLoopbackDiscovery();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlecroft"));
    theme::apply(application);
    QDir().mkpath(output);

    auto app = std::make_unique<MorvaneApp>();
    app->show();
    app->window()->move(0, 0);
    screens::Shooter shooter(*app, QDir(output), std::filesystem::path(base) / "cameras");
    for (const auto& state : screens::states) {
        shooter.current = state.name;
        state.run(shooter);
        std::printf("screens: %s\n", state.name);
        std::fflush(stdout);
    }
    // The window goes (its screen stops the controller), then the application-wide link.
    shooter.cameras.clear();
    app.reset();
    MonitorController::stopSharedLink();
    QCoreApplication::processEvents();
    const std::size_t failed = shooter.failures.size();
    std::printf("%zu passed, %zu failed\n", std::size(screens::states) - std::min(failed, std::size(screens::states)),
                failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
