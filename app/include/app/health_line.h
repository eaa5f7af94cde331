#pragma once

#include <QPixmap>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>

#include "app/health_line_rules.h"
#include "protocol/camera_status.h"

namespace morvane {

/// Where a figure's soft shadow is drawn around it (a blur of radius 2 is too dear to draw 30 times a second).
const std::array<QPointF, 8>& haloOffsets();

/// The colour of a figure of the health line.
QColor figureColor(FigureColor color);

/// A camera's microphone level, battery, storage, heat and transfers as small symbols with texts, in one row.
class HealthLine : public QWidget {
    Q_OBJECT
public:
    explicit HealthLine(QWidget* parent = nullptr);

    void setValues(const CameraStatus& status, std::optional<std::uint8_t> audioLevel, bool takesCaptures);
    /// Keeps the line within `width` points, leaving items out by priority (`healthItemsWithin`).
    void fitWidth(qreal width);
    const std::vector<HealthItem>& items() const { return items_; }
    const std::optional<std::uint8_t>& audioLevel() const { return audioLevel_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void draw(QPainter& painter) const;

    void showItems(std::vector<HealthItem> items);

    std::vector<HealthItem> allItems_;
    std::vector<HealthItem> items_;
    qreal room_ = QWIDGETSIZE_MAX;
    QPixmap cache_;
    bool cacheDirty_ = true;
    std::optional<std::uint8_t> audioLevel_;
};

}  // namespace morvane
