#include "deck_ui/takes/takes_rules.h"

#include <gtest/gtest.h>

#include <limits>

using namespace morvane;
using namespace morvane::takes;

namespace {

const Date base{760000000.0};

RetouchTake takeWith(int cuts, bool edited, double length = 10) {
    RetouchTake t;
    t.number = 7;
    RetouchClip c;
    c.camera = "Alpha";
    c.start = base;
    c.duration = length;
    t.clips.push_back(c);
    for (int i = 0; i < cuts; ++i) t.cuts.push_back({"Alpha", base.addingTimeInterval(i)});
    if (edited) t.edit = RetouchEdit::editFromLiveCut(t);
    return t;
}

}  // namespace

TEST(TakesTexts, Durations) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {{59.5, "1:00"},
                 {59.4, "0:59"},
                 {3725.4, "62:05"},
                 {0, "0:00"},
                 {61, "1:01"},
                 {std::numeric_limits<double>::quiet_NaN(), "0:00"},
                 {1e300, "150000000000000000:00"}};
    for (const auto& c : cases) EXPECT_EQ(durationText(c.seconds), c.text) << c.seconds;
    EXPECT_EQ(durationText(RetouchTake{}), "0:00") << "a take without clips";
}

TEST(TakesTexts, SwitchSummaries) {
    const auto at = [](Date) { return std::string("14:05"); };
    struct Case {
        int cuts;
        bool edited;
        const char* text;
    } cases[] = {{0, false, "0 switches \u00B7 14:05"},
                 {1, false, "1 switch \u00B7 14:05"},
                 {2, false, "2 switches \u00B7 14:05"},
                 {5, true, "5 switches \u00B7 edited \u00B7 14:05"}};
    for (const auto& c : cases) EXPECT_EQ(switchSummary(takeWith(c.cuts, c.edited), at), c.text);

    RetouchTake two = takeWith(0, false);
    RetouchClip b = two.clips[0];
    b.camera = "Bravo";
    two.clips.push_back(b);
    EXPECT_EQ(camerasLine(two), "Alpha \u00B7 Bravo");
    EXPECT_FALSE(localTimeOfDay(base).empty());
}

TEST(TakesTexts, DeleteDialogsAndFooters) {
    auto take = takeWith(0, false);
    EXPECT_EQ(deleteTitle(std::nullopt), "Delete this take?");
    EXPECT_EQ(deleteTitle(take), "Delete Take 7?");
    take.name = "Wedding";
    EXPECT_EQ(deleteTitle(take), "Delete Wedding?");
    take.name = "";
    EXPECT_EQ(deleteTitle(take), "Delete Take 7?");

    const std::string copies =
        "Its 1080p copies and your edits are removed from this computer. The 4K originals stay on the cameras.";
    EXPECT_EQ(deleteMessage(take), copies);
    EXPECT_EQ(deleteMessage(std::nullopt), copies);
    take.exportedAt = base;
    EXPECT_EQ(deleteMessage(take).rfind("It leaves this list.", 0), 0u);

    EXPECT_EQ(collectingFooter(true).rfind("After each take, every camera sends this deck a 1080p copy", 0), 0u);
    EXPECT_EQ(collectingFooter(false),
              "Cameras send copies only when you ask. \u201CGet today's takes\u201D also fetches takes filmed before "
              "this deck connected.");
}

TEST(TakesRows, LinksAndCollectingAgain) {
    auto take = takeWith(1, false);
    EXPECT_TRUE(opensEditor(take));
    take.exportedAt = base;
    EXPECT_FALSE(opensEditor(take)) << "an exported take";
    EXPECT_TRUE(collectAgainIDs(take).empty());
    take.exportedClips = take.clips;
    take.clips.clear();
    ASSERT_EQ(collectAgainIDs(take).size(), 1u);
    EXPECT_EQ(collectAgainIDs(take)[0], take.exportedClips->front().id);
    take.exportedAt.reset();
    EXPECT_FALSE(opensEditor(take)) << "a take without copies";
}

TEST(ArrivingRows, MembershipAndStatusTexts) {
    struct Case {
        std::optional<double> progress;
        std::int64_t waiting, preparing;
        bool arriving;
        const char* text;
    } cases[] = {
        {0.427, 3, 1, true, "sending 42% \u00B7 2 waiting \u00B7 preparing 1"},
        {0.5, 1, 0, true, "sending 50%"},
        {std::nullopt, 2, 0, true, "2 waiting"},
        {std::nullopt, 0, 2, true, "preparing 2"},
        {0.999, 1, 0, true, "sending 99%"},
        {1.0, 1, 0, true, "sending 100%"},
        {0.5, 0, 0, false, "sending 50%"},  // progress alone does not list a camera; never a negative count
        {std::nullopt, 0, 0, false, ""},
        {std::numeric_limits<double>::infinity(), std::numeric_limits<std::int64_t>::min(), 0, false, "sending 0%"},
    };
    for (const auto& c : cases) {
        CameraStatus status;
        status.deckCopyProgress = c.progress;
        status.deckCopiesWaiting = c.waiting;
        status.deckCopiesPreparing = c.preparing;
        EXPECT_EQ(isArriving(status), c.arriving) << c.text;
        EXPECT_EQ(arrivingStatusText(status), c.text);
    }
    EXPECT_FALSE(isArriving(std::nullopt)) << "a camera that has not reported yet";
}

// A row once shown stays, and the list scrolls so that the row that keeps its place is where it was.
TEST(ArrivingRows, RowsKeepTheirPlace) {
    CameraStatus sending;
    sending.deckCopyProgress = 0.5;
    sending.deckCopiesWaiting = 1;
    EXPECT_EQ(keptArrivingText(sending, true), "sending 50%");
    EXPECT_EQ(keptArrivingText(CameraStatus{}, true), "all copies in") << "its last copy in, the row stays";
    EXPECT_EQ(keptArrivingText(std::nullopt, false), "not connected") << "its camera gone, the row stays";
    EXPECT_EQ(keptArrivingText(sending, false), "not connected");

    struct Case {
        const char* what;
        int rowTop, offset, page, view;
        KeptScroll kept;
    } cases[] = {
        {"nothing above it changed", 300, 300, 500, 600, {0, 600}},
        {"a take filed on top of a short list: it scrolls by that row, the page grows for it",
         380,
         300,
         600,
         600,
         {80, 680}},
        {"... of a long list: it scrolls", 380, 300, 2000, 600, {80, 2000}},
        {"rows above went while it was scrolled", 210, 120, 2000, 600, {90, 2000}},
        {"more went above than was scrolled: as near as the top allows", 100, 150, 600, 600, {0, 600}},
    };
    for (const auto& c : cases) EXPECT_EQ(keepRowInPlace(c.rowTop, c.offset, c.page, c.view), c.kept) << c.what;
}
