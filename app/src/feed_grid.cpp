#include "app/feed_grid.h"

#include <algorithm>

#include "app/feed_grid_layout.h"
#include "app/feed_tile.h"
#include "remote/monitor_controller.h"

namespace morvane {

FeedGrid::FeedGrid(std::shared_ptr<MonitorController> controller, PressMoment pressMadeAt, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), pressMadeAt_(std::move(pressMadeAt)) {
    setAttribute(Qt::WA_TranslucentBackground);
    MonitorController* c = controller_.get();
    connect(c, &MonitorController::feedsChanged, this, &FeedGrid::rebuild);
    connect(c, &MonitorController::soloIDChanged, this, &FeedGrid::rebuild);
    connect(c, &MonitorController::selectedIDChanged, this, &FeedGrid::rebuild);
    rebuild();
}

std::vector<FeedTile*> FeedGrid::tiles() const {
    std::vector<FeedTile*> out;
    for (const auto& id : shown_) out.push_back(tiles_.at(id));
    return out;
}

FeedTile* FeedGrid::tile(const PeerId& camera) const {
    auto it = tiles_.find(camera);
    return it == tiles_.end() ? nullptr : it->second;
}

void FeedGrid::rebuild() {
    const auto visible = controller_->visibleFeeds();
    const auto selected = controller_->selectedFeed();
    const bool chrome = controller_->feeds().size() >= 2;
    std::map<PeerId, FeedTile*> kept;
    for (const auto& feed : controller_->feeds()) {
        auto it = tiles_.find(feed->id());
        // A camera that reconnects comes back with a new feed: its tile starts afresh.
        if (it != tiles_.end() && it->second->feed() == feed) {
            kept[feed->id()] = it->second;
            tiles_.erase(it);
        } else {
            kept[feed->id()] = new FeedTile(controller_, feed, pressMadeAt_, this);
        }
        kept[feed->id()]->setPlacement(selected && selected->id() == feed->id(), chrome);
    }
    for (auto& [id, tile] : tiles_) delete tile;
    tiles_ = std::move(kept);
    shown_.clear();
    for (const auto& feed : visible) shown_.push_back(feed->id());
    for (auto& [id, tile] : tiles_) tile->setVisible(std::find(shown_.begin(), shown_.end(), id) != shown_.end());
    place();
}

void FeedGrid::setKeepOut(const QRect& rect) {
    if (rect == keepOut_) return;
    keepOut_ = rect;
    place();
}

void FeedGrid::resizeEvent(QResizeEvent*) {
    place();
}

void FeedGrid::place() {
    const auto layout = feedGridLayout(shown_.size(), QSizeF(size()));
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        FeedTile* tile = tiles_.at(shown_[i]);
        const QRect r = layout.tiles[i].toRect();
        tile->setKeepOut(keepOut_.intersected(r).translated(-r.topLeft()));
        tile->setGeometry(r);
    }
}

}  // namespace morvane
