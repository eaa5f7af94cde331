#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRectF>

#include <optional>
#include <string_view>
#include <vector>

class QPainter;

namespace morvane {

/// The symbols the screens name (the platform symbol names: "gearshape", "video.badge.plus", …), each drawn
/// as one glyph of the Material icon font from Debian's fonts-material-design-icons-iconfont. The one table
/// lives in symbol_table.cpp; a screen that needs a new symbol adds its line there.
///
/// Drawing needs a QGuiApplication; everything else works without one.

/// The icon font's code point for a symbol name; none for a name the table does not know.
std::optional<char32_t> symbolCodePoint(std::string_view name);

/// Every name in the table, in table order.
std::vector<std::string_view> symbolNames();

/// The icon font at a pixel size. Loaded once from the font file; when the file is missing the family name
/// is asked of the font database.
QFont symbolFont(qreal pixelSize);

/// Whether the icon font was found and holds the given symbol's glyph.
bool symbolAvailable(std::string_view name);

/// The glyph as text, empty for an unknown name.
QString symbolText(std::string_view name);

/// Draws the symbol centred in `rect`, `pixelSize` pixels high, in `color`. An unknown name draws nothing.
void drawSymbol(QPainter& painter, const QRectF& rect, std::string_view name, const QColor& color, qreal pixelSize);

/// The symbol on a transparent square `pixelSize` wide, for the given device pixel ratio.
QPixmap symbolPixmap(std::string_view name, const QColor& color, qreal pixelSize, qreal devicePixelRatio = 1.0);

/// An icon of the symbol: `color` normally, `disabledColor` when disabled.
QIcon symbolIcon(std::string_view name, const QColor& color, qreal pixelSize,
                 const QColor& disabledColor = QColor(255, 255, 255, 90));

/// The pixel size at which a Material glyph looks as large as a platform symbol set in a text of
/// `pointSize` (Material glyphs sit in a square with padding; the platform's fill the text's cap height).
inline qreal symbolPixelSize(qreal pointSize) { return pointSize * 1.25; }

}  // namespace morvane
