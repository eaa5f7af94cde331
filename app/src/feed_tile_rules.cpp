#include "app/feed_tile_rules.h"

#include <algorithm>

namespace morvane {

TileBorder tileBorder(bool deckMode, bool onAir, bool isRecording, bool isSelected, bool showsChrome) {
    if (deckMode && onAir) return {TileBorder::Kind::onAir, 6, true};
    if (!deckMode && isRecording) return {TileBorder::Kind::recording, 4, true};
    if (isSelected && showsChrome) return {TileBorder::Kind::selected, 2, false};
    return {};
}

TileClick tileClick(bool isSelected, bool showsChrome) {
    return !isSelected && showsChrome ? TileClick::select : TileClick::focus;
}

std::optional<ExpandButtonFace> expandButtonFace(bool showsChrome, bool soloSet) {
    if (!showsChrome && !soloSet) return std::nullopt;
    if (soloSet) return ExpandButtonFace{QStringLiteral("arrow.down.right.and.arrow.up.left"), QStringLiteral("Show all cameras")};
    return ExpandButtonFace{QStringLiteral("arrow.up.left.and.arrow.down.right"), QStringLiteral("Expand")};
}

QString noPictureText(const std::string& name) {
    return QStringLiteral("No picture from ") + QString::fromStdString(name) + QStringLiteral(" · repairing…");
}

TileReadings tileReadings(const std::optional<CameraStatus>& status, bool hasScopePicture, bool showHistogram,
                          bool hasHistogram) {
    TileReadings readings;
    readings.loupe = status && status->loupe;
    readings.legend = status && status->falseColor;
    readings.scope = hasScopePicture && (!status || status->scope != ScopeKind::off);
    readings.histogram = showHistogram && hasHistogram;
    return readings;
}

ReadingsInsets readingsInsets(bool showsChrome, bool deckMode) {
    return {showsChrome ? 8.0 : 16.0, (showsChrome ? 52.0 : 76.0) + (deckMode ? 40.0 : 0.0)};
}

qreal chromeTopInset(bool deckMode) { return deckMode ? 48 : 8; }

qreal loupeSide(bool showsChrome) { return showsChrome ? 120 : 150; }

int deckBarNumber(const std::vector<PeerId>& order, const PeerId& camera) {
    const auto it = std::find(order.begin(), order.end(), camera);
    return it == order.end() ? 1 : static_cast<int>(it - order.begin()) + 1;
}

bool nextLoupeContours(const CameraStatus& status) { return !status.loupeContours; }

}  // namespace morvane
