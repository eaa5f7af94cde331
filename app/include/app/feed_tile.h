#pragma once

#include <QLabel>
#include <QPointF>
#include <QWidget>

#include <memory>
#include <optional>

#include "app/feed_tile_rules.h"
#include "app/press_clock.h"

namespace morvane {

class ActivityIndicator;
class CameraFeed;
class CountdownOverlay;
class DeckBar;
class FalseColorLegend;
class FeedStats;
class FlashOverlay;
class FocusSquare;
class FramingGuides;
class HistogramView;
class LoupeView;
class MonitorController;
class PinchToZoom;
class RoundIconButton;
class ScopeView;
class SingleFeedPills;

/// One camera's live picture with everything that belongs to it laid over: framing guides, focus square,
/// countdown, flash, the no-picture notice, the camera's menu and figures, the expand button, the monitoring
/// readings, the border and "ON AIR" badge, and in deck mode the deck bar. A click selects the camera or focuses
/// it there, a pinch (or Ctrl with the wheel) zooms, and a camera name dropped on the tile moves that camera to
/// this place.
///
/// It follows the controller and the feed; the live readings redraw only the guides and the readings column.
class FeedTile : public QWidget {
    Q_OBJECT
public:
    /// `pressMadeAt`: when the click being handled was pressed (the deck bar cuts at that moment).
    FeedTile(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
             PressMoment pressMadeAt = {}, QWidget* parent = nullptr);
    ~FeedTile() override;

    /// Worked out by the grid: this is the selected camera; two or more cameras are connected.
    void setPlacement(bool isSelected, bool showsChrome);

    const std::shared_ptr<CameraFeed>& feed() const { return feed_; }
    bool isSelected() const { return isSelected_; }
    bool showsChrome() const { return showsChrome_; }
    const std::optional<QPointF>& focusPoint() const;
    TileBorder border() const;
    TileReadings readings() const { return readings_; }
    bool onAirBadgeShown() const;
    /// Where the "ON AIR" badge is drawn, in the tile.
    QRect onAirBadgeRect() const;
    /// The part of the tile that the screen's bars lie over, in the tile: the readings keep out of it, above it or
    /// beside it, whichever shows more of them.
    void setKeepOut(const QRect& rect);
    QWidget* picture() const { return picture_; }
    DeckBar* deckBar() const { return deckBar_; }
    LoupeView* loupe() const { return loupe_; }
    RoundIconButton* expandButton() const { return expand_; }
    QWidget* noPictureNotice() const { return noPicture_; }
    /// "No sound" while the camera's latest take has none.
    QWidget* noSoundMark() const;
    QWidget* chromeColumn() const { return chrome_; }
    QWidget* readingsColumn() const { return readingsColumn_; }
    PinchToZoom* pinch() const { return pinch_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class Frame;
    class SoundMark;

    void refresh();
    void refreshStatus();
    void refreshReadings();
    void refreshGuides();
    void refreshNotice();
    void layoutLayers();
    /// The notice over the picture, in the form and place that cover none of the tile's marks (`tileNoticePlace`).
    void placeNotice();
    void clicked(QPointF location);
    void expandOrCollapse();
    bool isOnAir() const;

    std::shared_ptr<MonitorController> controller_;
    std::shared_ptr<CameraFeed> feed_;
    bool isSelected_ = false;
    bool showsChrome_ = false;
    TileReadings readings_;
    bool layingOut_ = false;
    QRect keepOut_;
    std::optional<QPointF> pressedAt_;

    QWidget* picture_;
    FramingGuides* guides_;
    FocusSquare* focus_;
    CountdownOverlay* countdown_;
    FlashOverlay* flash_;
    QWidget* noPicture_;
    QLabel* noPictureLabel_;
    ActivityIndicator* noPictureSpinner_;
    QWidget* chrome_;
    SingleFeedPills* pills_;
    FeedStats* stats_;
    RoundIconButton* expand_;
    QWidget* readingsColumn_;
    LoupeView* loupe_;
    FalseColorLegend* legend_;
    ScopeView* scope_;
    HistogramView* histogram_;
    Frame* frame_;
    SoundMark* noSound_;
    DeckBar* deckBar_;
    PinchToZoom* pinch_;
};

}  // namespace morvane
