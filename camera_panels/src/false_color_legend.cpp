#include "camera_panels/false_color_legend.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

using namespace theme;

namespace {
constexpr qreal swatch = 10, gap = 4, rowSpacing = 2, inset = 6, columnGap = 10;
// The swatches alone.
constexpr qreal smallSwatch = 8, tightGap = 3, tightInset = 4;

QFont legendFont() {
    return theme::systemFont(9, QFont::DemiBold);
}

qreal rowHeight() {
    return std::max<qreal>(swatch, QFontMetricsF(legendFont()).height());
}
}  // namespace

FalseColorLegend::FalseColorLegend(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(sizeHint());
    QStringList names;
    for (const auto& band : FalseColor::bands()) names << QString::fromStdString(band.name);
    setAccessibleName(QStringLiteral("False colour: ") + names.join(QStringLiteral(", ")));
}

void FalseColorLegend::setForm(Form form) {
    if (form == form_) return;
    form_ = form;
    setFixedSize(sizeHint());
    cache_.invalidate();
    update();
}

QSize FalseColorLegend::sizeFor(Form form) {
    const auto bands = static_cast<qreal>(FalseColor::bands().size());
    if (form == Form::swatches) {
        // Three to a row, the darker bands above the brighter.
        const qreal across = std::ceil(bands / 2);
        return QSize(qCeil(2 * tightInset + across * smallSwatch + (across - 1) * tightGap),
                     qCeil(2 * tightInset + 2 * smallSwatch + tightGap));
    }
    const QFontMetricsF metrics(legendFont());
    qreal widest = 0;
    for (const auto& band : FalseColor::bands())
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(band.name)));
    const qreal columns = form == Form::twoColumns ? 2 : 1;
    const qreal rows = std::ceil(bands / columns);
    return QSize(qCeil(inset * 2 + columns * (swatch + gap + widest) + (columns - 1) * columnGap),
                 qCeil(inset * 2 + rows * rowHeight() + (rows - 1) * rowSpacing));
}

QSize FalseColorLegend::sizeHint() const {
    return sizeFor(form_);
}

void FalseColorLegend::paintEvent(QPaintEvent*) {
    cache_.paint(*this, [this](QPainter& p) { draw(p); });
}

void FalseColorLegend::draw(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    fillRoundedRect(p, QRectF(rect()), 6, black(0.55));
    p.setFont(legendFont());
    const auto bands = FalseColor::bands();
    auto swatchAt = [&](std::size_t i, qreal x, qreal y) {
        fillRoundedRect(p, QRectF(x, y, swatch, swatch), 2,
                        QColor::fromRgbF(bands[i].rgb[0], bands[i].rgb[1], bands[i].rgb[2]));
    };
    if (form_ == Form::swatches) {
        const std::size_t across = (bands.size() + 1) / 2;
        for (std::size_t i = 0; i < bands.size(); ++i)
            fillRoundedRect(p,
                            QRectF(tightInset + static_cast<qreal>(i % across) * (smallSwatch + tightGap),
                                   tightInset + static_cast<qreal>(i / across) * (smallSwatch + tightGap), smallSwatch,
                                   smallSwatch),
                            2, QColor::fromRgbF(bands[i].rgb[0], bands[i].rgb[1], bands[i].rgb[2]));
        return;
    }
    const qreal h = rowHeight();
    const int columns = form_ == Form::twoColumns ? 2 : 1;
    const int rows = (static_cast<int>(bands.size()) + columns - 1) / columns;
    const qreal columnWidth = (width() - 2 * inset - (columns - 1) * columnGap) / columns;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const qreal x = inset + static_cast<qreal>(static_cast<int>(i) / rows) * (columnWidth + columnGap);
        const qreal y = inset + static_cast<qreal>(static_cast<int>(i) % rows) * (h + rowSpacing);
        swatchAt(i, x, y + (h - swatch) / 2);
        p.setPen(Qt::white);
        p.drawText(QRectF(x + swatch + gap, y, columnWidth, h), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(bands[i].name));
    }
}

}  // namespace morvane
