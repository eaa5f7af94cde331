#pragma once

#include <QColor>
#include <QWidget>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "deck_ui/editor/editor_rules.h"

namespace morvane {

class RetouchEditor;

/// The six camera colours of the strip and the camera buttons, by a camera's position in the take's camera list.
const std::array<QColor, 6>& stripPalette();
QColor cameraColor(const std::string& camera, const std::vector<std::string>& cameras);

/// The switching strip: the take's camera blocks, removed parts hatched, the trimmed ends dimmed, switch marks and
/// the red playhead. It reads the editor and asks it to seek, move a switch and select; it writes the editor's
/// selection, zoom and view start.
///
/// Desktop gestures: a press or drag moves the playhead (or scrolls the take while zoomed, when it starts away from
/// the playhead), a double-click selects what lies there, a touchpad pinch or Ctrl+wheel zooms, a sideways wheel
/// scrolls; a switch mark is clicked to select it and dragged to move it.
class RetouchStrip : public QWidget {
    Q_OBJECT

public:
    explicit RetouchStrip(RetouchEditor& editor, QWidget* parent = nullptr);

    static constexpr int stripHeight = 60;
    static constexpr qreal markTouchMargin = 14;
    static constexpr qreal markDragDistance = 3;

    StripGeometry geometry() const;
    /// The id of the switch mark whose touch area holds x, the nearest one when several do.
    std::optional<Uuid> markAt(qreal x) const;

    QSize sizeHint() const override { return {400, stripHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;

private:
    void followPlayhead();
    void seekTo(qreal x);
    void pinch(double magnification);

    RetouchEditor& editor_;
    // One drag or pinch under way.
    std::optional<bool> dragScrolls_;
    double dragViewStart_ = 0;
    qreal dragStartX_ = 0;
    std::optional<Uuid> markPressed_;
    bool markDragging_ = false;
    std::optional<double> pinchStart_;
    double pinchMagnification_ = 1;
};

}  // namespace morvane
