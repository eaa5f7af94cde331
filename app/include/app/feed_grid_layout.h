#pragma once

#include <QRectF>
#include <QSizeF>

#include <cstddef>
#include <vector>

namespace morvane {

/// Where the grid puts its tiles: every tile the same size, rows from the top, each row centred, so that all
/// shown cameras fit the area without scrolling.
struct FeedGridLayout {
    int columns = 1;
    int rows = 0;
    qreal spacing = 0;
    QSizeF tileSize;
    /// One rectangle per shown camera, in camera order.
    std::vector<QRectF> tiles;
};

/// Two cameras sit side by side in an area at least as wide as high and one above the other otherwise; three
/// or more fill two columns. Spacing 4 between tiles with two or more cameras.
FeedGridLayout feedGridLayout(std::size_t count, const QSizeF& area);

}  // namespace morvane
