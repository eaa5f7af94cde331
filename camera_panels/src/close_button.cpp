#include "camera_panels/close_button.h"

#include <QFocusEvent>
#include <QPainter>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

namespace {

constexpr qreal padding = 12;

qreal glyphSize() { return symbolPixelSize(theme::pointSize(theme::TextStyle::headline)); }

}  // namespace

CloseButton::CloseButton(std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent), action_(std::move(action)) {
    setAccessibleName(tr("Close"));
    setToolTip(tr("Close"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFixedSize(sizeHint());
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) action_();
    });
}

QSize CloseButton::sizeHint() const {
    const int side = qCeil(glyphSize() + 2 * padding);
    return {side, side};
}

void CloseButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF circle = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = theme::ultraThinMaterial();
    if (hovered_) fill = fill.lighter(130);
    theme::fillCircle(painter, circle, fill);
    QColor tint = theme::white();
    if (isDown()) tint = theme::white(0.6);
    drawSymbol(painter, circle, "xmark", tint, glyphSize());
    if (hasFocus() && keyboardFocus_) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(theme::blue(), 2));
        painter.drawEllipse(circle.adjusted(1, 1, -1, -1));
    }
}

void CloseButton::focusInEvent(QFocusEvent* event) {
    // The ring marks keyboard focus only, not the first widget a window focuses by itself.
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}

void CloseButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CloseButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace morvane
