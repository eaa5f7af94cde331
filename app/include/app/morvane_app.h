#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "app/monitor_screen.h"

class QKeyEvent;

namespace morvane {

class AppLogo;
class Defaults;

/// The window's scene phase: active while the application has focus, inactive while another application
/// has it, background while the window is hidden or minimised.
enum class ScenePhase { active, inactive, background };
ScenePhase scenePhaseOf(Qt::ApplicationState state);

/// Whether the privacy cover hides the window: only with the setting "useVault" on and the scene not active.
bool privacyCoverShown(bool useVault, ScenePhase phase);

/// Ctrl+Q, which quits from any window of the application.
bool isQuitKey(const QKeyEvent& event);

/// The roles a device can take. The desktop root never chooses one: it is always the remote.
enum class AppRole { camera, monitor, deck };

/// The root view: always the remote screen in the desktop configuration (no exit action, not the deck),
/// whatever `role` holds.
class ContentView : public QWidget {
    Q_OBJECT
public:
    explicit ContentView(MonitorScreenOptions options = {}, QWidget* parent = nullptr);
    MonitorScreen* monitorScreen() const { return screen_; }
    const std::optional<AppRole>& role() const { return role_; }

private:
    std::optional<AppRole> role_;
    MonitorScreen* screen_;
};

/// The owner of the deck configuration: the remote screen run as the deck (`isDeckPhone`: it starts in deck
/// mode, collects the cameras' deck copies and offers the takes list with its editor and export). Shown in
/// place of the desktop root by `brindlecroft --deck`; it gives no exit action, the window's own close and
/// Ctrl+Q end it.
class DeckRoot : public QWidget {
    Q_OBJECT
public:
    explicit DeckRoot(MonitorScreenOptions options = {}, QWidget* parent = nullptr);
    MonitorScreen* monitorScreen() const { return screen_; }

private:
    MonitorScreen* screen_;
};

/// The cover over the whole window while the application is not active and the vault is on: black to every
/// edge with the 96-point mark in its centre.
class PrivacyCover : public QWidget {
    Q_OBJECT
public:
    explicit PrivacyCover(QWidget* parent = nullptr);
    static constexpr int logoSize = 96;
    AppLogo* logo() const { return logo_; }

private:
    AppLogo* logo_;
};

/// The application object: one window whose content is the root view, with the privacy cover over it
/// following the scene phase. Made once, after the QApplication.
class MorvaneApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        /// What the remote screen is made with (tests and the screenshot program give their own parts).
        MonitorScreenOptions screen;
        /// Where "useVault" is read; the controller's settings when null.
        Defaults* defaults = nullptr;
        /// The window's first size, in points.
        QSize windowSize{1280, 800};
        /// The deck configuration (`DeckRoot`) in place of the desktop root.
        bool deck = false;
    };

    MorvaneApp();
    explicit MorvaneApp(Options options);
    ~MorvaneApp() override;

    /// The window (made hidden; `show` brings it up).
    QWidget* window() const { return window_; }
    /// The desktop root; null in the deck configuration.
    ContentView* contentView() const { return content_; }
    /// The deck configuration's root; null on the desktop.
    DeckRoot* deckRoot() const { return deck_; }
    MonitorScreen* monitorScreen() const;
    PrivacyCover* privacyCover() const { return cover_; }
    ScenePhase scenePhase() const { return phase_; }

    void show();
    /// Brings the window to the front: another start of the application asked for it.
    void bringToFront();

    /// Follows a new scene phase: recomputes the cover.
    void setScenePhase(ScenePhase phase);
    /// Recomputes the cover from "useVault" and the scene phase.
    void updatePrivacyCover();

    /// The reply of the device-owner authentication that the settings screen asks for before it changes
    /// "useVault": hands the success flag to `continuation` on the main thread, later; the error is not used.
    static void authenticationReply(bool success, const QString& error, std::function<void(bool)> continuation);

    static constexpr const char* useVaultKey = "useVault";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Defaults& defaults() const;

    QWidget* window_;
    ContentView* content_ = nullptr;
    DeckRoot* deck_ = nullptr;
    PrivacyCover* cover_;
    Defaults* defaults_;
    ScenePhase phase_ = ScenePhase::active;
};

}  // namespace morvane
