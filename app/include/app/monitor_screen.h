#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>

#include "app/monitor_screen_rules.h"
#include "app/press_clock.h"
#include "remote/monitor_controller.h"

class QMessageBox;
class QUrl;
class QShortcut;
class QVBoxLayout;

namespace morvane {

class HeardLine;
class LargeSheet;
class MonitorToolbar;
class ScreenSaverInhibitor;
class CaptureControls;
class SelectedFeedControls;
class SheetDialog;
class NoticeBand;
class StayingNotices;

/// How the remote screen is made.
struct MonitorScreenOptions {
    /// Present only in the deck configuration: the top bar's close button calls it.
    std::function<void()> onExit;
    /// The deck configuration: the controller starts in deck mode and collects deck copies.
    bool isDeckPhone = false;
    /// What the controller reaches outside itself; the application's own where left empty.
    MonitorEnvironment environment;
    /// The application-wide link (the application); tests give the controller a link of its own.
    bool sharedLink = true;
    /// Inhibits the screensaver while shown; none in tests that do not want the session bus.
    std::function<std::unique_ptr<ScreenSaverInhibitor>()> makeInhibitor;
    /// Opens a folder or address with the system; the desktop's own opener when left empty.
    std::function<void(const QUrl&)> openURL;
};

/// The remote's one screen. It owns the remote's `MonitorController` for its lifetime, starts it when shown
/// and stops it when it goes away, and lays out on black: the picture area (the nearby cameras while none is
/// connected, the deck buttons in deck mode without live pictures, else the feed grid) and over it the bars
/// (top bar at the top; transfers, heard words, message, picture statistics and camera controls at the
/// bottom). It keeps only presentation flags; everything else is the controller's.
///
/// The views that other parts of the application build plug in through the `make…` functions of
/// monitor_screen_slots.cpp, one per slot; an empty slot shows nothing.
class MonitorScreen : public QWidget {
    Q_OBJECT
public:
    using FeedPtr = MonitorController::FeedPtr;

    explicit MonitorScreen(MonitorScreenOptions options = {}, QWidget* parent = nullptr);
    ~MonitorScreen() override;

    MonitorController& controller() const { return *controller_; }
    const std::shared_ptr<MonitorController>& sharedController() const { return controller_; }
    bool isDeckPhone() const { return isDeckPhone_; }
    bool hasExit() const { return static_cast<bool>(onExit_); }

    // Presentation flags: set by the bars and controls, cleared by the presentations themselves.
    bool showSettings() const { return showSettings_; }
    void setShowSettings(bool value);
    bool showCameras() const { return showCameras_; }
    void setShowCameras(bool value);
    const FeedPtr& galleryFeed() const { return galleryFeed_; }
    void setGalleryFeed(FeedPtr feed);
    bool showCameraSettings() const { return showCameraSettings_; }
    void setShowCameraSettings(bool value);
    bool showNetwork() const { return showNetwork_; }
    void setShowNetwork(bool value);
    bool showTakes() const { return showTakes_; }
    void setShowTakes(bool value);

    /// The state the layout and the top bar follow now.
    MonitorScreenState state() const;
    /// A compact window height (the vertical size class).
    bool isCompact() const;

    /// The screen appears: the screensaver is held off and the controller starts.
    void onAppearAction();
    /// The screen goes away: the screensaver is allowed again and the controller stops.
    void onDisappearAction();
    bool isShownAsScreen() const { return appeared_; }

    // Parts, for tests and the screenshot program.
    MonitorToolbar* toolbar() const { return toolbar_; }
    QWidget* pictureArea() const { return pictureHost_; }
    /// The view that fills the picture area now (null while its slot is empty).
    QWidget* pictureView() const { return pictureView_; }
    PictureAreaKind pictureKind() const { return pictureKind_; }
    QWidget* bottomColumn() const { return bottom_; }
    /// The heard words and the status message, over the pictures.
    QWidget* messageLayer() const { return messages_; }
    /// The notices that stay until read, in their own layer.
    StayingNotices* stayingNotices() const { return stayingNotices_; }
    /// Where the notices went at the last layout.
    const NoticePlan& noticePlan() const { return noticePlan_; }
    /// Where the bottom of the screen was laid out last.
    const BottomLayout& bottomLayout() const { return bottomLayout_; }
    QMessageBox* pairingAlert() const;
    SheetDialog* openSheet() const;
    QWidget* inspector() const { return inspector_; }
    QWidget* sheetBackdrop() const { return backdrop_; }
    LargeSheet* takesSheet() const { return takesSheet_; }
    const std::vector<QShortcut*>& cameraShortcuts() const { return shortcuts_; }
    ScreenSaverInhibitor* inhibitor() const { return inhibitor_.get(); }

    /// Today's shoot-day folder, made when missing; what the folder button opens.
    static std::filesystem::path todaysShootFolder(const MonitorController& controller);

    /// Insets of the bar column from the screen's edges (the platform's standard padding).
    static constexpr int barPadding = barInset;
    static constexpr int barSpacing = barGap;
    /// Room above and below the transfer rows in their band, and between rows.
    static constexpr int transferBandPadding = bandPadding;
    static constexpr int transferSpacing = ::morvane::transferSpacing;
    static constexpr int inspectorMinimumWidth = 320;
    static constexpr int inspectorIdealWidth = 380;
    static constexpr int inspectorMaximumWidth = 460;

signals:
    /// A presentation flag changed.
    void presentationChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Slots filled by other views (monitor_screen_slots.cpp).
    QWidget* makeNearbyCamerasView();
    QWidget* makeDeckButtons(bool compact);
    QWidget* makeFeedGrid();
    QWidget* makeSingleFeedPills(const FeedPtr& feed);
    QWidget* makeTransferRow(const FeedPtr& feed);
    QWidget* makeFeedStats(const FeedPtr& feed);
    QWidget* makeDeckControls();
    QWidget* makeSelectedFeedControls(const FeedPtr& feed, std::function<void()> openGallery,
                                      std::function<void()> openSettings);
    QWidget* makeSelectedFeedSettings(const FeedPtr& feed);
    QWidget* makeGalleryView(const FeedPtr& feed);
    QWidget* makeSettingsView();
    QWidget* makeNetworkView();
    QWidget* makeTakesView();
    QWidget* makeCamerasSheet();

    void buildBars();
    void buildShortcuts();
    void observeController();
    void scheduleRefresh();
    void refresh();
    void refreshPictureArea(const MonitorScreenState& state);
    void refreshBottom(const MonitorScreenState& state);
    void refreshInspector();
    /// Tab follows the screen: the top bar left to right, the tiles in grid order, the bar column, the
    /// settings column.
    void orderTabs();
    void refreshPairingAlert();
    /// The tiles' marks ("ON AIR", "No sound") in the screen: notices keep off them.
    /// The top bar's room between its first item and the rest, in the screen; empty without one.
    QRect topBarSpare() const;
    std::vector<QRect> tileMarks();
    void layoutLayers();
    /// The backdrop under an open sheet and the Esc key of the camera settings column.
    void refreshPresentationLayers();
    /// The selected camera's controls, while shown.
    SelectedFeedControls* selectedFeedControls() const;
    /// What the bottom of the screen is laid out from now.
    BottomInput bottomInput(int contentWidth) const;
    /// The width beside the camera settings column, and the one camera's figures' width in the bar column.
    int contentWidth() const;
    int figuresColumnWidth() const;
    /// The bar column's size with the figures (while shown) and controls of that size.
    QSize barColumn(std::optional<QSize> controls) const;
    /// Whether the window has room for `panel` expanded beside the pictures rather than over them.
    bool roomForExpanded(const CaptureControls& panel) const;
    void updateBarMasks();
    /// The transfer rows side by side, `columns` to a line, in camera order.
    void placeTransferRows(int columns);
    void presentSheet(QPointer<SheetDialog>& slot, QWidget* content, const QString& title, bool doneButton,
                      std::function<void()> clear);
    void dismissSheet(QPointer<SheetDialog>& slot);
    void openShootFolder();
    /// When the press being handled was made: what every control that cuts or marks hands the controller.
    PressMoment pressMoment() const;

    std::function<void()> onExit_;
    bool isDeckPhone_;
    std::shared_ptr<MonitorController> controller_;
    std::function<std::unique_ptr<ScreenSaverInhibitor>()> makeInhibitor_;
    std::unique_ptr<ScreenSaverInhibitor> inhibitor_;
    std::function<void(const QUrl&)> openURL_;

    bool showSettings_ = false;
    bool showCameras_ = false;
    FeedPtr galleryFeed_;
    bool showCameraSettings_ = false;
    bool showNetwork_ = false;
    bool showTakes_ = false;
    bool appeared_ = false;
    bool refreshScheduled_ = false;
    bool layoutScheduled_ = false;

    // Layer 2.
    QWidget* pictureHost_ = nullptr;
    QPointer<QWidget> pictureView_;
    PictureAreaKind pictureKind_ = PictureAreaKind::nearbyCameras;
    bool pictureBuilt_ = false;
    bool pictureCompact_ = false;
    QMargins picturePadding_;
    // Layer 3.
    MonitorToolbar* toolbar_ = nullptr;
    std::optional<PeerId> pillsFeed_;
    QWidget* bottom_ = nullptr;
    QVBoxLayout* bottomColumn_ = nullptr;
    QWidget* messages_ = nullptr;
    BottomLayout bottomLayout_;
    QWidget* transfers_ = nullptr;
    std::map<PeerId, QPointer<QWidget>> transferRows_;
    int transferColumns_ = 0;
    HeardLine* heard_ = nullptr;
    NoticeBand* passingNotices_ = nullptr;
    StayingNotices* stayingNotices_ = nullptr;
    NoticePlan noticePlan_;
    QPointer<QWidget> stats_;
    std::optional<PeerId> statsFeed_;
    QPointer<QWidget> controls_;
    ControlsKind controlsKind_ = ControlsKind::none;
    std::optional<PeerId> controlsFeed_;
    // Presentations.
    QWidget* backdrop_ = nullptr;
    QShortcut* inspectorEscape_ = nullptr;
    QPointer<SheetDialog> gallerySheet_;
    QPointer<SheetDialog> settingsSheet_;
    QPointer<SheetDialog> networkSheet_;
    QPointer<SheetDialog> camerasSheet_;
    LargeSheet* takesSheet_ = nullptr;
    QWidget* inspector_ = nullptr;
    QPointer<QWidget> inspectorContent_;
    std::optional<PeerId> inspectorFeed_;
    QPointer<QMessageBox> pairingAlert_;
    std::vector<QShortcut*> shortcuts_;
    QPointer<PressTimes> presses_;
};

}  // namespace morvane
