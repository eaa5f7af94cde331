#pragma once

#include <QWidget>

#include <memory>
#include <vector>

#include "app/transfer_row_rules.h"

class QAbstractButton;

namespace morvane {

class CameraFeed;
class MonitorController;

/// One camera's line in the list of file transfers: hold or resume, the camera's name, the file on its way
/// with its progress, and the pending summary. Empty (and taking no space) while nothing is pending.
class TransferRow : public QWidget {
    Q_OBJECT
public:
    TransferRow(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                QWidget* parent = nullptr);

    QAbstractButton* holdButton() const { return hold_; }
    /// The summary as shown.
    QString summary() const;
    bool fileShown() const;
    /// What the row draws, in the row: the button, then the name, the file, the bar and the summary as shown.
    std::vector<QRect> pieceRects() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    /// A host may show the row at any time; it stays hidden while the camera has nothing to send.
    void setVisible(bool visible) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void place();
    /// The room the hold button takes before the name, none while it is not offered.
    qreal holdRoom() const;
    TransferRowPieces pieces() const;

    std::shared_ptr<MonitorController> controller_;
    std::shared_ptr<CameraFeed> feed_;
    QAbstractButton* hold_;
    bool pending_ = false;
};

}  // namespace morvane
