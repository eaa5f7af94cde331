#pragma once

#include "camera_panels/paint_cache.h"

#include <QPoint>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

namespace morvane {

/// The strip along the top of a tile in deck mode: drag handle, the camera's number and name, and "ON AIR" on
/// red or "Put on air" on translucent black. A click anywhere puts the camera on air; dragging it carries the
/// camera's name as plain text to another tile or deck button, which reorders the cameras.
class DeckBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 40;

    DeckBar(int number, std::string name, bool onAir, std::function<void()> putOnAir, QWidget* parent = nullptr);

    void setValues(int number, std::string name, bool onAir);
    void setPutOnAir(std::function<void()> action) { putOnAir_ = std::move(action); }
    int number() const { return number_; }
    const std::string& name() const { return name_; }
    bool onAir() const { return onAir_; }

    QSize sizeHint() const override { return {320, barHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void draw(QPainter& p);

    PaintCache cache_;
    void updateAccessibility();
    QPixmap dragPreview() const;

    int number_;
    std::string name_;
    bool onAir_;
    std::function<void()> putOnAir_;
    std::optional<QPoint> pressedAt_;
};

}  // namespace morvane
