// Where the remote screen plugs in the views that other parts of the application build: one function per
// slot, each called with the arguments its view takes. A function that returns null leaves its slot empty
// (nothing is drawn in its place) until its view exists.
//
//   picture area:   makeNearbyCamerasView, makeDeckButtons, makeFeedGrid
//   top bar:        makeSingleFeedPills
//   bar column:     makeTransferRow, makeFeedStats, makeDeckControls, makeSelectedFeedControls
//   inspector:      makeSelectedFeedSettings (its CameraSettingsView)
//   sheets:         makeGalleryView, makeSettingsView, makeNetworkView, makeCamerasSheet
//   large sheet:    makeTakesView

#include "app/deck_buttons.h"
#include "app/deck_controls.h"
#include "app/feed_grid.h"
#include "app/feed_stats.h"
#include "app/monitor_screen.h"
#include "app/nearby_cameras_view.h"
#include "app/selected_feed_controls.h"
#include "app/selected_feed_settings.h"
#include "app/settings_view.h"
#include "app/single_feed_pills.h"
#include "app/transfer_row.h"
#include "camera_panels/gallery_view.h"
#include "deck_ui/takes/takes_view.h"
#include "platform/theme.h"

namespace morvane {

// MARK: Picture area

/// No camera connected: the nearby cameras.
QWidget* MonitorScreen::makeNearbyCamerasView() {
    return new NearbyCamerasView(controller_);
}

/// Deck mode with live pictures off: DeckButtons(controller, compact).
QWidget* MonitorScreen::makeDeckButtons(bool compact) {
    return new DeckButtons(controller_, compact, pressMoment());
}

/// Otherwise: FeedGrid(controller), which takes the whole area it is given.
QWidget* MonitorScreen::makeFeedGrid() {
    return new FeedGrid(controller_, pressMoment());
}

// MARK: Top bar

/// Exactly one camera connected: SingleFeedPills(controller, feed) for it.
QWidget* MonitorScreen::makeSingleFeedPills(const FeedPtr& feed) {
    return new SingleFeedPills(controller_, feed);
}

// MARK: Bar column

/// While importing, for each camera in order: TransferRow(controller, feed).
QWidget* MonitorScreen::makeTransferRow(const FeedPtr& feed) {
    return new TransferRow(controller_, feed);
}

/// Exactly one camera connected: FeedStats(feed).
QWidget* MonitorScreen::makeFeedStats(const FeedPtr& feed) {
    return new FeedStats(feed, controller_->takesCaptures());
}

/// The deck configuration with a camera connected: DeckControls(controller).
QWidget* MonitorScreen::makeDeckControls() {
    return new DeckControls(controller_);
}

/// A camera selected: SelectedFeedControls(controller, feed, openGallery, openSettings). It builds
/// CaptureControls with status = the feed's status, send = controller.sendFromControls, latestThumbnail = the
/// first gallery entry's thumbnail, openGallery, voiceEnabled = controller.voiceEnabled, toggleVoice =
/// controller.toggleVoice, onShutter = controller.shutterFromControls, shutterAllCameras (only with two or
/// more cameras), onMark = controller.addMarker, master = none, openSettings, collapsed under
/// "controlsCollapsed".
QWidget* MonitorScreen::makeSelectedFeedControls(const FeedPtr& feed, std::function<void()> openGallery,
                                                 std::function<void()> openSettings) {
    return new SelectedFeedControls(controller_, feed, std::move(openGallery), std::move(openSettings), pressMoment());
}

// MARK: Inspector

/// The camera-settings inspector with a selected camera: SelectedFeedSettings(controller, feed), which builds
/// CameraSettingsView(status, send = controller.sendFromControls, showHistogram = controller.showHistogram).
QWidget* MonitorScreen::makeSelectedFeedSettings(const FeedPtr& feed) {
    auto* view = new SelectedFeedSettings(controller_, feed);
    // The panel's "Done" closes the inspector.
    connect(view, &SelectedFeedSettings::dismissRequested, this, [this] { setShowCameraSettings(false); });
    return view;
}

// MARK: Sheets

/// The gallery sheet: GalleryView(items = feed.gallery, loadPreview = controller.preview(id, feed, completion),
/// local = none, onDelete = controller.deleteCaptures(items, feed)).
QWidget* MonitorScreen::makeGalleryView(const FeedPtr& feed) {
    std::weak_ptr<MonitorController> weak = controller_;
    auto* view = new GalleryView(
        feed->gallery(),
        [weak, feed](const Uuid& id, std::function<void(const QImage&)> done) {
            if (auto controller = weak.lock()) {
                controller->preview(id, feed, std::move(done));
            } else {
                done(QImage());
            }
        },
        std::nullopt,
        [weak, feed](const std::vector<GalleryItem>& items) {
            if (auto controller = weak.lock()) controller->deleteCaptures(items, *feed);
        });
    // The list follows what the camera last reported.
    connect(feed.get(), &CameraFeed::galleryChanged, view, [view, feed] { view->setItems(feed->gallery()); });
    connect(view, &GalleryView::dismissRequested, this, [this] { setGalleryFeed(nullptr); });
    return view;
}

/// The settings sheet: SettingsView(), which closes itself through its dismiss action (the sheet's close), and
/// opens the controller's folder of unfiled captures.
QWidget* MonitorScreen::makeSettingsView() {
    SettingsView::Environment environment;
    environment.unfiledFolder = controller_->environment().fallbackFolder;
    auto* view = new SettingsView(std::move(environment));
    connect(view, &SettingsView::dismissRequested, this, [this] { setShowSettings(false); });
    return view;
}

/// The nearby-devices sheet.
QWidget* MonitorScreen::makeNetworkView() {
    return new NetworkView(controller_);
}

/// The cameras sheet: the nearby cameras on black; their list scrolls by itself.
QWidget* MonitorScreen::makeCamerasSheet() {
    auto* view = new NearbyCamerasView(controller_, NearbyCamerasView::Placement::top);
    QPalette p = view->palette();
    p.setColor(QPalette::Window, Qt::black);
    view->setPalette(p);
    view->setAutoFillBackground(true);
    return view;
}

// MARK: Large sheet

/// The takes screen: TakesView(controller); its "Done" closes the sheet.
QWidget* MonitorScreen::makeTakesView() {
    auto* view = new TakesView(controller_);
    QObject::connect(view, &TakesView::closeRequested, this, [this] { setShowTakes(false); });
    return view;
}

}  // namespace morvane
