#include "platform/theme.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QWidget>

namespace morvane::theme {

namespace {

constexpr const char* systemFamily = "DejaVu Sans";

}  // namespace

QPalette palette() {
    QPalette p;
    const QColor window(0, 0, 0);
    const QColor base(28, 28, 30);
    const QColor alternate(44, 44, 46);
    const QColor text(255, 255, 255);
    const QColor dimText(255, 255, 255, 110);
    const QColor button(44, 44, 46);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, alternate);
    p.setColor(QPalette::ToolTipBase, alternate);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dimText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, red());
    p.setColor(QPalette::Link, blue());
    p.setColor(QPalette::LinkVisited, blue().lighter(120));
    p.setColor(QPalette::Highlight, blue());
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::Light, QColor(72, 72, 74));
    p.setColor(QPalette::Midlight, QColor(58, 58, 60));
    p.setColor(QPalette::Mid, QColor(44, 44, 46));
    p.setColor(QPalette::Dark, QColor(18, 18, 20));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, dimText);
    }
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(32, 32, 34));
    return p;
}

void apply(QApplication& application) {
    if (auto* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
    QApplication::setPalette(palette());
    application.setFont(font(TextStyle::body));
}

qreal pointSize(TextStyle style) {
    switch (style) {
        case TextStyle::largeTitle:
            return 34;
        case TextStyle::title:
            return 28;
        case TextStyle::title2:
            return 22;
        case TextStyle::title3:
            return 20;
        case TextStyle::headline:
        case TextStyle::body:
            return 17;
        case TextStyle::callout:
            return 16;
        case TextStyle::subheadline:
            return 15;
        case TextStyle::footnote:
            return 13;
        case TextStyle::caption:
            return 12;
        case TextStyle::caption2:
            return 11;
    }
    return 17;
}

QFont systemFont(qreal size, QFont::Weight weight) {
    QFont f(QString::fromLatin1(systemFamily));
    // Sizes are given in points; one point is one device-independent pixel.
    f.setPixelSize(std::max(1, qRound(size)));
    f.setWeight(weight);
    return f;
}

QFont font(TextStyle style) {
    return systemFont(pointSize(style), style == TextStyle::headline ? QFont::DemiBold : QFont::Normal);
}

QFont font(TextStyle style, QFont::Weight weight) { return systemFont(pointSize(style), weight); }

QFont monospacedDigits(QFont font) { return font; }

QColor rgb(double red, double green, double blue, double opacity) {
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue),
                            static_cast<float>(opacity));
}

QColor white(double opacity) { return rgb(1, 1, 1, opacity); }
QColor black(double opacity) { return rgb(0, 0, 0, opacity); }

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QColor red() { return QColor(255, 69, 58); }
QColor green() { return QColor(48, 209, 88); }
QColor yellow() { return QColor(255, 214, 10); }
QColor orange() { return QColor(255, 159, 10); }
QColor blue() { return QColor(10, 132, 255); }
QColor gray() { return QColor(142, 142, 147); }
QColor secondary() { return white(0.6); }
QColor ultraThinMaterial() { return QColor(72, 72, 78, 140); }
QColor regularMaterial() { return QColor(36, 36, 40, 215); }
QColor sheetBackground() { return QColor(28, 28, 30); }

void fillCapsule(QPainter& painter, const QRectF& rect, const QColor& color) {
    fillRoundedRect(painter, rect, std::min(rect.width(), rect.height()) / 2, color);
}

void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(rect, radius, radius);
    painter.restore();
}

void fillCircle(QPainter& painter, const QRectF& rect, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(rect);
    painter.restore();
}

QFont shrinkToFit(const QFont& font, const QString& text, qreal width, qreal minimumScale) {
    QFont f = font;
    const int full = font.pixelSize() > 0 ? font.pixelSize() : qRound(font.pointSizeF());
    const int least = std::max(1, qCeil(full * minimumScale));
    for (int size = full; size >= least; --size) {
        f.setPixelSize(size);
        if (QFontMetricsF(f).horizontalAdvance(text) <= width) return f;
    }
    f.setPixelSize(least);
    return f;
}

FittedText fitOneLine(const QFont& font, const QString& text, qreal width, qreal minimumScale,
                      Qt::TextElideMode mode) {
    FittedText fitted{shrinkToFit(font, text, width, minimumScale), text};
    fitted.text = QFontMetricsF(fitted.font).elidedText(text, mode, width);
    return fitted;
}

void setTextColor(QWidget& widget, const QColor& color) {
    QPalette p = widget.palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    p.setColor(QPalette::ButtonText, color);
    widget.setPalette(p);
}

void clearLayout(QLayout& layout) {
    while (auto* item = layout.takeAt(0)) {
        if (auto* w = item->widget()) {
            w->hide();
            w->setParent(nullptr);
            w->deleteLater();
        }
        delete item;
    }
}

void setBackground(QWidget& widget, const QColor& color) {
    widget.setAutoFillBackground(true);
    QPalette p = widget.palette();
    p.setColor(QPalette::Window, color);
    widget.setPalette(p);
}

}  // namespace morvane::theme
