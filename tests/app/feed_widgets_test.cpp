#include <gtest/gtest.h>

#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <set>

#include "app/deck_bar.h"
#include "app/deck_button.h"
#include "app/deck_buttons.h"
#include "app/deck_controls.h"
#include "app/deck_lens_controls.h"
#include "app/feed_grid.h"
#include "app/feed_tile.h"
#include "app/nearby_cameras_view.h"
#include "app/round_icon_button.h"
#include "app/single_feed_pills.h"
#include "app/transfer_row.h"
#include "camera_panels/loupe_view.h"
#include "camera_panels/recording_pill.h"
#include "controller_fixture.h"
#include "live_stream.h"
#include "protocol/camera_event.h"
#include "remote/video_receiver.h"

namespace morvane {
namespace {

class FeedWidgets : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        make();
        controller->start();
        main->runPending();
    }

    /// Cameras 1…n connected, each with a status.
    void cameras(int n, const CameraStatus& s = {}) {
        std::vector<std::pair<int, std::string>> list;
        const char* names[] = {"Studio", "Wide", "Close", "Desk"};
        for (int i = 1; i <= n; ++i) list.emplace_back(i, names[i - 1]);
        connect(list);
        main->runPending();
        for (int i = 1; i <= n; ++i) status(i, s);
    }

    std::vector<CameraCommand> commandsTo(int n) const { return link->commandsTo(peer(n)); }

    template <class C>
    std::vector<C> sentOf(int n) const {
        std::vector<C> out;
        for (const auto& command : commandsTo(n))
            if (auto* c = std::get_if<C>(&command.value)) out.push_back(*c);
        return out;
    }

    /// Streams real H.264 pictures to a camera's receiver until its picture size is known.
    void stream(int n) {
        testing::LiveStream live(640, 360);
        auto first = live.next(true);
        deliver(*first.parameterSets, n);
        deliver(first.frame, n);
        auto receiver = controller->receiver(peer(n));
        ASSERT_TRUE(receiver);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                main->runPending();
                return receiver->videoSize().width() > 0;
            },
            5000));
    }

    static void click(QWidget* widget, QPoint at) { QTest::mouseClick(widget, Qt::LeftButton, {}, at); }

    static bool drop(QWidget* target, const QString& text) {
        QMimeData data;
        data.setText(text);
        QDragEnterEvent enter(QPoint(10, 10), Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent event(QPointF(10, 10), Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    }
};

TEST_F(FeedWidgets, ClickSelectsThenFocusesAtThePictureFraction) {
    cameras(2);
    stream(2);
    FeedGrid grid(controller);
    grid.resize(1204, 400);
    grid.show();
    controller->setSelectedID(peer(1));
    auto* tile = grid.tile(peer(2));
    ASSERT_TRUE(tile);
    EXPECT_EQ(tile->size(), QSize(600, 400));
    EXPECT_TRUE(tile->showsChrome());
    link->clearSent();

    click(tile, QPoint(300, 200));
    EXPECT_EQ(controller->selectedID(), peer(2));
    EXPECT_TRUE(sentOf<CameraCommand::Focus>(2).empty());
    EXPECT_FALSE(tile->focusPoint());
    EXPECT_TRUE(grid.tile(peer(2))->isSelected());
    EXPECT_FALSE(grid.tile(peer(1))->isSelected());
    EXPECT_EQ(tile->border().kind, TileBorder::Kind::selected);

    // 640 × 360 fits 600 × 337.5 in the tile, centred: the click lands at a quarter across, half down.
    click(tile, QPoint(150, 200));
    const auto focus = sentOf<CameraCommand::Focus>(2);
    ASSERT_EQ(focus.size(), 1u);
    EXPECT_NEAR(focus[0].x, 0.25, 0.01);
    EXPECT_NEAR(focus[0].y, 0.5, 0.01);
    EXPECT_EQ(tile->focusPoint(), QPointF(150, 200));
    EXPECT_TRUE(sentOf<CameraCommand::Focus>(1).empty());

    // On the letterbox bar: outside the picture, nothing is sent.
    click(tile, QPoint(300, 5));
    EXPECT_EQ(sentOf<CameraCommand::Focus>(2).size(), 1u);
}

TEST_F(FeedWidgets, CtrlWheelOnAPictureZoomsThatCameraAlone) {
    CameraStatus s;
    s.lenses = {0.5, 1.0, 2.0};
    s.zoom = 1.0;
    s.maxZoom = 8;
    cameras(2, s);
    controller->setShutterAllCameras(true);
    FeedGrid grid(controller);
    grid.resize(1000, 400);
    grid.show();
    auto* tile = grid.tile(peer(2));
    link->clearSent();
    QWheelEvent plain(QPointF(100, 100), tile->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(tile, &plain);
    EXPECT_TRUE(sentOf<CameraCommand::SetZoom>(2).empty());
    QWheelEvent zoom(QPointF(100, 100), tile->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 240), Qt::NoButton,
                     Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(tile, &zoom);
    const auto sent = sentOf<CameraCommand::SetZoom>(2);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NEAR(sent[0].factor, 1.21, 1e-9);
    EXPECT_FALSE(sent[0].smooth);
    EXPECT_TRUE(sentOf<CameraCommand::SetZoom>(1).empty());
}

TEST_F(FeedWidgets, CameraMenuRepairsAndDisconnects) {
    cameras(2);
    SingleFeedPills pills(controller, controller->feed(peer(2)));
    const auto actions = pills.menu()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Repair Connection"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Disconnect"));
    EXPECT_EQ(pills.namePill()->text(), QStringLiteral("Wide"));
    EXPECT_EQ(pills.recordingPill(), nullptr);
    actions[0]->trigger();
    EXPECT_TRUE(controller->repairRequested().count(peer(2)));
    EXPECT_EQ(controller->message(), std::optional<std::string>("Repairing Wide…"));
    actions[1]->trigger();
    EXPECT_EQ(link->disconnects, (std::vector<PeerId>{peer(2)}));
    controller->feed(peer(2))->setRecordingStart(clock);
    ASSERT_NE(pills.recordingPill(), nullptr);
    EXPECT_TRUE(pills.recordingPill()->text().startsWith(QStringLiteral("REC ")));
    // Narrow, the pills keep the recording time with its red dot and let the name go.
    pills.fitWidth(70);
    EXPECT_FALSE(pills.recordingPill()->isHidden());
    EXPECT_FALSE(pills.recordingPill()->text().startsWith(QStringLiteral("REC")));
    EXPECT_TRUE(pills.namePill()->isHidden());
}

TEST_F(FeedWidgets, OneCameraFocusesAtOnceAndShowsNoChrome) {
    cameras(1);
    FeedGrid grid(controller);
    grid.resize(800, 600);
    grid.show();
    auto* tile = grid.tile(peer(1));
    ASSERT_TRUE(tile);
    EXPECT_EQ(tile->geometry(), QRect(0, 0, 800, 600));
    EXPECT_FALSE(tile->showsChrome());
    EXPECT_TRUE(tile->expandButton()->isHidden());
    EXPECT_TRUE(tile->chromeColumn()->isHidden());
    link->clearSent();
    click(tile, QPoint(400, 300));  // no picture yet: the click changes nothing
    EXPECT_TRUE(sentOf<CameraCommand::Focus>(1).empty());
    EXPECT_FALSE(tile->focusPoint());
}

TEST_F(FeedWidgets, DeckModePutsACameraOnAirByItsBar) {
    cameras(2);
    FeedGrid grid(controller);
    grid.resize(1000, 400);
    grid.show();
    controller->setDeckMode(true);
    main->runPending();
    auto* tile = grid.tile(peer(2));
    ASSERT_TRUE(tile->deckBar()->isVisibleTo(tile));
    EXPECT_EQ(tile->deckBar()->number(), 2);
    EXPECT_EQ(tile->deckBar()->name(), "Wide");
    link->clearSent();
    click(tile->deckBar(), QPoint(200, 20));
    EXPECT_EQ(controller->programID(), peer(2));
    EXPECT_TRUE(tile->deckBar()->onAir());
    EXPECT_EQ(tile->border(), (TileBorder{TileBorder::Kind::onAir, 6, true}));
    EXPECT_TRUE(tile->onAirBadgeShown());
    EXPECT_EQ(sentOf<CameraCommand::ProgramCut>(1).size(), 1u);
    EXPECT_EQ(tile->deckBar()->accessibleName().toStdString(), "Wide, camera 2, on air");
    // The readings column moves down under the bar, and stays clear of the expand button.
    EXPECT_GE(tile->readingsColumn()->y(), 52 + 40);
    EXPECT_GT(tile->readingsColumn()->y(), tile->expandButton()->geometry().bottom());
}

TEST_F(FeedWidgets, DroppingANameOnATileReordersAndIsKept) {
    cameras(3);
    FeedGrid grid(controller);
    grid.resize(1000, 800);
    grid.show();
    EXPECT_FALSE(drop(grid.tile(peer(1)), QString()));
    EXPECT_TRUE(drop(grid.tile(peer(1)), QStringLiteral("Close\nWide")));
    std::vector<std::string> names;
    for (const auto& feed : controller->feeds()) names.push_back(feed->name());
    EXPECT_EQ(names, (std::vector<std::string>{"Close", "Studio", "Wide"}));
    EXPECT_EQ(defaults->stringList(MonitorController::cameraOrderKey, {}), names);
    // The grid follows: the dropped camera's tile now comes first, and its picture host is the same one.
    const auto tiles = grid.tiles();
    ASSERT_EQ(tiles.size(), 3u);
    EXPECT_EQ(tiles[0]->feed()->name(), "Close");
    EXPECT_EQ(tiles[0]->geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(tiles[2]->geometry(), QRect(251, 402, 498, 398));
}

TEST_F(FeedWidgets, ExpandSolosTheCameraAndShowAllBringsEveryTileBack) {
    cameras(3);
    FeedGrid grid(controller);
    grid.resize(1000, 800);
    grid.show();
    auto* tile = grid.tile(peer(2));
    ASSERT_FALSE(tile->expandButton()->isHidden());
    EXPECT_EQ(tile->expandButton()->label(), QStringLiteral("Expand"));
    tile->expandButton()->click();
    EXPECT_EQ(controller->soloID(), peer(2));
    EXPECT_EQ(controller->selectedID(), peer(2));
    ASSERT_EQ(grid.tiles().size(), 1u);
    EXPECT_EQ(grid.tiles()[0]->geometry(), QRect(0, 0, 1000, 800));
    EXPECT_TRUE(grid.tiles()[0]->showsChrome());
    EXPECT_EQ(grid.tiles()[0]->border().kind, TileBorder::Kind::selected);
    grid.tiles()[0]->expandButton()->click();
    EXPECT_FALSE(controller->soloID());
    EXPECT_EQ(grid.tiles().size(), 3u);
}

TEST_F(FeedWidgets, ReadingsFollowTheStatusAndTheHistogramSwitch) {
    CameraStatus s;
    s.loupe = true;
    s.loupeContours = false;
    s.falseColor = true;
    cameras(2, s);
    FeedGrid grid(controller);
    grid.resize(1000, 400);
    auto* tile = grid.tile(peer(1));
    EXPECT_EQ(tile->readings(), (TileReadings{true, true, false, false}));
    EXPECT_EQ(tile->loupe()->loupeSize(), 120);
    deliver(HistogramPacket{}.encode(), 1);
    EXPECT_FALSE(tile->readings().histogram);
    controller->setShowHistogram(true);
    EXPECT_TRUE(tile->readings().histogram);
    // The loupe's contour switch goes to this camera alone, twice if clicked twice before a new status.
    link->clearSent();
    click(tile->loupe(), QPoint(60, 60));
    click(tile->loupe(), QPoint(60, 60));
    const auto loupe = sentOf<CameraCommand::SetLoupe>(1);
    ASSERT_EQ(loupe.size(), 2u);
    EXPECT_EQ(loupe[1], (CameraCommand::SetLoupe{true, true}));
    EXPECT_TRUE(sentOf<CameraCommand::SetLoupe>(2).empty());
}

TEST_F(FeedWidgets, RecordingBordersOutsideDeckMode) {
    CameraStatus recording;
    recording.isRecording = true;
    cameras(2, recording);
    FeedGrid grid(controller);
    grid.resize(1000, 400);
    controller->setSelectedID(peer(1));
    EXPECT_EQ(grid.tile(peer(1))->border(), (TileBorder{TileBorder::Kind::recording, 4, true}));
    controller->setDeckMode(true);
    EXPECT_EQ(grid.tile(peer(2))->border().kind, TileBorder::Kind::none);
    EXPECT_EQ(grid.tile(peer(1))->border().kind, TileBorder::Kind::selected);
}

TEST_F(FeedWidgets, TransferRowPausesAndResumes) {
    CameraStatus s;
    s.pendingTransfers = 2;
    cameras(2, s);
    QWidget host;
    auto& row = *new TransferRow(controller, controller->feed(peer(1)), &host);
    EXPECT_FALSE(row.isHidden());
    EXPECT_EQ(row.holdButton()->text(), QStringLiteral("Pause"));
    EXPECT_EQ(row.summary().toStdString(), "2 waiting");
    link->clearSent();
    row.holdButton()->click();
    EXPECT_EQ(sentOf<CameraCommand::SetTransfersPaused>(1), (std::vector{CameraCommand::SetTransfersPaused{true}}));
    EXPECT_TRUE(sentOf<CameraCommand::SetTransfersPaused>(2).empty());
    EXPECT_EQ(row.holdButton()->text(), QStringLiteral("Pause"));  // until the camera says otherwise
    s.transfersPaused = true;
    status(1, s);
    EXPECT_EQ(row.holdButton()->text(), QStringLiteral("Send"));
    EXPECT_EQ(row.summary().toStdString(), "2 ready");
    row.holdButton()->click();
    EXPECT_EQ(sentOf<CameraCommand::SetTransfersPaused>(1).back(), CameraCommand::SetTransfersPaused{false});
    s.isRecording = true;
    status(1, s);
    EXPECT_FALSE(row.holdButton()->isEnabled());
    s.pendingTransfers = 0;
    s.transferName = "Take 01.mov";
    status(1, s);
    EXPECT_TRUE(row.isHidden());
    row.show();  // what a host does with every row it lays out
    EXPECT_TRUE(row.isHidden());
}

// A deck takes no captures: the camera's files wait for a remote, and neither holding nor resuming sends them
// anywhere. A file under way goes to a remote elsewhere, which the row then follows as any remote's.
TEST_F(FeedWidgets, ADeckSaysItsCamerasFilesWaitForARemoteAndOffersNoSend) {
    struct Row {
        const char* what;
        bool deck;
        bool paused;
        std::optional<double> progress;
        const char* summary;
        bool offersHold;
    };
    const Row rows[] = {
        {"a remote, waiting", false, false, std::nullopt, "1 waiting", true},
        {"a remote, held", false, true, std::nullopt, "1 ready", true},
        {"a deck, waiting", true, false, std::nullopt, "1 waiting for a remote", false},
        {"a deck, held", true, true, std::nullopt, "1 waiting for a remote", false},
        {"a deck, while a remote elsewhere takes it", true, false, 0.5, "50%", true},
    };
    for (const auto& row : rows) {
        controller->setCollectsDeckCopies(row.deck);
        CameraStatus s;
        s.pendingTransfers = 1;
        s.transfersPaused = row.paused;
        s.transferProgress = row.progress;
        cameras(1, s);
        QWidget host;
        auto& transfers = *new TransferRow(controller, controller->feed(peer(1)), &host);
        EXPECT_EQ(transfers.summary().toStdString(), row.summary) << row.what;
        EXPECT_EQ(!transfers.holdButton()->isHidden(), row.offersHold) << row.what;
    }
}

// The tile says "No sound" from the take that lost its sound until a take records sound again.
TEST_F(FeedWidgets, ATileSaysNoSoundUntilATakeRecordsSoundAgain) {
    cameras(2);
    FeedGrid grid(controller);
    grid.resize(1000, 400);
    grid.show();
    auto* tile = grid.tile(peer(1));
    ASSERT_TRUE(tile);
    auto event = [&](CameraEvent::Kind kind, std::optional<std::string> message = std::nullopt) {
        deliverMessage(PacketType::event, CameraEvent{kind, std::move(message), std::nullopt}, 1);
        QCoreApplication::processEvents();
    };
    EXPECT_TRUE(tile->noSoundMark()->isHidden());
    event(CameraEvent::Kind::failed, takeWithoutSoundMessage);
    event(CameraEvent::Kind::videoSaved);
    ASSERT_FALSE(tile->noSoundMark()->isHidden());
    EXPECT_EQ(tile->noSoundMark()->accessibleName(), QStringLiteral("No sound"));
    EXPECT_TRUE(grid.tile(peer(2))->noSoundMark()->isHidden());
    // Beside the badge of the camera on air, never over it.
    controller->setDeckMode(true);
    controller->putOnAir(*controller->feed(peer(1)));
    QCoreApplication::processEvents();
    EXPECT_FALSE(tile->noSoundMark()->geometry().intersects(tile->onAirBadgeRect()));
    EXPECT_FALSE(tile->noSoundMark()->geometry().intersects(tile->deckBar()->geometry())) << "the deck bar hides it";
    event(CameraEvent::Kind::videoSaved);
    EXPECT_TRUE(tile->noSoundMark()->isHidden());
    // A take the camera marks as lacking its sound, whatever the words.
    deliverMessage(PacketType::event, CameraEvent{CameraEvent::Kind::failed, "No sound came", {}, {}, {}, true}, 1);
    event(CameraEvent::Kind::videoSaved);
    EXPECT_FALSE(tile->noSoundMark()->isHidden());
}

TEST_F(FeedWidgets, DeckButtonsPutOnAirAndReorder) {
    cameras(3);
    DeckButtons panel(controller, false);
    panel.resize(700, 500);
    ASSERT_EQ(panel.buttons().size(), 3u);
    const auto* third = panel.buttons()[2];
    EXPECT_EQ(third->geometry().left(), panel.buttons()[0]->geometry().left());
    EXPECT_GT(third->geometry().top(), panel.buttons()[0]->geometry().bottom());
    EXPECT_GE(third->height(), 130);
    panel.buttons()[1]->click();
    EXPECT_EQ(controller->programID(), peer(2));
    EXPECT_TRUE(panel.buttons()[1]->onAir());
    EXPECT_EQ(panel.buttons()[1]->accessibleName().toStdString(), "Wide, on air");
    EXPECT_TRUE(drop(panel.buttons()[0], QStringLiteral("Close")));
    EXPECT_EQ(controller->feeds()[0]->name(), "Close");
    EXPECT_EQ(panel.buttons()[0]->feed()->name(), "Close");
    EXPECT_EQ(panel.buttons()[0]->number(), 1);
}

TEST_F(FeedWidgets, LensRowActsOnTheSelectedCameraAlone) {
    CameraStatus s;
    s.lenses = {0.5, 1.0, 3.0};
    s.zoom = 1.02;
    cameras(2, s);
    controller->setShutterAllCameras(true);
    controller->setSelectedID(peer(2));
    DeckControls controls(controller);
    ASSERT_TRUE(controls.lensControls());
    const auto& lenses = controls.lensControls()->lensButtons();
    ASSERT_EQ(lenses.size(), 3u);
    EXPECT_EQ(lenses[0]->text(), QStringLiteral(".5"));
    EXPECT_EQ(lenses[2]->text(), QStringLiteral("3"));
    EXPECT_TRUE(lenses[1]->isChecked());
    link->clearSent();
    lenses[2]->click();
    controls.lensControls()->flipButton()->click();
    EXPECT_EQ(sentOf<CameraCommand::SetZoom>(2), (std::vector{CameraCommand::SetZoom{3.0, true}}));
    EXPECT_EQ(sentOf<CameraCommand::SwitchCamera>(2).size(), 1u);
    EXPECT_TRUE(commandsTo(1).empty());
    EXPECT_EQ(controls.lensControls()->flipButton()->accessibleName().toStdString(), "Use Wide's front camera");
    // The record button reads the state of every camera.
    EXPECT_EQ(controls.recordButton()->accessibleName().toStdString(), "Record on every camera");
    CameraStatus recording = s;
    recording.isRecording = true;
    status(1, recording);
    EXPECT_EQ(controls.recordButton()->accessibleName().toStdString(), "Stop recording on every camera");
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

TEST_F(FeedWidgets, NearbyRowsPairConnectAndDisconnect) {
    CameraLink::NearbyCamera me{peer(9), "This computer", true, false, false, true};
    CameraLink::NearbyCamera fresh{peer(1), "Studio", false, false, false, false};
    CameraLink::NearbyCamera known{peer(2), "Wide", true, false, false, false};
    CameraLink::NearbyCamera linked{peer(3), "Close", true, false, true, false};
    link->onNearbyChanged({me, fresh, known, linked});
    main->runPending();
    NearbyCamerasView view(controller);
    const auto rows = view.list()->rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0]->button(), nullptr);
    ASSERT_TRUE(rows[1]->button());
    EXPECT_EQ(rows[1]->button()->text(), QStringLiteral("Pair"));
    EXPECT_EQ(rows[2]->button()->text(), QStringLiteral("Connect"));
    EXPECT_EQ(rows[3]->button()->text(), QStringLiteral("Disconnect"));
    rows[1]->button()->click();
    rows[2]->button()->click();
    rows[3]->button()->click();
    EXPECT_EQ(link->connects, (std::vector<PeerId>{peer(1), peer(2)}));
    EXPECT_EQ(link->disconnects, (std::vector<PeerId>{peer(3)}));
}

TEST_F(FeedWidgets, NearbyScrollKeepsTheRowUnderThePointerElseTheFirstInView) {
    // Rows 60 high from 0, 74 apart; the list scrolled by 100.
    auto rows = [](std::vector<bool> stays) {
        std::vector<NearbyRowPlace> out;
        for (int n = 0; n < int(stays.size()); ++n) out.push_back({peer(n + 1), 74 * n, 60, stays[std::size_t(n)]});
        return out;
    };
    const struct {
        const char* what;
        std::vector<bool> stays;
        std::optional<int> pointer;
        std::optional<ScrollAnchor> anchor;
    } cases[] = {
        {"under the pointer", {true, true, true, true}, 230, ScrollAnchor{peer(4), 122}},
        {"no pointer: the first in view, partly", {true, true, true, true}, std::nullopt, ScrollAnchor{peer(2), -26}},
        {"the row under the pointer goes", {true, false, true, false}, 230, ScrollAnchor{peer(3), 48}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(scrollAnchor(rows(c.stays), 100, c.pointer), c.anchor);
    }
}

TEST_F(FeedWidgets, NearbyRowsStayUnderThePointerWhileCamerasComeAndGo) {
    std::vector<CameraLink::NearbyCamera> nearby;
    for (int n = 1; n <= 12; ++n) nearby.push_back({peer(n), "Camera " + std::to_string(n)});
    link->onNearbyChanged(nearby);
    main->runPending();
    NearbyCamerasView view(controller);
    view.resize(720, 480);
    view.show();
    QScrollArea* scroll = view.list()->scrollArea();
    // Laid out: nothing moves from one turn of the event loop to the next.
    auto settled = [&] {
        std::vector<QRect> last;
        return QTest::qWaitFor(
            [&] {
                std::vector<QRect> now{QRect(0, scroll->verticalScrollBar()->value(), 0, 0)};
                for (auto* row : view.list()->rows()) now.push_back(row->isVisible() ? row->geometry() : QRect());
                return std::exchange(last, now) == now;
            },
            15000);
    };
    ASSERT_TRUE(settled());
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    ASSERT_TRUE(settled());
    ASSERT_GT(scroll->verticalScrollBar()->value(), 0) << "the rows scroll";
    const QPoint pointer = scroll->viewport()->mapToGlobal(QPoint(40, scroll->viewport()->height() / 2));
    QCursor::setPos(pointer);
    auto under = [&]() -> std::pair<NearbyCameraRow*, QRect> {
        for (auto* row : view.list()->rows())
            if (QRect(row->mapToGlobal(QPoint(0, 0)), row->size()).contains(pointer))
                return {row, QRect(row->mapTo(&view, QPoint(0, 0)), row->size())};
        return {};
    };
    const auto [first, place] = under();
    ASSERT_TRUE(first);
    const QPointer<NearbyCameraRow> row = first;
    // At each step of laying out, as a look between two turns of the event loop finds it, no row that has its
    // place is squeezed.
    auto publish = [&] {
        link->onNearbyChanged(nearby);
        main->runPending();
        std::set<std::string> squeezed;
        for (int pass = 0; pass < 5; ++pass) {
            for (auto* r : view.list()->rows())
                if (r->isVisible() && r->testAttribute(Qt::WA_Moved) && r->height() < r->sizeHint().height())
                    squeezed.insert(r->camera().name);
            QCoreApplication::sendPostedEvents();
        }
        EXPECT_EQ(squeezed, std::set<std::string>{});
    };
    auto start = [&](int n) { nearby.push_back({peer(n), "Camera " + std::to_string(n)}); };
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"a 13th starts", [&] { start(13); }},
        {"a 14th starts", [&] { start(14); }},
        {"a 15th starts", [&] { start(15); }},
        {"a 16th starts", [&] { start(16); }},
        {"one above changes", [&] { nearby[1].isConnecting = true; }},
        {"one above leaves", [&] { nearby.erase(nearby.begin()); }},
        {"one shows above",
         [&] {
             nearby.insert(nearby.begin(), {peer(20), "Camera 20"});
         }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        change();
        publish();
        ASSERT_TRUE(settled());
        EXPECT_EQ(under(), std::make_pair(row.data(), place)) << "the same row, kept in its place";
        std::vector<std::string> names, listed;
        for (auto* r : view.list()->rows()) names.push_back(r->camera().name);
        for (const auto& camera : nearby) listed.push_back(camera.name);
        EXPECT_EQ(names, listed) << "in the link's order";
    }
}

}  // namespace
}  // namespace morvane
