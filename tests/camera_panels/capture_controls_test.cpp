#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>

#include "camera_panels/capture_controls.h"
#include "camera_panels/labeled_control.h"
#include "camera_panels/lens_button.h"
#include "camera_panels/panel_controls.h"
#include "camera_panels/quick_adjust.h"
#include "camera_panels/shutter_button.h"
#include "panel_fixture.h"

namespace morvane {
namespace {

CameraStatus recordingCamera() {
    CameraStatus s;
    s.mode = CaptureMode::video;
    s.isRecording = true;
    s.resolution = {3840, 2160};
    s.frameRate = 24;
    s.ntsc = true;
    s.colorProfile = ColorProfile::appleLog;
    s.lenses = {0.5, 1.0, 2.0};
    s.zoom = 1.0;
    s.minISO = 50;
    s.maxISO = 3200;
    s.minShutter = 1.0 / 8000;
    s.maxShutter = 1.0 / 4;
    s.liveISO = 400;
    s.liveShutter = 1.0 / 48;
    s.exposureBias = 0.3f;
    s.supportsManualWhiteBalance = true;
    s.supportsManualFocus = true;
    s.whiteBalance = WhiteBalance::Manual{5600, 0};
    s.timerSeconds = 3;
    return s;
}

class CaptureControlsTest : public ::testing::Test, public test::PanelFixture {
protected:
    CaptureControls::Inputs inputs(const CameraStatus& status) {
        CaptureControls::Inputs in;
        in.status = status;
        in.send = recorder();
        in.openGallery = [this] { ++galleryOpened; };
        in.toggleVoice = [this] { ++voiceToggled; };
        in.onMark = [this] { ++marks; };
        in.shutterAllCameras = BoolBinding{[this] { return allCameras; }, [this](bool v) { allCameras = v; }};
        in.openSettings = [this] { ++settingsOpened; };
        return in;
    }
    int galleryOpened = 0, voiceToggled = 0, marks = 0, settingsOpened = 0, shutters = 0;
    bool allCameras = false;
};

TEST_F(CaptureControlsTest, ScreenshotOfARecordingCamera) {
    CaptureControls controls(inputs(recordingCamera()), &settings());
    controls.resize(560, controls.sizeHint().height());
    controls.show();
    saveShot(controls, "capture-controls-recording");
    controls.setCollapsed(true);
    controls.adjustSize();
    saveShot(controls, "capture-controls-collapsed");
}

TEST_F(CaptureControlsTest, SpaceAndMReachTheShutterAndMarkWhateverHasTheFocus) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* other = new QPushButton(QStringLiteral("Elsewhere"), &window);
    int otherClicks = 0;
    QObject::connect(other, &QPushButton::clicked, [&] { ++otherClicks; });
    layout->addWidget(other);
    auto in = inputs(recordingCamera());
    in.onShutter = [this] { ++shutters; };
    auto* controls = new CaptureControls(in, &settings(), &window);
    layout->addWidget(controls);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    ASSERT_TRUE(other->hasFocus());

    QTest::keyClick(other, Qt::Key_Space);
    EXPECT_EQ(shutters, 1);
    EXPECT_EQ(otherClicks, 0);
    EXPECT_TRUE(sent.empty());  // onShutter replaces the panel's own command
    QTest::keyClick(other, Qt::Key_M);
    EXPECT_EQ(marks, 1);

    // Collapsed: Space reaches the small shutter; without onShutter the panel sends its own command.
    in.onShutter = nullptr;
    controls->setInputs(in);
    controls->setCollapsed(true);
    QTest::keyClick(other, Qt::Key_Space);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], CameraCommand(CameraCommand::Shutter{}));

    // Photo mode hides Mark, and "m" with it.
    CameraStatus photo;
    controls->setStatus(photo);
    QTest::keyClick(other, Qt::Key_M);
    EXPECT_EQ(marks, 1);
}

TEST_F(CaptureControlsTest, ControlsSendFromTheReportedStatus) {
    CameraStatus status = recordingCamera();
    status.dimmed = true;
    status.loupeContours = false;
    CaptureControls controls(inputs(status), &settings());
    controls.show();

    // Busy: the timer, the mode picker and the front/back button wait; the rest stays usable.
    EXPECT_FALSE(controls.timerButton()->isEnabled());
    EXPECT_FALSE(controls.modePicker()->isEnabled());
    EXPECT_FALSE(controls.flipButton()->isEnabled());
    EXPECT_TRUE(controls.shutterButton()->isEnabled());
    EXPECT_EQ(controls.shutterButton()->accessibleName(), QStringLiteral("Stop recording"));
    EXPECT_EQ(controls.timerButton()->label(), QStringLiteral("3s"));
    EXPECT_EQ(controls.timerButton()->accessibleName(), QStringLiteral("Self-timer: 3s"));
    EXPECT_TRUE(controls.lensButtons()[0]->toolTip().contains(QStringLiteral("hold Ctrl and scroll")));
    EXPECT_EQ(controls.sideControl(SideControlKind::settings)->title(), QStringLiteral("4K·23.98·LOG"));

    controls.sideControl(SideControlKind::dim)->click();
    controls.sideControl(SideControlKind::loupe)->click();
    controls.sideControl(SideControlKind::all)->click();
    controls.lensButtons()[2]->click();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], CameraCommand(CameraCommand::SetDimmed{false}));
    EXPECT_EQ(sent[1], CameraCommand(CameraCommand::SetLoupe{true, false}));
    EXPECT_EQ(sent[2], CameraCommand(CameraCommand::SetZoom{2.0, true}));
    EXPECT_TRUE(allCameras);
    EXPECT_TRUE(controls.sideControl(SideControlKind::all)->isActive());
    EXPECT_TRUE(controls.lensButtons()[1]->isSelected());
    EXPECT_TRUE(controls.zoomReadoutLabel()->isHidden());

    // Idle in photo mode: the timer cycles from the reported value, the mode picker asks for the other mode.
    CameraStatus idle;
    idle.timerSeconds = 10;
    idle.zoom = 1.5;
    idle.lenses = {1.0, 2.0};
    controls.setStatus(idle);
    EXPECT_TRUE(controls.timerButton()->isEnabled());
    controls.timerButton()->click();
    controls.modePicker()->choose(1);
    EXPECT_EQ(sent[3], CameraCommand(CameraCommand::SetTimer{0}));
    EXPECT_EQ(sent[4], CameraCommand(CameraCommand::SetMode{CaptureMode::video}));
    EXPECT_EQ(controls.modePicker()->selected(), 0);  // the camera has not reported the new mode yet
    EXPECT_EQ(controls.zoomReadoutLabel()->text(), QStringLiteral("1.5×"));
    EXPECT_TRUE(controls.sideControl(SideControlKind::mark)->isHidden());
    EXPECT_EQ(controls.lensButtons().size(), 2u);
}

TEST_F(CaptureControlsTest, CollapsedStatePersists) {
    {
        CaptureControls controls(inputs(recordingCamera()), &settings());
        controls.sideControl(SideControlKind::hide)->click();
        EXPECT_TRUE(controls.isCollapsed());
    }
    CaptureControls again(inputs(recordingCamera()), &settings());
    EXPECT_TRUE(again.isCollapsed());
    EXPECT_TRUE(defaults().boolValue("controlsCollapsed", false));
    again.setCollapsed(false);
    EXPECT_FALSE(defaults().boolValue("controlsCollapsed", true));
}

TEST_F(CaptureControlsTest, QuickAdjustSendsOnlyForAPersonsMove) {
    CameraStatus status = recordingCamera();
    CaptureControls controls(inputs(status), &settings());
    controls.show();
    QuickAdjust* strip = controls.quickAdjust();
    QSlider* ev = strip->activeSlider();
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(ev->value(), 3);

    // A new status moves nothing by itself and sends nothing; a new chip re-reads the values, still silently.
    status.exposureBias = -1;
    controls.setStatus(status);
    EXPECT_EQ(ev->value(), 3);
    strip->select(QuickAdjustModel::Control::iso);
    strip->select(QuickAdjustModel::Control::ev);
    EXPECT_EQ(ev->value(), -10);
    EXPECT_TRUE(sent.empty());

    // One step of a drag sends one command.
    ev->setSliderDown(true);
    ev->setSliderPosition(-5);
    ev->setSliderDown(false);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], CameraCommand(CameraCommand::SetExposureBias{-0.5f}));

    // White balance: the slider keeps the reported tint.
    strip->select(QuickAdjustModel::Control::whiteBalance);
    QSlider* kelvin = strip->activeSlider();
    ASSERT_NE(kelvin, nullptr);
    kelvin->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], CameraCommand(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{5700, 0}}));

    // Collapsing and expanding again starts the strip afresh on EV.
    controls.setCollapsed(true);
    controls.setCollapsed(false);
    EXPECT_EQ(strip->selected(), QuickAdjustModel::Control::ev);
    strip->select(QuickAdjustModel::Control::whiteBalance);

    // Angles switched on anywhere re-read the strip and change the shutter chip.
    settings().setBool(StoredSettings::shutterAsAngleKey, true);
    strip->select(QuickAdjustModel::Control::shutter);
    EXPECT_EQ(sent.size(), 2u);
    saveShot(*strip, "quick-adjust-shutter-angles");
}

}  // namespace
}  // namespace morvane
