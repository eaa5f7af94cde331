#include "app/single_feed_pills.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>

#include "app/feed_tile_rules.h"
#include "camera_panels/recording_pill.h"
#include "camera_panels/status_pill.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

SingleFeedPills::SingleFeedPills(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                                 QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), feed_(std::move(feed)) {
    setAttribute(Qt::WA_TranslucentBackground);
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(6);
    name_ = new StatusPill(QString::fromStdString(feed_->name()), true, this);
    name_->setCursor(Qt::PointingHandCursor);
    name_->installEventFilter(this);
    row_->addWidget(name_);
    row_->addStretch(0);

    menu_ = new QMenu(this);
    const QColor icon = theme::white(0.9);
    auto* repair =
        menu_->addAction(symbolIcon("arrow.triangle.2.circlepath", icon, 16), QStringLiteral("Repair Connection"));
    auto* disconnect = menu_->addAction(symbolIcon("xmark.circle", theme::red(), 16), QStringLiteral("Disconnect"));
    std::weak_ptr<MonitorController> weakController = controller_;
    std::weak_ptr<CameraFeed> weakFeed = feed_;
    connect(repair, &QAction::triggered, this, [weakController, weakFeed] {
        auto c = weakController.lock();
        auto f = weakFeed.lock();
        if (c && f) c->repairConnection(*f);
    });
    connect(disconnect, &QAction::triggered, this, [weakController, weakFeed] {
        auto c = weakController.lock();
        auto f = weakFeed.lock();
        if (c && f) c->disconnectCamera(f->id());
    });

    connect(feed_.get(), &CameraFeed::recordingStartChanged, this, &SingleFeedPills::updateRecording);
    updateRecording();
}

void SingleFeedPills::updateRecording() {
    const auto& start = feed_->recordingStart();
    if (start && !recording_) {
        recording_ = new RecordingPill(*start, this);
        row_->insertWidget(0, recording_);
    } else if (start) {
        recording_->setStart(*start);
    } else if (recording_) {
        delete recording_;
        recording_ = nullptr;
    }
    fitWidth(room_);
}

std::optional<RecordingWidths> SingleFeedPills::recordingWidths() const {
    if (!recording_) return std::nullopt;
    return RecordingWidths{qreal(recording_->wholeWidth()), qreal(recording_->timeWidth())};
}

qreal SingleFeedPills::leastWidth() const {
    return leastPillsWidth(recordingWidths(), name_->sizeHint().width());
}

void SingleFeedPills::fitWidth(int width) {
    room_ = width;
    const PillsFit fit = fitPills(width, recordingWidths(), name_->sizeHint().width());
    if (recording_) recording_->setTimeOnly(fit.recording == PillsFit::Recording::time);
    name_->setVisible(fit.nameWidth > 0);
    name_->setMaximumWidth(std::max(qFloor(fit.nameWidth), 0));
    adjustSize();
}

bool SingleFeedPills::eventFilter(QObject* watched, QEvent* event) {
    if (watched == name_ && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) menu_->popup(name_->mapToGlobal(QPoint(0, name_->height() + 4)));
        return true;
    }
    if (watched == name_ && event->type() == QEvent::MouseButtonPress) return true;
    return QWidget::eventFilter(watched, event);
}

}  // namespace morvane
