#pragma once

#include "camera_panels/paint_cache.h"

#include <QPainterPath>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace morvane {

/// The stepped outline of a histogram in a canvas of the given size: one flat top per bin, 255 at the top
/// edge, closed along the bottom; empty without bins.
QPainterPath histogramPath(const std::vector<std::uint8_t>& bins, const QSizeF& canvas);

/// A camera's live histogram: the stepped area in white at 75 % on a dark rounded panel.
class HistogramView : public QWidget {
    Q_OBJECT
public:
    explicit HistogramView(QWidget* parent = nullptr);

    void setBins(std::vector<std::uint8_t> bins);
    const std::vector<std::uint8_t>& bins() const { return bins_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void draw(QPainter& p);

    PaintCache cache_;
    std::vector<std::uint8_t> bins_;
};

}  // namespace morvane
