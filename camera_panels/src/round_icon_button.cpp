#include "camera_panels/round_icon_button.h"

#include <QFocusEvent>
#include <QPainter>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

namespace {

qreal glyphSize() { return symbolPixelSize(theme::pointSize(theme::TextStyle::headline)); }

}  // namespace

RoundIconButton::RoundIconButton(std::string systemImage, QString label, std::function<void()> action,
                                 QWidget* parent)
    : QAbstractButton(parent), systemImage_(std::move(systemImage)), action_(std::move(action)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setLabel(std::move(label));
    setFixedSize(sizeHint());
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) action_();
    });
}

void RoundIconButton::setSystemImage(std::string systemImage) {
    if (systemImage == systemImage_) return;
    systemImage_ = std::move(systemImage);
    update();
}

void RoundIconButton::setLabel(QString label) {
    label_ = std::move(label);
    setAccessibleName(label_);
    setToolTip(label_);
}

QSize RoundIconButton::sizeHint() const {
    const int side = qCeil(glyphSize() + 2 * padding);
    return {side, side};
}

void RoundIconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF circle = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = theme::ultraThinMaterial();
    if (hovered_) fill = fill.lighter(130);
    theme::fillCircle(painter, circle, fill);
    const QColor tint = isDown() ? theme::white(0.6) : theme::white(isEnabled() ? 1.0 : 0.35);
    drawSymbol(painter, circle, systemImage_, tint, glyphSize());
    if (hasFocus() && keyboardFocus_) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(theme::blue(), 2));
        painter.drawEllipse(circle.adjusted(1, 1, -1, -1));
    }
}

void RoundIconButton::focusInEvent(QFocusEvent* event) {
    // The ring marks keyboard focus only, not the first widget a window focuses by itself.
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}

void RoundIconButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void RoundIconButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace morvane
