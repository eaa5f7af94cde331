#include "camera_panels/countdown_overlay.h"

#include <QPainter>
#include <QPainterPath>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

CountdownOverlay::CountdownOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    transition_.setDuration(300);
    transition_.setEasingCurve(QEasingCurve::OutCubic);
    transition_.setStartValue(0.0);
    transition_.setEndValue(1.0);
    connect(&transition_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        progress_ = v.toReal();
        update();
    });
}

void CountdownOverlay::setCountdown(std::optional<std::int64_t> countdown) {
    if (countdown == countdown_) return;
    // A number that follows another counts down: the old one rises and fades as the new one comes up.
    previous_ = countdown_ && countdown ? countdown_ : std::nullopt;
    countdown_ = countdown;
    transition_.stop();
    progress_ = previous_ ? 0.0 : 1.0;
    if (previous_) transition_.start();
    update();
}

void CountdownOverlay::paintEvent(QPaintEvent*) {
    if (!countdown_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal lift = 40;
    if (previous_ && progress_ < 1.0) {
        p.setOpacity(1.0 - progress_);
        paintNumber(p, *previous_, -lift * progress_);
    }
    p.setOpacity(previous_ ? progress_ : 1.0);
    paintNumber(p, *countdown_, previous_ ? lift * (1.0 - progress_) : 0.0);
}

void CountdownOverlay::paintNumber(QPainter& p, std::int64_t number, qreal offset) {
    const QString text = QString::number(number);
    const QFont f = theme::systemFont(140, QFont::Bold);
    // A soft black shadow: the figures drawn a few times, spread and faint, under the white ones.
    QPainterPath path;
    const QFontMetricsF metrics(f);
    const QPointF origin(width() / 2.0 - metrics.horizontalAdvance(text) / 2,
                         height() / 2.0 + (metrics.ascent() - metrics.descent()) / 2 + offset);
    path.addText(origin, f, text);
    for (int spread : {12, 8, 4}) {
        p.setPen(QPen(theme::black(0.33 / 3), spread, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(path);
}

}  // namespace morvane
