#include "app/transfer_row_rules.h"

#include <algorithm>

#include "camera_panels/status_texts.h"

namespace morvane {

TransferButtonFace transferButtonFace(bool transfersPaused) {
    if (transfersPaused) return {QStringLiteral("Send"), QStringLiteral("play.fill")};
    return {QStringLiteral("Pause"), QStringLiteral("pause.fill")};
}

TransferRowFace transferRowFace(const CameraStatus& status, bool takesCaptures) {
    if (takesCaptures || status.transferProgress) return {transferStatusLine(status).value_or(std::string()), true};
    return {std::to_string(status.pendingTransfers) + " waiting for a remote", false};
}

bool transferRowShown(const std::optional<CameraStatus>& status) {
    return status && status->pendingTransfers > 0;
}

bool transferFileShown(const CameraStatus& status) {
    return status.transferName.has_value() && status.transferProgress.has_value();
}

TransferRowPieces transferRowPieces(qreal left, qreal right, qreal height, const TransferRowWidths& widths) {
    constexpr qreal minimumName = 48, minimumShownName = 24, minimumFile = 40, barHeight = 4;
    const qreal spacing = transferRowSpacing;
    TransferRowPieces pieces;
    const qreal available = std::max<qreal>(right - left, 0);
    const qreal summary = std::min(widths.summary, available);
    if (summary > 0) pieces.summary = QRectF(right - summary, 0, summary, height);
    const qreal room = available - summary - spacing;  // for the name, the file and the bar
    if (room <= 0) return pieces;
    const bool bar = widths.fileShown && room >= std::min(widths.name, minimumName) + spacing + transferBarWidth;
    const qreal forName = room - (bar ? spacing + transferBarWidth : 0);
    // A name cut below a few letters says nothing: then none.
    const qreal name =
        std::min(widths.name, forName) >= std::min(widths.name, minimumShownName) ? std::min(widths.name, forName) : 0;
    qreal x = left;
    if (name > 0) {
        pieces.name = QRectF(x, 0, name, height);
        x += name + spacing;
    }
    const qreal leftover = forName - name - spacing;
    const qreal file = std::min({widths.file, transferFileMaxWidth, leftover});
    if (bar && file >= minimumFile) {
        pieces.file = QRectF(x, 0, file, height);
        x += file + spacing;
    }
    if (bar) pieces.bar = QRectF(x, height / 2 - barHeight / 2, transferBarWidth, barHeight);
    return pieces;
}

}  // namespace morvane
