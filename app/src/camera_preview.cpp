#include "app/camera_preview.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace morvane {

LUTPreviewLayout lutPreviewLayout(bool mirrored, const QRectF& bounds, double angleDegrees) {
    const double radians = angleDegrees * M_PI / 180.0;
    const bool sideways = std::abs(std::sin(radians)) > std::abs(std::cos(radians));
    const QSizeF size = sideways ? bounds.size().transposed() : bounds.size();
    const QPointF centre = bounds.center();
    LUTPreviewLayout layout;
    layout.frame = QRectF(centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height());
    QTransform t;
    t.translate(centre.x(), centre.y());
    t.rotate(angleDegrees);
    if (mirrored) t.scale(-1, 1);
    t.translate(-centre.x(), -centre.y());
    layout.transform = t;
    return layout;
}

bool previewAngleChanged(double current, double next) {
    if (std::isnan(current) || std::isnan(next)) return true;
    return current != next;
}

CameraPreview::CameraPreview(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    layoutPreview();
}

void CameraPreview::setMirrored(bool mirrored) {
    if (mirrored == mirrored_) return;
    mirrored_ = mirrored;
    layoutPreview();
}

void CameraPreview::setPreviewAngle(double degrees) {
    if (!previewAngleChanged(previewAngle_, degrees)) return;
    previewAngle_ = degrees;
    // Once, however many changes arrive before the next layout.
    if (layoutPending_) return;
    layoutPending_ = true;
    QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
}

bool CameraPreview::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        layoutPending_ = false;
        layoutPreview();
        return true;
    }
    return QWidget::event(event);
}

void CameraPreview::setPicture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void CameraPreview::setShowsLUT(bool shows) {
    showsLUT_ = shows;
    update();
}

void CameraPreview::layoutPreview() {
    ++layoutPasses_;
    layout_ = lutPreviewLayout(mirrored_, QRectF(rect()), previewAngle_);
    update();
}

void CameraPreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutPreview();
}

QRectF CameraPreview::fittedPicture() const {
    if (picture_.isNull() || layout_.frame.isEmpty()) return {};
    const QSizeF fitted = QSizeF(picture_.size()).scaled(layout_.frame.size(), Qt::KeepAspectRatio);
    const QPointF c = layout_.frame.center();
    return QRectF(c.x() - fitted.width() / 2, c.y() - fitted.height() / 2, fitted.width(), fitted.height());
}

QRectF CameraPreview::pictureRect() const { return layout_.transform.mapRect(fittedPicture()); }

std::optional<QPointF> CameraPreview::devicePoint(const QPointF& viewPoint) const {
    const QRectF picture = fittedPicture();
    if (picture.isEmpty()) return std::nullopt;
    if (!pictureRect().contains(viewPoint)) return std::nullopt;
    bool invertible = false;
    const QPointF p = layout_.transform.inverted(&invertible).map(viewPoint);
    if (!invertible) return std::nullopt;
    return QPointF(std::clamp((p.x() - picture.left()) / picture.width(), 0.0, 1.0),
                   std::clamp((p.y() - picture.top()) / picture.height(), 0.0, 1.0));
}

void CameraPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (picture_.isNull() || !showsLUT_) return;
    painter.setTransform(layout_.transform);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(fittedPicture(), picture_);
}

void CameraPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const auto point = devicePoint(event->position());
    if (point && onTap) onTap(event->position(), *point);
}

}  // namespace morvane
