#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

namespace morvane {

/// A small spinning progress indicator (eight fading spokes) for work of unknown length.
class ActivityIndicator : public QWidget {
    Q_OBJECT
public:
    explicit ActivityIndicator(QWidget* parent = nullptr, QColor tint = Qt::white, int side = 20);

    QSize sizeHint() const override { return {side_, side_}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor tint_;
    int side_;
    int step_ = 0;
    QTimer timer_;
};

}  // namespace morvane
