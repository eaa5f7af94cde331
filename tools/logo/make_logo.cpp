// Draws the application's mark, resources/Logo.png: four picture frames of a multi-camera deck, the first one
// on air, on a dark blue square. Run once when the mark changes: make_logo <output.png>.

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) return 2;
    constexpr int side = 1024;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);

    QLinearGradient background(0, 0, 0, side);
    background.setColorAt(0, QColor(38, 48, 72));
    background.setColorAt(1, QColor(10, 12, 20));
    p.fillRect(image.rect(), background);
    QRadialGradient glow(side * 0.3, side * 0.28, side * 0.7);
    glow.setColorAt(0, QColor(255, 120, 90, 60));
    glow.setColorAt(1, QColor(255, 120, 90, 0));
    p.fillRect(image.rect(), glow);

    const qreal margin = side * 0.19;
    const qreal gap = side * 0.06;
    const qreal cellW = (side - 2 * margin - gap) / 2;
    const qreal cellH = cellW * 0.75;
    const qreal top = (side - 2 * cellH - gap) / 2;
    const qreal radius = cellW * 0.16;
    for (int i = 0; i < 4; ++i) {
        const QRectF frame(margin + (i % 2) * (cellW + gap), top + (i / 2) * (cellH + gap), cellW, cellH);
        const qreal cell = cellW;
        if (i == 0) {
            QLinearGradient red(frame.topLeft(), frame.bottomRight());
            red.setColorAt(0, QColor(255, 92, 72));
            red.setColorAt(1, QColor(220, 38, 38));
            p.setPen(Qt::NoPen);
            p.setBrush(red);
            p.drawRoundedRect(frame, radius, radius);
            p.setBrush(Qt::white);
            const qreal dot = cell * 0.12;
            p.drawEllipse(QPointF(frame.center()), dot, dot);
        } else {
            p.setBrush(QColor(255, 255, 255, 28));
            p.setPen(QPen(QColor(255, 255, 255, 235), side * 0.028));
            p.drawRoundedRect(frame.adjusted(side * 0.014, side * 0.014, -side * 0.014, -side * 0.014), radius,
                              radius);
        }
    }
    p.end();
    return image.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
