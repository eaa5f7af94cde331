#include "camera_panels/view_style.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPainterPath>

namespace morvane::view_style {

qreal pointSize(TextStyle style) {
    switch (style) {
        case TextStyle::title: return 28;
        case TextStyle::title2: return 22;
        case TextStyle::title3: return 20;
        case TextStyle::headline: return 17;
        case TextStyle::body: return 17;
        case TextStyle::subheadline: return 15;
        case TextStyle::footnote: return 13;
        case TextStyle::caption: return 12;
        case TextStyle::caption2: return 11;
    }
    return 17;
}

QFont styleFont(qreal pixelSize, QFont::Weight weight, bool monospacedDigits) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(qMax(1, qRound(pixelSize)));
    f.setWeight(weight);
    if (monospacedDigits) f.setStyleHint(QFont::SansSerif);  // DejaVu's figures are already tabular
    return f;
}

QFont styleFont(TextStyle style, QFont::Weight weight, bool monospacedDigits) {
    if (style == TextStyle::headline && weight == QFont::Normal) weight = QFont::DemiBold;
    return styleFont(pointSize(style), weight, monospacedDigits);
}

QColor white(qreal opacity) { return QColor::fromRgbF(1, 1, 1, opacity); }
QColor black(qreal opacity) { return QColor::fromRgbF(0, 0, 0, opacity); }
QColor red() { return QColor(255, 59, 48); }
QColor green() { return QColor(52, 199, 89); }
QColor yellow() { return QColor(255, 204, 0); }
QColor orange() { return QColor(255, 149, 0); }
QColor grey() { return QColor(142, 142, 147); }
QColor ultraThinMaterial() { return QColor::fromRgbF(0.12, 0.12, 0.14, 0.55); }

void fillCapsule(QPainter& painter, const QRectF& rect, const QColor& color) {
    const qreal r = std::min(rect.width(), rect.height()) / 2;
    fillRoundedRect(painter, rect, r, color);
}

void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(rect, radius, radius);
    painter.restore();
}

namespace {
// Material icon ligature names for the symbols these views draw.
const QHash<QString, QString>& ligatures() {
    static const QHash<QString, QString> table{
        {QStringLiteral("xmark"), QStringLiteral("close")},
        {QStringLiteral("scope"), QStringLiteral("center_focus_strong")},
    };
    return table;
}
}  // namespace

void paintSymbol(QPainter& painter, const QRectF& rect, const QString& symbol, const QColor& color, qreal size) {
    QFont f(QStringLiteral("Material Icons"));
    f.setPixelSize(qMax(1, qRound(size)));
    painter.save();
    painter.setFont(f);
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, ligatures().value(symbol, symbol));
    painter.restore();
}

qreal symbolWidth(qreal size) { return size; }

void paintLine(QPainter& painter, const QRectF& rect, const QString& text, Qt::Alignment alignment,
               Qt::TextElideMode elide) {
    const QFontMetricsF metrics(painter.font());
    painter.drawText(rect, int(alignment | Qt::AlignVCenter | Qt::TextSingleLine),
                     metrics.elidedText(text, elide, rect.width()));
}

}  // namespace morvane::view_style
