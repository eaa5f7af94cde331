#include "deck_ui/editor/retouch_editor_view.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>

#include <gtest/gtest.h>

#include "camera_panels/round_icon_button.h"
#include "deck_ui/editor/angle_button.h"
#include "deck_ui/editor/retouch_editor.h"
#include "deck_ui/editor/retouch_sound_view.h"
#include "deck_ui/editor/retouch_strip.h"
#include "deck_ui/editor/selection_panel.h"
#include "deck_ui/player/program_player.h"
#include "deck_ui/player/program_video_view.h"
#include "editor_support.h"
#include "platform/theme.h"
#include "player_support.h"
#include "remote/notification_hub.h"
#include "temp_dir.h"

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

class EditorScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        theme::apply(*qobject_cast<QApplication*>(QCoreApplication::instance()));
        library = std::make_unique<RetouchLibrary>(temp / "Retouch", temp / "Program");
        take = makeTake(*library, {{"Alpha", "red", 440}, {"Bravo", "blue", 660}, {"Charlie", "green", 880}},
                        {{"Alpha", 0}, {"Bravo", 1.5}, {"Charlie", 2.5}});
        ASSERT_EQ(take.clips.size(), 3u);
        view = std::make_unique<RetouchEditorView>(take.id, *library, std::make_unique<CapturingSoundOutput>(samples));
        view->resize(1000, 1000);
        view->show();
        ASSERT_TRUE(waitFor([&] { return view->editor().loaded() && !view->player().picture().isNull(); }));
    }
    void TearDown() override {
        view.reset();
        // Thumbnails still being made finish before the folder goes.
        QThreadPool::globalInstance()->waitForDone();
    }

    template <class T>
    T* child(const char* name) const {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    RetouchStrip* strip() const { return view->findChild<RetouchStrip*>(); }
    AngleButton* cameraButton(const std::string& camera) const {
        for (auto* b : view->findChildren<AngleButton*>()) {
            if (b->camera() == camera) return b;
        }
        return nullptr;
    }

    TempDir temp;
    std::unique_ptr<RetouchLibrary> library;
    RetouchTake take;
    std::shared_ptr<std::vector<float>> samples = std::make_shared<std::vector<float>>();
    std::unique_ptr<RetouchEditorView> view;
};

}  // namespace

TEST_F(EditorScreenTest, SwitchUndoRenameAndExport) {
    auto& editor = view->editor();
    ASSERT_EQ(view->findChildren<AngleButton*>().size(), 3u);
    EXPECT_EQ(child<QPushButton>("titleButton")->text(), "Take 4");
    EXPECT_FALSE(child<QToolButton>("undoButton")->isEnabled());
    // Timecode at the take's own rate (its movies run at 10 frames a second).
    EXPECT_EQ(child<QLabel>("timecode")->text(), QString::fromUtf8("00:00:00:00 / 00:00:04:00 \u00B7 10 fps"));
    EXPECT_EQ(child<QToolButton>("soundButton")->text(), "Sound: Alpha");
    EXPECT_EQ(view->findChild<SelectionPanel*>()->shownPanel(), "help");

    auto shot = [&](const char* name) {
        // Set MORVANE_EDITOR_SHOTS to a folder to look at the screen's states.
        if (const char* dir = std::getenv("MORVANE_EDITOR_SHOTS")) {
            QCoreApplication::processEvents();
            view->grab().save(QString::fromLatin1(dir) + "/" + name + ".png");
        }
    };
    shot("opened");

    // A press on the strip moves the playhead there; the camera buttons follow it.
    auto* s = strip();
    const int x = int(s->geometry().x(3.2));
    QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(x, 30));
    EXPECT_NEAR(editor.time(), 3.2, 4.0 / s->width() + 1e-9);
    EXPECT_TRUE(cameraButton("Charlie")->onAir());
    EXPECT_EQ(cameraButton("Charlie")->accessibleName(), "Charlie, on air");
    ASSERT_TRUE(waitFor([&] { return !cameraButton("Bravo")->image().isNull(); }));
    EXPECT_TRUE(isBlue(middleColour(cameraButton("Bravo")->image())));

    // Switching at the playhead, then undoing it.
    QTest::mouseClick(cameraButton("Alpha"), Qt::LeftButton);
    EXPECT_EQ(editor.edit()->camera(editor.time()), "Alpha");
    EXPECT_TRUE(cameraButton("Alpha")->onAir());
    ASSERT_TRUE(child<QToolButton>("undoButton")->isEnabled());
    QTest::mouseClick(child<QToolButton>("undoButton"), Qt::LeftButton);
    EXPECT_EQ(editor.edit()->camera(editor.time()), "Charlie");
    EXPECT_FALSE(child<QToolButton>("undoButton")->isEnabled());
    EXPECT_EQ(library->take(take.id)->edit, editor.edit());
    // The preview shows the camera of the playhead again once its rebuild is in.
    ASSERT_TRUE(waitFor([&] { return isGreen(middleColour(view->player().picture())); }));

    // A double-click on the strip selects the block under it; its panel offers to remove it.
    QTest::mouseDClick(s, Qt::LeftButton, {}, QPoint(int(s->geometry().x(2.0)), 30));
    EXPECT_EQ(editor.selection(), EditorSelection::block(1.5, 2.5));
    EXPECT_EQ(view->findChild<SelectionPanel*>()->shownPanel(), "block");
    shot("block");

    // Opening and closing the sound sheet untouched leaves the undo button as it was.
    QTest::mouseClick(child<QToolButton>("soundButton"), Qt::LeftButton);
    ASSERT_TRUE(view->soundSheet());
    if (const char* dir = std::getenv("MORVANE_EDITOR_SHOTS")) {
        view->soundSheet()->grab().save(QString::fromLatin1(dir) + "/sound.png");
    }
    EXPECT_EQ(view->soundSheet()->findChildren<QPushButton*>("soundChoice").size(), 5);
    view->soundSheet()->reject();
    ASSERT_TRUE(waitFor([&] { return !view->soundSheet(); }));
    EXPECT_FALSE(child<QToolButton>("undoButton")->isEnabled());

    // The switch panel, and a removed part hatched on the strip.
    editor.setSelection(EditorSelection::switchPoint(editor.edit()->switches[2].id));
    EXPECT_EQ(view->findChild<SelectionPanel*>()->shownPanel(), "switch");
    shot("switch");
    editor.removeBlock(1.5, 2.5);
    editor.selectBlock(2.0);
    EXPECT_EQ(view->findChild<SelectionPanel*>()->shownPanel(), "removed");
    shot("removed");
    editor.undo();

    // The full-screen player covers the screen with the same pictures; Escape closes it.
    auto* fullScreen = view->findChild<RoundIconButton*>();
    ASSERT_TRUE(fullScreen);
    EXPECT_EQ(fullScreen->label(), "Full screen");
    fullScreen->click();
    ASSERT_TRUE(view->fullScreenPlayer());
    EXPECT_TRUE(editor.fullScreen());
    QTest::keyClick(view->fullScreenPlayer(), Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !view->fullScreenPlayer(); }));
    EXPECT_FALSE(editor.fullScreen());
    EXPECT_TRUE(editor.observing()) << "the editor itself never left the screen";

    // Rename through the alert.
    QTest::mouseClick(child<QPushButton>("titleButton"), Qt::LeftButton);
    ASSERT_TRUE(view->renameAlert());
    EXPECT_EQ(view->renameAlert()->textValue(), "");
    view->renameAlert()->setTextValue("  Interview ");
    view->renameAlert()->accept();
    EXPECT_EQ(library->take(take.id)->name, "Interview");
    EXPECT_EQ(child<QPushButton>("titleButton")->text(), "Interview");

    // Export: the progress card, then the done card, the announcement and the library's record.
    RetouchBuilder::ExportOptions options;
    options.programFolder = temp / "Program";
    options.picturesFolder = temp / "Pictures";
    options.settings.preset = "ultrafast";
    options.settings.crf = 30;
    editor.setExporter(RetouchEditor::threadPoolExporter(options));
    QSignalSpy announced(&NotificationHub::shared(), &NotificationHub::deckEditExported);
    QTest::mouseClick(child<QPushButton>("exportButton"), Qt::LeftButton);
    EXPECT_EQ(view->shownCard(), "progress");
    EXPECT_FALSE(child<QPushButton>("exportButton")->isEnabled());
    shot("progress");
    EXPECT_TRUE(child<QLabel>("exportProgressText")->text().startsWith(QString::fromUtf8("Exporting 1080p\u2026 ")));
    ASSERT_TRUE(waitFor([&] { return view->shownCard() == "done"; }, 180));
    ASSERT_EQ(announced.count(), 1);
    const auto deckEdit = announced.at(0).at(0).value<DeckEdit>();
    EXPECT_EQ(deckEdit.name, "Interview");
    ASSERT_EQ(deckEdit.pieces.size(), 3u);
    EXPECT_EQ(deckEdit.pieces[2].camera, "Charlie");
    const auto recorded = *library->take(take.id);
    EXPECT_TRUE(recorded.clips.empty());
    ASSERT_TRUE(view->editor().exported());
    EXPECT_TRUE(fs::exists(*view->editor().exported()));
    EXPECT_EQ(recorded.exportedFile, view->editor().exported()->filename().string());
    EXPECT_FALSE(view->player().hasItem()) << "the preview goes blank";
    EXPECT_EQ(child<QLabel>("exportDoneText")->text(), QString::fromStdString(editor::exportDoneText()));

    shot("done");
    // Behind the card the editor keeps the take: its cameras, its sound and its last picture.
    EXPECT_EQ(view->findChildren<AngleButton*>().size(), 3u);
    EXPECT_EQ(child<QToolButton>("soundButton")->text(), "Sound: Alpha");
    QCoreApplication::processEvents();
    EXPECT_TRUE(isGreen(middleColour(view->findChild<ProgramVideoView*>()->grab().toImage())));
    // The card is opaque: with the editor's column gone and a white window behind, it looks the same.
    auto* card = child<QLabel>("exportDoneText")->parentWidget();
    const QPoint inside = card->geometry().topLeft() + QPoint(12, card->height() / 2);
    const QColor over = view->grab().toImage().pixelColor(inside);
    view->findChild<QScrollArea*>()->hide();
    theme::setBackground(*view, Qt::white);
    EXPECT_EQ(view->grab().toImage().pixelColor(inside), over);
    QSignalSpy closed(view.get(), &RetouchEditorView::closeRequested);
    QTest::mouseClick(child<QPushButton>("doneButton"), Qt::LeftButton);
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(EditorScreenTest, DeleteFromTheMoreMenuAndAFailedExport) {
    auto& editor = view->editor();
    // A failing export shows the alert with the builder's text.
    editor.setExporter([](RetouchBuilder::Program, RetouchTake, QObject*, std::function<void(float)>,
                          RetouchBuilder::ExportCompletion completion) {
        completion(std::nullopt, std::make_exception_ptr(RetouchBuilder::Error(RetouchBuilder::Failure::noVideo)));
    });
    editor.exportTask();
    ASSERT_TRUE(waitFor([&] { return view->exportAlert() != nullptr; }));
    EXPECT_EQ(view->exportAlert()->windowTitle(), "Couldn't export");
    EXPECT_EQ(view->exportAlert()->informativeText(), "This take has no usable video");
    EXPECT_EQ(view->shownCard(), "");
    view->exportAlert()->reject();
    ASSERT_TRUE(waitFor([&] { return !editor.error(); }));

    // "Delete Take…" asks first; "Delete Take" removes the copies and closes the editor.
    auto* menu = child<QToolButton>("moreButton")->menu();
    ASSERT_TRUE(menu);
    menu->findChild<QAction*>("menuDelete")->trigger();
    ASSERT_TRUE(view->deleteDialog());
    EXPECT_EQ(view->deleteDialog()->informativeText(),
              "Its 1080p copies and your edits are removed from this computer. The 4K originals stay on the cameras.");
    QSignalSpy closed(view.get(), &RetouchEditorView::closeRequested);
    auto* remove = view->deleteDialog()->findChild<QPushButton*>("deleteTake");
    ASSERT_TRUE(remove);
    remove->click();
    ASSERT_TRUE(waitFor([&] { return closed.count() == 1; }));
    EXPECT_FALSE(library->take(take.id));
    for (const auto& clip : take.clips) EXPECT_FALSE(fs::exists(library->directory() / clip.file));
    EXPECT_EQ(child<QPushButton>("titleButton")->text(), "Take");
}

// Cameras never start at one instant: one that began a moment after the take shows its first picture, dimmed, at
// the opening playhead, not a black box until playback passes its start.
TEST(EditorCameraButtons, ACameraThatStartedLateShowsItsFirstPictureAtTheStart) {
    theme::apply(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    TempDir temp;
    RetouchLibrary library(temp / "Retouch", temp / "Program");
    const auto take = makeTake(library, {{"Alpha", "red", 440}, {"Bravo", "blue", 660}}, {{"Alpha", 0}});
    ASSERT_EQ(take.clips.size(), 2u);
    auto takes = library.takes();
    takes.back().clips[1].start = takes.back().clips[1].start.addingTimeInterval(0.3);
    library.setTakes(takes);
    auto samples = std::make_shared<std::vector<float>>();
    RetouchEditorView view(take.id, library, std::make_unique<CapturingSoundOutput>(samples));
    view.resize(1000, 800);
    view.show();
    ASSERT_TRUE(waitFor([&] { return view.editor().loaded() && !view.player().picture().isNull(); }));
    EXPECT_EQ(view.editor().time(), 0);
    AngleButton* bravo = nullptr;
    for (auto* b : view.findChildren<AngleButton*>())
        if (b->camera() == "Bravo") bravo = b;
    ASSERT_TRUE(bravo);
    ASSERT_TRUE(waitFor([&] { return !bravo->image().isNull(); }));
    EXPECT_TRUE(isBlue(middleColour(bravo->image())));
    EXPECT_TRUE(bravo->dimmed());
    if (const char* dir = std::getenv("MORVANE_EDITOR_SHOTS")) {
        QCoreApplication::processEvents();
        view.grab().save(QString::fromLatin1(dir) + "/late-camera.png");
    }
    QThreadPool::globalInstance()->waitForDone();
}

// In a small window the preview gives up height: a click on the strip opens its panel in view, for wide and tall
// pictures alike.
TEST(EditorScreenLayout, ATimelineClickOpensItsPanelInsideTheWindow) {
    theme::apply(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    struct Case {
        QSize window;
        int width, height;  // of the cameras' pictures
    } cases[] = {{{960, 600}, 320, 180}, {{960, 600}, 180, 320}, {{1280, 800}, 320, 180}, {{1280, 800}, 180, 320}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.window.width() << "x" << c.window.height() << ", pictures " << c.width
                                        << "x" << c.height);
        TempDir temp;
        RetouchLibrary library(temp / "Retouch", temp / "Program");
        const auto take = makeTake(library, {{"Alpha", "red", 440}, {"Bravo", "blue", 660}},
                                   {{"Alpha", 0}, {"Bravo", 2}}, c.width, c.height);
        ASSERT_EQ(take.clips.size(), 2u);
        auto samples = std::make_shared<std::vector<float>>();
        RetouchEditorView view(take.id, library, std::make_unique<CapturingSoundOutput>(samples));
        view.resize(c.window);
        view.show();
        ASSERT_TRUE(waitFor([&] { return view.editor().loaded() && !view.player().picture().isNull(); }));
        EXPECT_EQ(view.editor().tallPicture(), c.height > c.width);
        auto* strip = view.findChild<RetouchStrip*>();
        QTest::mouseDClick(strip, Qt::LeftButton, {}, QPoint(int(strip->geometry().x(1.0)), 30));
        auto* panel = view.findChild<SelectionPanel*>();
        ASSERT_EQ(panel->shownPanel(), "block");
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();

        const auto inView = [&](QWidget* w) { return QRect(w->mapTo(&view, QPoint(0, 0)), w->size()); };
        EXPECT_TRUE(view.rect().contains(inView(strip))) << inView(strip).bottom();
        EXPECT_TRUE(view.rect().contains(inView(panel))) << "panel's bottom at " << inView(panel).bottom();
        auto* preview = view.findChild<RoundIconButton*>()->parentWidget();
        EXPECT_GE(preview->height(), 120) << "the preview is still a picture";
        if (c.height > c.width) {
            EXPECT_LE(preview->height(), c.window.height() * 0.55 + 1);
        }
        if (const char* dir = std::getenv("MORVANE_EDITOR_SHOTS")) {
            view.grab().save(QStringLiteral("%1/editor-%2x%3-%4.png")
                                 .arg(QString::fromLatin1(dir))
                                 .arg(c.window.width())
                                 .arg(c.window.height())
                                 .arg(c.height > c.width ? "tall" : "wide"));
        }
    }
}
