#include <QAbstractButton>
#include <QTest>

#include "camera_panels/camera_settings_view.h"
#include "camera_panels/capture_controls.h"
#include "camera_panels/labeled_control.h"
#include "camera_panels/panel_controls.h"
#include "camera_panels/shutter_button.h"
#include "protocol/message_codec.h"
#include "screen_fixture.h"

namespace morvane {
namespace {

class CameraPanelsHookup : public ScreenTest {
protected:
    /// Writes the screen's picture when MORVANE_PANEL_SHOTS names a folder, for a person to look at.
    void saveShot(const char* name) {
        if (const char* folder = std::getenv("MORVANE_PANEL_SHOTS")) {
            for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
            screen->grab().save(QString::fromUtf8(folder) + QLatin1Char('/') + QString::fromUtf8(name) +
                                QStringLiteral(".png"));
        }
    }
    void status(int n, const CameraStatus& s) {
        controller().handlePeerData(*encodeMessage(PacketType::status, s), peer(n));
        QCoreApplication::processEvents();
    }
    static CameraStatus manualCamera() {
        CameraStatus s;
        s.mode = CaptureMode::video;
        s.exposure = ExposureSetting::Manual{800, 1.0 / 50};
        s.whiteBalance = WhiteBalance::Manual{4300, 5};
        s.supportsManualWhiteBalance = true;
        s.frameRate = 25;
        return s;
    }
};

TEST_F(CameraPanelsHookup, ControlBarAppearsWithTheFirstStatusAndSendsThroughTheController) {
    make().show();
    connect({{1, "A"}, {2, "B"}});
    controller().setSelectedID(peer(1));
    QCoreApplication::processEvents();
    EXPECT_EQ(screen->findChild<CaptureControls*>(), nullptr);

    status(1, manualCamera());
    status(2, CameraStatus{});
    auto* controls = screen->findChild<CaptureControls*>();
    ASSERT_NE(controls, nullptr);
    ASSERT_TRUE(eventually([&] { return controls->isVisibleTo(screen.get()); }));
    // Two cameras: the All switch is there, bound to the controller.
    auto* all = controls->sideControl(SideControlKind::all);
    ASSERT_FALSE(all->isHidden());
    saveShot("screen-control-bar");
    link->clearSent();

    controls->sideControl(SideControlKind::dim)->click();
    EXPECT_EQ(link->commandsTo(peer(1)), std::vector<CameraCommand>{CameraCommand::SetDimmed{true}});
    EXPECT_TRUE(link->commandsTo(peer(2)).empty());

    all->click();
    EXPECT_TRUE(controller().shutterAllCameras());
    controls->timerButton()->click();
    EXPECT_EQ(link->commandNamesTo(peer(2)), std::vector<std::string>{"setTimer"});
}

TEST_F(CameraPanelsHookup, WithAllOnTheShutterShowsAndDoesWhatTheCamerasTogetherNeed) {
    make().show();
    connect({{1, "A"}, {2, "B"}});
    controller().setSelectedID(peer(1));
    CameraStatus idle;
    idle.mode = CaptureMode::video;
    CameraStatus recording = idle;
    recording.isRecording = true;
    status(1, idle);
    status(2, idle);
    auto* controls = screen->findChild<CaptureControls*>();
    ASSERT_NE(controls, nullptr);
    auto* shutter = controls->shutterButton();
    EXPECT_EQ(shutter->accessibleName(), "Record");

    // A take started on the other camera alone: with All on, the selected camera's shutter stops it.
    status(2, recording);
    EXPECT_EQ(shutter->accessibleName(), "Record");
    controller().setShutterAllCameras(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(shutter->accessibleName(), "Stop recording");
    link->clearSent();
    shutter->click();
    EXPECT_EQ(link->commandNamesTo(peer(1)), std::vector<std::string>{"stopRecording"});
    EXPECT_EQ(link->commandNamesTo(peer(2)), std::vector<std::string>{"stopRecording"});

    status(2, idle);
    EXPECT_EQ(shutter->accessibleName(), "Record");
}

TEST_F(CameraPanelsHookup, ControlBarIsCollapsedWhereItHasNoRoomUntilThePersonChoosesThere) {
    make().show();
    connect({{1, "A"}, {2, "B"}});
    controller().setSelectedID(peer(1));
    status(1, manualCamera());
    auto* controls = screen->findChild<CaptureControls*>();
    ASSERT_NE(controls, nullptr);
    auto at = [&](QSize window) {
        screen->resize(window);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return controls->isCollapsed();
    };
    // Expanded, the bar floats over the lower part of the two pictures or takes a band under them; at 800x480
    // it would leave them no usable height.
    const struct {
        QSize window;
        bool collapsed;
    } cases[] = {
        {{1280, 800}, false}, {{999, 800}, false}, {{1280, 649}, false}, {{960, 600}, false}, {{800, 480}, true}};
    for (const auto& c : cases) EXPECT_EQ(at(c.window), c.collapsed) << c.window.width() << "x" << c.window.height();
    // Where it has no room, the person's choice holds there; where it has room, the choice made there.
    controls->setCollapsed(false);
    EXPECT_FALSE(at({800, 480}));
    EXPECT_FALSE(at({1280, 800}));
    controls->setCollapsed(true);
    EXPECT_FALSE(at({800, 480}));
    EXPECT_TRUE(at({1280, 800}));
}

TEST_F(CameraPanelsHookup, SettingsPanelOpensWithoutSendingAndClosesWithDone) {
    make().show();
    connect({{1, "A"}, {2, "B"}});
    controller().setSelectedID(peer(1));
    status(1, manualCamera());
    status(2, CameraStatus{});
    controller().setShutterAllCameras(true);
    link->clearSent();

    screen->setShowCameraSettings(true);
    QCoreApplication::processEvents();
    auto* view = screen->findChild<CameraSettingsView*>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(eventually([&] { return view->isVisible(); }));
    // Seeding the manual values must not overwrite the other camera's exposure and white balance.
    EXPECT_TRUE(link->sent().empty());
    EXPECT_EQ(view->model().iso, 800);
    EXPECT_EQ(view->model().kelvin, 4300);
    saveShot("screen-settings-inspector");

    // A newer status reaches the open panel.
    CameraStatus photo = manualCamera();
    photo.mode = CaptureMode::photo;
    status(1, photo);
    EXPECT_EQ(view->sectionHeaders()[3], QStringLiteral("Photo"));

    static_cast<QAbstractButton*>(view->control(QStringLiteral("Done")))->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(screen->showCameraSettings());
    EXPECT_TRUE(link->sent().empty());
}

}  // namespace
}  // namespace morvane
