#pragma once

#include <QWidget>

#include <memory>

class QAbstractButton;
class QHBoxLayout;

namespace morvane {

class DeckLensControls;
class MonitorController;

/// The deck configuration's control capsule: the selected camera's lens row and the button that records on
/// every camera (a stop square while any camera records).
class DeckControls : public QWidget {
    Q_OBJECT
public:
    explicit DeckControls(std::shared_ptr<MonitorController> controller, QWidget* parent = nullptr);

    QAbstractButton* recordButton() const { return record_; }
    DeckLensControls* lensControls() const { return lens_; }
    /// A camera in `feeds` reports that it records.
    bool anyCameraRecording() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void refreshLens();

    std::shared_ptr<MonitorController> controller_;
    QHBoxLayout* row_;
    DeckLensControls* lens_ = nullptr;
    QAbstractButton* record_;
    std::vector<QMetaObject::Connection> statusConnections_;
};

}  // namespace morvane
