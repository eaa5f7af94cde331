#include "app/feed_grid.h"

#include <algorithm>

#include "app/feed_grid_layout.h"
#include "app/feed_tile.h"
#include "remote/monitor_controller.h"

namespace morvane {

FeedGrid::FeedGrid(std::shared_ptr<MonitorController> controller, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)) {
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
            kept[feed->id()] = new FeedTile(controller_, feed, this);
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

std::vector<QRect> FeedGrid::overlayRectsAt(const QSize& size) const {
    std::vector<QRect> out;
    const auto layout = feedGridLayout(shown_.size(), QSizeF(size));
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        const FeedTile* tile = tiles_.at(shown_[i]);
        const QRect target = layout.tiles[i].toRect();
        const int grow = target.width() - tile->width();
        const int growDown = target.height() - tile->height();
        for (QRect r : tile->overlayRects()) {
            // Items in the lower half (the badge of a narrow tile) keep their distance from the bottom edge.
            if (r.height() < tile->height() / 2 && r.center().y() > tile->height() / 2) r.translate(0, growDown);
            if (r.width() >= tile->width()) {
                r.setWidth(target.width());  // the deck bar spans the tile
            } else if (std::abs(2 * r.center().x() - tile->width()) <= 2) {
                r.translate(grow / 2, 0);  // the badge stays centred
            } else if (r.center().x() > tile->width() / 2) {
                r.translate(grow, 0);  // trailing items keep their distance from the trailing edge
            }
            r = r.translated(target.topLeft()).intersected(target);
            if (!r.isEmpty()) out.push_back(r);
        }
    }
    return out;
}

void FeedGrid::resizeEvent(QResizeEvent*) {
    place();
}

void FeedGrid::place() {
    const auto layout = feedGridLayout(shown_.size(), QSizeF(size()));
    for (std::size_t i = 0; i < shown_.size(); ++i) tiles_.at(shown_[i])->setGeometry(layout.tiles[i].toRect());
}

}  // namespace morvane
