#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

#include "camera_panels/false_color_legend.h"
#include "camera_panels/flash_overlay.h"
#include "camera_panels/focus_square.h"
#include "camera_panels/framing_guides.h"
#include "camera_panels/lens_button.h"
#include "camera_panels/loupe_view.h"
#include "camera_panels/pinch_to_zoom.h"
#include "camera_panels/recording_pill.h"
#include "camera_panels/shutter_button.h"
#include "platform/defaults.h"

namespace morvane {
namespace {

TEST(Indicators, ShutterMarksAndLabels) {
    using Mark = ShutterButton::Mark;
    struct Case {
        CaptureMode mode;
        bool recording, counting;
        Mark mark;
        const char* label;
    };
    const Case cases[] = {
        {CaptureMode::video, true, true, Mark::stopSquare, "Stop recording"},
        {CaptureMode::photo, true, false, Mark::stopSquare, "Stop recording"},
        {CaptureMode::video, false, true, Mark::cancelCross, "Cancel timer"},
        {CaptureMode::video, false, false, Mark::videoDisc, "Record"},
        {CaptureMode::photo, false, false, Mark::photoDisc, "Take photo"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShutterButton::mark(c.mode, c.recording, c.counting), c.mark);
        EXPECT_EQ(ShutterButton::accessibilityLabel(c.mode, c.recording, c.counting).toStdString(), c.label);
    }
}

TEST(Indicators, RecordingPillText) {
    const Date start{1000};
    const std::pair<double, const char*> cases[] = {
        {-5, "REC 00:00"},      {0, "REC 00:00"},  {59.9, "REC 00:59"},     {3600, "REC 60:00"},
        {75 * 60, "REC 75:00"}, {61, "REC 01:01"}, {std::nan(""), "REC —"}, {1e300, "REC —"},
    };
    for (const auto& [elapsed, expected] : cases)
        EXPECT_EQ(recordingPillText(start, Date{1000 + elapsed}).toStdString(), expected) << elapsed;
}

TEST(Indicators, LensLabels) {
    const std::tuple<double, bool, const char*> cases[] = {
        {1.0, false, "1"},          {2.0, false, "2"},   {3.0, false, "3"},
        {0.5, false, ".5"},         {1.5, false, "1.5"}, {2.0, true, "2×"},
        {0.5, true, ".5×"},         {10.0, false, "10"}, {std::numeric_limits<double>::infinity(), false, "—"},
        {std::nan(""), true, "—×"}, {1e300, false, "—"},
    };
    for (const auto& [lens, selected, expected] : cases)
        EXPECT_EQ(lensLabelText(lens, selected).toStdString(), expected) << lens;
    LensButton selected(2.0, true);
    EXPECT_EQ(selected.accessibleName().toStdString(), "2× zoom");
    LensButton wide(0.5, false);
    EXPECT_EQ(wide.accessibleName().toStdString(), ".5 zoom");
}

double zoomOf(const std::optional<CameraCommand>& command) {
    EXPECT_TRUE(command);
    if (!command) return -1;
    const auto& zoom = std::get<CameraCommand::SetZoom>(command->value);
    EXPECT_FALSE(zoom.smooth);
    return zoom.factor;
}

TEST(Indicators, PinchZoomBoundsAndStart) {
    CameraStatus status;
    status.lenses = {0.5, 1.0, 2.0};
    status.maxZoom = 10;
    status.zoom = 2.0;
    PinchZoom pinch;
    EXPECT_EQ(zoomOf(pinch.change(status, 2.0)), 4.0);
    status.zoom = 3.0;  // the camera moves during the pinch; the pinch keeps its start
    EXPECT_EQ(zoomOf(pinch.change(status, 1.5)), 3.0);
    EXPECT_EQ(zoomOf(pinch.change(status, 100)), 10.0);
    EXPECT_EQ(zoomOf(pinch.change(status, 0.01)), 0.5);
    pinch.end();
    EXPECT_EQ(zoomOf(pinch.change(status, 1.0)), 3.0);

    CameraStatus noLenses;
    noLenses.lenses.clear();
    noLenses.zoom = 1.2;
    noLenses.maxZoom = 5;
    PinchZoom other;
    EXPECT_EQ(zoomOf(other.change(noLenses, 0.1)), 1.0);

    PinchZoom early;
    EXPECT_FALSE(early.change(std::nullopt, 2.0));
    EXPECT_FALSE(early.startZoom());
    EXPECT_EQ(zoomOf(early.change(status, 1.0)), 3.0);

    CameraStatus broken = status;
    broken.zoom = std::nan("");
    broken.maxZoom = std::nan("");
    PinchZoom nan;
    // A camera that reports no usable zoom gets no command rather than a NaN factor.
    EXPECT_FALSE(nan.change(broken, 2.0));
}

TEST(Indicators, PinchToZoomSendsOnlyRealChanges) {
    QWidget picture;
    std::vector<CameraCommand> sent;
    PinchToZoom zoom(&picture, [&](const CameraCommand& c) { sent.push_back(c); });
    zoom.pinchChanged(1.5);
    EXPECT_TRUE(sent.empty());  // no status yet
    CameraStatus status;
    status.maxZoom = 6;
    zoom.setStatus(status);
    zoom.pinchChanged(1.5);
    zoom.pinchChanged(1.505);  // below the gesture's step
    zoom.pinchChanged(2.0);
    zoom.pinchEnded();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(zoomOf(sent[1]), 2.0);
    // Ctrl with the wheel zooms in 10 % notches.
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&picture, &wheel);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_NEAR(zoomOf(sent[2]), 1.1, 1e-9);
}

TEST(Indicators, LevelPackets) {
    using Kind = LevelReading::Kind;
    const Bytes tilted{17, 0x7E, 0x00}, none{17, 0x00, 0x80}, negative{17, 0x9C, 0xFF};
    EXPECT_EQ(decodeLevelPacket(tilted), (LevelReading{Kind::roll, 12.6}));
    EXPECT_EQ(decodeLevelPacket(none).kind, Kind::noReading);
    EXPECT_EQ(decodeLevelPacket(negative), (LevelReading{Kind::roll, -10.0}));
    EXPECT_EQ(decodeLevelPacket(Bytes{17, 0x7E}).kind, Kind::notLevelPacket);
    EXPECT_EQ(decodeLevelPacket(Bytes{17, 0x7E, 0, 0}).kind, Kind::notLevelPacket);
    EXPECT_EQ(decodeLevelPacket(Bytes{}).kind, Kind::notLevelPacket);
}

TEST(Indicators, LevelLooks) {
    EXPECT_EQ(levelLook(0.4), (LevelLook{true, 0, std::nullopt}));
    EXPECT_EQ(levelLook(-0.5), (LevelLook{false, 0.5, QStringLiteral("0°")}));
    EXPECT_EQ(levelLook(12.6), (LevelLook{false, -12.6, QStringLiteral("13°")}));
    EXPECT_EQ(levelLook(-30), (LevelLook{false, 30, QStringLiteral("30°")}));
}

TEST(Indicators, LevelReadsOverABrightPicture) {
    QTemporaryDir folder;
    Defaults defaults(std::filesystem::path(folder.path().toStdString()) / "defaults.json");
    defaults.set("showLevel", true);
    FramingGuides guides(nullptr, &defaults);
    guides.resize(400, 400);
    guides.setPictureSize(QSizeF(400, 400));
    guides.setRoll(10);
    QImage shot(400, 400, QImage::Format_RGB32);
    shot.fill(Qt::white);  // a white wall, a sky
    guides.render(&shot);
    auto dark = [&](int x, int y) { return qGray(shot.pixel(x, y)) < 110; };
    // Across the tilted line, off its middle: white on a dark band.
    bool band = false, line = false;
    for (int y = 150; y < 250; ++y) {
        band = band || dark(260, y);
        line = line || (band && qGray(shot.pixel(260, y)) > 240);
    }
    EXPECT_TRUE(band && line) << "the level line has a dark band around it";
    // The degree readout under the centre: white text on a dark backing.
    int darkPixels = 0, whitePixels = 0;
    for (int y = 212; y < 236; ++y)
        for (int x = 184; x < 216; ++x) {
            darkPixels += dark(x, y);
            whitePixels += qGray(shot.pixel(x, y)) > 240;
        }
    EXPECT_GT(darkPixels, 32 * 24 / 3) << "the readout has a dark backing";
    EXPECT_GT(whitePixels, 10) << "its text is white";
}

TEST(Indicators, GuidesFitThePicture) {
    const QRectF square(0, 0, 400, 400);
    const auto band = pictureRect(square, QSizeF(1920, 1080));
    ASSERT_TRUE(band);
    EXPECT_EQ(*band, QRectF(0, 87.5, 400, 225));
    EXPECT_FALSE(pictureRect(square, QSizeF(0, 1080)));
    EXPECT_FALSE(pictureRect(square, QSizeF(1920, -1)));
    EXPECT_FALSE(pictureRect(square, std::nullopt));
    EXPECT_FALSE(pictureRect(square, QSizeF(std::nan(""), 1080)));
    const auto lines = thirdsLines(QRectF(0, 0, 300, 150));
    EXPECT_EQ(lines[0], QLineF(100, 0, 100, 150));
    EXPECT_EQ(lines[1], QLineF(0, 50, 300, 50));
    EXPECT_EQ(lines[2], QLineF(200, 0, 200, 150));
    EXPECT_EQ(lines[3], QLineF(0, 100, 300, 100));
}

TEST(Indicators, LegendBands) {
    const auto bands = FalseColor::bands();
    ASSERT_EQ(bands.size(), 6u);
    const char* names[] = {"Crushed", "Black", "Mid grey", "Skin", "Near white", "Clipped"};
    for (std::size_t i = 0; i < bands.size(); ++i) EXPECT_EQ(bands[i].name, names[i]);
    EXPECT_TRUE(bands[5].contains(1.0f));
    EXPECT_FALSE(bands[1].contains(0.2f));  // between bands: none
    FalseColorLegend legend;
    EXPECT_TRUE(legend.testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_GT(legend.sizeHint().height(), 6 * 10);
}

TEST(Indicators, FocusSquareClearsItself) {
    FocusSquare square;
    QSignalSpy changes(&square, &FocusSquare::pointChanged);
    square.setPoint(QPointF(10, 10));
    QTest::qWait(FocusSquare::holdMilliseconds / 2);
    square.setPoint(QPointF(40, 40));  // a second tap restarts the wait
    QTest::qWait(FocusSquare::holdMilliseconds * 3 / 4);
    EXPECT_EQ(square.point(), QPointF(40, 40));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !square.point(); }, 3000));
    EXPECT_EQ(changes.count(), 3);
}

TEST(Indicators, FlashFiresOnChangesOnly) {
    FlashOverlay flash;
    flash.setTrigger(3);
    EXPECT_EQ(flash.opacity(), 0);
    flash.setTrigger(3);
    EXPECT_EQ(flash.opacity(), 0);
    flash.setTrigger(4);
    EXPECT_NEAR(flash.opacity(), 0.8, 1e-9);
    EXPECT_TRUE(QTest::qWaitFor([&] { return flash.opacity() == 0; }, 2000));
}

TEST(Indicators, LoupeClickTogglesContours) {
    int toggles = 0;
    LoupeView loupe(120, [&] { ++toggles; });
    EXPECT_EQ(loupe.size(), QSize(120, 120));
    EXPECT_EQ(loupe.labelText(), QStringLiteral("Loupe"));
    loupe.setContours(true);
    EXPECT_EQ(loupe.labelText(), QStringLiteral("Contours"));
    EXPECT_EQ(loupe.accessibleDescription(), QStringLiteral("Click to hide focus contours"));
    QTest::mouseClick(&loupe, Qt::LeftButton, {}, QPoint(60, 60));
    QTest::mouseClick(&loupe, Qt::LeftButton, {}, QPoint(5, 115));
    EXPECT_EQ(toggles, 2);
}

}  // namespace
}  // namespace morvane
