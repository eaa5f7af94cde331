#include "app/deck_lens_controls.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include "app/camera_send.h"
#include "app/deck_rules.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "protocol/camera_command.h"
#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

using namespace theme;

namespace {

/// A 30-point round lens choice.
class LensChoice : public QAbstractButton {
public:
    LensChoice(double factor, QWidget* parent) : QAbstractButton(parent), factor_(factor) {
        setFixedSize(30, 30);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setText(deckLensLabel(factor));
        setAccessibleName(text());
        setCheckable(true);
    }
    double factor() const { return factor_; }
    void setSelected(bool selected) {
        if (selected == selected_) return;
        selected_ = selected;
        setChecked(selected);
        update();
    }

protected:
    // The camera's next status decides the selection, not the click.
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        fillCircle(p, QRectF(0, 0, 30, 30), white(selected_ ? 0.25 : 0.12));
        p.setFont(theme::font(TextStyle::caption, QFont::Bold));
        p.setPen(selected_ ? yellow() : QColor(Qt::white));
        p.drawText(QRectF(0, 0, 30, 30), Qt::AlignCenter, text());
    }

private:
    double factor_;
    bool selected_ = false;
};

class FlipButton : public QAbstractButton {
public:
    explicit FlipButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(34, 30);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const qreal size = symbolPixelSize(pointSize(TextStyle::subheadline));
        drawSymbol(p, QRectF(rect()), "arrow.triangle.2.circlepath.camera", isDown() ? white(0.6) : QColor(Qt::white),
                   size);
    }
};

}  // namespace

DeckLensControls::DeckLensControls(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                                   QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), feed_(std::move(feed)) {
    setAttribute(Qt::WA_TranslucentBackground);
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(6);
    name_ = new QLabel(this);
    name_->setFont(theme::font(TextStyle::caption, QFont::DemiBold));
    name_->setMaximumWidth(84);
    setTextColor(*name_, Qt::white);
    row_->addWidget(name_);
    flip_ = new FlipButton(this);
    row_->addWidget(flip_);
    connect(flip_, &QAbstractButton::clicked, this, [this] { send(CameraCommand::SwitchCamera{}); });
    connect(feed_.get(), &CameraFeed::statusChanged, this, &DeckLensControls::refresh);
    refresh();
}

void DeckLensControls::send(const CameraCommand& command) { sendToCamera(*controller_, feed_->id(), command); }

void DeckLensControls::refresh() {
    const auto& status = feed_->status();
    setVisible(status.has_value());
    if (!status) return;
    const QString name = QString::fromStdString(feed_->name());
    name_->setText(QFontMetricsF(name_->font()).elidedText(name, Qt::ElideRight, 84));
    if (status->lenses != shownLenses_) {
        for (auto* button : lenses_) delete button;
        lenses_.clear();
        shownLenses_ = status->lenses;
        int index = 1;
        for (double factor : shownLenses_) {
            auto* choice = new LensChoice(factor, this);
            connect(choice, &QAbstractButton::clicked, this,
                    [this, factor] { send(CameraCommand::SetZoom{factor, true}); });
            row_->insertWidget(index++, choice);
            lenses_.push_back(choice);
        }
    }
    for (auto* button : lenses_) {
        auto* choice = static_cast<LensChoice*>(button);
        choice->setSelected(deckLensIsSelected(status->zoom, choice->factor()));
    }
    flip_->setAccessibleName(flipCameraLabel(feed_->name(), status->isFrontCamera));
}

}  // namespace morvane
