#include "app/scope_view.h"

#include <QPainter>

#include "platform/theme.h"

namespace morvane {

ScopeView::ScopeView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString ScopeView::accessibilityLabel(ScopeKind kind) {
    switch (kind) {
        case ScopeKind::waveform: return QStringLiteral("Waveform");
        case ScopeKind::parade: return QStringLiteral("RGB parade");
        case ScopeKind::off: return QStringLiteral("Off");
    }
    return QStringLiteral("Off");
}

void ScopeView::setScope(std::optional<ScopeImage> scope) {
    scope_ = std::move(scope);
    setAccessibleName(accessibilityLabel(scope_ ? scope_->kind : ScopeKind::off));
    cache_.invalidate();
    update();
}

void ScopeView::paintEvent(QPaintEvent*) {
    cache_.paint(*this, [this](QPainter& p) { draw(p); });
}

void ScopeView::draw(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    theme::fillRoundedRect(p, QRectF(rect()), 6, theme::black(0.6));
    const QRectF content = QRectF(rect()).adjusted(4, 4, -4, -4);
    if (scope_ && !scope_->image.isNull()) p.drawImage(content, scope_->image);
    QPen pen(theme::white(0.25), 0.5, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setDashPattern({3 / 0.5, 3 / 0.5});  // dash lengths are in pen widths
    p.setPen(pen);
    for (qreal f : {1.0, 0.5, 0.0}) {
        const qreal y = content.top() + content.height() * f;
        p.drawLine(QPointF(content.left(), y), QPointF(content.right(), y));
    }
}

}  // namespace morvane
