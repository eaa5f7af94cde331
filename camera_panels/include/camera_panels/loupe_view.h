#pragma once

#include "camera_panels/paint_cache.h"

#include <QImage>
#include <QWidget>

#include <functional>

namespace morvane {

class ActivityIndicator;

/// The camera's focus loupe: its latest picture filling a rounded square with an amber border, a spinner until
/// the first picture, and a "Loupe" / "Contours" label; a click anywhere on it calls `toggleContours`.
class LoupeView : public QWidget {
    Q_OBJECT
public:
    LoupeView(qreal size, std::function<void()> toggleContours, QWidget* parent = nullptr);

    void setImage(const QImage& image);
    void setContours(bool contours);
    void setLoupeSize(qreal size);
    bool contours() const { return contours_; }
    qreal loupeSize() const { return size_; }
    /// "Contours" or "Loupe".
    QString labelText() const;

    QSize sizeHint() const override { return QSize(qRound(size_), qRound(size_)); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void draw(QPainter& p);

    PaintCache cache_;
    void updateAccessibility();

    QImage image_;
    bool contours_ = false;
    qreal size_;
    std::function<void()> toggle_;
    ActivityIndicator* spinner_;
};

}  // namespace morvane
