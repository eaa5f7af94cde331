#include "camera_panels/shutter_button.h"

#include <QPainter>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

ShutterButton::ShutterButton(QWidget* parent) : QAbstractButton(parent) {
    setFixedSize(76, 76);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(accessibilityLabel(mode_, isRecording_, countingDown_));
}

void ShutterButton::setState(CaptureMode mode, bool isRecording, bool countingDown) {
    if (mode == mode_ && isRecording == isRecording_ && countingDown == countingDown_) return;
    mode_ = mode;
    isRecording_ = isRecording;
    countingDown_ = countingDown;
    setAccessibleName(accessibilityLabel(mode_, isRecording_, countingDown_));
    update();
}

ShutterButton::Mark ShutterButton::mark(CaptureMode mode, bool isRecording, bool countingDown) {
    if (isRecording) return Mark::stopSquare;
    if (countingDown) return Mark::cancelCross;
    return mode == CaptureMode::video ? Mark::videoDisc : Mark::photoDisc;
}

QString ShutterButton::accessibilityLabel(CaptureMode mode, bool isRecording, bool countingDown) {
    switch (mark(mode, isRecording, countingDown)) {
        case Mark::stopSquare: return QStringLiteral("Stop recording");
        case Mark::cancelCross: return QStringLiteral("Cancel timer");
        case Mark::videoDisc: return QStringLiteral("Record");
        case Mark::photoDisc: return QStringLiteral("Take photo");
    }
    return {};
}

void ShutterButton::setDrawingScale(qreal scale) {
    scale_ = scale;
    setFixedSize(qCeil(76 * scale_), qCeil(76 * scale_));
    update();
}

void ShutterButton::paintEvent(QPaintEvent*) {
    using namespace theme;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate((width() - 76 * scale_) / 2, (height() - 76 * scale_) / 2);
    p.scale(scale_, scale_);
    const QRectF bounds(0, 0, 76, 76);
    const QPointF centre = bounds.center();
    p.setPen(QPen(Qt::white, 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(bounds.adjusted(2, 2, -2, -2));
    if (isDown()) p.setOpacity(0.7);
    switch (mark()) {
        case Mark::stopSquare:
            fillRoundedRect(p, QRectF(centre.x() - 15, centre.y() - 15, 30, 30), 6, red());
            break;
        case Mark::cancelCross:
            drawSymbol(p, bounds, "xmark", Qt::white, symbolPixelSize(pointSize(TextStyle::title) + 4));
            break;
        case Mark::videoDisc:
        case Mark::photoDisc:
            p.setPen(Qt::NoPen);
            p.setBrush(mark() == Mark::videoDisc ? red() : QColor(Qt::white));
            p.drawEllipse(QRectF(centre.x() - 31, centre.y() - 31, 62, 62));
            break;
    }
}

bool ShutterButton::hitButton(const QPoint& pos) const {
    const qreal radius = 38.0 * scale_;
    const QPointF d = QPointF(pos) - QPointF(width() / 2.0, height() / 2.0);
    return d.x() * d.x() + d.y() * d.y() <= radius * radius;
}

}  // namespace morvane
