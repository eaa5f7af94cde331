#include "app/feed_tile_rules.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
    if (soloSet)
        return ExpandButtonFace{QStringLiteral("arrow.down.right.and.arrow.up.left"),
                                QStringLiteral("Show all cameras")};
    return ExpandButtonFace{QStringLiteral("arrow.up.left.and.arrow.down.right"), QStringLiteral("Expand")};
}

QString noPictureText(const std::string& name) {
    return QStringLiteral("No picture from ") + QString::fromStdString(name) + QStringLiteral(" · repairing…");
}

std::optional<QString> tileNotice(bool reconnecting, bool noPicture, const std::string& name) {
    if (reconnecting) return QStringLiteral("Reconnecting…");
    if (noPicture) return noPictureText(name);
    return std::nullopt;
}

QString shortTileNotice(bool reconnecting) {
    return reconnecting ? QStringLiteral("Reconnecting…") : QStringLiteral("No picture · repairing…");
}

std::optional<TileNoticePlace> tileNoticePlace(QSizeF tile, const std::vector<QSizeF>& forms,
                                               const std::vector<QRectF>& marks) {
    const qreal gap = tileNoticeClearance;
    for (std::size_t form = 0; form < forms.size(); ++form) {
        const QSizeF size = forms[form];
        if (size.width() > tile.width() - 2 * gap || size.height() > tile.height() - 2 * gap) continue;
        const qreal left = (tile.width() - size.width()) / 2;
        const qreal centred = (tile.height() - size.height()) / 2;
        // The marks across the notice's width, as bands of height it must keep out of.
        std::vector<std::pair<qreal, qreal>> taken;
        for (const QRectF& mark : marks)
            if (!mark.isEmpty() && mark.right() + gap > left && mark.left() - gap < left + size.width())
                taken.emplace_back(mark.top() - gap, mark.bottom() + gap);
        std::sort(taken.begin(), taken.end());
        // The free bands between them, top to bottom; the one whose nearest place lies nearest the centre wins.
        std::optional<qreal> best;
        qreal from = gap;
        auto consider = [&](qreal to) {
            if (to - from >= size.height()) {
                const qreal top = std::clamp(centred, from, to - size.height());
                if (!best || std::abs(top - centred) < std::abs(*best - centred)) best = top;
            }
        };
        for (const auto& [top, bottom] : taken) {
            consider(top);
            from = std::max(from, bottom);
        }
        consider(tile.height() - gap);
        if (best) return TileNoticePlace{form, QRectF(QPointF(left, *best), size)};
    }
    return std::nullopt;
}

QString noSoundText() {
    return QStringLiteral("No sound");
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

qreal chromeTopInset(bool deckMode) {
    return deckMode ? 48 : 8;
}

qreal loupeSide(bool showsChrome) {
    return showsChrome ? 120 : 150;
}

namespace {

struct ReadingItem {
    bool TileReadings::*which;
    QSizeF size;
    bool scales;
};

std::vector<ReadingItem> readingItems(qreal loupeSide, QSizeF legendSize) {
    return {{&TileReadings::loupe, {loupeSide, loupeSide}, true},
            {&TileReadings::legend, legendSize, false},
            {&TileReadings::scope, scopeReadingSize, true},
            {&TileReadings::histogram, histogramReadingSize, true}};
}

}  // namespace

qreal loupeSideAt(qreal side, qreal scale) {
    return std::max<qreal>(std::round(side * scale), std::min(side, leastLoupeSide));
}

QSizeF readingsSize(const ReadingsFit& fit, qreal loupeSide, QSizeF legendSize) {
    qreal width = 0, height = 0;
    int count = 0;
    for (const auto& item : readingItems(loupeSide, legendSize)) {
        if (!(fit.shown.*item.which)) continue;
        QSizeF size = item.size;
        if (item.which == &TileReadings::loupe) {
            size = QSizeF(loupeSideAt(loupeSide, fit.scale), loupeSideAt(loupeSide, fit.scale));
        } else if (item.scales) {
            size = QSizeF(std::round(item.size.width() * fit.scale), std::round(item.size.height() * fit.scale));
        }
        width = std::max(width, size.width());
        height += size.height();
        ++count;
    }
    return {width, height + readingsSpacing * std::max(count - 1, 0)};
}

ReadingsFit fitReadings(const TileReadings& wanted, QSizeF room, qreal loupeSide, QSizeF legendSize) {
    // Dropped in this order while they do not fit: the key goes last, as false colour cannot be read without it.
    bool TileReadings::*const dropOrder[] = {&TileReadings::histogram, &TileReadings::scope, &TileReadings::loupe,
                                             &TileReadings::legend};
    ReadingsFit fit{wanted, 1};
    // The legend does not scale: where it cannot fit even alone, it goes first.
    if (legendSize.width() > room.width() || legendSize.height() > room.height()) fit.shown.legend = false;
    for (std::size_t dropped = 0;; ++dropped) {
        for (int step = 0; step <= 10; ++step) {
            fit.scale = 1 - step * 0.05;
            const QSizeF size = readingsSize(fit, loupeSide, legendSize);
            if (size.width() <= room.width() && size.height() <= room.height()) return fit;
        }
        if (dropped == std::size(dropOrder)) return {};
        fit.shown.*dropOrder[dropped] = false;
    }
}

PillsFit fitPills(qreal room, std::optional<RecordingWidths> recording, qreal nameWidth) {
    using Recording = PillsFit::Recording;
    if (!recording) return {Recording::none, std::clamp<qreal>(nameWidth, 0, std::max<qreal>(room, 0))};
    const qreal leastName = std::min(nameWidth, leastNamePill);
    for (const auto& [face, width] :
         {std::pair{Recording::whole, recording->whole}, {Recording::time, recording->time}}) {
        if (width + pillSpacing + leastName <= room) return {face, std::min(nameWidth, room - width - pillSpacing)};
    }
    return {recording->whole <= room ? Recording::whole : Recording::time, 0};
}

qreal leastPillsWidth(std::optional<RecordingWidths> recording, qreal nameWidth) {
    return recording ? recording->time : std::min(nameWidth, leastNamePill);
}

FiguresFit fitFigures(qreal room, std::optional<qreal> statsWidth, std::optional<qreal> healthWidth) {
    FiguresFit fit;
    fit.statsLine = statsWidth && room >= std::min(*statsWidth, leastStatsLine);
    fit.healthLine = healthWidth && *healthWidth <= room;
    const qreal stats = fit.statsLine ? std::min(*statsWidth, room) : 0;
    fit.width = std::max(stats, fit.healthLine ? *healthWidth : 0);
    return fit;
}

QRectF onAirBadgePlace(QSizeF tile, QSizeF badge, bool deckMode, bool showsChrome, qreal pillsRight, qreal expandLeft) {
    const QRectF top(tile.width() / 2 - badge.width() / 2, badgeTopInset, badge.width(), badge.height());
    if (deckMode) return top;
    if (showsChrome && top.left() >= pillsRight + badgeClearance && top.right() <= expandLeft - badgeClearance)
        return top;
    return QRectF(badgeTopInset, tile.height() - badgeTopInset - badge.height(), badge.width(), badge.height());
}

int deckBarNumber(const std::vector<PeerId>& order, const PeerId& camera) {
    const auto it = std::find(order.begin(), order.end(), camera);
    return it == order.end() ? 1 : static_cast<int>(it - order.begin()) + 1;
}

bool nextLoupeContours(const CameraStatus& status) {
    return !status.loupeContours;
}

}  // namespace morvane
