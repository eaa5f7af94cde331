#include "camera_panels/flash_overlay.h"

#include <QPainter>

namespace morvane {

FlashOverlay::FlashOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    fade_.setDuration(350);
    fade_.setEasingCurve(QEasingCurve::OutCubic);
    fade_.setStartValue(0.8);
    fade_.setEndValue(0.0);
    connect(&fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        opacity_ = v.toReal();
        update();
    });
}

void FlashOverlay::setTrigger(int trigger) {
    const bool first = !trigger_;
    if (trigger_ == trigger) return;
    trigger_ = trigger;
    if (first) return;
    fade_.stop();
    opacity_ = 0.8;
    fade_.start();
    update();
}

void FlashOverlay::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0) return;
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgbF(1, 1, 1, opacity_));
}

}  // namespace morvane
