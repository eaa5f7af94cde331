#include "remote/video_receiver_layer.h"

#include <QPainter>

namespace morvane {

QTransform VideoReceiverLayer::displayTransform() const {
    // Display coordinates → centred on its own middle → turned → placed at its position in the container,
    // whose origin sits at the frame's top-left corner in the host.
    QTransform t;
    t.translate(frame_.left() + displayPosition_.x(), frame_.top() + displayPosition_.y());
    t.rotate(90.0 * quarterTurns_);
    t.translate(-displaySize_.width() / 2, -displaySize_.height() / 2);
    return t;
}

QPointF VideoReceiverLayer::convertToDisplay(const QPointF& hostPoint) const {
    return displayTransform().inverted().map(hostPoint);
}

QRectF VideoReceiverLayer::aspectFitRect(const QSizeF& aspect) const {
    const double w = displaySize_.width();
    const double h = displaySize_.height();
    if (aspect.width() <= 0 || aspect.height() <= 0 || w <= 0 || h <= 0) return {};
    const double scale = std::min(w / aspect.width(), h / aspect.height());
    const double fitW = aspect.width() * scale;
    const double fitH = aspect.height() * scale;
    return QRectF((w - fitW) / 2, (h - fitH) / 2, fitW, fitH);
}

void VideoReceiverLayer::paint(QPainter& painter) const {
    painter.fillRect(frame_, Qt::black);
    if (picture_.isNull()) return;
    const QRectF target = aspectFitRect(QSizeF(picture_.size()));
    if (target.isEmpty()) return;
    painter.save();
    painter.setClipRect(frame_);
    painter.setTransform(displayTransform(), true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(target, picture_);
    painter.restore();
}

void VideoReceiverLayer::setGeometry(const QRectF& frame, const QSizeF& displaySize, const QPointF& displayPosition,
                                     int quarterTurns) {
    frame_ = frame;
    displaySize_ = displaySize;
    displayPosition_ = displayPosition;
    quarterTurns_ = quarterTurns & 3;
    emit changed();
}

void VideoReceiverLayer::setPicture(QImage picture) {
    picture_ = std::move(picture);
    emit changed();
}

void VideoReceiverLayer::clearPicture() {
    if (picture_.isNull()) return;
    picture_ = QImage();
    emit changed();
}

}  // namespace morvane
