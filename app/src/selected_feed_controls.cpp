#include "app/selected_feed_controls.h"

#include <QVBoxLayout>

#include "camera_panels/stored_settings.h"
#include "platform/defaults.h"
#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

SelectedFeedControls::SelectedFeedControls(std::shared_ptr<MonitorController> controller,
                                           std::shared_ptr<CameraFeed> feed, std::function<void()> openGallery,
                                           std::function<void()> openSettings, PressMoment pressMadeAt, QWidget* parent)
    : QWidget(parent),
      controller_(std::move(controller)),
      feed_(std::move(feed)),
      openGallery_(std::move(openGallery)),
      openSettings_(std::move(openSettings)),
      pressMadeAt_(std::move(pressMadeAt)) {
    setAttribute(Qt::WA_TranslucentBackground);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    connect(feed_.get(), &CameraFeed::statusChanged, this, &SelectedFeedControls::refresh);
    connect(feed_.get(), &CameraFeed::galleryChanged, this, &SelectedFeedControls::refresh);
    connect(controller_.get(), &MonitorController::voiceEnabledChanged, this, &SelectedFeedControls::refresh);
    connect(controller_.get(), &MonitorController::shutterAllCamerasChanged, this, &SelectedFeedControls::refresh);
    connect(controller_.get(), &MonitorController::feedsChanged, this, &SelectedFeedControls::refresh);
    connect(controller_.get(), &MonitorController::recordingChanged, this, &SelectedFeedControls::refresh);
    connect(controller_.get(), &MonitorController::showHistogramChanged, this, &SelectedFeedControls::refresh);
    refresh();
}

CaptureControls::Inputs SelectedFeedControls::inputs() const {
    // The bar's closures may outlive neither the controller nor this view; they hold the controller weakly.
    const std::weak_ptr<MonitorController> weak = controller_;
    CaptureControls::Inputs in;
    in.status = *feed_->status();
    in.send = [weak](const CameraCommand& command) {
        if (auto c = weak.lock()) c->sendFromControls(command);
    };
    if (!feed_->gallery().empty()) in.latestThumbnail = feed_->gallery().front().thumbnail;
    in.openGallery = openGallery_;
    in.voiceEnabled = controller_->voiceEnabled();
    in.toggleVoice = [weak] {
        if (auto c = weak.lock()) c->toggleVoice();
    };
    in.onShutter = [weak] {
        if (auto c = weak.lock()) c->shutterFromControls();
    };
    if (controller_->recordsTogether(*feed_)) in.shutterStopsRecording = controller_->shutterStopsRecording(*feed_);
    // The all-cameras switch only means something with two or more cameras.
    if (controller_->feeds().size() >= 2) {
        in.shutterAllCameras = BoolBinding{[weak] {
                                               auto c = weak.lock();
                                               return c && c->shutterAllCameras();
                                           },
                                           [weak](bool value) {
                                               if (auto c = weak.lock()) c->setShutterAllCameras(value);
                                           }};
    }
    in.onMark = [weak, pressMadeAt = pressMadeAt_] {
        if (auto c = weak.lock()) c->addMarker(pressMadeAt ? pressMadeAt() : std::nullopt);
    };
    in.showHistogram = BoolBinding{[weak] {
                                       auto c = weak.lock();
                                       return c && c->showHistogram();
                                   },
                                   [weak](bool value) {
                                       if (auto c = weak.lock()) c->setShowHistogram(value);
                                   }};
    in.openSettings = openSettings_;
    in.collapsedKey = roomForExpanded_ ? collapsedKey : collapsedWithoutRoomKey;
    in.collapsedByDefault = !roomForExpanded_;
    return in;
}

void SelectedFeedControls::setRoomForExpanded(bool room) {
    if (room == roomForExpanded_) return;
    roomForExpanded_ = room;
    if (controls_) controls_->setInputs(inputs());
}

void SelectedFeedControls::refresh() {
    const bool hasStatus = feed_->status().has_value();
    if (!hasStatus) {
        hide();
        delete controls_.data();
        return;
    }
    // Not yet in the bar column, it would show as a window of its own; the column shows it once placed.
    if (parentWidget()) show();
    if (controls_) {
        controls_->setInputs(inputs());
        return;
    }
    auto& settings = StoredSettings::attachedTo(*controller_, *controller_->environment().defaults);
    controls_ = new CaptureControls(inputs(), &settings, this);
    layout_->addWidget(controls_);
    layout_->setAlignment(controls_, Qt::AlignHCenter);
    // Shown at once with this view, not on a later turn of the event loop.
    controls_->show();
}

}  // namespace morvane
