#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/camera_status.h"

namespace morvane {

/// The colours of the health line's figures.
enum class FigureColor { neutral, red, orange, yellow, green };

/// The battery symbol: "battery.100.bolt" while charging, else by level (below 0.15 "battery.0", then 0.40
/// "battery.25", 0.65 "battery.50", 0.90 "battery.75", from there "battery.100").
QString batterySymbol(float battery, bool charging);
/// The level × 100 cut to a whole number, then "%" ("99%" for 0.999); a level out of 0…1 is clamped and one
/// that is not a number reads "—%".
QString batteryText(float battery);
bool batteryIsLow(float battery, bool charging);

/// Whole minutes of video that fit in the free space at the camera's current format: the rate is width ×
/// height × max(frame rate, 24) × 0.18 (standard profile) or 0.25 (others). None when the format gives no
/// rate (a zero-sized format): then only the free space is shown and the storage is never red. Never negative.
std::optional<std::int64_t> recordMinutesLeft(const CameraStatus& status);
/// A byte count as a file size, in decimal units ("10 GB", "153.6 MB", "Zero KB"); negative counts read as 0.
QString byteCountText(std::int64_t bytes);
/// The free space, and in video mode " · 29 min" or " · 2 h" (from 120 minutes on).
QString storageText(const CameraStatus& status);
/// Red at 9 minutes or less.
bool storageIsLow(const CameraStatus& status);

/// "Hot" (orange) at 2, "Too hot" (red) from 3; none below 2.
std::optional<std::pair<QString, FigureColor>> heatWarning(std::int64_t thermal);
/// Green up to 200, yellow to 240, red from 241.
FigureColor microphoneLevelColor(std::uint8_t level);

/// One item of the health line, in line order.
struct HealthItem {
    enum class Kind { microphone, battery, storage, heat, transfers } kind;
    QString symbol;
    QString text;
    FigureColor color = FigureColor::neutral;
    friend bool operator==(const HealthItem&, const HealthItem&) = default;
};
/// The items a status shows; the microphone only with a level. The files still to send read as the transfer row
/// says them (`transferRowFace`): on a remote that does not take captures, they wait "for a remote".
std::vector<HealthItem> healthItems(const CameraStatus& status, std::optional<std::uint8_t> audioLevel,
                                    bool takesCaptures);

/// The items that fit in `room`, each `width(item)` wide with `spacing` between: the transfers go first (the
/// transfer row shows them too), then the storage, the microphone and the battery; the heat warning last.
std::vector<HealthItem> healthItemsWithin(std::vector<HealthItem> items, qreal room, qreal spacing,
                                          const std::function<qreal(const HealthItem&)>& width);

/// The stats line: the stream figures, the exposure summary (with a status) and the link delay (" ms"),
/// joined by " · ".
QString statsLine(const std::string& stats, const std::optional<CameraStatus>& status, bool shutterAsAngle);
/// Orange from a link delay of 251 ms.
bool statsLineIsSlow(const std::optional<CameraStatus>& status);

}  // namespace morvane
