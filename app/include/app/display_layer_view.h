#pragma once

#include <QWidget>

#include <memory>
#include <optional>

namespace morvane {

class VideoReceiver;

/// The host of one camera's live picture: it draws the receiver's container layer (black, with the newest
/// decoded picture turned by whole quarter turns and fitted inside) and hands its bounds to the receiver on
/// every layout, so the picture stays centred and turned as the tile resizes. The picture itself changes inside
/// the receiver; the host only repaints when told. It keeps the receiver for as long as it lives.
///
/// A click reports the point in the host and, when it lies on the picture, the same point as fractions of the
/// picture in the camera's own orientation. Main thread only.
class DisplayLayerView : public QWidget {
    Q_OBJECT
public:
    explicit DisplayLayerView(std::shared_ptr<VideoReceiver> receiver, QWidget* parent = nullptr);
    ~DisplayLayerView() override;

    const std::shared_ptr<VideoReceiver>& receiver() const { return receiver_; }

    /// A point of this view as fractions of the picture (none on the bars beside an aspect-fit picture).
    std::optional<QPointF> picturePoint(const QPointF& point) const;

    /// Repaints that drew a picture, and of those the ones that drew a new picture.
    std::uint64_t picturesDrawn() const { return picturesDrawn_; }
    std::uint64_t framesShown() const { return framesShown_; }

signals:
    /// A click at `point` (host coordinates).
    void tapped(QPointF point);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<VideoReceiver> receiver_;
    std::uint64_t picturesDrawn_ = 0;
    std::uint64_t framesShown_ = 0;
    qint64 lastPicture_ = 0;
};

}  // namespace morvane
