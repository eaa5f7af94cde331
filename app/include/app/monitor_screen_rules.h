#pragma once

#include <QColor>
#include <QMargins>
#include <QRect>
#include <QSize>
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
    bool liveCutOffered = false;  ///< `MonitorController.liveCutOffered`
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
QString deckSwitchAccessibilityLabel(bool deckMode, bool offered = false);
/// The deck switch's capsule and label: black on red while on; white on the buttons' dark material while off,
/// which a bright picture behind the bar cannot wash out.
struct DeckSwitchFace {
    QColor fill;
    QColor label;
    friend bool operator==(const DeckSwitchFace&, const DeckSwitchFace&) = default;
};
/// While the live cut is offered back (off, with a camera on air mid-take) it is black on amber.
DeckSwitchFace deckSwitchFace(bool deckMode, bool offered = false);
/// What a camera's number key says while the live cut is off.
QString liveCutOffNotice();
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

/// Insets of the bars from the screen's edges, the room between the bar column's items, and the room above and
/// below the transfer rows in their band.
constexpr int barInset = 16, barGap = 12, bandPadding = 8;
/// The one camera's figures in the bar column are cut to this width, so that the column claims the same room
/// whatever they read.
constexpr int columnFiguresWidth = 400;

/// How far down from a tile's top its deck bar, name and figures reach.
int tileTopZone(bool deckMode, bool showsChrome);
/// How far down from a tile's top its controls reach: the deck bar, the camera's menu and the expand button.
/// Below them a tile shows only its picture and readings.
int tileControlsZone(bool deckMode, bool showsChrome);
/// The least height a picture keeps however much the bars would take: its deck bar, name and figures with
/// some picture under them.
int leastTileHeight(bool deckMode);

/// What the bottom of the screen is laid out from: the window, the cameras and the person's choices, never
/// what the pictures show at their present size.
struct BottomInput {
    QSize content;     ///< the window less the camera settings column
    QMargins padding;  ///< `picturePadding`
    /// Every connected camera's transfer row keeps its room while the camera sends nothing: how many, how tall.
    int transferRows = 0;
    int transferRowHeight = 0;
    QSize column;          ///< the bar column as shown (the one camera's figures, the controls); empty: none
    QSize expandedColumn;  ///< the same with the controls expanded; empty without controls that expand
    PictureAreaKind kind = PictureAreaKind::feedGrid;
    std::size_t tiles = 0;  ///< shown cameras
    bool deckMode = false;
    bool showsChrome = false;
    int buttonsHeight = 0;  ///< the deck buttons' block
    int topBarBottom = 0;   ///< where the top bar ends; the inset alone while it is hidden
};

/// Where the bar column goes: over the pictures where it leaves each its least height above it; else in a band of
/// its own under them where they keep that height; else, in a window too small for it, over the pictures, which
/// keep their size (the expanded controls start collapsed there).
enum class ColumnPlace { floating, docked, over };
struct BottomLayout {
    ColumnPlace place = ColumnPlace::floating;
    int pictureBottom = 0;  ///< the picture area's bottom margin
    QRect column;           ///< where the column lies, in the content area
    QRect transfers;
    int transferColumns = 1;  ///< the rows side by side in `transfers`, in camera order line by line
    QRect keepOut;            ///< the part of the column over the pictures: the tiles keep their readings out of it
    /// Where heard words and notices may lie, taking no room: over the pictures, never over a control (the top
    /// bar, the tiles' controls, the deck buttons, the column, the transfer rows). A notice stands on its bottom,
    /// centred, as wide as it wants up to the room's width.
    QRect notices;
    /// Where a passing notice goes when those that stay leave it no room in `notices`: over the pictures of the row
    /// above, under their controls; empty with one row.
    QRect noticesAbove;
    bool roomForExpanded = true;  ///< the expanded controls fit this window without going over the pictures
    friend bool operator==(const BottomLayout&, const BottomLayout&) = default;
};
BottomLayout layoutBottom(const BottomInput& input);

/// Where the notices go in the notice room (`BottomLayout::notices`). Those that stay take a place of fixed
/// width standing on the room's bottom: the newest on its card, read whole, its buttons on its last line (the count
/// of the others, which opens their list, "Dismiss all", its close button), so that a notice coming or going moves
/// none of them; where that card does not fit, a bar of one line with the same buttons in the same places. Where
/// neither fits, the count of them alone, which opens their list: in the room beside the marks, else in the spare
/// room of the top bar; there is always a way to them where there is either. The passing notice stands whole above
/// them where it fits, else in the room above (`BottomLayout::noticesAbove`), else in the top bar's spare room, else
/// over them on the room's bottom; where it fits whole nowhere it is not drawn. It takes no clicks.
struct NoticeInput {
    QRect room;                  ///< `BottomLayout::notices`
    QRect roomAbove;             ///< `BottomLayout::noticesAbove`
    std::vector<QRect> marks;    ///< the tiles' marks ("ON AIR", "No sound") in the content: never covered
    int staying = 0;             ///< notices that stay
    int cardHeight = 0;          ///< the newest one's card at `stayingNoticeWidth(room.width())`
    int barHeight = 0;           ///< the bar of one line
    int passingHeight = 0;       ///< the passing notice at its width; 0: none
    QSize count;                 ///< the count alone
    QRect spare;                 ///< the top bar's room between its items; empty: none
    int passingSpareHeight = 0;  ///< the passing notice at the width of `passingSpare`
    friend bool operator==(const NoticeInput&, const NoticeInput&) = default;
};
struct NoticePlan {
    enum class Staying { none, card, bar, count };
    Staying staying = Staying::none;
    QRect stayingPlace;  ///< where the card, the bar or the count lies
    QRect passing;       ///< the room the passing notice stands on the bottom of; empty: it is not drawn
    friend bool operator==(const NoticePlan&, const NoticePlan&) = default;
};
NoticePlan placeNotices(const NoticeInput& input);
/// The part of the top bar's spare room a passing notice may take: beside the count of those that stay, which
/// stands at its leading end, whether it is there or not, so that neither moves the other.
QRect passingSpare(const QRect& spare, QSize count, int staying);
/// The width of the notices that stay in a room this wide: the same whatever they say, so that their buttons stay
/// where they are.
int stayingNoticeWidth(int roomWidth);
/// Room between notices, and between a notice and what it stands beside.
constexpr int noticeSpacing = 6;

/// Transfer rows stand side by side where each keeps this width, this far apart.
constexpr int leastTransferRowWidth = 220, transferSpacing = 4;
/// How many of `rows` transfer rows stand side by side in `width`, and the height they take.
int transferColumns(int width, int rows);
int transferRoom(int width, int rows, int rowHeight);

/// The camera settings column's width in a window this wide: 380, but no more than two fifths of a small
/// window, so that the pictures beside it keep room for their names and figures; 320 at least.
int settingsColumnWidth(int windowWidth);

}  // namespace morvane
