#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QTransform>
#include <QWidget>

#include <functional>
#include <optional>

namespace morvane {

/// Where the camera role's LUT preview layer sits inside its host: `frame` is the layer's rectangle before it
/// is turned (its sides swapped for a quarter turn, so that once turned it fills the bounds), and `transform`
/// turns it by the angle about the bounds' centre and mirrors it horizontally when `mirrored`.
struct LUTPreviewLayout {
    QRectF frame;
    QTransform transform;
};
LUTPreviewLayout lutPreviewLayout(bool mirrored, const QRectF& bounds, double angleDegrees);

/// A new preview angle needs a layout when it differs from the current one in any way, or either is not a
/// number.
bool previewAngleChanged(double current, double next);

/// The camera role's preview host (never built by the desktop remote): it shows the capture's picture with
/// the monitoring LUT applied, laid out by `lutPreviewLayout`, follows the rotation angle that keeps the
/// horizon level, and turns a tap on the picture into the capture device's point of interest (taps on the bars
/// beside the picture are ignored). Main thread only.
class CameraPreview : public QWidget {
    Q_OBJECT
public:
    explicit CameraPreview(QWidget* parent = nullptr);

    /// Called with the point in the view and the device's point of interest (0 to 1 of the sensor).
    std::function<void(QPointF viewPoint, QPointF devicePoint)> onTap;

    bool mirrored() const { return mirrored_; }
    void setMirrored(bool mirrored);
    double previewAngle() const { return previewAngle_; }
    /// From the rotation coordinator: marks the view for layout only when the angle changed.
    void setPreviewAngle(double degrees);
    /// The capture's picture after the LUT, in the sensor's orientation.
    void setPicture(QImage picture);
    bool showsLUT() const { return showsLUT_; }
    void setShowsLUT(bool shows);

    const LUTPreviewLayout& currentLayout() const { return layout_; }
    /// Layout passes run so far.
    int layoutPasses() const { return layoutPasses_; }
    /// The picture's rectangle in the view (aspect fit inside the turned frame); empty without a picture.
    QRectF pictureRect() const;
    /// The device's point of interest of a view point; none outside the picture.
    std::optional<QPointF> devicePoint(const QPointF& viewPoint) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void layoutPreview();
    QRectF fittedPicture() const;

    bool mirrored_ = false;
    double previewAngle_ = 90.0;
    bool showsLUT_ = true;
    QImage picture_;
    LUTPreviewLayout layout_;
    int layoutPasses_ = 0;
    bool layoutPending_ = false;
};

}  // namespace morvane
