#include "app/health_line.h"

#include <QFontMetricsF>

#include <QPainter>
#include <array>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

using namespace theme;

namespace {
constexpr qreal itemSpacing = 8, iconGap = 3, meterWidth = 40, meterHeight = 5;

QFont lineFont() {
    return monospacedDigits(theme::font(TextStyle::caption2));
}
qreal iconSize() {
    return symbolPixelSize(pointSize(TextStyle::caption2));
}

qreal itemWidth(const HealthItem& item, const QFontMetricsF& metrics) {
    if (item.kind == HealthItem::Kind::microphone) return iconSize() + iconGap + meterWidth;
    return iconSize() + iconGap + metrics.horizontalAdvance(item.text);
}
}  // namespace

const std::array<QPointF, 8>& haloOffsets() {
    static const std::array<QPointF, 8> offsets{QPointF(-1, -1), QPointF(0, -1), QPointF(1, -1), QPointF(-1, 0),
                                                QPointF(1, 0),   QPointF(-1, 1), QPointF(0, 1),  QPointF(1, 1)};
    return offsets;
}

QColor figureColor(FigureColor color) {
    switch (color) {
        case FigureColor::neutral:
            return white(0.8);
        case FigureColor::red:
            return red();
        case FigureColor::orange:
            return orange();
        case FigureColor::yellow:
            return yellow();
        case FigureColor::green:
            return green();
    }
    return white(0.8);
}

HealthLine::HealthLine(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void HealthLine::setValues(const CameraStatus& status, std::optional<std::uint8_t> audioLevel, bool takesCaptures) {
    allItems_ = healthItems(status, audioLevel, takesCaptures);
    const bool levelChanged = audioLevel != audioLevel_;
    audioLevel_ = audioLevel;
    if (levelChanged) cacheDirty_ = true;
    showItems(allItems_);
    if (levelChanged) update();
}

void HealthLine::fitWidth(qreal width) {
    if (width == room_) return;
    room_ = width;
    showItems(allItems_);
}

void HealthLine::showItems(std::vector<HealthItem> all) {
    const QFontMetricsF metrics(lineFont());
    auto items = healthItemsWithin(std::move(all), room_, itemSpacing,
                                   [&](const HealthItem& item) { return itemWidth(item, metrics); });
    if (items == items_) return;
    const bool resized =
        items.size() != items_.size() || !std::equal(items.begin(), items.end(), items_.begin(),
                                                     [](const auto& a, const auto& b) { return a.text == b.text; });
    items_ = std::move(items);
    cacheDirty_ = true;
    if (resized) updateGeometry();
    update();
}

QSize HealthLine::sizeHint() const {
    const QFontMetricsF metrics(lineFont());
    qreal w = 0;
    for (const auto& item : items_) w += itemWidth(item, metrics) + itemSpacing;
    return QSize(qCeil(std::max<qreal>(w - itemSpacing, 0)), qCeil(std::max(metrics.height(), iconSize())));
}

void HealthLine::paintEvent(QPaintEvent*) {
    // The line sits over a live picture and is repainted with every frame: it is drawn once per change into a
    // picture of its own, and each frame only copies that.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (cache_.size() != pixels || cacheDirty_) {
        cache_ = QPixmap(pixels);
        cache_.setDevicePixelRatio(ratio);
        cache_.fill(Qt::transparent);
        QPainter p(&cache_);
        draw(p);
        cacheDirty_ = false;
    }
    QPainter(this).drawPixmap(0, 0, cache_);
}

void HealthLine::draw(QPainter& p) const {
    p.setRenderHint(QPainter::Antialiasing);
    const QFont f = lineFont();
    p.setFont(f);
    const QFontMetricsF metrics(f);
    const qreal h = height();
    qreal x = 0;
    for (const auto& item : items_) {
        const QColor color = figureColor(item.color);
        const QRectF icon(x, (h - iconSize()) / 2, iconSize(), iconSize());
        // A soft dark halo keeps the figures readable over a bright picture.
        for (const QPointF& d : haloOffsets())
            drawSymbol(p, icon.translated(d), item.symbol.toStdString(), black(0.2), iconSize());
        drawSymbol(p, icon, item.symbol.toStdString(), item.kind == HealthItem::Kind::microphone ? white(0.8) : color,
                   iconSize());
        x += iconSize() + iconGap;
        if (item.kind == HealthItem::Kind::microphone) {
            const QRectF track(x, (h - meterHeight) / 2, meterWidth, meterHeight);
            fillCapsule(p, track, white(0.2));
            const qreal level = audioLevel_.value_or(0);
            fillCapsule(p, QRectF(track.topLeft(), QSizeF(meterWidth * level / 255.0, meterHeight)), color);
            x += meterWidth;
        } else {
            const qreal w = metrics.horizontalAdvance(item.text);
            const QRectF text(x, 0, w + 1, h);
            p.setPen(black(0.2));
            for (const QPointF& d : haloOffsets())
                p.drawText(text.translated(d), Qt::AlignLeft | Qt::AlignVCenter, item.text);
            p.setPen(color);
            p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, item.text);
            x += w;
        }
        x += itemSpacing;
    }
}

}  // namespace morvane
