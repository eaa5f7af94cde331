#pragma once

#include <QPixmap>
#include <QWidget>

#include <memory>

#include "app/feed_tile_rules.h"

namespace morvane {

class CameraFeed;
class HealthLine;

/// A camera's stream figures, exposure and link delay on one line (orange when the link is slow), and its
/// health line under it. Follows the feed and, for the microphone level, its live readings.
class FeedStats : public QWidget {
    Q_OBJECT
public:
    /// `takesCaptures`: this remote takes the camera's captures (not a deck), as its files to send are said.
    FeedStats(std::shared_ptr<CameraFeed> feed, bool takesCaptures, QWidget* parent = nullptr);

    /// The stats line as shown; empty while the feed has no figures yet.
    const QString& statsText() const { return statsText_; }
    bool statsLineShown() const { return statsShown_; }
    bool healthLineShown() const;
    HealthLine* healthLine() const { return health_; }

    /// Keeps the figures within `width` points (`fitFigures`): the stats line is cut, the health line goes.
    void fitWidth(int width);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateStats();
    void updateHealth();
    void place();
    void drawStats(QPainter& painter) const;
    /// The stats line has figures and room.
    bool statsLineFits() const { return statsShown_ && fit_.statsLine; }

    std::shared_ptr<CameraFeed> feed_;
    bool takesCaptures_ = true;
    HealthLine* health_;
    QString statsText_;
    bool statsShown_ = false;
    bool slow_ = false;
    QPixmap cache_;
    QString cachedText_;
    bool cachedSlow_ = false;
    int room_ = QWIDGETSIZE_MAX;
    FiguresFit fit_;
};

}  // namespace morvane
