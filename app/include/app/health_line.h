#pragma once

#include <QWidget>

#include <cstdint>
#include <optional>

#include "app/health_line_rules.h"
#include "protocol/camera_status.h"

namespace morvane {

/// The colour of a figure of the health line.
QColor figureColor(FigureColor color);

/// A camera's microphone level, battery, storage, heat and transfers as small symbols with texts, in one row.
class HealthLine : public QWidget {
    Q_OBJECT
public:
    explicit HealthLine(QWidget* parent = nullptr);

    void setValues(const CameraStatus& status, std::optional<std::uint8_t> audioLevel);
    const std::vector<HealthItem>& items() const { return items_; }
    const std::optional<std::uint8_t>& audioLevel() const { return audioLevel_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<HealthItem> items_;
    std::optional<std::uint8_t> audioLevel_;
};

}  // namespace morvane
