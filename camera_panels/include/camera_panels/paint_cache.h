#pragma once

#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace morvane {

/// A widget's look kept as a picture. Small views over a live picture are repainted with every frame of the
/// picture beneath them; with this they draw once per change of their own and copy the picture afterwards.
/// The owner calls `invalidate` whenever what it draws changes.
class PaintCache {
public:
    void invalidate() { valid_ = false; }

    /// Paints `widget` from the cache, drawing it first with `draw(QPainter&)` when it is stale or the
    /// widget's size or pixel ratio changed.
    template <class Draw>
    void paint(QWidget& widget, Draw&& draw) {
        const qreal ratio = widget.devicePixelRatioF();
        const QSize pixels = (QSizeF(widget.size()) * ratio).toSize();
        if (!valid_ || pixmap_.size() != pixels || pixmap_.devicePixelRatio() != ratio) {
            pixmap_ = QPixmap(pixels.expandedTo(QSize(1, 1)));
            pixmap_.setDevicePixelRatio(ratio);
            pixmap_.fill(Qt::transparent);
            QPainter painter(&pixmap_);
            draw(painter);
            valid_ = true;
        }
        QPainter(&widget).drawPixmap(0, 0, pixmap_);
    }

private:
    QPixmap pixmap_;
    bool valid_ = false;
};

}  // namespace morvane
