#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

#include "protocol/camera_command.h"
#include "protocol/camera_status.h"

class QWidget;

namespace morvane {

/// A pinch's zoom: the factor it asks for at a magnification, scaled from the zoom the camera reported when the
/// pinch began and kept between the camera's lowest lens (1 without lenses) and its largest zoom. The state
/// lives from the first change of a pinch to its end.
class PinchZoom {
public:
    /// The command for one change of the gesture; none without a status (the pinch is then ignored and nothing
    /// is remembered) or when the factor is not a number.
    std::optional<CameraCommand> change(const std::optional<CameraStatus>& status, double magnification);
    void end() { startZoom_.reset(); }
    const std::optional<double>& startZoom() const { return startZoom_; }

private:
    std::optional<double> startZoom_;
};

/// Puts pinch zoom on a picture widget: a touchpad pinch, or Ctrl with the wheel (each notch 10 %, the pinch
/// ending 0.3 s after the last notch), sends `setZoom` with `smooth` false through `send` for every change of
/// at least 0.01 in scale. Other gestures on the widget go on as before.
class PinchToZoom : public QObject {
    Q_OBJECT
public:
    PinchToZoom(QWidget* target, std::function<void(const CameraCommand&)> send);

    void setStatus(std::optional<CameraStatus> status) { status_ = std::move(status); }
    const std::optional<CameraStatus>& status() const { return status_; }

    /// The gesture's steps, also used by tests: a change of magnification (1 = fingers at their start), the end.
    void pinchChanged(double magnification);
    void pinchEnded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<CameraStatus> status_;
    std::function<void(const CameraCommand&)> send_;
    PinchZoom zoom_;
    double magnification_ = 1.0;
    std::optional<double> lastSent_;
    QTimer wheelEnd_;
};

}  // namespace morvane
