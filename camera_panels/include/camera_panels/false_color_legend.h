#pragma once

#include <QWidget>

#include <vector>

#include "protocol/false_color.h"

namespace morvane {

/// The false-colour bands in legend order: Crushed, Black, Mid grey, Skin, Near white, Clipped.
const std::vector<FalseColor::Band>& falseColorBands();

/// The key of the false-colour aid: one swatch and name per band on a small dark panel. Clicks pass through.
class FalseColorLegend : public QWidget {
    Q_OBJECT
public:
    explicit FalseColorLegend(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace morvane
