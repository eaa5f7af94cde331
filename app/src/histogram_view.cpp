#include "app/histogram_view.h"

#include <QPainter>

#include "platform/theme.h"

namespace morvane {

QPainterPath histogramPath(const std::vector<std::uint8_t>& bins, const QSizeF& canvas) {
    QPainterPath path;
    if (bins.empty()) return path;
    const qreal w = canvas.width(), h = canvas.height();
    const auto n = static_cast<qreal>(bins.size());
    path.moveTo(0, h);
    for (std::size_t i = 0; i < bins.size(); ++i) {
        const qreal y = h * (1.0 - bins[i] / 255.0);
        path.lineTo(static_cast<qreal>(i) * w / n, y);
        path.lineTo(static_cast<qreal>(i + 1) * w / n, y);
    }
    path.lineTo(w, h);
    path.closeSubpath();
    path.setFillRule(Qt::WindingFill);
    return path;
}

HistogramView::HistogramView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(QStringLiteral("Histogram"));
}

void HistogramView::setBins(std::vector<std::uint8_t> bins) {
    if (bins == bins_) return;
    bins_ = std::move(bins);
    cache_.invalidate();
    update();
}

void HistogramView::paintEvent(QPaintEvent*) {
    cache_.paint(*this, [this](QPainter& p) { draw(p); });
}

void HistogramView::draw(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    theme::fillRoundedRect(p, QRectF(rect()), 6, theme::black(0.45));
    const QRectF canvas = QRectF(rect()).adjusted(4, 4, -4, -4);
    p.translate(canvas.topLeft());
    p.setPen(Qt::NoPen);
    p.setBrush(theme::white(0.75));
    p.drawPath(histogramPath(bins_, canvas.size()));
}

}  // namespace morvane
