#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

namespace morvane::view_style {

/// The platform text styles, by their point sizes.
enum class TextStyle { title, title2, title3, headline, body, subheadline, footnote, caption, caption2 };

qreal pointSize(TextStyle style);
/// The system font in a text style and weight; `monospacedDigits` for figures that change in place.
QFont styleFont(TextStyle style, QFont::Weight weight = QFont::Normal, bool monospacedDigits = false);
QFont styleFont(qreal pixelSize, QFont::Weight weight, bool monospacedDigits = false);

/// White at an opacity.
QColor white(qreal opacity);
QColor black(qreal opacity);
/// The named colours of meaning.
QColor red();
QColor green();
QColor yellow();
QColor orange();
QColor grey();
/// The translucent "material" behind small controls over a picture.
QColor ultraThinMaterial();

/// A capsule (radius half the height) filled with a colour.
void fillCapsule(QPainter& painter, const QRectF& rect, const QColor& color);
void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color);

/// Draws a platform symbol by its name, centred in `rect`, at the font size `size`.
void paintSymbol(QPainter& painter, const QRectF& rect, const QString& symbol, const QColor& color, qreal size);
/// The width a symbol takes at a size.
qreal symbolWidth(qreal size);

/// Text drawn on one line, cut with an ellipsis (in the middle or at the end) when it does not fit.
void paintLine(QPainter& painter, const QRectF& rect, const QString& text, Qt::Alignment alignment,
               Qt::TextElideMode elide = Qt::ElideRight);

}  // namespace morvane::view_style
