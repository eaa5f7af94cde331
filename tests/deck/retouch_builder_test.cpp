// The program plans: what goes where, with which transform and gain. No media is needed.
#include "deck/retouch_builder.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

using namespace morvane;
using morvane::test::TempDir;
using Builder = RetouchBuilder;
using Segment = ProgramRenderer::Segment;
using Kind = ProgramRenderer::MediaKind;

namespace {

const Date base{760000000.0};

Builder::Source source(const std::string& camera, double offset, double duration, bool video = true, bool audio = true,
                       double audioDuration = -1) {
    Builder::Source s;
    s.clip.camera = camera;
    s.clip.start = base.addingTimeInterval(offset);
    s.clip.duration = duration;
    s.asset = "/nowhere/" + camera + ".mov";
    s.offset = offset;
    s.duration = duration;
    s.audioDuration = audioDuration < 0 ? duration : audioDuration;
    if (video) {
        AssetProbe::Track v;
        v.kind = AssetProbe::Kind::video;
        v.streamIndex = 0;
        v.width = 1920;
        v.height = 1080;
        s.video = v;
    }
    if (audio) {
        AssetProbe::Track a;
        a.kind = AssetProbe::Kind::audio;
        a.streamIndex = 1;
        s.audio = a;
    }
    return s;
}

Builder::Source portrait(const std::string& camera) {
    auto s = source(camera, 0, 10);
    s.transform = {0, 1, -1, 0, 1080, 0};
    s.width = 1080;
    s.height = 1920;
    return s;
}

RetouchEdit editOf(std::vector<std::pair<double, std::string>> switches, double end,
                   RetouchEdit::Sound sound = RetouchEdit::Sound::followPicture()) {
    RetouchEdit e;
    for (auto& [t, c] : switches) e.switches.push_back({Uuid(), t, c});
    e.trimEnd = end;
    e.sound = sound;
    return e;
}

RetouchTake takeOf(const std::vector<Builder::Source>& sources) {
    RetouchTake t;
    for (const auto& s : sources) t.clips.push_back(s.clip);
    return t;
}

Builder::Program assemble(const std::vector<Builder::Source>& sources, const RetouchEdit& edit) {
    return Builder::assembleComposition(sources, {1, 30}, edit, takeOf(sources));
}

MediaTime ms(double seconds) {
    return MediaTime::fromSeconds(seconds, 600);
}

Segment seg(int asset, int stream, double from, double at, double duration) {
    return {asset, stream, ms(from), ms(at), ms(duration)};
}

Segment gap(double at, double duration) {
    Segment s;
    s.at = ms(at);
    s.duration = ms(duration);
    return s;
}

const ProgramRenderer::Track& picture(const Builder::Program& p) {
    return p.composition.tracks.at(0);
}
const auto& transforms(const Builder::Program& p) {
    return p.videoComposition.instructions.at(0).layers.at(0).transforms;
}

std::vector<const ProgramRenderer::Track*> soundTracks(const Builder::Program& p) {
    std::vector<const ProgramRenderer::Track*> out;
    for (const auto& t : p.composition.tracks) {
        if (t.kind == Kind::audio) out.push_back(&t);
    }
    return out;
}

}  // namespace

namespace morvane {
void PrintTo(const ProgramRenderer::Segment& s, std::ostream* os) {
    *os << "{asset " << (s.asset ? std::to_string(*s.asset) : "-") << ", stream " << s.stream << ", from "
        << s.sourceStart.seconds() << ", at " << s.at.seconds() << ", for " << s.duration.seconds() << "}";
}
void PrintTo(const MediaTime& t, std::ostream* os) {
    *os << t.value << "/" << t.timescale;
}
}  // namespace morvane

TEST(RetouchBuilderPlan, RenderSizeFollowsTheMajority) {
    struct Case {
        std::vector<Builder::Source> sources;
        double width, height;
    };
    const Case cases[] = {
        {{source("A", 0, 10), source("B", 0, 10), portrait("C")}, 1920, 1080},
        {{portrait("A"), portrait("B"), source("C", 0, 10)}, 1080, 1920},
        {{portrait("A"), source("B", 0, 10)}, 1920, 1080},
        {{portrait("A"), source("B", 0, 10, false)}, 1920, 1080},  // no video counts as landscape
        {{portrait("A")}, 1080, 1920},
    };
    for (const auto& c : cases) {
        auto p = assemble(c.sources, editOf({{0, "A"}}, 5));
        EXPECT_EQ(p.videoComposition.renderWidth, c.width);
        EXPECT_EQ(p.videoComposition.renderHeight, c.height);
        EXPECT_EQ(p.assets.size(), c.sources.size());
    }
}

TEST(RetouchBuilderPlan, SubstituteCameraFillsWhereThePiecesCameraHasNoClip) {
    auto p = assemble({source("A", 0, 10), source("B", 1, 6)}, editOf({{0, "A"}, {5, "B"}}, 9));
    EXPECT_EQ(picture(p).segments, (std::vector<Segment>{seg(0, 0, 0, 0, 5), seg(1, 0, 4, 5, 2), seg(0, 0, 7, 7, 2)}));
    ASSERT_EQ(transforms(p).size(), 3u);
    EXPECT_EQ(transforms(p)[0].at, ms(0));
    EXPECT_EQ(transforms(p)[1].at, ms(5));
    EXPECT_EQ(transforms(p)[2].at, ms(7));
    EXPECT_EQ(p.videoComposition.instructions[0].start, MediaTime::zero());
    EXPECT_EQ(p.videoComposition.instructions[0].duration, ms(9));
    EXPECT_EQ(p.videoComposition.frameDuration, (MediaTime{1, 30}));
}

TEST(RetouchBuilderPlan, PiecesCameraTakesOverWhenItsClipBegins) {
    auto p = assemble({source("A", 0, 10), source("B", 2, 8)}, editOf({{0, "B"}}, 6));
    EXPECT_EQ(picture(p).segments, (std::vector<Segment>{seg(0, 0, 0, 0, 2), seg(1, 0, 0, 2, 4)}));
}

TEST(RetouchBuilderPlan, UncoveredStretchesBecomeEmptyTime) {
    // Nothing until 1.5 s, then A; after A ends at 4.5 nothing until the piece's end.
    auto p = assemble({source("A", 1.5, 3)}, editOf({{0, "A"}}, 6));
    EXPECT_EQ(picture(p).segments, (std::vector<Segment>{gap(0, 1.5), seg(0, 0, 0, 1.5, 3), gap(4.5, 1.5)}));
    EXPECT_EQ(transforms(p).size(), 1u);
}

TEST(RetouchBuilderPlan, SliversAddNothing) {
    auto edit = editOf({{0, "A"}, {2, "B"}, {2.0009, "A"}}, 4);
    auto p = assemble({source("A", 0, 10), source("B", 0, 10)}, edit);
    EXPECT_EQ(picture(p).segments, (std::vector<Segment>{seg(0, 0, 0, 0, 2), seg(0, 0, 2.0009, 2, 1.9991)}));
}

TEST(RetouchBuilderPlan, SourceStartJustBeforeAClipIsClampedToZero) {
    // The clip starts 0.0009 s into the piece: it covers the piece's start, whose source start rounds below zero.
    auto edit = editOf({{0, "A"}}, 3, RetouchEdit::Sound::camera());
    edit.trimStart = 1;
    auto p = assemble({source("A", 1.0009, 5)}, edit);
    ASSERT_EQ(picture(p).segments.size(), 1u);
    ASSERT_FALSE(picture(p).segments.empty());
    EXPECT_EQ(picture(p).segments.back().sourceStart, MediaTime::zero());
    EXPECT_EQ(picture(p).segments.back().duration, ms(2));
}

TEST(RetouchBuilderPlan, MixMakesOneTrackAndGainPerSource) {
    auto edit = editOf({{0, "A"}}, 8, RetouchEdit::Sound::mix());
    edit.volumes = {{"B", 0.25f}};
    edit.removedSections = std::vector<RetouchEdit::Section>{{Uuid(), 2, 3}};
    auto p = assemble({source("A", 0, 10), source("B", 0, 10), source("C", 0, 10, true, false)}, edit);
    auto tracks = soundTracks(p);
    ASSERT_EQ(tracks.size(), 3u);
    ASSERT_TRUE(p.audioMix);
    ASSERT_EQ(p.audioMix->inputParameters.size(), 3u);
    const float gains[] = {1.0f, 0.25f, 1.0f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(p.audioMix->inputParameters[i].trackID, tracks[i]->trackID);
        EXPECT_EQ(p.audioMix->inputParameters[i].volume, gains[i]);
    }
    EXPECT_EQ(tracks[0]->segments, (std::vector<Segment>{seg(0, 1, 0, 0, 2), seg(0, 1, 3, 2, 5)}));
    EXPECT_TRUE(tracks[2]->segments.empty());  // a source without sound keeps an empty track
}

TEST(RetouchBuilderPlan, SoundOffsetsShiftASourcesSound) {
    auto edit = editOf({{0, "A"}}, 10, RetouchEdit::Sound::camera("A"));
    edit.soundOffsets = {{"A", 0.2}};
    auto p = assemble({source("A", 0, 10)}, edit);
    EXPECT_EQ(soundTracks(p).at(0)->segments, (std::vector<Segment>{gap(0, 0.2), seg(0, 1, 0, 0.2, 9.8)}));
    edit.soundOffsets = {{"A", -0.5}};
    p = assemble({source("A", 0, 10)}, edit);
    EXPECT_EQ(soundTracks(p).at(0)->segments, (std::vector<Segment>{seg(0, 1, 0.5, 0, 9.5)}));
    // With a removed part the sound lands at program time, not take time.
    edit.soundOffsets.clear();
    edit.removedSections = std::vector<RetouchEdit::Section>{{Uuid(), 0, 4}};
    p = assemble({source("A", 0, 10)}, edit);
    EXPECT_EQ(soundTracks(p).at(0)->segments, (std::vector<Segment>{seg(0, 1, 4, 0, 6)}));
}

TEST(RetouchBuilderPlan, FollowPictureHasNoMix) {
    auto edit = editOf({{0, "A"}, {4, "B"}}, 8);
    edit.volumes = {{"A", 0.5f}};
    auto p = assemble({source("A", 0, 10), source("B", 0, 10, true, true, 6)}, edit);
    EXPECT_FALSE(p.audioMix);
    auto tracks = soundTracks(p);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0]->segments, (std::vector<Segment>{seg(0, 1, 0, 0, 4), seg(1, 1, 4, 4, 2)}));
}

TEST(RetouchBuilderPlan, CameraChoice) {
    std::vector<Builder::Source> sources{source("B", 0, 10), source("A", 0, 10, true, false)};
    // Without a name: the take's first camera (A), which has no sound: one empty track and a gain.
    auto p = assemble(sources, editOf({{0, "B"}}, 5, RetouchEdit::Sound::camera()));
    ASSERT_EQ(soundTracks(p).size(), 1u);
    EXPECT_TRUE(soundTracks(p)[0]->segments.empty());
    ASSERT_TRUE(p.audioMix);
    EXPECT_EQ(p.audioMix->inputParameters.size(), 1u);
    // A camera no source has: no sound track and no mix.
    p = assemble(sources, editOf({{0, "B"}}, 5, RetouchEdit::Sound::camera("Z")));
    EXPECT_TRUE(soundTracks(p).empty());
    EXPECT_FALSE(p.audioMix);
    auto edit = editOf({{0, "A"}}, 5, RetouchEdit::Sound::camera("B"));
    edit.volumes = {{"B", 2.0f}};
    p = assemble(sources, edit);
    EXPECT_EQ(soundTracks(p).at(0)->segments, (std::vector<Segment>{seg(0, 1, 0, 0, 5)}));
    EXPECT_EQ(p.audioMix->inputParameters.at(0).volume, 2.0f);
}

TEST(RetouchBuilderPlan, AspectFit) {
    auto s = portrait("P");
    s.video->width = 1920;
    s.video->height = 1080;
    const auto t = Builder::aspectFitTransform(s, 1920, 1080);
    // Turned to 1080 × 1920, scaled by 0.5625 and centred: 607.5 wide, 656.25 from the left.
    const auto r = t.apply(AffineTransform::Rect{0, 0, 1920, 1080});
    EXPECT_NEAR(r.minX(), 656.25, 1e-9);
    EXPECT_NEAR(r.width, 607.5, 1e-9);
    EXPECT_NEAR(r.minY(), 0, 1e-9);
    EXPECT_NEAR(r.height, 1080, 1e-9);
    EXPECT_NEAR(std::hypot(t.a, t.b), 0.5625, 1e-12);
    EXPECT_NEAR(t.tx, 656.25 + 607.5, 1e-9);  // the turned picture's origin lands on the right edge
    EXPECT_EQ(Builder::aspectFitTransform(source("A", 0, 1), 1920, 1080), AffineTransform::identity());
    auto none = source("N", 0, 1, false);
    none.transform = {2, 0, 0, 2, 5, 5};
    EXPECT_EQ(Builder::aspectFitTransform(none, 1920, 1080), none.transform);
}

TEST(RetouchBuilderPlan, FrameDurationComesFromTheFirstSourceWithVideo) {
    auto noVideo = source("N", 0, 5, false);
    auto a = source("A", 0, 5), b = source("B", 0, 5);
    b.video->minFrameDuration = MediaTime{1, 120};
    EXPECT_EQ(Builder::frameDuration({noVideo, a, b}), (MediaTime{1, 30}));  // A has none: the default
    for (auto [value, expected] : std::vector<std::pair<MediaTime, MediaTime>>{{{1, 1000}, {1, 30}},
                                                                               {MediaTime::invalid(), {1, 30}},
                                                                               {{1, 60}, {1, 60}},
                                                                               {{1001, 24000}, {1001, 24000}}}) {
        a.video->minFrameDuration = value;
        EXPECT_EQ(Builder::frameDuration({noVideo, a, b}), expected);
    }
}

TEST(RetouchBuilderPlan, TakesWithoutUsableVideoFail) {
    TempDir temp;
    RetouchTake empty;
    EXPECT_THROW(Builder::build(empty, editOf({}, 0), temp.path()), Builder::Error);
    RetouchTake missing;
    for (const char* name : {"gone.mov", "../gone.mov", ""}) {
        RetouchClip c;
        c.camera = "A";
        c.file = name;
        c.start = base;
        c.duration = 4;
        missing.clips.push_back(c);
    }
    try {
        Builder::build(missing, RetouchEdit::editFromLiveCut(missing), temp.path());
        ADD_FAILURE();
    } catch (const Builder::Error& e) {
        EXPECT_EQ(e.failure(), Builder::Failure::noVideo);
        EXPECT_STREQ(e.what(), "This take has no usable video");
    }
    const auto sources = Builder::loadSources(missing, temp.path());
    ASSERT_EQ(sources.size(), 3u);
    for (const auto& s : sources) {
        EXPECT_FALSE(s.video || s.audio);
        EXPECT_EQ(s.duration, 4);
        EXPECT_EQ(s.audioDuration, 4);
        EXPECT_EQ(s.width, 1920);
        EXPECT_EQ(s.transform, AffineTransform::identity());
        EXPECT_EQ(s.asset.parent_path(), temp.path());  // never outside the library folder
    }
}

TEST(RetouchBuilderPlan, CompositionInsertsLikeATape) {
    ProgramRenderer::Composition c;
    const int v = c.addTrack(Kind::video);
    EXPECT_TRUE(c.insertTimeRange(v, 0, 0, ms(0), ms(4), ms(0)));
    EXPECT_TRUE(c.insertTimeRange(v, 1, 0, ms(10), ms(1), ms(2)));  // splits the first, moves its rest later
    EXPECT_EQ(c.track(v)->segments,
              (std::vector<Segment>{seg(0, 0, 0, 0, 2), seg(1, 0, 10, 2, 1), seg(0, 0, 2, 3, 2)}));
    std::string error;
    EXPECT_FALSE(c.insertTimeRange(v, 0, 0, ms(-1), ms(1), ms(0), &error));
    EXPECT_FALSE(c.insertTimeRange(99, 0, 0, ms(0), ms(1), ms(0)));
    EXPECT_FALSE(c.insertTimeRange(v, 0, 0, MediaTime::invalid(), ms(1), ms(0)));
    EXPECT_TRUE(c.insertTimeRange(v, 0, 0, ms(0), ms(0), ms(0)));  // nothing to place
    EXPECT_EQ(c.track(v)->segments.size(), 3u);
    c.insertEmptyTimeRange(ms(7), ms(1));
    EXPECT_EQ(c.track(v)->segments.back(), gap(7, 1));
    EXPECT_DOUBLE_EQ(c.duration(), 8);
}
