#include "deck_ui/player/program_video_view.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "deck_ui/player/program_player.h"

namespace morvane {

ProgramVideoView::ProgramVideoView(ProgramPlayer& player, QWidget* parent) : QWidget(parent), player_(player) {
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAttribute(Qt::WA_OpaquePaintEvent, cornerRadius_ == 0);
    connect(&player_, &ProgramPlayer::pictureChanged, this, &ProgramVideoView::pictureChanged);
    pictureChanged();
}

void ProgramVideoView::pictureChanged() {
    QImage picture = player_.picture();
    if (!picture.isNull() || player_.hasItem()) shown_ = std::move(picture);
    update();
}

void ProgramVideoView::setCornerRadius(qreal radius) {
    cornerRadius_ = radius;
    setAttribute(Qt::WA_OpaquePaintEvent, cornerRadius_ == 0);
    update();
}

void ProgramVideoView::setAspectRatio(double ratio) {
    if (!std::isfinite(ratio) || ratio <= 0 || ratio == aspect_) return;
    aspect_ = ratio;
    updateGeometry();
}

void ProgramVideoView::setMaximumPictureHeight(int height) {
    if (height == maximumHeight_) return;
    maximumHeight_ = height;
    updateGeometry();
}

int ProgramVideoView::heightForWidth(int width) const {
    const int h = int(std::lround(width / aspect_));
    return maximumHeight_ > 0 ? std::min(h, maximumHeight_) : h;
}

QRect ProgramVideoView::pictureArea() const {
    QSizeF size(aspect_, 1);
    size.scale(QSizeF(this->size()), Qt::KeepAspectRatio);
    const QSize whole = size.toSize();
    return QRect(QPoint((width() - whole.width()) / 2, (height() - whole.height()) / 2), whole);
}

QSize ProgramVideoView::sizeHint() const {
    return {640, heightForWidth(640)};
}

void ProgramVideoView::resizeEvent(QResizeEvent* event) {
    // Pictures are made no larger than the view shows them.
    const qreal ratio = devicePixelRatioF();
    player_.setPictureLimit(QSize(int(width() * ratio), int(height() * ratio)));
    QWidget::resizeEvent(event);
}

void ProgramVideoView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRectF area(rect());
    if (cornerRadius_ > 0) {
        QPainterPath shape;
        shape.addRoundedRect(area, cornerRadius_, cornerRadius_);
        p.setClipPath(shape);
    }
    p.fillRect(area, Qt::black);
    const QImage& picture = shown_;
    if (picture.isNull()) return;
    QSizeF size = picture.size();
    size.scale(area.size(), Qt::KeepAspectRatio);
    p.drawImage(QRectF(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2, size.width(),
                       size.height()),
                picture);
}

}  // namespace morvane
