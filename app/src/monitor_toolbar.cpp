#include "app/monitor_toolbar.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

#include "app/feed_tile_rules.h"
#include "app/round_icon_button.h"
#include "app/single_feed_pills.h"
#include "camera_panels/close_button.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "remote/monitor_controller.h"

namespace morvane {

namespace {

constexpr qreal switchPaddingX = 12;
constexpr qreal switchPaddingY = 8;
constexpr qreal switchIconGap = 6;
constexpr int itemSpacing = 10;

QFont switchFont() {
    return theme::font(theme::TextStyle::headline);
}
qreal switchIconSize() {
    return symbolPixelSize(theme::pointSize(theme::TextStyle::headline));
}
const QString deckText = QStringLiteral("Deck");

}  // namespace

DeckSwitch::DeckSwitch(std::function<void()> toggle, QWidget* parent) : QWidget(parent), toggle_(std::move(toggle)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(deckSwitchAccessibilityLabel(false));
    setToolTip(deckSwitchAccessibilityLabel(false));
    setFixedSize(sizeHint());
}

void DeckSwitch::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    refreshFace();
}

void DeckSwitch::setOffered(bool offered) {
    if (offered == offered_) return;
    offered_ = offered;
    refreshFace();
}

void DeckSwitch::refreshFace() {
    setAccessibleName(deckSwitchAccessibilityLabel(on_, offered_));
    setToolTip(deckSwitchAccessibilityLabel(on_, offered_));
    update();
}

void DeckSwitch::setShowsWord(bool shows) {
    if (shows == showsWord_) return;
    showsWord_ = shows;
    setFixedSize(sizeHint());
    update();
}

qreal DeckSwitch::wordWidth() const {
    return switchIconGap + QFontMetricsF(switchFont()).horizontalAdvance(deckText);
}

QSize DeckSwitch::sizeHint() const {
    const QFontMetricsF m(switchFont());
    const qreal w = 2 * switchPaddingX + switchIconSize() + (showsWord_ ? wordWidth() : 0);
    const qreal h = 2 * switchPaddingY + std::max(m.height(), switchIconSize());
    return {qCeil(w), qCeil(h)};
}

void DeckSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const DeckSwitchFace face = deckSwitchFace(on_, offered_);
    theme::fillCapsule(painter, QRectF(rect()), face.fill);
    const QColor label = face.label;
    const qreal icon = switchIconSize();
    drawSymbol(painter, QRectF(switchPaddingX, (height() - icon) / 2, icon, icon), "rectangle.3.group", label, icon);
    if (showsWord_) {
        painter.setFont(switchFont());
        painter.setPen(label);
        const qreal textLeft = switchPaddingX + icon + switchIconGap;
        painter.drawText(QRectF(textLeft, 0, width() - textLeft - switchPaddingX, height()),
                         Qt::AlignVCenter | Qt::AlignLeft, deckText);
    }
    if (hasFocus()) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(theme::blue(), 2));
        painter.setBrush(Qt::NoBrush);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    }
}

void DeckSwitch::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && toggle_) toggle_();
}

void DeckSwitch::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Space || event->key() == Qt::Key_Return) && toggle_) {
        toggle_();
        return;
    }
    QWidget::keyPressEvent(event);
}

MonitorToolbar::MonitorToolbar(Actions actions, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(itemSpacing);

    add(ToolbarItem::close, new CloseButton(actions.exit, this));
    add(ToolbarItem::settings,
        new RoundIconButton("gearshape", QStringLiteral("Settings"), actions.openSettings, this));
    row_->addStretch(1);
    pillsHolder_ = new QWidget(this);
    auto* pillsLayout = new QHBoxLayout(pillsHolder_);
    pillsLayout->setContentsMargins(0, 0, 0, 0);
    add(ToolbarItem::singleFeedPills, pillsHolder_);
    deckSwitch_ = new DeckSwitch(actions.toggleDeck, this);
    add(ToolbarItem::deckSwitch, deckSwitch_);

    // The takes button carries its badge at the top-trailing corner, 4 points out.
    auto* takes = new QWidget(this);
    auto* takesButton = new RoundIconButton("film.stack", QStringLiteral("Takes"), actions.openTakes, takes);
    takesButton->move(0, 4);
    badge_ = new QLabel(takes);
    badge_->setFont(theme::font(theme::TextStyle::caption2, QFont::Bold));
    badge_->setAlignment(Qt::AlignCenter);
    badge_->setStyleSheet(
        QStringLiteral("QLabel { color: black; background: %1; border-radius: 8px; padding: 1px 5px; }")
            .arg(accentAmber().name()));
    badge_->hide();
    takes->setFixedSize(takesButton->width() + 4, takesButton->height() + 4);
    add(ToolbarItem::takes, takes);

    livePictures_ =
        new RoundIconButton(livePicturesSymbol(true), livePicturesLabel(true), actions.toggleLivePictures, this);
    add(ToolbarItem::livePictures, livePictures_);
    add(ToolbarItem::nearbyDevices, new RoundIconButton("antenna.radiowaves.left.and.right", nearbyDevicesLabel(),
                                                        actions.openNearbyDevices, this));
    add(ToolbarItem::openShootFolder,
        new RoundIconButton("folder", QStringLiteral("Open shoot folder"), actions.openShootFolder, this));
    add(ToolbarItem::cameras,
        new RoundIconButton("video.badge.plus", QStringLiteral("Cameras"), actions.openCameras, this));
}

void MonitorToolbar::add(ToolbarItem which, QWidget* widget) {
    items_[which] = widget;
    row_->addWidget(widget, 0, Qt::AlignVCenter);
    widget->hide();
}

void MonitorToolbar::refresh(const MonitorScreenState& state, int deckCopiesArriving) {
    shown_ = toolbarItems(state);
    for (auto& [which, widget] : items_) {
        if (!widget) continue;
        const bool shown = std::find(shown_.begin(), shown_.end(), which) != shown_.end();
        widget->setVisible(shown && (which != ToolbarItem::singleFeedPills || pills_));
    }
    deckSwitch_->setOn(state.deckMode);
    deckSwitch_->setOffered(state.liveCutOffered);
    livePictures_->setSystemImage(livePicturesSymbol(state.livePictures));
    livePictures_->setLabel(livePicturesLabel(state.livePictures));
    const QString badge = arrivingCopiesBadge(deckCopiesArriving);
    badge_->setText(badge);
    badge_->setVisible(!badge.isEmpty());
    if (!badge.isEmpty()) {
        badge_->adjustSize();
        const QWidget* takes = items_[ToolbarItem::takes];
        badge_->move(takes->width() - badge_->width(), 0);
        badge_->raise();
    }
    fitItems();
}

void MonitorToolbar::resizeEvent(QResizeEvent*) {
    fitItems();
}

void MonitorToolbar::fitItems() {
    qreal others = 0;
    int count = 0;
    for (auto which : shown_) {
        QWidget* widget = items_[which];
        if (which == ToolbarItem::singleFeedPills || !widget || widget->isHidden()) continue;
        others += widget == deckSwitch_ && !deckSwitch_->showsWord()
                      ? deckSwitch_->sizeHint().width() + deckSwitch_->wordWidth()
                      : widget->sizeHint().width();
        ++count;
    }
    auto* pills = qobject_cast<SingleFeedPills*>(pills_.data());
    const bool wantsPills =
        pills && std::find(shown_.begin(), shown_.end(), ToolbarItem::singleFeedPills) != shown_.end();
    // Spacing between the items, and room for the flexible space to stay one spacing wide.
    others += itemSpacing * (count + (wantsPills ? 1 : 0));
    const bool deckShown = !deckSwitch_->isHidden();
    const TopBarFit fit = fitTopBar(width(), others, deckShown ? deckSwitch_->wordWidth() : 0, wantsPills,
                                    pills ? pills->leastWidth() : leastNamePill);
    deckSwitch_->setShowsWord(fit.deckWord || !deckShown);
    if (pills) pills->fitWidth(qFloor(fit.pillsRoom));
    pillsHolder_->setVisible(wantsPills && fit.pills);
}

void MonitorToolbar::setSingleFeedPills(QWidget* pills) {
    if (pills_ == pills) return;
    delete pills_.data();
    pills_ = pills;
    if (pills_) {
        pills_->setParent(pillsHolder_);
        pillsHolder_->layout()->addWidget(pills_);
    }
    const bool shown = std::find(shown_.begin(), shown_.end(), ToolbarItem::singleFeedPills) != shown_.end();
    pillsHolder_->setVisible(shown && pills_);
    fitItems();
}

std::vector<ToolbarItem> MonitorToolbar::shownItems() const {
    std::vector<ToolbarItem> shown;
    for (auto which : shown_) {
        auto it = items_.find(which);
        if (it != items_.end() && it->second && !it->second->isHidden()) shown.push_back(which);
    }
    return shown;
}

QWidget* MonitorToolbar::item(ToolbarItem which) const {
    if (which == ToolbarItem::singleFeedPills) return pills_;
    auto it = items_.find(which);
    return it == items_.end() ? nullptr : it->second.data();
}

}  // namespace morvane
