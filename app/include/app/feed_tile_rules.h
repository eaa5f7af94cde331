#pragma once

#include <QColor>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "link/peer_id.h"
#include "protocol/camera_status.h"

namespace morvane {

/// The outline of a tile: red inside the edge for the camera on air (deck mode, 6 points) or a recording
/// camera (otherwise, 4 points); the yellow 2-point outline centred on the edge for the selected tile among
/// several; or none. Red always wins.
struct TileBorder {
    enum class Kind { none, onAir, recording, selected } kind = Kind::none;
    qreal width = 0;
    bool insideEdge = false;
    friend bool operator==(const TileBorder&, const TileBorder&) = default;
};
TileBorder tileBorder(bool deckMode, bool onAir, bool isRecording, bool isSelected, bool showsChrome);

/// What a click on the picture does: select the camera (an unselected tile among several), or focus there.
enum class TileClick { select, focus };
TileClick tileClick(bool isSelected, bool showsChrome);

/// The expand/collapse button: shown with chrome or while a camera is solo.
struct ExpandButtonFace {
    QString symbol;
    QString label;
    friend bool operator==(const ExpandButtonFace&, const ExpandButtonFace&) = default;
};
std::optional<ExpandButtonFace> expandButtonFace(bool showsChrome, bool soloSet);

/// "No picture from Studio · repairing…"
QString noPictureText(const std::string& name);
/// What a tile says over its picture: "Reconnecting…" while the link to its camera is being made again (the tile
/// keeps its place and its last picture meanwhile), else the no-picture text while no picture comes, else nothing.
std::optional<QString> tileNotice(bool reconnecting, bool noPicture, const std::string& name);
/// The same notice in a shorter line, for a tile too small for the whole one: the tile names its camera.
QString shortTileNotice(bool reconnecting);

/// Where a tile's notice goes among its marks (the pills, the figures, the buttons, the readings, the badges and
/// the bars over it), each kept `tileNoticeClearance` clear: centred in the tile where it covers none of them,
/// else as near the centre as a free band above or below them allows; where the whole form has no room there,
/// the next of `forms` (their sizes, the whole first) is tried; where none has room it is left out.
constexpr qreal tileNoticeClearance = 6;
struct TileNoticePlace {
    std::size_t form = 0;
    QRectF place;
    friend bool operator==(const TileNoticePlace&, const TileNoticePlace&) = default;
};
std::optional<TileNoticePlace> tileNoticePlace(QSizeF tile, const std::vector<QSizeF>& forms,
                                               const std::vector<QRectF>& marks);
/// What a tile says while its camera's latest take has no sound.
QString noSoundText();

/// Which monitoring readings the tile shows, top to bottom.
struct TileReadings {
    bool loupe = false;
    bool legend = false;
    bool scope = false;
    bool histogram = false;
    friend bool operator==(const TileReadings&, const TileReadings&) = default;
};
/// A feed without a status shows a scope picture as soon as one exists; with a status, only while its scope
/// is on.
TileReadings tileReadings(const std::optional<CameraStatus>& status, bool hasScopePicture, bool showHistogram,
                          bool hasHistogram);

/// The readings column's distance from the tile's trailing and top edges.
struct ReadingsInsets {
    qreal trailing = 0;
    qreal top = 0;
    friend bool operator==(const ReadingsInsets&, const ReadingsInsets&) = default;
};
ReadingsInsets readingsInsets(bool showsChrome, bool deckMode);
/// The inset of the camera menu and of the expand button from the top (the deck bar is 40 high).
qreal chromeTopInset(bool deckMode);
/// The loupe's side.
qreal loupeSide(bool showsChrome);

/// The readings' own sizes at full scale.
constexpr QSizeF scopeReadingSize{168, 72};
constexpr QSizeF histogramReadingSize{128, 52};
constexpr qreal readingsSpacing = 8;

/// What of the wanted readings a tile shows in `room`, and at what scale (the legend never scales): all at
/// full size where they fit, else scaled down as far as half, else without the histogram, then the scope, then
/// the loupe, until they fit; the false-colour key goes last (first only where it cannot fit even alone).
struct ReadingsFit {
    TileReadings shown;
    qreal scale = 1;
    friend bool operator==(const ReadingsFit&, const ReadingsFit&) = default;
};
ReadingsFit fitReadings(const TileReadings& wanted, QSizeF room, qreal loupeSide, QSizeF legendSize);
/// The loupe's side at a scale: never below the least that keeps its contour switch whole.
constexpr qreal leastLoupeSide = 96;
qreal loupeSideAt(qreal side, qreal scale);
/// The column's size for those readings.
QSizeF readingsSize(const ReadingsFit& fit, qreal loupeSide, QSizeF legendSize);

/// What of the camera's pills shows in the `room` beside the expand button. Recording is the last thing a tile
/// gives up (in deck mode the red border means on air, not rolling): the name, whose menu is the camera's, is cut
/// with "…" as far as its least width first; then the recording time gives up its word ("REC") and keeps the
/// red dot with the time; then the name goes; the time stays. Widths are the pills' whole ones.
struct RecordingWidths {
    qreal whole = 0;  ///< "REC 00:07"
    qreal time = 0;   ///< "00:07"
};
struct PillsFit {
    enum class Recording { none, whole, time };
    Recording recording = Recording::none;
    qreal nameWidth = 0;  ///< 0: the name pill goes
    friend bool operator==(const PillsFit&, const PillsFit&) = default;
};
constexpr qreal leastNamePill = 72, pillSpacing = 6;
PillsFit fitPills(qreal room, std::optional<RecordingWidths> recording, qreal nameWidth);
/// The least the pills need: the recording time alone while recording, else the least name.
qreal leastPillsWidth(std::optional<RecordingWidths> recording, qreal nameWidth);

/// What of the figures shows in `room`: the stats line, cut with "…" down to its least width; the health line
/// only whole.
struct FiguresFit {
    bool statsLine = true;
    bool healthLine = true;
    qreal width = 0;
    friend bool operator==(const FiguresFit&, const FiguresFit&) = default;
};
constexpr qreal leastStatsLine = 90;
FiguresFit fitFigures(qreal room, std::optional<qreal> statsWidth, std::optional<qreal> healthWidth);

/// Where the "ON AIR" badge of `badge` size goes in a tile of `tile` size: top centre, 10 below the top edge,
/// where it clears the camera's pills (their trailing edge `pillsRight`) and the expand button (its leading
/// edge `expandLeft`) by 8; else, and in a tile without chrome, whose top the top bar covers, at the bottom
/// leading corner, 10 from both edges. In deck mode it stays at the top centre, under the deck bar, which
/// reads "ON AIR" itself.
constexpr qreal badgeTopInset = 10, badgeClearance = 8;
QRectF onAirBadgePlace(QSizeF tile, QSizeF badge, bool deckMode, bool showsChrome, qreal pillsRight, qreal expandLeft);

/// The deck bar's number: 1 + the camera's place in the camera order, 1 when it is not there.
int deckBarNumber(const std::vector<PeerId>& order, const PeerId& camera);

/// The contour switch of the loupe: the opposite of what the status the loupe was drawn from says.
bool nextLoupeContours(const CameraStatus& status);

}  // namespace morvane
