#pragma once

#include <QWidget>

#include <map>
#include <memory>

#include "link/peer_id.h"

namespace morvane {

class FeedTile;
class MonitorController;

/// Fills the picture area with one tile per shown camera (every camera, or the solo one), all of one size and
/// without scrolling. Tiles are kept per camera while it stays connected, so its picture host lives on.
class FeedGrid : public QWidget {
    Q_OBJECT
public:
    explicit FeedGrid(std::shared_ptr<MonitorController> controller, QWidget* parent = nullptr);

    /// The tiles in the order shown.
    std::vector<FeedTile*> tiles() const;
    FeedTile* tile(const PeerId& camera) const;
    /// Where the tiles' overlays (`FeedTile::overlayRects`) would lie were the grid this size, in the grid: each
    /// keeps its place from its tile's top and from the nearer side.
    std::vector<QRect> overlayRectsAt(const QSize& size) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();
    void place();

    std::shared_ptr<MonitorController> controller_;
    std::map<PeerId, FeedTile*> tiles_;
    std::vector<PeerId> shown_;
};

}  // namespace morvane
