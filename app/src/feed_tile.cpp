#include "app/feed_tile.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetricsF>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "app/camera_send.h"
#include "app/deck_bar.h"
#include "app/deck_rules.h"
#include "app/display_layer_view.h"
#include "app/feed_stats.h"
#include "app/histogram_view.h"
#include "app/round_icon_button.h"
#include "app/scope_view.h"
#include "app/single_feed_pills.h"
#include "camera_panels/activity_indicator.h"
#include "camera_panels/countdown_overlay.h"
#include "camera_panels/false_color_legend.h"
#include "camera_panels/flash_overlay.h"
#include "camera_panels/focus_square.h"
#include "camera_panels/framing_guides.h"
#include "camera_panels/loupe_view.h"
#include "camera_panels/pinch_to_zoom.h"
#include "camera_panels/stored_settings.h"
#include "platform/theme.h"
#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"
#include "remote/video_receiver.h"

namespace morvane {

using namespace theme;

namespace {

constexpr int readingsGap = 4;  // below the expand button

QFont badgeFont() {
    return theme::font(TextStyle::caption, QFont::Black);
}
const QString& badgeText() {
    static const QString text = QStringLiteral("ON AIR");
    return text;
}

/// The "ON AIR" capsule's size: the text padded 8 left and right, 5 above and below.
QSizeF badgeSize() {
    const QFontMetricsF metrics(badgeFont());
    return QSizeF(metrics.horizontalAdvance(badgeText()) + 16, metrics.height() + 10);
}

}  // namespace

/// "No sound" on an amber capsule, as the "ON AIR" badge is drawn; clicks pass through.
class FeedTile::SoundMark : public QWidget {
public:
    explicit SoundMark(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
        setAccessibleName(text());
    }
    static QString text() { return noSoundText(); }
    QSize sizeHint() const override {
        const QFontMetricsF metrics(badgeFont());
        return QSizeF(metrics.horizontalAdvance(text()) + 16, metrics.height() + 10).toSize();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        fillCapsule(p, QRectF(rect()), accentAmber());
        p.setFont(badgeFont());
        p.setPen(Qt::black);
        p.drawText(QRectF(rect()), Qt::AlignCenter, text());
    }
};

/// The border and the "ON AIR" badge; clicks pass through.
class FeedTile::Frame : public QWidget {
public:
    explicit Frame(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
    }

    void setValues(TileBorder border, bool badge) {
        if (border == border_ && badge == badge_) return;
        border_ = border;
        badge_ = badge;
        update();
    }
    TileBorder border() const { return border_; }
    bool badge() const { return badge_; }
    QRectF badgeRect() const { return badgeRect_; }
    void setBadgeRect(const QRectF& rect) {
        if (rect == badgeRect_) return;
        badgeRect_ = rect;
        if (badge_) update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        // Drawn directly: a picture of the whole tile would cost more to copy than the outline costs to draw.
        if (border_.kind == TileBorder::Kind::none && !badge_) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = rect();
        if (border_.kind != TileBorder::Kind::none) {
            const bool red = border_.kind != TileBorder::Kind::selected;
            p.setBrush(Qt::NoBrush);
            p.setPen(
                QPen(red ? theme::red() : theme::yellow(), border_.width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
            // Inside the edge for red; centred on it for the yellow outline (half of it is clipped away).
            const qreal inset = border_.insideEdge ? border_.width / 2 : 0;
            p.drawRect(r.adjusted(inset, inset, -inset, -inset));
        }
        if (badge_) {
            const QRectF badge = badgeRect_;
            fillCapsule(p, badge, theme::red());
            p.setFont(badgeFont());
            p.setPen(Qt::white);
            p.drawText(badge, Qt::AlignCenter, badgeText());
        }
    }

private:
    TileBorder border_;
    bool badge_ = false;
    QRectF badgeRect_;
};

FeedTile::FeedTile(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                   PressMoment pressMadeAt, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), feed_(std::move(feed)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAcceptDrops(true);
    setMouseTracking(false);

    picture_ = new DisplayLayerView(feed_->receiver(), this);
    // The tile takes the clicks itself, so that a click anywhere on it (overlays included) selects or focuses.
    picture_->setAttribute(Qt::WA_TransparentForMouseEvents);
    guides_ = new FramingGuides(this, controller_->environment().defaults);
    // "Grid" and "Level" switched in the camera settings panel show at once.
    connect(&StoredSettings::attachedTo(*controller_, *controller_->environment().defaults), &StoredSettings::changed,
            guides_, &FramingGuides::refresh);
    focus_ = new FocusSquare(this);
    countdown_ = new CountdownOverlay(this);
    flash_ = new FlashOverlay(this);

    noPicture_ = new QWidget(this);
    noPicture_->setAttribute(Qt::WA_TransparentForMouseEvents);
    {
        auto* column = new QVBoxLayout(noPicture_);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(6);
        noPictureSpinner_ = new ActivityIndicator(noPicture_, white(0.8));
        noPictureLabel_ = new QLabel(noPictureText(feed_->name()), noPicture_);
        noPictureLabel_->setFont(theme::font(TextStyle::caption));
        setTextColor(*noPictureLabel_, white(0.8));
        column->addWidget(noPictureSpinner_, 0, Qt::AlignHCenter);
        column->addWidget(noPictureLabel_, 0, Qt::AlignHCenter);
    }

    noSound_ = new SoundMark(this);
    noSound_->setVisible(feed_->noSound());

    chrome_ = new QWidget(this);
    chrome_->setAttribute(Qt::WA_TranslucentBackground);
    {
        auto* column = new QVBoxLayout(chrome_);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(4);
        pills_ = new SingleFeedPills(controller_, feed_, chrome_);
        stats_ = new FeedStats(feed_, controller_->takesCaptures(), chrome_);
        column->addWidget(pills_, 0, Qt::AlignLeft);
        column->addWidget(stats_, 0, Qt::AlignLeft);
        column->setSizeConstraint(QLayout::SetFixedSize);
    }

    expand_ = new RoundIconButton(
        "arrow.up.left.and.arrow.down.right", QStringLiteral("Expand"), [this] { expandOrCollapse(); }, this);

    readingsColumn_ = new QWidget(this);
    readingsColumn_->setAttribute(Qt::WA_TranslucentBackground);
    std::weak_ptr<MonitorController> weakController = controller_;
    std::weak_ptr<CameraFeed> weakFeed = feed_;
    loupe_ = new LoupeView(
        loupeSide(false),
        [weakController, weakFeed] {
            auto controller = weakController.lock();
            auto feed = weakFeed.lock();
            if (!controller || !feed || !feed->status()) return;
            sendToCamera(*controller, feed->id(), CameraCommand::SetLoupe{true, nextLoupeContours(*feed->status())});
        },
        readingsColumn_);
    legend_ = new FalseColorLegend(readingsColumn_);
    scope_ = new ScopeView(readingsColumn_);
    scope_->resize(scopeReadingSize.toSize());
    histogram_ = new HistogramView(readingsColumn_);
    histogram_->resize(histogramReadingSize.toSize());

    frame_ = new Frame(this);
    deckBar_ = new DeckBar(
        1, feed_->name(), false,
        [weakController, weakFeed, pressMadeAt = std::move(pressMadeAt)] {
            auto controller = weakController.lock();
            auto feed = weakFeed.lock();
            if (controller && feed) controller->putOnAir(*feed, pressMadeAt ? pressMadeAt() : std::nullopt);
        },
        this);

    pinch_ = new PinchToZoom(this, [weakController, weakFeed](const CameraCommand& command) {
        auto controller = weakController.lock();
        auto feed = weakFeed.lock();
        if (controller && feed) sendToCamera(*controller, feed->id(), command);
    });

    MonitorController* c = controller_.get();
    for (auto signal :
         {&MonitorController::feedsChanged, &MonitorController::soloIDChanged, &MonitorController::programIDChanged,
          &MonitorController::deckModeChanged, &MonitorController::selectedIDChanged})
        connect(c, signal, this, &FeedTile::refresh);
    connect(c, &MonitorController::showHistogramChanged, this, &FeedTile::refreshReadings);
    CameraFeed* f = feed_.get();
    connect(f, &CameraFeed::statusChanged, this, &FeedTile::refreshStatus);
    connect(f, &CameraFeed::shutterCountChanged, this, [this] { flash_->setTrigger(feed_->shutterCount()); });
    connect(f, &CameraFeed::noPictureChanged, this, &FeedTile::refreshNotice);
    connect(f, &CameraFeed::reconnectingChanged, this, &FeedTile::refreshNotice);
    connect(f, &CameraFeed::noSoundChanged, this, [this] {
        noSound_->setVisible(feed_->noSound());
        layoutLayers();
    });
    connect(f, &CameraFeed::pictureSizeChanged, this, &FeedTile::refreshGuides);
    // The live readings redraw the guides and the readings column alone.
    LiveReadings* live = &feed_->live();
    connect(live, &LiveReadings::rollChanged, this, &FeedTile::refreshGuides);
    for (auto signal : {&LiveReadings::loupeChanged, &LiveReadings::scopeChanged, &LiveReadings::histogramChanged})
        connect(live, signal, this, &FeedTile::refreshReadings);

    flash_->setTrigger(feed_->shutterCount());
    refreshNotice();
    // Figures that grow push the readings aside at once (see `layoutLayers`).
    chrome_->installEventFilter(this);
    refreshGuides();
    refreshStatus();
}

FeedTile::~FeedTile() = default;

void FeedTile::refreshNotice() {
    // Its form and place depend on the marks laid out around it.
    layoutLayers();
}

void FeedTile::placeNotice() {
    const auto notice = tileNotice(feed_->reconnecting(), feed_->noPicture(), feed_->name());
    if (!notice) {
        noPicture_->hide();
        return;
    }
    // The whole notice, then its shorter line, then that line without the spinner.
    struct Form {
        QString text;
        bool spinner;
    };
    const QString shorter = shortTileNotice(feed_->reconnecting());
    std::vector<Form> forms{{*notice, true}};
    if (shorter != *notice) forms.push_back({shorter, true});
    forms.push_back({shorter, false});
    auto show = [&](const Form& form) {
        noPictureLabel_->setText(form.text);
        noPictureSpinner_->setVisible(form.spinner);
        noPicture_->layout()->activate();
        noPicture_->adjustSize();
        return QSizeF(noPicture_->size());
    };
    std::vector<QSizeF> sizes;
    for (const Form& form : forms) sizes.push_back(show(form));
    std::vector<QRectF> marks;
    for (QWidget* mark : {chrome_, static_cast<QWidget*>(expand_), readingsColumn_, static_cast<QWidget*>(noSound_),
                          static_cast<QWidget*>(deckBar_)})
        if (!mark->isHidden()) marks.push_back(QRectF(mark->geometry()));
    if (frame_->badge()) marks.push_back(frame_->badgeRect());
    if (!keepOut_.isEmpty()) marks.push_back(QRectF(keepOut_));
    const auto place = tileNoticePlace(size(), sizes, marks);
    if (!place) {
        noPicture_->hide();
        return;
    }
    show(forms[place->form]);
    noPicture_->setGeometry(place->place.toAlignedRect());
    noPicture_->show();
}

const std::optional<QPointF>& FeedTile::focusPoint() const {
    return focus_->point();
}
TileBorder FeedTile::border() const {
    return frame_->border();
}
QWidget* FeedTile::noSoundMark() const {
    return noSound_;
}

bool FeedTile::onAirBadgeShown() const {
    return frame_->badge();
}
QRect FeedTile::onAirBadgeRect() const {
    return frame_->badgeRect().toAlignedRect();
}

void FeedTile::setKeepOut(const QRect& rect) {
    if (rect == keepOut_) return;
    keepOut_ = rect;
    layoutLayers();
}

void FeedTile::setPlacement(bool isSelected, bool showsChrome) {
    if (isSelected == isSelected_ && showsChrome == showsChrome_) return;
    isSelected_ = isSelected;
    showsChrome_ = showsChrome;
    refresh();
}

bool FeedTile::isOnAir() const {
    return controller_->programID() == feed_->id();
}

void FeedTile::refreshStatus() {
    const auto& status = feed_->status();
    countdown_->setCountdown(status ? status->countdown : std::nullopt);
    pinch_->setStatus(status);
    refresh();
}

void FeedTile::refresh() {
    const auto& status = feed_->status();
    const bool deck = controller_->deckMode();
    frame_->setValues(tileBorder(deck, isOnAir(), status && status->isRecording, isSelected_, showsChrome_), isOnAir());
    chrome_->setVisible(showsChrome_);
    if (auto face = expandButtonFace(showsChrome_, controller_->soloID().has_value())) {
        expand_->setSystemImage(face->symbol.toStdString());
        expand_->setLabel(face->label);
        expand_->show();
    } else {
        expand_->hide();
    }
    deckBar_->setVisible(deck);
    if (deck) deckBar_->setValues(controller_->cameraNumber(feed_->id()), feed_->name(), isOnAir());
    refreshReadings();
}

void FeedTile::refreshReadings() {
    const auto& status = feed_->status();
    const auto& live = feed_->live();
    readings_ =
        tileReadings(status, live.scope().has_value(), controller_->showHistogram(), live.histogram().has_value());
    // Which of them show is the layout's (`fitReadings`).
    if (readings_.loupe) {
        loupe_->setImage(live.loupe());
        loupe_->setContours(status->loupeContours);
    }
    if (readings_.scope) scope_->setScope(live.scope());
    if (readings_.histogram) histogram_->setBins(*live.histogram());
    layoutLayers();
}

void FeedTile::refreshGuides() {
    guides_->setPictureSize(feed_->pictureSize());
    guides_->setRoll(feed_->live().roll());
    guides_->refresh();
}

void FeedTile::resizeEvent(QResizeEvent*) {
    layoutLayers();
}

bool FeedTile::eventFilter(QObject* watched, QEvent* event) {
    if (watched == chrome_ && event->type() == QEvent::Resize && !layingOut_) layoutLayers();
    return QWidget::eventFilter(watched, event);
}

void FeedTile::layoutLayers() {
    layingOut_ = true;
    const QRect all = rect();
    for (QWidget* layer :
         {picture_, static_cast<QWidget*>(guides_), static_cast<QWidget*>(focus_), static_cast<QWidget*>(countdown_),
          static_cast<QWidget*>(flash_), static_cast<QWidget*>(frame_)})
        layer->setGeometry(all);
    const bool deck = controller_->deckMode();

    const int top = qRound(chromeTopInset(deck));
    const QSize button = expand_->sizeHint();
    expand_->setGeometry(width() - 8 - button.width(), top, button.width(), button.height());
    // The camera's pills and figures keep to the room beside the expand button: the name is cut, the rest
    // goes by priority (`fitPills`, `fitFigures`).
    const int chromeRoom = (expand_->isHidden() ? width() - 8 : expand_->x() - qRound(readingsSpacing)) - 8;
    pills_->fitWidth(chromeRoom);
    stats_->fitWidth(chromeRoom);
    chrome_->adjustSize();
    chrome_->move(8, top);

    // "No sound" stands where the badge stands, after it while the camera is on air.
    const bool silent = !noSound_->isHidden();
    const QSizeF mark = silent ? QSizeF(noSound_->sizeHint()) : QSizeF();
    QSizeF marks = badgeSize();
    if (silent)
        marks = QSizeF((frame_->badge() ? marks.width() + badgeClearance : 0) + mark.width(),
                       std::max(marks.height(), mark.height()));
    QRectF badge = onAirBadgePlace(size(), marks, deck, showsChrome_,
                                   chrome_->isHidden() ? 0 : chrome_->x() + pills_->geometry().right() + 1,
                                   expand_->isHidden() ? width() : expand_->x());
    // Under the bars over the tile the badge would not show: it stands above them, in the tile's lower half.
    if (!keepOut_.isEmpty() && badge.toAlignedRect().intersects(keepOut_) &&
        keepOut_.top() - badgeTopInset - badge.height() >= height() / 2)
        badge.moveBottom(keepOut_.top() - badgeTopInset);
    if (silent) {
        QRectF place(QPointF(badge.right() - mark.width(), badge.top()), mark);
        // The deck bar covers the tile's top, where the badge stands: the mark stands in the lower left corner,
        // above the bars over the tile where they reach it.
        if (deck) {
            place.moveTopLeft(QPointF(badgeTopInset, height() - badgeTopInset - mark.height()));
            if (!keepOut_.isEmpty() && place.toAlignedRect().intersects(keepOut_) &&
                keepOut_.top() - badgeTopInset - place.height() >= DeckBar::barHeight)
                place.moveBottom(keepOut_.top() - badgeTopInset);
        }
        noSound_->setGeometry(place.toAlignedRect());
        badge.setSize(badgeSize());
    }
    frame_->setBadgeRect(badge);

    // The readings column: trailing-aligned, top to bottom, below the expand button, beside the figures or
    // below them, whichever shows more of it; what does not fit shrinks or goes (`fitReadings`), so that the
    // column never covers the figures' text nor runs off the tile.
    const auto insets = readingsInsets(showsChrome_, deck);
    int readingsTop = qRound(insets.top);
    if (!expand_->isHidden()) readingsTop = std::max(readingsTop, expand_->geometry().bottom() + 1 + readingsGap);
    const int trailing = qRound(insets.trailing);
    const int chromeRight = chrome_->isHidden() ? 0 : chrome_->geometry().right() + 1;
    const int belowChrome = chrome_->isHidden() ? 0 : chrome_->geometry().bottom() + 1 + qRound(readingsSpacing);
    const bool badgeBelow = frame_->badge() && badge.top() > height() / 2;
    const int badgeRight = badgeBelow ? qCeil(badge.right()) + qRound(readingsSpacing) : 0;
    const qreal loupe = loupeSide(showsChrome_);
    ReadingsFit fit{readings_, 1};
    auto keyForm = FalseColorLegend::Form::column;
    // A tile not shown yet has no size of its own to fit; it is laid out again when shown.
    if (isVisible()) {
        auto count = [](const TileReadings& r) {
            return int(r.loupe) + int(r.legend) + int(r.scope) + int(r.histogram);
        };
        // Each room is tried: beside the figures, below them, and beside the bars over the tile; the one that
        // shows most wins, at the larger scale.
        auto fitBest = [&](QSizeF legend, int& chosenTop) {
            ReadingsFit best{readings_, 1};
            bool chosen = false;
            auto consider = [&](int roomLeft, int roomTop) {
                // The badge in the lower corner limits only the rooms that reach over it.
                int roomBottom =
                    (badgeBelow && roomLeft < badgeRight ? qFloor(badge.top()) : height()) - qRound(readingsSpacing);
                const bool underBars = !keepOut_.isEmpty() && keepOut_.right() + qRound(readingsSpacing) >= roomLeft &&
                                       keepOut_.left() - qRound(readingsSpacing) <= width() - trailing &&
                                       keepOut_.bottom() >= roomTop;
                if (underBars) roomBottom = std::min(roomBottom, keepOut_.top() - qRound(readingsSpacing));
                const auto candidate =
                    fitReadings(readings_, QSizeF(width() - trailing - roomLeft, roomBottom - roomTop), loupe, legend);
                const bool better = !chosen || count(candidate.shown) > count(best.shown) ||
                                    (count(candidate.shown) == count(best.shown) && candidate.scale > best.scale);
                if (!better) return;
                chosen = true;
                best = candidate;
                chosenTop = roomTop;
            };
            consider(chromeRight + qRound(readingsSpacing), readingsTop);
            consider(8, std::max(readingsTop, belowChrome));
            if (badgeBelow) consider(badgeRight, std::max(readingsTop, belowChrome));
            if (!keepOut_.isEmpty()) {
                const int besideBars = keepOut_.right() + 1 + qRound(readingsSpacing);
                consider(besideBars, besideBars < chromeRight + qRound(readingsSpacing)
                                         ? std::max(readingsTop, belowChrome)
                                         : readingsTop);
            }
            return best;
        };
        int top = readingsTop;
        using Form = FalseColorLegend::Form;
        for (Form form : {Form::column, Form::twoColumns, Form::swatches}) {
            // Where the full key has no room, a smaller form keeps false colour readable.
            int formTop = readingsTop;
            const auto candidate =
                fitBest(readings_.legend ? QSizeF(FalseColorLegend::sizeFor(form)) : QSizeF(), formTop);
            if (form == Form::column || candidate.shown.legend) {
                fit = candidate;
                top = formTop;
                keyForm = form;
            }
            if (!readings_.legend || fit.shown.legend) break;
        }
        readingsTop = top;
    }
    legend_->setForm(keyForm);
    const qreal scale = fit.scale;
    loupe_->setVisible(fit.shown.loupe);
    legend_->setVisible(fit.shown.legend);
    scope_->setVisible(fit.shown.scope);
    histogram_->setVisible(fit.shown.histogram);
    if (fit.shown.loupe) loupe_->setLoupeSize(loupeSideAt(loupe, scale));
    scope_->resize(QSize(qRound(scopeReadingSize.width() * scale), qRound(scopeReadingSize.height() * scale)));
    histogram_->resize(
        QSize(qRound(histogramReadingSize.width() * scale), qRound(histogramReadingSize.height() * scale)));
    int columnWidth = 0, y = 0;
    std::vector<QWidget*> shown;
    for (QWidget* item : {static_cast<QWidget*>(loupe_), static_cast<QWidget*>(legend_), static_cast<QWidget*>(scope_),
                          static_cast<QWidget*>(histogram_)})
        if (!item->isHidden()) shown.push_back(item);
    for (QWidget* item : shown) columnWidth = std::max(columnWidth, item->width());
    for (QWidget* item : shown) {
        item->move(columnWidth - item->width(), y);
        y += item->height() + qRound(readingsSpacing);
    }
    const int columnHeight = std::max(y - qRound(readingsSpacing), 0);
    readingsColumn_->setGeometry(width() - trailing - columnWidth, readingsTop, columnWidth, columnHeight);
    deckBar_->setGeometry(0, 0, width(), DeckBar::barHeight);
    placeNotice();

    // Stacking order, bottom to top, as the layers are listed.
    for (QWidget* layer :
         {picture_, static_cast<QWidget*>(guides_), static_cast<QWidget*>(focus_), static_cast<QWidget*>(countdown_),
          static_cast<QWidget*>(flash_), noPicture_, chrome_, static_cast<QWidget*>(expand_), readingsColumn_,
          static_cast<QWidget*>(frame_), static_cast<QWidget*>(noSound_), static_cast<QWidget*>(deckBar_)})
        layer->raise();
    layingOut_ = false;
}

void FeedTile::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressedAt_ = event->position();
    event->accept();
}

void FeedTile::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressedAt_) return QWidget::mouseReleaseEvent(event);
    const QPointF at = event->position();
    const bool click = (at - *pressedAt_).manhattanLength() < 8 && rect().contains(at.toPoint());
    pressedAt_.reset();
    event->accept();
    if (click) clicked(at);
}

void FeedTile::clicked(QPointF location) {
    if (tileClick(isSelected_, showsChrome_) == TileClick::select) {
        controller_->setSelectedID(feed_->id());
        return;
    }
    if (controller_->focusAt(location, *feed_)) focus_->setPoint(location);
}

void FeedTile::expandOrCollapse() {
    controller_->setSelectedID(feed_->id());
    controller_->setSoloID(controller_->soloID() ? std::nullopt : std::optional<PeerId>(feed_->id()));
    controller_->updateStreamQuality();
}

void FeedTile::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasText()) event->acceptProposedAction();
}

void FeedTile::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasText()) event->acceptProposedAction();
}

void FeedTile::dropEvent(QDropEvent* event) {
    const auto name = droppedCameraName(event->mimeData()->text());
    if (!name) {
        event->ignore();
        return;
    }
    controller_->moveCamera(*name, *feed_);
    event->acceptProposedAction();
}

}  // namespace morvane
