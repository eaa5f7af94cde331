#pragma once

#include <QRectF>
#include <QString>

#include <optional>
#include <string>

#include "protocol/camera_status.h"

namespace morvane {

/// The transfer row's hold/resume face: "Pause" with "pause.fill", or "Send" with "play.fill" while paused.
struct TransferButtonFace {
    QString label;
    QString symbol;
    friend bool operator==(const TransferButtonFace&, const TransferButtonFace&) = default;
};
TransferButtonFace transferButtonFace(bool transfersPaused);
/// What the row says, and whether it offers to hold or resume. Where this remote does not take captures (a deck:
/// they go to a remote) and none is under way, the files wait "for a remote", and holding or resuming would send
/// nothing: none is offered.
struct TransferRowFace {
    std::string summary;
    bool offersHold = true;
    friend bool operator==(const TransferRowFace&, const TransferRowFace&) = default;
};
TransferRowFace transferRowFace(const CameraStatus& status, bool takesCaptures);
/// A transfer row shows while the status reports pending files; its file part while a file and its progress
/// are both known.
bool transferRowShown(const std::optional<CameraStatus>& status);
bool transferFileShown(const CameraStatus& status);

/// Where the row draws its parts between `left` and `right`: the summary at the trailing end, then from the
/// leading end the name, the file and the bar. Without room for all, the file goes first, then the bar, and
/// the name is cut ("…") last; no part ever lies over another. An empty rectangle is a part not drawn.
struct TransferRowPieces {
    QRectF name, file, bar, summary;
    friend bool operator==(const TransferRowPieces&, const TransferRowPieces&) = default;
};
struct TransferRowWidths {
    qreal name = 0;     ///< the whole name
    qreal file = 0;     ///< the whole file name
    qreal summary = 0;  ///< the summary
    bool fileShown = false;
};
constexpr qreal transferRowSpacing = 8, transferBarWidth = 90, transferFileMaxWidth = 180;
TransferRowPieces transferRowPieces(qreal left, qreal right, qreal height, const TransferRowWidths& widths);

}  // namespace morvane
