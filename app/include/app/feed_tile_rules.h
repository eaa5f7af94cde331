#pragma once

#include <QColor>
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

/// The deck bar's number: 1 + the camera's place in the camera order, 1 when it is not there.
int deckBarNumber(const std::vector<PeerId>& order, const PeerId& camera);

/// The contour switch of the loupe: the opposite of what the status the loupe was drawn from says.
bool nextLoupeContours(const CameraStatus& status);

}  // namespace morvane
