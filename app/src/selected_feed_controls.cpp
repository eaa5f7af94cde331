#include "app/selected_feed_controls.h"

#include <QVBoxLayout>

#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

SelectedFeedControls::SelectedFeedControls(std::shared_ptr<MonitorController> controller,
                                           std::shared_ptr<CameraFeed> feed, std::function<void()> openGallery,
                                           std::function<void()> openSettings, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), feed_(std::move(feed)),
      openGallery_(std::move(openGallery)), openSettings_(std::move(openSettings)) {
    setAttribute(Qt::WA_TranslucentBackground);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    connect(feed_.get(), &CameraFeed::statusChanged, this, &SelectedFeedControls::refresh);
    refresh();
}

void SelectedFeedControls::refresh() {
    setVisible(feed_->status().has_value());
}

}  // namespace morvane
