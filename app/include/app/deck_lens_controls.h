#pragma once

#include <QWidget>

#include <memory>
#include <vector>

class QAbstractButton;
class QHBoxLayout;
class QLabel;

namespace morvane {

class CameraFeed;
struct CameraCommand;
class MonitorController;

/// The selected camera's lens row in the deck controls: its name, one round button per lens (".5", "1", "3";
/// the one within 0.05 of the zoom in yellow) and the flip button. Each button acts on this camera alone.
class DeckLensControls : public QWidget {
    Q_OBJECT
public:
    DeckLensControls(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                     QWidget* parent = nullptr);

    /// The lens buttons, in the status's order.
    const std::vector<QAbstractButton*>& lensButtons() const { return lenses_; }
    QAbstractButton* flipButton() const { return flip_; }
    const std::shared_ptr<CameraFeed>& feed() const { return feed_; }

private:
    void refresh();
    void send(const CameraCommand& command);

    std::shared_ptr<MonitorController> controller_;
    std::shared_ptr<CameraFeed> feed_;
    QHBoxLayout* row_;
    QLabel* name_;
    std::vector<QAbstractButton*> lenses_;
    std::vector<double> shownLenses_;
    QAbstractButton* flip_;
};

}  // namespace morvane
