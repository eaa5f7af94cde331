#pragma once

#include <QLineF>
#include <QRectF>
#include <QSizeF>
#include <QVariantAnimation>
#include <QWidget>

#include <array>
#include <optional>

#include "protocol/packet_type.h"

namespace morvane {

class Defaults;

/// The picture's own rectangle inside a container: the largest one of the picture's aspect, centred. None
/// without a picture size, or when a side is not greater than 0.
std::optional<QRectF> pictureRect(const QRectF& container, const std::optional<QSizeF>& pictureSize);
/// The rule-of-thirds lines in drawing order: first vertical, first horizontal, second vertical, second
/// horizontal.
std::array<QLineF, 4> thirdsLines(const QRectF& picture);

/// The horizon's look for a roll: level below half a degree (yellow and flat, no readout); otherwise white,
/// turned by minus the roll, with the whole degrees as a readout ("13°", halves to even as "%.0f" rounds).
struct LevelLook {
    bool level = false;
    double rotation = 0;  ///< degrees, clockwise on screen
    std::optional<QString> readout;
    friend bool operator==(const LevelLook&, const LevelLook&) = default;
};
LevelLook levelLook(double roll);

/// What a level packet says: not one (ignored; the last roll stays), no reading, or a roll in degrees.
struct LevelReading {
    enum class Kind { notLevelPacket, noReading, roll } kind = Kind::notLevelPacket;
    double degrees = 0;
    friend bool operator==(const LevelReading&, const LevelReading&) = default;
};
LevelReading decodeLevelPacket(ByteView packet);

/// The framing grid and the level over a camera's live picture, fitted to the picture's rectangle inside
/// the widget. Reads the settings "showGrid" and "showLevel" (off when absent) whenever it draws; a change of
/// either is picked up by `refresh`. Clicks pass through.
class FramingGuides : public QWidget {
    Q_OBJECT
public:
    explicit FramingGuides(QWidget* parent = nullptr, Defaults* defaults = nullptr);

    void setPictureSize(const std::optional<QSizeF>& size);
    void setRoll(std::optional<double> roll);
    const std::optional<double>& roll() const { return roll_; }
    /// Re-reads the settings and redraws.
    void refresh() { update(); }

    bool showsGrid() const;
    bool showsLevel() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintLevel(class QPainter& p, const QRectF& picture, double roll) const;

    Defaults* defaults_;
    std::optional<QSizeF> pictureSize_;
    std::optional<double> roll_;
    double shownRoll_ = 0;
    QVariantAnimation rollAnimation_;
};

}  // namespace morvane
