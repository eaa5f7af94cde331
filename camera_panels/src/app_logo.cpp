#include "camera_panels/app_logo.h"

#include <QPainter>
#include <QPainterPath>

#include "platform/theme.h"

namespace morvane {

AppLogo::AppLogo(qreal size, QWidget* parent) : QWidget(parent), size_(size) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(QString());
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
}

QSize AppLogo::sizeHint() const {
    // Room for the shadow below and around the mark.
    const int margin = qCeil(shadowRadius() + shadowOffset());
    const int side = qCeil(size_) + 2 * margin;
    return {side, side};
}

const QImage& AppLogo::logoImage() {
    static const QImage image(QStringLiteral(":/Logo.png"));
    return image;
}

void AppLogo::paintLogo(QPainter& painter, const QRectF& rect) {
    const qreal radius = rect.width() * 0.225;
    QPainterPath clip;
    clip.addRoundedRect(rect, radius, radius);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setClipPath(clip);
    const QImage& image = logoImage();
    if (!image.isNull()) {
        QSizeF fitted = QSizeF(image.size()).scaled(rect.size(), Qt::KeepAspectRatio);
        const QRectF target(rect.center().x() - fitted.width() / 2, rect.center().y() - fitted.height() / 2,
                            fitted.width(), fitted.height());
        painter.drawImage(target, image);
    }
    painter.restore();
}

void AppLogo::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF mark((width() - size_) / 2, (height() - size_) / 2 - shadowOffset() / 2, size_, size_);
    // A soft shadow: stacked translucent rounded squares, each a little larger, moved down.
    const int steps = 6;
    const qreal total = 0.2;
    for (int i = steps; i >= 1; --i) {
        const qreal grow = shadowRadius() * i / steps;
        const QRectF r = mark.translated(0, shadowOffset()).adjusted(-grow, -grow, grow, grow);
        theme::fillRoundedRect(painter, r, cornerRadius() + grow, theme::black(total / steps));
    }
    paintLogo(painter, mark);
}

}  // namespace morvane
