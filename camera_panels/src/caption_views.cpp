#include "camera_panels/caption_views.h"

#include <QFontMetricsF>
#include <QPainter>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

namespace {

constexpr qreal heardPaddingX = 12;
constexpr qreal heardPaddingY = 6;
constexpr qreal heardIconGap = 6;
constexpr qreal toastPaddingX = 14;
constexpr qreal toastPaddingY = 8;

QFont heardFont() { return theme::font(theme::TextStyle::caption); }
qreal heardIconSize() { return symbolPixelSize(theme::pointSize(theme::TextStyle::caption)); }
QFont toastFont() { return theme::font(theme::TextStyle::footnote, QFont::Medium); }

}  // namespace

HeardLine::HeardLine(QString text, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setText(std::move(text));
}

void HeardLine::setText(QString text) {
    text_ = std::move(text);
    setAccessibleName(QStringLiteral("Heard: ") + text_);
    updateGeometry();
    update();
}

QSize HeardLine::sizeHint() const {
    const QFontMetricsF m(heardFont());
    const qreal w = 2 * heardPaddingX + heardIconSize() + heardIconGap + m.horizontalAdvance(text_);
    const qreal h = 2 * heardPaddingY + std::max(m.height(), heardIconSize());
    return {qCeil(w), qCeil(h)};
}

QSize HeardLine::minimumSizeHint() const {
    return {qCeil(2 * heardPaddingX + heardIconSize() + heardIconGap + 20), sizeHint().height()};
}

void HeardLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF bounds = QRectF(rect());
    theme::fillCapsule(painter, bounds, theme::black(0.45));
    const QColor color = theme::white(0.8);
    const qreal icon = heardIconSize();
    drawSymbol(painter, QRectF(heardPaddingX, (height() - icon) / 2, icon, icon), "waveform", color, icon);
    const qreal textLeft = heardPaddingX + icon + heardIconGap;
    const QRectF textRect(textLeft, heardPaddingY, std::max<qreal>(0, width() - textLeft - heardPaddingX),
                          height() - 2 * heardPaddingY);
    painter.setFont(heardFont());
    painter.setPen(color);
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     QFontMetricsF(heardFont()).elidedText(text_, Qt::ElideRight, textRect.width()));
}

Toast::Toast(QString text, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setText(std::move(text));
}

void Toast::setText(QString text) {
    text_ = std::move(text);
    setAccessibleName(text_);
    updateGeometry();
    update();
}

QSize Toast::sizeHint() const {
    const QFontMetricsF m(toastFont());
    return {qCeil(2 * toastPaddingX + m.horizontalAdvance(text_)), qCeil(2 * toastPaddingY + m.height())};
}

QSize Toast::minimumSizeHint() const { return {qCeil(2 * toastPaddingX + 20), sizeHint().height()}; }

void Toast::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    theme::fillCapsule(painter, QRectF(rect()), theme::ultraThinMaterial());
    const QRectF textRect = QRectF(rect()).adjusted(toastPaddingX, toastPaddingY, -toastPaddingX, -toastPaddingY);
    painter.setFont(toastFont());
    painter.setPen(theme::white());
    painter.drawText(textRect, Qt::AlignCenter,
                     QFontMetricsF(toastFont()).elidedText(text_, Qt::ElideRight, textRect.width()));
}

}  // namespace morvane
