#pragma once

#include <QImage>
#include <QWidget>

namespace morvane {

/// The application's mark at `size` points square: the "Logo" picture of the application's resources, fitted,
/// clipped to a rounded square (corner radius 0.225 × size) with a soft black shadow below it. Hidden from
/// accessibility.
class AppLogo : public QWidget {
    Q_OBJECT
public:
    explicit AppLogo(qreal size, QWidget* parent = nullptr);

    qreal logoSize() const { return size_; }
    qreal cornerRadius() const { return size_ * 0.225; }
    qreal shadowRadius() const { return size_ * 0.06; }
    qreal shadowOffset() const { return size_ * 0.03; }

    /// The "Logo" picture; null when the resource is missing.
    static const QImage& logoImage();
    /// Draws the mark (clipped, without its shadow) into `rect`.
    static void paintLogo(QPainter& painter, const QRectF& rect);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal size_;
};

}  // namespace morvane
