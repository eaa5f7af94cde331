#include "camera_panels/activity_indicator.h"

#include <QPainter>

namespace morvane {

ActivityIndicator::ActivityIndicator(QWidget* parent, QColor tint, int side)
    : QWidget(parent), tint_(tint), side_(side) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(side, side);
    timer_.setInterval(90);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 8;
        update();
    });
}

void ActivityIndicator::showEvent(QShowEvent*) { timer_.start(); }
void ActivityIndicator::hideEvent(QHideEvent*) { timer_.stop(); }

void ActivityIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal r = side_ / 2.0;
    p.translate(r, r);
    for (int i = 0; i < 8; ++i) {
        QColor c = tint_;
        c.setAlphaF(tint_.alphaF() * (0.25 + 0.75 * ((8 + step_ - i) % 8 == 0 ? 1.0 : 1.0 - ((8 + step_ - i) % 8) / 8.0)));
        p.setPen(QPen(c, qMax(1.5, side_ / 10.0), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -r * 0.45), QPointF(0, -r * 0.9));
        p.rotate(45);
    }
}

}  // namespace morvane
