#include "app/deck_controls.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>

#include "app/deck_lens_controls.h"
#include "app/deck_rules.h"
#include "platform/theme.h"
#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

using namespace theme;

namespace {

class RecordEveryCamera : public QAbstractButton {
public:
    explicit RecordEveryCamera(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(42, 42);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }
    void setRecording(bool recording) {
        recording_ = recording;
        setAccessibleName(recordEveryCameraLabel(recording));
        update();
    }
    bool recording() const { return recording_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 3));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(1.5, 1.5, 39, 39));
        if (isDown()) p.setOpacity(0.7);
        if (recording_) fillRoundedRect(p, QRectF(13, 13, 16, 16), 4, red());
        else fillCircle(p, QRectF(6, 6, 30, 30), red());
    }

private:
    bool recording_ = false;
};

}  // namespace

DeckControls::DeckControls(std::shared_ptr<MonitorController> controller, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedHeight(52);
    setMaximumWidth(520);
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(12, 0, 12, 0);
    row_->setSpacing(10);
    row_->addStretch(1);
    auto* record = new RecordEveryCamera(this);
    record_ = record;
    row_->addWidget(record_);
    std::weak_ptr<MonitorController> weak = controller_;
    connect(record_, &QAbstractButton::clicked, this, [weak] {
        if (auto c = weak.lock()) c->recordOnEveryCamera();
    });
    connect(controller_.get(), &MonitorController::feedsChanged, this, &DeckControls::refresh);
    connect(controller_.get(), &MonitorController::selectedIDChanged, this, &DeckControls::refreshLens);
    refresh();
}

bool DeckControls::anyCameraRecording() const {
    for (const auto& feed : controller_->feeds())
        if (feed->status() && feed->status()->isRecording) return true;
    return false;
}

void DeckControls::refresh() {
    for (auto& c : statusConnections_) disconnect(c);
    statusConnections_.clear();
    for (const auto& feed : controller_->feeds())
        statusConnections_.push_back(connect(feed.get(), &CameraFeed::statusChanged, this, [this] {
            static_cast<RecordEveryCamera*>(record_)->setRecording(anyCameraRecording());
        }));
    static_cast<RecordEveryCamera*>(record_)->setRecording(anyCameraRecording());
    refreshLens();
}

void DeckControls::refreshLens() {
    const auto selected = controller_->selectedFeed();
    if (lens_ && lens_->feed() != selected) {
        delete lens_;
        lens_ = nullptr;
    }
    if (selected && !lens_) {
        lens_ = new DeckLensControls(controller_, selected, this);
        row_->insertWidget(0, lens_);
    }
}

QSize DeckControls::sizeHint() const { return QSize(520, 52); }

void DeckControls::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    fillCapsule(p, QRectF(rect()), ultraThinMaterial());
}

}  // namespace morvane
