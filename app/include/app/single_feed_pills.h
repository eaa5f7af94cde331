#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "app/feed_tile_rules.h"

class QHBoxLayout;
class QMenu;

namespace morvane {

class CameraFeed;
class MonitorController;
class RecordingPill;
class StatusPill;

/// A camera's recording time while it records, and a pill with its name that opens the camera's menu:
/// "Repair Connection" and "Disconnect".
class SingleFeedPills : public QWidget {
    Q_OBJECT
public:
    SingleFeedPills(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                    QWidget* parent = nullptr);

    QMenu* menu() const { return menu_; }
    RecordingPill* recordingPill() const { return recording_; }
    StatusPill* namePill() const { return name_; }
    /// Keeps the pills within `width` points (`fitPills`): the name is cut first, the recording time stays.
    void fitWidth(int width);
    /// The least width the pills keep (`leastPillsWidth`).
    qreal leastWidth() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateRecording();
    std::optional<RecordingWidths> recordingWidths() const;

    std::shared_ptr<MonitorController> controller_;
    std::shared_ptr<CameraFeed> feed_;
    QHBoxLayout* row_;
    RecordingPill* recording_ = nullptr;
    StatusPill* name_;
    QMenu* menu_;
    int room_ = QWIDGETSIZE_MAX;
};

}  // namespace morvane
