#include "camera_panels/countdown_overlay.h"

#include <QPainter>
#include <QPainterPath>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

CountdownOverlay::CountdownOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
}

void CountdownOverlay::setCountdown(std::optional<std::int64_t> countdown) {
    if (countdown == countdown_) return;
    countdown_ = countdown;
    update();
}

void CountdownOverlay::paintEvent(QPaintEvent*) {
    if (!countdown_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QString text = QString::number(*countdown_);
    const QFont f = theme::systemFont(140, QFont::Bold);
    // A soft black shadow: the figures drawn a few times, spread and faint, under the white ones.
    QPainterPath path;
    const QFontMetricsF metrics(f);
    const QPointF origin(width() / 2.0 - metrics.horizontalAdvance(text) / 2,
                         height() / 2.0 + (metrics.ascent() - metrics.descent()) / 2);
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
