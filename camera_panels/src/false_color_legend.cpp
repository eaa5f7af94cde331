#include "camera_panels/false_color_legend.h"

#include <QFontMetricsF>
#include <QPainter>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

using namespace theme;

namespace {
constexpr qreal swatch = 10, gap = 4, rowSpacing = 2, inset = 6;

QFont legendFont() { return theme::systemFont(9, QFont::DemiBold); }

qreal rowHeight() { return std::max<qreal>(swatch, QFontMetricsF(legendFont()).height()); }
}  // namespace

FalseColorLegend::FalseColorLegend(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(sizeHint());
}

QSize FalseColorLegend::sizeHint() const {
    const QFontMetricsF metrics(legendFont());
    qreal widest = 0;
    for (const auto& band : FalseColor::bands())
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(band.name)));
    const auto n = static_cast<qreal>(FalseColor::bands().size());
    return QSize(qCeil(inset * 2 + swatch + gap + widest), qCeil(inset * 2 + n * rowHeight() + (n - 1) * rowSpacing));
}

void FalseColorLegend::paintEvent(QPaintEvent*) {
    cache_.paint(*this, [this](QPainter& p) { draw(p); });
}

void FalseColorLegend::draw(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    fillRoundedRect(p, QRectF(rect()), 6, black(0.55));
    p.setFont(legendFont());
    qreal y = inset;
    const qreal h = rowHeight();
    for (const auto& band : FalseColor::bands()) {
        fillRoundedRect(p, QRectF(inset, y + (h - swatch) / 2, swatch, swatch), 2,
                        QColor::fromRgbF(band.rgb[0], band.rgb[1], band.rgb[2]));
        p.setPen(Qt::white);
        p.drawText(QRectF(inset + swatch + gap, y, width(), h), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(band.name));
        y += h + rowSpacing;
    }
}

}  // namespace morvane
