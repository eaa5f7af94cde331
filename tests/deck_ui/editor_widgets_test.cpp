// The switching strip's gestures and the sound sheet, on an editor with a stand-in player.

#include <QApplication>
#include <QLabel>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "deck_ui/editor/retouch_editor.h"
#include "deck_ui/editor/retouch_sound_view.h"
#include "deck_ui/editor/retouch_strip.h"
#include "editor_support.h"
#include "platform/theme.h"
#include "temp_dir.h"
#include "test_files.h"

using namespace morvane;
using namespace morvane::test;

namespace {

const Date base{760000000.0};

class EditorWidgetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        theme::apply(*qobject_cast<QApplication*>(QCoreApplication::instance()));
        library = std::make_unique<RetouchLibrary>(temp / "Retouch", temp / "Program");
        RetouchTake t;
        t.number = 2;
        for (const char* camera : {"Alpha", "Bravo"}) {
            RetouchClip c;
            c.camera = camera;
            c.file = c.id.uuidString() + ".mov";
            c.start = base;
            c.duration = 20;
            t.clips.push_back(c);
        }
        t.cuts = {{"Alpha", base}, {"Bravo", base.addingTimeInterval(5)}, {"Alpha", base.addingTimeInterval(12)}};
        library->setTakes({t});
        editor = std::make_unique<RetouchEditor>(t.id, player, *library);
        editor->setBuilder(builds.builder());
        editor->loadEdit();
        strip = std::make_unique<RetouchStrip>(*editor);
        strip->resize(500, RetouchStrip::stripHeight);
        strip->show();
    }

    QPoint at(double t) const { return QPoint(int(std::lround(strip->geometry().x(t))), 30); }
    void wheel(QPoint angle, Qt::KeyboardModifiers modifiers) {
        QWheelEvent event(QPointF(250, 30), strip->mapToGlobal(QPointF(250, 30)), QPoint(), angle, Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(strip.get(), &event);
    }
    void gesture(Qt::NativeGestureType type, double value) {
        QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, QPointF(250, 30),
                                  QPointF(250, 30), QPointF(250, 30), value, QPointF());
        QApplication::sendEvent(strip.get(), &event);
    }

    TempDir temp;
    std::unique_ptr<RetouchLibrary> library;
    StandInPlayer player;
    HeldBuilder builds;
    std::unique_ptr<RetouchEditor> editor;
    std::unique_ptr<RetouchStrip> strip;
};

}  // namespace

TEST_F(EditorWidgetsTest, StripPressesDragsAndDoubleClicks) {
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, at(8));
    EXPECT_NEAR(editor->time(), 8, 0.05) << "a press moves the playhead";
    QTest::mouseMove(strip.get(), at(9));
    EXPECT_NEAR(editor->time(), 9, 0.05) << "and it follows the drag";
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, at(9));
    EXPECT_TRUE(editor->history().empty()) << "moving the playhead changes no edit";

    QTest::mouseDClick(strip.get(), Qt::LeftButton, {}, at(7));
    EXPECT_EQ(editor->selection(), EditorSelection::block(5, 12));

    // A switch mark: a click selects it, a second click clears it, a drag moves it.
    const Uuid second = editor->edit()->switches[1].id;
    EXPECT_EQ(strip->markAt(strip->geometry().x(5) + 13), second) << "reached up to 14 points beside it";
    QTest::mouseClick(strip.get(), Qt::LeftButton, {}, at(5));
    EXPECT_EQ(editor->selection(), EditorSelection::switchPoint(second));
    QTest::mouseClick(strip.get(), Qt::LeftButton, {}, at(5));
    EXPECT_FALSE(editor->selection());
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, at(5));
    QTest::mouseMove(strip.get(), at(6));
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, at(6));
    EXPECT_NEAR(editor->edit()->switches[1].time, 6, 0.05);
    EXPECT_EQ(editor->selection(), EditorSelection::switchPoint(second));
    EXPECT_FALSE(editor->history().empty());
    EXPECT_FALSE(strip->markAt(strip->geometry().x(0))) << "the opening switch has no mark";
}

TEST_F(EditorWidgetsTest, StripZoomsAndScrolls) {
    // Ctrl+wheel zooms about the centre; the badge appears.
    wheel(QPoint(0, 120 * 8), Qt::ControlModifier);
    const double zoomed = editor->zoom();
    EXPECT_GT(zoomed, 3);
    EXPECT_TRUE(StripGeometry::zoomBadge(zoomed));
    for (int i = 0; i < 40; ++i) wheel(QPoint(0, 120 * 8), Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(editor->zoom(), 60);
    for (int i = 0; i < 60; ++i) wheel(QPoint(0, -120 * 8), Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(editor->zoom(), 1);

    // A touchpad pinch continues from the zoom it started at.
    gesture(Qt::BeginNativeGesture, 0);
    gesture(Qt::ZoomNativeGesture, 1.0);
    gesture(Qt::ZoomNativeGesture, 1.0);
    gesture(Qt::EndNativeGesture, 0);
    EXPECT_DOUBLE_EQ(editor->zoom(), 4);
    const double viewStart = editor->viewStart();
    EXPECT_DOUBLE_EQ(viewStart, 7.5) << "the centre stays where it was";

    // While zoomed, a drag that starts away from the playhead scrolls the take…
    editor->seek(8.0);
    const double before = editor->viewStart();
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, QPoint(400, 30));
    QTest::mouseMove(strip.get(), QPoint(300, 30));
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, QPoint(300, 30));
    EXPECT_NEAR(editor->viewStart(), before + 100 / strip->geometry().scale(), 1e-6);
    EXPECT_DOUBLE_EQ(editor->time(), 8.0);
    // …and a tap there moves the playhead to it.
    QTest::mouseClick(strip.get(), Qt::LeftButton, {}, QPoint(450, 30));
    EXPECT_NEAR(editor->time(), *strip->geometry().t(450), 0.01);

    // A sideways wheel scrolls too, never past the take's ends.
    for (int i = 0; i < 50; ++i) wheel(QPoint(-120 * 8, 0), {});
    EXPECT_DOUBLE_EQ(editor->viewStart(), 20 - strip->geometry().span());
}

TEST_F(EditorWidgetsTest, AStripWithoutWidthIgnoresGestures) {
    editor->seek(3);
    strip->setMinimumWidth(0);
    strip->resize(0, RetouchStrip::stripHeight);
    QTest::mouseClick(strip.get(), Qt::LeftButton, {}, QPoint(0, 30));
    QTest::mouseDClick(strip.get(), Qt::LeftButton, {}, QPoint(0, 30));
    EXPECT_DOUBLE_EQ(editor->time(), 3);
    EXPECT_FALSE(editor->selection());
}

TEST_F(EditorWidgetsTest, SoundSheetWritesTheWorkingEditAndCommitsOnce) {
    const auto take = *library->take(editor->takeID());
    RetouchSoundView sheet(*editor, take.cameras());
    sheet.show();
    auto rows = sheet.findChildren<QPushButton*>("soundChoice");
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0]->accessibleName(), "Alpha only");
    EXPECT_TRUE(rows[0]->findChild<QLabel*>("checkmark")) << "a sound without a camera is the first camera's";
    EXPECT_TRUE(sheet.findChildren<QSlider*>().isEmpty());

    rows[3]->click();  // "Mix all cameras"
    EXPECT_EQ(editor->edit()->sound, RetouchEdit::Sound::mix());
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet.findChildren<QSlider*>().size(), 2);
    EXPECT_TRUE(sheet.findChild<QLabel*>("soundFooter")->text().startsWith("Mixing works best"));
    EXPECT_TRUE(editor->history().empty()) << "nothing is committed while the sheet is open";

    auto* slider = sheet.findChildren<QSlider*>()[1];
    EXPECT_EQ(slider->value(), slider->maximum()) << "no entry plays at full volume";
    slider->setValue(250);
    EXPECT_FLOAT_EQ(editor->edit()->volumes.at("Bravo"), 0.25f);

    QToolButton* later = nullptr;
    for (auto* b : sheet.findChildren<QToolButton*>()) {
        if (b->property("camera").toString() == "Alpha" && b->property("direction").toDouble() > 0) later = b;
    }
    ASSERT_TRUE(later);
    for (int i = 0; i < 60 && later->isEnabled(); ++i) later->click();
    EXPECT_DOUBLE_EQ(editor->edit()->soundOffsets.at("Alpha"), 0.5);
    EXPECT_FALSE(later->isEnabled()) << "the stepper stops at +0.5 s";
    bool labelled = false;
    for (auto* l : sheet.findChildren<QLabel*>("syncLabel")) labelled |= l->text() == "Sound sync: 500 ms";
    EXPECT_TRUE(labelled);

    editor->soundSheetClosed();
    EXPECT_EQ(editor->history().size(), 1u) << "closing commits once";
    EXPECT_EQ(library->take(editor->takeID())->edit->sound, RetouchEdit::Sound::mix());
}
