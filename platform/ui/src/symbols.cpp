#include "platform/symbols.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QRawFont>

#include <cstring>
#include <mutex>

#include "symbol_table.h"

namespace morvane {

namespace {

constexpr const char* fontFile = "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf";
constexpr const char* fallbackFamily = "Material Icons";

QString loadedFamily() {
    // Loaded on the GUI thread the first time a symbol is drawn; the font database is not thread-safe.
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(fontFile));
        if (id >= 0) {
            const auto families = QFontDatabase::applicationFontFamilies(id);
            if (!families.isEmpty()) return families.front();
        }
        return QString::fromLatin1(fallbackFamily);
    }();
    return family;
}

}  // namespace

std::optional<char32_t> symbolCodePoint(std::string_view name) {
    for (std::size_t i = 0; i < detail::symbolTableSize; ++i) {
        if (name == detail::symbolTable[i].name) return detail::symbolTable[i].codePoint;
    }
    return std::nullopt;
}

std::vector<std::string_view> symbolNames() {
    std::vector<std::string_view> names;
    names.reserve(detail::symbolTableSize);
    for (std::size_t i = 0; i < detail::symbolTableSize; ++i) names.emplace_back(detail::symbolTable[i].name);
    return names;
}

QFont symbolFont(qreal pixelSize) {
    QFont font(loadedFamily());
    font.setPixelSize(std::max(1, qRound(pixelSize)));
    font.setStyleStrategy(QFont::NoFontMerging);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

bool symbolAvailable(std::string_view name) {
    const auto code = symbolCodePoint(name);
    if (!code) return false;
    const QRawFont raw = QRawFont::fromFont(symbolFont(24));
    return raw.isValid() && raw.supportsCharacter(static_cast<uint>(*code));
}

QString symbolText(std::string_view name) {
    const auto code = symbolCodePoint(name);
    if (!code) return {};
    const char32_t text[] = {*code};
    return QString::fromUcs4(text, 1);
}

void drawSymbol(QPainter& painter, const QRectF& rect, std::string_view name, const QColor& color, qreal pixelSize) {
    const QString text = symbolText(name);
    if (text.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(symbolFont(pixelSize));
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, text);
    painter.restore();
}

QPixmap symbolPixmap(std::string_view name, const QColor& color, qreal pixelSize, qreal devicePixelRatio) {
    const int side = std::max(1, qCeil(pixelSize * devicePixelRatio));
    QPixmap pixmap(side, side);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawSymbol(painter, QRectF(0, 0, pixelSize, pixelSize), name, color, pixelSize);
    return pixmap;
}

QIcon symbolIcon(std::string_view name, const QColor& color, qreal pixelSize, const QColor& disabledColor) {
    QIcon icon;
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    icon.addPixmap(symbolPixmap(name, color, pixelSize, ratio), QIcon::Normal);
    icon.addPixmap(symbolPixmap(name, disabledColor, pixelSize, ratio), QIcon::Disabled);
    return icon;
}

}  // namespace morvane
