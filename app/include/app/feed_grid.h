#pragma once

#include <QWidget>

#include <map>
#include <memory>

#include "app/press_clock.h"
#include "link/peer_id.h"

namespace morvane {

class FeedTile;
class MonitorController;

/// Fills the picture area with one tile per shown camera (every camera, or the solo one), all of one size and
/// without scrolling. Tiles are kept per camera while it stays connected, so its picture host lives on.
class FeedGrid : public QWidget {
    Q_OBJECT
public:
    /// `pressMadeAt`: when the click being handled was pressed (the tiles' deck bars cut at that moment).
    explicit FeedGrid(std::shared_ptr<MonitorController> controller, PressMoment pressMadeAt = {},
                      QWidget* parent = nullptr);

    /// The tiles in the order shown.
    std::vector<FeedTile*> tiles() const;
    FeedTile* tile(const PeerId& camera) const;
    /// The part of the grid that the screen's bars lie over: the tiles keep their readings out of it.
    void setKeepOut(const QRect& rect);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();
    void place();

    std::shared_ptr<MonitorController> controller_;
    PressMoment pressMadeAt_;
    std::map<PeerId, FeedTile*> tiles_;
    std::vector<PeerId> shown_;
    QRect keepOut_;
};

}  // namespace morvane
