#pragma once

#include <QImage>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

class QPainter;

namespace morvane {

/// The picture of one camera as its live-picture host draws it: a black container the size of the host, and
/// inside it the display area, centred, turned by whole quarter turns, showing the latest decoded picture
/// aspect-fit. The `VideoReceiver` that owns it sets the geometry and the picture; the host only paints it and
/// repaints on `changed`.
///
/// Main thread only.
class VideoReceiverLayer : public QObject {
    Q_OBJECT
public:
    VideoReceiverLayer() = default;

    /// The container's frame in the host's coordinates (the bounds last given to `VideoReceiver::layout`).
    QRectF frame() const { return frame_; }
    /// The display area's own size, before it is turned.
    QSizeF displaySize() const { return displaySize_; }
    /// The display area's centre in the container's coordinates.
    QPointF displayPosition() const { return displayPosition_; }
    /// Quarter turns applied to the display area, clockwise on screen.
    int quarterTurns() const { return quarterTurns_; }
    /// The picture shown; null when there is none (the container shows black).
    const QImage& picture() const { return picture_; }

    /// From the display area's own coordinates (origin at its top-left corner, before turning) to the host's.
    QTransform displayTransform() const;
    /// A point of the container (host coordinates) in the display area's own coordinates: undoes the turn.
    QPointF convertToDisplay(const QPointF& hostPoint) const;
    /// The largest rectangle of the given aspect centred in the display area, in its own coordinates.
    QRectF aspectFitRect(const QSizeF& aspect) const;

    /// Fills the container black and draws the picture turned and aspect-fit.
    void paint(QPainter& painter) const;

    // Set by the receiver.
    void setGeometry(const QRectF& frame, const QSizeF& displaySize, const QPointF& displayPosition, int quarterTurns);
    void setPicture(QImage picture);
    void clearPicture();

signals:
    /// The picture or the geometry changed: the host repaints.
    void changed();

private:
    QRectF frame_;
    QSizeF displaySize_;
    QPointF displayPosition_;
    int quarterTurns_ = 0;
    QImage picture_;
};

}  // namespace morvane
