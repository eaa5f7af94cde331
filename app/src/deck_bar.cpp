#include "app/deck_bar.h"

#include <QApplication>
#include <QDrag>
#include <QFontMetricsF>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include "app/deck_rules.h"
#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

using namespace theme;

DeckBar::DeckBar(int number, std::string name, bool onAir, std::function<void()> putOnAir, QWidget* parent)
    : QWidget(parent), number_(number), name_(std::move(name)), onAir_(onAir), putOnAir_(std::move(putOnAir)) {
    setFixedHeight(barHeight);
    setCursor(Qt::PointingHandCursor);
    updateAccessibility();
}

void DeckBar::setValues(int number, std::string name, bool onAir) {
    if (number == number_ && name == name_ && onAir == onAir_) return;
    number_ = number;
    name_ = std::move(name);
    onAir_ = onAir;
    updateAccessibility();
    cache_.invalidate();
    update();
}

void DeckBar::updateAccessibility() {
    setAccessibleName(deckBarAccessibilityLabel(name_, number_, onAir_));
    setAccessibleDescription(QString::fromUtf8(deckBarAccessibilityHint));
}

void DeckBar::paintEvent(QPaintEvent*) {
    cache_.paint(*this, [this](QPainter& p) { draw(p); });
}

void DeckBar::draw(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), onAir_ ? red() : black(0.6));
    qreal x = 12;
    const qreal h = height();
    const qreal handle = symbolPixelSize(pointSize(TextStyle::subheadline));
    drawSymbol(p, QRectF(x, (h - handle) / 2, handle, handle), "line.3.horizontal", Qt::white, handle);
    x += handle + 10;
    const QFont numberFont = monospacedDigits(theme::font(TextStyle::headline));
    p.setFont(numberFont);
    p.setPen(Qt::white);
    const QString number = QString::number(number_);
    const qreal numberWidth = QFontMetricsF(numberFont).horizontalAdvance(number);
    p.drawText(QRectF(x, 0, numberWidth + 1, h), Qt::AlignLeft | Qt::AlignVCenter, number);
    x += numberWidth + 10;

    const QString state = deckBarStateText(onAir_);
    const QFont stateFont = theme::font(TextStyle::caption, onAir_ ? QFont::Black : QFont::Medium);
    const qreal stateWidth = QFontMetricsF(stateFont).horizontalAdvance(state);
    const qreal right = width() - 12;
    p.setFont(stateFont);
    p.setPen(onAir_ ? QColor(Qt::white) : white(0.75));
    p.drawText(QRectF(right - stateWidth - 1, 0, stateWidth + 1, h), Qt::AlignRight | Qt::AlignVCenter, state);

    const auto fitted = fitOneLine(theme::font(TextStyle::subheadline, QFont::DemiBold), QString::fromStdString(name_),
                                   std::max<qreal>(right - stateWidth - 10 - x, 0), 1.0);
    p.setFont(fitted.font);
    p.setPen(Qt::white);
    p.drawText(QRectF(x, 0, right - stateWidth - 10 - x, h), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               fitted.text);
}

void DeckBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressedAt_ = event->position().toPoint();
    event->accept();
}

void DeckBar::mouseMoveEvent(QMouseEvent* event) {
    if (!pressedAt_ || !(event->buttons() & Qt::LeftButton)) return;
    if ((event->position().toPoint() - *pressedAt_).manhattanLength() < QApplication::startDragDistance()) return;
    pressedAt_.reset();
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(name_));
    drag->setMimeData(data);
    const QPixmap preview = dragPreview();
    drag->setPixmap(preview);
    drag->setHotSpot(QPoint(preview.width() / (2 * qRound(preview.devicePixelRatio())), preview.height() / 2));
    drag->exec(Qt::MoveAction | Qt::CopyAction);
}

void DeckBar::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressedAt_.has_value() && rect().contains(event->position().toPoint());
    pressedAt_.reset();
    event->accept();
    if (click && putOnAir_) putOnAir_();
}

QPixmap DeckBar::dragPreview() const {
    const QFont f = theme::font(TextStyle::headline);
    const QString text = QString::fromStdString(name_);
    const QFontMetricsF metrics(f);
    const QSizeF size(metrics.horizontalAdvance(text) + 20, metrics.height() + 20);
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap((size * ratio).toSize());
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    fillRoundedRect(p, QRectF(QPointF(0, 0), size), 10, ultraThinMaterial());
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(QPointF(0, 0), size), Qt::AlignCenter, text);
    return pixmap;
}

}  // namespace morvane
