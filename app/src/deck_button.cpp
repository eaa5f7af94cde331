#include "app/deck_button.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFontMetricsF>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include "app/deck_rules.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "remote/camera_feed.h"

namespace morvane {

using namespace theme;

namespace {
constexpr qreal padding = 16, spacing = 8;
}

DeckButton::DeckButton(int number, std::shared_ptr<CameraFeed> feed, bool onAir, qreal minHeight,
                       std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent), number_(number), feed_(std::move(feed)), onAir_(onAir), minHeight_(minHeight),
      action_(std::move(action)) {
    setAcceptDrops(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) action_();
    });
    connect(feed_.get(), &CameraFeed::statusChanged, this, qOverload<>(&QWidget::update));
    updateAccessibility();
}

void DeckButton::setValues(int number, bool onAir, qreal minHeight) {
    number_ = number;
    onAir_ = onAir;
    if (minHeight != minHeight_) {
        minHeight_ = minHeight;
        updateGeometry();
    }
    updateAccessibility();
    update();
}

void DeckButton::updateAccessibility() { setAccessibleName(deckButtonAccessibilityLabel(feed_->name(), onAir_)); }

bool DeckButton::showsRecording() const { return feed_->status() && feed_->status()->isRecording; }

QSize DeckButton::sizeHint() const {
    const qreal content = QFontMetricsF(theme::font(TextStyle::title2, QFont::Black)).height() + spacing +
                          QFontMetricsF(theme::font(TextStyle::title3, QFont::DemiBold)).height() + spacing +
                          QFontMetricsF(theme::font(TextStyle::caption)).height();
    return QSize(200, qCeil(std::max(minHeight_, content + 2 * padding)));
}

QSize DeckButton::minimumSizeHint() const { return QSize(10, sizeHint().height()); }

void DeckButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    fillRoundedRect(p, r, 18, onAir_ ? red() : white(isDown() ? 0.18 : 0.1));
    const QFont numberFont = monospacedDigits(theme::font(TextStyle::title2, QFont::Black));
    const QFont nameFont = theme::font(TextStyle::title3, QFont::DemiBold);
    const QFont stateFont = theme::font(TextStyle::caption, onAir_ ? QFont::Black : QFont::Normal);
    const qreal numberH = QFontMetricsF(numberFont).height(), nameH = QFontMetricsF(nameFont).height(),
                stateH = QFontMetricsF(stateFont).height();
    const qreal contentH = numberH + spacing + nameH + spacing + stateH;
    const QRectF inner = r.adjusted(padding, padding, -padding, -padding);
    qreal y = inner.top() + (inner.height() - contentH) / 2;

    p.setFont(numberFont);
    p.setPen(Qt::white);
    p.drawText(QRectF(inner.left(), y, inner.width(), numberH), Qt::AlignLeft | Qt::AlignVCenter,
               QString::number(number_));
    if (showsRecording()) {
        const QFont recFont = theme::font(TextStyle::caption, QFont::Bold);
        const QString rec = QStringLiteral("REC");
        const qreal textW = QFontMetricsF(recFont).horizontalAdvance(rec);
        const qreal icon = symbolPixelSize(pointSize(TextStyle::caption));
        const qreal x = inner.right() - textW;
        p.setFont(recFont);
        p.setPen(red());
        p.drawText(QRectF(x, y, textW + 1, numberH), Qt::AlignLeft | Qt::AlignVCenter, rec);
        drawSymbol(p, QRectF(x - 4 - icon, y + (numberH - icon) / 2, icon, icon), "record.circle",
                   onAir_ ? QColor(Qt::white) : red(), icon);
    }
    y += numberH + spacing;
    const auto fitted = fitOneLine(nameFont, QString::fromStdString(feed_->name()), inner.width(), 0.6);
    p.setFont(fitted.font);
    p.setPen(Qt::white);
    p.drawText(QRectF(inner.left(), y, inner.width(), nameH), Qt::AlignHCenter | Qt::AlignVCenter, fitted.text);
    y += nameH + spacing;
    p.setFont(stateFont);
    p.setPen(onAir_ ? QColor(Qt::white) : white(0.6));
    p.drawText(QRectF(inner.left(), y, inner.width(), stateH), Qt::AlignHCenter | Qt::AlignVCenter,
               deckButtonStateText(onAir_));
}

void DeckButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressedAt_ = event->position().toPoint();
    QAbstractButton::mousePressEvent(event);
}

void DeckButton::mouseMoveEvent(QMouseEvent* event) {
    if (!pressedAt_ || !(event->buttons() & Qt::LeftButton) ||
        (event->position().toPoint() - *pressedAt_).manhattanLength() < QApplication::startDragDistance())
        return QAbstractButton::mouseMoveEvent(event);
    pressedAt_.reset();
    setDown(false);
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(feed_->name()));
    drag->setMimeData(data);
    // The button itself is the preview.
    const QPixmap preview = grab();
    drag->setPixmap(preview.scaledToWidth(std::min(preview.width(), 240), Qt::SmoothTransformation));
    drag->exec(Qt::MoveAction | Qt::CopyAction);
}

void DeckButton::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasText()) event->acceptProposedAction();
}

void DeckButton::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasText()) event->acceptProposedAction();
}

void DeckButton::dropEvent(QDropEvent* event) {
    const auto name = droppedCameraName(event->mimeData()->text());
    if (!name) return event->ignore();
    if (onDrop_) onDrop_(*name);
    event->acceptProposedAction();
}

}  // namespace morvane
