#include "app/display_layer_view.h"

#include <QMouseEvent>
#include <QPainter>

#include "remote/video_receiver.h"

namespace morvane {

DisplayLayerView::DisplayLayerView(std::shared_ptr<VideoReceiver> receiver, QWidget* parent)
    : QWidget(parent), receiver_(std::move(receiver)) {
    // The layer paints every pixel (black around the picture): nothing beneath needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    if (receiver_) {
        connect(&receiver_->containerLayer(), &VideoReceiverLayer::changed, this, qOverload<>(&QWidget::update));
    }
}

DisplayLayerView::~DisplayLayerView() = default;

std::optional<QPointF> DisplayLayerView::picturePoint(const QPointF& point) const {
    if (!receiver_) return std::nullopt;
    return receiver_->devicePoint(point);
}

void DisplayLayerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!receiver_) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const auto& layer = receiver_->containerLayer();
    layer.paint(painter);
    if (layer.picture().isNull()) return;
    ++picturesDrawn_;
    if (layer.picture().cacheKey() != lastPicture_) {
        lastPicture_ = layer.picture().cacheKey();
        ++framesShown_;
    }
}

void DisplayLayerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (receiver_) receiver_->layout(QRectF(rect()));
}

void DisplayLayerView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit tapped(event->position());
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

}  // namespace morvane
