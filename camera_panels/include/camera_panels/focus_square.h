#pragma once

#include <QPointF>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

#include <optional>

namespace morvane {

/// The yellow square that marks a tap-to-focus point over a live picture. The creator sets the point; 1.2 s
/// later the square clears it by itself (fading out) and says so through `pointChanged`. A new point restarts
/// the wait. Clicks pass through.
class FocusSquare : public QWidget {
    Q_OBJECT
public:
    static constexpr int holdMilliseconds = 1200;
    static constexpr qreal side = 72;

    explicit FocusSquare(QWidget* parent = nullptr);

    const std::optional<QPointF>& point() const { return point_; }
    void setPoint(std::optional<QPointF> point);

signals:
    void pointChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QPointF> point_;
    QPointF shownAt_;
    qreal opacity_ = 0;
    QTimer hold_;
    QVariantAnimation fade_;
};

}  // namespace morvane
