#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRectF>
#include <QString>

class QApplication;
class QPainter;
class QLayout;
class QWidget;

/// The application's look: a dark window in the Fusion style with a palette of its own (so the desktop theme
/// cannot wash it out), the text styles the screens name, and the platform's named colours in their dark
/// appearance. Sizes are points, one point one device-independent pixel.
namespace morvane::theme {

/// Fusion, the dark palette and the body font, for the whole application. Call once after the
/// QApplication exists.
void apply(QApplication& application);

/// The dark palette alone (window black, text white, highlight blue).
QPalette palette();

/// Text styles with their sizes in points: largeTitle 34, title 28, title2 22, title3 20, headline 17
/// semibold, body 17, callout 16, subheadline 15, footnote 13, caption 12, caption2 11.
enum class TextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };

qreal pointSize(TextStyle style);

/// The system font in a text style, in its own weight unless one is given.
QFont font(TextStyle style);
QFont font(TextStyle style, QFont::Weight weight);
/// The system font at a size in points.
QFont systemFont(qreal size, QFont::Weight weight = QFont::Normal);
/// The font with digits of one width (the system font's digits already are: kept for where it matters).
QFont monospacedDigits(QFont font);

/// An sRGB colour from components 0 to 1 and an opacity 0 to 1.
QColor rgb(double red, double green, double blue, double opacity = 1.0);
QColor white(double opacity = 1.0);
QColor black(double opacity = 1.0);
/// The colour with another opacity (0 to 1).
QColor withOpacity(QColor color, double opacity);

// The platform's named colours as they look on a dark screen.
QColor red();
QColor green();
QColor yellow();
QColor orange();
QColor blue();
QColor gray();
/// Text of lesser importance ("secondary" style): white at 60 %.
QColor secondary();
/// Translucent "ultra-thin material": a dark fill at about half opacity.
QColor ultraThinMaterial();
/// A thicker material for panels and sheets.
QColor regularMaterial();
/// The background of sheets and grouped lists.
QColor sheetBackground();

// Shapes the screens fill: continuous corners are plain rounded rectangles.
void fillCapsule(QPainter& painter, const QRectF& rect, const QColor& color);
void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color);
void fillCircle(QPainter& painter, const QRectF& rect, const QColor& color);

/// The largest font from `font` down to `minimumScale` of its size in which `text` fits `width`; the caller
/// elides what still does not fit.
QFont shrinkToFit(const QFont& font, const QString& text, qreal width, qreal minimumScale);
/// `text` in `font` on one line of `width`: shrunk down to `minimumScale`, then cut with an ellipsis at
/// `mode`'s side. Returns the font to draw with and the text to draw.
struct FittedText {
    QFont font;
    QString text;
};
FittedText fitOneLine(const QFont& font, const QString& text, qreal width, qreal minimumScale,
                      Qt::TextElideMode mode = Qt::ElideRight);

/// A widget's own palette for text drawn over the dark window.
void setTextColor(QWidget& widget, const QColor& color);

/// Fills the widget's background with a colour of its own.
void setBackground(QWidget& widget, const QColor& color);

/// Empties a layout that is being rebuilt: its widgets leave the screen and the widget tree at once and are
/// deleted once the event that asked for this is over (it may come from one of them).
void clearLayout(QLayout& layout);

}  // namespace morvane::theme
