#include "app/health_line_rules.h"

#include "app/transfer_row_rules.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "camera_panels/status_texts.h"
#include "protocol/timeline_rate.h"

namespace morvane {

QString batterySymbol(float battery, bool charging) {
    if (charging) return QStringLiteral("battery.100.bolt");
    if (battery < 0.15f) return QStringLiteral("battery.0");
    if (battery < 0.40f) return QStringLiteral("battery.25");
    if (battery < 0.65f) return QStringLiteral("battery.50");
    if (battery < 0.90f) return QStringLiteral("battery.75");
    if (std::isnan(battery)) return QStringLiteral("battery.0");
    return QStringLiteral("battery.100");
}

QString batteryText(float battery) {
    if (std::isnan(battery)) return QStringLiteral("—%");
    // In single precision, as the camera reports it: 0.65 reads 65, not 64.
    const float percent = std::clamp(battery, 0.0f, 1.0f) * 100.0f;
    return QString::fromStdString(wholeNumberText(wholeNumber(percent))) + QStringLiteral("%");
}

bool batteryIsLow(float battery, bool charging) {
    return !charging && battery < 0.2f;
}

std::optional<std::int64_t> recordMinutesLeft(const CameraStatus& status) {
    // In doubles: a camera's width and height could overflow an integer product.
    const double frameRate = std::max<double>(static_cast<double>(status.frameRate), 24.0);
    const double factor = status.colorProfile == ColorProfile::standard ? 0.18 : 0.25;
    const double rate = static_cast<double>(status.resolution.width) * static_cast<double>(status.resolution.height) *
                        frameRate * factor;
    if (!(rate > 0) || !std::isfinite(rate) || status.resolution.width <= 0 || status.resolution.height <= 0)
        return std::nullopt;
    const double minutes = static_cast<double>(std::max<std::int64_t>(status.freeBytes, 0)) * 8.0 / rate / 60.0;
    return std::max<std::int64_t>(wholeNumber(minutes).value_or(std::numeric_limits<std::int64_t>::max()), 0);
}

QString byteCountText(std::int64_t bytes) {
    if (bytes <= 0) return QStringLiteral("Zero KB");
    if (bytes < 1000) return QString::number(bytes) + (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    while (value >= 1000.0 && unit < 5) {
        value /= 1000.0;
        ++unit;
    }
    // Kilobytes without decimals, megabytes with one, larger units with two; trailing zeros dropped.
    int decimals = unit == 0 ? 0 : unit == 1 ? 1 : 2;
    const double scale = std::pow(10.0, decimals);
    double rounded = std::round(value * scale) / scale;
    if (rounded >= 1000.0 && unit < 5) {
        rounded = 1.0;
        ++unit;
        decimals = unit == 1 ? 1 : 2;
    }
    QString text = QString::number(rounded, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0'))) text.chop(1);
        if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    }
    return text + QLatin1Char(' ') + QString::fromLatin1(units[unit]);
}

QString storageText(const CameraStatus& status) {
    QString text = byteCountText(status.freeBytes);
    if (status.mode != CaptureMode::video) return text;
    const auto minutes = recordMinutesLeft(status);
    if (!minutes) return text;
    text += QStringLiteral(" · ");
    if (*minutes >= 120) return text + QString::number(*minutes / 60) + QStringLiteral(" h");
    return text + QString::number(*minutes) + QStringLiteral(" min");
}

bool storageIsLow(const CameraStatus& status) {
    const auto minutes = recordMinutesLeft(status);
    return minutes && *minutes <= 9;
}

std::optional<std::pair<QString, FigureColor>> heatWarning(std::int64_t thermal) {
    if (thermal < 2) return std::nullopt;
    if (thermal == 2) return std::pair{QStringLiteral("Hot"), FigureColor::orange};
    return std::pair{QStringLiteral("Too hot"), FigureColor::red};
}

FigureColor microphoneLevelColor(std::uint8_t level) {
    if (level <= 200) return FigureColor::green;
    if (level <= 240) return FigureColor::yellow;
    return FigureColor::red;
}

std::vector<HealthItem> healthItems(const CameraStatus& status, std::optional<std::uint8_t> audioLevel,
                                    bool takesCaptures) {
    using Kind = HealthItem::Kind;
    std::vector<HealthItem> items;
    if (audioLevel)
        items.push_back({Kind::microphone, QStringLiteral("mic.fill"), QString(), microphoneLevelColor(*audioLevel)});
    if (status.battery)
        items.push_back({Kind::battery, batterySymbol(*status.battery, status.charging), batteryText(*status.battery),
                         batteryIsLow(*status.battery, status.charging) ? FigureColor::red : FigureColor::neutral});
    items.push_back({Kind::storage, QStringLiteral("internaldrive"), storageText(status),
                     storageIsLow(status) ? FigureColor::red : FigureColor::neutral});
    if (auto heat = heatWarning(status.thermal))
        items.push_back({Kind::heat, QStringLiteral("thermometer.high"), heat->first, heat->second});
    if (transferRowShown(status))
        items.push_back({Kind::transfers, QStringLiteral("arrow.up.circle"),
                         QString::fromStdString(transferRowFace(status, takesCaptures).summary),
                         status.transferProgress ? FigureColor::green : FigureColor::neutral});
    return items;
}

QString statsLine(const std::string& stats, const std::optional<CameraStatus>& status, bool shutterAsAngle) {
    QStringList parts{QString::fromStdString(stats)};
    if (status) {
        const double fps = status->mode == CaptureMode::video ? TimelineRate::fps(status->frameRate, status->ntsc) : 0;
        parts << QString::fromStdString(exposureSummary(status->liveISO, status->liveShutter, fps, shutterAsAngle));
        if (status->linkDelayMs) parts << QString::number(*status->linkDelayMs) + QStringLiteral(" ms");
    }
    return parts.join(QStringLiteral(" · "));
}

bool statsLineIsSlow(const std::optional<CameraStatus>& status) {
    return status && status->linkDelayMs && *status->linkDelayMs >= 251;
}

std::vector<HealthItem> healthItemsWithin(std::vector<HealthItem> items, qreal room, qreal spacing,
                                          const std::function<qreal(const HealthItem&)>& width) {
    using Kind = HealthItem::Kind;
    auto total = [&] {
        qreal w = 0;
        for (const auto& item : items) w += width(item) + spacing;
        return items.empty() ? 0 : w - spacing;
    };
    for (Kind kind : {Kind::transfers, Kind::storage, Kind::microphone, Kind::battery, Kind::heat}) {
        if (total() <= room) break;
        std::erase_if(items, [&](const HealthItem& item) { return item.kind == kind; });
    }
    return items;
}

}  // namespace morvane
