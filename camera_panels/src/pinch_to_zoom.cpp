#include "camera_panels/pinch_to_zoom.h"

#include <QNativeGestureEvent>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace morvane {

std::optional<CameraCommand> PinchZoom::change(const std::optional<CameraStatus>& status, double magnification) {
    if (!status) return std::nullopt;
    const double start = startZoom_.value_or(status->zoom);
    startZoom_ = start;
    double factor = start * magnification;
    const double lowest = status->lenses.empty() ? 1.0 : status->lenses.front();
    factor = std::max(factor, lowest);
    factor = std::min(status->maxZoom, factor);
    if (!std::isfinite(factor)) return std::nullopt;
    return CameraCommand{CameraCommand::SetZoom{factor, false}};
}

PinchToZoom::PinchToZoom(QWidget* target, std::function<void(const CameraCommand&)> send)
    : QObject(target), send_(std::move(send)) {
    target->installEventFilter(this);
    wheelEnd_.setSingleShot(true);
    wheelEnd_.setInterval(300);
    connect(&wheelEnd_, &QTimer::timeout, this, &PinchToZoom::pinchEnded);
}

void PinchToZoom::pinchChanged(double magnification) {
    // The platform reports changes of at least 0.01 in scale; smaller steps are not worth a command.
    if (lastSent_ && std::abs(magnification - *lastSent_) < 0.01) return;
    if (auto command = zoom_.change(status_, magnification)) {
        lastSent_ = magnification;
        if (send_) send_(*command);
    }
}

void PinchToZoom::pinchEnded() {
    zoom_.end();
    magnification_ = 1.0;
    lastSent_.reset();
}

bool PinchToZoom::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        switch (gesture->gestureType()) {
            case Qt::BeginNativeGesture:
                pinchEnded();
                return false;
            case Qt::ZoomNativeGesture:
                magnification_ *= 1.0 + gesture->value();
                pinchChanged(magnification_);
                return true;
            case Qt::EndNativeGesture:
                pinchEnded();
                return false;
            default:
                return false;
        }
    }
    if (event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (!(wheel->modifiers() & Qt::ControlModifier)) return false;
        const double notches = wheel->angleDelta().y() / 120.0;
        if (notches == 0) return true;
        magnification_ *= std::pow(1.1, notches);
        pinchChanged(magnification_);
        wheelEnd_.start();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace morvane
