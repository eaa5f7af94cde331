#include "camera_panels/labeled_control.h"

#include <QFontMetricsF>
#include <QPainter>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

namespace {

QFont titleFont() {
    return theme::systemFont(LabeledControl::titleSize, QFont::DemiBold);
}

}  // namespace

LabeledControl::LabeledControl(QString title, std::string systemImage, bool active, std::function<void()> action,
                               QWidget* parent)
    : QAbstractButton(parent),
      title_(std::move(title)),
      systemImage_(std::move(systemImage)),
      active_(active),
      action_(std::move(action)) {
    setAccessibleName(title_);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) action_();
    });
}

void LabeledControl::setTitle(QString title) {
    if (title == title_) return;
    title_ = std::move(title);
    setAccessibleName(title_);
    updateGeometry();
    update();
}

void LabeledControl::setSystemImage(std::string systemImage) {
    if (systemImage == systemImage_) return;
    systemImage_ = std::move(systemImage);
    update();
}

void LabeledControl::setActive(bool active) {
    if (active == active_) return;
    active_ = active;
    update();
}

QColor LabeledControl::tint() const {
    return active_ ? theme::yellow() : theme::white();
}

QSize LabeledControl::sizeHint() const {
    const qreal text = QFontMetricsF(titleFont()).horizontalAdvance(title_) + 4;
    const qreal w = std::clamp(text, minimumWidth, std::max(maximumWidth, std::min(text, wideMaximumWidth)));
    const qreal h = std::max(minimumHeight, iconFrameHeight + spacing + QFontMetricsF(titleFont()).height());
    return {qCeil(w), qCeil(h)};
}

QSize LabeledControl::minimumSizeHint() const {
    return {qCeil(minimumWidth), qCeil(minimumHeight)};
}

void LabeledControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor color = tint();
    if (isDown()) color = theme::withOpacity(color, 0.6);
    if (!isEnabled()) color = theme::withOpacity(color, 0.35);
    const qreal w = std::min<qreal>(width(), wideMaximumWidth);
    const qreal left = (width() - w) / 2;
    const QFontMetricsF metrics(titleFont());
    const qreal contentHeight = iconFrameHeight + spacing + metrics.height();
    const qreal top = std::max<qreal>(0, (height() - contentHeight) / 2);
    drawSymbol(painter, QRectF(left, top, w, iconFrameHeight), systemImage_, color,
               symbolPixelSize(theme::pointSize(theme::TextStyle::title3)));
    const auto fitted = theme::fitOneLine(titleFont(), title_, w, titleMinimumScale);
    painter.setFont(fitted.font);
    painter.setPen(color);
    painter.drawText(QRectF(left, top + iconFrameHeight + spacing, w, metrics.height()),
                     Qt::AlignHCenter | Qt::AlignTop, fitted.text);
}

}  // namespace morvane
