#pragma once

#include <QString>

#include <optional>

#include "protocol/camera_status.h"

namespace morvane {

/// The transfer row's hold/resume face: "Pause" with "pause.fill", or "Send" with "play.fill" while paused.
struct TransferButtonFace {
    QString label;
    QString symbol;
    friend bool operator==(const TransferButtonFace&, const TransferButtonFace&) = default;
};
TransferButtonFace transferButtonFace(bool transfersPaused);
/// A transfer row shows while the status reports pending files; its file part while a file and its progress
/// are both known.
bool transferRowShown(const std::optional<CameraStatus>& status);
bool transferFileShown(const CameraStatus& status);

}  // namespace morvane
