#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/deck_rules.h"
#include "app/feed_grid_layout.h"
#include "app/feed_tile_rules.h"
#include "app/health_line_rules.h"
#include "app/monitor_screen_rules.h"
#include "app/transfer_row_rules.h"

namespace morvane {
namespace {

/// The contrast of two colours as screens rate it (1 to 21), each first laid over the picture behind.
double contrastOver(QColor front, QColor back, QColor picture) {
    auto over = [](QColor c, QColor under) {
        const double a = c.alphaF();
        return QColor::fromRgbF(float(c.redF() * a + under.redF() * (1 - a)),
                                float(c.greenF() * a + under.greenF() * (1 - a)),
                                float(c.blueF() * a + under.blueF() * (1 - a)));
    };
    auto luminance = [](QColor c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const QColor backing = over(back, picture);
    const double a = luminance(over(front, backing)), b = luminance(backing);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

/// Over a white, a mid-grey and a black picture.
const QColor pictures[] = {Qt::white, QColor(128, 128, 128), Qt::black};

TEST(ScreenRules, SettingsColumnWidths) {
    const std::pair<int, int> cases[] = {{1920, 380}, {1280, 380}, {960, 380}, {800, 320}, {640, 320}};
    for (const auto& [window, column] : cases) EXPECT_EQ(settingsColumnWidth(window), column) << window;
}

TEST(ScreenRules, DeckSwitchReadsOverAnyPicture) {
    for (const auto& [on, offered] : {std::pair{false, false}, {true, false}, {false, true}}) {
        const auto face = deckSwitchFace(on, offered);
        for (const QColor& picture : pictures)
            EXPECT_GE(contrastOver(face.label, face.fill, picture), 4.5)
                << on << offered << " over " << picture.name().toStdString();
    }
    EXPECT_NE(deckSwitchFace(false, true), deckSwitchFace(false)) << "an offer stands out";
}

TEST(ScreenRules, GridLayouts) {
    struct Case {
        std::size_t count;
        QSizeF area;
        int columns, rows;
        QSizeF tile;
    };
    const Case cases[] = {
        {0, {1200, 800}, 1, 0, {1200, 800}}, {1, {1200, 800}, 1, 1, {1200, 800}}, {2, {1200, 800}, 2, 1, {598, 800}},
        {2, {600, 900}, 1, 2, {600, 448}},   {2, {700, 700}, 2, 1, {348, 700}},   {2, {700, 701}, 1, 2, {700, 348.5}},
        {3, {1200, 800}, 2, 2, {598, 398}},  {4, {1200, 800}, 2, 2, {598, 398}},
    };
    for (const auto& c : cases) {
        const auto layout = feedGridLayout(c.count, c.area);
        EXPECT_EQ(layout.columns, c.columns) << c.count;
        EXPECT_EQ(layout.rows, c.rows) << c.count;
        EXPECT_EQ(layout.tileSize, c.tile) << c.count;
        ASSERT_EQ(layout.tiles.size(), c.count);
    }
    const auto four = feedGridLayout(4, {1200, 800});
    EXPECT_EQ(four.tiles[3], QRectF(602, 402, 598, 398));
    const auto three = feedGridLayout(3, {1200, 800});
    EXPECT_EQ(three.tiles[2], QRectF(301, 402, 598, 398));  // alone in its row, centred
    const auto one = feedGridLayout(1, {1200, 800});
    EXPECT_EQ(one.spacing, 0);
    EXPECT_EQ(one.tiles[0], QRectF(0, 0, 1200, 800));
}

TEST(ScreenRules, TileBorders) {
    using K = TileBorder::Kind;
    struct Case {
        bool deck, onAir, recording, selected, chrome;
        K kind;
        qreal width;
    };
    const Case cases[] = {
        {true, true, false, true, true, K::onAir, 6},
        {true, false, true, false, true, K::none, 0},  // recording shows no border in deck mode
        {true, false, true, true, true, K::selected, 2},
        {false, true, false, false, true, K::none, 0},  // on air shows no border outside deck mode
        {false, false, true, true, true, K::recording, 4},
        {false, false, false, true, true, K::selected, 2},
        {false, false, false, true, false, K::none, 0},  // one camera: no outline
    };
    for (const auto& c : cases) {
        const auto border = tileBorder(c.deck, c.onAir, c.recording, c.selected, c.chrome);
        EXPECT_EQ(border.kind, c.kind);
        EXPECT_EQ(border.width, c.width);
        EXPECT_EQ(border.insideEdge, c.kind == K::onAir || c.kind == K::recording);
    }
}

TEST(ScreenRules, TileClicksButtonsAndInsets) {
    EXPECT_EQ(tileClick(false, true), TileClick::select);
    EXPECT_EQ(tileClick(true, true), TileClick::focus);
    EXPECT_EQ(tileClick(false, false), TileClick::focus);
    EXPECT_FALSE(expandButtonFace(false, false));
    EXPECT_EQ(expandButtonFace(true, false)->label, QStringLiteral("Expand"));
    EXPECT_EQ(expandButtonFace(false, true)->label, QStringLiteral("Show all cameras"));
    EXPECT_EQ(expandButtonFace(true, true)->symbol, QStringLiteral("arrow.down.right.and.arrow.up.left"));
    EXPECT_EQ(readingsInsets(false, false), (ReadingsInsets{16, 76}));
    EXPECT_EQ(readingsInsets(false, true), (ReadingsInsets{16, 116}));
    EXPECT_EQ(readingsInsets(true, false), (ReadingsInsets{8, 52}));
    EXPECT_EQ(chromeTopInset(true), 48);
    EXPECT_EQ(loupeSide(true), 120);
    EXPECT_EQ(loupeSide(false), 150);
    EXPECT_EQ(noPictureText("Studio").toStdString(), "No picture from Studio · repairing…");
}

TEST(ScreenRules, ATileSaysWhileItsCameraIsReconnectedOrSendsNoPicture) {
    struct Case {
        bool reconnecting, noPicture;
        std::optional<std::string> said;
    };
    const Case cases[] = {
        {true, false, "Reconnecting…"},
        {true, true, "Reconnecting…"},  // the link is at work: no repair of its own
        {false, true, "No picture from Studio · repairing…"},
        {false, false, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto said = tileNotice(c.reconnecting, c.noPicture, "Studio");
        EXPECT_EQ(said ? std::optional(said->toStdString()) : std::nullopt, c.said);
    }
}

TEST(ScreenRules, TileReadingsShown) {
    CameraStatus status;
    EXPECT_EQ(tileReadings(std::nullopt, true, false, true), (TileReadings{false, false, true, false}));
    EXPECT_EQ(tileReadings(status, true, true, true), (TileReadings{false, false, false, true}));  // scope off
    status.scope = ScopeKind::parade;
    status.loupe = true;
    status.falseColor = true;
    EXPECT_EQ(tileReadings(status, true, true, false), (TileReadings{true, true, true, false}));
    EXPECT_EQ(tileReadings(status, false, false, true), (TileReadings{true, true, false, false}));
}

TEST(ScreenRules, DeckNumbersAndLabels) {
    const PeerId a{Uuid()}, b{Uuid()}, gone{Uuid()};
    EXPECT_EQ(deckBarNumber({a, b}, b), 2);
    EXPECT_EQ(deckBarNumber({a, b}, gone), 1);
    EXPECT_EQ(deckBarAccessibilityLabel("Studio", 2, true).toStdString(), "Studio, camera 2, on air");
    EXPECT_EQ(deckBarAccessibilityLabel("Studio", 2, false).toStdString(), "Studio, camera 2");
    EXPECT_EQ(deckBarStateText(false).toStdString(), "Put on air");
    EXPECT_EQ(deckButtonStateText(false).toStdString(), "click to put on air");
    EXPECT_EQ(deckButtonAccessibilityLabel("Studio", true).toStdString(), "Studio, on air");
    EXPECT_EQ(deckButtonMinHeight(true), 84);
    EXPECT_EQ(flipCameraLabel("Studio", true).toStdString(), "Use Studio's back camera");
    EXPECT_EQ(flipCameraLabel("Studio", false).toStdString(), "Use Studio's front camera");
    EXPECT_EQ(recordEveryCameraLabel(true).toStdString(), "Stop recording on every camera");
    EXPECT_EQ(droppedCameraName(QStringLiteral("Studio\nWide")), std::optional<std::string>("Studio"));
    EXPECT_EQ(droppedCameraName(QString()), std::nullopt);
}

TEST(ScreenRules, LensRow) {
    const std::pair<double, const char*> labels[] = {
        {0.5, ".5"},
        {1, "1"},
        {3, "3"},
        {2.9, "2"},
        {std::nan(""), "—"},
        {std::numeric_limits<double>::infinity(), "—"},
        {1e300, "—"},
    };
    for (const auto& [factor, text] : labels) EXPECT_EQ(deckLensLabel(factor).toStdString(), text) << factor;
    EXPECT_TRUE(deckLensIsSelected(1.02, 1));
    EXPECT_FALSE(deckLensIsSelected(1.06, 1));
    EXPECT_FALSE(deckLensIsSelected(std::nan(""), 1));
}

TEST(ScreenRules, BatteryThresholds) {
    struct Case {
        float level;
        bool charging;
        const char* symbol;
        const char* text;
        bool low;
    };
    const Case cases[] = {
        {0.10f, false, "battery.0", "10%", true},       {0.15f, false, "battery.25", "15%", true},
        {0.199f, false, "battery.25", "19%", true},     {0.2f, false, "battery.25", "20%", false},
        {0.40f, false, "battery.50", "40%", false},     {0.65f, false, "battery.75", "65%", false},
        {0.90f, false, "battery.100", "90%", false},    {0.999f, false, "battery.100", "99%", false},
        {0.05f, true, "battery.100.bolt", "5%", false}, {std::nanf(""), false, "battery.0", "—%", false},
        {7.0f, false, "battery.100", "100%", false},    {-1.0f, false, "battery.0", "0%", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(batterySymbol(c.level, c.charging).toStdString(), c.symbol) << c.level;
        EXPECT_EQ(batteryText(c.level).toStdString(), c.text) << c.level;
        EXPECT_EQ(batteryIsLow(c.level, c.charging), c.low) << c.level;
    }
}

TEST(ScreenRules, ByteCounts) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "Zero KB"},
        {-5, "Zero KB"},
        {1, "1 byte"},
        {999, "999 bytes"},
        {1500, "2 KB"},
        {999'999, "1 MB"},
        {153'600'000, "153.6 MB"},
        {10'000'000, "10 MB"},
        {1'234'567'890, "1.23 GB"},
        {10'000'000'000, "10 GB"},
        {1'500'000'000'000, "1.5 TB"},
        {std::numeric_limits<std::int64_t>::max(), "9.22 EB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(byteCountText(bytes).toStdString(), text) << bytes;
}

CameraStatus videoStatus(std::int64_t freeBytes) {
    CameraStatus s;
    s.mode = CaptureMode::video;
    s.resolution = {3840, 2160};
    s.frameRate = 30;
    s.freeBytes = freeBytes;
    return s;
}

TEST(ScreenRules, StorageEstimates) {
    auto s = videoStatus(10'000'000'000);
    EXPECT_EQ(recordMinutesLeft(s), 29);
    EXPECT_EQ(storageText(s).toStdString(), "10 GB · 29 min");
    EXPECT_FALSE(storageIsLow(s));
    s.freeBytes = 40'000'000'000;  // 119 minutes
    EXPECT_EQ(storageText(s).toStdString(), "40 GB · 119 min");
    s.freeBytes = 41'000'000'000;  // 122 minutes
    EXPECT_EQ(storageText(s).toStdString(), "41 GB · 2 h");
    s.freeBytes = 3'000'000'000;  // 8 minutes
    EXPECT_TRUE(storageIsLow(s));
    s.mode = CaptureMode::photo;  // photo: free space only, but still red by the video estimate
    EXPECT_EQ(storageText(s).toStdString(), "3 GB");
    EXPECT_TRUE(storageIsLow(s));
    // Below 24 fps counts as 24; other profiles weigh 0.25.
    auto slow = videoStatus(10'000'000'000);
    slow.frameRate = 0;
    auto at24 = videoStatus(10'000'000'000);
    at24.frameRate = 24;
    EXPECT_EQ(recordMinutesLeft(slow), recordMinutesLeft(at24));
    auto log = videoStatus(10'000'000'000);
    log.colorProfile = ColorProfile::appleLog;
    EXPECT_EQ(recordMinutesLeft(log), 21);
    // A zero-sized format gives no estimate: the free space alone, never red.
    auto empty = videoStatus(1'000);
    empty.resolution = {0, 0};
    EXPECT_EQ(recordMinutesLeft(empty), std::nullopt);
    EXPECT_EQ(storageText(empty).toStdString(), "1 KB");
    EXPECT_FALSE(storageIsLow(empty));
    // Absurd figures from a camera: no overflow, no negative time.
    auto huge = videoStatus(std::numeric_limits<std::int64_t>::max());
    huge.resolution = {1, 1};
    EXPECT_TRUE(recordMinutesLeft(huge));
    auto wide = videoStatus(1'000'000);
    wide.resolution = {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max()};
    EXPECT_EQ(recordMinutesLeft(wide), 0);
    auto negative = videoStatus(-5'000'000'000);
    EXPECT_EQ(recordMinutesLeft(negative), 0);
}

TEST(ScreenRules, HeatMicrophoneAndHealthItems) {
    EXPECT_FALSE(heatWarning(1));
    EXPECT_EQ(heatWarning(2)->first.toStdString(), "Hot");
    EXPECT_EQ(heatWarning(2)->second, FigureColor::orange);
    EXPECT_EQ(heatWarning(4)->first.toStdString(), "Too hot");
    EXPECT_EQ(heatWarning(3)->second, FigureColor::red);
    EXPECT_EQ(microphoneLevelColor(200), FigureColor::green);
    EXPECT_EQ(microphoneLevelColor(201), FigureColor::yellow);
    EXPECT_EQ(microphoneLevelColor(240), FigureColor::yellow);
    EXPECT_EQ(microphoneLevelColor(241), FigureColor::red);

    using K = HealthItem::Kind;
    auto s = videoStatus(10'000'000'000);
    s.battery = 0.5f;
    s.thermal = 2;
    s.pendingTransfers = 2;
    s.transferProgress = 0.5;
    const auto items = healthItems(s, 210, true);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].kind, K::microphone);
    EXPECT_EQ(items[0].color, FigureColor::yellow);
    EXPECT_EQ(items[1].text.toStdString(), "50%");
    EXPECT_EQ(items[2].text.toStdString(), "10 GB · 29 min");
    EXPECT_EQ(items[3].text.toStdString(), "Hot");
    EXPECT_EQ(items[4].text.toStdString(), "50% · 1 more");
    EXPECT_EQ(items[4].color, FigureColor::green);
    CameraStatus bare;
    const auto few = healthItems(bare, std::nullopt, true);
    ASSERT_EQ(few.size(), 1u);
    EXPECT_EQ(few[0].kind, K::storage);
    // A deck's camera: what it has to send waits for a remote, as its transfer row says.
    bare.pendingTransfers = 1;
    EXPECT_EQ(healthItems(bare, std::nullopt, false).back().text.toStdString(), "1 waiting for a remote");
    EXPECT_EQ(healthItems(bare, std::nullopt, true).back().text.toStdString(), "1 waiting");
}

TEST(ScreenRules, StatsLines) {
    auto s = videoStatus(0);
    s.liveISO = 400;
    s.liveShutter = 1.0 / 50;
    s.linkDelayMs = 42;
    EXPECT_EQ(statsLine("30 fps · 8.2 Mb/s", s, false).toStdString(), "30 fps · 8.2 Mb/s · ISO 400 · 1/50 · 42 ms");
    EXPECT_EQ(statsLine("30 fps · 8.2 Mb/s", std::nullopt, false).toStdString(), "30 fps · 8.2 Mb/s");
    s.linkDelayMs.reset();
    s.liveISO = 0;
    EXPECT_EQ(statsLine("1 fps · 0.1 Mb/s", s, false).toStdString(), "1 fps · 0.1 Mb/s · —");
    s.linkDelayMs = 250;
    EXPECT_FALSE(statsLineIsSlow(s));
    s.linkDelayMs = 251;
    EXPECT_TRUE(statsLineIsSlow(s));
    EXPECT_FALSE(statsLineIsSlow(std::nullopt));
}

TEST(ScreenRules, TransferRows) {
    EXPECT_EQ(transferButtonFace(false), (TransferButtonFace{QStringLiteral("Pause"), QStringLiteral("pause.fill")}));
    EXPECT_EQ(transferButtonFace(true), (TransferButtonFace{QStringLiteral("Send"), QStringLiteral("play.fill")}));
    CameraStatus s;
    s.transferName = "Take 01.mov";
    EXPECT_FALSE(transferRowShown(s));  // nothing pending, name or not
    EXPECT_FALSE(transferRowShown(std::nullopt));
    s.pendingTransfers = 1;
    EXPECT_TRUE(transferRowShown(s));
    EXPECT_FALSE(transferFileShown(s));
    s.transferProgress = 0.3;
    EXPECT_TRUE(transferFileShown(s));
}

TEST(ScreenRules, NoticesKeepToTheirRoomWholeAndStill) {
    using S = NoticePlan::Staying;
    const QRect small(16, 326, 688, 63), roomy(16, 286, 688, 103), none(16, 389, 688, 0);
    const QRect lowMark(26, 350, 80, 24), above(16, 162, 688, 60);
    // The bottom row at 720×480 with the deck on: a "No sound" mark in a tile's lower left leaves 21 points above it.
    const QRect deckRoom(16, 301, 688, 48), silentLeft(24, 328, 80, 22), silentMiddle(330, 328, 80, 22);
    const QRect spare(76, 16, 280, 44);
    const QSize count(110, 26);
    struct Case {
        const char* what;
        QRect room;
        std::vector<QRect> marks;
        int staying, card, passing;
        S shown;
        QRect place, passingRoom;
        bool rowAbove = true;
        QRect spare = {};
    };
    // clang-format off
    const Case cases[] = {
        {"the newest card fits: whole, on the room's bottom, the room's width up to 640",
         roomy, {}, 8, 64, 0, S::card, {40, 325, 640, 64}, {16, 286, 688, 33}},
        {"it does not fit: a bar of one line, never over the tiles' controls above the room",
         small, {}, 8, 76, 0, S::bar, {40, 359, 640, 30}, {16, 326, 688, 27}},
        {"no room (the expanded controls over the pictures) and no top bar: nothing, not a squeezed card",
         none, {}, 1, 40, 0, S::none, {}, none},
        {"a \"No sound\" mark low in the room: above it",
         roomy, {lowMark}, 3, 40, 0, S::card, {40, 304, 640, 40}, {16, 286, 688, 12}},
        {"... and where only the bar fits above it, the bar",
         roomy, {lowMark}, 3, 60, 0, S::bar, {40, 314, 640, 30}, {16, 286, 688, 22}},
        {"a passing line stands above them where it fits",
         roomy, {}, 2, 40, 30, S::card, {40, 349, 640, 40}, {16, 286, 688, 57}},
        {"a passing notice with no room above them goes to the row above",
         small, {}, 2, 40, 30, S::card, {40, 349, 640, 40}, above},
        {"... with one row, in the top bar, where the count would stand beside it",
         small, {}, 2, 40, 30, S::card, {40, 349, 640, 40}, {192, 16, 164, 44}, false, spare},
        {"... without, over them, where the staying ones stay",
         small, {}, 2, 40, 30, S::card, {40, 349, 640, 40}, small, false},
        {"no notice that stays: the passing one has the room",
         roomy, {lowMark}, 0, 0, 30, S::none, {}, {16, 286, 688, 58}},
        {"deck on, a silent camera in the bottom row: no bar above its mark, the count beside it",
         deckRoom, {silentLeft}, 3, 64, 0, S::count, {305, 323, 110, 26}, {16, 301, 688, 21}},
        {"... its mark under the room's middle: the count beside the mark, nearer the middle",
         deckRoom, {silentMiddle}, 3, 64, 0, S::count, {214, 323, 110, 26}, {16, 301, 688, 21}},
        {"the expanded controls over the pictures: the count in the top bar",
         none, {}, 3, 64, 0, S::count, {76, 25, 110, 26}, none, true, spare},
        {"a passing line where the mark leaves 21 points: whole in the row above, never squeezed",
         deckRoom, {silentLeft}, 0, 0, 30, S::none, {}, above},
        {"... with one row: whole in the top bar",
         deckRoom, {silentLeft}, 0, 0, 30, S::none, {}, spare, false, spare},
        {"... nor there: not drawn",
         deckRoom, {silentLeft}, 0, 0, 30, S::none, {}, {}, false},
        {"the count beside the mark: a passing line above the mark would cover it: the row above",
         QRect(16, 301, 688, 52), {QRect(24, 335, 80, 14)}, 3, 64, 10, S::count, {305, 327, 110, 26}, above},
        {"the count in the top bar: the passing line beside it",
         none, {}, 3, 64, 30, S::count, {76, 25, 110, 26}, {192, 16, 164, 44}, false, spare},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        NoticeInput in{c.room,  c.rowAbove ? above : QRect(), c.marks, c.staying, c.card, 30, c.passing, count,
                       c.spare, c.passing > 0 ? 26 : 0};
        const NoticePlan plan = placeNotices(in);
        EXPECT_EQ(plan.staying, c.shown);
        EXPECT_EQ(plan.stayingPlace, c.place);
        EXPECT_EQ(plan.passing, c.passingRoom);
        EXPECT_TRUE(c.room.contains(plan.stayingPlace) || c.spare.contains(plan.stayingPlace) ||
                    plan.stayingPlace.isEmpty())
            << "in the room, or in the top bar's spare room";
        EXPECT_TRUE(plan.passing.isEmpty() || plan.passing.height() >= c.passing) << "whole or not at all";
        EXPECT_FALSE(c.passing > 0 && plan.passing.intersects(plan.stayingPlace) && plan.staying == S::count)
            << "never over the count";
        for (const QRect& mark : c.marks) {
            EXPECT_FALSE(plan.stayingPlace.intersects(mark)) << "off the marks";
        }
        if (c.staying > 0 && (!c.room.isEmpty() || !c.spare.isEmpty())) {
            EXPECT_NE(plan.staying, S::none) << "always a way to the notices";
        }
        if (c.shown == S::card || c.shown == S::bar) {
            EXPECT_EQ(plan.stayingPlace.right(), c.room.left() + (c.room.width() + 640) / 2 - 1)
                << "the card and the bar end where each other ends: their close buttons in one place";
        }
        in.passingHeight = c.passing > 0 ? 0 : 30;
        EXPECT_EQ(placeNotices(in).stayingPlace, plan.stayingPlace) << "a passing notice moves none that stay";
    }
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

TEST(ScreenRules, TransferRowPartsNeverCross) {
    // Name 150, file 140, summary 110, as "Overhead over the kitchen counter" sending a clip gives.
    const TransferRowWidths busy{150, 140, 110, true};
    struct Case {
        const char* what;
        qreal right;
        TransferRowWidths widths;
        bool name, file, bar;
        qreal nameWidth;
    };
    const Case cases[] = {
        {"room for all", 700, busy, true, true, true, 150},
        {"the file name shortened", 500, busy, true, true, true, 150},
        {"no room for the file", 420, busy, true, false, true, 150},
        {"the name cut beside the bar", 330, busy, true, false, true, 104},
        {"the bar goes before a name shorter than its least", 250, busy, true, false, false, 122},
        {"the summary alone", 150, busy, false, false, false, 0},
        {"nothing being sent", 400, {150, 0, 110, false}, true, false, false, 150},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto p = transferRowPieces(10, c.right, 30, c.widths);
        EXPECT_EQ(!p.name.isEmpty(), c.name);
        EXPECT_EQ(!p.file.isEmpty(), c.file);
        EXPECT_EQ(!p.bar.isEmpty(), c.bar);
        EXPECT_EQ(p.name.width(), c.nameWidth);
        EXPECT_FALSE(p.summary.isEmpty()) << "how much is left to come always shows";
        const QRectF row(10, 0, c.right - 10, 30);
        const QRectF parts[] = {p.name, p.file, p.bar, p.summary};
        for (std::size_t i = 0; i < 4; ++i) {
            if (parts[i].isEmpty()) continue;
            EXPECT_TRUE(row.contains(parts[i])) << i;
            for (std::size_t j = i + 1; j < 4; ++j)
                if (!parts[j].isEmpty()) {
                    EXPECT_FALSE(parts[i].intersects(parts[j])) << i << " crosses " << j;
                }
        }
    }
}

TEST(ScreenRules, ReadingsFitTheTileBothWays) {
    const TileReadings all{true, true, true, true};
    const QSizeF legend(110, 130);
    // Full size: loupe 120, legend 130, scope 72, histogram 52, three gaps of 8: 398 high, 168 wide.
    struct Case {
        const char* what;
        QSizeF room;
        TileReadings shown;
        qreal scale;
    };
    const Case cases[] = {
        {"all at full size", {200, 400}, all, 1},
        {"a little short: scaled", {200, 370}, all, 0.85},
        {"narrow: scaled to the width", {140, 400}, all, 0.8},
        {"short: the histogram goes", {200, 300}, {true, true, true, false}, 0.8},
        {"shorter: the scope goes too", {200, 240}, {true, true, false, false}, 0.85},
        {"a sliver: only the loupe, at its least", {200, 100}, {true, false, false, false}, 0.8},
        {"narrower than the least loupe: nothing", {200, 70}, {}, 1},
        {"no room: none", {200, 20}, {}, 1},
        {"narrower than the legend: it goes", {100, 400}, {true, false, true, true}, 0.55},
        {"the loupe and the key do not fit together: the key stays", {200, 200}, {false, true, false, false}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto fit = fitReadings(all, c.room, 120, legend);
        EXPECT_EQ(fit.shown, c.shown);
        if (fit.shown != TileReadings{}) {
            EXPECT_NEAR(fit.scale, c.scale, 1e-9);
            const QSizeF size = readingsSize(fit, 120, legend);
            if (fit.shown.loupe) {
                EXPECT_GE(loupeSideAt(120, fit.scale), leastLoupeSide) << "its switch stays whole";
            }
            EXPECT_LE(size.width(), c.room.width());
            EXPECT_LE(size.height(), c.room.height());
        }
    }
    EXPECT_EQ(fitReadings({}, {0, 0}, 120, legend).shown, TileReadings{}) << "nothing wanted fits anywhere";
}

TEST(ScreenRules, PillsAndFiguresGiveWayByPriority) {
    struct PillsCase {
        qreal room;
        std::optional<RecordingWidths> recording;
        qreal name;
        PillsFit fit;
    };
    using R = PillsFit::Recording;
    const RecordingWidths rec{90, 52};
    const PillsCase pills[] = {
        {400, rec, 250, {R::whole, 250}},  // room for both whole
        {300, rec, 250, {R::whole, 204}},  // the name cut beside the time
        {168, rec, 250, {R::whole, 72}},   // exactly the least name beside the time
        {160, rec, 250, {R::time, 102}},   // the time gives up its word before the name its least width
        {130, rec, 250, {R::time, 72}},    // the red dot and the time beside the least name
        {100, rec, 250, {R::whole, 0}},    // no room for the least name: it goes, the time stays whole
        {60, rec, 250, {R::time, 0}},      // the narrowest tile still says it records
        {60, std::nullopt, 250, {R::none, 60}}, {200, rec, 50, {R::whole, 50}},  // a short name needs only itself
    };
    for (const auto& c : pills) EXPECT_EQ(fitPills(c.room, c.recording, c.name), c.fit) << c.room;
    // The top bar keeps room for the least of them: the recording time alone while recording.
    EXPECT_EQ(leastPillsWidth(rec, 250), 52);
    EXPECT_EQ(leastPillsWidth(std::nullopt, 250), leastNamePill);
    EXPECT_EQ(leastPillsWidth(std::nullopt, 50), 50);
    EXPECT_EQ(fitTopBar(300, 240, 40, true, 52), (TopBarFit{true, 60, true}));
    EXPECT_EQ(fitTopBar(300, 260, 40, true, 52), (TopBarFit{true, 80, false})) << "the deck switch gives up its word";
    EXPECT_EQ(fitTopBar(300, 260, 0, true, 52), (TopBarFit{false, 0, true}));

    struct FiguresCase {
        qreal room;
        std::optional<qreal> stats, health;
        FiguresFit fit;
    };
    const FiguresCase figures[] = {
        {400, 300, 200, {true, true, 300}},
        {250, 300, 200, {true, true, 250}},   // the stats line cut
        {150, 300, 200, {true, false, 150}},  // the health line goes whole
        {80, 300, 60, {false, true, 60}},     // below the stats line's least: it goes
        {400, std::nullopt, 200, {false, true, 200}},
        {400, 300, std::nullopt, {true, false, 300}},
    };
    for (const auto& c : figures) EXPECT_EQ(fitFigures(c.room, c.stats, c.health), c.fit) << c.room;
}

TEST(ScreenRules, HealthItemsGoByPriorityAndTheHeatWarningLast) {
    using K = HealthItem::Kind;
    const std::vector<HealthItem> all{
        {K::microphone, {}, {}}, {K::battery, {}, {}}, {K::storage, {}, {}}, {K::heat, {}, {}}, {K::transfers, {}, {}}};
    // Each 50 wide, 8 between: all five take 282.
    auto width = [](const HealthItem&) { return 50.0; };
    struct Case {
        qreal room;
        std::vector<K> kept;
    };
    const Case cases[] = {
        {282, {K::microphone, K::battery, K::storage, K::heat, K::transfers}},
        {281, {K::microphone, K::battery, K::storage, K::heat}},
        {200, {K::microphone, K::battery, K::heat}},
        {120, {K::battery, K::heat}},
        {60, {K::heat}},
        {40, {}},
    };
    for (const auto& c : cases) {
        std::vector<K> kept;
        for (const auto& item : healthItemsWithin(all, c.room, 8, width)) kept.push_back(item.kind);
        EXPECT_EQ(kept, c.kept) << c.room;
    }
}

TEST(ScreenRules, ATilesNoticeCoversNoneOfItsMarks) {
    EXPECT_EQ(shortTileNotice(false).toStdString(), "No picture · repairing…");
    EXPECT_EQ(shortTileNotice(true).toStdString(), "Reconnecting…");
    // The whole notice with its spinner, the shorter line with it, that line alone.
    const std::vector<QSizeF> forms{{220, 40}, {150, 40}, {150, 16}};
    const QRectF pills(8, 8, 120, 48), readings(250, 52, 142, 120);
    struct Case {
        const char* what;
        QSizeF tile;
        std::vector<QRectF> marks;
        std::optional<TileNoticePlace> place;
    };
    const Case cases[] = {
        {"no marks: centred, whole", {600, 340}, {}, TileNoticePlace{0, {190, 150, 220, 40}}},
        {"marks away from the centre",
         {600, 340},
         {pills, {450, 52, 142, 100}},
         TileNoticePlace{0, {190, 150, 220, 40}}},
        {"the readings reach the centre: below them",
         {400, 225},
         {pills, readings},
         TileNoticePlace{0, {90, 178, 220, 40}}},
        {"a narrow tile: the shorter line", {230, 225}, {}, TileNoticePlace{1, {40, 92.5, 150, 40}}},
        {"no band for the spinner: the line alone",
         {400, 120},
         {pills, {250, 52, 142, 40}},
         TileNoticePlace{2, {125, 98, 150, 16}}},
        {"no room anywhere: left out", {200, 60}, {{0, 0, 200, 40}}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto place = tileNoticePlace(c.tile, forms, c.marks);
        EXPECT_EQ(place, c.place);
        if (!place) continue;
        EXPECT_TRUE(QRectF(QPointF(), c.tile).contains(place->place));
        for (const QRectF& mark : c.marks) EXPECT_FALSE(place->place.intersects(mark));
    }
}

TEST(ScreenRules, TheOnAirBadgeKeepsClearOfTheNameAndTheButton) {
    const QSizeF badge(70, 26);
    const QRectF top(265, 10, 70, 26), corner(10, 364, 70, 26);
    struct Case {
        const char* what;
        bool deck, chrome;
        qreal pillsRight, expandLeft;
        QRectF place;
    };
    const Case cases[] = {
        {"room at the top centre", false, true, 200, 550, top},
        {"the name reaches the centre", false, true, 260, 550, corner},
        {"the button reaches the centre", false, true, 100, 340, corner},
        {"one camera: the top bar lies over the top", false, false, 0, 600, corner},
        {"deck mode: under the deck bar", true, true, 400, 550, top},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(onAirBadgePlace({600, 400}, badge, c.deck, c.chrome, c.pillsRight, c.expandLeft), c.place);
    }
}

TEST(ScreenRules, TheBottomIsLaidOutFromTheWindowTheCamerasAndTheChoicesAlone) {
    using P = ColumnPlace;
    const QSize pill(300, 77), panel(560, 298), figuresAndPanel(560, 36 + 12 + 298);
    struct Case {
        const char* what;
        QSize content;
        int top, bottom;
        std::size_t tiles;
        bool deck;
        PictureAreaKind kind;
        int buttons;
        QSize column, expanded;
        int transfers;  ///< rows, 28 high
        P place;
        int pictureBottom;
        bool roomForExpanded;
    };
    const auto grid = PictureAreaKind::feedGrid, buttons = PictureAreaKind::deckButtons;
    // clang-format off
    const Case cases[] = {
        {"four cameras: the pill floats below their pictures' least height",
         {1280, 800}, 64, 0, 4, false, grid, 0, pill, panel, 0, P::floating, 0, true},
        {"four cameras: the panel takes a band",
         {1280, 800}, 64, 0, 4, false, grid, 0, panel, panel, 0, P::docked, 314, true},
        {"with transfers the rows go beside it",
         {1280, 800}, 64, 0, 4, false, grid, 0, panel, panel, 1, P::docked, 314, true},
        {"a small window: the panel would squeeze the pictures",
         {960, 600}, 64, 0, 4, false, grid, 0, panel, panel, 0, P::over, 0, false},
        {"... there the pill floats",
         {960, 600}, 64, 0, 4, false, grid, 0, pill, panel, 0, P::floating, 0, false},
        {"the pill takes its band even where that leaves the pictures less than their least",
         {480, 480}, 64, 0, 4, true, grid, 0, pill, panel, 1, P::docked, 129, false},
        {"two cameras: the panel floats over their lower part",
         {960, 600}, 64, 0, 2, false, grid, 0, panel, panel, 0, P::floating, 0, true},
        {"one camera fills a large window: the panel floats over it",
         {1280, 800}, 0, 0, 1, false, grid, 0, figuresAndPanel, figuresAndPanel, 1, P::floating, 44, true},
        {"one camera in a small window: no room for the panel",
         {800, 480}, 0, 0, 1, false, grid, 0, figuresAndPanel, figuresAndPanel, 1, P::over, 44, false},
        {"... nor in deck mode",
         {820, 466}, 64, 0, 1, true, grid, 0, figuresAndPanel, figuresAndPanel, 1, P::over, 44, false},
        {"deck buttons: the panel keeps below them",
         {1280, 800}, 72, 150, 4, true, buttons, 272, panel, panel, 0, P::docked, 326, true},
        {"deck buttons in a small window: no room for the panel",
         {800, 480}, 52, 132, 4, true, buttons, 180, panel, panel, 0, P::over, 132, false},
        {"... the pill floats under them",
         {800, 480}, 52, 132, 4, true, buttons, 180, pill, panel, 0, P::floating, 132, false},
        {"four cameras in the smallest window: the pill in a band beside the rows kept for their takes",
         {720, 480}, 64, 0, 4, false, grid, 0, pill, panel, 4, P::docked, 140, false},
        {"... in deck mode too",
         {720, 480}, 64, 0, 4, true, grid, 0, pill, panel, 4, P::docked, 140, false},
        {"two cameras: the pill floats over them, their rows side by side in a band under them",
         {1024, 640}, 64, 0, 2, false, grid, 0, pill, panel, 2, P::floating, 44, true},
        {"the deck's buttons in the smallest window: the controls float under them, over two lines of rows",
         {720, 480}, 52, 76, 4, true, buttons, 180, QSize(300, 60), QSize(), 4, P::floating, 76, true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BottomInput in;
        in.content = c.content;
        in.padding = QMargins(0, c.top, 0, c.bottom);
        in.transferRows = c.transfers;
        in.transferRowHeight = 28;
        in.column = c.column;
        in.expandedColumn = c.expanded;
        in.kind = c.kind;
        in.tiles = c.tiles;
        in.deckMode = c.deck;
        in.showsChrome = c.tiles >= 2;
        in.buttonsHeight = c.buttons;
        in.topBarBottom = barInset + 44;
        const BottomLayout out = layoutBottom(in);
        EXPECT_EQ(out.place, c.place);
        EXPECT_EQ(out.pictureBottom, c.pictureBottom);
        EXPECT_EQ(out.roomForExpanded, c.roomForExpanded);
        EXPECT_TRUE(QRect(QPoint(0, 0), c.content).contains(out.column)) << "the column lies in the window";
        const QRect room = out.notices;
        EXPECT_GE(room.top(), in.topBarBottom) << "notices keep below the top bar";
        EXPECT_TRUE(QRect(QPoint(0, 0), c.content).contains(room)) << "notices lie in the window";
        EXPECT_FALSE(room.intersects(out.column)) << "notices keep off the column";
        if (!out.noticesAbove.isEmpty()) {
            EXPECT_GE(out.noticesAbove.top(), in.topBarBottom) << "and the top bar";
        }
        if (c.transfers > 0) {
            EXPECT_FALSE(room.intersects(out.transfers)) << "and off the transfer rows";
            EXPECT_FALSE(out.transfers.intersects(out.column)) << "the rows keep apart from it";
        }
        EXPECT_EQ(layoutBottom(in), out) << "the same window, cameras and choices give the same layout";
        if (out.place == P::over) continue;
        const QRect area(0, c.top, c.content.width(), c.content.height() - c.top - out.pictureBottom);
        if (c.kind == buttons) {
            EXPECT_LT(area.top() + (area.height() + c.buttons) / 2, out.column.top()) << "the buttons stay clear";
            EXPECT_LT(area.top() + (area.height() + c.buttons) / 2, room.top()) << "notices keep off the buttons";
            continue;
        }
        for (const QRectF& tileF : feedGridLayout(c.tiles, QSizeF(area.size())).tiles) {
            const QRect tile = tileF.toRect().translated(area.topLeft());
            const QRect controls(tile.topLeft(), QSize(tile.width(), tileControlsZone(c.deck, c.tiles >= 2)));
            EXPECT_FALSE(room.intersects(controls)) << "notices keep off the tiles' controls";
            EXPECT_FALSE(out.noticesAbove.intersects(controls)) << "in the row above too";
            if (out.column.size() == c.expanded) {
                EXPECT_GE(tile.height(), leastTileHeight(c.deck)) << "every picture keeps its least height";
            }
            if (tile.intersects(out.column) && out.place == P::floating) {
                EXPECT_GE(out.column.top(), tile.top() + leastTileHeight(c.deck)) << "and shows it above the bars";
            }
        }
        if (out.column.top() <= area.bottom()) {
            EXPECT_EQ(out.keepOut, out.column.intersected(QRect(0, 0, c.content.width(), area.bottom() + 1)));
        }
    }
}

}  // namespace
}  // namespace morvane
