#pragma once

#include <QColor>
#include <QMargins>
#include <QString>

#include <cstddef>
#include <string>
#include <vector>

#include "remote/camera_link.h"

namespace morvane {

/// What the remote screen's layout and top bar depend on, read from the screen and its controller.
struct MonitorScreenState {
    bool hasExit = false;          ///< `onExit` given (deck configuration only)
    bool isDeckPhone = false;      ///< the deck configuration
    std::size_t feeds = 0;         ///< connected cameras
    std::size_t visibleFeeds = 0;  ///< cameras shown (all, or the soloed one)
    bool soloed = false;           ///< a camera is soloed
    bool deckMode = false;
    bool livePictures = true;
    bool compact = false;         ///< the window's height is compact
    bool importsFiles = true;     ///< the setting "importsFiles"
    bool cameraSelected = false;  ///< `MonitorController.selectedFeed` present
    friend bool operator==(const MonitorScreenState&, const MonitorScreenState&) = default;
};

/// What fills the picture area.
enum class PictureAreaKind { nearbyCameras, deckButtons, feedGrid };
PictureAreaKind pictureAreaKind(const MonitorScreenState& state);
/// Padding around the picture area's content, in points (only top and bottom are ever set).
QMargins picturePadding(const MonitorScreenState& state);

/// Whether the top bar shows (always in the desktop configuration).
bool showsTopBar(const MonitorScreenState& state);

/// The items of the top bar, left to right; flexible space stands between the first and the rest.
enum class ToolbarItem {
    close,
    settings,
    singleFeedPills,
    deckSwitch,
    takes,
    livePictures,
    nearbyDevices,
    openShootFolder,
    cameras
};
std::vector<ToolbarItem> toolbarItems(const MonitorScreenState& state);

/// The camera controls at the bottom of the bar column.
enum class ControlsKind { none, deckControls, selectedFeedControls };
ControlsKind controlsKind(const MonitorScreenState& state);
/// Picture statistics show only while exactly one camera is connected.
inline bool showsFeedStats(const MonitorScreenState& state) {
    return state.feeds == 1;
}

// Texts and symbols of the top bar.
std::string livePicturesSymbol(bool livePictures);
QString livePicturesLabel(bool livePictures);
QString deckSwitchAccessibilityLabel(bool deckMode);
/// The deck switch's capsule and label: black on red while on; white on the buttons' dark material while off,
/// which a bright picture behind the bar cannot wash out.
struct DeckSwitchFace {
    QColor fill;
    QColor label;
    friend bool operator==(const DeckSwitchFace&, const DeckSwitchFace&) = default;
};
DeckSwitchFace deckSwitchFace(bool deckMode);
QString nearbyDevicesLabel();
/// The arriving-copies badge: none at 0 or below, the number above.
QString arrivingCopiesBadge(int deckCopiesArriving);

/// What of the top bar shows in `width` points when its other items take `others` (spacing in): the camera's
/// pills get the room left, at least their least width `pillsLeast` (`leastPillsWidth`); for that the deck switch
/// gives up its word ("Deck"),
/// `deckWordWidth` wide, and keeps its symbol; without even that room the pills go.
struct TopBarFit {
    bool pills = false;
    qreal pillsRoom = 0;
    bool deckWord = true;
    friend bool operator==(const TopBarFit&, const TopBarFit&) = default;
};
TopBarFit fitTopBar(qreal width, qreal others, qreal deckWordWidth, bool wantsPills, qreal pillsLeast);

/// The pairing alert.
QString pairingAlertTitle();
QString pairingAlertMessage(const CameraLink::PairingRequest& request);

/// The title of the N-th camera shortcut ("Camera 3 on air"); keys 1 to 4 while the deck is on.
QString cameraShortcutTitle(int number);
constexpr int cameraShortcutCount = 4;

/// A window whose height is below this is compact.
constexpr int compactHeightLimit = 500;

/// The camera controls start collapsed in a screen smaller than this either way: expanded, they would cover
/// most of the lower cameras and their deck bars.
constexpr int roomyControlsWidth = 1000;
constexpr int roomyControlsHeight = 650;
bool controlsCollapsedByDefault(int width, int height);

/// The camera settings column's width in a window this wide: 380, but no more than two fifths of a small
/// window, so that the pictures beside it keep room for their names and figures; 320 at least.
int settingsColumnWidth(int windowWidth);

}  // namespace morvane
