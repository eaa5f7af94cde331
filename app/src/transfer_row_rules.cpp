#include "app/transfer_row_rules.h"

namespace morvane {

TransferButtonFace transferButtonFace(bool transfersPaused) {
    if (transfersPaused) return {QStringLiteral("Send"), QStringLiteral("play.fill")};
    return {QStringLiteral("Pause"), QStringLiteral("pause.fill")};
}

bool transferRowShown(const std::optional<CameraStatus>& status) {
    return status && status->pendingTransfers > 0;
}

bool transferFileShown(const CameraStatus& status) {
    return status.transferName.has_value() && status.transferProgress.has_value();
}

}  // namespace morvane
