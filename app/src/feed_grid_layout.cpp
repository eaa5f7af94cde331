#include "app/feed_grid_layout.h"

#include <algorithm>

namespace morvane {

FeedGridLayout feedGridLayout(std::size_t count, const QSizeF& area) {
    FeedGridLayout layout;
    const qreal w = std::max<qreal>(area.width(), 0), h = std::max<qreal>(area.height(), 0);
    const int n = static_cast<int>(count);
    if (n <= 1) layout.columns = 1;
    else if (n == 2) layout.columns = w >= h ? 2 : 1;
    else layout.columns = 2;
    layout.rows = (n + layout.columns - 1) / layout.columns;
    layout.spacing = n >= 2 ? 4 : 0;
    const qreal tileW = std::max<qreal>((w - layout.spacing * (layout.columns - 1)) / layout.columns, 0);
    const qreal tileH = std::max<qreal>((h - layout.spacing * (layout.rows - 1)) / std::max(layout.rows, 1), 0);
    layout.tileSize = QSizeF(tileW, tileH);
    for (int row = 0; row < layout.rows; ++row) {
        const int first = row * layout.columns;
        const int inRow = std::min(layout.columns, n - first);
        const qreal rowWidth = inRow * tileW + (inRow - 1) * layout.spacing;
        const qreal left = (w - rowWidth) / 2;
        const qreal top = row * (tileH + layout.spacing);
        for (int i = 0; i < inRow; ++i)
            layout.tiles.emplace_back(left + i * (tileW + layout.spacing), top, tileW, tileH);
    }
    return layout;
}

}  // namespace morvane
