#pragma once

#include <QImage>
#include <QObject>

#include <cstdint>
#include <optional>
#include <vector>

#include "remote/scope_image.h"

namespace morvane {

/// One camera's fast-changing readings, apart from its feed so that a new reading redraws only the views
/// that show it. Main thread only; every field starts as none.
class LiveReadings : public QObject {
    Q_OBJECT
public:
    explicit LiveReadings(QObject* parent = nullptr) : QObject(parent) {}

    /// Tilt in degrees.
    const std::optional<double>& roll() const { return roll_; }
    const std::optional<std::uint8_t>& audioLevel() const { return audioLevel_; }
    const std::optional<std::vector<std::uint8_t>>& histogram() const { return histogram_; }
    const std::optional<ScopeImage>& scope() const { return scope_; }
    /// The focus loupe picture; a null image stands for none.
    const QImage& loupe() const { return loupe_; }

    void setRoll(std::optional<double> value);
    void setAudioLevel(std::optional<std::uint8_t> value);
    void setHistogram(std::optional<std::vector<std::uint8_t>> value);
    void setScope(std::optional<ScopeImage> value);
    void setLoupe(QImage value);

signals:
    void rollChanged();
    void audioLevelChanged();
    void histogramChanged();
    void scopeChanged();
    void loupeChanged();
    /// Any reading changed (what a view that follows all of them listens to).
    void changed();

private:
    std::optional<double> roll_;
    std::optional<std::uint8_t> audioLevel_;
    std::optional<std::vector<std::uint8_t>> histogram_;
    std::optional<ScopeImage> scope_;
    QImage loupe_;
};

}  // namespace morvane
