#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QVBoxLayout;

namespace morvane {

class CameraFeed;
class MonitorController;

/// The selected camera's control bar, wired to the controller: shown from the camera's first status on.
class SelectedFeedControls : public QWidget {
    Q_OBJECT
public:
    /// Where the control bar keeps its collapsed state.
    static constexpr const char* collapsedKey = "controlsCollapsed";

    SelectedFeedControls(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                         std::function<void()> openGallery, std::function<void()> openSettings,
                         QWidget* parent = nullptr);

    const std::shared_ptr<CameraFeed>& feed() const { return feed_; }
    /// The control bar, while the camera has reported a status.
    QWidget* controls() const { return controls_; }

private:
    void refresh();

    std::shared_ptr<MonitorController> controller_;
    std::shared_ptr<CameraFeed> feed_;
    std::function<void()> openGallery_;
    std::function<void()> openSettings_;
    QVBoxLayout* layout_;
    QWidget* controls_ = nullptr;
};

}  // namespace morvane
