#pragma once

#include <QObject>
#include <QString>

#include <string>

namespace morvane {

class Defaults;

/// The Boolean display settings that the panels keep in the user defaults ("shutterAsAngle", "showGrid",
/// "showLevel", "controlsCollapsed", "hardwareShutter"), with a signal so that every view showing one follows
/// a change made anywhere (the angle switch of one camera's sheet turns angles on for every panel).
/// Main thread only.
class StoredSettings : public QObject {
    Q_OBJECT
public:
    static constexpr const char* shutterAsAngleKey = "shutterAsAngle";
    static constexpr const char* showGridKey = "showGrid";
    static constexpr const char* showLevelKey = "showLevel";
    static constexpr const char* controlsCollapsedKey = "controlsCollapsed";
    static constexpr const char* hardwareShutterKey = "hardwareShutter";

    explicit StoredSettings(Defaults& defaults, QObject* parent = nullptr);

    /// The application's settings over the standard user defaults.
    static StoredSettings& shared();
    /// The one instance over `defaults` that lives as long as `owner` (made on first use), so that every panel
    /// of a screen follows the same store.
    static StoredSettings& attachedTo(QObject& owner, Defaults& defaults);

    /// An absent value, or one that is not a Bool, reads as `fallback`.
    bool boolValue(const std::string& key, bool fallback = false) const;
    /// Stores the value and announces the change (nothing is announced when it was already stored).
    void setBool(const std::string& key, bool value);

    Defaults& defaults() const { return defaults_; }

signals:
    void changed(const QString& key);

private:
    Defaults& defaults_;
};

}  // namespace morvane
