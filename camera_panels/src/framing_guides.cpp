#include "camera_panels/framing_guides.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>

#include "platform/defaults.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "protocol/live_packets.h"

namespace morvane {

using namespace theme;

namespace {
/// How far the dark band reaches around the level's marks, and how dark it is (the figures' backing).
constexpr qreal levelBacking = 2;
constexpr qreal levelBackingOpacity = 0.72;
}  // namespace

std::optional<QRectF> pictureRect(const QRectF& container, const std::optional<QSizeF>& pictureSize) {
    if (!pictureSize || !(pictureSize->width() > 0) || !(pictureSize->height() > 0)) return std::nullopt;
    if (!std::isfinite(pictureSize->width()) || !std::isfinite(pictureSize->height())) return std::nullopt;
    const QSizeF fitted = pictureSize->scaled(container.size(), Qt::KeepAspectRatio);
    return QRectF(container.center().x() - fitted.width() / 2, container.center().y() - fitted.height() / 2,
                  fitted.width(), fitted.height());
}

std::array<QLineF, 4> thirdsLines(const QRectF& r) {
    const qreal x1 = r.left() + r.width() / 3, x2 = r.left() + r.width() * 2 / 3;
    const qreal y1 = r.top() + r.height() / 3, y2 = r.top() + r.height() * 2 / 3;
    return {QLineF(x1, r.top(), x1, r.bottom()), QLineF(r.left(), y1, r.right(), y1),
            QLineF(x2, r.top(), x2, r.bottom()), QLineF(r.left(), y2, r.right(), y2)};
}

LevelLook levelLook(double roll) {
    LevelLook look;
    look.level = std::abs(roll) < 0.5;
    if (look.level) return look;
    look.rotation = -roll;
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f°", std::abs(roll));
    look.readout = QString::fromUtf8(buffer);
    return look;
}

LevelReading decodeLevelPacket(ByteView packet) {
    auto decoded = LevelPacket::decode(packet);
    if (!decoded) return {};
    if (auto roll = decoded->roll()) return {LevelReading::Kind::roll, *roll};
    return {LevelReading::Kind::noReading, 0};
}

FramingGuides::FramingGuides(QWidget* parent, Defaults* defaults)
    : QWidget(parent), defaults_(defaults ? defaults : &Defaults::standard()) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    rollAnimation_.setDuration(120);
    rollAnimation_.setEasingCurve(QEasingCurve::OutCubic);
    connect(&rollAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        shownRoll_ = v.toDouble();
        update();
    });
}

bool FramingGuides::showsGrid() const {
    return defaults_->boolValue("showGrid", false);
}
bool FramingGuides::showsLevel() const {
    return defaults_->boolValue("showLevel", false);
}

void FramingGuides::setPictureSize(const std::optional<QSizeF>& size) {
    if (size == pictureSize_) return;
    pictureSize_ = size;
    update();
}

void FramingGuides::setRoll(std::optional<double> roll) {
    if (roll && !std::isfinite(*roll)) roll.reset();
    if (roll == roll_) return;
    const bool had = roll_.has_value();
    roll_ = roll;
    rollAnimation_.stop();
    if (roll && had && isVisible()) {
        rollAnimation_.setStartValue(shownRoll_);
        rollAnimation_.setEndValue(*roll);
        rollAnimation_.start();
    } else if (roll) {
        shownRoll_ = *roll;
    }
    update();
}

void FramingGuides::paintEvent(QPaintEvent*) {
    const bool grid = showsGrid(), level = showsLevel();
    if (!grid && !level) return;
    const auto picture = pictureRect(QRectF(rect()), pictureSize_);
    if (!picture) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (grid) {
        QPainterPath path;
        for (const auto& line : thirdsLines(*picture)) {
            path.moveTo(line.p1());
            path.lineTo(line.p2());
        }
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(black(0.4), 2.0));  // shadow
        p.drawPath(path);
        p.setPen(QPen(white(0.45), 0.75));
        p.drawPath(path);
    }
    if (level && roll_) paintLevel(p, *picture, shownRoll_);
}

void FramingGuides::paintLevel(QPainter& p, const QRectF& picture, double roll) const {
    const qreal width = std::min(picture.width(), picture.height()) / 2;
    const QPointF centre = picture.center();
    const LevelLook look = levelLook(roll);
    // Each mark lies on a dark band of its own, as the figures do: a faint shadow leaves a white line
    // unreadable on a bright picture.
    auto shadowed = [&](const QRectF& r, const QColor& color) {
        fillCapsule(p, r.adjusted(-levelBacking, -levelBacking, levelBacking, levelBacking),
                    black(levelBackingOpacity));
        fillCapsule(p, r, color);
    };
    // The fixed marks at both ends stay level whatever the roll.
    const qreal span = width + 48;
    shadowed(QRectF(centre.x() - span / 2, centre.y() - 1, 18, 2), white(0.8));
    shadowed(QRectF(centre.x() + span / 2 - 18, centre.y() - 1, 18, 2), white(0.8));
    p.save();
    p.translate(centre);
    if (!look.level) p.rotate(look.rotation);
    shadowed(QRectF(-width / 2, -1, width, 2), look.level ? yellow() : QColor(Qt::white));
    p.restore();
    if (look.readout) {
        p.setFont(theme::monospacedDigits(theme::font(TextStyle::caption2, QFont::DemiBold)));
        const QFontMetricsF metrics(p.font());
        const QSizeF text(metrics.horizontalAdvance(*look.readout) + 12, metrics.height() + 4);
        const QRectF box(centre.x() - text.width() / 2, centre.y() + 14, text.width(), text.height());
        fillRoundedRect(p, box, 6, black(levelBackingOpacity));
        p.setPen(Qt::white);
        p.drawText(box, Qt::AlignCenter, *look.readout);
    }
}

}  // namespace morvane
