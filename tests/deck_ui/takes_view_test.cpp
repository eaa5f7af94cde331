#include "deck_ui/takes/takes_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "../remote/controller_fixture.h"
#include "camera_panels/close_button.h"
#include "camera_panels/large_sheet.h"
#include "deck_ui/editor/retouch_editor.h"
#include "deck_ui/takes/take_row.h"
#include "platform/theme.h"
#include "test_files.h"

using namespace morvane;

namespace {

const Date base{760000000.0};

class TakesViewTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        theme::apply(*qobject_cast<QApplication*>(QCoreApplication::instance()));
        make();
        controller->setCollectsDeckCopies(true);  // the deck's configuration
    }
    void TearDown() override {
        view.reset();
        ControllerTest::TearDown();
    }

    TakesView& open() {
        view = std::make_unique<TakesView>(controller, retouch.get());
        view->resize(800, 900);
        view->show();
        settle();
        return *view;
    }

    RetouchTake addTake(std::int64_t number, double offset, bool exported = false) {
        RetouchTake t;
        t.number = number;
        for (const char* camera : {"Alpha", "Bravo"}) {
            RetouchClip c;
            c.camera = camera;
            c.file = c.id.uuidString() + ".mov";
            c.start = base.addingTimeInterval(offset);
            c.duration = 30;
            test::writeFile(retouch->directory() / c.file, "copy");
            t.clips.push_back(c);
        }
        t.cuts = {{"Alpha", base.addingTimeInterval(offset)}};
        if (exported) {
            t.exportedAt = base;
            t.exportedClips = t.clips;
            t.clips.clear();
        }
        auto all = retouch->takes();
        all.push_back(t);
        retouch->setTakes(all);
        return t;
    }

    /// Two cameras that have reported a status, so that requests reach them.
    void connectCameras() {
        connect({{1, "Alpha"}, {2, "Bravo"}});
        status(1);
        status(2);
        link->clearSent();
    }

    /// Lets the layouts place everything.
    static void settle() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }

    template <class T>
    T* child(const char* name) const {
        return view->findChild<T*>(QString::fromLatin1(name));
    }

    std::unique_ptr<TakesView> view;
};

}  // namespace

TEST_F(TakesViewTest, EmptyLibraryAndNoCameras) {
    open();
    auto* empty = child<QLabel>("noTakes");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->text(), "No takes yet");
    EXPECT_TRUE(view->rows().isEmpty());
    EXPECT_FALSE(child<QToolButton>("todaysTakes")->isEnabled()) << "no camera connected";
    EXPECT_TRUE(child<QCheckBox>("autoCollect")->isEnabled());
    EXPECT_TRUE(child<QCheckBox>("autoCollect")->isChecked());
    EXPECT_TRUE(child<QLabel>("collectingFooter")->text().startsWith("After each take"));
    EXPECT_FALSE(view->findChild<QWidget*>("arrivingRow"));
}

TEST_F(TakesViewTest, NewestTakeFirstAndOnlyUnexportedTakesOpen) {
    addTake(1, 0);
    addTake(2, 100, true);
    addTake(3, 200);
    open();
    const auto rows = view->rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0]->take().number, 3);
    EXPECT_EQ(rows[1]->take().number, 2);
    EXPECT_EQ(rows[2]->take().number, 1);
    EXPECT_TRUE(rows[1]->findChild<QWidget*>("exportedMark"));
    EXPECT_FALSE(rows[1]->findChild<QLabel*>("summary"));
    EXPECT_EQ(rows[0]->findChild<QLabel*>("duration")->text(), "0:30");

    QTest::mouseClick(rows[1], Qt::LeftButton);
    EXPECT_FALSE(view->editor()) << "an exported take does not open";
    QTest::mouseClick(rows[0], Qt::LeftButton);
    ASSERT_TRUE(view->editor());
    EXPECT_EQ(view->editor()->editor().takeID(), rows[0]->take().id);
    emit view->editor()->closeRequested();
    EXPECT_FALSE(view->editor());
}

TEST_F(TakesViewTest, RequestsGoToEveryCamera) {
    const auto exported = addTake(4, 0, true);
    open();
    auto* again = view->rows()[0]->findChild<QToolButton*>("collectAgain");
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->isEnabled()) << "shown but disabled without cameras";
    connectCameras();
    EXPECT_TRUE(child<QToolButton>("todaysTakes")->isEnabled());
    EXPECT_TRUE(again->isEnabled());

    QTest::mouseClick(child<QToolButton>("todaysTakes"), Qt::LeftButton);
    for (int n : {1, 2}) EXPECT_EQ(commandNames(n), std::vector<std::string>{"requestDeckCopies"}) << n;
    EXPECT_EQ(controller->message(), "Asked 2 cameras for their takes");

    link->clearSent();
    QTest::mouseClick(again, Qt::LeftButton);
    for (int n : {1, 2}) {
        const auto commands = link->commandsTo(peer(n));
        ASSERT_EQ(commands.size(), 1u);
        const auto* request = commands[0].as<camera_command::RequestDeckCopiesOf>();
        ASSERT_TRUE(request);
        EXPECT_EQ(request->ids.size(), 2u);
        EXPECT_EQ(request->ids[0], exported.exportedClips->front().id);
    }

    // The switch off: the cameras stop sending by themselves and the footer says so.
    link->clearSent();
    child<QCheckBox>("autoCollect")->click();
    EXPECT_FALSE(controller->collectsTakesAutomatically());
    for (int n : {1, 2}) EXPECT_EQ(commandNames(n), std::vector<std::string>{"deckStopAutoCopies"});
    EXPECT_TRUE(child<QLabel>("collectingFooter")->text().startsWith("Cameras send copies only when you ask."));
    child<QCheckBox>("autoCollect")->click();
    for (int n : {1, 2}) EXPECT_EQ(commandNames(n), (std::vector<std::string>{"deckStopAutoCopies", "deckHello"}));
}

TEST_F(TakesViewTest, ArrivingCopiesFollowTheCamerasReports) {
    addTake(1, 0);
    addTake(2, 100, true);
    auto third = addTake(3, 200);
    retouch->rename(third.id, "Interview with a rather long name that does not fit on one line of the list at all");
    open();
    connectCameras();
    CameraStatus sending;
    sending.deckCopyProgress = 0.427;
    sending.deckCopiesWaiting = 3;
    sending.deckCopiesPreparing = 1;
    status(2, sending);
    QCoreApplication::processEvents();
    auto rows = view->findChildren<QWidget*>("arrivingRow");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]->findChild<QLabel*>("arrivingStatus")->text(),
              QString::fromUtf8("sending 42% \u00B7 2 waiting \u00B7 preparing 1"));
    if (const char* dir = std::getenv("MORVANE_EDITOR_SHOTS")) {
        settle();
        view->grab().save(QString::fromLatin1(dir) + "/takes.png");
    }
    status(2, CameraStatus{});
    QCoreApplication::processEvents();
    rows = view->findChildren<QWidget*>("arrivingRow");
    ASSERT_EQ(rows.size(), 1) << "both counts back to 0: the row stays while the screen is open";
    EXPECT_EQ(rows[0]->findChild<QLabel*>("arrivingStatus")->text(), "all copies in");
}

// The deck's takes screen with a copy arriving and the pointer on Take 1: when the copy is in (the camera's
// counts back to 0, its take filed on top), Take 1 is where it was at every turn of the event loop, and a click
// there opens it.
TEST_F(TakesViewTest, RowsKeepTheirPlaceAsCopiesArrive) {
    addTake(1, 0);
    addTake(2, 100);
    addTake(3, 200);
    open();
    view->resize(800, 600);
    connectCameras();
    CameraStatus sending;
    sending.deckCopyProgress = 0.5;
    sending.deckCopiesWaiting = 1;
    status(2, sending);
    settle();
    ASSERT_EQ(view->findChildren<QWidget*>("arrivingRow").size(), 1);
    auto rowOf = [&](std::int64_t number) -> TakeRow* {
        for (auto* row : view->rows())
            if (row->take().number == number) return row;
        return nullptr;
    };
    auto place = [&](std::int64_t number) {
        TakeRow* row = rowOf(number);
        return row && row->isVisible() ? QRect(row->mapTo(view.get(), QPoint(0, 0)), row->size()) : QRect();
    };
    const QRect before = place(1);
    ASSERT_FALSE(before.isEmpty());
    QCursor::setPos(view->mapToGlobal(before.center()));
    // Up and down; across, a scroll bar that comes may take a few points from its width.
    auto watch = [&](const char* step) {
        for (int turn = 0; turn < 5; ++turn) {
            const QRect now = place(1);
            EXPECT_EQ(now.top(), before.top()) << step << ", turn " << turn;
            EXPECT_EQ(now.height(), before.height()) << step << ", turn " << turn;
            EXPECT_TRUE(now.contains(before.center())) << step << ", turn " << turn;
            QCoreApplication::processEvents();
        }
    };
    status(2, CameraStatus{});
    watch("the copy is in");
    addTake(4, 300);
    watch("its take filed on top");
    ASSERT_EQ(view->rows().size(), 4);
    EXPECT_EQ(view->rows()[0]->take().number, 4) << "newest first";
    QTest::mouseClick(view->childAt(before.center()), Qt::LeftButton);
    ASSERT_TRUE(view->editor()) << "the click aimed at Take 1 opens it";
    EXPECT_EQ(view->editor()->editor().takeID(), rowOf(1)->take().id);
}

TEST_F(TakesViewTest, RenameAndDeleteThroughTheirDialogs) {
    const auto first = addTake(1, 0);
    addTake(2, 100);
    open();
    auto* row = view->rows()[1];
    ASSERT_EQ(row->take().number, 1);

    emit row->renameRequested();
    ASSERT_TRUE(view->renameAlert());
    EXPECT_EQ(view->renameAlert()->textValue(), "") << "the field is not prefilled with the default title";
    view->renameAlert()->setTextValue("Wedding");
    view->renameAlert()->reject();
    EXPECT_FALSE(retouch->take(first.id)->name) << "cancel leaves the name";
    emit view->rows()[1]->renameRequested();
    view->renameAlert()->setTextValue("Wedding");
    view->renameAlert()->accept();
    EXPECT_EQ(retouch->take(first.id)->name, "Wedding");

    // The Delete key asks first; "Delete Take" removes the take and its copies through the library.
    row = view->rows()[1];
    row->setFocus();
    QTest::keyClick(row, Qt::Key_Delete);
    ASSERT_TRUE(view->deleteDialog());
    EXPECT_EQ(view->deleteDialog()->text(), "Delete Wedding?");
    auto* remove = view->deleteDialog()->findChild<QPushButton*>("deleteTake");
    ASSERT_TRUE(remove);
    remove->click();
    EXPECT_FALSE(retouch->take(first.id));
    for (const auto& clip : first.clips) EXPECT_FALSE(std::filesystem::exists(retouch->directory() / clip.file));
    settle();
    ASSERT_EQ(view->rows().size(), 1);
    EXPECT_EQ(view->rows()[0]->take().number, 2);
}

// In the deck's window the takes screen is a cover over the remote screen, and the editor is pushed on it: each has
// one way to close, and the editor's Export never lies where the takes screen's close was.
TEST_F(TakesViewTest, OneCloseEachAndExportNeverWhereTheTakesScreenClosed) {
    addTake(1, 0);
    for (const QSize size : {QSize(960, 600), QSize(1280, 800), QSize(800, 480), QSize(1920, 1080)}) {
        SCOPED_TRACE(size.width());
        QWidget window;
        window.resize(size);
        TakesView* takes = nullptr;
        LargeSheet sheet(&window, [&] { return takes = new TakesView(controller, retouch.get()); });
        window.show();
        sheet.setPresented(true);
        settle();
        ASSERT_TRUE(takes);
        const auto inWindow = [&](QWidget* w) { return QRect(w->mapTo(&window, QPoint(0, 0)), w->size()); };
        // The close controls on screen: the screen's own ones and any the cover adds.
        const auto closes = [&](QWidget* screen, const char* own) {
            QList<QRect> rects;
            for (auto* b : sheet.cover()->findChildren<QAbstractButton*>()) {
                const bool close = qobject_cast<CloseButton*>(b) ||
                                   (screen->isAncestorOf(b) && (b->objectName() == own || b->accessibleName() == own));
                if (close && b->isVisibleTo(&window)) rects.push_back(inWindow(b));
            }
            return rects;
        };

        const auto takesCloses = closes(takes, "takesDone");
        ASSERT_FALSE(takesCloses.isEmpty());
        EXPECT_EQ(takesCloses.size(), 1) << "the takes screen closes by \"Done\" alone";
        EXPECT_TRUE(window.rect().contains(takesCloses[0]));

        const auto shot = [&](const char* screen) {
            if (const char* dir = std::getenv("MORVANE_EDITOR_SHOTS")) {
                window.grab().save(
                    QStringLiteral("%1/%2-%3x%4.png").arg(dir).arg(screen).arg(size.width()).arg(size.height()));
            }
        };
        shot("takes");

        QTest::mouseClick(takes->rows()[0], Qt::LeftButton);
        ASSERT_TRUE(takes->editor());
        settle();
        shot("takes-editor");
        EXPECT_EQ(closes(takes->editor(), "Back").size(), 1) << "the editor goes back by its back button alone";
        auto* exportButton = takes->editor()->findChild<QPushButton*>(QStringLiteral("exportButton"));
        ASSERT_TRUE(exportButton);
        EXPECT_TRUE(window.rect().contains(inWindow(exportButton)));
        for (const QRect& close : takesCloses) {
            EXPECT_FALSE(inWindow(exportButton).intersects(close))
                << "Export at " << inWindow(exportButton).x() << ", a close at " << close.x();
        }
    }
}
