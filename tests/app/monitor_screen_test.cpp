// The remote screen over a scripted link: its rules, the pairing alert, the camera keys, its lifecycle and
// the privacy cover of the window around it.

#include <fstream>
#include <functional>

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTest>

#include <QTemporaryDir>
#include <QTimer>

#include "app/deck_bar.h"
#include "app/feed_tile.h"
#include "app/monitor_toolbar.h"
#include "app/morvane_app.h"
#include "app/nearby_cameras_view.h"
#include "app/notice_band.h"
#include "app/round_icon_button.h"
#include "app/sheet_dialog.h"
#include "app/single_feed_pills.h"
#include "camera_panels/app_logo.h"
#include "camera_panels/caption_views.h"
#include "camera_panels/capture_controls.h"
#include "camera_panels/close_button.h"
#include "camera_panels/large_sheet.h"
#include "camera_panels/shutter_button.h"
#include "platform/desktop_open.h"
#include "protocol/camera_event.h"
#include "screen_fixture.h"

namespace morvane {
namespace {

using Item = ToolbarItem;

TEST(MonitorScreenRules, TopBarItems) {
    struct Case {
        const char* what;
        MonitorScreenState state;
        std::vector<Item> items;
    };
    MonitorScreenState none;
    MonitorScreenState one = none;
    one.feeds = one.visibleFeeds = 1;
    MonitorScreenState two = none;
    two.feeds = two.visibleFeeds = 2;
    MonitorScreenState deck = two;
    deck.deckMode = true;
    MonitorScreenState noImports = none;
    noImports.importsFiles = false;
    MonitorScreenState exit = two;
    exit.hasExit = true;
    exit.isDeckPhone = true;
    exit.deckMode = true;
    const Case cases[] = {
        {"no camera", none, {Item::settings, Item::deckSwitch, Item::nearbyDevices, Item::openShootFolder}},
        {"no imports", noImports, {Item::settings, Item::deckSwitch, Item::nearbyDevices}},
        {"one camera",
         one,
         {Item::settings, Item::singleFeedPills, Item::deckSwitch, Item::nearbyDevices, Item::openShootFolder,
          Item::cameras}},
        {"two cameras",
         two,
         {Item::settings, Item::deckSwitch, Item::nearbyDevices, Item::openShootFolder, Item::cameras}},
        {"deck mode",
         deck,
         {Item::settings, Item::deckSwitch, Item::livePictures, Item::nearbyDevices, Item::openShootFolder,
          Item::cameras}},
        {"deck phone with exit",
         exit,
         {Item::close, Item::takes, Item::livePictures, Item::openShootFolder, Item::cameras}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(toolbarItems(c.state), c.items);
    }
    EXPECT_EQ(livePicturesSymbol(true), "eye");
    EXPECT_EQ(livePicturesSymbol(false), "eye.slash");
    EXPECT_EQ(livePicturesLabel(true), "Hide live pictures");
    EXPECT_EQ(livePicturesLabel(false), "Show live pictures");
    EXPECT_EQ(deckSwitchAccessibilityLabel(true), "Podcast deck on: click a camera to put it on air");
    EXPECT_EQ(deckSwitchAccessibilityLabel(false), "Podcast deck");
    EXPECT_EQ(arrivingCopiesBadge(0), "");
    EXPECT_EQ(arrivingCopiesBadge(-1), "");
    EXPECT_EQ(arrivingCopiesBadge(2), "2");
}

TEST(MonitorScreenRules, PictureAreaAndPadding) {
    struct Case {
        const char* what;
        MonitorScreenState state;
        PictureAreaKind kind;
        int top;
        int bottom;
    };
    auto with = [](std::size_t feeds, std::size_t visible, bool deck, bool live, bool compact, bool deckPhone) {
        MonitorScreenState s;
        s.feeds = feeds;
        s.visibleFeeds = visible;
        s.deckMode = deck;
        s.livePictures = live;
        s.compact = compact;
        s.isDeckPhone = deckPhone;
        return s;
    };
    auto soloed = [](MonitorScreenState s) {
        s.soloed = true;
        return s;
    };
    const Case cases[] = {
        {"nobody", with(0, 0, false, true, false, false), PictureAreaKind::nearbyCameras, 64, 88},
        {"nobody in deck mode", with(0, 0, true, false, false, false), PictureAreaKind::nearbyCameras, 64, 88},
        {"one camera", with(1, 1, false, true, false, false), PictureAreaKind::feedGrid, 0, 0},
        {"one camera in deck mode", with(1, 1, true, true, false, false), PictureAreaKind::feedGrid, 64, 0},
        {"one camera in deck mode, compact", with(1, 1, true, true, true, false), PictureAreaKind::feedGrid, 64, 0},
        {"deck phone with one camera", with(1, 1, true, true, false, true), PictureAreaKind::feedGrid, 64, 76},
        {"two cameras", with(2, 2, false, true, false, false), PictureAreaKind::feedGrid, 64, 0},
        {"one of two soloed", soloed(with(2, 1, false, true, false, false)), PictureAreaKind::feedGrid, 64, 0},
        {"deck phone grid", with(2, 2, true, true, false, true), PictureAreaKind::feedGrid, 64, 76},
        {"deck buttons", with(2, 2, true, false, false, false), PictureAreaKind::deckButtons, 72, 150},
        {"deck buttons compact", with(2, 2, true, false, true, false), PictureAreaKind::deckButtons, 52, 132},
        {"deck buttons deck phone", with(2, 2, true, false, true, true), PictureAreaKind::deckButtons, 52, 76},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(pictureAreaKind(c.state), c.kind);
        EXPECT_EQ(picturePadding(c.state).top(), c.top);
        EXPECT_EQ(picturePadding(c.state).bottom(), c.bottom);
    }

    MonitorScreenState soloDeck = with(2, 1, false, true, false, true);
    soloDeck.hasExit = true;
    soloDeck.soloed = true;
    EXPECT_FALSE(showsTopBar(soloDeck));
    EXPECT_EQ(picturePadding(soloDeck).top(), 0) << "no bar over the soloed camera: it fills the screen";
    soloDeck.deckMode = true;
    soloDeck.livePictures = false;
    EXPECT_TRUE(showsTopBar(soloDeck)) << "no pictures showing";
    soloDeck.hasExit = false;
    soloDeck.livePictures = true;
    EXPECT_TRUE(showsTopBar(soloDeck)) << "always in the desktop configuration";

    MonitorScreenState controls = with(1, 1, false, true, false, true);
    EXPECT_EQ(controlsKind(controls), ControlsKind::deckControls);
    controls.isDeckPhone = false;
    EXPECT_EQ(controlsKind(controls), ControlsKind::none);
    controls.cameraSelected = true;
    EXPECT_EQ(controlsKind(controls), ControlsKind::selectedFeedControls);
}

TEST_F(ScreenTest, ShowingStartsTheControllerAndRemovingStopsIt) {
    auto& s = make();
    EXPECT_FALSE(controller().isStarted());
    s.show();
    EXPECT_TRUE(controller().isStarted());
    EXPECT_EQ(link->starts, 1);
    s.hide();
    EXPECT_FALSE(controller().isStarted());
    s.show();
    EXPECT_TRUE(controller().isStarted()) << "the same controller starts again";
    EXPECT_EQ(link->starts, 2);
}

TEST_F(ScreenTest, WithoutCamerasThePictureAreaListsNearbyCamerasAndTheBarHasItsFourButtons) {
    auto& s = make();
    s.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(s.pictureKind(), PictureAreaKind::nearbyCameras);
    ASSERT_TRUE(s.pictureView());
    EXPECT_TRUE(s.pictureView()->findChild<AppLogo*>());
    EXPECT_EQ(s.toolbar()->shownItems(),
              (std::vector<Item>{Item::settings, Item::deckSwitch, Item::nearbyDevices, Item::openShootFolder}));

    // The deck switch turns deck mode on through the controller and brings the live-pictures button.
    QTest::mouseClick(s.toolbar()->deckSwitch(), Qt::LeftButton);
    EXPECT_TRUE(controller().deckMode());
    QCoreApplication::processEvents();
    EXPECT_EQ(s.toolbar()->deckSwitch()->accessibleName(), "Podcast deck on: click a camera to put it on air");
    auto* live = qobject_cast<QAbstractButton*>(s.toolbar()->item(Item::livePictures));
    ASSERT_TRUE(live);
    EXPECT_TRUE(live->isVisible());
    EXPECT_EQ(live->accessibleName(), "Hide live pictures");
    QTest::mouseClick(live, Qt::LeftButton);
    EXPECT_FALSE(controller().livePictures());
    EXPECT_FALSE(defaults->boolValue(MonitorController::livePicturesKey, true)) << "stored by the change handler";
}

TEST_F(ScreenTest, EveryNearbyCameraIsReadAndPairedByAClickAtEveryWindowSize) {
    auto& s = make();
    s.show();
    std::vector<CameraLink::NearbyCamera> nearby{{peer(20), "This computer", true, false, false, true}};
    for (int n = 1; n <= 8; ++n)
        nearby.push_back({peer(n), "Kitchen camera " + std::to_string(n), false, false, false, false});
    link->onNearbyChanged(nearby);
    ASSERT_TRUE(eventually([&] { return controller().nearbyCameras().size() == nearby.size(); }));
    enum class Where { pictureArea, nearbyDevices, camerasSheet };
    const QSize sizes[] = {{720, 480}, {840, 500}, {1024, 640}};
    for (const QSize& size : sizes) {
        for (Where where : {Where::pictureArea, Where::nearbyDevices, Where::camerasSheet}) {
            SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()) + " in place " +
                         std::to_string(int(where)));
            s.resize(size);
            QWidget* host = s.pictureView();
            if (where == Where::nearbyDevices) s.setShowNetwork(true);
            if (where == Where::camerasSheet) s.setShowCameras(true);
            if (where != Where::pictureArea) {
                ASSERT_TRUE(s.openSheet());
                host = s.openSheet();
                EXPECT_LE(host->height(), size.height()) << "the sheet fits the window";
            }
            ASSERT_TRUE(host);
            auto* list = host->findChild<NearbyCameraList*>();
            ASSERT_TRUE(list);
            ASSERT_TRUE(eventually([&] { return list->rows().size() == nearby.size(); }));
            for (int i = 0; i < 5; ++i) {
                QCoreApplication::sendPostedEvents();
                QCoreApplication::processEvents();
            }
            // Where the rows scroll: in the list, or around it.
            QScrollArea* scroll = list->findChild<QScrollArea*>();
            for (QWidget* w = list; w && !scroll; w = w->parentWidget()) scroll = qobject_cast<QScrollArea*>(w);
            ASSERT_TRUE(scroll) << "the rows scroll";
            const int twoRows = 2 * list->rows().front()->sizeHint().height() + 14;
            EXPECT_GE(scroll->viewport()->height(), std::min(scroll->widget()->sizeHint().height(), twoRows))
                << "the rows take the room there is";
            link->connects.clear();
            for (auto* row : list->rows()) {
                if (!row->button()) continue;
                scroll->ensureWidgetVisible(row, 0, 0);
                QCoreApplication::processEvents();
                const std::string name = row->camera().name;
                EXPECT_GE(row->height(), row->sizeHint().height()) << name << " is not squeezed";
                auto* label = row->findChild<QLabel*>(QStringLiteral("cameraName"));
                ASSERT_TRUE(label);
                EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << name << " whole";
                EXPECT_GE(row->button()->width(), row->button()->sizeHint().width()) << name << "'s Pair whole";
                QWidget* window = row->button()->window();
                const QPoint centre = row->button()->mapTo(window, row->button()->rect().center());
                EXPECT_EQ(window->childAt(centre), row->button()) << name << "'s Pair is not covered";
                EXPECT_TRUE(scroll->viewport()->rect().contains(
                    QRect(row->mapTo(scroll->viewport(), QPoint(0, 0)), row->size())))
                    << name << " shows whole";
                QTest::mouseClick(row->button(), Qt::LeftButton);
            }
            EXPECT_EQ(link->connects.size(), 8u) << "every camera pairs by a click";
            if (SheetDialog* sheet = s.openSheet()) sheet->reject();
            QCoreApplication::processEvents();
        }
    }
}

TEST_F(ScreenTest, ThePairingAlertDimsTheScreenAndItsCancelReadsAsEnabled) {
    auto& s = make();
    s.resize(960, 600);
    s.show();
    EXPECT_FALSE(s.sheetBackdrop()->isVisible());
    link->onPairingRequest(std::optional(CameraLink::PairingRequest{peer(7), "Cam B", "493021"}));
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() && s.pairingAlert()->isVisible(); }));
    EXPECT_TRUE(s.sheetBackdrop()->isVisible());
    EXPECT_EQ(s.sheetBackdrop()->geometry(), s.rect()) << "the whole screen dims behind the alert";

    // Each button's label is as light as an enabled control's, on a pill that stands off the alert.
    for (auto* button : s.pairingAlert()->buttons()) {
        ASSERT_TRUE(button->isEnabled());
        const QImage image = button->grab().toImage();
        int lightest = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) lightest = std::max(lightest, qGray(image.pixel(x, y)));
        }
        EXPECT_GT(lightest, 220) << button->text().toStdString();
        const QColor pill = image.pixelColor(6, image.height() / 2);
        EXPECT_GT(std::abs(qGray(pill.rgb()) - 0x2c), 24) << button->text().toStdString();
    }

    link->onPairingRequest(std::optional<CameraLink::PairingRequest>());
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() == nullptr; }));
    EXPECT_FALSE(s.sheetBackdrop()->isVisible());

    // Over the Cameras sheet the alert stands above the sheet and dims it too.
    connect({{1, "Cam A"}});
    s.setShowCameras(true);
    ASSERT_TRUE(s.openSheet());
    link->onPairingRequest(std::optional(CameraLink::PairingRequest{peer(7), "Cam B", "493021"}));
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() && s.pairingAlert()->isVisible(); }));
    EXPECT_EQ(s.pairingAlert()->parentWidget(), s.openSheet());
    EXPECT_TRUE(s.openSheet()->dimmed());
    link->onPairingRequest(std::optional<CameraLink::PairingRequest>());
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() == nullptr; }));
    EXPECT_FALSE(s.openSheet()->dimmed());
    // The sheet closed under the alert hands it back to the window: the question stays.
    link->onPairingRequest(std::optional(CameraLink::PairingRequest{peer(7), "Cam B", "493021"}));
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() && s.pairingAlert()->isVisible(); }));
    s.openSheet()->reject();
    ASSERT_TRUE(eventually([&] { return s.openSheet() == nullptr; }));
    ASSERT_TRUE(s.pairingAlert());
    EXPECT_TRUE(s.pairingAlert()->isVisible());
    EXPECT_EQ(s.pairingAlert()->parentWidget(), &s);
}

TEST_F(ScreenTest, ThePairingAlertFollowsTheControllersRequest) {
    auto& s = make();
    s.show();
    const CameraLink::PairingRequest request{peer(7), "Cam “B”", "493021"};
    link->onPairingRequest(std::optional(request));
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() && s.pairingAlert()->isVisible(); }));
    auto* alert = s.pairingAlert();
    EXPECT_EQ(alert->text(), "Confirm pairing code");
    EXPECT_EQ(
        alert->informativeText(),
        "Camera: “Cam “B””\n\nCode: 493021\n\nCheck the camera shows the same code, then accept on both computers.");
    const auto buttons = alert->buttons();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->text(), "Codes Match");
    EXPECT_EQ(alert->buttonRole(buttons[0]), QMessageBox::AcceptRole);
    EXPECT_EQ(buttons[1]->text(), "Cancel");
    EXPECT_EQ(alert->buttonRole(buttons[1]), QMessageBox::RejectRole);

    // "Codes Match" accepts on the link, the controller clears the request and the alert goes.
    buttons[0]->click();
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() == nullptr; }));
    EXPECT_EQ(link->accepted, std::vector<PeerId>{peer(7)});
    EXPECT_EQ(controller().message(), "Waiting for the camera to accept…");

    // A second request is refused with "Cancel".
    link->onPairingRequest(std::optional(CameraLink::PairingRequest{peer(8), "Cam C", "111222"}));
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() && s.pairingAlert()->isVisible(); }));
    s.pairingAlert()->buttons()[1]->click();
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() == nullptr; }));
    EXPECT_EQ(link->cancelled, std::vector<PeerId>{peer(8)});

    // A request withdrawn by the link closes the alert without any answer.
    link->onPairingRequest(std::optional(CameraLink::PairingRequest{peer(9), "Cam D", "333444"}));
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() && s.pairingAlert()->isVisible(); }));
    link->onPairingRequest(std::optional<CameraLink::PairingRequest>());
    ASSERT_TRUE(eventually([&] { return s.pairingAlert() == nullptr; }));
    EXPECT_EQ(link->accepted.size(), 1u);
    EXPECT_EQ(link->cancelled.size(), 1u);
}

TEST_F(ScreenTest, NumberKeysCutOnlyInDeckModeAndOnlyToConnectedCameras) {
    auto& s = make();
    s.show();
    s.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
    connect({{1, "Cam A"}, {2, "Cam B"}, {3, "Cam C"}});
    ASSERT_EQ(controller().feeds().size(), 3u);
    QCoreApplication::processEvents();

    QTest::keyClick(&s, Qt::Key_3);
    EXPECT_FALSE(controller().programID()) << "deck mode is off";
    ASSERT_TRUE(controller().message()) << "the key says why it cut nothing";
    EXPECT_EQ(*controller().message(), liveCutOffNotice().toStdString());

    controller().setDeckMode(true);
    QCoreApplication::processEvents();
    ASSERT_EQ(s.cameraShortcuts().size(), 4u);
    EXPECT_EQ(s.cameraShortcuts()[2]->whatsThis(), "Camera 3 on air");
    const auto third = controller().feeds()[2]->id();
    QTest::keyClick(&s, Qt::Key_3);
    EXPECT_EQ(controller().programID(), third);
    QTest::keyClick(&s, Qt::Key_4);
    EXPECT_EQ(controller().programID(), third) << "there is no fourth camera";
    QTest::keyClick(&s, Qt::Key_1);
    EXPECT_EQ(controller().programID(), controller().feeds()[0]->id());
    QTest::keyClick(&s, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(controller().programID(), controller().feeds()[0]->id()) << "no modifier keys";
}

TEST_F(ScreenTest, BarsFollowTheCameraCountAndTheSettings) {
    auto& s = make();
    s.show();
    connect({{1, "Cam A"}});
    QCoreApplication::processEvents();
    EXPECT_EQ(s.pictureKind(), PictureAreaKind::feedGrid);
    EXPECT_TRUE(s.toolbar()->item(Item::cameras)->isVisible());
    connect({{1, "Cam A"}, {2, "Cam B"}});
    QCoreApplication::processEvents();
    EXPECT_EQ(s.pictureArea()->layout()->contentsMargins().top(), 64);
    controller().setSoloID(peer(2));
    QCoreApplication::processEvents();
    EXPECT_EQ(s.pictureArea()->layout()->contentsMargins().top(), 64)
        << "the soloed camera's menu and button stay clear of the top bar";

    defaults->set(MonitorController::importsFilesKey, false);
    s.setShowSettings(true);
    s.setShowSettings(false);
    QCoreApplication::processEvents();
    EXPECT_FALSE(s.toolbar()->item(Item::openShootFolder)->isVisible()) << "re-read when the settings close";

    // Messages show over the pictures, apart from the bar column.
    controller().showMessage("Photo saved on camera");
    QCoreApplication::processEvents();
    auto bands = s.messageLayer()->findChildren<NoticeBand*>();
    ASSERT_EQ(bands.size(), 1);
    EXPECT_TRUE(bands[0]->isVisible());
    ASSERT_EQ(bands[0]->notices().size(), 1u);
    EXPECT_EQ(bands[0]->notices()[0].text, "Photo saved on camera");
}

TEST(NoticeRules, AFolderIsNamedByItsNameAndLinksToItsWholePath) {
    using Folder = NoticeBoard::Folder;
    struct Row {
        const char* what;
        std::string text;
        std::vector<Folder> folders;
        QString rich;
    };
    const Row rows[] = {
        {"no folder", "Saved <Take 01>.mov", {}, "Saved &lt;Take 01&gt;.mov"},
        {"one folder",
         "Couldn't save a file from A: kept in Unfiled until the shoot folder takes it",
         {{"Unfiled", "/home/crew/Unfiled"}},
         "Couldn't save a file from A: kept in <a href=\"file:///home/crew/Unfiled\" style=\"color:white\">Unfiled</a>"
         " until the shoot folder takes it"},
        {"two folders, named in their order in the text",
         "The shoot folder Shoot isn't there: saved 4 takes in Brindlecroft › 2026-12-08",
         {{"Brindlecroft › 2026-12-08", "/m/Brindlecroft/2026-12-08"}, {"Shoot", "/media/d 1/Shoot"}},
         "The shoot folder <a href=\"file:///media/d%201/Shoot\" style=\"color:white\">Shoot</a> isn't there: saved 4 "
         "takes in <a href=\"file:///m/Brindlecroft/2026-12-08\" style=\"color:white\">Brindlecroft › 2026-12-08</a>"},
        {"a folder whose name is not in the text is not linked", "Saved", {{"Other", "/x/Other"}}, "Saved"},
    };
    for (const auto& row : rows) EXPECT_EQ(noticeRichText({1, row.text, row.folders, true}), row.rich) << row.what;
}

// A click on a folder opens it where it is there; one that is not there (a drive unplugged) shows its path instead.
TEST(NoticeRules, AClickOnAFolderOpensItOnlyWhereItIsThere) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string there = dir.path().toStdString(), gone = there + "/Unplugged/Shoot";
    std::vector<QUrl> opened;
    std::vector<std::uint64_t> read;
    NoticeBand band([&](const QUrl& url) { opened.push_back(url); }, [&](std::uint64_t id) { read.push_back(id); });
    band.setNotices(
        {{7, "The shoot folder Shoot isn't there: saved 2 takes in Day", {{"Shoot", gone}, {"Day", there}}, true}});
    auto* text = band.findChild<QLabel*>(QStringLiteral("noticeText"));
    ASSERT_TRUE(text);
    emit text->linkActivated(QUrl::fromLocalFile(QString::fromStdString(gone)).toString());
    EXPECT_TRUE(opened.empty());
    emit text->linkActivated(QUrl::fromLocalFile(QString::fromStdString(there)).toString());
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(there))});
    auto* close = band.findChild<CloseButton*>();
    ASSERT_TRUE(close);
    close->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(read, std::vector<std::uint64_t>{7});
}

// A notice of two lines is as narrow as keeps it to two lines: its last line is not one word; one that fits on a
// line keeps its own width.
TEST(NoticeRules, ANoticeTakesTheNarrowestWidthThatKeepsItsLines) {
    NoticeBand band({}, {});
    band.setNotices(
        {{1, "Studio: 2 takes have no sound: their sound couldn't be converted. Their pictures are kept", {}, true}});
    for (const int room : {640, 480}) {
        const int limit = std::min(band.sizeHint().width(), room);
        const int width = band.widthWithin(room);
        EXPECT_LT(width, limit - 40) << room;
        EXPECT_EQ(band.heightForWidth(width), band.heightForWidth(limit)) << room;
    }
    band.setNotices({{2, "Marker 3", {}, false}});
    EXPECT_EQ(band.heightForWidth(band.widthWithin(640)), band.sizeHint().height());
}

// Notices are read whole at the smallest windows: wrapped inside the window, none cut; one that stays can be
// dismissed, and four takes filed away from a missing shoot folder are told in one.
TEST_F(ScreenTest, NoticesAreReadWholeAndThoseThatStayAreDismissed) {
    const std::string outbox = (root / "Camera" / "Application Support" / "Brindlecroft" / "Outbox").string();
    for (const QSize size : {QSize(720, 480), QSize(1024, 640)}) {
        SCOPED_TRACE(size.width());
        // Gone when the remote starts, the folder would be told at once, before any take.
        defaults->set(std::string(ShootLibrary::bookmarkKey), std::string());
        auto& s = make();
        s.resize(size);
        s.show();
        connect({{1, "Cam A"}, {2, "Cam B"}, {3, "Cam C"}, {4, "Cam D"}});
        defaults->set(std::string(ShootLibrary::bookmarkKey), (root / "Gone Drive" / "Shoot").string());
        for (int n = 1; n <= 4; ++n) {
            std::filesystem::create_directories(root / "arriving");
            const auto file = root / "arriving" / ("take" + std::to_string(n));
            std::ofstream(file) << "take " << n;
            controller().receiveShootFile(file, Uuid().uuidString(), peer(n));
        }
        CameraEvent pictures{CameraEvent::Kind::failed,
                             "Couldn't save to Pictures › Brindlecroft: Not a directory. The take goes to the remote; "
                             "until then it waits in " +
                                 outbox,
                             std::nullopt};
        controller().handlePeerData(*encodeMessage(PacketType::event, pictures), peer(2));
        ASSERT_TRUE(eventually([&] { return controller().notices().size() == 2; }));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        auto* band = s.stayingNotices();
        ASSERT_TRUE(band && band->isVisible());
        EXPECT_EQ(band->notices()[0].text, "The shoot folder Shoot isn't there: saved 4 files in Brindlecroft › " +
                                               ShootLibrary::dayKeyString(Date::now()));
        EXPECT_EQ(band->notices()[1].text, "Cam B: " + *pictures.message);
        const QRect inWindow = QRect(band->mapTo(&s, QPoint(0, 0)), band->size());
        EXPECT_TRUE(s.rect().contains(inWindow))
            << inWindow.x() << "," << inWindow.y() << " " << inWindow.width() << "×" << inWindow.height();
        // The newest shows whole on its card; the other is counted.
        ASSERT_TRUE(band->showsCard());
        const auto texts = band->shown()->findChildren<QLabel*>(QStringLiteral("noticeText"));
        ASSERT_EQ(texts.size(), 1);
        EXPECT_EQ(texts[0]->text(), noticeRichText(band->notices()[1]));
        EXPECT_GE(texts[0]->height(), texts[0]->heightForWidth(texts[0]->width()));
        EXPECT_GT(texts[0]->height(), texts[0]->fontMetrics().height() * 3 / 2) << "wrapped, not cut";
        ASSERT_TRUE(band->moreButton());
        EXPECT_EQ(band->moreButton()->text(), "1 more");
        // Read, the notice goes; the other stays.
        auto closes = band->shown()->findChildren<CloseButton*>();
        ASSERT_EQ(closes.size(), 1);
        closes[0]->click();
        ASSERT_TRUE(eventually([&] { return controller().notices().size() == 1; }));
        EXPECT_EQ(controller().notices()[0].text,
                  "The shoot folder Shoot isn't there: saved 4 files in Brindlecroft › " +
                      ShootLibrary::dayKeyString(Date::now()));
    }
}

// Eight notices of four kinds with four cameras in the smallest windows: every tile's "Put on air", expand button
// and "No sound" stay clear and answer a click, what shows of the notices is whole, a passing notice and a notice
// read move no button that stays, and one click reads them all.
TEST_F(ScreenTest, NoticesKeepOffEveryControlAndMoveNoButton) {
    for (const QSize size : {QSize(720, 480), QSize(840, 500), QSize(1024, 640)}) {
        SCOPED_TRACE(size.width());
        auto& s = make();
        s.resize(size);
        s.show();
        connect({{1, "Cam A"}, {2, "Cam B"}, {3, "Cam C"}, {4, "Cam D"}});
        for (int n = 1; n <= 4; ++n) {
            CameraStatus status;
            status.mode = CaptureMode::video;
            controller().handlePeerData(*encodeMessage(PacketType::status, status), peer(n));
        }
        controller().setDeckMode(true);
        controller().setSelectedID(peer(1));
        // Cam A's take has no sound: a notice that stays, and the tile's mark.
        controller().handlePeerData(
            *encodeMessage(PacketType::event,
                           CameraEvent{CameraEvent::Kind::failed, takeWithoutSoundMessage, std::nullopt}),
            peer(1));
        const std::string kinds[] = {": can't record the chosen format in real time", ": the microphone gives nothing",
                                     ": the camera does not take its settings"};
        for (int n = 1; n <= 7; ++n) {
            const std::string text = "Cam " + std::string(1, char('A' + (n - 1) % 4)) + kinds[(n - 1) / 4 + (n > 6)];
            controller().postNotice({.text = text, .matters = true, .key = text, .stays = true});
        }
        ASSERT_TRUE(eventually([&] { return s.stayingNotices()->notices().size() == 8; }));
        ASSERT_TRUE(eventually([&] { return controller().feeds()[0]->noSound(); }));
        auto settle = [] {
            for (int i = 0; i < 5; ++i) {
                QCoreApplication::sendPostedEvents();
                QCoreApplication::processEvents();
            }
        };
        settle();
        auto* area = s.stayingNotices();
        ASSERT_TRUE(area->isVisible());
        auto inScreen = [&](QWidget* w) { return QRect(w->mapTo(&s, QPoint(0, 0)), w->size()); };
        EXPECT_TRUE(s.bottomLayout().notices.contains(area->geometry())) << "in their room";
        for (auto* text : area->shown()->findChildren<QLabel*>(QStringLiteral("noticeText")))
            EXPECT_GE(text->height(), text->heightForWidth(text->width())) << "whole";
        struct Control {
            std::string what;
            QWidget* control;
            QWidget* takesClick;  // a mark passes its clicks to its tile
        };
        std::vector<Control> controls;
        for (auto* tile : s.pictureView()->findChildren<FeedTile*>()) {
            controls.push_back({tile->feed()->name() + "'s \"Put on air\"", tile->deckBar(), tile->deckBar()});
            controls.push_back({tile->feed()->name() + "'s expand button", tile->expandButton(), tile->expandButton()});
            if (tile->noSoundMark()->isVisible())
                controls.push_back({tile->feed()->name() + "'s \"No sound\"", tile->noSoundMark(), tile});
        }
        controls.push_back({"the controls", s.bottomColumn(), s.bottomColumn()});
        EXPECT_EQ(controls.size(), 10u);
        for (const auto& [what, control, takesClick] : controls) {
            EXPECT_FALSE(inScreen(area).intersects(inScreen(control))) << "a notice covers " << what;
            QWidget* hit = s.childAt(inScreen(control).center());
            EXPECT_TRUE(hit && (hit == takesClick || takesClick->isAncestorOf(hit))) << what << " takes no click";
        }
        // A passing notice moves no button that stays; nor does reading the newest, whose place the next takes.
        QPushButton* all = area->dismissAllButton();
        ASSERT_TRUE(all);
        const QRect allAt = inScreen(all);
        auto closeAt = [&] {
            auto closes = area->shown()->findChildren<CloseButton*>();
            return closes.size() == 1 ? inScreen(closes[0]) : QRect();
        };
        const QRect close = closeAt();
        controller().showMessage("Marker 3");
        settle();
        ASSERT_TRUE(s.messageLayer()->isVisible());
        EXPECT_EQ(inScreen(area->dismissAllButton()), allAt) << "a passing notice";
        EXPECT_EQ(closeAt(), close) << "a passing notice";
        if (!close.isEmpty()) {
            QTest::mouseClick(area->shown()->findChildren<CloseButton*>()[0], Qt::LeftButton);
            ASSERT_TRUE(eventually([&] { return area->notices().size() == 7; }));
            settle();
            EXPECT_EQ(closeAt(), close) << "the next notice's close button comes under the pointer";
            EXPECT_EQ(inScreen(area->dismissAllButton()), allAt);
        }
        QTest::mouseClick(area->dismissAllButton(), Qt::LeftButton);
        EXPECT_TRUE(eventually([&] {
            return std::none_of(controller().notices().begin(), controller().notices().end(),
                                [](const auto& n) { return n.stays; });
        }));
        settle();
        EXPECT_FALSE(area->isVisible());
        screen.reset();
    }
}

TEST_F(ScreenTest, TheRecordButtonStaysThroughCutsAndDismissals) {
    auto& s = make();
    s.resize(1024, 640);
    s.show();
    s.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
    connect({{1, "Cam A"}, {2, "Cam B"}, {3, "Cam C"}, {4, "Cam D"}});
    for (int n = 1; n <= 4; ++n) {
        CameraStatus status;
        status.mode = CaptureMode::video;
        controller().handlePeerData(*encodeMessage(PacketType::status, status), peer(n));
    }
    ASSERT_TRUE(eventually([&] {
        for (const auto& feed : controller().feeds())
            if (!feed->status()) return false;
        return true;
    }));
    controller().setDeckMode(true);
    controller().setSelectedID(peer(1));
    for (const char* text :
         {"Cam A: can't record the chosen format in real time", "Cam B: the microphone gives nothing",
          "The shoot folder Shoot isn't there: saved 4 takes in Brindlecroft › Unfiled"})
        controller().postNotice({.text = text, .matters = true, .key = text, .stays = true});
    ASSERT_TRUE(eventually([&] { return s.stayingNotices()->notices().size() == 3; }));
    auto record = [&]() -> QWidget* {
        auto* controls = s.bottomColumn()->findChild<CaptureControls*>();
        return controls ? controls->shutterButton() : nullptr;
    };
    // A panel that fades in shows no button for its first turns, longer on a busy machine.
    auto fading = [&](QWidget* button) {
        for (QWidget* up = button; up && up != &s; up = up->parentWidget()) {
            auto* fade = qobject_cast<QGraphicsOpacityEffect*>(up->graphicsEffect());
            if (fade && fade->isEnabled() && fade->opacity() < 1) return true;
        }
        return false;
    };
    // The deck coming on may fold the panel, which fades in once: that was the person's doing.
    ASSERT_TRUE(eventually([&] { return record() && record()->isVisible() && !fading(record()); }));
    auto inScreen = [&](QWidget* w) { return QRect(w->mapTo(&s, QPoint(0, 0)), w->size()); };
    // Every turn for a while after each step: the button shows, and no card lies over it.
    auto watch = [&](const std::string& step) {
        QElapsedTimer timer;
        timer.start();
        int turns = 0;
        while (timer.elapsed() < 600 || turns < 50) {
            ++turns;
            QWidget* button = record();
            ASSERT_TRUE(button && button->isVisible()) << step << ": the record button is gone, turn " << turns;
            ASSERT_FALSE(fading(button)) << step << ": the record button fades in, turn " << turns;
            const QRect place = inScreen(button);
            ASSERT_TRUE(s.rect().contains(place)) << step;
            for (auto* card : s.stayingNotices()->findChildren<QWidget*>())
                if (card->isVisible() && card->parentWidget() == s.stayingNotices()) {
                    ASSERT_FALSE(inScreen(card).intersects(place)) << step << ": a notice covers the record button";
                }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    };
    QTest::keyClick(&s, Qt::Key_3);
    ASSERT_EQ(controller().programID(), peer(3));
    watch("key 3");
    auto closes = s.stayingNotices()->findChildren<CloseButton*>();
    ASSERT_FALSE(closes.isEmpty());
    QTest::mouseClick(closes.front(), Qt::LeftButton);
    watch("a dismissal");
    EXPECT_EQ(controller().notices().size(), 2u);
}

TEST_F(ScreenTest, ATransferRowShowsOnlyWhileItsCameraHasFilesToSend) {
    auto& s = make();
    s.show();
    connect({{1, "Cam A"}});
    auto rows = [&] {
        std::vector<QWidget*> shown;
        for (auto* w :
             s.findChild<QWidget*>("transfers")->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (w->isVisible()) shown.push_back(w);
        return shown;
    };
    auto sendStatus = [&](std::int64_t pending) {
        CameraStatus status;
        status.pendingTransfers = pending;
        auto packet = encodeMessage(PacketType::status, status);
        ASSERT_TRUE(packet);
        controller().handlePeerData(*packet, peer(1));
    };
    sendStatus(0);
    ASSERT_TRUE(eventually([&] { return controller().feeds().front()->status().has_value(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(rows().empty()) << "nothing to send: no row";
    sendStatus(3);
    ASSERT_TRUE(eventually([&] { return rows().size() == 1; }));
    // The row has its own band under the pictures, never over them.
    EXPECT_TRUE(eventually([&] {
        const int pictureBottom = s.height() - s.pictureArea()->layout()->contentsMargins().bottom();
        return rows()[0]->mapTo(&s, QPoint(0, 0)).y() >= pictureBottom &&
               rows()[0]->mapTo(&s, QPoint(0, rows()[0]->height())).y() <= s.height();
    }));
    sendStatus(0);
    EXPECT_TRUE(eventually([&] { return rows().empty(); }));
}

TEST_F(ScreenTest, ATakeOnItsWayMovesNoControlAndNoPicture) {
    struct Case {
        const char* what;
        QSize size;
        int cameras;
        bool deck;
        bool livePictures;
    };
    const Case cases[] = {
        {"four cameras in the smallest window", {720, 480}, 4, false, true},
        {"two cameras", {1024, 640}, 2, false, true},
        {"the deck's buttons", {720, 480}, 4, true, false},
        {"the deck's one camera", {1024, 640}, 1, true, false},
        {"the deck with pictures", {1024, 640}, 2, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto o = options();
        o.isDeckPhone = c.deck;
        screen = std::make_unique<MonitorScreen>(o);
        auto& s = *screen;
        s.resize(c.size);
        s.show();
        std::vector<std::pair<int, std::string>> cameras;
        for (int n = 1; n <= c.cameras; ++n) cameras.push_back({n, "Cam " + std::to_string(n)});
        connect(cameras);
        controller().setLivePictures(c.livePictures);
        auto sendStatus = [&](int camera, std::int64_t pending) {
            CameraStatus status;
            status.mode = CaptureMode::video;
            status.pendingTransfers = pending;
            if (pending > 0) {
                status.transferName = "Take 01.mov";
                status.transferProgress = 0.2;
            }
            auto packet = encodeMessage(PacketType::status, status);
            ASSERT_TRUE(packet);
            controller().handlePeerData(*packet, peer(camera));
        };
        for (int n = 1; n <= c.cameras; ++n) sendStatus(n, 0);
        controller().setSelectedID(peer(1));
        ASSERT_TRUE(eventually([&] {
            for (const auto& feed : controller().feeds())
                if (!feed->status()) return false;
            return true;
        }));
        auto settle = [] {
            for (int i = 0; i < 5; ++i) {
                QCoreApplication::sendPostedEvents();
                QCoreApplication::processEvents();
            }
        };
        struct Places {
            QRect column;
            int pictureBottom;
            std::vector<QRect> pictures;
            bool operator==(const Places&) const = default;
        };
        auto places = [&] {
            Places p{s.bottomColumn()->geometry(), s.pictureArea()->layout()->contentsMargins().bottom(), {}};
            if (QWidget* view = s.pictureView())
                for (auto* w : view->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                    if (w->isVisible()) p.pictures.push_back(w->geometry());
            return p;
        };
        auto sending = [&] {
            for (auto* w :
                 s.findChild<QWidget*>("transfers")->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (w->isVisible()) return true;
            return false;
        };
        settle();
        const Places before = places();
        EXPECT_FALSE(before.column.isEmpty()) << "the controls show";
        // The last camera sends its take, then has nothing more to send.
        sendStatus(c.cameras, 1);
        ASSERT_TRUE(eventually(sending));
        settle();
        EXPECT_TRUE(places() == before) << "while the take is on its way";
        sendStatus(c.cameras, 0);
        ASSERT_TRUE(eventually([&] { return !sending(); }));
        settle();
        EXPECT_TRUE(places() == before) << "after it";
        screen.reset();
    }
}

TEST_F(ScreenTest, ALongNoticeCoversNoControl) {
    struct Case {
        const char* what;
        QSize size;
        int cameras;
        bool deck;
    };
    const Case cases[] = {
        {"four cameras in the smallest window", {720, 480}, 4, false},
        {"... in deck mode", {720, 480}, 4, true},
        {"two cameras", {1024, 640}, 2, false},
        {"four cameras on a laptop", {1280, 800}, 4, false},
    };
    const std::string notice =
        "Saved Take 01 – 18.11.38 – Fake.mov in Videos › Brindlecroft › Unfiled: the shoot folder "
        "/home/crew/Videos/Brindlecroft/2026-12-08 isn't there any more, so the takes wait in Unfiled";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto& s = make();
        s.resize(c.size);
        s.show();
        std::vector<std::pair<int, std::string>> cameras;
        for (int n = 1; n <= c.cameras; ++n) cameras.push_back({n, "Cam " + std::to_string(n)});
        connect(cameras);
        for (int n = 1; n <= c.cameras; ++n) {
            CameraStatus status;
            status.mode = CaptureMode::video;
            auto packet = encodeMessage(PacketType::status, status);
            ASSERT_TRUE(packet);
            controller().handlePeerData(*packet, peer(n));
        }
        controller().setDeckMode(c.deck);
        controller().setSelectedID(peer(1));
        controller().showMessage(notice, 60);
        ASSERT_TRUE(eventually([&] { return s.messageLayer()->isVisible(); }));
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        const QRect shown = s.messageLayer()->geometry();
        EXPECT_FALSE(shown.isEmpty());
        auto inScreen = [&](QWidget* w) { return QRect(w->mapTo(&s, QPoint(0, 0)), w->size()); };
        std::vector<std::pair<std::string, QRect>> controls{{"the controls", s.bottomColumn()->geometry()},
                                                            {"the transfer rows", s.bottomLayout().transfers}};
        for (ToolbarItem item : s.toolbar()->shownItems())
            if (QWidget* w = s.toolbar()->item(item)) controls.push_back({"a top bar button", inScreen(w)});
        auto* grid = s.pictureView();
        ASSERT_TRUE(grid);
        for (auto* tile : grid->findChildren<FeedTile*>()) {
            if (!tile->isVisible()) continue;
            if (tile->deckBar() && tile->deckBar()->isVisible())
                controls.push_back({tile->feed()->name() + "'s deck bar", inScreen(tile->deckBar())});
            if (tile->expandButton()->isVisible())
                controls.push_back({tile->feed()->name() + "'s expand button", inScreen(tile->expandButton())});
            if (auto* pills = tile->findChild<SingleFeedPills*>(); pills && pills->isVisible())
                controls.push_back({tile->feed()->name() + "'s menu", inScreen(pills)});
        }
        for (const auto& [what, rect] : controls) EXPECT_FALSE(shown.intersects(rect)) << "the notice covers " << what;
        screen.reset();
    }
}

TEST_F(ScreenTest, TheFolderButtonOpensTodaysShootFolderMakingItFirst) {
    std::vector<QUrl> opened;
    auto o = options();
    o.openURL = [&](const QUrl& url) { opened.push_back(url); };
    screen = std::make_unique<MonitorScreen>(o);
    screen->show();
    const auto folder = MonitorScreen::todaysShootFolder(controller());
    std::filesystem::remove_all(folder);
    QTest::mouseClick(qobject_cast<QAbstractButton*>(screen->toolbar()->item(Item::openShootFolder)), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(folder.string())));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(folder.parent_path(), root / "Movies" / "Brindlecroft") << "inside the shoot folder";
}

TEST_F(ScreenTest, SheetsClearTheirFlagsWhenClosed) {
    auto& s = make();
    s.show();
    connect({{1, "Cam A"}});
    s.setShowCameras(true);
    ASSERT_TRUE(s.openSheet());
    ASSERT_TRUE(s.openSheet()->doneButton());
    s.openSheet()->doneButton()->click();
    EXPECT_FALSE(s.showCameras());
    ASSERT_TRUE(eventually([&] { return s.openSheet() == nullptr; }));

    s.setShowNetwork(true);
    ASSERT_TRUE(s.openSheet());
    s.openSheet()->reject();
    EXPECT_FALSE(s.showNetwork());

    s.setShowTakes(true);
    EXPECT_TRUE(s.showTakes());
    ASSERT_TRUE(s.takesSheet()->cover());
    auto* done = s.takesSheet()->content()->findChild<QPushButton*>(QStringLiteral("takesDone"));
    ASSERT_TRUE(done);
    QTest::mouseClick(done, Qt::LeftButton);
    EXPECT_FALSE(s.showTakes());
}

TEST_F(ScreenTest, SheetsFollowTheWindowWhenItIsResized) {
    auto& s = make();
    s.resize(1280, 800);
    s.show();
    connect({{1, "Cam A"}});
    // Many nearby devices make the longest lists.
    std::vector<CameraLink::NearbyCamera> nearby;
    for (int n = 1; n <= 10; ++n)
        nearby.push_back({peer(n), "Camera " + std::to_string(n), false, false, false, false});
    link->onNearbyChanged(nearby);
    ASSERT_TRUE(eventually([&] { return controller().nearbyCameras().size() == nearby.size(); }));
    const std::pair<const char*, std::function<void(bool)>> sheets[] = {
        {"cameras", [&](bool on) { s.setShowCameras(on); }},
        {"nearby devices", [&](bool on) { s.setShowNetwork(on); }},
        {"settings", [&](bool on) { s.setShowSettings(on); }},
        {"gallery", [&](bool on) { s.setGalleryFeed(on ? controller().feeds().front() : nullptr); }},
    };
    for (const auto& [name, show] : sheets) {
        SCOPED_TRACE(name);
        s.resize(1280, 800);
        show(true);
        ASSERT_TRUE(s.openSheet());
        const QSize sizes[] = {{720, 480}, {1100, 760}, {1280, 800}};
        for (const QSize& size : sizes) {
            s.resize(size);
            QCoreApplication::processEvents();
            SheetDialog* sheet = s.openSheet();
            EXPECT_TRUE(QRect(QPoint(0, 0), size - QSize(39, 39)).contains(QRect(QPoint(0, 0), sheet->size())))
                << size.width() << "x" << size.height() << ": the sheet fits the window";
            const QPoint centre = s.mapToGlobal(s.rect().center());
            EXPECT_LE((sheet->geometry().center() - centre).manhattanLength(), 2)
                << size.width() << "x" << size.height() << ": the sheet stays centred on it";
        }
        show(false);
        QCoreApplication::processEvents();
    }
}

TEST_F(ScreenTest, EscClosesEverySheetAndTheCameraSettingsColumnAndTheBackdropGoesWithThem) {
    auto& s = make();
    s.show();
    connect({{1, "Cam A"}});
    const struct {
        const char* name;
        std::function<void(bool)> show;
        std::function<bool()> shown;
    } sheets[] = {
        {"cameras", [&](bool v) { s.setShowCameras(v); }, [&] { return s.showCameras(); }},
        {"nearby devices", [&](bool v) { s.setShowNetwork(v); }, [&] { return s.showNetwork(); }},
        {"settings", [&](bool v) { s.setShowSettings(v); }, [&] { return s.showSettings(); }},
        {"gallery", [&](bool v) { s.setGalleryFeed(v ? controller().feeds().front() : nullptr); },
         [&] { return s.galleryFeed() != nullptr; }},
    };
    for (const auto& sheet : sheets) {
        sheet.show(true);
        ASSERT_TRUE(s.openSheet()) << sheet.name;
        EXPECT_TRUE(s.sheetBackdrop()->isVisible()) << sheet.name << ": the screen dims behind the sheet";
        QWidget* keys = s.openSheet()->focusWidget() ? s.openSheet()->focusWidget() : s.openSheet();
        QTest::keyClick(keys, Qt::Key_Escape);
        EXPECT_FALSE(sheet.shown()) << sheet.name;
        EXPECT_TRUE(eventually([&] { return s.openSheet() == nullptr; })) << sheet.name;
        EXPECT_FALSE(s.sheetBackdrop()->isVisible()) << sheet.name;
    }
    s.setShowCameraSettings(true);
    s.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
    QTest::keyClick(&s, Qt::Key_Escape);
    EXPECT_FALSE(s.showCameraSettings());
}

TEST_F(ScreenTest, StoredDemoSettingsOpenTheInspectorWhichStaysEmptyWithoutASelectedCamera) {
    defaults->set("demoCameraSettings", true);
    auto& s = make();
    s.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(s.showCameraSettings());
    EXPECT_TRUE(s.inspector()->isVisible());
    EXPECT_GE(s.inspector()->width(), MonitorScreen::inspectorMinimumWidth);
    EXPECT_LE(s.inspector()->width(), MonitorScreen::inspectorMaximumWidth);
    EXPECT_EQ(s.pictureArea()->width() + s.inspector()->width(), s.width());
    s.setShowCameraSettings(false);
    EXPECT_FALSE(s.inspector()->isVisible());
    EXPECT_EQ(s.pictureArea()->width(), s.width());
}

TEST_F(ScreenTest, TheDeckStartRunsTheScreenAsTheDeckAndCtrlQQuitsFromAnyWindow) {
    MorvaneApp::Options o;
    o.screen = options();
    o.defaults = defaults.get();
    o.deck = true;
    MorvaneApp app(o);
    app.show();
    EXPECT_EQ(app.contentView(), nullptr);
    ASSERT_NE(app.deckRoot(), nullptr);
    auto* deck = app.monitorScreen();
    EXPECT_TRUE(deck->isDeckPhone());
    EXPECT_FALSE(deck->hasExit());
    EXPECT_TRUE(deck->controller().deckMode());
    EXPECT_TRUE(deck->controller().collectsDeckCopies());
    const auto items = toolbarItems(deck->state());
    EXPECT_NE(std::find(items.begin(), items.end(), ToolbarItem::takes), items.end());
    EXPECT_FALSE(app.window()->windowIcon().isNull()) << "the mark";

    // From a sheet over the window too.
    deck->setShowSettings(true);
    ASSERT_TRUE(eventually([&] { return deck->openSheet() && deck->openSheet()->isVisible(); }));
    bool quit = false;
    QTimer::singleShot(0, [&] { QTest::keyClick(deck->openSheet(), Qt::Key_Q, Qt::ControlModifier); });
    QTimer guard;  // a shortcut that does nothing fails the test instead of hanging it
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    guard.start(10000);
    const auto watch = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quit = true; });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    QObject::disconnect(watch);
    EXPECT_TRUE(quit);
}

TEST_F(ScreenTest, WhatTheDesktopCannotOpenIsShownWithItsPath) {
    auto& s = make();
    s.show();
    const auto folder = MonitorScreen::todaysShootFolder(s.controller());
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(folder.string()));
    EXPECT_TRUE(openWithDesktop(url, &s, [](const QUrl&) { return true; }));
    EXPECT_EQ(s.findChild<QMessageBox*>("cannotOpen"), nullptr);

    const struct {
        QUrl url;
        QString shown;
    } cases[] = {
        {url, QString::fromStdString(folder.string())},
        {QUrl::fromLocalFile(QString::fromStdString((root / "Program" / "Take 2.mov").string())),
         QString::fromStdString((root / "Program" / "Take 2.mov").string())},
        {QUrl("mailto:support@brindlecroft.app"), "mailto:support@brindlecroft.app"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(openWithDesktop(c.url, &s, [](const QUrl&) { return false; }));
        auto* box = s.findChild<QMessageBox*>("cannotOpen");
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isVisible());
        // Drawn like the other alerts: the title over the message, no system icon.
        EXPECT_EQ(box->text(), QString::fromUtf8("Couldn’t Open"));
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_TRUE(box->informativeText().contains(c.shown)) << box->informativeText().toStdString();
        delete box;
    }
    EXPECT_TRUE(cannotOpenText(url).startsWith("No application on this computer opens folders."));
}

TEST_F(ScreenTest, PrivacyCoverCoversTheRunningScreenOnlyWithTheVaultOnAndTheSceneNotActive) {
    MorvaneApp::Options o;
    o.screen = options();
    o.defaults = defaults.get();
    MorvaneApp app(o);
    app.show();
    auto* screenInWindow = app.contentView()->monitorScreen();
    EXPECT_FALSE(screenInWindow->hasExit());
    EXPECT_FALSE(screenInWindow->isDeckPhone());
    EXPECT_FALSE(screenInWindow->controller().deckMode());

    for (auto phase : {ScenePhase::active, ScenePhase::inactive, ScenePhase::background}) {
        app.setScenePhase(phase);
        EXPECT_FALSE(app.privacyCover()->isVisible()) << "useVault absent";
    }
    defaults->set(MorvaneApp::useVaultKey, true);
    struct Case {
        ScenePhase phase;
        bool covered;
    };
    for (const auto& c :
         {Case{ScenePhase::inactive, true}, Case{ScenePhase::active, false}, Case{ScenePhase::background, true}}) {
        app.setScenePhase(c.phase);
        EXPECT_EQ(app.privacyCover()->isVisible(), c.covered);
        if (c.covered) {
            EXPECT_EQ(app.privacyCover()->geometry(), app.window()->rect()) << "black to every edge";
            const QImage shot = app.window()->grab().toImage();
            EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::black));
            EXPECT_EQ(app.privacyCover()->logo()->logoSize(), 96);
            EXPECT_TRUE(screenInWindow->controller().isStarted()) << "the screen keeps running under the cover";
        }
    }
    EXPECT_FALSE(privacyCoverShown(false, ScenePhase::background));
    EXPECT_TRUE(privacyCoverShown(true, ScenePhase::inactive));

    bool replied = false;
    MorvaneApp::authenticationReply(true, QStringLiteral("ignored"), [&](bool ok) { replied = ok; });
    EXPECT_FALSE(replied) << "handed over later, on the main queue";
    ASSERT_TRUE(eventually([&] { return replied; }));
}

}  // namespace
}  // namespace morvane
