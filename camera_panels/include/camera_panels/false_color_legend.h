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

    /// The key's forms, from the largest: a column of swatches with their names; two such columns, about half
    /// as high; the swatches alone, the darker three above the brighter, for where no names fit.
    enum class Form { column, twoColumns, swatches };
    void setForm(Form form);
    Form form() const { return form_; }
    static QSize sizeFor(Form form);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void draw(QPainter& p);

    PaintCache cache_;
    Form form_ = Form::column;
};

}  // namespace morvane
