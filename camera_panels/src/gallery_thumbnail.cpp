#include "camera_panels/gallery_thumbnail.h"

#include <QPainter>
#include <QPainterPath>

#include "camera_panels/gallery_rules.h"
#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

namespace {

constexpr qreal badgePadX = 4, badgePadY = 2, badgeRadius = 5, badgeBacking = 0.72;

QImage decodeThumbnail(const Bytes& bytes) {
    if (bytes.empty() || bytes.size() > (8u << 20)) return {};
    QImage image;
    image.loadFromData(bytes.data(), static_cast<int>(bytes.size()));
    return image;
}

// White text or symbol with the soft shadow the badges carry.
void drawShadowed(QPainter& p, const std::function<void(QPainter&)>& draw) {
    p.save();
    p.translate(0, 0.5);
    p.setOpacity(0.33);
    draw(p);
    p.restore();
    draw(p);
}

}  // namespace

GalleryThumbnail::GalleryThumbnail(GalleryItem item, QWidget* parent)
    : QAbstractButton(parent), item_(std::move(item)), picture_(decodeThumbnail(item_.thumbnail)) {
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(gallery::accessibilityLabel(item_));
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void GalleryThumbnail::setSelectionMark(std::optional<bool> picked) {
    if (mark_ == picked) return;
    mark_ = picked;
    update();
}

void GalleryThumbnail::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF square = rect();
    p.fillRect(square, theme::withOpacity(theme::gray(), 0.2));
    if (!picture_.isNull()) {
        // Scaled to fill: the longer side overflows and is cropped.
        const QSizeF size = QSizeF(picture_.size()).scaled(square.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF target(square.center() - QPointF(size.width() / 2, size.height() / 2), size);
        p.setClipRect(square);
        p.drawImage(target, picture_);
        p.setClipping(false);
    }
    const QFont badgeFont = theme::font(theme::TextStyle::caption2, QFont::DemiBold);
    const qreal glyph = symbolPixelSize(theme::pointSize(theme::TextStyle::caption2));
    if (item_.isVideo) {
        const QString text = gallery::durationText(item_.duration);
        const QFontMetricsF metrics(badgeFont);
        const qreal width = glyph + 3 + metrics.horizontalAdvance(text);
        const QRectF badge(square.right() - 4 - badgePadX - width, square.bottom() - 4 - badgePadY - metrics.height(),
                           width, metrics.height());
        // On a dark backing of its own, as the tiles' figures: a shadow alone vanishes on a bright thumbnail.
        theme::fillRoundedRect(p, badge.adjusted(-badgePadX, -badgePadY, badgePadX, badgePadY), badgeRadius,
                               theme::black(badgeBacking));
        drawSymbol(p, QRectF(badge.left(), badge.top(), glyph, badge.height()), "video.fill", Qt::white, glyph);
        p.setFont(badgeFont);
        p.setPen(Qt::white);
        p.drawText(badge.adjusted(glyph + 3, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
    }
    if (item_.vaultFile) {
        const QRectF lock(square.left() + 4, square.top() + 4, glyph, glyph);
        drawShadowed(
            p, [&](QPainter& q) { drawSymbol(q, lock, "lock.fill", q.opacity() < 1 ? Qt::black : Qt::white, glyph); });
    }
    if (mark_) {
        const qreal size = symbolPixelSize(theme::pointSize(theme::TextStyle::title3));
        const QRectF circle(square.left() + 6, square.bottom() - 6 - size, size, size);
        theme::fillCircle(p, circle, theme::black(0.3));
        drawSymbol(p, circle, *mark_ ? "checkmark.circle.fill" : "circle", *mark_ ? theme::blue() : Qt::white, size);
    }
    if (hasFocus()) {
        p.setPen(QPen(theme::blue(), 2));
        p.drawRect(square.adjusted(1, 1, -1, -1));
    }
}

}  // namespace morvane
