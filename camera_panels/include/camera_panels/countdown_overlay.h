#pragma once

#include <QVariantAnimation>
#include <QWidget>

#include <cstdint>
#include <optional>

namespace morvane {

/// The self-timer's seconds in big white figures over the live picture; nothing without a count. Clicks pass
/// through.
class CountdownOverlay : public QWidget {
    Q_OBJECT
public:
    explicit CountdownOverlay(QWidget* parent = nullptr);

    void setCountdown(std::optional<std::int64_t> countdown);
    const std::optional<std::int64_t>& countdown() const { return countdown_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintNumber(QPainter& p, std::int64_t number, qreal offset);

    std::optional<std::int64_t> countdown_;
    std::optional<std::int64_t> previous_;
    qreal progress_ = 1.0;
    QVariantAnimation transition_;
};

}  // namespace morvane
