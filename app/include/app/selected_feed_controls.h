#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

#include "app/press_clock.h"
#include "camera_panels/capture_controls.h"

class QVBoxLayout;

namespace morvane {

class CameraFeed;
class MonitorController;

/// The selected camera's control bar, wired to the controller: `CaptureControls` shown from the camera's first
/// status on and handed every later one, with the controller's voice, all-cameras and histogram state.
class SelectedFeedControls : public QWidget {
    Q_OBJECT
public:
    /// Where the control bar keeps its collapsed state: one choice for windows with room for the expanded bar
    /// beside the pictures, one for windows where it would lie over them (there it starts collapsed).
    static constexpr const char* collapsedKey = "controlsCollapsed";
    static constexpr const char* collapsedWithoutRoomKey = "controlsCollapsedWithoutRoom";

    /// `pressMadeAt`: when the click being handled was pressed (a marker is dropped at that moment).
    SelectedFeedControls(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                         std::function<void()> openGallery, std::function<void()> openSettings,
                         PressMoment pressMadeAt = {}, QWidget* parent = nullptr);

    const std::shared_ptr<CameraFeed>& feed() const { return feed_; }
    /// The control bar, while the camera has reported a status.
    QWidget* controls() const { return controls_; }
    CaptureControls* captureControls() const { return controls_; }
    /// Whether the window has room for the expanded bar beside the pictures.
    void setRoomForExpanded(bool room);

private:
    void refresh();
    CaptureControls::Inputs inputs() const;

    std::shared_ptr<MonitorController> controller_;
    std::shared_ptr<CameraFeed> feed_;
    std::function<void()> openGallery_;
    std::function<void()> openSettings_;
    PressMoment pressMadeAt_;
    QVBoxLayout* layout_;
    QPointer<CaptureControls> controls_;
    bool roomForExpanded_ = true;
};

}  // namespace morvane
