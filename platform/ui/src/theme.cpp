#include "platform/theme.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QWidget>

namespace morvane::theme {

namespace {

constexpr const char* systemFamily = "DejaVu Sans";

constexpr int switchWidth = 42, switchHeight = 26, switchGap = 12;

/// The application's look on top of Fusion: a check box is drawn as the switch every other setting uses, its
/// text at the leading end and the switch at the trailing end.
class DarkStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_IndicatorWidth) return switchWidth;
        if (metric == PM_IndicatorHeight) return switchHeight;
        if (metric == PM_CheckBoxLabelSpacing) return switchGap;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override {
        const QRect r = option->rect;
        const QRect knob(r.right() - switchWidth + 1, r.top() + (r.height() - switchHeight) / 2, switchWidth,
                         switchHeight);
        switch (element) {
            case SE_CheckBoxIndicator:
            case SE_CheckBoxFocusRect:
                return visualRect(option->direction, r, knob);
            case SE_CheckBoxContents:
                return visualRect(
                    option->direction, r,
                    QRect(r.left(), r.top(), std::max(0, r.width() - switchWidth - switchGap), r.height()));
            case SE_CheckBoxClickRect:
                return r;
            default:
                return QProxyStyle::subElementRect(element, option, widget);
        }
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_IndicatorCheckBox) return QProxyStyle::drawPrimitive(element, option, painter, widget);
        const bool on = option->state & State_On;
        const bool enabled = option->state & State_Enabled;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (!enabled) painter->setOpacity(0.4);
        const QRectF track = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        fillCapsule(*painter, track, on ? green() : white(0.16));
        const qreal knob = track.height() - 4;
        const QRectF thumb(on ? track.right() - knob - 2 : track.left() + 2, track.top() + 2, knob, knob);
        fillCircle(*painter, thumb, (option->state & State_Sunken) ? white(0.85) : white());
        if (option->state & State_HasFocus) {
            painter->setPen(QPen(blue(), 1.5));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(track.adjusted(-1, -1, 1, 1), track.height() / 2 + 1, track.height() / 2 + 1);
        }
        painter->restore();
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        // Drawn here so that the switch and the text take the places above whatever the base style does.
        if (element == CE_CheckBox) {
            if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
                QStyleOptionButton part = *button;
                part.rect = subElementRect(SE_CheckBoxIndicator, button, widget);
                drawPrimitive(PE_IndicatorCheckBox, &part, painter, widget);
                part = *button;
                part.rect = subElementRect(SE_CheckBoxContents, button, widget);
                drawItemText(painter, part.rect, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextShowMnemonic,
                             button->palette, button->state & State_Enabled, button->text, QPalette::WindowText);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

/// Scroll bars as thin light handles on nothing: the base style's grey troughs glare on the dark sheets.
QString scrollBarSheet() {
    return QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 10px; margin: 2px 1px 2px 1px; }"
        "QScrollBar:horizontal { background: transparent; height: 10px; margin: 1px 2px 1px 2px; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,64); border-radius: 4px; min-height: 32px; }"
        "QScrollBar::handle:horizontal { background: rgba(255,255,255,64); border-radius: 4px; min-width: 32px; }"
        "QScrollBar::handle:hover, QScrollBar::handle:pressed { background: rgba(255,255,255,120); }"
        "QScrollBar::add-line, QScrollBar::sub-line { width: 0px; height: 0px; border: none; background: none; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: none; }");
}

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
    if (auto* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(new DarkStyle(fusion));
    QApplication::setPalette(palette());
    application.setStyleSheet(scrollBarSheet());
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

QFont font(TextStyle style, QFont::Weight weight) {
    return systemFont(pointSize(style), weight);
}

QFont monospacedDigits(QFont font) {
    return font;
}

QColor rgb(double red, double green, double blue, double opacity) {
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue),
                            static_cast<float>(opacity));
}

QColor white(double opacity) {
    return rgb(1, 1, 1, opacity);
}
QColor black(double opacity) {
    return rgb(0, 0, 0, opacity);
}

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QColor red() {
    return QColor(255, 69, 58);
}
QColor green() {
    return QColor(48, 209, 88);
}
QColor yellow() {
    return QColor(255, 214, 10);
}
QColor orange() {
    return QColor(255, 159, 10);
}
QColor blue() {
    return QColor(10, 132, 255);
}
QColor gray() {
    return QColor(142, 142, 147);
}
QColor secondary() {
    return white(0.6);
}
// Without the platform's blur, a light translucent fill leaves white text unreadable over a bright picture:
// this one is dark enough for white text over white.
QColor ultraThinMaterial() {
    return QColor(44, 44, 50, 196);
}
QColor regularMaterial() {
    return QColor(36, 36, 40, 215);
}
QColor sheetBackground() {
    return QColor(28, 28, 30);
}

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

FittedText fitOneLine(const QFont& font, const QString& text, qreal width, qreal minimumScale, Qt::TextElideMode mode) {
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
