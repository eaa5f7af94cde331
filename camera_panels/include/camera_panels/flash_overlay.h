#pragma once

#include <QVariantAnimation>
#include <QWidget>

#include <optional>

namespace morvane {

/// A white flash over the picture each time `trigger` changes: 0.8 at once, easing out to nothing in 0.35 s.
/// The first value sets no flash. Clicks pass through.
class FlashOverlay : public QWidget {
    Q_OBJECT
public:
    explicit FlashOverlay(QWidget* parent = nullptr);

    void setTrigger(int trigger);
    qreal opacity() const { return opacity_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<int> trigger_;
    qreal opacity_ = 0;
    QVariantAnimation fade_;
};

}  // namespace morvane
