#pragma once

#include <QDBusConnection>

#include <optional>

namespace morvane {

/// Keeps the display from sleeping while the remote screen shows, through the desktop's
/// org.freedesktop.ScreenSaver service on the session bus. Without a session bus, or without that service,
/// it does nothing. Main thread only.
class ScreenSaverInhibitor {
public:
    explicit ScreenSaverInhibitor(QDBusConnection bus = QDBusConnection::sessionBus());
    ~ScreenSaverInhibitor();
    ScreenSaverInhibitor(const ScreenSaverInhibitor&) = delete;
    ScreenSaverInhibitor& operator=(const ScreenSaverInhibitor&) = delete;

    static constexpr const char* serviceName = "org.freedesktop.ScreenSaver";
    static constexpr const char* objectPath = "/org/freedesktop/ScreenSaver";
    /// How long a call to the service may take before it is given up, in milliseconds.
    static constexpr int callTimeout = 1000;

    /// True holds the screensaver off (the idle timer disabled); false lets it run again.
    void setInhibited(bool inhibited);
    /// The service's cookie while the screensaver is held off.
    const std::optional<uint>& cookie() const { return cookie_; }

private:
    QDBusConnection bus_;
    std::optional<uint> cookie_;
};

}  // namespace morvane
