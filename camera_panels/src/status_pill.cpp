#include "camera_panels/status_pill.h"

#include <QFontMetricsF>
#include <QPainter>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

using namespace theme;

namespace {
constexpr qreal dot = 8, spacing = 6, padX = 12, padY = 8;
}

StatusPill::StatusPill(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

StatusPill::StatusPill(const QString& text, bool live, QWidget* parent) : StatusPill(parent) {
    text_ = text;
    live_ = live;
    setAccessibleName(text);
}

void StatusPill::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    cache_.invalidate();
    update();
}

void StatusPill::setLive(bool live) {
    if (live == live_) return;
    live_ = live;
    cache_.invalidate();
    update();
}

void StatusPill::setMonospacedDigits(bool value) {
    monospaced_ = value;
    updateGeometry();
    cache_.invalidate();
    update();
}

QSize StatusPill::sizeHint() const {
    const QFontMetricsF metrics((monospaced_ ? theme::monospacedDigits(theme::font(TextStyle::footnote, QFont::Medium))
                                             : theme::font(TextStyle::footnote, QFont::Medium)));
    return QSize(widthFor(text_), qCeil(padY * 2 + metrics.height()));
}

int StatusPill::widthFor(const QString& text) const {
    const QFontMetricsF metrics((monospaced_ ? theme::monospacedDigits(theme::font(TextStyle::footnote, QFont::Medium))
                                             : theme::font(TextStyle::footnote, QFont::Medium)));
    return qCeil(padX * 2 + dot + spacing + metrics.horizontalAdvance(text));
}

void StatusPill::paintEvent(QPaintEvent*) {
    cache_.paint(*this, [this](QPainter& p) { draw(p); });
}

void StatusPill::draw(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    fillCapsule(p, bounds, ultraThinMaterial());
    p.setPen(Qt::NoPen);
    p.setBrush(live_ ? red() : gray());
    p.drawEllipse(QRectF(padX, bounds.center().y() - dot / 2, dot, dot));
    p.setFont((monospaced_ ? theme::monospacedDigits(theme::font(TextStyle::footnote, QFont::Medium))
                           : theme::font(TextStyle::footnote, QFont::Medium)));
    p.setPen(Qt::white);
    const QRectF textRect = bounds.adjusted(padX + dot + spacing, 0, -padX + 1, 0);
    const auto fitted = fitOneLine(p.font(), text_, textRect.width(), 1.0);
    p.setFont(fitted.font);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, fitted.text);
}

}  // namespace morvane
