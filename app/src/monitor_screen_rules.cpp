#include "app/monitor_screen_rules.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "app/deck_bar.h"
#include "app/feed_grid_layout.h"
#include "app/feed_tile_rules.h"
#include "platform/theme.h"

namespace morvane {

PictureAreaKind pictureAreaKind(const MonitorScreenState& state) {
    if (state.feeds == 0) return PictureAreaKind::nearbyCameras;
    if (state.deckMode && !state.livePictures) return PictureAreaKind::deckButtons;
    return PictureAreaKind::feedGrid;
}

QMargins picturePadding(const MonitorScreenState& state) {
    switch (pictureAreaKind(state)) {
        case PictureAreaKind::nearbyCameras:
            // The list scrolls; its rows pass neither under the top bar's buttons nor under a notice.
            return {0, 64, 0, 88};
        case PictureAreaKind::deckButtons: {
            const int top = state.compact ? 52 : 72;
            const int bottom = state.isDeckPhone ? 76 : (state.compact ? 132 : 150);
            return {0, top, 0, bottom};
        }
        case PictureAreaKind::feedGrid: {
            // A soloed camera among several keeps its menu and its "Show all cameras" button at the top of its
            // tile; under a top bar that stays they would lie beneath the bar's buttons and could not be
            // clicked, so the grid keeps its room below the bar.
            const bool soloChromeUnderBar = state.soloed && state.feeds >= 2 && showsTopBar(state);
            // The deck bar runs along the top of every tile, a single one's too: under the bar its number,
            // name and "Put on air" would lie beneath the bar's buttons.
            const bool deckBarUnderBar = state.deckMode && showsTopBar(state);
            const int top = state.visibleFeeds >= 2 || soloChromeUnderBar || deckBarUnderBar ? 64 : 0;
            return {0, top, 0, state.isDeckPhone ? 76 : 0};
        }
    }
    return {};
}

bool showsTopBar(const MonitorScreenState& state) {
    if (!state.hasExit) return true;
    const bool picturesShowing = !state.deckMode || state.livePictures;
    return !(state.soloed && state.feeds >= 2 && picturesShowing);
}

std::vector<ToolbarItem> toolbarItems(const MonitorScreenState& state) {
    std::vector<ToolbarItem> items;
    items.push_back(state.hasExit ? ToolbarItem::close : ToolbarItem::settings);
    if (state.feeds == 1) items.push_back(ToolbarItem::singleFeedPills);
    if (!state.hasExit) items.push_back(ToolbarItem::deckSwitch);
    if (state.isDeckPhone) items.push_back(ToolbarItem::takes);
    if (state.deckMode) items.push_back(ToolbarItem::livePictures);
    if (!state.hasExit) items.push_back(ToolbarItem::nearbyDevices);
    if (state.importsFiles) items.push_back(ToolbarItem::openShootFolder);
    if (state.feeds > 0) items.push_back(ToolbarItem::cameras);
    return items;
}

ControlsKind controlsKind(const MonitorScreenState& state) {
    if (state.isDeckPhone && state.feeds > 0) return ControlsKind::deckControls;
    if (state.cameraSelected) return ControlsKind::selectedFeedControls;
    return ControlsKind::none;
}

std::string livePicturesSymbol(bool livePictures) {
    return livePictures ? "eye" : "eye.slash";
}

QString livePicturesLabel(bool livePictures) {
    return livePictures ? QStringLiteral("Hide live pictures") : QStringLiteral("Show live pictures");
}

QString deckSwitchAccessibilityLabel(bool deckMode, bool offered) {
    if (deckMode) return QStringLiteral("Podcast deck on: click a camera to put it on air");
    if (offered)
        return QStringLiteral("Podcast deck off while a camera is on air in this take: click to cut live again");
    return QStringLiteral("Podcast deck");
}

DeckSwitchFace deckSwitchFace(bool deckMode, bool offered) {
    if (deckMode) return {theme::red(), theme::black()};
    if (offered) return {theme::yellow(), theme::black()};
    return {theme::ultraThinMaterial(), theme::white()};
}

QString liveCutOffNotice() {
    return QStringLiteral("The number keys cut only while Deck is on: click Deck at the top to turn it on");
}

QString nearbyDevicesLabel() {
    return QStringLiteral("Nearby devices");
}

QString arrivingCopiesBadge(int deckCopiesArriving) {
    if (deckCopiesArriving <= 0) return {};
    return QString::number(deckCopiesArriving);
}

TopBarFit fitTopBar(qreal width, qreal others, qreal deckWordWidth, bool wantsPills, qreal pillsLeast) {
    if (!wantsPills) return {false, 0, others <= width};
    const qreal room = width - others;
    if (room >= pillsLeast) return {true, room, true};
    if (room + deckWordWidth >= pillsLeast) return {true, room + deckWordWidth, false};
    return {false, 0, others <= width};
}

QString pairingAlertTitle() {
    return QStringLiteral("Confirm pairing code");
}

QString pairingAlertMessage(const CameraLink::PairingRequest& request) {
    return QStringLiteral("Camera: “") + QString::fromStdString(request.name) + QStringLiteral("”\n\nCode: ") +
           QString::fromStdString(request.code) +
           QStringLiteral("\n\nCheck the camera shows the same code, then accept on both computers.");
}

int tileTopZone(bool deckMode, bool showsChrome) {
    // The deck bar; the name pill and two lines of figures under it, as `FeedTile` places them.
    constexpr int chromeHeight = 80;
    if (!showsChrome) return deckMode ? DeckBar::barHeight : 0;
    return qRound(chromeTopInset(deckMode)) + chromeHeight;
}

int tileControlsZone(bool deckMode, bool showsChrome) {
    // The camera's menu and the expand button stand in one row under the deck bar; the expand button is the
    // taller, a round button 44 across.
    constexpr int buttonSide = 44;
    if (!showsChrome) return deckMode ? DeckBar::barHeight : 0;
    return qRound(chromeTopInset(deckMode)) + buttonSide;
}

int leastTileHeight(bool deckMode) {
    return tileTopZone(deckMode, true) + 24;
}

namespace {

int transferBand(int transfers) {
    return transfers > 0 ? transfers + 2 * bandPadding : 0;
}

/// The grid's tiles with the picture area ending `bottom` above the content's bottom.
std::vector<QRect> tilesAt(const BottomInput& in, int bottom) {
    const QRect area(0, in.padding.top(), in.content.width(),
                     std::max(0, in.content.height() - in.padding.top() - bottom));
    std::vector<QRect> out;
    for (const QRectF& tile : feedGridLayout(in.tiles, QSizeF(area.size())).tiles)
        out.push_back(tile.toRect().translated(area.topLeft()));
    return out;
}

/// Whether the column lies over a picture's least height (all of a picture shorter than that).
bool coversPictures(const BottomInput& in, const QRect& column, int bottom) {
    for (const QRect& tile : tilesAt(in, bottom)) {
        const int kept = std::min(leastTileHeight(in.deckMode), tile.height());
        if (tile.intersects(column) && column.top() < tile.top() + kept) return true;
    }
    return false;
}

bool picturesKeepLeast(const BottomInput& in, int bottom) {
    for (const QRect& tile : tilesAt(in, bottom))
        if (tile.height() < leastTileHeight(in.deckMode)) return false;
    return true;
}

/// The deck buttons' block, centred in the picture area.
QRect buttonsAt(const BottomInput& in, int bottom) {
    const int top = in.padding.top();
    const int room = in.content.height() - top - bottom;
    return QRect(0, top + (room - in.buttonsHeight) / 2, in.content.width(), in.buttonsHeight);
}

/// The column of `size` placed by the first way that works, or `over` when none does.
BottomLayout place(const BottomInput& in, QSize size) {
    const int width = in.content.width(), height = in.content.height();
    const int barWidth = std::max(0, width - 2 * barInset);
    const int transfers = transferRoom(barWidth, in.transferRows, in.transferRowHeight);
    const int band = transferBand(transfers);
    const int w = std::min(size.width(), barWidth), h = size.height();
    BottomLayout out;
    const int edge = band > 0 ? height - band - bandPadding : height - barInset;
    const QRect floating(barInset + (barWidth - w) / 2, edge - h, w, h);
    const QRect rows(barInset, height - band + bandPadding, barWidth, transfers);
    const int gridBottom = in.padding.bottom() + band;
    auto floatOver = [&](ColumnPlace place) {
        out.place = place;
        out.pictureBottom = in.kind == PictureAreaKind::deckButtons ? std::max(in.padding.bottom(), band) : gridBottom;
        out.column = floating;
        out.transfers = rows;
        out.transferColumns = transferColumns(barWidth, in.transferRows);
        return out;
    };
    // Docked: the column at the band's trailing end with the transfer rows beside it, or above them where
    // the rows would have too little room beside it.
    const int rowsWidth = std::max(0, barWidth - w - barGap);
    const bool rowsBeside = in.transferRows == 0 || rowsWidth >= leastTransferRowWidth;
    const int besideRoom = transferRoom(rowsWidth, in.transferRows, in.transferRowHeight);
    const int dockBand = rowsBeside ? std::max(transferBand(besideRoom), h + 2 * bandPadding) : band + h + bandPadding;
    auto docked = [&](ColumnPlace place, int bandHeight) {
        out.place = place;
        if (rowsBeside) {
            out.column = QRect(barInset + barWidth - w, height - bandPadding - h, w, h);
            out.transfers = QRect(barInset, height - bandHeight + (bandHeight - besideRoom) / 2, rowsWidth, besideRoom);
            out.transferColumns = transferColumns(rowsWidth, in.transferRows);
        } else {
            out.column = QRect(barInset + (barWidth - w) / 2, edge - h, w, h);
            out.transfers = rows;
            out.transferColumns = transferColumns(barWidth, in.transferRows);
        }
        return out;
    };
    if (size.isEmpty()) return floatOver(ColumnPlace::floating);

    if (in.kind == PictureAreaKind::deckButtons) {
        const int bottom = std::max(in.padding.bottom(), band);
        if (floating.top() >= buttonsAt(in, bottom).bottom() + barGap) return floatOver(ColumnPlace::floating);
        const int dockBottom = std::max(in.padding.bottom(), dockBand + barGap);
        if (height - in.padding.top() - dockBottom >= in.buttonsHeight) {
            out.pictureBottom = dockBottom;
            return docked(ColumnPlace::docked, dockBottom - barGap);
        }
        return floatOver(ColumnPlace::over);
    }
    if (in.kind != PictureAreaKind::feedGrid || !coversPictures(in, floating, gridBottom))
        return floatOver(ColumnPlace::floating);
    // Collapsed controls, the figures and the deck controls are as small as the column gets: they take their band
    // even where the pictures then fall below their least height; only the expanded panel goes over them.
    const bool expanded = !in.expandedColumn.isEmpty() && size == in.expandedColumn;
    if (!expanded || picturesKeepLeast(in, in.padding.bottom() + dockBand)) {
        out.pictureBottom = in.padding.bottom() + dockBand;
        return docked(ColumnPlace::docked, dockBand);
    }
    return floatOver(ColumnPlace::over);
}

/// Above the column, the transfer rows and the pictures' bottom edge; below the top bar and whatever controls
/// the pictures hold there.
QRect noticeRoom(const BottomInput& in, const BottomLayout& plan) {
    const int width = in.content.width(), height = in.content.height();
    int bottom = height - barInset;
    if (!plan.column.isEmpty()) bottom = std::min(bottom, plan.column.top());
    if (in.transferRows > 0) bottom = std::min(bottom, plan.transfers.top());
    int top = std::max(in.topBarBottom, barInset);
    switch (in.kind) {
        case PictureAreaKind::nearbyCameras:
            // The nearby cameras' rows fill the picture area; notices keep to the margin under it.
            top = std::max(top, height - in.padding.bottom());
            break;
        case PictureAreaKind::deckButtons:
            top = std::max(top, buttonsAt(in, plan.pictureBottom).bottom() + 1);
            break;
        case PictureAreaKind::feedGrid:
            for (const QRect& tile : tilesAt(in, plan.pictureBottom))
                if (tile.top() < bottom)
                    top = std::max(top, tile.top() + tileControlsZone(in.deckMode, in.showsChrome));
            break;
    }
    // Notices are passing words over a picture: a small gap keeps them apart from what they stand between.
    constexpr int gap = 6;
    top += gap;
    bottom -= gap;
    // No room at all (the expanded panel over the pictures): an empty line where the room would end.
    return QRect(barInset, std::min(top, bottom), std::max(0, width - 2 * barInset), std::max(0, bottom - top));
}

/// Over the pictures of the row above the notice room's: under their controls, above the next row.
QRect noticeRoomAbove(const BottomInput& in, const BottomLayout& plan) {
    if (in.kind != PictureAreaKind::feedGrid) return {};
    const auto tiles = tilesAt(in, plan.pictureBottom);
    int lastTop = -1;
    for (const QRect& tile : tiles)
        if (tile.top() < plan.notices.top()) lastTop = std::max(lastTop, tile.top());
    int top = std::max(in.topBarBottom, barInset), bottom = lastTop;
    bool above = false;
    for (const QRect& tile : tiles)
        if (tile.bottom() < lastTop) {
            above = true;
            top = std::max(top, tile.top() + tileControlsZone(in.deckMode, in.showsChrome));
        }
    if (!above) return {};
    constexpr int gap = 6;
    top += gap;
    bottom -= gap;
    if (bottom <= top) return {};
    return QRect(barInset, top, std::max(0, in.content.width() - 2 * barInset), bottom - top);
}

}  // namespace

BottomLayout layoutBottom(const BottomInput& input) {
    BottomLayout out = place(input, input.column);
    if (!input.expandedColumn.isEmpty())
        out.roomForExpanded = place(input, input.expandedColumn).place != ColumnPlace::over;
    const int pictureEdge = input.content.height() - out.pictureBottom;
    if (input.kind == PictureAreaKind::feedGrid && out.column.top() < pictureEdge)
        out.keepOut = out.column.intersected(QRect(0, 0, input.content.width(), pictureEdge));
    out.notices = noticeRoom(input, out);
    out.noticesAbove = noticeRoomAbove(input, out);
    return out;
}

int stayingNoticeWidth(int roomWidth) {
    constexpr int widest = 640;
    return std::clamp(roomWidth, 0, widest);
}

namespace {

/// The room less what lies over a mark: a mark in its lower half ends it above the mark, one in its upper half starts
/// it below. Only marks between `left` and `right` count.
QRect clearOfMarks(const QRect& in, int left, int right, const std::vector<QRect>& marks) {
    int top = in.top(), bottom = in.bottom() + 1;
    const int middle = (top + bottom) / 2;
    for (const QRect& mark : marks) {
        if (mark.right() < left || mark.left() > right || mark.bottom() < top || mark.top() >= bottom) continue;
        if (mark.center().y() >= middle)
            bottom = std::min(bottom, mark.top() - noticeSpacing);
        else
            top = std::max(top, mark.bottom() + 1 + noticeSpacing);
    }
    return QRect(in.left(), top, in.width(), std::max(0, bottom - top));
}

/// Where a thing of `size` stands on the room's bottom crossing no mark: the place nearest the room's middle, beside
/// the marks it would cross there; empty where there is none.
QRect besideMarks(const QRect& room, QSize size, const std::vector<QRect>& marks) {
    if (size.isEmpty() || room.height() < size.height() || room.width() < size.width()) return {};
    const int bottom = room.bottom() + 1;
    auto at = [&](int x) { return QRect(x, bottom - size.height(), size.width(), size.height()); };
    auto clear = [&](const QRect& place) {
        if (!room.contains(place)) return false;
        return std::none_of(marks.begin(), marks.end(), [&](const QRect& mark) {
            return place.intersects(mark.adjusted(-noticeSpacing, -noticeSpacing, noticeSpacing, noticeSpacing));
        });
    };
    const int middle = room.left() + (room.width() - size.width()) / 2;
    std::vector<int> xs{middle};
    for (const QRect& mark : marks) {
        xs.push_back(mark.right() + 1 + noticeSpacing);
        xs.push_back(mark.left() - noticeSpacing - size.width());
    }
    std::optional<int> best;
    for (int x : xs)
        if (clear(at(x)) && (!best || std::abs(x - middle) < std::abs(*best - middle))) best = x;
    return best ? at(*best) : QRect();
}

}  // namespace

QRect passingSpare(const QRect& spare, QSize count, int staying) {
    if (staying <= 0 || spare.isEmpty()) return spare;
    const QRect rest = spare.adjusted(count.width() + noticeSpacing, 0, 0, 0);
    return rest.width() > 0 ? rest : QRect();
}

NoticePlan placeNotices(const NoticeInput& in) {
    using S = NoticePlan::Staying;
    const int width = stayingNoticeWidth(in.room.width());
    const int left = in.room.left() + (in.room.width() - width) / 2;
    const QRect room = clearOfMarks(in.room, left, left + width - 1, in.marks);
    const int top = room.top(), bottom = room.bottom() + 1;
    NoticePlan plan;
    if (in.staying > 0) {
        if (in.cardHeight <= room.height()) {
            plan.staying = S::card;
            plan.stayingPlace = QRect(left, bottom - in.cardHeight, width, in.cardHeight);
        } else if (in.barHeight <= room.height()) {
            plan.staying = S::bar;
            plan.stayingPlace = QRect(left, bottom - in.barHeight, width, in.barHeight);
        } else if (const QRect beside = besideMarks(in.room, in.count, in.marks); !beside.isEmpty()) {
            // Too little room above a mark for the bar: the count alone beside it, the room's whole height.
            plan.staying = S::count;
            plan.stayingPlace = beside;
        } else if (in.spare.width() >= in.count.width() && in.spare.height() >= in.count.height() &&
                   !in.count.isEmpty()) {
            // At the leading end of the top bar's room, leaving the rest to a passing line.
            plan.staying = S::count;
            plan.stayingPlace =
                QRect(QPoint(in.spare.left(), in.spare.top() + (in.spare.height() - in.count.height()) / 2), in.count);
        }
    }
    // The passing notice is drawn whole or not at all: squeezed, its letters would be too small to read. It never
    // lies over the count, which says little and is all there is of the notices.
    const bool withCard = plan.staying == S::card || plan.staying == S::bar;
    auto fits = [&](const QRect& place) {
        return in.passingHeight <= place.height() && !place.isEmpty() &&
               (plan.staying != S::count || !place.intersects(plan.stayingPlace));
    };
    const QRect roomAbove = clearOfMarks(in.roomAbove, in.roomAbove.left(), in.roomAbove.right(), in.marks);
    const QRect aboveThem(room.left(), top, room.width(),
                          (withCard ? plan.stayingPlace.top() - noticeSpacing : bottom) - top);
    if (in.passingHeight <= 0)
        plan.passing = withCard && aboveThem.height() >= 0 ? aboveThem : room;
    else if (fits(aboveThem))
        plan.passing = aboveThem;
    else if (fits(roomAbove))
        plan.passing = roomAbove;
    else if (const QRect spare = passingSpare(in.spare, in.count, in.staying);
             in.passingSpareHeight > 0 && in.passingSpareHeight <= spare.height())
        plan.passing = spare;
    else if (fits(room))
        plan.passing = room;
    return plan;
}

int transferColumns(int width, int rows) {
    if (rows <= 0) return 1;
    return std::clamp((width + transferSpacing) / (leastTransferRowWidth + transferSpacing), 1, rows);
}

int transferRoom(int width, int rows, int rowHeight) {
    if (rows <= 0) return 0;
    const int columns = transferColumns(width, rows);
    const int lines = (rows + columns - 1) / columns;
    return lines * rowHeight + (lines - 1) * transferSpacing;
}

int settingsColumnWidth(int windowWidth) {
    constexpr int ideal = 380, least = 320;
    return std::max(std::min(ideal, windowWidth * 2 / 5), least);
}

QString cameraShortcutTitle(int number) {
    return QStringLiteral("Camera %1 on air").arg(number);
}

}  // namespace morvane
