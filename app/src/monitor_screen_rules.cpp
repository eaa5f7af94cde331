#include "app/monitor_screen_rules.h"

#include <algorithm>

#include "app/feed_tile_rules.h"
#include "platform/theme.h"

namespace morvane {

PictureAreaKind pictureAreaKind(const MonitorScreenState& state) {
    if (state.feeds == 0) return PictureAreaKind::nearbyCameras;
    if (state.deckMode && !state.livePictures) return PictureAreaKind::deckButtons;
    return PictureAreaKind::feedGrid;
}

QMargins picturePadding(const MonitorScreenState& state) {
    switch (pictureAreaKind(state)) {
        case PictureAreaKind::nearbyCameras:
            return {};
        case PictureAreaKind::deckButtons: {
            const int top = state.compact ? 52 : 72;
            const int bottom = state.isDeckPhone ? 76 : (state.compact ? 132 : 150);
            return {0, top, 0, bottom};
        }
        case PictureAreaKind::feedGrid: {
            // A soloed camera among several keeps its menu and its "Show all cameras" button at the top of its
            // tile; under a top bar that stays they would lie beneath the bar's buttons and could not be
            // clicked, so the grid keeps its room below the bar.
            const bool soloChromeUnderBar = state.soloed && state.feeds >= 2 && showsTopBar(state);
            // The deck bar runs along the top of every tile, a single one's too: under the bar its number,
            // name and "Put on air" would lie beneath the bar's buttons.
            const bool deckBarUnderBar = state.deckMode && showsTopBar(state);
            const int top = state.visibleFeeds >= 2 || soloChromeUnderBar || deckBarUnderBar ? 64 : 0;
            return {0, top, 0, state.isDeckPhone ? 76 : 0};
        }
    }
    return {};
}

bool showsTopBar(const MonitorScreenState& state) {
    if (!state.hasExit) return true;
    const bool picturesShowing = !state.deckMode || state.livePictures;
    return !(state.soloed && state.feeds >= 2 && picturesShowing);
}

std::vector<ToolbarItem> toolbarItems(const MonitorScreenState& state) {
    std::vector<ToolbarItem> items;
    items.push_back(state.hasExit ? ToolbarItem::close : ToolbarItem::settings);
    if (state.feeds == 1) items.push_back(ToolbarItem::singleFeedPills);
    if (!state.hasExit) items.push_back(ToolbarItem::deckSwitch);
    if (state.isDeckPhone) items.push_back(ToolbarItem::takes);
    if (state.deckMode) items.push_back(ToolbarItem::livePictures);
    if (!state.hasExit) items.push_back(ToolbarItem::nearbyDevices);
    if (state.importsFiles) items.push_back(ToolbarItem::openShootFolder);
    if (state.feeds > 0) items.push_back(ToolbarItem::cameras);
    return items;
}

ControlsKind controlsKind(const MonitorScreenState& state) {
    if (state.isDeckPhone && state.feeds > 0) return ControlsKind::deckControls;
    if (state.cameraSelected) return ControlsKind::selectedFeedControls;
    return ControlsKind::none;
}

std::string livePicturesSymbol(bool livePictures) {
    return livePictures ? "eye" : "eye.slash";
}

QString livePicturesLabel(bool livePictures) {
    return livePictures ? QStringLiteral("Hide live pictures") : QStringLiteral("Show live pictures");
}

QString deckSwitchAccessibilityLabel(bool deckMode) {
    return deckMode ? QStringLiteral("Podcast deck on: click a camera to put it on air")
                    : QStringLiteral("Podcast deck");
}

DeckSwitchFace deckSwitchFace(bool deckMode) {
    if (deckMode) return {theme::red(), theme::black()};
    return {theme::ultraThinMaterial(), theme::white()};
}

QString nearbyDevicesLabel() {
    return QStringLiteral("Nearby devices");
}

QString arrivingCopiesBadge(int deckCopiesArriving) {
    if (deckCopiesArriving <= 0) return {};
    return QString::number(deckCopiesArriving);
}

TopBarFit fitTopBar(qreal width, qreal others, qreal deckWordWidth, bool wantsPills, qreal pillsLeast) {
    if (!wantsPills) return {false, 0, others <= width};
    const qreal room = width - others;
    if (room >= pillsLeast) return {true, room, true};
    if (room + deckWordWidth >= pillsLeast) return {true, room + deckWordWidth, false};
    return {false, 0, others <= width};
}

QString pairingAlertTitle() {
    return QStringLiteral("Confirm pairing code");
}

QString pairingAlertMessage(const CameraLink::PairingRequest& request) {
    return QStringLiteral("Camera: “") + QString::fromStdString(request.name) + QStringLiteral("”\n\nCode: ") +
           QString::fromStdString(request.code) +
           QStringLiteral("\n\nCheck the camera shows the same code, then accept on both computers.");
}

bool controlsCollapsedByDefault(int width, int height) {
    return width < roomyControlsWidth || height < roomyControlsHeight;
}

int settingsColumnWidth(int windowWidth) {
    constexpr int ideal = 380, least = 320;
    return std::max(std::min(ideal, windowWidth * 2 / 5), least);
}

QString cameraShortcutTitle(int number) {
    return QStringLiteral("Camera %1 on air").arg(number);
}

}  // namespace morvane
