// The remote screen: creation, lifecycle, layers and layout, presentations and the pairing alert. The views
// of the slots come from monitor_screen_slots.cpp.

#include "app/monitor_screen.h"

#include <QEvent>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/feed_grid.h"
#include "app/feed_stats.h"
#include "app/feed_tile.h"
#include "app/monitor_toolbar.h"
#include "app/notice_band.h"
#include "app/press_clock.h"
#include "app/screen_saver_inhibitor.h"
#include "app/selected_feed_controls.h"
#include "app/sheet_dialog.h"
#include "camera_panels/caption_views.h"
#include "camera_panels/close_button.h"
#include "camera_panels/large_sheet.h"
#include "platform/defaults.h"
#include "platform/desktop_open.h"
#include "platform/theme.h"
#include "shoot_library/shoot_library.h"

namespace morvane {

namespace {

constexpr const char* demoCameraSettingsKey = "demoCameraSettings";
constexpr const char* noticeMarkProperty = "morvaneNoticeMark";

/// A view that hid itself (a transfer row without pending files) stays hidden when it is placed.
bool hidesItself(const QWidget& view) {
    return view.testAttribute(Qt::WA_WState_ExplicitShowHide) && view.testAttribute(Qt::WA_WState_Hidden);
}

/// A holder in the bottom column whose one child comes from a slot.
class SlotHolder : public QWidget {
public:
    explicit SlotHolder(QWidget* parent) : QWidget(parent) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(MonitorScreen::barSpacing);
        setAttribute(Qt::WA_TranslucentBackground);
        hide();
    }
    void put(QWidget* child) {
        for (auto* old : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) delete old;
        if (child) {
            const bool hiddenByItself = hidesItself(*child);
            child->setParent(this);
            layout()->addWidget(child);
            layout()->setAlignment(child, Qt::AlignHCenter);
            if (!hiddenByItself) child->show();
        }
        setVisible(child != nullptr);
    }
};

/// Holds a bar's own widgets; clicks between them pass to the pictures below (see `updateBarMasks`).
class BarLayer : public QWidget {
public:
    explicit BarLayer(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TranslucentBackground); }
};

QRegion barRegion(const QWidget& widget) {
    QRegion region;
    for (auto* child : widget.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isHidden()) continue;
        if (dynamic_cast<SlotHolder*>(child)) {
            region += barRegion(*child).translated(child->pos());
        } else {
            region += child->geometry();
        }
    }
    return region;
}

/// An alert as the platform draws one: a raised dark panel, the title in bold, the buttons as wide pills. The
/// cancel pill is as bright as the other, only not coloured: a dim one would read as disabled.
QString pairingAlertStyle() {
    return QStringLiteral(
               "QMessageBox { background: #2c2c2e; border: 1px solid #48484a; }"
               "QMessageBox QLabel { color: white; font-size: 14px; min-width: 300px; }"
               "QMessageBox QLabel#qt_msgbox_label { font-size: 17px; font-weight: 600; }"
               "QPushButton { color: white; background: #545458; border: none; border-radius: 8px; padding: 8px 18px;"
               " min-width: 96px; font-size: 15px; }"
               "QPushButton:default { color: white; background: %1; font-weight: 600; }"
               "QPushButton:hover { background: #636366; } QPushButton:default:hover { background: %2; }")
        .arg(theme::blue().name(), theme::blue().lighter(115).name());
}

}  // namespace

MonitorScreen::MonitorScreen(MonitorScreenOptions options, QWidget* parent)
    : QWidget(parent),
      onExit_(std::move(options.onExit)),
      isDeckPhone_(options.isDeckPhone),
      makeInhibitor_(std::move(options.makeInhibitor)),
      openURL_(std::move(options.openURL)) {
    if (!openURL_) openURL_ = [this](const QUrl& url) { openWithDesktop(url, this); };
    controller_ = MonitorController::create(
        4, options.sharedLink, [] { return 0.0; }, std::move(options.environment));
    showCameraSettings_ = controller_->environment().defaults->boolValue(demoCameraSettingsKey, false);
    controller_->setDeckMode(isDeckPhone_);
    controller_->setCollectsDeckCopies(isDeckPhone_);

    setObjectName(QStringLiteral("monitorScreen"));
    theme::setBackground(*this, Qt::black);
    // Presses handled while the main thread was busy cut and mark at the moment they were made, in the order made.
    std::weak_ptr<MonitorController> weak = controller_;
    presses_ = new PressTimes(
        [weak] {
            auto c = weak.lock();
            return c && c->environment().now ? c->environment().now() : Date::now();
        },
        this);

    pictureHost_ = new QWidget(this);
    pictureHost_->setObjectName(QStringLiteral("pictureArea"));
    auto* pictureLayout = new QVBoxLayout(pictureHost_);
    pictureLayout->setContentsMargins(0, 0, 0, 0);

    inspector_ = new QWidget(this);
    inspector_->setObjectName(QStringLiteral("cameraSettingsInspector"));
    theme::setBackground(*inspector_, theme::sheetBackground());
    auto* inspectorLayout = new QVBoxLayout(inspector_);
    // The panel's own "Done" closes the column; a second close control would only repeat it.
    inspectorLayout->setContentsMargins(0, 0, 0, 0);
    inspector_->hide();

    buildBars();
    buildShortcuts();

    // Dims the screen behind an open sheet, so that nothing under it reads as part of the sheet.
    backdrop_ = new QWidget(this);
    backdrop_->setObjectName(QStringLiteral("sheetBackdrop"));
    theme::setBackground(*backdrop_, QColor(0, 0, 0, 150));
    backdrop_->hide();
    // Esc closes the camera settings column like every sheet; the takes sheet has its own while it is open.
    inspectorEscape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    inspectorEscape_->setContext(Qt::WindowShortcut);
    inspectorEscape_->setEnabled(false);
    connect(inspectorEscape_, &QShortcut::activated, this, [this] { setShowCameraSettings(false); });
    connect(this, &MonitorScreen::presentationChanged, this, &MonitorScreen::refreshPresentationLayers);

    takesSheet_ = new LargeSheet(this, [this] { return makeTakesView(); });
    connect(takesSheet_, &LargeSheet::presentedChanged, this, [this](bool presented) {
        if (presented == showTakes_) return;
        showTakes_ = presented;
        emit presentationChanged();
    });

    observeController();
    refresh();
}

MonitorScreen::~MonitorScreen() {
    if (appeared_) onDisappearAction();
    delete pairingAlert_.data();
}

// MARK: Lifecycle

void MonitorScreen::onAppearAction() {
    if (appeared_) return;
    appeared_ = true;
    if (!inhibitor_) inhibitor_ = makeInhibitor_ ? makeInhibitor_() : std::make_unique<ScreenSaverInhibitor>();
    if (inhibitor_) inhibitor_->setInhibited(true);
    controller_->start();
    refresh();
}

void MonitorScreen::onDisappearAction() {
    if (!appeared_) return;
    appeared_ = false;
    if (inhibitor_) inhibitor_->setInhibited(false);
    controller_->stop();
}

void MonitorScreen::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window that is only minimised or restored keeps its screen running.
    if (!event->spontaneous()) onAppearAction();
}

void MonitorScreen::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) onDisappearAction();
}

void MonitorScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutLayers();
    if ((event->oldSize().height() < compactHeightLimit) != (event->size().height() < compactHeightLimit)) refresh();
}

bool MonitorScreen::eventFilter(QObject* watched, QEvent* event) {
    // A bar whose views changed size is placed and masked again once its layout has settled.
    // So is the screen once a tile's mark has come, gone or moved: the notices keep off it.
    const bool markMoved = watched->property(noticeMarkProperty).toBool() &&
                           (event->type() == QEvent::Show || event->type() == QEvent::Hide ||
                            event->type() == QEvent::Move || event->type() == QEvent::Resize);
    const bool barChanged =
        (watched == toolbar_ || watched == bottom_ || watched == transfers_ || watched == messages_) &&
        event->type() == QEvent::LayoutRequest;
    if ((barChanged || markMoved) && !layoutScheduled_) {
        layoutScheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            layoutScheduled_ = false;
            layoutLayers();
        });
    }
    return QWidget::eventFilter(watched, event);
}

// MARK: State

MonitorScreenState MonitorScreen::state() const {
    MonitorScreenState s;
    s.hasExit = hasExit();
    s.isDeckPhone = isDeckPhone_;
    s.feeds = controller_->feeds().size();
    s.visibleFeeds = controller_->visibleFeeds().size();
    s.soloed = controller_->soloID().has_value();
    s.deckMode = controller_->deckMode();
    s.livePictures = controller_->livePictures();
    s.compact = isCompact();
    s.importsFiles = controller_->importsFiles();
    s.cameraSelected = controller_->selectedFeed() != nullptr;
    s.liveCutOffered = controller_->liveCutOffered();
    return s;
}

bool MonitorScreen::isCompact() const {
    return height() > 0 && height() < compactHeightLimit;
}

void MonitorScreen::observeController() {
    auto* c = controller_.get();
    for (auto signal : {&MonitorController::feedsChanged, &MonitorController::selectedIDChanged,
                        &MonitorController::soloIDChanged, &MonitorController::deckModeChanged,
                        &MonitorController::livePicturesChanged, &MonitorController::messageChanged,
                        &MonitorController::pairingRequestChanged, &MonitorController::heardWordsChanged,
                        &MonitorController::deckCopiesArrivingChanged, &MonitorController::liveCutOfferedChanged}) {
        connect(c, signal, this, &MonitorScreen::scheduleRefresh);
    }
}

void MonitorScreen::scheduleRefresh() {
    if (refreshScheduled_) return;
    refreshScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshScheduled_ = false;
        refresh();
    });
}

void MonitorScreen::refresh() {
    const auto s = state();
    refreshPictureArea(s);
    toolbar_->setVisible(showsTopBar(s));
    const auto& feeds = controller_->feeds();
    const std::optional<PeerId> single = feeds.size() == 1 ? std::optional<PeerId>(feeds.front()->id()) : std::nullopt;
    if (single != pillsFeed_) {
        pillsFeed_ = single;
        toolbar_->setSingleFeedPills(single ? makeSingleFeedPills(feeds.front()) : nullptr);
    }
    toolbar_->refresh(s, controller_->deckCopiesArriving());
    refreshBottom(s);
    refreshInspector();
    refreshPairingAlert();
    layoutLayers();
    orderTabs();
}

void MonitorScreen::orderTabs() {
    // Views made later (the tiles, the controls, the settings) would otherwise come in the order they were
    // made, wherever they lie.
    std::vector<QWidget*> order;
    auto add = [&](QWidget* root) {
        if (!root) return;
        if (root->focusPolicy() & Qt::TabFocus) order.push_back(root);
        for (auto* child : root->findChildren<QWidget*>())
            if (child->focusPolicy() & Qt::TabFocus) order.push_back(child);
    };
    for (ToolbarItem item : toolbarItems(state())) add(toolbar_->item(item));
    if (auto* grid = qobject_cast<FeedGrid*>(pictureView_.data())) {
        for (auto* tile : grid->tiles()) add(tile);
    } else {
        add(pictureView_);
    }
    add(transfers_);
    add(bottom_);
    add(inspector_);
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

// MARK: Layer 2: the picture area

void MonitorScreen::refreshPictureArea(const MonitorScreenState& s) {
    const auto kind = pictureAreaKind(s);
    const bool rebuild = !pictureBuilt_ || kind != pictureKind_ ||
                         (kind == PictureAreaKind::deckButtons && s.compact != pictureCompact_);
    if (rebuild) {
        delete pictureView_.data();
        pictureKind_ = kind;
        pictureCompact_ = s.compact;
        pictureBuilt_ = true;
        switch (kind) {
            case PictureAreaKind::nearbyCameras:
                pictureView_ = makeNearbyCamerasView();
                break;
            case PictureAreaKind::deckButtons:
                pictureView_ = makeDeckButtons(s.compact);
                break;
            case PictureAreaKind::feedGrid:
                pictureView_ = makeFeedGrid();
                break;
        }
        if (pictureView_) {
            pictureView_->setParent(pictureHost_);
            pictureHost_->layout()->addWidget(pictureView_);
            pictureView_->show();
        }
    }
    picturePadding_ = picturePadding(s);
    pictureHost_->layout()->setContentsMargins(picturePadding_);
}

// MARK: Layer 3: the bars

void MonitorScreen::buildBars() {
    MonitorToolbar::Actions actions;
    actions.exit = onExit_;
    actions.openSettings = [this] { setShowSettings(true); };
    actions.toggleDeck = [this] { controller_->setDeckMode(!controller_->deckMode()); };
    actions.openTakes = [this] { setShowTakes(true); };
    actions.toggleLivePictures = [this] { controller_->setLivePictures(!controller_->livePictures()); };
    actions.openNearbyDevices = [this] { setShowNetwork(true); };
    actions.openShootFolder = [this] { openShootFolder(); };
    actions.openCameras = [this] { setShowCameras(true); };
    toolbar_ = new MonitorToolbar(std::move(actions), this);
    toolbar_->setObjectName(QStringLiteral("topBar"));
    toolbar_->installEventFilter(this);

    bottom_ = new BarLayer(this);
    bottom_->setObjectName(QStringLiteral("barColumn"));
    bottom_->installEventFilter(this);
    bottomColumn_ = new QVBoxLayout(bottom_);
    bottomColumn_->setContentsMargins(0, 0, 0, 0);
    bottomColumn_->setSpacing(barSpacing);
    // The transfer rows keep a band of their own under the pictures: over a picture they would cross the
    // tiles' names and figures. The band is there while cameras are connected, whether or not they send.
    transfers_ = new QWidget(this);
    transfers_->setObjectName(QStringLiteral("transfers"));
    transfers_->setAttribute(Qt::WA_TranslucentBackground);
    transfers_->installEventFilter(this);
    auto* transferGrid = new QGridLayout(transfers_);
    transferGrid->setContentsMargins(0, 0, 0, 0);
    transferGrid->setSpacing(transferSpacing);
    // Heard words and messages come and go over the pictures; they take no room from them.
    messages_ = new BarLayer(this);
    messages_->setObjectName(QStringLiteral("messages"));
    // Nothing in it answers a click: clicks reach the pictures and bars under it.
    messages_->setAttribute(Qt::WA_TransparentForMouseEvents);
    messages_->installEventFilter(this);
    auto* messageColumn = new QVBoxLayout(messages_);
    messageColumn->setContentsMargins(0, 0, 0, 0);
    messageColumn->setSpacing(barSpacing);
    heard_ = new HeardLine(QString(), messages_);
    heard_->hide();
    messageColumn->addWidget(heard_, 0, Qt::AlignHCenter);
    const auto open = [this](const QUrl& url) { openURL_(url); };
    const auto dismiss = [this](std::uint64_t id) { controller_->dismissNotice(id); };
    passingNotices_ = new NoticeBand(open, dismiss, messages_);
    passingNotices_->hide();
    messageColumn->addWidget(passingNotices_);
    // The notices that stay until read answer clicks (their buttons and folders): a layer of their own.
    stayingNotices_ = new StayingNotices(open, dismiss, this);
    stayingNotices_->setObjectName(QStringLiteral("stayingNotices"));
    stayingNotices_->hide();
    stats_ = new SlotHolder(bottom_);
    bottomColumn_->addWidget(stats_);
    controls_ = new SlotHolder(bottom_);
    bottomColumn_->addWidget(controls_);
}

void MonitorScreen::refreshBottom(const MonitorScreenState& s) {
    // Transfer rows: one per camera while importing, in camera order, kept per camera.
    const auto& feeds = controller_->feeds();
    std::map<PeerId, QPointer<QWidget>> rows;
    if (s.importsFiles) {
        for (const auto& feed : feeds) {
            auto it = transferRows_.find(feed->id());
            if (it != transferRows_.end() && it->second) {
                rows[feed->id()] = it->second;
                transferRows_.erase(it);
            } else if (auto* row = makeTransferRow(feed)) {
                const bool hiddenByItself = hidesItself(*row);
                // Each camera's row keeps its place while it has nothing to send, so that a take on its way
                // moves neither the other rows nor the controls and pictures laid out around them.
                QSizePolicy policy = row->sizePolicy();
                policy.setRetainSizeWhenHidden(true);
                row->setSizePolicy(policy);
                row->setParent(transfers_);
                if (!hiddenByItself) row->show();
                rows[feed->id()] = row;
            }
        }
    }
    for (auto& [id, row] : transferRows_) delete row.data();
    transferRows_ = std::move(rows);
    transferColumns_ = 0;  // placed again in camera order by the next layout
    transfers_->setVisible(!transferRows_.empty());

    const auto& heard = controller_->heardWords();
    heard_->setVisible(heard.has_value());
    if (heard) heard_->setText(QString::fromStdString(*heard));
    std::vector<NoticeBoard::Shown> staying, passing;
    for (const auto& notice : controller_->notices()) (notice.stays ? staying : passing).push_back(notice);
    stayingNotices_->setNotices(staying);
    passingNotices_->setNotices(passing);
    passingNotices_->setVisible(!passing.empty());

    const std::optional<PeerId> statsFeed =
        showsFeedStats(s) ? std::optional<PeerId>(feeds.front()->id()) : std::nullopt;
    if (statsFeed != statsFeed_) {
        statsFeed_ = statsFeed;
        static_cast<SlotHolder*>(stats_.data())->put(statsFeed ? makeFeedStats(feeds.front()) : nullptr);
    }

    const auto kind = controlsKind(s);
    const auto selected = controller_->selectedFeed();
    const std::optional<PeerId> controlsFeed =
        kind == ControlsKind::selectedFeedControls ? std::optional<PeerId>(selected->id()) : std::nullopt;
    if (kind != controlsKind_ || controlsFeed != controlsFeed_) {
        controlsKind_ = kind;
        controlsFeed_ = controlsFeed;
        QWidget* view = nullptr;
        if (kind == ControlsKind::deckControls) {
            view = makeDeckControls();
        } else if (kind == ControlsKind::selectedFeedControls) {
            // The gallery opened from these controls is the one of the camera selected when they were built.
            const std::weak_ptr<CameraFeed> weakFeed = selected;
            view = makeSelectedFeedControls(
                selected,
                [this, weakFeed] {
                    if (auto feed = weakFeed.lock()) setGalleryFeed(feed);
                },
                [this] { setShowCameraSettings(true); });
        }
        // A panel made for another camera (a cut selects the camera cut to) starts in the state the window has
        // room for: settled there only once shown, it would swap its face and fade the record button in.
        if (auto* made = qobject_cast<SelectedFeedControls*>(view); made && made->captureControls())
            made->setRoomForExpanded(roomForExpanded(*made->captureControls()));
        static_cast<SlotHolder*>(controls_.data())->put(view);
    }
}

BottomInput MonitorScreen::bottomInput(int contentWidth) const {
    const auto s = state();
    BottomInput in;
    in.content = QSize(contentWidth, height());
    in.padding = picturePadding_;
    for (const auto& [id, row] : transferRows_) {
        if (!row) continue;
        ++in.transferRows;
        in.transferRowHeight = row->sizeHint().height();
    }
    in.kind = pictureBuilt_ ? pictureKind_ : PictureAreaKind::nearbyCameras;
    in.tiles = s.visibleFeeds;
    in.deckMode = s.deckMode;
    in.showsChrome = s.feeds >= 2;
    if (in.kind == PictureAreaKind::deckButtons && pictureView_) in.buttonsHeight = pictureView_->sizeHint().height();
    return in;
}

int MonitorScreen::contentWidth() const {
    const int inspectorWidth = showCameraSettings_ ? settingsColumnWidth(width()) : 0;
    return std::max(0, width() - inspectorWidth);
}

int MonitorScreen::figuresColumnWidth() const {
    return std::min(columnFiguresWidth, std::max(0, contentWidth() - 2 * barPadding));
}

QSize MonitorScreen::barColumn(std::optional<QSize> controls) const {
    QSize column;
    if (!stats_->isHidden()) column = QSize(figuresColumnWidth(), stats_->sizeHint().height());
    if (controls && !controls->isEmpty())
        column = column.isEmpty() ? *controls
                                  : QSize(std::max(column.width(), controls->width()),
                                          column.height() + barSpacing + controls->height());
    return column;
}

bool MonitorScreen::roomForExpanded(const CaptureControls& panel) const {
    BottomInput in = bottomInput(contentWidth());
    in.topBarBottom = toolbar_->isHidden() ? 0 : toolbar_->geometry().bottom() + 1;
    in.column = in.expandedColumn = barColumn(panel.sizeHintWhen(false));
    return layoutBottom(in).place != ColumnPlace::over;
}

void MonitorScreen::layoutLayers() {
    const int inspectorWidth = showCameraSettings_ ? settingsColumnWidth(width()) : 0;
    const int contentWidth = this->contentWidth();
    pictureHost_->setGeometry(0, 0, contentWidth, height());
    inspector_->setGeometry(contentWidth, 0, inspectorWidth, height());

    const int barWidth = std::max(0, contentWidth - 2 * barPadding);
    toolbar_->setGeometry(barPadding, barPadding, barWidth, toolbar_->sizeHint().height());

    // The bottom is laid out from the window, the cameras and the person's choices alone: the pictures'
    // overlays at their present size never count, so the layout cannot undo itself.
    BottomInput in = bottomInput(contentWidth);
    in.topBarBottom = toolbar_->isHidden() ? 0 : toolbar_->geometry().bottom() + 1;
    // The one camera's figures claim a fixed width, whatever they read.
    if (auto* figures = stats_ ? stats_->findChild<FeedStats*>() : nullptr) figures->fitWidth(figuresColumnWidth());
    auto* controls = selectedFeedControls();
    auto* panel = controls && !controls->isHidden() ? controls->captureControls() : nullptr;
    // Where the expanded panel has no room beside the pictures, it starts collapsed there.
    if (panel) controls->setRoomForExpanded(roomForExpanded(*panel));
    bottomColumn_->activate();
    in.column = barColumn(controls_->isHidden() ? std::nullopt : std::optional<QSize>(controls_->sizeHint()));
    if (panel) in.expandedColumn = barColumn(panel->sizeHintWhen(false));
    bottomLayout_ = layoutBottom(in);
    const BottomLayout& plan = bottomLayout_;

    pictureHost_->layout()->setContentsMargins(
        QMargins(picturePadding_.left(), picturePadding_.top(), picturePadding_.right(), plan.pictureBottom));
    pictureHost_->layout()->activate();
    placeTransferRows(plan.transferColumns);
    transfers_->setGeometry(plan.transfers);
    bottom_->setGeometry(plan.column);
    bottomColumn_->activate();
    messages_->layout()->activate();
    // The notices keep to their room (`placeNotices`): those that stay in a place of fixed width on its bottom,
    // the passing one above them, centred, as wide as it wants, as tall as that width makes it.
    const QRect room = plan.notices;
    const int messageWidth =
        std::min(room.width(), std::max(heard_->isHidden() ? 0 : heard_->sizeHint().width(),
                                        passingNotices_->isHidden() ? 0 : passingNotices_->widthWithin(room.width())));
    const bool passing = !heard_->isHidden() || !passingNotices_->isHidden();
    NoticeInput notices;
    notices.room = room;
    notices.roomAbove = plan.noticesAbove;
    notices.marks = tileMarks();
    notices.staying = static_cast<int>(stayingNotices_->notices().size());
    notices.cardHeight = stayingNotices_->cardHeight(stayingNoticeWidth(room.width()));
    notices.barHeight = stayingNotices_->barHeight();
    notices.passingHeight = passing ? messages_->heightForWidth(messageWidth) : 0;
    notices.count = stayingNotices_->countSize();
    notices.spare = topBarSpare();
    const QRect passingSpare = morvane::passingSpare(notices.spare, notices.count, notices.staying);
    const int spareMessageWidth =
        std::min(passingSpare.width(),
                 std::max(heard_->isHidden() ? 0 : heard_->sizeHint().width(),
                          passingNotices_->isHidden() ? 0 : passingNotices_->widthWithin(passingSpare.width())));
    notices.passingSpareHeight = passing && spareMessageWidth > 0 ? messages_->heightForWidth(spareMessageWidth) : 0;
    noticePlan_ = placeNotices(notices);
    const QRect passingRoom = noticePlan_.passing;
    const bool inSpare = !passingRoom.isEmpty() && passingRoom == passingSpare && passingRoom != room;
    const int passingWidth = inSpare ? spareMessageWidth : messageWidth;
    const int messageHeight = inSpare ? notices.passingSpareHeight : notices.passingHeight;
    messages_->setGeometry(passingRoom.left() + (passingRoom.width() - passingWidth) / 2,
                           passingRoom.bottom() + 1 - messageHeight, passingWidth, messageHeight);
    messages_->setVisible(passing && !passingRoom.isEmpty() && messageHeight <= passingRoom.height());
    stayingNotices_->setPart(noticePlan_.staying);
    stayingNotices_->setGeometry(noticePlan_.stayingPlace);
    stayingNotices_->setVisible(noticePlan_.staying != NoticePlan::Staying::none);
    if (auto* grid = qobject_cast<FeedGrid*>(pictureView_.data()))
        grid->setKeepOut(plan.keepOut.translated(-grid->mapTo(this, QPoint(0, 0))));

    toolbar_->raise();
    transfers_->raise();
    bottom_->raise();
    // A passing notice with no room above those that stay lies over them for its time; it takes no clicks.
    stayingNotices_->raise();
    messages_->raise();
    inspector_->raise();
    backdrop_->setGeometry(rect());
    backdrop_->raise();
    updateBarMasks();
}

QRect MonitorScreen::topBarSpare() const {
    // Between the top bar's first item and the rest, a spacing clear of each.
    if (toolbar_->isHidden()) return {};
    toolbar_->layout()->activate();
    const auto shown = toolbar_->shownItems();
    if (shown.empty()) return {};
    constexpr int gap = 12;
    const QWidget* first = toolbar_->item(shown.front());
    int left = first ? first->geometry().right() + 1 + gap : gap;
    int right = toolbar_->width() - gap;
    for (std::size_t i = 1; i < shown.size(); ++i)
        if (const QWidget* item = toolbar_->item(shown[i]); item && item->isVisible())
            right = std::min(right, item->geometry().left() - gap);
    if (right <= left) return {};
    return QRect(left, 0, right - left, toolbar_->height()).translated(toolbar_->pos());
}

std::vector<QRect> MonitorScreen::tileMarks() {
    std::vector<QRect> marks;
    auto* grid = qobject_cast<FeedGrid*>(pictureView_.data());
    if (!grid) return marks;
    for (auto* tile : grid->tiles()) {
        if (!tile->isVisible()) continue;
        if (tile->onAirBadgeShown()) {
            const QRect badge = tile->onAirBadgeRect();
            marks.push_back(badge.translated(tile->mapTo(this, QPoint(0, 0))));
        }
        QWidget* mark = tile->noSoundMark();
        if (!mark->property(noticeMarkProperty).toBool()) {
            mark->setProperty(noticeMarkProperty, true);
            mark->installEventFilter(this);
        }
        if (!mark->isHidden()) marks.push_back(QRect(mark->mapTo(this, QPoint(0, 0)), mark->size()));
    }
    return marks;
}

void MonitorScreen::placeTransferRows(int columns) {
    if (columns == transferColumns_) return;
    transferColumns_ = columns;
    auto* grid = static_cast<QGridLayout*>(transfers_->layout());
    int index = 0;
    for (const auto& feed : controller_->feeds()) {
        auto it = transferRows_.find(feed->id());
        if (it == transferRows_.end() || !it->second) continue;
        grid->removeWidget(it->second);
        grid->addWidget(it->second, index / columns, index % columns);
        ++index;
    }
    for (int c = 0; c < grid->columnCount(); ++c) grid->setColumnStretch(c, c < columns ? 1 : 0);
    transfers_->layout()->activate();
}

SelectedFeedControls* MonitorScreen::selectedFeedControls() const {
    return controls_ ? controls_->findChild<SelectedFeedControls*>() : nullptr;
}

void MonitorScreen::updateBarMasks() {
    // Only the bars' own widgets take clicks; the picture shows and answers between them.
    for (QWidget* bar : {static_cast<QWidget*>(toolbar_), bottom_}) {
        const QRegion region = barRegion(*bar);
        if (region.isEmpty()) {
            bar->setMask(QRegion(0, 0, 1, 1));
        } else {
            bar->setMask(region);
        }
    }
}

// MARK: Presentations

void MonitorScreen::setShowSettings(bool value) {
    if (value == showSettings_) return;
    showSettings_ = value;
    if (value) {
        // The settings screen brings its own bar ("Settings", "Done").
        presentSheet(settingsSheet_, makeSettingsView(), QString(), false, [this] { setShowSettings(false); });
    } else {
        dismissSheet(settingsSheet_);
        // The settings screen may have switched importing on or off.
        scheduleRefresh();
    }
    emit presentationChanged();
}

void MonitorScreen::setShowCameras(bool value) {
    if (value == showCameras_) return;
    showCameras_ = value;
    if (value) {
        presentSheet(camerasSheet_, makeCamerasSheet(), QStringLiteral("Cameras"), true,
                     [this] { setShowCameras(false); });
    } else {
        dismissSheet(camerasSheet_);
    }
    emit presentationChanged();
}

void MonitorScreen::setGalleryFeed(FeedPtr feed) {
    if (feed == galleryFeed_) return;
    dismissSheet(gallerySheet_);
    galleryFeed_ = std::move(feed);
    if (galleryFeed_) {
        // The gallery brings its own bar ("Recent captures", "Select", "Done").
        presentSheet(gallerySheet_, makeGalleryView(galleryFeed_), QString(), false,
                     [this] { setGalleryFeed(nullptr); });
    }
    emit presentationChanged();
}

void MonitorScreen::setShowCameraSettings(bool value) {
    if (value == showCameraSettings_) return;
    showCameraSettings_ = value;
    refreshInspector();
    layoutLayers();
    orderTabs();
    emit presentationChanged();
}

void MonitorScreen::setShowNetwork(bool value) {
    if (value == showNetwork_) return;
    showNetwork_ = value;
    if (value) {
        presentSheet(networkSheet_, makeNetworkView(), nearbyDevicesLabel(), true, [this] { setShowNetwork(false); });
    } else {
        dismissSheet(networkSheet_);
    }
    emit presentationChanged();
}

void MonitorScreen::setShowTakes(bool value) {
    if (value == showTakes_) return;
    // The large sheet reports back through presentedChanged, which sets the flag.
    takesSheet_->setPresented(value);
}

QMessageBox* MonitorScreen::pairingAlert() const {
    return pairingAlert_.data();
}

void MonitorScreen::refreshPresentationLayers() {
    // The pairing alert dims the screen like a sheet: the question is the only thing to answer.
    backdrop_->setVisible(openSheet() != nullptr || pairingAlert_ != nullptr);
    // Over a sheet the alert dims that too.
    if (SheetDialog* sheet = openSheet()) sheet->setDimmed(pairingAlert_ != nullptr);
    inspectorEscape_->setEnabled(showCameraSettings_ && !showTakes_);
}

SheetDialog* MonitorScreen::openSheet() const {
    for (const auto& sheet : {gallerySheet_, settingsSheet_, networkSheet_, camerasSheet_})
        if (sheet) return sheet;
    return nullptr;
}

void MonitorScreen::presentSheet(QPointer<SheetDialog>& slot, QWidget* content, const QString& title, bool doneButton,
                                 std::function<void()> clear) {
    SheetDialog::Options options;
    options.title = title;
    options.doneButton = doneButton;
    slot = SheetDialog::present(this, content, options, std::move(clear));
}

void MonitorScreen::dismissSheet(QPointer<SheetDialog>& slot) {
    if (!slot) return;
    SheetDialog* sheet = slot;
    slot = nullptr;
    sheet->close();
}

void MonitorScreen::refreshInspector() {
    inspector_->setVisible(showCameraSettings_);
    const auto selected = controller_->selectedFeed();
    const std::optional<PeerId> feed =
        showCameraSettings_ && selected ? std::optional<PeerId>(selected->id()) : std::nullopt;
    if (feed == inspectorFeed_ && (inspectorContent_ || !feed)) return;
    inspectorFeed_ = feed;
    delete inspectorContent_.data();
    // With no camera selected the inspector stays empty.
    if (feed) inspectorContent_ = makeSelectedFeedSettings(selected);
    if (inspectorContent_) {
        inspectorContent_->setParent(inspector_);
        inspector_->layout()->addWidget(inspectorContent_);
        inspectorContent_->show();
    }
}

void MonitorScreen::refreshPairingAlert() {
    const auto& request = controller_->pairingRequest();
    if (!request) {
        if (pairingAlert_) {
            QMessageBox* alert = pairingAlert_;
            pairingAlert_ = nullptr;
            alert->hide();
            alert->deleteLater();
            refreshPresentationLayers();
        }
        return;
    }
    if (!pairingAlert_) {
        // Over an open sheet, the alert belongs to it: it then stands above the sheet and blocks it too.
        QWidget* over = openSheet();
        auto* alert = new QMessageBox(over ? over : window());
        alert->setWindowModality(Qt::WindowModal);
        alert->setIcon(QMessageBox::NoIcon);
        alert->setObjectName(QStringLiteral("pairingAlert"));
        alert->setStyleSheet(pairingAlertStyle());
        auto* accept = alert->addButton(QStringLiteral("Codes Match"), QMessageBox::AcceptRole);
        auto* cancel = alert->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        alert->setDefaultButton(accept);
        alert->setEscapeButton(cancel);
        // Both read the request from the controller; the alert closes when the controller clears it.
        connect(accept, &QPushButton::clicked, this, [this] { controller_->acceptPairing(); });
        connect(cancel, &QPushButton::clicked, this, [this] { controller_->cancelPairing(); });
        pairingAlert_ = alert;
    }
    pairingAlert_->setWindowTitle(pairingAlertTitle());
    pairingAlert_->setText(pairingAlertTitle());
    pairingAlert_->setInformativeText(pairingAlertMessage(*request));
    if (!pairingAlert_->isVisible()) pairingAlert_->open();
    refreshPresentationLayers();
}

// MARK: Shortcuts and actions

void MonitorScreen::buildShortcuts() {
    for (int n = 1; n <= cameraShortcutCount; ++n) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::Key_0 + n), this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setObjectName(cameraShortcutTitle(n));
        shortcut->setWhatsThis(cameraShortcutTitle(n));
        // Off the deck a key still answers: a cut that silently does nothing is lost from the program.
        connect(shortcut, &QShortcut::activated, this, [this, n] {
            if (!controller_->deckMode()) return controller_->showMessage(liveCutOffNotice().toStdString());
            controller_->putOnAirByIndex(n, presses_->pressMadeAt());
        });
        shortcuts_.push_back(shortcut);
    }
}

PressMoment MonitorScreen::pressMoment() const {
    return [presses = presses_] { return presses ? presses->pressMadeAt() : std::optional<Date>(); };
}

std::filesystem::path MonitorScreen::todaysShootFolder(const MonitorController& controller) {
    const auto& env = controller.environment();
    ShootLibrary& library = env.shootLibrary ? *env.shootLibrary : ShootLibrary::shared();
    return library.folderURL(env.now ? env.now() : Date::now());
}

void MonitorScreen::openShootFolder() {
    const auto folder = todaysShootFolder(*controller_);
    openURL_(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

}  // namespace morvane
