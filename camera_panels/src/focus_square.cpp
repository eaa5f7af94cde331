#include "camera_panels/focus_square.h"

#include <QPainter>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

FocusSquare::FocusSquare(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    hold_.setSingleShot(true);
    hold_.setInterval(holdMilliseconds);
    connect(&hold_, &QTimer::timeout, this, [this] { setPoint(std::nullopt); });
    fade_.setDuration(200);
    connect(&fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        opacity_ = v.toReal();
        update();
    });
}

void FocusSquare::setPoint(std::optional<QPointF> point) {
    if (point == point_) {
        if (point) hold_.start();
        return;
    }
    point_ = point;
    fade_.stop();
    if (point) {
        shownAt_ = *point;
        hold_.start();
        fade_.setStartValue(opacity_);
        fade_.setEndValue(1.0);
    } else {
        hold_.stop();
        fade_.setStartValue(opacity_);
        fade_.setEndValue(0.0);
    }
    fade_.start();
    update();
    emit pointChanged();
}

void FocusSquare::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(opacity_);
    p.setPen(QPen(theme::yellow(), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(shownAt_.x() - side / 2, shownAt_.y() - side / 2, side, side));
}

}  // namespace morvane
