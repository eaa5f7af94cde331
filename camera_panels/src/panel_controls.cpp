#include "camera_panels/panel_controls.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "platform/symbols.h"

namespace morvane {

namespace {

// The wheel over a control without the focus moves the form it sits in: handed to the nearest scrolling ancestor
// as if the pointer were over it (an ignored wheel event does not reach it by itself).
void scrollEnclosingArea(QWidget& control, QWheelEvent* event) {
    for (QWidget* parent = control.parentWidget(); parent; parent = parent->parentWidget()) {
        if (auto* area = qobject_cast<QAbstractScrollArea*>(parent)) {
            QWidget* viewport = area->viewport();
            QWheelEvent passed(viewport->mapFromGlobal(event->globalPosition()), event->globalPosition(),
                               event->pixelDelta(), event->angleDelta(), event->buttons(), event->modifiers(),
                               event->phase(), event->inverted(), event->source(), event->pointingDevice());
            QCoreApplication::sendEvent(viewport, &passed);
            event->setAccepted(passed.isAccepted());
            return;
        }
    }
    event->ignore();
}

}  // namespace

SymbolButton::SymbolButton(std::string symbol, theme::TextStyle style, QSize frame, std::function<void()> action,
                           QWidget* parent)
    : QAbstractButton(parent), symbol_(std::move(symbol)), style_(style), frame_(frame), action_(std::move(action)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) action_();
    });
}

void SymbolButton::setSymbol(std::string symbol) {
    if (symbol == symbol_) return;
    symbol_ = std::move(symbol);
    update();
}

void SymbolButton::setLabel(QString text, QFont font) {
    label_ = std::move(text);
    labelFont_ = std::move(font);
    updateGeometry();
    update();
}

void SymbolButton::setColor(QColor color) {
    color_ = color;
    update();
}

QSize SymbolButton::sizeHint() const {
    if (label_.isEmpty()) return frame_;
    const qreal symbolWidth = symbolPixelSize(theme::pointSize(style_));
    const qreal width = symbolWidth + 6 + QFontMetricsF(labelFont_).horizontalAdvance(label_) + 12;
    return {std::max(frame_.width(), qCeil(width)), frame_.height()};
}

void SymbolButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor color = color_;
    if (isDown()) color = theme::withOpacity(color, 0.6);
    if (!isEnabled()) color = theme::withOpacity(color, 0.35);
    const qreal symbolSize = symbolPixelSize(theme::pointSize(style_));
    if (label_.isEmpty()) {
        drawSymbol(painter, rect(), symbol_, color, symbolSize);
        return;
    }
    const QFontMetricsF metrics(labelFont_);
    const qreal total = symbolSize + 6 + metrics.horizontalAdvance(label_);
    const qreal left = (width() - total) / 2;
    drawSymbol(painter, QRectF(left, 0, symbolSize, height()), symbol_, color, symbolSize);
    painter.setFont(labelFont_);
    painter.setPen(color);
    painter.drawText(QRectF(left + symbolSize + 6, 0, width() - left - symbolSize - 6, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, label_);
}

SegmentedPicker::SegmentedPicker(std::vector<Segment> segments, std::function<void(int)> chosen, QWidget* parent)
    : QWidget(parent), segments_(std::move(segments)), chosen_(std::move(chosen)) {
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SegmentedPicker::setSegments(std::vector<Segment> segments) {
    segments_ = std::move(segments);
    if (selected_ && *selected_ >= count()) selected_.reset();
    update();
}

void SegmentedPicker::setSelected(std::optional<int> index) {
    if (index && (*index < 0 || *index >= count())) index.reset();
    if (index == selected_) return;
    selected_ = index;
    update();
}

void SegmentedPicker::choose(int index) {
    if (!isEnabled() || index < 0 || index >= count()) return;
    if (chosen_) chosen_(index);
}

QSize SegmentedPicker::sizeHint() const {
    return {std::max(96, count() * 64), 32};
}

QRectF SegmentedPicker::segmentRect(int index) const {
    const qreal w = static_cast<qreal>(width()) / std::max(1, count());
    return QRectF(index * w, 0, w, height());
}

void SegmentedPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.4);
    theme::fillRoundedRect(painter, QRectF(rect()), 8, theme::white(0.12));
    for (int i = 0; i < count(); ++i) {
        const QRectF r = segmentRect(i);
        const bool on = selected_ && *selected_ == i;
        if (on) theme::fillRoundedRect(painter, r.adjusted(2, 2, -2, -2), 6, theme::white(0.32));
        if (i > 0 && !on && !(selected_ && *selected_ == i - 1)) {
            painter.setPen(QPen(theme::white(0.2), 1));
            painter.drawLine(QPointF(r.left(), r.top() + 8), QPointF(r.left(), r.bottom() - 8));
        }
        const auto& segment = segments_[static_cast<std::size_t>(i)];
        if (!segment.symbol.empty()) {
            drawSymbol(painter, r, segment.symbol, theme::white(),
                       symbolPixelSize(theme::pointSize(theme::TextStyle::subheadline)));
        } else {
            painter.setPen(theme::white());
            painter.setFont(theme::font(theme::TextStyle::footnote, on ? QFont::DemiBold : QFont::Medium));
            painter.drawText(r, Qt::AlignCenter, segment.text);
        }
    }
    if (hasFocus()) {
        painter.setPen(QPen(theme::blue(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 8, 8);
    }
}

void SegmentedPicker::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    for (int i = 0; i < count(); ++i) {
        if (segmentRect(i).contains(event->position())) choose(i);
    }
}

void SegmentedPicker::keyPressEvent(QKeyEvent* event) {
    const int current = selected_.value_or(-1);
    if (event->key() == Qt::Key_Left && current > 0) {
        choose(current - 1);
    } else if (event->key() == Qt::Key_Right && current + 1 < count()) {
        choose(current + 1);
    } else {
        QWidget::keyPressEvent(event);
    }
}

ToggleSwitch::ToggleSwitch(std::function<void(bool)> toggled, QWidget* parent)
    : QAbstractButton(parent), toggled_(std::move(toggled)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setCheckable(false);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (toggled_) toggled_(!on_);
    });
}

void ToggleSwitch::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    setAccessibleDescription(on_ ? QStringLiteral("On") : QStringLiteral("Off"));
    update();
}

QSize ToggleSwitch::sizeHint() const {
    return {51, 31};
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.4);
    const QRectF track(QRectF(rect()).center() - QPointF(25.5, 15.5), QSizeF(51, 31));
    theme::fillCapsule(painter, track, on_ ? theme::green() : theme::white(0.16));
    const qreal knob = 27;
    const QRectF thumb(on_ ? track.right() - knob - 2 : track.left() + 2, track.top() + 2, knob, knob);
    theme::fillCircle(painter, thumb, isDown() ? theme::white(0.85) : theme::white());
    if (hasFocus()) {
        painter.setPen(QPen(theme::blue(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), 16.5, 16.5);
    }
}

FormPicker::FormPicker(QWidget* parent) : QComboBox(parent) {
    setFont(theme::font(theme::TextStyle::body));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    QPalette p = palette();
    p.setColor(QPalette::Base, QColor(44, 44, 46));
    p.setColor(QPalette::Text, theme::white());
    p.setColor(QPalette::Highlight, theme::blue());
    setPalette(p);
}

QSize FormPicker::sizeHint() const {
    const QFontMetricsF metrics(font());
    qreal widest = 0;
    for (int i = 0; i < count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    return {qCeil(widest + 30), 32};
}

QSize FormPicker::minimumSizeHint() const {
    return {40, 32};
}

QRect popupWithin(const QRect& popup, const QRect& window) {
    QRect r = popup;
    r.setHeight(std::min(r.height(), window.height()));
    r.setWidth(std::min(r.width(), window.width()));
    if (r.bottom() > window.bottom()) r.moveBottom(window.bottom());
    if (r.top() < window.top()) r.moveTop(window.top());
    if (r.right() > window.right()) r.moveRight(window.right());
    if (r.left() < window.left()) r.moveLeft(window.left());
    return r;
}

void FormPicker::showPopup() {
    QComboBox::showPopup();
    QWidget* list = view() ? view()->window() : nullptr;
    if (!list || list == window()) return;
    const QRect inside = QRect(window()->mapToGlobal(QPoint(0, 0)), window()->size());
    const QRect place = popupWithin(list->geometry(), inside);
    if (place != list->geometry()) list->setGeometry(place);
}

void FormPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor color = theme::secondary();
    if (!isEnabled()) color = theme::white(0.25);
    const qreal chevron = symbolPixelSize(theme::pointSize(theme::TextStyle::footnote));
    const QRectF chevronRect(width() - chevron, 0, chevron, height());
    drawSymbol(painter, chevronRect, "chevron.up.chevron.down", color, chevron);
    const QRectF textRect(0, 0, width() - chevron - 4, height());
    painter.setFont(font());
    painter.setPen(color);
    painter.drawText(textRect, Qt::AlignRight | Qt::AlignVCenter,
                     QFontMetricsF(font()).elidedText(currentText(), Qt::ElideRight, textRect.width()));
    if (hasFocus()) {
        painter.setPen(QPen(theme::blue(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 6, 6);
    }
}

void FormPicker::wheelEvent(QWheelEvent* event) {
    if (hasFocus())
        QComboBox::wheelEvent(event);
    else
        scrollEnclosingArea(*this, event);
}

FormSlider::FormSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::StrongFocus);
}

void FormSlider::wheelEvent(QWheelEvent* event) {
    if (hasFocus())
        QSlider::wheelEvent(event);
    else
        scrollEnclosingArea(*this, event);
}

}  // namespace morvane
