#pragma once

#include "camera_panels/paint_cache.h"

#include <QWidget>

#include <optional>

#include "remote/scope_image.h"

namespace morvane {

/// A camera's scope picture stretched over a dark rounded panel, with a dashed graticule at the bottom, the
/// middle and the top.
class ScopeView : public QWidget {
    Q_OBJECT
public:
    explicit ScopeView(QWidget* parent = nullptr);

    void setScope(std::optional<ScopeImage> scope);
    const std::optional<ScopeImage>& scope() const { return scope_; }
    /// "Waveform", "RGB parade" or "Off".
    static QString accessibilityLabel(ScopeKind kind);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void draw(QPainter& p);

    PaintCache cache_;
    std::optional<ScopeImage> scope_;
};

}  // namespace morvane
