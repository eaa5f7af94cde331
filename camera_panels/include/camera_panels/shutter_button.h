#pragma once

#include <QAbstractButton>
#include <QtMath>

#include "protocol/capture_settings.h"

namespace morvane {

/// The round shutter of the capture controls: a white ring with a red square while recording, a cross while
/// the self-timer runs, otherwise a disc, red in video mode and white in photo mode. A press emits `clicked`;
/// what it does is the creator's choice.
class ShutterButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Mark { stopSquare, cancelCross, videoDisc, photoDisc };

    explicit ShutterButton(QWidget* parent = nullptr);

    void setState(CaptureMode mode, bool isRecording, bool countingDown);
    /// Draws the whole button at a scale (the collapsed control bar uses 0.75 in a 58-point frame).
    void setDrawingScale(qreal scale);
    Mark mark() const { return mark(mode_, isRecording_, countingDown_); }

    /// The inner mark and the spoken label follow the same order: recording, then timer, then mode.
    static Mark mark(CaptureMode mode, bool isRecording, bool countingDown);
    static QString accessibilityLabel(CaptureMode mode, bool isRecording, bool countingDown);

    QSize sizeHint() const override { return {qCeil(76 * scale_), qCeil(76 * scale_)}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    CaptureMode mode_ = CaptureMode::photo;
    bool isRecording_ = false;
    bool countingDown_ = false;
    qreal scale_ = 1.0;
};

}  // namespace morvane
