#include "app/selected_feed_settings.h"

#include <QVBoxLayout>

#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

SelectedFeedSettings::SelectedFeedSettings(std::shared_ptr<MonitorController> controller,
                                           std::shared_ptr<CameraFeed> feed, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), feed_(std::move(feed)) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    connect(feed_.get(), &CameraFeed::statusChanged, this, &SelectedFeedSettings::refresh);
    refresh();
}

void SelectedFeedSettings::refresh() { setVisible(feed_->status().has_value()); }

}  // namespace morvane
