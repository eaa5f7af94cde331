#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

#include "camera_panels/camera_settings_view.h"

class QVBoxLayout;

namespace morvane {

class CameraFeed;
class MonitorController;

/// The selected camera's full settings panel, sending through the controller's routing; shown from the
/// camera's first status on and handed every later one.
class SelectedFeedSettings : public QWidget {
    Q_OBJECT
public:
    SelectedFeedSettings(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                         QWidget* parent = nullptr);

    const std::shared_ptr<CameraFeed>& feed() const { return feed_; }
    QWidget* panel() const { return panel_; }
    CameraSettingsView* settingsView() const { return panel_; }

signals:
    /// The panel's "Done".
    void dismissRequested();

private:
    void refresh();

    std::shared_ptr<MonitorController> controller_;
    std::shared_ptr<CameraFeed> feed_;
    QVBoxLayout* layout_;
    QPointer<CameraSettingsView> panel_;
};

}  // namespace morvane
