#include "remote/live_readings.h"

namespace morvane {

// Readings are published on every assignment (as the cameras send them), also when the value repeats.

void LiveReadings::setRoll(std::optional<double> value) {
    roll_ = value;
    emit rollChanged();
    emit changed();
}

void LiveReadings::setAudioLevel(std::optional<std::uint8_t> value) {
    audioLevel_ = value;
    emit audioLevelChanged();
    emit changed();
}

void LiveReadings::setHistogram(std::optional<std::vector<std::uint8_t>> value) {
    histogram_ = std::move(value);
    emit histogramChanged();
    emit changed();
}

void LiveReadings::setScope(std::optional<ScopeImage> value) {
    scope_ = std::move(value);
    emit scopeChanged();
    emit changed();
}

void LiveReadings::setLoupe(QImage value) {
    loupe_ = std::move(value);
    emit loupeChanged();
    emit changed();
}

}  // namespace morvane
