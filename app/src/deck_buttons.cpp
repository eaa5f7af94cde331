#include "app/deck_buttons.h"

#include "app/deck_button.h"
#include "app/deck_rules.h"
#include "remote/monitor_controller.h"

namespace morvane {

namespace {
constexpr int spacing = 12, sidePadding = 16, maxWidth = 700;
}

DeckButtons::DeckButtons(std::shared_ptr<MonitorController> controller, bool compact, PressMoment pressMadeAt,
                         QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), pressMadeAt_(std::move(pressMadeAt)), compact_(compact) {
    setAttribute(Qt::WA_TranslucentBackground);
    connect(controller_.get(), &MonitorController::feedsChanged, this, &DeckButtons::rebuild);
    connect(controller_.get(), &MonitorController::programIDChanged, this, &DeckButtons::refresh);
    rebuild();
}

void DeckButtons::setCompact(bool compact) {
    if (compact == compact_) return;
    compact_ = compact;
    refresh();
}

void DeckButtons::rebuild() {
    for (auto* button : buttons_) delete button;
    buttons_.clear();
    std::weak_ptr<MonitorController> weak = controller_;
    for (const auto& feed : controller_->feeds()) {
        std::weak_ptr<CameraFeed> weakFeed = feed;
        auto* button = new DeckButton(
            controller_->cameraNumber(feed->id()), feed, false, deckButtonMinHeight(compact_),
            [weak, weakFeed, pressMadeAt = pressMadeAt_] {
                auto c = weak.lock();
                auto f = weakFeed.lock();
                if (c && f) c->putOnAir(*f, pressMadeAt ? pressMadeAt() : std::nullopt);
            },
            this);
        button->setOnDrop([weak, weakFeed](const std::string& name) {
            auto c = weak.lock();
            auto f = weakFeed.lock();
            if (c && f) c->moveCamera(name, *f);
        });
        button->show();
        buttons_.push_back(button);
    }
    refresh();
}

void DeckButtons::refresh() {
    const auto& program = controller_->programID();
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        buttons_[i]->setValues(controller_->cameraNumber(buttons_[i]->feed()->id()),
                               program && *program == buttons_[i]->feed()->id(), deckButtonMinHeight(compact_));
    place();
}

QSize DeckButtons::sizeHint() const {
    int h = 0;
    for (std::size_t i = 0; i < buttons_.size(); i += 2) h += buttons_[i]->sizeHint().height() + spacing;
    return QSize(maxWidth, std::max(h - spacing, 0));
}

void DeckButtons::resizeEvent(QResizeEvent*) {
    place();
}

void DeckButtons::place() {
    // Two equal columns, rows 12 apart, the whole grid centred and at most 700 wide.
    const int width = std::min(this->width() - 2 * sidePadding, maxWidth - 2 * sidePadding);
    const int column = std::max((width - spacing) / 2, 10);
    int total = 0;
    std::vector<int> rowHeights;
    for (std::size_t i = 0; i < buttons_.size(); i += 2) {
        int h = buttons_[i]->sizeHint().height();
        if (i + 1 < buttons_.size()) h = std::max(h, buttons_[i + 1]->sizeHint().height());
        rowHeights.push_back(h);
        total += h + spacing;
    }
    total = std::max(total - spacing, 0);
    const int left = (this->width() - (2 * column + spacing)) / 2;
    int y = (height() - total) / 2;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const int row = static_cast<int>(i / 2);
        if (i % 2 == 0 && i > 0) y += rowHeights[row - 1] + spacing;
        buttons_[i]->setGeometry(left + static_cast<int>(i % 2) * (column + spacing), y, column, rowHeights[row]);
    }
}

}  // namespace morvane
