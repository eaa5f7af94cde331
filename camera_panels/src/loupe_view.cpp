#include "camera_panels/loupe_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "camera_panels/activity_indicator.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "remote/monitor_controller.h"

namespace morvane {

using namespace theme;

LoupeView::LoupeView(qreal size, std::function<void()> toggleContours, QWidget* parent)
    : QWidget(parent), size_(size), toggle_(std::move(toggleContours)) {
    setFixedSize(sizeHint());
    setCursor(Qt::PointingHandCursor);
    spinner_ = new ActivityIndicator(this, Qt::white);
    spinner_->move((width() - spinner_->width()) / 2, (height() - spinner_->height()) / 2);
    updateAccessibility();
}

void LoupeView::setImage(const QImage& image) {
    image_ = image;
    spinner_->setVisible(image_.isNull());
    cache_.invalidate();
    update();
}

void LoupeView::setContours(bool contours) {
    if (contours == contours_) return;
    contours_ = contours;
    updateAccessibility();
    cache_.invalidate();
    update();
}

void LoupeView::setLoupeSize(qreal size) {
    if (size == size_) return;
    size_ = size;
    setFixedSize(sizeHint());
    spinner_->move((width() - spinner_->width()) / 2, (height() - spinner_->height()) / 2);
    cache_.invalidate();
    update();
}

QString LoupeView::labelText() const {
    return contours_ ? QStringLiteral("Contours") : QStringLiteral("Loupe");
}

void LoupeView::updateAccessibility() {
    setAccessibleName(QStringLiteral("Focus loupe"));
    setAccessibleDescription(contours_ ? QStringLiteral("Click to hide focus contours")
                                       : QStringLiteral("Click to show focus contours"));
}

void LoupeView::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void LoupeView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (rect().contains(event->position().toPoint()) && toggle_) toggle_();
}

void LoupeView::paintEvent(QPaintEvent*) {
    cache_.paint(*this, [this](QPainter& p) { draw(p); });
}

void LoupeView::draw(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds(0, 0, size_, size_);
    QPainterPath clip;
    clip.addRoundedRect(bounds, 12, 12);
    p.save();
    p.setClipPath(clip);
    p.fillRect(bounds, Qt::black);
    if (!image_.isNull()) {
        // Fill the square, cropping the longer side, aspect kept.
        const QSizeF scaled = QSizeF(image_.size()).scaled(bounds.size(), Qt::KeepAspectRatioByExpanding);
        p.drawImage(QRectF(bounds.center().x() - scaled.width() / 2, bounds.center().y() - scaled.height() / 2,
                           scaled.width(), scaled.height()),
                    image_);
    }
    p.restore();
    p.setPen(QPen(accentAmber(), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), 11, 11);

    const QFont labelFont = theme::font(TextStyle::caption2, QFont::DemiBold);
    const QFontMetricsF metrics(labelFont);
    const qreal iconSize = symbolPixelSize(pointSize(TextStyle::caption2));
    const QString text = labelText();
    const qreal w = 6 + iconSize + 3 + metrics.horizontalAdvance(text) + 6;
    const qreal h = metrics.height() + 6;
    const QRectF pill(6, size_ - 6 - h, w, h);
    fillCapsule(p, pill, black(0.55));
    drawSymbol(p, QRectF(pill.left() + 6, pill.top(), iconSize, h), "scope", Qt::white, iconSize);
    p.setFont(labelFont);
    p.setPen(Qt::white);
    p.drawText(QRectF(pill.left() + 6 + iconSize + 3, pill.top(), w, h), Qt::AlignLeft | Qt::AlignVCenter, text);
}

}  // namespace morvane
