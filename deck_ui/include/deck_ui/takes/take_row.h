#pragma once

#include <QWidget>

#include <memory>

#include "deck/retouch_library.h"

class QLabel;

namespace morvane {

class MonitorController;

/// One take of the takes list: its title with its length (or the "Exported" mark), its cameras and a summary of its
/// live switches, or for an exported take the share and collect-again controls.
class TakeRow : public QWidget {
    Q_OBJECT

public:
    TakeRow(RetouchTake take, std::shared_ptr<MonitorController> controller, RetouchLibrary& library,
            QWidget* parent = nullptr);

    const RetouchTake& take() const { return take_; }

signals:
    /// The row was clicked (the list decides whether that opens the editor).
    void activated();
    void renameRequested();
    void deleteRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshControls();

    RetouchTake take_;
    std::shared_ptr<MonitorController> controller_;
    RetouchLibrary& library_;
    QWidget* collectAgain_ = nullptr;
};

}  // namespace morvane
