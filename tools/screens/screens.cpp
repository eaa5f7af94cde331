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
#include <QBuffer>
#include <QCheckBox>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../../tests/deck/media_fixtures.h"
#include "app/deck_bar.h"
#include "app/deck_button.h"
#include "app/deck_controls.h"
#include "app/display_layer_view.h"
#include "app/feed_grid.h"
#include "app/feed_stats.h"
#include "app/feed_tile.h"
#include "app/help_web_screen.h"
#include "app/monitor_toolbar.h"
#include "app/morvane_app.h"
#include "app/nearby_cameras_view.h"
#include "app/notice_band.h"
#include "app/round_icon_button.h"
#include "app/settings_view.h"
#include "app/sheet_dialog.h"
#include "app/single_feed_pills.h"
#include "app/transfer_row.h"
#include "camera_panels/camera_settings_view.h"
#include "camera_panels/capture_controls.h"
#include "camera_panels/close_button.h"
#include "camera_panels/false_color_legend.h"
#include "camera_panels/gallery_view.h"
#include "camera_panels/labeled_control.h"
#include "camera_panels/large_sheet.h"
#include "camera_panels/loupe_view.h"
#include "camera_panels/panel_controls.h"
#include "camera_panels/quick_adjust.h"
#include "camera_panels/recording_pill.h"
#include "camera_panels/shutter_button.h"
#include "camera_panels/status_pill.h"
#include "deck_ui/editor/angle_button.h"
#include "deck_ui/editor/retouch_editor.h"
#include "deck_ui/editor/retouch_editor_view.h"
#include "deck_ui/editor/retouch_strip.h"
#include "deck_ui/editor/selection_panel.h"
#include "deck_ui/player/program_player.h"
#include "deck_ui/takes/take_row.h"
#include "deck_ui/takes/takes_view.h"
#include "platform/defaults.h"
#include "platform/theme.h"
#include "protocol/camera_event.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "qt_wait.h"
#include "remote/video_receiver.h"
#include "scripted_camera.h"
#include "shoot_library/shoot_library.h"

namespace morvane::screens {
namespace {

/// What the states share: the application, its cameras and where the pictures go.
class Shooter {
public:
    Shooter(MorvaneApp& app, QDir output, std::filesystem::path cameraRoot)
        : app(app), output_(std::move(output)), cameraRoot_(std::move(cameraRoot)) {}

    MorvaneApp& app;
    std::vector<std::unique_ptr<ScriptedCamera>> cameras;
    /// The deck configuration's window (`brindlecroft --deck`), once the states reach it.
    std::unique_ptr<MorvaneApp> deck;

    /// The application whose window the states look at now.
    MorvaneApp& shown() { return deck ? *deck : app; }
    MonitorScreen& screen() { return *shown().monitorScreen(); }
    MonitorController& controller() { return screen().controller(); }

    void settle(int milliseconds) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    bool waitFor(const std::function<bool()>& condition, int milliseconds = 15000) {
        return test::eventually(condition, milliseconds);
    }

    /// What a person sees of the window: the screen itself under a real display (so dialogs over the window
    /// are in the picture), else the window's own rendering.
    QImage grab() {
        settle(150);
        QWidget* window = shown().window();
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
        const QPoint origin = widget->mapTo(shown().window(), QPoint(0, 0));
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

    /// The feed tiles shown, in grid order.
    std::vector<FeedTile*> tiles() {
        std::vector<FeedTile*> out;
        if (auto* grid = qobject_cast<FeedGrid*>(screen().pictureView()))
            for (auto* tile : grid->tiles())
                if (tile->isVisible()) out.push_back(tile);
        return out;
    }

    std::vector<DisplayLayerView*> pictures() {
        std::vector<DisplayLayerView*> out;
        for (auto* view : shown().window()->findChildren<DisplayLayerView*>())
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
        if (!waitFor([&] {
                return screen().pairingAlert() && screen().pairingAlert()->isVisible() && camera.pairingRequest();
            })) {
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

void checkTabOrder(Shooter& s, const std::string& layout);

void noCameras(Shooter& s) {
    s.settle(400);
    s.shoot("01-no-cameras");
    s.check(s.screen().pictureKind() == PictureAreaKind::nearbyCameras, "the picture area lists nearby cameras");
    auto* view = qobject_cast<NearbyCamerasView*>(s.screen().pictureView());
    s.check(view && view->list()->waitingText()->isVisible(), "the waiting text shows");
    s.check(s.screen().toolbar()->shownItems().size() == 4, "the top bar has its four buttons");
    checkTabOrder(s, "01-no-cameras");
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
    s.check(s.waitFor([&] {
        return s.screen().pairingAlert() && s.screen().pairingAlert()->isVisible() && camera.pairingRequest();
    }),
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

/// Pairs and connects one more camera the way the cameras sheet's "Pair" does.
bool joinCamera(Shooter& s, const char* name) {
    auto& camera = s.addCamera(name);
    if (!s.waitFor([&] { return s.nearbyId(name).has_value(); })) {
        s.fail(std::string(name) + " is not seen nearby");
        return false;
    }
    s.controller().peers()->connect(*s.nearbyId(name));
    return s.confirmPairing(camera);
}

bool picturesShown(Shooter& s, std::size_t count) {
    return s.waitFor([&] {
        auto pictures = s.pictures();
        if (pictures.size() != count) return false;
        for (auto* p : pictures)
            if (p->receiver()->containerLayer().picture().isNull()) return false;
        return true;
    });
}

void twoCameras(Shooter& s) {
    joinCamera(s, "Wide");
    s.check(picturesShown(s, 2), "two live pictures");
    s.settle(1500);
    const QImage shot = s.shoot("04b-two-cameras");
    const auto tiles = s.tiles();
    s.check(tiles.size() == 2 && tiles[0]->y() == tiles[1]->y() && tiles[0]->width() == tiles[1]->width(),
            "two tiles of one size side by side");
    for (auto* tile : tiles)
        s.check(tile->showsChrome() && tile->chromeColumn()->isVisible(), "each tile has its menu");
    for (auto* picture : s.pictures()) s.check(s.litShare(shot, picture) > 0.3, "every picture is not black");
}

/// A name as long as a crew gives one, to see where names are cut.
constexpr const char* longName = "Overhead over the kitchen counter";

void threeCameras(Shooter& s) {
    for (const char* name : {"Wide", "Close-up"})
        if (!s.nearbyId(name)) joinCamera(s, name);
    s.check(picturesShown(s, 3), "three live pictures");
    s.settle(1500);
    const QImage shot = s.shoot("05a-three-cameras");
    for (auto* picture : s.pictures()) s.check(s.litShare(shot, picture) > 0.3, "every picture is not black");
}

void fourCameras(Shooter& s) {
    for (const char* name : {"Wide", "Close-up", longName})
        if (!s.nearbyId(name)) joinCamera(s, name);
    s.check(picturesShown(s, 4), "four live pictures");
    s.settle(1500);
    const QImage shot = s.shoot("05-four-cameras");
    for (auto* picture : s.pictures()) s.check(s.litShare(shot, picture) > 0.3, "every picture is not black");
}

/// Tab from the window's start follows the screen: the top bar left to right from the gear, the tiles in grid
/// order, the controls under them, the settings column.
void checkTabOrder(Shooter& s, const std::string& layout) {
    QWidget* window = s.shown().window();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window, 2000)) return s.fail(layout + ": the window does not take the keyboard");
    if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
    auto part = [&](QWidget* root, std::vector<QWidget*>& out) {
        if (!root) return;
        auto focusable = [](QWidget* w) {
            return w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus);
        };
        if (focusable(root)) out.push_back(root);
        for (auto* child : root->findChildren<QWidget*>())
            if (focusable(child)) out.push_back(child);
    };
    // Each control's place on the screen: the bar, then each tile in grid order, the controls, the settings.
    std::vector<std::pair<QWidget*, int>> places;
    auto mark = [&](QWidget* root, int place) {
        std::vector<QWidget*> widgets;
        part(root, widgets);
        for (auto* w : widgets) places.push_back({w, place});
    };
    for (ToolbarItem item : s.screen().toolbar()->shownItems()) mark(s.screen().toolbar()->item(item), 0);
    const auto tiles = s.tiles();
    for (std::size_t i = 0; i < tiles.size(); ++i) mark(tiles[i], 1 + static_cast<int>(i));
    if (s.screen().pictureKind() != PictureAreaKind::feedGrid) mark(s.screen().pictureView(), 1);
    mark(s.screen().bottomColumn(), 10);
    mark(s.screen().inspector(), 11);
    auto placeOf = [&](QWidget* w) {
        for (const auto& [widget, place] : places)
            if (widget == w) return place;
        return -1;
    };
    std::string order;
    int last = 0;
    bool follows = !places.empty();
    for (std::size_t i = 0; i < places.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
        QWidget* w = QApplication::focusWidget();
        const int place = placeOf(w);
        order += std::string(w ? w->metaObject()->className() : "nothing") + " \"" +
                 (w ? w->accessibleName().toStdString() : "") + "\", ";
        if (i == 0 && w != places.front().first) follows = false;
        if (place < last) follows = false;
        last = std::max(last, place);
    }
    if (!follows) s.fail(layout + ": Tab does not follow the screen: " + order);
    if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
}

void selectedCamera(Shooter& s) {
    if (s.controller().feeds().empty()) return s.fail("no camera to select");
    s.controller().setSelectedID(s.controller().feeds().front()->id());
    s.settle(800);
    s.shoot("06-selected-camera");
    checkTabOrder(s, "06-selected-camera");
}

void solo(Shooter& s) {
    const auto tiles = s.tiles();
    if (tiles.size() != 4) return s.fail("four tiles to expand one of");
    QTest::mouseClick(tiles[1]->expandButton(), Qt::LeftButton);
    s.settle(800);
    s.shoot("06b-solo");
    const auto shown = s.tiles();
    s.check(shown.size() == 1 && s.controller().soloID() == shown[0]->feed()->id(), "one camera fills the area");
    s.check(!shown.empty() && shown[0]->expandButton()->label() == QLatin1String("Show all cameras"),
            "its button shows all cameras again");
    if (!shown.empty()) QTest::mouseClick(shown[0]->expandButton(), Qt::LeftButton);
    s.settle(300);
    s.check(s.tiles().size() == 4, "every camera is back");
}

/// A loupe picture as the camera sends it: a JPEG of a sharp detail.
Bytes loupePicture() {
    QImage image(240, 240, QImage::Format_RGB32);
    image.fill(QColor(38, 44, 52));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 240; i += 12) {
        p.setPen(QPen(QColor(230, 220, 200), 2));
        p.drawLine(120, 120, i, 0);
        p.drawLine(120, 120, i, 240);
    }
    p.setPen(QPen(QColor(80, 255, 120), 3));  // focus contours
    p.drawEllipse(QPointF(120, 120), 60, 60);
    p.end();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 85);
    return LoupePacket{Bytes(jpeg.begin(), jpeg.end())}.encode();
}

Bytes histogramPacket(int shift) {
    HistogramPacket packet;
    for (int i = 0; i < 64; ++i) {
        const double x = (i - 24 - shift) / 10.0;
        packet.bins[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(230 * std::exp(-x * x) + 12);
    }
    return packet.encode();
}

Bytes scopePacket(ScopeKind kind) {
    ScopePacket packet;
    packet.kind = kind;
    packet.width = 96;
    packet.height = kind == ScopeKind::parade ? 48 : 32;
    const int rows = kind == ScopeKind::parade ? 16 : 32;
    for (int row = 0; row < packet.height; ++row)
        for (int x = 0; x < packet.width; ++x) {
            // A luma trace: a gentle ramp with a bright band, as a lit scene gives.
            const int level = (row % rows);
            const int trace = rows - 1 - (x * (rows - 4) / packet.width + (x / 24) % 2 * 3);
            const int d = std::abs(level - trace);
            packet.intensities.push_back(static_cast<std::uint8_t>(d == 0 ? 255 : d == 1 ? 150 : d == 2 ? 60 : 0));
        }
    return *packet.encode();
}

void loupeGuidesAndLevel(Shooter& s) {
    Defaults::standard().set("showGrid", true);
    Defaults::standard().set("showLevel", true);
    for (std::size_t i = 0; i < s.cameras.size(); ++i) {
        auto status = s.statusFor(static_cast<int>(i));
        status.loupe = i == 0;
        status.loupeContours = true;
        s.cameras[i]->setStatus(status);
        s.cameras[i]->send(LevelPacket::fromRoll(i == 0 ? 0.2 : i == 1 ? 4.6 : -9.3 + static_cast<double>(i)).encode());
    }
    s.cameras[0]->send(loupePicture());
    s.check(s.waitFor([&] {
        const auto tiles = s.tiles();
        return !tiles.empty() && tiles[0]->readings().loupe && !tiles[0]->feed()->live().loupe().isNull();
    }),
            "the loupe shows its picture");
    s.settle(800);
    s.shoot("07b-loupe-guides-level");
    for (auto* tile : s.tiles()) s.check(tile->feed()->live().roll().has_value(), "every camera reports its tilt");
}

void falseColour(Shooter& s) {
    s.controller().setShowHistogram(true);
    for (std::size_t i = 0; i < s.cameras.size(); ++i) {
        auto status = s.statusFor(static_cast<int>(i));
        status.falseColor = i == 1;
        status.scope = i == 1 ? ScopeKind::waveform : i == 2 ? ScopeKind::parade : ScopeKind::off;
        s.cameras[i]->setStatus(status);
        s.cameras[i]->send(histogramPacket(static_cast<int>(i) * 6));
        if (status.scope != ScopeKind::off) s.cameras[i]->send(scopePacket(status.scope));
    }
    s.check(s.waitFor([&] {
        const auto tiles = s.tiles();
        return tiles.size() == 4 && tiles[1]->readings().legend && tiles[1]->readings().scope &&
               tiles[2]->readings().scope && tiles[0]->readings().histogram;
    }),
            "the legend, the scopes and the histograms show");
    s.controller().setSelectedID(s.controller().feeds()[1]->id());
    s.controller().setSoloID(s.controller().feeds()[1]->id());
    s.settle(800);
    s.shoot("07c-false-colour-legend");
    s.controller().setSoloID(std::nullopt);
    s.settle(300);
    s.shoot("07d-readings-four-cameras");
    // Back to plain pictures for the states that follow.
    Defaults::standard().set("showGrid", false);
    Defaults::standard().set("showLevel", false);
    s.controller().setShowHistogram(false);
    for (std::size_t i = 0; i < s.cameras.size(); ++i) s.cameras[i]->setStatus(s.statusFor(static_cast<int>(i)));
    s.settle(500);
}

/// The selected camera as a person would set it up for a take: recording 4K Apple Log at 23.98 fps with manual
/// exposure and white balance, ProRes onto a drive, aids on and a custom look.
CameraStatus recordingStatus(CameraStatus status) {
    status.isRecording = true;
    status.resolution = Resolution{3840, 2160};
    status.frameRate = 24;
    status.ntsc = true;
    status.colorProfile = ColorProfile::appleLog;
    FormatOption hd;
    hd.resolution = Resolution{1920, 1080};
    hd.frameRates = {24, 25, 30, 60};
    hd.logFrameRates = {24, 25, 30};
    FormatOption uhd;
    uhd.resolution = Resolution{3840, 2160};
    uhd.frameRates = {24, 25, 30};
    uhd.logFrameRates = {24, 25, 30};
    status.formats = {hd, uhd};
    status.lenses = {0.5, 1.0, 3.0};
    status.zoom = 1.0;
    status.exposure = ExposureSetting::Manual{800, 1.0 / 48};
    status.shutterAngle = 180;
    status.minISO = 50;
    status.maxISO = 3200;
    status.minShutter = 1.0 / 8000;
    status.maxShutter = 1.0 / 4;
    status.liveISO = 800;
    status.liveShutter = 1.0 / 48;
    status.supportsManualWhiteBalance = true;
    status.whiteBalance = WhiteBalance::Manual{5600, 4};
    status.supportsManualFocus = true;
    status.focus = FocusSetting::Manual{0.62f};
    status.proResCodecs = {VideoCodec::proRes422HQ, VideoCodec::proRes422};
    status.codec = VideoCodec::proRes422HQ;
    status.externalDrive = DriveStatus{"T7 Shield", 812'000'000'000LL, std::nullopt};
    status.recordToDrive = true;
    status.stabilizationModes = {Stabilization::standard, Stabilization::cinematic};
    status.audioInputs = {{"builtin", "iPhone Microphone"}, {"usb", "Wireless Mic"}};
    status.audioInput = "usb";
    status.zebras = true;
    status.peaking = true;
    status.peakingLevel = PeakingLevel::high;
    status.previewLUT = PreviewLUT::custom;
    status.customLUTName = "Film Look";
    status.timerSeconds = 3;
    return status;
}

ScriptedCamera* selectedCameraScript(Shooter& s) {
    const auto feed = s.controller().selectedFeed();
    if (!feed) return nullptr;
    for (auto& camera : s.cameras)
        if (camera->name() == feed->name()) return camera.get();
    return nullptr;
}

CaptureControls* shownControls(Shooter& s) {
    for (auto* controls : s.app.window()->findChildren<CaptureControls*>())
        if (controls->isVisible()) return controls;
    return nullptr;
}

void recordingControlBar(Shooter& s) {
    ScriptedCamera* camera = selectedCameraScript(s);
    if (!camera) return s.fail("no selected camera");
    camera->setStatus(recordingStatus(s.statusFor(0)));
    s.check(s.waitFor([&] {
        auto* controls = shownControls(s);
        return controls && controls->shutterButton()->accessibleName() == QLatin1String("Stop recording");
    }),
            "the control bar shows the recording camera");
    s.settle(600);
    s.shoot("06c-control-bar-recording");
    if (auto* controls = shownControls(s)) {
        s.check(controls->sideControl(SideControlKind::settings)->title() == QStringLiteral("4K·23.98·LOG"),
                "the settings control shows the format badge");
        s.check(!controls->sideControl(SideControlKind::all)->isHidden(), "the All switch shows with four cameras");
        s.check(!controls->modePicker()->isEnabled(), "the mode picker waits while recording");
    }
}

void quickAdjustStrip(Shooter& s) {
    auto* controls = shownControls(s);
    if (!controls) return s.fail("no control bar");
    controls->quickAdjust()->select(QuickAdjustModel::Control::whiteBalance);
    s.settle(300);
    s.shoot("06d-quick-adjust-white-balance");
    s.check(controls->quickAdjust()->activeSlider() != nullptr, "the white-balance slider shows");
    controls->quickAdjust()->select(QuickAdjustModel::Control::ev);
}

void cameraSettingsSheet(Shooter& s) {
    s.screen().setShowCameraSettings(true);
    CameraSettingsView* view = nullptr;
    s.check(s.waitFor([&] {
        view = s.app.window()->findChild<CameraSettingsView*>();
        return view && view->isVisible();
    }),
            "the camera settings panel opens");
    if (!view) return;
    s.settle(600);
    const std::pair<SettingsSection, const char*> sections[] = {
        {SettingsSection::exposure, "06e-settings-exposure"},
        {SettingsSection::whiteBalance, "06f-settings-white-balance-focus"},
        {SettingsSection::video, "06g-settings-video"},
        {SettingsSection::sound, "06h-settings-sound-aids"},
        {SettingsSection::exposureAids, "06i-settings-exposure-aids"},
        {SettingsSection::monitoringLUT, "06j-settings-monitoring-lut"},
    };
    for (const auto& [section, name] : sections) {
        view->scrollToSection(section);
        s.shoot(name);
    }
    s.check(view->sectionHeaders().size() == 7, "seven sections");
    s.check(!view->sectionCard(SettingsSection::video)->isEnabled(), "the Video section waits while recording");
    if (auto* done = qobject_cast<QAbstractButton*>(view->control(QStringLiteral("Done")))) done->click();
    s.settle(300);
    s.check(!s.screen().showCameraSettings(), "Done closes the panel");
    if (ScriptedCamera* camera = selectedCameraScript(s)) camera->setStatus(s.statusFor(0));
    s.settle(300);
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
    s.check(s.screen().sheetBackdrop()->isVisible(), "the screen dims behind the sheet");
    // Esc from where the keyboard is, as a person presses it.
    if (sheet) QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : sheet, Qt::Key_Escape);
    s.settle(300);
    s.check(!s.screen().showCameras() && !s.screen().openSheet(), "Esc closes the sheet");
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

void gallery(Shooter& s) {
    auto feeds = s.controller().feeds();
    if (feeds.empty()) return s.fail("no camera for the gallery");
    s.screen().setGalleryFeed(feeds.front());
    s.settle(600);
    s.shoot("13-gallery");
    auto* sheet = s.screen().openSheet();
    auto* view = sheet ? sheet->findChild<GalleryView*>() : nullptr;
    s.check(view != nullptr, "the gallery sheet opens");
    s.check(view && view->doneButton()->isVisible(), "the gallery has its \"Done\"");
    s.screen().setGalleryFeed(nullptr);
    s.settle(300);
}

void settingsSheet(Shooter& s) {
    s.screen().setShowSettings(true);
    s.settle(600);
    s.shoot("14-settings");
    auto* sheet = s.screen().openSheet();
    auto* view = sheet ? sheet->findChild<SettingsView*>() : nullptr;
    s.check(view != nullptr, "the settings sheet opens");
    s.check(view && view->nameField()->text().size() > 0, "the device's name shows");
    // The import switch, further down.
    if (auto* scroll = view ? view->findChild<QScrollArea*>() : nullptr) {
        scroll->ensureWidgetVisible(view->importsToggle());
        s.shoot("14b-settings-import");
    }
    if (view) view->done();
    s.settle(300);
    s.check(!s.screen().openSheet(), "\"Done\" closes the settings");
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

// MARK: Deck takes and editor

/// Three cameras' copies of one take made by the ffmpeg tool, a two-camera take and an exported one.
RetouchTake fillTakeLibrary(Shooter& s, RetouchLibrary& library) {
    const Date start = Date::now().addingTimeInterval(-3600);
    auto clip = [&](const std::string& camera, double offset, const char* pattern, double tone) {
        RetouchClip c;
        c.camera = camera;
        c.file = c.id.uuidString() + ".mov";
        c.start = start.addingTimeInterval(offset);
        c.duration = 6;
        fixtures::Clip movie;
        movie.pattern = pattern;
        movie.tone = tone;
        movie.seconds = 6;
        movie.width = 640;
        movie.height = 360;
        movie.rate = 30;
        s.check(fixtures::makeClip(library.directory() / c.file, movie), "ffmpeg makes a deck copy");
        return c;
    };
    RetouchTake first;
    first.number = 1;
    first.clips = {clip("Wide", 0, "testsrc2", 440), clip("Close", 0, "smptehdbars", 660)};
    first.cuts = {{"Wide", start}, {"Close", start.addingTimeInterval(3)}};
    RetouchTake second;
    second.number = 2;
    second.name = "Interview";
    second.clips = {clip("Wide", 600, "testsrc2", 440), clip("Close", 600, "smptehdbars", 660),
                    clip("Side", 600.4, "rgbtestsrc", 880)};
    second.cuts = {{"Wide", start.addingTimeInterval(600)},
                   {"Close", start.addingTimeInterval(601.5)},
                   {"Side", start.addingTimeInterval(603)},
                   {"Wide", start.addingTimeInterval(604.5)}};
    RetouchTake third;
    third.number = 3;
    third.exportedAt = Date::now();
    third.exportedClips = {clip("Wide", 1200, "testsrc2", 440)};
    library.setTakes({first, second, third});
    return second;
}

/// The remote started as the deck: the desktop window goes, the deck configuration's window comes up on the
/// same link, and the paired cameras join it.
void deckConfiguration(Shooter& s) {
    s.app.window()->hide();
    MorvaneApp::Options options;
    options.deck = true;
    s.deck = std::make_unique<MorvaneApp>(std::move(options));
    s.deck->show();
    s.deck->window()->move(0, 0);
    s.check(s.screen().isDeckPhone(), "the deck configuration");
    s.check(s.waitFor([&] { return s.controller().feeds().size() == s.cameras.size() && s.pictures().size() > 0; }),
            "the paired cameras join the deck");
    s.settle(800);
    s.shoot("19-deck-configuration");
    auto* takes = s.screen().toolbar()->item(ToolbarItem::takes);
    s.check(takes && takes->isVisible(), "the takes button shows");
    checkTabOrder(s, "19-deck-configuration");
    s.check(s.controller().deckMode() && s.controller().collectsDeckCopies(), "deck mode, collecting deck copies");
}

TakesView* takesView(Shooter& s) {
    auto* sheet = s.screen().takesSheet();
    return sheet ? qobject_cast<TakesView*>(sheet->content()) : nullptr;
}

void deckTakes(Shooter& s) {
    // The takes button, as the user clicks it.
    QWidget* takes = s.screen().toolbar()->item(ToolbarItem::takes);
    auto* button = takes ? takes->findChild<QAbstractButton*>() : nullptr;
    if (!button) return s.fail("no takes button");
    QTest::mouseClick(button, Qt::LeftButton);
    s.settle(400);
    auto* view = takesView(s);
    s.check(view, "the takes sheet shows the takes screen");
    if (!view) return;
    fillTakeLibrary(s, view->library());
    if (s.cameras.size() > 1) {
        auto status = s.statusFor(1);
        status.deckCopiesWaiting = 3;
        status.deckCopiesPreparing = 1;
        status.deckCopyProgress = 0.42;
        s.cameras[1]->setStatus(status);
    }
    s.check(s.waitFor([&] { return view->rows().size() == 3 && view->findChild<QWidget*>("arrivingRow"); }),
            "three takes and an arriving copy are listed");
    s.settle(300);
    s.shoot("20-deck-takes");
    if (s.cameras.size() < 2) return;
    // The pointer on Take 1; the copy comes in and its take is filed on top: Take 1 stays under the pointer.
    auto placeOfFirst = [&]() -> QRect {
        for (auto* row : view->rows())
            if (row->take().number == 1 && row->isVisible())
                return QRect(row->mapTo(s.shown().window(), QPoint(0, 0)), row->size());
        return {};
    };
    const QRect before = placeOfFirst();
    QCursor::setPos(s.shown().window()->mapToGlobal(before.center()));
    s.settle(200);
    s.cameras[1]->setStatus(s.statusFor(1));
    s.check(s.waitFor([&] { return view->findChild<QLabel*>("arrivingStatus")->text() == "all copies in"; }),
            "the copy is in");
    auto filed = view->library().takes();
    RetouchTake arrived = filed.front();
    arrived.id = Uuid();
    arrived.number = 4;
    arrived.name = "Arrived";
    filed.push_back(arrived);
    view->library().setTakes(filed);
    s.settle(400);
    s.shoot("20b-deck-takes-copy-in");
    s.check(!before.isEmpty() && placeOfFirst() == before, "Take 1 stays under the pointer as its copy comes in");
    filed.pop_back();
    view->library().setTakes(filed);
    QCursor::setPos(0, 0);
    s.settle(200);
}

void deckEditor(Shooter& s) {
    auto* view = takesView(s);
    if (!view) return s.fail("no takes screen");
    TakeRow* row = nullptr;
    for (auto* r : view->rows())
        if (r->take().name == "Interview") row = r;
    if (!row) return s.fail("the three-camera take is listed");
    QTest::mouseClick(row, Qt::LeftButton);
    auto* editorView = view->editor();
    if (!editorView) return s.fail("a row opens the editor");
    auto& editor = editorView->editor();
    // The first preview is in place before the playhead moves: a rebuild seeks to where it began.
    s.waitFor([&] { return editor.loaded() && !editorView->player().picture().isNull(); });
    editor.seek(3.4);  // where every camera has a picture
    s.check(s.waitFor([&] {
        const auto buttons = editorView->findChildren<AngleButton*>();
        if (buttons.size() != 3 || editorView->player().picture().isNull()) return false;
        for (auto* b : buttons)
            if (b->image().isNull()) return false;
        return true;
    }),
            "the preview and the three camera pictures show");
    s.settle(1200);
    s.shoot("21-deck-editor");

    editor.setSelection(EditorSelection::switchPoint(editor.edit()->switches[2].id));
    s.shoot("21b-deck-switch-panel");
    editor.selectBlock(2.0);
    s.shoot("21c-deck-block-panel");
    editor.removeBlock(1.5, 3.0);
    editor.selectBlock(2.0);
    s.settle(800);
    s.shoot("21d-deck-removed-panel");
    editor.undo();
    editor.setSelection(std::nullopt);

    editor.openSound();
    s.settle(400);
    s.check(editorView->soundSheet() != nullptr, "the sound sheet opens");
    s.shoot("21e-deck-sound-sheet");
    if (editorView->soundSheet()) editorView->soundSheet()->reject();
    s.settle(300);

    // The export's cards: a held export shows its progress, then finishes with a program file.
    std::function<void(float)> progress;
    RetouchBuilder::ExportCompletion finish;
    editor.setExporter([&](RetouchBuilder::Program, RetouchTake, QObject*, std::function<void(float)> p,
                           RetouchBuilder::ExportCompletion c) {
        progress = std::move(p);
        finish = std::move(c);
    });
    editor.exportTask();
    s.check(s.waitFor([&] { return bool(progress); }), "the export starts");
    if (progress) progress(0.42f);
    s.shoot("21f-deck-export-progress");
    s.check(editorView->shownCard() == "progress", "the progress card shows");
    if (finish) {
        const auto program = editor.library().programFolder() / "Interview \u2013 Program.mov";
        std::filesystem::create_directories(program.parent_path());
        std::filesystem::copy_file(editor.library().directory() / editor.take()->clips[0].file, program,
                                   std::filesystem::copy_options::overwrite_existing);
        finish(program, nullptr);
    }
    s.settle(300);
    s.shoot("21g-deck-export-done");
    s.check(editorView->shownCard() == "done", "the done card shows");
    editor.done();
    s.settle(300);
    s.shoot("22-deck-takes-after-export");
    s.screen().setShowTakes(false);
    s.settle(300);
}

/// The deck's takes and editor in a laptop's smaller windows: a double-click on the strip opens its block's panel
/// inside the window, and the editor's Export lies apart from where the takes screen's Done was.
void deckEditorWindowSizes(Shooter& s) {
    QWidget* window = s.screen().window();
    const QSize original = window->size();
    const auto inWindow = [&](QWidget* w) { return QRect(w->mapTo(window, QPoint(0, 0)), w->size()); };
    const std::pair<QSize, const char*> sizes[] = {{QSize(960, 600), "23-deck-editor-960x600"},
                                                   {QSize(1280, 800), "24-deck-editor-1280x800"}};
    for (const auto& [size, name] : sizes) {
        const std::string at(name);
        window->resize(size);
        s.check(s.waitFor([&] { return window->size() == size; }), at + ": the window takes its size");
        s.screen().setShowTakes(true);
        s.settle(400);
        auto* view = takesView(s);
        if (!view) return s.fail(at + ": no takes screen");
        s.shoot(at + "-takes");
        auto* done = view->findChild<QWidget*>(QStringLiteral("takesDone"));
        TakeRow* row = nullptr;
        for (auto* r : view->rows())
            if (r->take().number == 1) row = r;
        if (!done || !row) return s.fail(at + ": the takes screen shows Done and the two-camera take");
        const QRect doneRect = inWindow(done);
        QTest::mouseClick(row, Qt::LeftButton);
        auto* editorView = view->editor();
        if (!editorView) return s.fail(at + ": a row opens the editor");
        auto& editor = editorView->editor();
        s.check(s.waitFor([&] { return editor.loaded() && !editorView->player().picture().isNull(); }),
                at + ": the preview shows");
        s.settle(600);
        auto* strip = editorView->findChild<RetouchStrip*>();
        QTest::mouseDClick(strip, Qt::LeftButton, {}, QPoint(int(strip->geometry().x(1.0)), strip->height() / 2));
        s.settle(600);
        auto* panel = editorView->findChild<SelectionPanel*>();
        s.check(panel->shownPanel() == "block", at + ": a double-click on the strip selects its block");
        s.check(window->rect().contains(inWindow(panel)), at + ": the block's panel lies inside the window");
        auto* exportButton = editorView->findChild<QWidget*>(QStringLiteral("exportButton"));
        s.check(!inWindow(exportButton).intersects(doneRect), at + ": Export lies apart from where Done was");
        s.shoot(at);
        editor.setSelection(std::nullopt);
        emit editorView->closeRequested();
        s.screen().setShowTakes(false);
        s.settle(300);
    }
    window->resize(original);
    s.settle(300);
}

// MARK: Layouts: every camera count at every window size

/// One overlay drawn over the pictures, in window coordinates: what of it shows, and all of it.
struct Overlay {
    std::string what;
    QRect rect;
    QRect whole;
    QRect room;  ///< where it must fit: its tile, or the window's picture side
};

QRect inWindow(Shooter& s, QWidget* widget, QRect rect) {
    return QRect(widget->mapTo(s.app.window(), rect.topLeft()), rect.size());
}

/// The window's part left of the camera settings column, when that is open.
QRect contentRect(Shooter& s) {
    QRect content = s.app.window()->rect();
    if (QWidget* inspector = s.screen().inspector(); inspector && inspector->isVisible())
        content.setRight(inspector->mapTo(s.app.window(), QPoint(0, 0)).x() - 1);
    return content;
}

/// Everything that draws text or symbols over the pictures: every tile's pills, figures, buttons, readings,
/// deck bar and badge, and the screen's own bars. Each is cut to what of it can show (its tile, the window).
std::vector<Overlay> overlays(Shooter& s) {
    std::vector<Overlay> out;
    const QRect window = contentRect(s);
    auto add = [&](const std::string& what, QWidget* widget, QRect clip) {
        if (!widget || !widget->isVisibleTo(s.app.window())) return;
        const QRect whole = inWindow(s, widget, widget->rect());
        const QRect r = whole.intersected(clip);
        if (!r.isEmpty()) out.push_back({what, r, whole, clip});
    };
    for (auto* tile : s.tiles()) {
        const std::string name = tile->feed()->name();
        const QRect clip = inWindow(s, tile, tile->rect()).intersected(window);
        if (auto* pills = tile->findChild<SingleFeedPills*>()) {
            add(name + " name pill", pills->namePill(), clip);
            add(name + " recording time", pills->recordingPill(), clip);
        }
        add(name + " figures", tile->findChild<FeedStats*>(), clip);
        add(name + " expand button", tile->expandButton(), clip);
        add(name + " readings", tile->readingsColumn(), clip);
        add(name + " no-picture notice", tile->noPictureNotice(), clip);
        add(name + " deck bar", tile->deckBar(), clip);
        // The badge lies under the deck bar, which covers it, in deck mode.
        if (tile->onAirBadgeShown() && !tile->deckBar()->isVisible()) {
            const QRect whole = inWindow(s, tile, tile->onAirBadgeRect());
            const QRect badge = whole.intersected(clip);
            if (!badge.isEmpty()) out.push_back({name + " on-air badge", badge, whole, clip});
        }
    }
    for (ToolbarItem item : s.screen().toolbar()->shownItems())
        add("top bar item " + std::to_string(static_cast<int>(item)), s.screen().toolbar()->item(item), window);
    for (auto* row : s.screen().findChildren<TransferRow*>()) add("transfer row", row, window);
    for (auto* controls : s.screen().findChildren<CaptureControls*>()) add("control panel", controls, window);
    for (auto* stats : s.screen().bottomColumn()->findChildren<FeedStats*>())
        add("the camera's figures", stats, window);
    return out;
}

/// The controls a person clicks: each must take a click at its centre (and a deck bar at both its ends).
std::vector<std::pair<std::string, QWidget*>> controlsToClick(Shooter& s) {
    std::vector<std::pair<std::string, QWidget*>> out;
    auto add = [&](const std::string& what, QWidget* widget) {
        if (widget && widget->isVisibleTo(s.app.window())) out.push_back({what, widget});
    };
    for (auto* tile : s.tiles()) {
        const std::string name = tile->feed()->name();
        if (auto* pills = tile->findChild<SingleFeedPills*>(); pills && tile->showsChrome())
            add(name + "'s name pill", pills->namePill());
        add(name + "'s expand button", tile->expandButton());
        if (s.controller().deckMode()) add(name + "'s deck bar", tile->deckBar());
        if (tile->readings().loupe) add(name + "'s loupe", tile->loupe());
    }
    for (ToolbarItem item : s.screen().toolbar()->shownItems()) {
        QWidget* widget = s.screen().toolbar()->item(item);
        auto* button = widget ? widget->findChild<QAbstractButton*>() : nullptr;
        add("top bar item " + std::to_string(static_cast<int>(item)), button ? button : widget);
    }
    for (auto* row : s.screen().findChildren<TransferRow*>())
        if (row->isVisible()) add("a transfer row's button", row->findChild<QAbstractButton*>());
    for (auto* controls : s.screen().findChildren<CaptureControls*>())
        for (auto* button : controls->findChildren<QAbstractButton*>())
            add("the panel's \"" + button->accessibleName().toStdString() + "\"", button);
    // The settings column's controls, those scrolled into its view.
    if (QWidget* inspector = s.screen().inspector(); inspector && inspector->isVisible())
        for (auto* button : inspector->findChildren<QAbstractButton*>()) {
            if (!button->isVisibleTo(s.app.window())) continue;
            const QRect r = inWindow(s, button, button->rect());
            bool inView = true;
            for (QWidget* up = button->parentWidget(); up && up != inspector; up = up->parentWidget())
                if (!inWindow(s, up, up->rect()).contains(r.center())) inView = false;
            if (inView) add("the settings column's \"" + button->accessibleName().toStdString() + "\"", button);
        }
    return out;
}

/// Whether the person opened the panel in a window with no room for it: it then lies over the pictures, which
/// keep their size, and covers what lies under it.
bool panelOpenedOverPictures(Shooter& s) {
    if (s.screen().bottomLayout().place != ColumnPlace::over) return false;
    for (auto* controls : s.screen().findChildren<CaptureControls*>())
        if (controls->isVisible() && !controls->isCollapsed()) return true;
    return false;
}

/// No overlay draws over another one or runs off its tile; every control takes a click where it shows.
void checkOverlays(Shooter& s, const std::string& layout) {
    const auto shown = overlays(s);
    const bool panelOver = panelOpenedOverPictures(s);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (!shown[i].room.contains(shown[i].whole)) s.fail(layout + ": " + shown[i].what + " runs off its place");
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            auto inColumn = [](const Overlay& o) {
                return o.what == "control panel" || o.what == "the camera's figures";
            };
            if (panelOver && (inColumn(shown[i]) || inColumn(shown[j]))) continue;
            if (shown[i].rect.intersects(shown[j].rect))
                s.fail(layout + ": " + shown[i].what + " crosses " + shown[j].what);
        }
    }
    for (auto* row : s.screen().findChildren<TransferRow*>()) {
        if (!row->isVisible()) continue;
        const auto pieces = row->pieceRects();
        for (std::size_t i = 0; i < pieces.size(); ++i)
            for (std::size_t j = i + 1; j < pieces.size(); ++j)
                if (pieces[i].intersects(pieces[j]))
                    s.fail(layout + ": a transfer row draws one of its parts over another");
    }
    QWidget* window = s.app.window();
    for (const auto& [what, target] : controlsToClick(s)) {
        const QRect r = inWindow(s, target, target->rect());
        std::vector<QPoint> points{r.center()};
        if (qobject_cast<DeckBar*>(target)) {
            points.push_back(QPoint(r.left() + 12, r.center().y()));
            points.push_back(QPoint(r.right() - 12, r.center().y()));
        }
        for (const QPoint& point : points) {
            QWidget* hit = window->childAt(point);
            const bool underOpenedPanel = panelOver && hit && !target->isAncestorOf(hit) && [&] {
                for (QWidget* up = hit; up; up = up->parentWidget())
                    if (up == s.screen().bottomColumn()) return true;
                return false;
            }();
            if (underOpenedPanel) continue;
            if (hit != target && !target->isAncestorOf(hit)) {
                s.fail(layout + ": " + what + " is covered by " + (hit ? hit->metaObject()->className() : "nothing"));
                break;
            }
        }
    }
}

/// The crew's hard cases with the cameras joined so far: the first camera recording with its loupe on, the
/// second too hot with false colour, the last sending files, the fourth with a waveform, histograms on,
/// striped and bright pictures in turn, the first camera selected and on air.
void busyCameras(Shooter& s) {
    s.controller().setShowHistogram(true);
    const std::size_t count = s.cameras.size();
    for (std::size_t i = 0; i < count; ++i) {
        auto status = s.statusFor(static_cast<int>(i));
        if (i == 0) {
            status.isRecording = true;
            status.loupe = true;
        }
        if (i == 1) status.thermal = 3;
        status.falseColor = true;
        if (i + 1 == count) {
            status.pendingTransfers = 3;
            status.transferName = "A014_C003_0611QX.mov";
            status.transferProgress = 0.42;
        }
        if (i == 3) status.scope = ScopeKind::waveform;
        s.cameras[i]->setStriped(i % 2 == 0);
        s.cameras[i]->setBright(i % 2 == 1);
        s.cameras[i]->setStatus(status);
        s.cameras[i]->send(histogramPacket(static_cast<int>(i) * 6));
        if (status.scope != ScopeKind::off) s.cameras[i]->send(scopePacket(status.scope));
    }
    s.cameras[0]->send(loupePicture());
    const auto feeds = s.controller().feeds();
    s.controller().setDeckMode(true);
    s.controller().putOnAir(*feeds.front());
    s.controller().setDeckMode(false);
    s.controller().setSelectedID(feeds.front()->id());
    s.check(s.waitFor([&] {
        if (!shownControls(s)) return false;
        for (auto* tile : s.tiles())
            if (!tile->readings().histogram || !tile->findChild<FeedStats*>()->statsLineShown()) return false;
        if (!s.tiles().front()->readings().loupe) return false;
        for (auto* row : s.screen().findChildren<TransferRow*>())
            if (row->isVisible()) return true;
        return false;
    }),
            "the transfer, the readings, the figures and the panel show");
}

void calmCameras(Shooter& s) {
    s.controller().setShowHistogram(false);
    s.controller().setSelectedID(std::nullopt);
    for (std::size_t i = 0; i < s.cameras.size(); ++i) {
        s.cameras[i]->setStriped(false);
        s.cameras[i]->setBright(false);
        s.cameras[i]->setStatus(s.statusFor(static_cast<int>(i)));
    }
    s.settle(500);
}

/// Where the pictures and the bars lie now, in the window: what must not move while nothing but the figures,
/// the histograms or a message changes.
struct Geometry {
    std::vector<QRect> tiles;
    QRect column;
    QRect buttons;
    friend bool operator==(const Geometry&, const Geometry&) = default;
};

std::string describe(const std::vector<QRect>& rects) {
    std::string out;
    for (const QRect& r : rects)
        out += std::to_string(r.width()) + "x" + std::to_string(r.height()) + "@" + std::to_string(r.x()) + "," +
               std::to_string(r.y()) + " ";
    return out;
}

Geometry geometryNow(Shooter& s) {
    Geometry g;
    for (auto* tile : s.tiles()) g.tiles.push_back(inWindow(s, tile, tile->rect()));
    for (auto* controls : s.screen().findChildren<CaptureControls*>())
        if (controls->isVisible()) g.column = inWindow(s, controls, controls->rect());
    if (s.screen().pictureKind() == PictureAreaKind::deckButtons)
        for (auto* button : s.screen().pictureView()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (button->isVisible()) g.buttons |= inWindow(s, button, button->rect());
    return g;
}

/// The state laid out again and again while every camera's histogram and the figures change (a statistics tick
/// comes within the rounds): the pictures and the bars stay where they are.
Geometry checkSettles(Shooter& s, const std::string& layout) {
    const Geometry first = geometryNow(s);
    for (int round = 1; round <= 8; ++round) {
        for (std::size_t i = 0; i < s.cameras.size(); ++i)
            s.cameras[i]->send(histogramPacket(static_cast<int>(i) * 6 + (round % 3) * 9 - 9));
        s.settle(160);
        const Geometry now = geometryNow(s);
        if (now != first) {
            s.fail(layout + ": the layout does not settle: pictures " + describe(first.tiles) + "become " +
                   describe(now.tiles));
            break;
        }
    }
    return first;
}

/// The least a picture keeps whatever the bars and the panel take: its name, figures and deck bar with some
/// picture under them, or all it had without the panel where the window gives less.
constexpr int leastTileHeight = 120;
constexpr int leastTileWidth = 200;

CaptureControls* panelOf(Shooter& s) {
    for (auto* controls : s.screen().findChildren<CaptureControls*>())
        if (controls->isVisibleTo(s.screen().window())) return controls;
    return nullptr;
}

/// The false-colour key shows on every picture with false colour on.
void checkKeys(Shooter& s, const std::string& layout) {
    for (auto* tile : s.tiles()) {
        if (!tile->readings().legend) continue;
        auto* legend = tile->readingsColumn()->findChild<FalseColorLegend*>();
        if (!legend || !legend->isVisibleTo(tile))
            s.fail(layout + ": " + tile->feed()->name() + " shows false colour without its key");
    }
}

/// The layouts are those of live cameras. On a busy machine a camera's pictures may pause for the 3 s that bring its
/// "no picture" notice, a state of its own: each look waits for every camera's pictures to come again.
void livePictures(Shooter& s, const std::string& layout) {
    s.check(s.waitFor([&] {
        for (const auto& feed : s.controller().feeds())
            if (feed->noPicture()) return false;
        return true;
    }),
            layout + ": every camera's pictures come");
}

/// The panel expanded, with and without a message: the pictures keep a usable size, a message moves nothing,
/// and in deck mode with live pictures off the panel keeps off the buttons.
void expandedPanelAndMessage(Shooter& s, const std::string& layout) {
    const PeerId first = s.controller().feeds().front()->id();
    s.controller().setSelectedID(std::nullopt);
    s.settle(400);
    const auto bare = geometryNow(s).tiles;
    s.controller().setSelectedID(first);
    s.check(s.waitFor([&] { return panelOf(s) != nullptr; }, 3000), layout + ": the panel shows");
    if (auto* panel = panelOf(s)) panel->setCollapsed(false);
    s.settle(500);
    const std::string expanded = layout + "-expanded";
    livePictures(s, expanded);
    s.shoot(expanded);
    const Geometry settled = checkSettles(s, expanded);
    checkOverlays(s, expanded);
    for (std::size_t i = 0; i < settled.tiles.size() && i < bare.size(); ++i) {
        const QRect& tile = settled.tiles[i];
        if (tile.height() < std::min(leastTileHeight, bare[i].height()) ||
            tile.width() < std::min(leastTileWidth, bare[i].width()))
            s.fail(expanded + ": a picture is squeezed to " + describe({tile}) + "from " + describe({bare[i]}));
    }
    s.controller().showMessage("Saved Take 3 on Studio", 60);
    s.settle(400);
    const std::string message = layout + "-message";
    livePictures(s, message);
    s.shoot(message);
    const Geometry withMessage = checkSettles(s, message);
    if (withMessage != settled)
        s.fail(message + ": a message moves the pictures from " + describe(settled.tiles) + "to " +
               describe(withMessage.tiles));
    checkOverlays(s, message);
    s.controller().showMessage(" ", 0.001);
    s.settle(200);
    if (s.controller().deckMode()) {
        s.controller().setLivePictures(false);
        s.settle(500);
        const std::string buttons = layout + "-buttons";
        s.shoot(buttons);
        const Geometry g = geometryNow(s);
        if (g.buttons.intersects(g.column) && !panelOpenedOverPictures(s))
            s.fail(buttons + ": the panel lies over the deck buttons");
        checkOverlays(s, buttons);
        s.controller().setLivePictures(true);
    }
    if (auto* panel = panelOf(s)) panel->setCollapsed(true);
    s.settle(300);
}

/// The window sizes of laptops and small screens and one between them,
/// the deck mode off and on, the settings column closed and open: each picture is taken and checked, the
/// panel collapsed and expanded, with and without a message.
ScriptedCamera* cameraNamed(Shooter& s, const std::string& name);

/// The first camera's pictures pause (as a busy machine may make them) in the smallest tiles: the tile's "no
/// picture" notice covers none of its marks, in a shorter form or left out where it has no room.
void pausedPictures(Shooter& s, const std::string& layout) {
    const auto feed = s.controller().feeds().front();
    ScriptedCamera* camera = cameraNamed(s, feed->name());
    if (!camera) return s.fail(layout + ": no camera to pause");
    const std::string name = layout + "-paused";
    camera->stopStreaming();
    // The tile lays its notice out as the pause is told.
    s.check(s.waitFor([&] { return feed->noPicture(); }), name + ": the tile tells that no picture comes");
    s.shoot(name);
    checkOverlays(s, name);
    camera->startStreaming();
    livePictures(s, name);
}

void layouts(Shooter& s) {
    const std::size_t count = s.controller().feeds().size();
    if (count == 0 || count != s.cameras.size()) return s.fail("cameras to lay out");
    busyCameras(s);
    struct Case {
        QSize size;
        bool column;
    };
    const Case cases[] = {{{1280, 800}, false}, {{1280, 800}, true}, {{960, 600}, false},
                          {{880, 520}, false},  {{800, 480}, false}, {{800, 480}, true}};
    const QSize original = s.app.window()->size();
    for (const auto& c : cases) {
        s.app.window()->resize(c.size);
        s.screen().setShowCameraSettings(c.column);
        const std::string size = std::to_string(c.size.width()) + "x" + std::to_string(c.size.height());
        s.check(s.waitFor([&] { return s.app.window()->size() == c.size; }), size + ": the window takes its size");
        for (bool deck : {false, true}) {
            s.controller().setDeckMode(deck);
            if (auto* panel = panelOf(s)) panel->setCollapsed(true);
            s.settle(600);
            const std::string name = "40-cameras" + std::to_string(count) + "-" + size + (c.column ? "-settings" : "") +
                                     (deck ? "-deck" : "");
            livePictures(s, name);
            s.shoot(name);
            checkSettles(s, name);
            checkOverlays(s, name);
            checkKeys(s, name);
            if (!deck) checkTabOrder(s, name);
            if (c.size == QSize(800, 480) && !c.column && !deck) pausedPictures(s, name);
            expandedPanelAndMessage(s, name);
        }
        s.controller().setDeckMode(false);
    }
    s.screen().setShowCameraSettings(false);
    s.app.window()->resize(original);
    calmCameras(s);
}

// MARK: The smallest window: crowded nearby list, a take on its way, long notices

/// Waits until the screen has laid itself out after a change, as a person's next look would find it.
void settleLayout(Shooter& s) {
    s.settle(400);
}

/// Where the nearby list's rows stand and what each asks for, and how far the list is scrolled.
std::vector<QRect> rowPlaces(NearbyCameraList* list) {
    std::vector<QRect> places{QRect(0, list->scrollArea()->verticalScrollBar()->value(), 0, 0)};
    for (auto* row : list->rows()) {
        places.push_back(row->isVisible() ? row->geometry() : QRect());
        places.push_back(QRect(QPoint(), row->sizeHint()));
    }
    return places;
}

/// Waits until the nearby list has laid out its rows: nothing in it moves from one turn of the event loop to
/// the next.
bool listSettled(Shooter& s, NearbyCameraList* list) {
    std::vector<QRect> last;
    return s.waitFor([&] {
        const auto now = rowPlaces(list);
        return std::exchange(last, now) == now;
    });
}

/// Eight cameras nearby in the smallest window, on the first screen and in the "Nearby devices" sheet: every
/// name and "Pair" whole and in view, and each pairs by a click (the alert opens for it; it is cancelled here).
/// Four more start while the list is scrolled to its end: the list and the row under the pointer stay.
void crowdedNearby(Shooter& s) {
    for (int n = 1; n <= 7; ++n) s.addCamera("Spare camera " + std::to_string(n));
    const QSize original = s.app.window()->size();
    s.app.window()->resize(720, 480);
    auto* view = qobject_cast<NearbyCamerasView*>(s.screen().pictureView());
    if (!view) return s.fail("the first screen lists nearby cameras");
    auto rowsOf = [](NearbyCameraList* list) {
        std::size_t pairs = 0;
        for (auto* row : list->rows())
            if (row->button()) ++pairs;
        return pairs;
    };
    s.check(s.waitFor([&] { return rowsOf(view->list()) == 8; }), "eight cameras offer \"Pair\"");
    s.check(listSettled(s, view->list()), "the first screen's list settles");
    s.shoot("02b-eight-nearby-720x480");
    auto checkList = [&](NearbyCameraList* list, const std::string& where, bool pair) {
        // A click on "Pair" changes the row in place, to a spinner and back to "Pair" when cancelled.
        std::vector<std::string> names;
        for (auto* row : list->rows())
            if (row->button()) names.push_back(row->camera().name);
        auto rowNamed = [&](const std::string& name) -> NearbyCameraRow* {
            for (auto* row : list->rows())
                if (row->camera().name == name && row->button()) return row;
            return nullptr;
        };
        for (const std::string& name : names) {
            // Scrolled into view and laid out, with the row as it is then: shown, and nothing in the list
            // moving from one look to the next.
            QPointer<NearbyCameraRow> row;
            std::vector<QRect> last;
            const bool found = s.waitFor([&] {
                row = rowNamed(name);
                if (!row) return false;
                list->scrollArea()->ensureWidgetVisible(row, 0, 0);
                const auto now = rowPlaces(list);
                return std::exchange(last, now) == now && row && row->isVisible() &&
                       list->scrollArea()->viewport()->rect().contains(
                           QRect(row->mapTo(list->scrollArea()->viewport(), QPoint(0, 0)), row->size()));
            });
            if (!found || !row) {
                s.fail(where + ": " + name + " is not to be seen whole with its \"Pair\"");
                continue;
            }
            auto* label = row->findChild<QLabel*>(QStringLiteral("cameraName"));
            if (row->height() < row->sizeHint().height()) s.fail(where + ": " + name + "'s row is squeezed");
            if (!label || label->width() < label->fontMetrics().horizontalAdvance(label->text()))
                s.fail(where + ": " + name + " is cut");
            if (row->button()->width() < row->button()->sizeHint().width())
                s.fail(where + ": " + name + "'s \"Pair\" is cut");
            QWidget* window = row->button()->window();
            if (window->childAt(row->button()->mapTo(window, row->button()->rect().center())) != row->button())
                s.fail(where + ": " + name + "'s \"Pair\" is covered");
            if (!pair) continue;
            QTest::mouseClick(row->button(), Qt::LeftButton);
            const bool asked = s.waitFor([&] {
                auto* alert = s.screen().pairingAlert();
                return alert && alert->isVisible() &&
                       alert->informativeText().contains(QString::fromStdString("“" + name + "”"));
            });
            if (!asked) {
                s.fail(where + ": \"Pair\" of " + name + " asks nothing");
                continue;
            }
            for (auto* button : s.screen().pairingAlert()->buttons())
                if (button->text() == QLatin1String("Cancel")) button->click();
            s.waitFor([&] { return s.screen().pairingAlert() == nullptr; });
            s.waitFor([&] { return rowsOf(list) == 8; });
        }
    };
    checkList(view->list(), "the first screen", true);

    // Scrolled to the end, the pointer resting on a row; four more cameras start.
    NearbyCameraList* list = view->list();
    QScrollBar* bar = list->scrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum());
    s.check(listSettled(s, list), "the first screen's list settles at its end");
    const QPoint rest = QCursor::pos();
    QWidget* viewport = list->scrollArea()->viewport();
    const QPoint pointer = viewport->mapToGlobal(QPoint(viewport->width() / 4, viewport->height() / 2));
    QCursor::setPos(pointer);
    s.waitFor([&] { return QCursor::pos() == pointer; });
    auto rowUnder = [&]() -> std::pair<std::string, QRect> {
        for (auto* row : list->rows()) {
            const QRect place(row->mapToGlobal(QPoint(0, 0)), row->size());
            if (place.contains(pointer)) return {row->camera().name, place};
        }
        return {};
    };
    const auto before = rowUnder();
    s.check(!before.first.empty(), "a row lies under the pointer");
    const QImage atEnd = s.shoot("02d-eight-nearby-end-720x480");
    for (int n = 8; n <= 11; ++n) s.addCamera("Spare camera " + std::to_string(n));
    s.check(s.waitFor([&] { return rowsOf(list) == 12; }), "twelve cameras offer \"Pair\"");
    s.check(listSettled(s, list), "the list of twelve settles");
    const QImage twelve = s.shoot("02e-twelve-nearby-720x480");
    const auto after = rowUnder();
    if (after != before)
        s.fail("four more cameras moved the list: " + before.first + "'s row under the pointer became " +
               (after.first.empty() ? std::string("none") : after.first + "'s") +
               (after.first == before.first ? " at another place" : ""));
    const QRect shown(viewport->mapTo(s.app.window(), QPoint(0, 0)), viewport->size());
    s.check(atEnd.copy(shown) == twelve.copy(shown), "the rows in view stay as they were");
    QCursor::setPos(rest);

    s.screen().setShowNetwork(true);
    if (auto* sheet = s.screen().openSheet()) {
        auto* sheetList = sheet->findChild<NearbyCameraList*>();
        if (sheetList) s.check(listSettled(s, sheetList), "the nearby-devices sheet's list settles");
        s.shoot("02c-twelve-nearby-sheet-720x480");
        const QRect window = s.app.window()->frameGeometry();
        if (!window.contains(sheet->frameGeometry())) s.fail("the nearby-devices sheet runs off the window");
        if (sheetList) checkList(sheetList, "the nearby-devices sheet", false);
        sheet->reject();
    } else {
        s.fail("the nearby-devices sheet opens");
    }
    s.settle(300);
    s.cameras.resize(1);
    s.app.window()->resize(original);
    s.check(s.waitFor([&] { return s.nearbyId("Spare camera 1") == std::nullopt; }, 30000), "the spare cameras leave");
}

/// Where the record button and every cut control lie in the window now.
std::vector<QRect> controlPlaces(Shooter& s) {
    QWidget* window = s.shown().window();
    auto at = [&](QWidget* w) { return QRect(w->mapTo(window, QPoint(0, 0)), w->size()); };
    std::vector<QRect> out;
    for (auto* controls : window->findChildren<CaptureControls*>())
        if (controls->isVisible() && controls->shutterButton()) out.push_back(at(controls->shutterButton()));
    for (auto* deck : window->findChildren<DeckControls*>())
        if (deck->isVisible()) out.push_back(at(deck->recordButton()));
    for (auto* button : window->findChildren<DeckButton*>())
        if (button->isVisible()) out.push_back(at(button));
    for (auto* tile : s.tiles()) {
        out.push_back(at(tile));
        if (tile->deckBar()->isVisible()) out.push_back(at(tile->deckBar()));
    }
    return out;
}

/// The last camera sends a take and then has nothing more to send: the record button, the cut buttons and the
/// pictures stay where they were from before it until after it.
void takeOnItsWay(Shooter& s, QSize size, const std::string& name) {
    QWidget* window = s.shown().window();
    const QSize original = window->size();
    window->resize(size);
    s.controller().setSelectedID(s.controller().feeds().front()->id());
    s.waitFor([&] { return window->size() == size; });
    settleLayout(s);
    const auto before = controlPlaces(s);
    s.check(!before.empty(), name + ": the controls show");
    s.shoot(name + "-before");
    auto& camera = *s.cameras.back();
    const int index = static_cast<int>(s.cameras.size()) - 1;
    CameraStatus sending = s.statusFor(index);
    sending.pendingTransfers = 2;
    sending.transferName = "Take 01 – 18.11.38.mov";
    sending.transferProgress = 0.37;
    camera.setStatus(sending);
    s.check(s.waitFor([&] {
        for (auto* row : window->findChildren<TransferRow*>())
            if (row->isVisible()) return true;
        return false;
    }),
            name + ": the take's row shows");
    settleLayout(s);
    s.shoot(name + "-sending");
    if (controlPlaces(s) != before) s.fail(name + ": the controls moved when the take set off");
    camera.setStatus(s.statusFor(index));
    s.waitFor([&] {
        for (auto* row : window->findChildren<TransferRow*>())
            if (row->isVisible()) return false;
        return true;
    });
    settleLayout(s);
    if (controlPlaces(s) != before) s.fail(name + ": the controls moved when the take arrived");
    window->resize(original);
    s.settle(300);
}

// MARK: Notices

void sendEvent(ScriptedCamera& camera, const CameraEvent& event) {
    if (auto packet = encodeMessage(PacketType::event, event)) camera.send(*packet);
}

ScriptedCamera* cameraNamed(Shooter& s, const std::string& name) {
    for (auto& camera : s.cameras)
        if (camera->name() == name) return camera.get();
    return nullptr;
}

StayingNotices* noticeBand(Shooter& s) {
    return s.screen().stayingNotices();
}

/// Every notice shown is read whole: inside the window and its room, each text as tall as its wrapped lines; the
/// card of the newest has its close button, and with others the count of them and "Dismiss all".
void checkNoticesWhole(Shooter& s, const std::string& name) {
    auto* staying = noticeBand(s);
    if (!staying || !staying->isVisible() || !staying->shown()) return s.fail(name + ": no notice that stays shows");
    const QRect room = s.screen().noticePlan().passing.united(s.screen().bottomLayout().notices);
    if (!room.contains(staying->geometry())) s.fail(name + ": the notices leave their room");
    for (QWidget* band :
         {static_cast<QWidget*>(staying), static_cast<QWidget*>(s.screen().messageLayer()->findChild<NoticeBand*>())}) {
        if (!band || !band->isVisible()) continue;
        const QRect inWindow(band->mapTo(s.shown().window(), QPoint(0, 0)), band->size());
        if (!s.shown().window()->rect().contains(inWindow)) s.fail(name + ": a notice runs off the window");
        for (auto* text : band->findChildren<QLabel*>(QStringLiteral("noticeText")))
            if (text->isVisible() && text->height() < text->heightForWidth(text->width()))
                s.fail(name + ": a notice is cut: " + text->accessibleName().toStdString());
    }
    const bool counted = staying->part() == NoticePlan::Staying::count;
    std::size_t closes = 0;
    for (auto* close : staying->findChildren<CloseButton*>()) closes += close->isVisible();
    if (closes != (counted ? 0u : 1u)) s.fail(name + ": the newest notice has no close button");
    if (staying->notices().size() > 1 && !(staying->moreButton() && (counted || staying->dismissAllButton())))
        s.fail(name + ": the others are not counted, or cannot be read all at once");
}

/// A passing line shows whole, at the size of its letters, or not at all.
void checkPassingWhole(Shooter& s, const std::string& name) {
    QWidget* layer = s.screen().messageLayer();
    if (layer->isVisible() && layer->height() < layer->heightForWidth(layer->width()))
        s.fail(name + ": the passing line is squeezed to " + std::to_string(layer->height()) + " points");
}

/// Something shows that leads to the notices: it answers a click at its centre and opens their list, in the window.
void checkWayToNotices(Shooter& s, const std::string& name) {
    QWidget* window = s.shown().window();
    auto* staying = noticeBand(s);
    QPushButton* more = staying && staying->isVisible() ? staying->moreButton() : nullptr;
    if (!more || !more->isVisible()) return s.fail(name + ": nothing shows that there are notices");
    const QPoint centre = inWindow(s, more, more->rect()).center();
    QWidget* hit = window->childAt(centre);
    if (!hit || !(hit == more || more->isAncestorOf(hit)))
        return s.fail(name + ": the way to the notices takes no click");
    QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(window, centre));
    s.check(s.waitFor([&] { return staying->list() != nullptr; }), name + ": it opens the list");
    s.settle(300);
    s.shoot(name + "-list");
    if (QWidget* list = staying->list()) {
        const QRect onScreen(list->mapToGlobal(QPoint(0, 0)), list->size());
        const QRect windowOnScreen(window->mapToGlobal(QPoint(0, 0)), window->size());
        s.check(windowOnScreen.contains(onScreen), name + ": the list lies in the window");
        list->close();
    }
    s.settle(200);
}

/// Reads every notice that stays, in one click, as a person does.
void dismissNotices(Shooter& s) {
    if (auto* staying = noticeBand(s); staying && staying->isVisible()) {
        QAbstractButton* button = staying->dismissAllButton();
        if (!button && staying->part() == NoticePlan::Staying::count) {
            // The count alone: its list reads them all.
            QTest::mouseClick(staying->moreButton(), Qt::LeftButton);
            if (s.waitFor([&] { return staying->list() != nullptr; }))
                button = staying->list()->findChild<QPushButton*>(QStringLiteral("dismissAllNotices"));
        }
        if (!button) {
            auto closes = staying->shown()->findChildren<CloseButton*>();
            if (!closes.isEmpty()) button = closes.front();
        }
        if (button) QTest::mouseClick(button, Qt::LeftButton);
    }
    s.check(s.waitFor([&] { return s.controller().notices().empty() || !s.controller().notices().front().stays; }),
            "read notices go");
    s.settle(200);
}

/// At the smallest windows: the shoot folder gone while four cameras stop (one notice for the four takes, naming
/// the folder and why), and a camera whose Pictures folder cannot take its take (where the take waits).
void noticesAtSmallSizes(Shooter& s) {
    if (s.controller().feeds().size() < 4) return s.fail("four cameras to stop");
    const QSize original = s.app.window()->size();
    const auto gone = std::filesystem::path(QDir::tempPath().toStdString()) / "Unplugged T7" / "Shoot";
    const auto arriving = std::filesystem::path(QDir::tempPath().toStdString()) / "brindlecroft-screens-arriving";
    for (const QSize size : {QSize(720, 480), QSize(1024, 640)}) {
        const std::string name = "60-notices-" + std::to_string(size.width()) + "x" + std::to_string(size.height());
        s.app.window()->resize(size);
        s.check(s.waitFor([&] { return s.app.window()->size() == size; }), name + ": the window takes its size");
        Defaults::standard().set(std::string(ShootLibrary::bookmarkKey), gone.string());
        std::filesystem::create_directories(arriving);
        for (const auto& feed : s.controller().feeds()) {
            ScriptedCamera* camera = cameraNamed(s, feed->name());
            if (!camera) continue;
            TransferInfo info;
            info.capturedAt = Date::now();
            info.fileName = "Take 01 – " + feed->name() + ".mov";
            info.isVideo = true;
            info.duration = 12;
            if (auto packet = encodeMessage(PacketType::transferInfo, info)) camera->send(*packet);
            s.check(s.waitFor([&] { return s.controller().incomingFile(info.id.uuidString()).has_value(); }),
                    name + ": the take is announced");
            const auto file = arriving / info.id.uuidString();
            std::ofstream(file) << "take";
            s.controller().receiveShootFile(file, info.id.uuidString(), feed->id());
        }
        if (ScriptedCamera* camera = cameraNamed(s, s.controller().feeds()[1]->name()))
            sendEvent(*camera,
                      CameraEvent{CameraEvent::Kind::failed,
                                  "Couldn't save to Pictures › Brindlecroft: Not a directory. The take goes to "
                                  "the remote; until then it waits in /home/crew/.local/share/Brindlecroft/"
                                  "Outbox",
                                  std::nullopt});
        s.check(s.waitFor([&] { return s.controller().notices().size() == 2; }), name + ": two notices, no more");
        s.settle(600);
        s.shoot(name);
        checkNoticesWhole(s, name);
        const auto notices = s.controller().notices();
        s.check(!notices.empty() && notices[0].text.starts_with("The shoot folder Shoot isn't there: saved 4 files"),
                name + ": the four takes are told in one, why first");
        dismissNotices(s);
        Defaults::standard().set(std::string(ShootLibrary::bookmarkKey), std::string());
    }
    std::error_code ignored;
    std::filesystem::remove_all(arriving, ignored);
    s.app.window()->resize(original);
    s.settle(300);
}

/// A camera whose sound cannot be converted records two takes: the notice stays until read and the tile says
/// "No sound" until a take records sound again.
void silentTakes(Shooter& s) {
    const QSize original = s.app.window()->size();
    s.app.window()->resize(720, 480);
    s.check(s.waitFor([&] { return s.app.window()->size() == QSize(720, 480); }), "the window takes its size");
    const auto feed = s.controller().feeds().front();
    ScriptedCamera* camera = cameraNamed(s, feed->name());
    if (!camera) return s.fail("the first camera's script");
    for (int take = 0; take < 2; ++take) {
        sendEvent(*camera, CameraEvent{CameraEvent::Kind::failed, takeWithoutSoundMessage, std::nullopt});
        sendEvent(*camera, CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, std::nullopt});
    }
    s.check(s.waitFor([&] { return feed->noSound(); }), "the camera's takes have no sound");
    // Long after every passing word has gone.
    s.settle(static_cast<int>(MonitorController::noticeDuration * 1000) + 500);
    s.shoot("61-silent-takes-720x480");
    checkNoticesWhole(s, "61-silent-takes-720x480");
    const auto notices = s.controller().notices();
    s.check(
        notices.size() == 1 && notices[0].stays && notices[0].text.find("2 takes have no sound") != std::string::npos,
        "the two silent takes are told in one, until read");
    FeedTile* tile = nullptr;
    for (auto* shown : s.tiles())
        if (shown->feed() == feed) tile = shown;
    s.check(tile && tile->noSoundMark()->isVisible(), "the tile says \"No sound\"");
    dismissNotices(s);
    sendEvent(*camera, CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, std::nullopt});
    s.check(s.waitFor([&] { return !feed->noSound(); }), "a take with sound clears the tile");
    s.app.window()->resize(original);
    s.settle(300);
}

/// Whether any notice that stays, or their open list, lies over the widget.
bool underNotices(Shooter& s, QWidget* widget) {
    auto* staying = noticeBand(s);
    if (!staying || !staying->isVisible()) return false;
    const QRect place = inWindow(s, widget, widget->rect());
    if (inWindow(s, staying, staying->rect()).intersects(place)) return true;
    return false;
}

/// Every control and mark a crew needs is clear of the notices and answers a click at its centre.
void checkNoticesCoverNothing(Shooter& s, const std::string& name) {
    QWidget* window = s.shown().window();
    auto controls = controlsToClick(s);
    for (auto* tile : s.tiles())
        if (tile->noSoundMark()->isVisible()) controls.push_back({tile->feed()->name() + "'s \"No sound\"", tile});
    for (const auto& [what, target] : controls) {
        if (what.ends_with("\"No sound\"")) {
            auto* tile = qobject_cast<FeedTile*>(target);
            if (underNotices(s, tile->noSoundMark())) s.fail(name + ": a notice covers " + what);
            continue;
        }
        if (underNotices(s, target)) s.fail(name + ": a notice covers " + what);
        QWidget* hit = window->childAt(inWindow(s, target, target->rect()).center());
        if (!hit || !(hit == target || target->isAncestorOf(hit))) s.fail(name + ": " + what + " takes no click");
    }
}

/// The red of the record button shows in the picture where the button is.
bool recordButtonShows(Shooter& s, const QImage& shot) {
    auto* controls = shownControls(s);
    if (!controls || !controls->shutterButton()->isVisible()) return false;
    const QRect r = inWindow(s, controls->shutterButton(), controls->shutterButton()->rect()).intersected(shot.rect());
    int red = 0;
    for (int y = r.top(); y <= r.bottom(); y += 2)
        for (int x = r.left(); x <= r.right(); x += 2) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 160 && c.green() < 90 && c.blue() < 90) ++red;
        }
    return red >= 8 && !underNotices(s, controls->shutterButton());
}

/// A screen picture every 100 ms for 3 s: the record button is in each.
void watchRecordButton(Shooter& s, const std::string& name) {
    QWidget* window = s.shown().window();
    int missing = 0;
    for (int shot = 0; shot < 30; ++shot) {
        s.settle(100);
        const QRect frame = window->frameGeometry();
        const QImage image =
            QGuiApplication::platformName() == QLatin1String("xcb")
                ? window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage()
                : window->grab().toImage();
        if (!recordButtonShows(s, image)) {
            if (missing++ == 0) s.save(name + "-no-record-button", image);
        }
    }
    if (missing > 0) s.fail(name + ": no record button in " + std::to_string(missing) + " of 30 pictures");
}

/// Eight notices of four kinds from four cameras, one of them silent, in the smallest windows with the deck on:
/// the newest shows whole with a count of the others, clear of every tile's "Put on air", expand button and
/// "No sound"; the count opens the list of them all; a passing line moves no button; a cut and a notice read
/// never hide the record button; one click reads them all.
void eightNotices(Shooter& s) {
    if (s.controller().feeds().size() < 4) return s.fail("four cameras for the notices");
    QWidget* window = s.app.window();
    const QSize original = window->size();
    s.controller().setDeckMode(true);
    s.controller().putOnAirByIndex(1);
    s.controller().setSelectedID(s.controller().feeds().front()->id());
    const auto feeds = s.controller().feeds();
    if (ScriptedCamera* camera = cameraNamed(s, feeds[0]->name())) {
        sendEvent(*camera, CameraEvent{CameraEvent::Kind::failed, takeWithoutSoundMessage, std::nullopt});
        sendEvent(*camera, CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, std::nullopt});
    }
    s.check(s.waitFor([&] { return feeds[0]->noSound(); }), "the first camera's take has no sound");
    const std::vector<std::string> kinds = {
        ": can't record the chosen format in real time, so its takes drop frames. Choose a lower frame rate or "
        "resolution",
        ": the microphone gives nothing. Check that it is plugged in and switched on",
        ": the camera does not take its settings; it keeps recording with the ones it had"};
    const int counts[] = {4, 2, 1};
    for (std::size_t kind = 0; kind < kinds.size(); ++kind)
        for (int n = 0; n < counts[kind]; ++n) {
            const std::string text = feeds[static_cast<std::size_t>(n + 1) % feeds.size()]->name() + kinds[kind];
            s.controller().postNotice({.text = text, .matters = true, .key = text, .stays = true});
        }
    s.check(s.waitFor([&] { return noticeBand(s)->notices().size() == 8; }), "eight notices that stay");
    for (const QSize size : {QSize(720, 480), QSize(840, 500), QSize(1024, 640)}) {
        const std::string name =
            "63-eight-notices-" + std::to_string(size.width()) + "x" + std::to_string(size.height());
        window->resize(size);
        s.check(s.waitFor([&] { return window->size() == size; }), name + ": the window takes its size");
        s.settle(800);
        s.shoot(name);
        checkNoticesWhole(s, name);
        checkNoticesCoverNothing(s, name);
        if (auto* more = noticeBand(s)->moreButton()) {
            QTest::mouseClick(more, Qt::LeftButton);
            s.check(s.waitFor([&] { return noticeBand(s)->list() != nullptr; }), name + ": the count opens the list");
            s.settle(300);
            s.shoot(name + "-list");
            if (QWidget* list = noticeBand(s)->list()) {
                const QRect onScreen(list->mapToGlobal(QPoint(0, 0)), list->size());
                const QRect windowOnScreen(window->mapToGlobal(QPoint(0, 0)), window->size());
                s.check(windowOnScreen.contains(onScreen), name + ": the list lies in the window");
                list->close();
            }
            s.settle(200);
        } else {
            s.fail(name + ": nothing counts the other notices");
        }
    }
    // Down to three notices; at 1024×640 a cut with a number key and a notice read leave the record button.
    for (int i = 0; i < 5; ++i) {
        const auto shown = noticeBand(s)->notices().size();
        s.controller().dismissNotice(noticeBand(s)->notices().front().id);
        s.waitFor([&] { return noticeBand(s)->notices().size() < shown; });
    }
    s.check(s.waitFor([&] { return noticeBand(s)->notices().size() == 3; }), "three notices left");
    s.settle(600);
    window->activateWindow();
    s.check(QTest::qWaitForWindowActive(window, 2000), "the window takes the keys");
    QTest::keyClick(window, Qt::Key_3);
    watchRecordButton(s, "64-cut-with-three-notices");
    s.shoot("64-cut-with-three-notices");
    auto closeAt = [&]() -> std::optional<QRect> {
        auto* staying = noticeBand(s);
        if (!staying->isVisible() || !staying->shown()) return std::nullopt;
        auto closes = staying->shown()->findChildren<CloseButton*>();
        if (closes.isEmpty()) return std::nullopt;
        return inWindow(s, closes.front(), closes.front()->rect());
    };
    const auto close = closeAt();
    if (!close) return s.fail("the newest notice has no close button at 1024×640");
    // A passing line comes: no button of those that stay moves.
    s.controller().showMessage("Marker 3 at 00:01:12");
    // The picture is of the passing line shown, however long the screen takes to lay it out.
    s.check(s.waitFor([&] { return s.screen().messageLayer()->isVisible(); }), "the passing line shows");
    s.shoot("65-passing-line-over-notices");
    s.check(closeAt() == close, "a passing line moves no close button");
    QTest::mouseClick(noticeBand(s)->shown()->findChildren<CloseButton*>().front(), Qt::LeftButton);
    watchRecordButton(s, "66-notice-read");
    s.check(noticeBand(s)->notices().size() == 2, "the notice read goes");
    s.check(closeAt() == close, "the next notice's close button comes under the pointer");
    s.shoot("66-notice-read");
    dismissNotices(s);
    s.check(!noticeBand(s)->isVisible(), "one click reads them all");
    sendEvent(*cameraNamed(s, feeds[0]->name()),
              CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, std::nullopt});
    s.controller().setDeckMode(false);
    s.controller().setSelectedID(std::nullopt);
    window->resize(original);
    s.settle(300);
}

/// 720×480, four cameras, the deck on, a camera in the bottom row without sound, three notices: there is always
/// a way to them (at least their count, which opens their list), with the panel collapsed and expanded over the
/// pictures; a passing line is drawn whole or not at all.
void silentCameraInTheBottomRow(Shooter& s) {
    if (s.controller().feeds().size() < 4) return s.fail("four cameras for the notices");
    QWidget* window = s.app.window();
    const QSize original = window->size();
    window->resize(720, 480);
    s.check(s.waitFor([&] { return window->size() == QSize(720, 480); }), "the window takes its size");
    const auto feeds = s.controller().feeds();
    s.controller().setDeckMode(true);
    s.controller().setSelectedID(feeds.front()->id());
    ScriptedCamera* silent = cameraNamed(s, feeds[2]->name());
    if (!silent) return s.fail("the third camera's script");
    sendEvent(*silent, CameraEvent{CameraEvent::Kind::failed, takeWithoutSoundMessage, std::nullopt});
    sendEvent(*silent, CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, std::nullopt});
    s.check(s.waitFor([&] { return feeds[2]->noSound(); }), "the third camera's take has no sound");
    for (const std::string& text : {feeds[1]->name() + ": the microphone gives nothing. Check that it is plugged in",
                                    feeds[3]->name() + ": the camera does not take its settings"})
        s.controller().postNotice({.text = text, .matters = true, .key = text, .stays = true});
    s.check(s.waitFor([&] { return noticeBand(s)->notices().size() == 3; }), "three notices that stay");
    for (bool expanded : {false, true}) {
        const std::string name = std::string("67-silent-bottom-camera-deck-720x480") + (expanded ? "-expanded" : "");
        if (expanded) {
            s.check(s.waitFor([&] { return panelOf(s) != nullptr; }, 3000), name + ": the panel shows");
            if (auto* panel = panelOf(s)) panel->setCollapsed(false);
        }
        s.settle(800);
        s.shoot(name);
        checkWayToNotices(s, name);
        if (!expanded) checkNoticesCoverNothing(s, name);
        s.controller().showMessage("Marker 3 at 00:01:12");
        s.settle(400);
        s.shoot(name + "-passing");
        checkPassingWhole(s, name + "-passing");
        s.controller().showMessage(" ", 0.001);
        s.settle(200);
    }
    if (auto* panel = panelOf(s)) panel->setCollapsed(true);
    dismissNotices(s);
    sendEvent(*silent, CameraEvent{CameraEvent::Kind::videoSaved, std::nullopt, std::nullopt});
    s.check(s.waitFor([&] { return !feeds[2]->noSound(); }), "a take with sound clears the tile");
    s.controller().setDeckMode(false);
    s.controller().setSelectedID(std::nullopt);
    window->resize(original);
    s.settle(300);
}

/// 1024×640, three notices of which the second is too long for the card: the close button clicked twice where it
/// is reads two, one after the other; the click never lands on another button.
void readTwoNotices(Shooter& s) {
    if (s.controller().feeds().size() < 4) return s.fail("four cameras for the notices");
    QWidget* window = s.app.window();
    const QSize original = window->size();
    window->resize(1024, 640);
    s.check(s.waitFor([&] { return window->size() == QSize(1024, 640); }), "the window takes its size");
    const auto feeds = s.controller().feeds();
    s.controller().setDeckMode(true);
    s.controller().setSelectedID(feeds.front()->id());
    const std::string texts[] = {
        feeds[1]->name() + ": the microphone gives nothing. Check that it is plugged in and switched on",
        "The shoot folder Shoot isn't there: saved 4 takes in Videos › Brindlecroft › Unfiled. Plug in the drive "
        "that holds it, or choose another shoot folder in Settings. The takes stay where they are and are filed "
        "there when it is back; the cameras keep their own copies until then. Until the folder is back, every take "
        "of this shoot goes to Unfiled, so that none is lost, and each one is told here once it is saved",
        feeds[3]->name() + ": the camera does not take its settings; it keeps recording with the ones it had"};
    dismissNotices(s);
    for (const auto& text : texts)
        s.controller().postNotice({.text = text, .matters = true, .key = text, .stays = true});
    s.check(s.waitFor([&] { return noticeBand(s)->notices().size() == 3; }), "three notices that stay");
    s.settle(600);
    s.shoot("68-three-notices-1024x640");
    auto* staying = noticeBand(s);
    auto closes = staying->shown() ? staying->shown()->findChildren<CloseButton*>() : QList<CloseButton*>();
    if (closes.isEmpty()) return s.fail("68: the newest notice has no close button");
    const QPoint pointer = inWindow(s, closes.front(), closes.front()->rect()).center();
    for (int read = 1; read <= 2; ++read) {
        const std::string name = "68-three-notices-1024x640-" + std::to_string(read) + "-read";
        const std::string newest = staying->notices().back().text;
        QWidget* hit = window->childAt(pointer);
        if (!hit || !(qobject_cast<CloseButton*>(hit) || qobject_cast<CloseButton*>(hit->parentWidget()))) {
            s.fail(name + ": under the pointer is no close button but " +
                   (hit ? hit->metaObject()->className() + std::string(" ") + hit->objectName().toStdString()
                        : std::string("nothing")));
            break;
        }
        QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(window, pointer));
        s.check(s.waitFor([&] { return staying->notices().empty() || staying->notices().back().text != newest; }),
                name + ": the newest notice read");
        s.settle(400);
        s.shoot(name);
        checkNoticesWhole(s, name);
    }
    const auto& left = staying->notices();
    s.check(std::count_if(left.begin(), left.end(), [&](const auto& n) { return n.text == texts[0]; }) == 1 &&
                std::none_of(left.begin(), left.end(),
                             [&](const auto& n) { return n.text == texts[1] || n.text == texts[2]; }),
            "the two newest read, the oldest left");
    dismissNotices(s);
    s.controller().setDeckMode(false);
    s.controller().setSelectedID(std::nullopt);
    window->resize(original);
    s.settle(300);
}

/// The deck takes no captures: its camera's take waits "for a remote", and no Send is offered.
void deckWaitingForARemote(Shooter& s) {
    if (s.cameras.empty()) return s.fail("a camera for the deck");
    QWidget* window = s.shown().window();
    const QSize original = window->size();
    window->resize(720, 480);
    s.check(s.waitFor([&] { return window->size() == QSize(720, 480); }), "the deck takes its size");
    auto status = s.statusFor(0);
    status.pendingTransfers = 1;
    s.cameras.front()->setStatus(status);
    TransferRow* row = nullptr;
    s.check(s.waitFor([&] {
        for (auto* shown : window->findChildren<TransferRow*>())
            if (shown->isVisible()) row = shown;
        return row != nullptr;
    }),
            "the camera's waiting take shows");
    s.settle(600);
    s.shoot("62-deck-waiting-for-a-remote");
    s.check(row && row->summary() == QStringLiteral("1 waiting for a remote"), "the take waits for a remote");
    s.check(row && !row->holdButton()->isVisible(), "no Send that sends nothing");
    s.cameras.front()->setStatus(s.statusFor(0));
    window->resize(original);
    s.settle(300);
}

/// A notice as long as a missing shoot folder makes one, in the smallest window: it covers no control.
void longNotice(Shooter& s, const std::string& name) {
    s.controller().showMessage(
        "Saved 4 takes in Videos › Brindlecroft › Unfiled: the shoot folder /home/crew/Videos/Brindlecroft "
        "isn't there any more",
        60);
    settleLayout(s);
    s.shoot(name);
    const QRect notice = inWindow(s, s.screen().messageLayer(), s.screen().messageLayer()->rect());
    for (const auto& [what, target] : controlsToClick(s))
        if (notice.intersects(inWindow(s, target, target->rect()))) s.fail(name + ": the notice covers " + what);
    s.controller().showMessage(" ", 0.001);
    s.settle(200);
}

void smallestWindowWithFourCameras(Shooter& s) {
    takeOnItsWay(s, {720, 480}, "05b-four-720x480");
    const QSize original = s.app.window()->size();
    s.app.window()->resize(720, 480);
    s.controller().setSelectedID(s.controller().feeds().front()->id());
    for (bool deck : {false, true}) {
        s.controller().setDeckMode(deck);
        longNotice(s, std::string("05c-four-720x480-notice") + (deck ? "-deck" : ""));
    }
    s.controller().setDeckMode(true);
    takeOnItsWay(s, {720, 480}, "05d-four-720x480-deck");
    s.controller().setDeckMode(false);
    s.controller().setSelectedID(std::nullopt);
    s.app.window()->resize(original);
    s.settle(300);
}

void twoCamerasSending(Shooter& s) {
    takeOnItsWay(s, {1024, 640}, "04c-two-1024x640");
}

void deckSending(Shooter& s) {
    s.controller().setLivePictures(false);
    takeOnItsWay(s, {720, 480}, "19b-deck-720x480");
    s.controller().setLivePictures(true);
    s.settle(300);
}

struct State {
    const char* name;
    void (*run)(Shooter&);
};

/// A camera whose link drops while the remote reconnects to it keeps its tile's place, drawn as reconnecting: the
/// pictures, the panel and the cut keys stay where they were, and the selection stays on it.
void reconnectingCamera(Shooter& s) {
    auto& controller = s.controller();
    const auto peers = controller.peerList();
    const auto feeds = controller.feeds();
    if (peers.size() < 3 || feeds.size() != peers.size()) {
        s.fail("three cameras or more to lose one of");
        return;
    }
    const auto lost = std::find_if(peers.begin(), peers.end(),
                                   [&](const MonitorController::Peer& p) { return p.id == feeds[1]->id(); });
    if (lost == peers.end()) return s.fail("the second camera is among the link's");
    controller.setSelectedID(feeds[1]->id());
    s.check(s.waitFor([&] { return shownControls(s) != nullptr; }), "the selected camera's panel shows");
    s.settle(500);
    const Geometry before = geometryNow(s);

    // As the link tells it: the camera lost and being reconnected, then the list without it.
    std::vector<MonitorController::Peer> others;
    for (const auto& peer : peers)
        if (peer.id != lost->id) others.push_back(peer);
    controller.peerLost(*lost, true);
    controller.updatePeers(others);
    s.settle(600);
    FeedTile* tile = s.tiles().size() == feeds.size() ? s.tiles()[1] : nullptr;
    s.check(tile && tile->feed()->reconnecting() && tile->noPictureNotice()->isVisible(),
            "the lost camera's tile stays and says it is reconnecting");
    s.check(controller.selectedID() == lost->id, "the selection stays on the lost camera");
    const Geometry away = geometryNow(s);
    if (away != before)
        s.fail("the pictures move while a camera is reconnected: " + describe(before.tiles) + "become " +
               describe(away.tiles));
    s.check(away.column == before.column, "the record panel stays where it was");
    s.shoot("05c-camera-reconnecting");

    controller.updatePeers(peers);
    s.settle(300);
    s.check(tile && !tile->feed()->reconnecting() && !tile->noPictureNotice()->isVisible(), "the camera is back");
    s.check(geometryNow(s) == before, "nothing moved when it came back");
}

const State states[] = {
    {"no cameras", noCameras},
    {"camera nearby", cameraNearby},
    {"eight cameras nearby in the smallest window", crowdedNearby},
    {"pairing alert", pairingAlert},
    {"one camera", oneCamera},
    {"layouts of one camera", layouts},
    {"two cameras", twoCameras},
    {"layouts of two cameras", layouts},
    {"a take on its way from one of two cameras", twoCamerasSending},
    {"three cameras", threeCameras},
    {"layouts of three cameras", layouts},
    {"four cameras", fourCameras},
    {"layouts of four cameras", layouts},
    {"a camera being reconnected", reconnectingCamera},
    {"four cameras in the smallest window", smallestWindowWithFourCameras},
    {"notices at the smallest windows", noticesAtSmallSizes},
    {"silent takes", silentTakes},
    {"eight notices of four kinds", eightNotices},
    {"a silent camera in the bottom row with the deck on", silentCameraInTheBottomRow},
    {"two notices read where the close button is", readTwoNotices},
    {"selected camera", selectedCamera},
    {"control bar of a recording camera", recordingControlBar},
    {"quick adjust strip", quickAdjustStrip},
    {"camera settings sheet", cameraSettingsSheet},
    {"solo", solo},
    {"loupe, guides and level", loupeGuidesAndLevel},
    {"false colour and readings", falseColour},
    {"deck mode", deckMode},
    {"deck buttons", deckButtons},
    {"cameras sheet", camerasSheet},
    {"nearby devices", nearbyDevices},
    {"help", help},
    {"gallery", gallery},
    {"settings", settingsSheet},
    {"privacy cover", privacyCover},
    {"deck configuration", deckConfiguration},
    {"a take on its way to the deck", deckSending},
    {"deck waiting for a remote", deckWaitingForARemote},
    {"deck takes", deckTakes},
    {"deck editor", deckEditor},
    {"deck editor in smaller windows", deckEditorWindowSizes},
};

/// The states one run goes through. The layouts take most of the time, so each camera count's are a run of their
/// own (`--layouts N`, a ctest entry each, beside the others): the states that bring its cameras in, then its
/// layouts. The whole run (no option) leaves the layouts out.
std::vector<const State*> statesOfRun(int layoutsOf) {
    static const char* const bringing[] = {"one camera", "two cameras", "three cameras", "four cameras"};
    std::vector<const State*> out;
    for (const auto& state : states) {
        const std::string name = state.name;
        if (layoutsOf == 0) {
            if (state.run != layouts) out.push_back(&state);
        } else if (name == "camera nearby" || name == "pairing alert" || name == "one camera" ||
                   name == bringing[layoutsOf - 1] || name == std::string("layouts of ") + bringing[layoutsOf - 1]) {
            out.push_back(&state);
        }
    }
    return out;
}

}  // namespace
}  // namespace morvane::screens

int main(int argc, char** argv) {
    using namespace morvane;
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screens");
    // screens <output-folder> [--layouts N]: the layouts of N cameras (1 to 4) alone; see `statesOfRun`.
    int layoutsOf = 0;
    if (argc > 3 && std::string(argv[2]) == "--layouts") layoutsOf = std::atoi(argv[3]);
    if (argc > 2 && !(layoutsOf >= 1 && layoutsOf <= 4)) {
        std::fprintf(stderr, "usage: screens <output-folder> [--layouts 1|2|3|4]\n");
        return 2;
    }
    const auto run = screens::statesOfRun(layoutsOf);
    // Settings, keys and libraries of this run live in a folder of its own, never the user's.
    QTemporaryDir root;
    if (!root.isValid()) return 2;
    const std::string base = root.path().toStdString();
    screens::keepToFolder(base);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlecroft"));
    theme::apply(application);
    QDir().mkpath(output);

    auto app = std::make_unique<MorvaneApp>();
    app->show();
    app->window()->move(0, 0);
    screens::Shooter shooter(*app, QDir(output), std::filesystem::path(base) / "cameras");
    for (const auto* state : run) {
        shooter.current = state->name;
        state->run(shooter);
        std::printf("screens: %s\n", state->name);
        std::fflush(stdout);
    }
    // The window goes (its screen stops the controller), then the application-wide link.
    shooter.cameras.clear();
    shooter.deck.reset();
    app.reset();
    MonitorController::stopSharedLink();
    QCoreApplication::processEvents();
    const std::size_t failed = shooter.failures.size();
    std::printf("%zu passed, %zu failed\n", run.size() - std::min(failed, run.size()), failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
