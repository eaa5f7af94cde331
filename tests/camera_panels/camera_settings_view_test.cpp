#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>

#include <fstream>

#include "camera_panels/camera_settings_view.h"
#include "camera_panels/lut_file_picker.h"
#include "camera_panels/lut_import.h"
#include "camera_panels/panel_controls.h"
#include "panel_fixture.h"

namespace morvane {
namespace {

CameraStatus fullCamera() {
    CameraStatus s;
    s.mode = CaptureMode::video;
    FormatOption hd;
    hd.resolution = {1920, 1080};
    hd.frameRates = {24, 25, 30, 60};
    hd.logFrameRates = {24, 25, 30};
    FormatOption uhd;
    uhd.resolution = {3840, 2160};
    uhd.frameRates = {24, 25, 30};
    uhd.logFrameRates = {24, 25, 30};
    s.formats = {hd, uhd};
    s.resolution = {3840, 2160};
    s.frameRate = 25;
    s.colorProfile = ColorProfile::appleLog;
    s.exposure = ExposureSetting::Manual{640, 1.0 / 50};
    s.minISO = 50;
    s.maxISO = 3200;
    s.minShutter = 1.0 / 8000;
    s.maxShutter = 1.0 / 4;
    s.liveISO = 640;
    s.liveShutter = 1.0 / 50;
    s.apertureStops = {1.8f, 4, 11};
    s.liveAperture = 1.8f;
    s.supportsManualWhiteBalance = true;
    s.whiteBalance = WhiteBalance::Manual{5600, 3};
    s.supportsManualFocus = true;
    s.focus = FocusSetting::Manual{0.4f};
    s.proResCodecs = {VideoCodec::proRes422HQ, VideoCodec::proRes422};
    s.stabilizationModes = {Stabilization::standard, Stabilization::cinematic};
    s.externalDrive =
        DriveStatus{"T7 Shield", 812'000'000'000, std::string("Format the drive as exFAT to record onto it.")};
    s.audioInputs = {{"builtin", "iPhone Microphone"}, {"usb", "Wireless Mic"}};
    s.audioInput = "usb";
    s.peaking = true;
    s.peakingLevel = PeakingLevel::high;
    s.zebras = true;
    s.scope = ScopeKind::parade;
    s.previewLUT = PreviewLUT::custom;
    s.customLUTName = "Film Look";
    return s;
}

class FixedPicker : public LUTFilePicker {
public:
    explicit FixedPicker(std::optional<std::filesystem::path> file) : file_(std::move(file)) {}
    std::optional<std::filesystem::path> pickCubeFile(QWidget*) override { return file_; }

private:
    std::optional<std::filesystem::path> file_;
};

class CameraSettingsViewTest : public ::testing::Test, public test::PanelFixture {
protected:
    std::unique_ptr<CameraSettingsView> makeView(const CameraStatus& status,
                                                 std::optional<std::filesystem::path> picked = std::nullopt) {
        auto view = std::make_unique<CameraSettingsView>(
            status, recorder(), BoolBinding{[this] { return histogram; }, [this](bool v) { histogram = v; }},
            &settings(), std::make_unique<FixedPicker>(std::move(picked)));
        view->resize(390, 760);
        return view;
    }
    bool histogram = false;
};

TEST_F(CameraSettingsViewTest, ScreenshotsOfEverySection) {
    settings().setBool(StoredSettings::showGridKey, true);
    auto view = makeView(fullCamera());
    view->show();
    QApplication::processEvents();
    saveShot(*view, "settings-exposure-top");
    const std::pair<SettingsSection, const char*> shots[] = {
        {SettingsSection::whiteBalance, "settings-white-balance-focus"},
        {SettingsSection::video, "settings-video-sound"},
        {SettingsSection::exposureAids, "settings-exposure-aids"},
        {SettingsSection::monitoringLUT, "settings-monitoring-lut"},
    };
    for (const auto& [section, name] : shots) {
        view->scrollToSection(section);
        QApplication::processEvents();
        saveShot(*view, name);
    }
    CameraStatus photo;
    photo.supportsPortrait = true;
    photo.liveISO = 125;
    photo.liveShutter = 1.0 / 120;
    view->setStatus(photo);
    view->scrollToSection(SettingsSection::exposure);
    QApplication::processEvents();
    saveShot(*view, "settings-photo-automatic");
    EXPECT_TRUE(sent.empty());
}

TEST(FormPicker, ItsListStaysInsideTheWindow) {
    struct Case {
        QRect popup, window, place;
    };
    const QRect window(100, 100, 400, 300);  // right 499, bottom 399
    const Case cases[] = {
        {{150, 150, 120, 100}, window, {150, 150, 120, 100}},  // inside already
        {{150, 350, 120, 100}, window, {150, 300, 120, 100}},  // over the bottom: moved up
        {{150, 50, 120, 100}, window, {150, 100, 120, 100}},   // over the top: moved down
        {{450, 150, 120, 100}, window, {380, 150, 120, 100}},  // over the right edge: moved in
        {{150, 250, 120, 500}, window, {150, 100, 120, 300}},  // taller than the window: its height, scrolling
    };
    for (const auto& c : cases) EXPECT_EQ(popupWithin(c.popup, c.window), c.place);

    // A list of frame rates opened near the bottom of a short window.
    QWidget host;
    host.resize(320, 220);
    FormPicker picker(&host);
    for (int i = 0; i < 14; ++i) picker.addItem(QStringLiteral("%1 fps").arg(24 + i));
    picker.setCurrentIndex(0);
    picker.setGeometry(20, 180, 200, 32);
    host.show();
    QApplication::processEvents();
    picker.showPopup();
    QApplication::processEvents();
    QWidget* list = picker.view()->window();
    ASSERT_TRUE(list->isVisible());
    const QRect inside(host.mapToGlobal(QPoint(0, 0)), host.size());
    EXPECT_TRUE(inside.contains(list->geometry())) << "the list runs off the window";
    picker.hidePopup();
}

TEST_F(CameraSettingsViewTest, EveryWhiteBalancePresetIsWhollyShownAtEveryColumnWidth) {
    CameraStatus status = fullCamera();
    status.supportsManualWhiteBalance = true;
    status.whiteBalance = WhiteBalance::Manual{5600, 0};
    auto view = makeView(status);
    view->show();
    for (int width : {320, 380, 460}) {
        view->resize(width, 760);
        view->scrollToSection(SettingsSection::whiteBalance);
        QApplication::processEvents();
        for (const char* name : {"Tungsten", "Fluorescent", "Daylight", "Cloudy", "Shade"}) {
            auto* button = static_cast<QAbstractButton*>(view->control(QString::fromUtf8(name)));
            ASSERT_NE(button, nullptr);
            EXPECT_TRUE(button->isVisible()) << name;
            const QRect shown(button->mapTo(view.get(), QPoint(0, 0)), button->size());
            EXPECT_GE(shown.left(), 0) << name << " at " << width;
            EXPECT_LE(shown.right(), view->width()) << name << " at " << width;
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 4)
                << name << " at " << width;
        }
    }
}

TEST_F(CameraSettingsViewTest, OpeningTheSheetSendsNothing) {
    CameraStatus status = fullCamera();
    status.shutterAngle = std::nullopt;  // the seeded angle is derived, not reported
    auto view = makeView(status);
    view->show();
    QApplication::processEvents();
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(view->model().iso, 640);
    EXPECT_EQ(view->model().angle, 180);
    EXPECT_EQ(view->model().kelvin, 5600);
    EXPECT_EQ(view->model().tint, 3);
    EXPECT_FLOAT_EQ(view->model().lensPosition, 0.4f);

    // Newer statuses move the controls but not the editing values, and send nothing either.
    status.whiteBalance = WhiteBalance::Manual{3200, -10};
    view->setStatus(status);
    EXPECT_EQ(view->model().kelvin, 5600);
    EXPECT_TRUE(sent.empty());

    bool dismissed = false;
    QObject::connect(view.get(), &CameraSettingsView::dismissRequested, [&] { dismissed = true; });
    static_cast<QAbstractButton*>(view->control(QStringLiteral("Done")))->click();
    EXPECT_TRUE(dismissed);
    EXPECT_TRUE(sent.empty());
}

TEST_F(CameraSettingsViewTest, TheWheelScrollsThePanelUntilAControlHasTheFocus) {
    auto view = makeView(fullCamera());
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto* scroll = view->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    ASSERT_GT(scroll->verticalScrollBar()->maximum(), 0);

    auto wheelDown = [](QWidget* control) {
        const QPointF at(control->width() / 2.0, control->height() / 2.0);
        QWheelEvent wheel(at, control->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(control, &wheel);
    };
    for (const char* label : {"Tint", "Temperature", "ISO", "Frame rate"}) {
        SCOPED_TRACE(label);
        auto* control = view->control(QString::fromUtf8(label));
        ASSERT_NE(control, nullptr);
        scroll->ensureWidgetVisible(control);
        QApplication::processEvents();
        const int scrolled = scroll->verticalScrollBar()->value();
        const auto before = control->property(qobject_cast<QSlider*>(control) ? "value" : "currentIndex");

        wheelDown(control);
        EXPECT_TRUE(sent.empty());
        EXPECT_EQ(control->property(qobject_cast<QSlider*>(control) ? "value" : "currentIndex"), before);
        EXPECT_NE(scroll->verticalScrollBar()->value(), scrolled);  // the panel moved instead

        // Given the focus (a click or Tab), the control takes the wheel: one change, sent.
        control->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(control->hasFocus());
        wheelDown(control);
        EXPECT_EQ(sent.size(), 1u);
        sent.clear();
        control->clearFocus();
    }
}

TEST_F(CameraSettingsViewTest, SectionsFollowTheMode) {
    CameraStatus photo;
    auto view = makeView(photo);
    view->show();
    EXPECT_EQ(view->sectionHeaders(), (std::vector<QString>{"Exposure", "White balance", "Focus", "Photo", "Sound",
                                                            "Exposure aids", "Monitoring LUT"}));
    EXPECT_FALSE(view->sectionCard(SettingsSection::whiteBalance)->isEnabled());
    CameraStatus video = fullCamera();
    video.isRecording = true;
    view->setStatus(video);
    EXPECT_EQ(view->sectionHeaders()[3], QStringLiteral("Video"));
    EXPECT_FALSE(view->sectionCard(SettingsSection::video)->isEnabled());
    EXPECT_TRUE(view->sectionCard(SettingsSection::exposure)->isEnabled());
}

TEST_F(CameraSettingsViewTest, PersonsChangesSendOneCommandEach) {
    CameraStatus status = fullCamera();
    auto view = makeView(status);
    view->show();

    auto* iso = static_cast<QSlider*>(view->control(QStringLiteral("ISO")));
    iso->triggerAction(QAbstractSlider::SliderPageStepAdd);
    ASSERT_EQ(sent.size(), 1u);
    const auto* exposure = std::get_if<CameraCommand::SetExposureMode>(&sent[0].value);
    ASSERT_NE(exposure, nullptr);
    EXPECT_GT(exposure->exposure.as<ExposureSetting::Manual>()->iso, 640);
    EXPECT_EQ(exposure->exposure.as<ExposureSetting::Manual>()->shutter, 1.0 / 50);

    static_cast<ToggleSwitch*>(view->control(QStringLiteral("Focus peaking")))->click();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], CameraCommand(CameraCommand::SetAids{
                           ExposureAids{true, false, PeakingLevel::high, false, false, ScopeKind::parade}}));
    auto* scope = static_cast<QComboBox*>(view->control(QStringLiteral("Scope")));
    EXPECT_EQ(scope->currentText(), QStringLiteral("RGB parade"));
    emit scope->activated(0);
    EXPECT_EQ(sent[2], CameraCommand(CameraCommand::SetAids{
                           ExposureAids{true, true, PeakingLevel::high, false, false, ScopeKind::off}}));

    auto* rate = static_cast<QComboBox*>(view->control(QStringLiteral("Frame rate")));
    EXPECT_EQ(rate->currentText(), QStringLiteral("25 fps"));
    emit rate->activated(3);  // 23.98, 24, 25, 29.97
    EXPECT_EQ(sent[3], CameraCommand(CameraCommand::SetFrameRate{30, true}));

    static_cast<QAbstractButton*>(view->control(QStringLiteral("Tungsten")))->click();
    ASSERT_EQ(sent.size(), 6u);  // kelvin and tint both changed
    EXPECT_EQ(sent[5], CameraCommand(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{3200, 0}}));

    static_cast<ToggleSwitch*>(view->control(QStringLiteral("Histogram")))->click();
    static_cast<ToggleSwitch*>(view->control(QStringLiteral("Grid")))->click();
    EXPECT_TRUE(histogram);
    EXPECT_TRUE(defaults().boolValue("showGrid", false));
    EXPECT_EQ(sent.size(), 6u);
}

TEST_F(CameraSettingsViewTest, SwitchingToManualSendsTheLiveValuesOnce) {
    CameraStatus status;
    status.mode = CaptureMode::video;
    status.frameRate = 24;
    status.liveISO = 500;
    status.liveShutter = 1.0 / 45;
    settings().setBool(StoredSettings::shutterAsAngleKey, true);
    auto view = makeView(status);
    view->show();
    static_cast<SegmentedPicker*>(view->control(QStringLiteral("Exposure")))->choose(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], CameraCommand(CameraCommand::SetManualAngle{500, 180}));
    // The picker shows what the camera reports, not the touch.
    EXPECT_EQ(static_cast<SegmentedPicker*>(view->control(QStringLiteral("Exposure")))->selected(), 0);

    // The angle switch belongs to every panel at once.
    static_cast<ToggleSwitch*>(view->control(QStringLiteral("Shutter as angle")))->click();
    EXPECT_FALSE(settings().boolValue(StoredSettings::shutterAsAngleKey));
    EXPECT_FALSE(static_cast<ToggleSwitch*>(view->control(QStringLiteral("Shutter as angle")))->isOn());
}

TEST_F(CameraSettingsViewTest, FocusPickerWithoutTheReportedModeChoosesNothing) {
    CameraStatus status;
    status.focus = FocusSetting::Manual{0.3f};
    auto view = makeView(status);
    view->show();
    auto* focus = static_cast<SegmentedPicker*>(view->control(QStringLiteral("Focus")));
    EXPECT_EQ(focus->count(), 2);
    EXPECT_EQ(focus->selected(), std::nullopt);
    EXPECT_TRUE(view->control(QStringLiteral("Lens position"))->isVisibleTo(view.get()));
}

TEST_F(CameraSettingsViewTest, LUTImport) {
    test::TempDir dir;
    std::string table = "LUT_3D_SIZE 2\n";
    for (int i = 0; i < 8; ++i) table += "0 0.5 1\n";
    const auto good = dir / "Film Look.cube";
    std::ofstream(good) << table;
    const auto bad = dir / "broken.cube";
    std::ofstream(bad) << "LUT_3D_SIZE 2\n0 0 0\n";

    auto view = makeView(fullCamera(), good);
    view->show();
    auto* look = static_cast<QComboBox*>(view->control(QStringLiteral("Look")));
    EXPECT_EQ(look->count(), 4);
    EXPECT_EQ(look->currentText(), QStringLiteral("Film Look"));
    static_cast<QAbstractButton*>(view->control(QStringLiteral("Import .cube LUT…")))->click();
    ASSERT_EQ(sent.size(), 1u);
    const auto* load = std::get_if<CameraCommand::LoadCustomLUT>(&sent[0].value);
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->name, "Film Look");
    EXPECT_EQ(load->size, 2);
    EXPECT_EQ(load->data.size(), 96u);

    view->importLUT(bad);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(view->importError(), std::string(lutImportErrorText));
    ASSERT_TRUE(view->importAlert()->isVisible());
    EXPECT_EQ(view->importAlert()->text(), QStringLiteral("Couldn't use that LUT"));
    EXPECT_EQ(view->importAlert()->informativeText(), QStringLiteral("Use a 3D .cube file up to 64×64×64."));
    saveShot(*view->importAlert(), "settings-lut-alert");
    view->importAlert()->buttons().front()->click();
    EXPECT_EQ(view->importError(), std::nullopt);

    // A second import can follow at once; cancelling the picker does nothing.
    view->importLUT(good);
    EXPECT_EQ(sent.size(), 2u);
    auto cancelled = makeView(fullCamera(), std::nullopt);
    static_cast<QAbstractButton*>(cancelled->control(QStringLiteral("Import .cube LUT…")))->click();
    EXPECT_EQ(sent.size(), 2u);
}

}  // namespace
}  // namespace morvane
