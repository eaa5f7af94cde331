#include "app/selected_feed_settings.h"

#include <QVBoxLayout>

#include "camera_panels/stored_settings.h"
#include "platform/defaults.h"
#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

SelectedFeedSettings::SelectedFeedSettings(std::shared_ptr<MonitorController> controller,
                                           std::shared_ptr<CameraFeed> feed, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), feed_(std::move(feed)) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    connect(feed_.get(), &CameraFeed::statusChanged, this, &SelectedFeedSettings::refresh);
    connect(controller_.get(), &MonitorController::showHistogramChanged, this, [this] {
        if (panel_) panel_->refresh();
    });
    refresh();
}

void SelectedFeedSettings::refresh() {
    const bool hasStatus = feed_->status().has_value();
    setVisible(hasStatus);
    if (!hasStatus) {
        delete panel_.data();
        return;
    }
    if (panel_) {
        panel_->setStatus(*feed_->status());
        return;
    }
    const std::weak_ptr<MonitorController> weak = controller_;
    auto send = [weak](const CameraCommand& command) {
        if (auto c = weak.lock()) c->sendFromControls(command);
    };
    BoolBinding histogram{[weak] {
                              auto c = weak.lock();
                              return c && c->showHistogram();
                          },
                          [weak](bool value) {
                              if (auto c = weak.lock()) c->setShowHistogram(value);
                          }};
    auto& settings = StoredSettings::attachedTo(*controller_, *controller_->environment().defaults);
    panel_ = new CameraSettingsView(*feed_->status(), std::move(send), std::move(histogram), &settings, nullptr, this);
    connect(panel_, &CameraSettingsView::dismissRequested, this, &SelectedFeedSettings::dismissRequested);
    layout_->addWidget(panel_);
}

}  // namespace morvane
