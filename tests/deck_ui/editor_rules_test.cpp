#include "deck_ui/editor/editor_rules.h"
#include "shoot_library/timecode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace morvane;
using namespace morvane::editor;

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();
const Date base{760000000.0};

RetouchEdit::Switch sw(double time, const std::string& camera) {
    return {Uuid(), time, camera};
}

RetouchEdit editWith(std::vector<RetouchEdit::Switch> switches, double trimStart, double trimEnd) {
    RetouchEdit e;
    e.switches = std::move(switches);
    e.trimStart = trimStart;
    e.trimEnd = trimEnd;
    return e;
}

RetouchTake takeOf(std::vector<std::pair<std::string, std::pair<double, double>>> clips) {
    RetouchTake t;
    t.number = 3;
    for (const auto& [camera, span] : clips) {
        RetouchClip c;
        c.camera = camera;
        c.file = c.id.uuidString() + ".mov";
        c.start = base.addingTimeInterval(span.first);
        c.duration = span.second;
        t.clips.push_back(c);
    }
    return t;
}

}  // namespace

TEST(EditorTexts, TheEditorsTimecodeIsTheTimelineFilesTimecode) {
    const double film = 24000.0 / 1001, ntsc = 30000.0 / 1001, ntsc60 = 60000.0 / 1001;
    // A frame of the take, at its start, as every timeline file writes it.
    struct Case {
        double rate;
        std::int64_t frame;
        const char* text;
    } cases[] = {
        {film, 14386, "00:09:59:10"},    {film, 86400, "01:00:00:00"},  {film, 86399, "00:59:59:23"},
        {ntsc, 1799, "00:00:59;29"},     {ntsc, 1800, "00:01:00;02"},   {ntsc, 17982, "00:10:00;00"},
        {ntsc, 107892, "01:00:00;00"},   {ntsc60, 3599, "00:00:59;59"}, {ntsc60, 3600, "00:01:00;04"},
        {ntsc60, 215784, "01:00:00;00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(timecodeText(c.frame / c.rate, c.rate), c.text) << c.frame << " at " << c.rate;
    // Over an hour, frame by frame in strides, the editor and the library agree.
    for (const auto& [rate, counted] :
         {std::pair{film, TimelineRate{24, true}}, {ntsc, TimelineRate{30, true}}, {ntsc60, TimelineRate{60, true}}}) {
        for (std::int64_t frame = 0; frame <= std::llround(rate * 3600); frame += 7) {
            ASSERT_EQ(timecodeText(frame / rate, rate), timecode::timecodeString(frame, counted))
                << frame << " at " << rate;
        }
    }
}

TEST(EditorTexts, TimecodesCountFramesAtTheTakesRate) {
    const double film = 24000.0 / 1001, ntsc = 30000.0 / 1001;
    struct Case {
        double seconds;
        double rate;
        const char* text;
    } cases[] = {
        {61.5, 30, "00:01:01:15"},
        {-3, 30, "00:00:00:00"},
        {3599.999, 30, "00:59:59:29"},
        {4500, 30, "01:15:00:00"},
        {0, 30, "00:00:00:00"},
        {notANumber, 30, "00:00:00:00"},
        {1.0 / 30 + 1e-9, 30, "00:00:00:01"},
        // The frame count stays below the second's share of frames at the take's own rate.
        {2.988, film, "00:00:02:23"},
        {2.9999, film, "00:00:02:23"},
        {0.5, film, "00:00:00:11"},
        {1.96, 25, "00:00:01:24"},
        {0.9999, ntsc, "00:00:00;29"},
        {10.99, 60, "00:00:10:59"},
        {0.5, 10, "00:00:00:05"},
        // A figure that is no rate counts at 30.
        {0.5, 0, "00:00:00:15"},
        {0.5, notANumber, "00:00:00:15"},
        {0.5, -24, "00:00:00:15"},
        {0.5, 1e300, "00:00:00:15"},
    };
    for (const auto& c : cases) EXPECT_EQ(timecodeText(c.seconds, c.rate), c.text) << c.seconds << " at " << c.rate;
    // Beyond any take: still a text, never undefined behaviour.
    EXPECT_FALSE(timecodeText(inf, 30).empty());
    EXPECT_FALSE(timecodeText(1e300, film).empty());
    EXPECT_FALSE(timecodeText(1, inf).empty());

    struct Rate {
        double rate;
        const char* text;
    } rates[] = {{film, "23.976 fps"}, {24, "24 fps"},        {25, "25 fps"},
                 {ntsc, "29.97 fps"},  {50, "50 fps"},        {60000.0 / 1001, "59.94 fps"},
                 {0, "30 fps"},        {notANumber, "30 fps"}};
    for (const auto& r : rates) EXPECT_EQ(frameRateText(r.rate), r.text) << r.rate;

    // The transport says what its figures are.
    auto edit = editWith({sw(0, "Alpha")}, 0, 4.5);
    EXPECT_EQ(transportText(edit, 2.988, film), "00:00:02:23 / 00:00:04:11 \u00B7 23.976 fps");
}

TEST(EditorTexts, SoundLabelsPanelTextsAndExportProgress) {
    const std::vector<std::string> cameras{"Alpha", "Bravo"};
    EXPECT_EQ(soundLabel(RetouchEdit::Sound::followPicture(), cameras), "Sound: follows the picture");
    EXPECT_EQ(soundLabel(RetouchEdit::Sound::mix(), cameras), "Sound: mix");
    EXPECT_EQ(soundLabel(RetouchEdit::Sound::camera("Bravo"), cameras), "Sound: Bravo");
    EXPECT_EQ(soundLabel(RetouchEdit::Sound::camera(), cameras), "Sound: Alpha");
    EXPECT_EQ(soundLabel(RetouchEdit::Sound::camera(), {}), "Sound: ");

    // A switch at 12.5 s with 2 s removed before it shows program time.
    auto edit = editWith({sw(0, "Alpha"), sw(12.5, "Bravo")}, 0, 20);
    edit.removedSections = std::vector<RetouchEdit::Section>{{Uuid(), 3, 5}};
    EXPECT_EQ(switchPanelText(edit, {edit.switches[1].id}, 30), "Switch to Bravo at 00:00:10:15");
    EXPECT_EQ(switchPanelText(edit, {edit.switches[1].id}, 25), "Switch to Bravo at 00:00:10:12");
    EXPECT_EQ(switchPanelText(edit, {edit.switches[0].id}, 30), std::nullopt) << "the opening switch has no panel";
    EXPECT_EQ(switchPanelText(edit, {Uuid()}, 30), std::nullopt);
    // A block's length is take time, removed parts included.
    EXPECT_EQ(blockPanelText(edit, 0, 12.5, 30), "Alpha \u00B7 00:00:12:15 \u00B7 click a camera to change it");

    struct Progress {
        float fraction;
        const char* text;
    } progress[] = {{0, "Exporting 1080p\u2026 0%"},
                    {0.426f, "Exporting 1080p\u2026 42%"},
                    {0.999f, "Exporting 1080p\u2026 99%"},
                    {1, "Exporting 1080p\u2026 100%"},
                    {std::numeric_limits<float>::quiet_NaN(), "Exporting 1080p\u2026 0%"}};
    for (const auto& p : progress) EXPECT_EQ(exportProgressText(p.fraction), p.text);

    RetouchTake named = takeOf({{"A", {0, 1}}});
    EXPECT_EQ(titleText(named), "Take 3");
    named.name = "Interview";
    EXPECT_EQ(titleText(named), "Interview");
    named.name = "";
    EXPECT_EQ(titleText(named), "Take 3");
    EXPECT_EQ(titleText(std::nullopt), "Take");
}

TEST(EditorChanges, SwitchMovesStayBetweenNeighbours) {
    auto e = editWith({sw(0, "A"), sw(5, "B"), sw(8, "A")}, 0, 10);
    const Uuid first = e.switches[0].id, middle = e.switches[1].id, last = e.switches[2].id;
    struct Case {
        Uuid id;
        double to;
        double expectMiddle, expectLast;
    } cases[] = {
        {middle, 6, 6, 8},          {middle, 1e9, 8 - 1.0 / 30, 8},  // keeps 1/30 s before the next switch
        {middle, -4, 1.0 / 30, 8},                                   // and after the previous one
        {last, 12, 5, 10},                                           // the last one goes up to the trim end itself
        {first, 3, 5, 8},                                            // the earliest never moves
        {Uuid(), 3, 5, 8},                                           // unknown
        {middle, notANumber, 5, 8},                                  // not a time
    };
    for (const auto& c : cases) {
        auto edit = e;
        moveSwitchTime(edit, c.id, c.to);
        EXPECT_DOUBLE_EQ(edit.switches[0].time, 0);
        EXPECT_DOUBLE_EQ(edit.switches[1].time, c.expectMiddle) << c.to;
        EXPECT_DOUBLE_EQ(edit.switches[2].time, c.expectLast) << c.to;
    }
    // No room between neighbours: nothing changes.
    auto tight = editWith({sw(0, "A"), sw(1, "B"), sw(1.03, "C"), sw(1.06, "A")}, 0, 10);
    const auto before = tight;
    moveSwitchTime(tight, tight.switches[2].id, 1.02);
    EXPECT_EQ(tight, before);

    // Three nudges of 1/30 s add up to 0.1 s.
    auto nudged = e;
    for (int i = 0; i < 3; ++i) {
        const double t = nudged.switches[1].time + 1.0 / 30;
        moveSwitchTime(nudged, middle, t);
    }
    EXPECT_NEAR(nudged.switches[1].time, 5.1, 1e-9);
}

TEST(EditorChanges, RetargetSwitchAndDelete) {
    auto e = editWith({sw(0, "A"), sw(5, "B")}, 0, 10);
    auto retargeted = e;
    retargetSwitch(retargeted, "C", 5.0005);
    EXPECT_EQ(retargeted.switches[1].camera, "C");
    auto untouched = e;
    retargetSwitch(untouched, "C", 5.01);
    EXPECT_EQ(untouched, e);

    auto deleted = e;
    deleteSwitch(deleted, e.switches[1].id);
    ASSERT_EQ(deleted.switches.size(), 1u);
    EXPECT_EQ(deleted.switches[0].camera, "A");

    auto atHead = e;
    switchAtPlayhead(atHead, "C", 7);
    ASSERT_EQ(atHead.switches.size(), 3u);
    EXPECT_EQ(atHead.camera(7), "C");
    switchAtPlayhead(atHead, "A", 7.01);  // within 1/60 s: the same switch changes camera
    EXPECT_EQ(atHead.switches.size(), 3u);
    EXPECT_EQ(atHead.camera(7), "A");
}

TEST(EditorChanges, RemovedSections) {
    auto e = editWith({sw(0, "A")}, 1, 9);
    removeRange(e, 2, 3);
    removeRange(e, 3.0005, 4);  // touches the first within 0.001 s: merged
    ASSERT_TRUE(e.removedSections);
    ASSERT_EQ(e.removedSections->size(), 1u);
    EXPECT_DOUBLE_EQ((*e.removedSections)[0].start, 2);
    EXPECT_DOUBLE_EQ((*e.removedSections)[0].end, 4);
    const Uuid kept = (*e.removedSections)[0].id;

    removeRange(e, 1.5, 2.5);  // starts earlier: the new one keeps its own id and start
    ASSERT_EQ(e.removedSections->size(), 1u);
    EXPECT_DOUBLE_EQ((*e.removedSections)[0].start, 1.5);
    EXPECT_NE((*e.removedSections)[0].id, kept);

    removeRange(e, 8, 20);  // cut to the trim end
    ASSERT_EQ(e.removedSections->size(), 2u);
    EXPECT_DOUBLE_EQ((*e.removedSections)[1].end, 9);

    auto outside = editWith({sw(0, "A")}, 1, 9);
    removeRange(outside, 9.5, 12);  // wholly outside the trim: nothing added, an empty list
    ASSERT_TRUE(outside.removedSections);
    EXPECT_TRUE(outside.removedSections->empty());

    const Uuid second = (*e.removedSections)[1].id;
    restoreSection(e, second);
    EXPECT_EQ(e.removedSections->size(), 1u);
    auto none = editWith({sw(0, "A")}, 0, 5);
    restoreSection(none, second);
    EXPECT_FALSE(none.removedSections);
    restoreRemovedParts(e);
    EXPECT_FALSE(e.removedSections) << "absent, not an empty list";
}

TEST(EditorChanges, TrimClamping) {
    struct Case {
        const char* what;
        double trimStart, trimEnd, length, playhead;
        bool start;  // "Start here" or "End here"
        double expectStart, expectEnd;
    } cases[] = {
        {"start later", 0, 10, 10, 4, true, 4, 10},
        {"start keeps 1 s", 0, 10, 10, 9.5, true, 9, 10},
        {"end earlier", 0, 10, 10, 6, false, 0, 6},
        {"end keeps 1 s", 2, 10, 10, 2.4, false, 2, 3},
        {"short take start stays in the take", 0, 0.6, 0.6, 0.3, true, 0, 0.6},
        {"short take end stays in the take", 0, 0.6, 0.6, 0.3, false, 0, 0.6},
        {"end never past the take", 9.5, 10, 10, 9.7, false, 9.5, 10},
    };
    for (const auto& c : cases) {
        auto e = editWith({sw(0, "A")}, c.trimStart, c.trimEnd);
        if (c.start) {
            setTrimStart(e, c.playhead);
        } else {
            setTrimEnd(e, c.playhead, c.length);
        }
        EXPECT_DOUBLE_EQ(e.trimStart, c.expectStart) << c.what;
        EXPECT_DOUBLE_EQ(e.trimEnd, c.expectEnd) << c.what;
        EXPECT_GE(e.trimStart, 0) << c.what;
        EXPECT_LE(e.trimEnd, std::max(c.length, c.trimEnd)) << c.what;
    }

    // "Clear the trim" spans the earliest clip start to the latest clip end.
    const auto take = takeOf({{"A", {0, 10}}, {"B", {2, 12}}});
    auto e = editWith({sw(0, "A")}, 3, 4);
    clearTrim(e, take);
    EXPECT_DOUBLE_EQ(e.trimStart, 0);
    EXPECT_DOUBLE_EQ(e.trimEnd, 14);
}

TEST(EditorPlayhead, SeekAndJumps) {
    auto e = editWith({sw(0, "A"), sw(2, "B"), sw(5, "C"), sw(10, "A")}, 0.5, 10);
    e.removedSections = std::vector<RetouchEdit::Section>{{Uuid(), 6, 7}, {Uuid(), 9, 12}};
    struct Seek {
        double wanted;
        std::optional<double> expected;
    } seeks[] = {{-1, 0.5}, {3, 3}, {6.5, 7}, {9.5, 10}, {20, 10}, {notANumber, std::nullopt}};
    for (const auto& s : seeks) EXPECT_EQ(seekTarget(e, s.wanted), s.expected) << s.wanted;

    struct Jump {
        double time;
        bool forward;
        double target;
    } jumps[] = {
        {1.99, true, 5},     // 0.01 s before a switch skips it
        {1.9, true, 2},      //
        {5.5, true, 10},     // no switch ahead (the one on trimEnd is no target): trim end
        {5.05, false, 2},    // 0.05 s after a switch goes to the one before
        {2.05, false, 0.5},  // none before: trim start
        {7, false, 5},
    };
    for (const auto& j : jumps) EXPECT_DOUBLE_EQ(jumpTarget(e, j.time, j.forward), j.target) << j.time;

    // Selecting: a removed part wins over the block under it.
    EXPECT_EQ(selectionAt(e, 12, 6.5), EditorSelection::removed((*e.removedSections)[0].id));
    EXPECT_EQ(selectionAt(e, 12, 3), EditorSelection::block(2, 5));
    EXPECT_EQ(selectionAt(e, 12, 11.5), EditorSelection::removed((*e.removedSections)[1].id));
    auto plain = e;
    plain.removedSections.reset();
    EXPECT_EQ(selectionAt(plain, 12, 11.5), EditorSelection::block(10, 12));
    EXPECT_EQ(selectionAt(plain, 12, 12), std::nullopt);
    EXPECT_EQ(selectionAt(plain, 12, notANumber), std::nullopt);
}

TEST(EditorCameraButtons, ColoursKeysAndClipTimes) {
    const std::vector<std::string> cameras{"A", "B", "C", "D", "E", "F", "G"};
    EXPECT_EQ(cameraColorIndex("A", cameras), 0);
    EXPECT_EQ(cameraColorIndex("F", cameras), 5);
    EXPECT_EQ(cameraColorIndex("G", cameras), 0) << "the seventh camera shares the first colour";
    EXPECT_EQ(cameraColorIndex("Z", cameras), 0);

    struct Key {
        double time;
        std::optional<std::int64_t> key;
    } keys[] = {{1.2, 2},
                {1.4, 2},
                {1.6, 3},
                {0, 0},
                {-0.3, 0},
                {notANumber, std::nullopt},
                {inf, std::nullopt},
                {1e300, std::nullopt}};
    for (const auto& k : keys) EXPECT_EQ(thumbnailKey(k.time), k.key) << k.time;

    const auto take = takeOf({{"A", {0, 10}}, {"B", {2, 4}}});
    EXPECT_EQ(clipTimeFor(take, "B", 1.5), std::nullopt) << "before the clip starts";
    EXPECT_EQ(clipTimeFor(take, "B", 2), 0.0);
    EXPECT_EQ(clipTimeFor(take, "B", 6), 4.0) << "exactly at its end";
    EXPECT_EQ(clipTimeFor(take, "B", 6.01), std::nullopt);
    EXPECT_EQ(clipTimeFor(take, "B", notANumber), std::nullopt);
    const RetouchClip* clip = nullptr;
    EXPECT_EQ(clipTimeFor(take, "Z", 1, &clip), std::nullopt);
    EXPECT_EQ(clip, nullptr);

    // Outside its clip a button shows the clip's nearest picture, dimmed.
    const struct {
        const char* camera;
        double time;
        std::optional<ButtonPicture> picture;
    } pictures[] = {{"B", 1.5, ButtonPicture{0, true}}, {"B", 2, ButtonPicture{0, false}},
                    {"B", 6, ButtonPicture{4, false}},  {"B", 6.01, ButtonPicture{4, true}},
                    {"B", notANumber, std::nullopt},    {"Z", 1, std::nullopt}};
    for (const auto& c : pictures) EXPECT_EQ(buttonPictureFor(take, c.camera, c.time), c.picture) << c.time;

    EXPECT_EQ(cameraButtonLabel("A", true), "A, on air");
    EXPECT_EQ(cameraButtonLabel("A", false), "A");
}

TEST(EditorSoundPanel, ChoicesVolumesAndOffsets) {
    const std::vector<std::string> cameras{"A", "B"};
    using Sound = RetouchEdit::Sound;
    struct Case {
        Sound sound;
        bool aChecked, bChecked, aVolume, bVolume;
        bool mixFooter;
    } cases[] = {
        {Sound::camera(), true, false, false, false, false},
        {Sound::camera("A"), true, false, true, false, false},
        {Sound::camera("B"), false, true, false, true, false},
        {Sound::followPicture(), false, false, false, false, false},
        {Sound::mix(), false, false, true, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(soundRowChecked(c.sound, cameras, "A"), c.aChecked);
        EXPECT_EQ(soundRowChecked(c.sound, cameras, "B"), c.bChecked);
        EXPECT_EQ(showsVolume(c.sound, "A"), c.aVolume);
        EXPECT_EQ(showsVolume(c.sound, "B"), c.bVolume);
        EXPECT_EQ(soundFooter(c.sound).rfind("Mixing works best", 0) == 0, c.mixFooter);
    }
    EXPECT_FALSE(soundRowChecked(Sound::camera(), {}, "A"));

    RetouchEdit e;
    EXPECT_DOUBLE_EQ(volume(e, "A"), 1.0);
    setVolume(e, 0.25, "A");
    EXPECT_FLOAT_EQ(e.volumes["A"], 0.25f);

    struct Offset {
        double stored;
        const char* label;
    } offsets[] = {{0.0004, "Sound sync: 0 ms"},
                   {-0.0996, "Sound sync: -100 ms"},
                   {0.5, "Sound sync: 500 ms"},
                   {-0.5, "Sound sync: -500 ms"},
                   {1e300, "Sound sync: 9000000000000000000 ms"}};
    for (const auto& o : offsets) {
        e.soundOffsets["B"] = o.stored;
        EXPECT_EQ(syncLabel(e, "B"), o.label);
    }
    EXPECT_EQ(syncLabel(e, "nobody"), "Sound sync: 0 ms");
    // Repeated steps stay on whole hundredths.
    e.soundOffsets.clear();
    for (int i = 0; i < 7; ++i) setSyncOffset(e, syncOffset(e, "A") + syncOffsetStep, "A");
    EXPECT_DOUBLE_EQ(e.soundOffsets["A"], 0.07);
}

TEST(StripGeometryRules, SpanClampAndBadge) {
    StripGeometry g{10, 1, 3, 500};
    EXPECT_DOUBLE_EQ(g.span(), 10);
    EXPECT_DOUBLE_EQ(g.clampViewStart(3), 0) << "at zoom 1 the whole take fits";
    g.zoom = 60;
    EXPECT_DOUBLE_EQ(g.span(), 0.2) << "a 10-second take at 60× shows 0.2 s";
    EXPECT_DOUBLE_EQ(g.clampViewStart(-5), 0);
    EXPECT_DOUBLE_EQ(g.clampViewStart(50), 9.8);
    EXPECT_NEAR(g.x(3.1), 250, 1e-9);
    EXPECT_NEAR(*g.t(250), 3.1, 1e-12);
    EXPECT_EQ((StripGeometry{0, 1, 0, 300}).span(), 0.2) << "a take of length 0 shows 0.2 s";

    // A strip without width gives no time rather than NaN.
    EXPECT_EQ((StripGeometry{10, 1, 0, 0}).t(20), std::nullopt);
    EXPECT_EQ((StripGeometry{10, 1, 0, 100}).t(notANumber), std::nullopt);

    struct Badge {
        double zoom;
        std::optional<std::string> text;
    } badges[] = {{1.04, std::nullopt}, {1.05, std::nullopt}, {1.06, "1\u00D7"}, {2.5, "3\u00D7"}, {60, "60\u00D7"}};
    for (const auto& b : badges) EXPECT_EQ(StripGeometry::zoomBadge(b.zoom), b.text) << b.zoom;
}

TEST(StripGeometryRules, DragPinchAndFollow) {
    struct Drag {
        double zoom, startX, playheadX;
        bool scrolls;
    } drags[] = {{1, 300, 0, false}, {2, 123, 100, false}, {2, 124, 100, true}, {1.05, 400, 0, false}};
    for (const auto& d : drags) EXPECT_EQ(StripGeometry::dragScrolls(d.zoom, d.startX, d.playheadX), d.scrolls);

    StripGeometry g{10, 1, 0, 500};
    auto z = g.pinched(1, 0.5);
    EXPECT_DOUBLE_EQ(z.zoom, 1) << "never below 1";
    z = g.pinched(1, 4);
    EXPECT_DOUBLE_EQ(z.zoom, 4);
    EXPECT_DOUBLE_EQ(z.viewStart, 3.75) << "the centre stays where it was";
    z = z.pinched(4, 100);
    EXPECT_DOUBLE_EQ(z.zoom, 60) << "never above 60";
    EXPECT_EQ(g.pinched(1, notANumber).zoom, 1);

    StripGeometry view{10, 5, 2, 500};  // shows 2…4
    EXPECT_DOUBLE_EQ(view.followPlayhead(3), 2);
    EXPECT_DOUBLE_EQ(view.followPlayhead(4.1), 4.1 - 0.4);
    EXPECT_DOUBLE_EQ(view.followPlayhead(9.9), 8) << "never past the take's end";
}
