// The application started as `brindlecroft --deck` (offscreen) with two cameras on the real peer link over
// 127.0.0.1, each filming one flat colour: the user pairs both, records on every camera, opens the collected
// take from the takes button, switches to the second camera in the editor and exports. The program movie, as
// ffmpeg decodes it, shows the first camera before the switch and the second after it.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>

#include "../deck/media_fixtures.h"
#include "app/command_line.h"
#include "app/deck_controls.h"
#include "app/monitor_toolbar.h"
#include "app/morvane_app.h"
#include "app/nearby_cameras_view.h"
#include "app/screen_saver_inhibitor.h"
#include "camera/camera_controller.h"
#include "camera_panels/close_button.h"
#include "camera_panels/large_sheet.h"
#include "camera_panels/round_icon_button.h"
#include "deck/retouch_library.h"
#include "deck_ui/editor/angle_button.h"
#include "deck_ui/editor/retouch_editor.h"
#include "deck_ui/editor/retouch_editor_view.h"
#include "deck_ui/player/program_player.h"
#include "deck_ui/takes/take_row.h"
#include "deck_ui/takes/takes_view.h"
#include "platform/keychain.h"
#include "platform/synthetic_source.h"
#include "qt_main_executor.h"
#include "qt_wait.h"
#include "scoped_env.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

bool eventually(const std::function<bool()>& condition, int milliseconds = 60000) {
    return test::eventually(condition, milliseconds);
}

/// A camera of the camera role in this process, filming one flat colour with a tone.
std::shared_ptr<CameraController> startCamera(const fs::path& folder, const std::string& name,
                                              std::array<float, 3> color, double tone) {
    CameraController::Options options;
    options.folder = folder;
    options.main = QtMainExecutor::shared();
    options.keychain = std::make_shared<Keychain>(folder / "keychain");
    options.keychain->write("device-name", Bytes(name.begin(), name.end()));
    options.session.interfaces = {"127.0.0.1"};
    options.session.timing.announceInterval = 0.3;
    options.session.timing.announceBurstInterval = 0.05;
    options.acceptPairing = [](const PeerSession::PairingRequest&) { return std::optional<bool>(true); };
    auto camera = CameraController::make(options);
    SyntheticSource::Settings settings;
    settings.width = 640;
    settings.height = 360;
    settings.pattern = SyntheticSource::Pattern::flat;
    settings.flatColor = color;
    settings.toneHertz = tone;
    if (!camera->start(std::make_unique<SyntheticSource>(settings))) return nullptr;
    return camera;
}

QAbstractButton* toolbarButton(MonitorScreen& screen, ToolbarItem item) {
    QWidget* holder = screen.toolbar()->item(item);
    if (!holder) return nullptr;
    if (auto* button = qobject_cast<QAbstractButton*>(holder)) return button;
    return holder->findChild<RoundIconButton*>();
}

TEST(DeckApp, CollectATakeSwitchACameraInTheEditorAndExportTheProgram) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const fs::path root(dir.path().toStdString());
    // Settings, keys, libraries and the user's folders of this run, never the real ones.
    test::ScopedEnv home("HOME", (root / "home").c_str());
    test::ScopedEnv config("XDG_CONFIG_HOME", (root / "home" / ".config").c_str());
    test::ScopedEnv data("XDG_DATA_HOME", (root / "home" / ".local" / "share").c_str());
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", (root / "run").c_str());
    test::ScopedEnv usbmux("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + (root / "no-usbmuxd").string()).c_str());
    std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
    const std::string group =
        "239.255." + std::to_string(100 + random() % 100) + "." + std::to_string(1 + random() % 250);
    test::ScopedEnv nearbyGroup("MORVANE_NEARBY_GROUP", group.c_str());
    test::ScopedEnv nearbyPort("MORVANE_NEARBY_PORT", std::to_string(40000 + random() % 20000).c_str());

    // What `brindlecroft --deck` makes.
    const auto line = CommandLine::parse({"--deck"});
    ASSERT_EQ(line.action, CommandLine::Action::run);
    MorvaneApp::Options options;
    options.deck = line.deck;
    options.screen.makeInhibitor = [] { return std::unique_ptr<ScreenSaverInhibitor>(); };
    auto app = std::make_unique<MorvaneApp>(std::move(options));
    app->show();
    MonitorScreen& screen = *app->monitorScreen();
    ASSERT_TRUE(screen.isDeckPhone());

    auto wide = startCamera(root / "wide", "Wide", {0.9f, 0.1f, 0.1f}, 440);
    auto close = startCamera(root / "close", "Close", {0.1f, 0.1f, 0.9f}, 880);
    ASSERT_TRUE(wide && close);

    // Pairing: "Pair" on each nearby camera's row, then "Codes Match" in the alert.
    std::set<std::string> asked;
    ASSERT_TRUE(eventually([&] {
        if (auto* alert = screen.pairingAlert(); alert && alert->isVisible()) {
            for (auto* button : alert->buttons())
                if (button->text() == "Codes Match") button->click();
        }
        for (auto* row : app->window()->findChildren<NearbyCameraRow*>()) {
            if (row->button() && row->button()->isVisible() && !asked.count(row->camera().name) &&
                !screen.pairingAlert()) {
                asked.insert(row->camera().name);
                QTest::mouseClick(row->button(), Qt::LeftButton);
            }
        }
        int ready = 0;
        for (const auto& feed : screen.controller().feeds()) ready += feed->status().has_value();
        return ready == 2;
    })) << "both cameras paired and connected";

    // A take on every camera, from the deck controls' record button.
    auto* deckControls = app->window()->findChild<DeckControls*>();
    ASSERT_TRUE(eventually([&] { return (deckControls = app->window()->findChild<DeckControls*>()) != nullptr; }));
    auto recording = [&] {
        for (const auto& feed : screen.controller().feeds())
            if (!feed->status() || !feed->status()->isRecording) return false;
        return true;
    };
    QTest::mouseClick(deckControls->recordButton(), Qt::LeftButton);
    ASSERT_TRUE(eventually(recording));
    test::eventually([] { return false; }, 2500);
    QTest::mouseClick(deckControls->recordButton(), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] {
        for (const auto& feed : screen.controller().feeds())
            if (!feed->status() || feed->status()->isRecording) return false;
        return true;
    }));

    // The takes button lists the collected take once both deck copies are in.
    auto* takesButton = toolbarButton(screen, ToolbarItem::takes);
    ASSERT_NE(takesButton, nullptr);
    QTest::mouseClick(takesButton, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return screen.takesSheet() && screen.takesSheet()->content(); }));
    auto* takes = qobject_cast<TakesView*>(screen.takesSheet()->content());
    ASSERT_NE(takes, nullptr);
    ASSERT_TRUE(eventually([&] { return takes->rows().size() == 1 && takes->rows().front()->take().clips.size() == 2; },
                           120000))
        << "the deck copies of both cameras arrive";

    // The editor: the switch to the second camera at 1 s.
    QTest::mouseClick(takes->rows().front(), Qt::LeftButton);
    auto* editorView = takes->editor();
    ASSERT_NE(editorView, nullptr);
    auto& editor = editorView->editor();
    // The first preview is in place before the playhead moves (a rebuild seeks back to where it began).
    ASSERT_TRUE(eventually([&] { return editor.loaded() && !editorView->player().picture().isNull(); }));
    ASSERT_TRUE(eventually([&] {
        if (std::fabs(editor.time() - 1.0) > 0.05) editor.seek(1.0);
        test::eventually([] { return false; }, 100);
        return std::fabs(editor.time() - 1.0) < 0.05;
    }));
    // The camera on air when the take began (the first to report) opens the edit; the other one is switched to.
    const std::string first = editor.edit()->switches.front().camera;
    const std::string other = first == "Wide" ? "Close" : "Wide";
    AngleButton* otherButton = nullptr;
    ASSERT_TRUE(eventually([&] {
        for (auto* button : editorView->findChildren<AngleButton*>())
            if (button->camera() == other) otherButton = button;
        return otherButton != nullptr;
    }));
    QTest::mouseClick(otherButton, Qt::LeftButton);
    std::optional<double> cut;
    const bool switched = eventually([&] {
        if (const auto& edit = editor.edit())
            for (const auto& s : edit->switches)
                if (s.camera == other && s.time > 0.5) cut = s.time;
        return cut.has_value();
    });
    std::string switches;
    if (editor.edit())
        for (const auto& s : editor.edit()->switches) switches += s.camera + "@" + std::to_string(s.time) + " ";
    ASSERT_TRUE(switched) << "at " << editor.time() << ": " << switches;

    // Export, quickly: the program's look does not matter here, only its cuts.
    auto exportOptions = RetouchBuilder::defaultExportOptions();
    exportOptions.programFolder = editor.library().programFolder();
    exportOptions.settings.preset = "ultrafast";
    exportOptions.settings.crf = 30;
    editor.setExporter(RetouchEditor::threadPoolExporter(exportOptions));
    auto* exportButton = editorView->findChild<QPushButton*>("exportButton");
    ASSERT_NE(exportButton, nullptr);
    QTest::mouseClick(exportButton, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return editorView->shownCard() == "done"; }, 180000));
    ASSERT_TRUE(editor.exported());
    const fs::path program = *editor.exported();
    ASSERT_TRUE(fs::exists(program));

    // Red before the switch, blue after it.
    const auto before = fixtures::colorAt(program, std::max(0.1, *cut - 0.5));
    const auto after = fixtures::colorAt(program, *cut + 0.5);
    // Wide films red, Close blue.
    const auto red = [](const fixtures::Rgb& c) { return c.r > 150 && c.b < 100; };
    const auto blue = [](const fixtures::Rgb& c) { return c.b > 150 && c.r < 100; };
    EXPECT_TRUE(first == "Wide" ? red(before) : blue(before))
        << first << " before the switch at " << *cut << ": " << before.r << "," << before.g << "," << before.b;
    EXPECT_TRUE(other == "Wide" ? red(after) : blue(after))
        << other << " after the switch at " << *cut << ": " << after.r << "," << after.g << "," << after.b;

    editor.done();
    screen.setShowTakes(false);
    wide->stop();
    close->stop();
    app.reset();
    MonitorController::stopSharedLink();
    QCoreApplication::processEvents();
}

}  // namespace
}  // namespace morvane
