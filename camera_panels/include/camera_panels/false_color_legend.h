#pragma once

#include "camera_panels/paint_cache.h"

#include <QWidget>

#include "protocol/false_color.h"

namespace morvane {

/// The key of the false-colour aid: one swatch and name per band of `FalseColor::bands` (the table the camera
/// paints with), on a small dark panel. Clicks pass through.
class FalseColorLegend : public QWidget {
    Q_OBJECT
public:
    explicit FalseColorLegend(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
private:
    void draw(QPainter& p);

    PaintCache cache_;
};

}  // namespace morvane
