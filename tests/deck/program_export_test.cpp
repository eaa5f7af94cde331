// Real media: synthetic camera movies made with the ffmpeg tool, loaded, composed, rendered and exported, and
// the results read back with ffmpeg and ffprobe.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>

#include "deck/retouch_builder.h"
#include "deck/retouch_library.h"
#include "media_fixtures.h"
#include "platform/asset_probe.h"
#include "platform/movie_export.h"
#include "platform/photo_library.h"
#include "platform/program_renderer.h"
#include "temp_dir.h"

using namespace morvane;
using morvane::test::TempDir;
namespace fs = std::filesystem;

// libx265 3.5 keeps some of its filter buffers past x265_encoder_close; that leak is the library's, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265\n";
}

namespace {

const Date takeStart{763635900.0};  // 2025-03-14 09:05:00 UTC

// Camera A: red, 440 Hz. B: turned a quarter, green left half and yellow right half as stored, 660 Hz.
// C: blue, no sound, starts half a second later.
struct Media {
    TempDir temp;
    fs::path dir() const { return temp.path() / "Retouch"; }
    RetouchClip a, b, c;
    bool ready = true;

    Media() {
        fs::create_directories(dir());
        a = clip("A", 0, 4, {"0xFF0000", 440, 4});
        fixtures::Clip bClip{"0x00FF00", 660, 4};
        bClip.rotate = 90;
        bClip.splitColor = "0xFFFF00";
        b = clip("B", 0, 4, bClip);
        c = clip("C", 0.5, 3.5, {"0x0000FF", 0, 3.5});
    }

    RetouchClip clip(const std::string& camera, double offset, double seconds, const fixtures::Clip& spec) {
        RetouchClip c;
        c.camera = camera;
        c.file = c.id.uuidString() + ".mov";
        c.start = takeStart.addingTimeInterval(offset);
        c.duration = seconds;
        ready = fixtures::makeClip(dir() / c.file, spec) && ready;
        return c;
    }

    RetouchTake take() const {
        RetouchTake t;
        t.number = 7;
        t.clips = {a, b, c};
        return t;
    }
};

Media& media() {
    static Media shared;
    return shared;
}

// Switches A 0, B 1, C 2.5, A 3.2; kept 0.2 to 3.8 without 1.6 to 2.0. The pieces, in program time:
// A 0–0.8, B 0.8–1.4, B 1.4–1.9, C 1.9–2.6, A 2.6–3.2.
RetouchEdit programEdit(RetouchEdit::Sound sound) {
    RetouchEdit e;
    e.switches = {{Uuid(), 0, "A"}, {Uuid(), 1, "B"}, {Uuid(), 2.5, "C"}, {Uuid(), 3.2, "A"}};
    e.trimStart = 0.2;
    e.trimEnd = 3.8;
    e.removedSections = std::vector<RetouchEdit::Section>{{Uuid(), 1.6, 2.0}};
    e.sound = sound;
    return e;
}

RetouchBuilder::ExportOptions options(const TempDir& temp) {
    RetouchBuilder::ExportOptions o;
    o.programFolder = temp.path() / "Documents" / "Brindlecroft" / "Program";
    o.picturesFolder = temp.path() / "Pictures";
    o.settings.preset = "ultrafast";
    o.settings.crf = 28;
    return o;
}

bool near(const fixtures::Rgb& c, double r, double g, double b, double tolerance = 45) {
    return std::fabs(c.r - r) < tolerance && std::fabs(c.g - g) < tolerance && std::fabs(c.b - b) < tolerance;
}

std::string show(const fixtures::Rgb& c) {
    return "(" + std::to_string(int(c.r)) + ", " + std::to_string(int(c.g)) + ", " + std::to_string(int(c.b)) + ")";
}

class ProgramExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(media().ready) << "the ffmpeg tool could not make the test movies";
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

}  // namespace

TEST_F(ProgramExportTest, ProbeReadsTracksOrientationAndFrameDuration) {
    auto a = AssetProbe::load(media().dir() / media().a.file);
    ASSERT_TRUE(a);
    ASSERT_EQ(a->tracks.size(), 2u);
    const auto* video = a->firstTrack(AssetProbe::Kind::video);
    const auto* audio = a->firstTrack(AssetProbe::Kind::audio);
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->codec, "h264");
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 180);
    EXPECT_TRUE(video->transform.isIdentity());
    ASSERT_TRUE(video->minFrameDuration);
    EXPECT_NEAR(video->minFrameDuration->seconds(), 0.1, 1e-9);
    EXPECT_NEAR(video->frameRate, 10, 1e-6);
    ASSERT_TRUE(video->timeRange);
    EXPECT_NEAR(video->timeRange->end(), 4, 0.01);
    EXPECT_EQ(audio->sampleRate, 48000);
    EXPECT_EQ(audio->channels, 1);

    auto b = AssetProbe::load(media().dir() / media().b.file);
    ASSERT_TRUE(b && b->firstTrack(AssetProbe::Kind::video));
    const auto t = b->firstTrack(AssetProbe::Kind::video)->transform;
    EXPECT_NEAR(t.a, 0, 1e-9);
    EXPECT_NEAR(t.d, 0, 1e-9);
    EXPECT_NEAR(std::fabs(t.b), 1, 1e-9);
    const auto turned = t.apply(AffineTransform::Rect{0, 0, 320, 180});
    EXPECT_NEAR(turned.width, 180, 1e-9);
    EXPECT_NEAR(turned.height, 320, 1e-9);

    auto c = AssetProbe::load(media().dir() / media().c.file);
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->firstTrack(AssetProbe::Kind::audio));
}

TEST_F(ProgramExportTest, SourcesCarryTimeRangesSizesAndOffsets) {
    TempDir temp;
    fixtures::Clip late{"0xFF0000", 440, 3};
    late.startOffset = 2;
    ASSERT_TRUE(fixtures::makeClip(temp.path() / "late.mov", late));
    fixtures::Clip soundOnly{"0xFF0000", 440, 3};
    ASSERT_TRUE(fixtures::run("ffmpeg -v error -y -f lavfi -i sine=f=440:r=48000:d=3 -c:a aac " +
                              fixtures::quote((temp.path() / "sound.mov").string())));
    RetouchTake t;
    for (auto [file, offset] : {std::pair<std::string, double>{"late.mov", 1.5}, {"sound.mov", 0}}) {
        RetouchClip c;
        c.camera = file;
        c.file = file;
        c.start = takeStart.addingTimeInterval(offset);
        c.duration = 9;
        t.clips.push_back(c);
    }
    t.clips.push_back(media().b);
    t.clips.back().start = takeStart;
    fs::copy_file(media().dir() / media().b.file, temp.path() / media().b.file);
    const auto sources = RetouchBuilder::loadSources(t, temp.path());
    ASSERT_EQ(sources.size(), 3u);
    EXPECT_NEAR(sources[0].duration, 5, 0.01);  // the end of a range that starts at 2 s
    EXPECT_EQ(sources[0].offset, 1.5);
    EXPECT_EQ(sources[1].offset, 0);
    EXPECT_FALSE(sources[1].video);
    EXPECT_EQ(sources[1].duration, 9);  // recorded
    EXPECT_NEAR(sources[1].audioDuration, 3, 0.05);
    EXPECT_EQ(sources[1].width, 1920);
    EXPECT_EQ(sources[2].width, 180);  // turned
    EXPECT_EQ(sources[2].height, 320);
    EXPECT_NEAR(sources[2].audioDuration, 4, 0.05);
}

TEST_F(ProgramExportTest, HostileFilesNeitherCrashNorHang) {
    TempDir temp;
    const auto whole = media().dir() / media().a.file;
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::mt19937 random(7);
    std::vector<std::pair<std::string, std::string>> files{
        {"empty.mov", ""},
        {"head.mov", bytes.substr(0, 64)},
        {"half.mov", bytes.substr(0, bytes.size() / 2)},
        {"noise.mov", std::string(4096, '\0')},
    };
    std::string flipped = bytes;
    for (int i = 0; i < 200; ++i) flipped[random() % flipped.size()] = char(random());
    files.emplace_back("flipped.mov", flipped);
    // A movie whose index is at the front but whose data is cut short.
    ASSERT_TRUE(fixtures::run("ffmpeg -v error -y -i " + fixtures::quote(whole.string()) +
                              " -c copy -movflags +faststart " + fixtures::quote((temp.path() / "fast.mov").string())));
    std::ifstream fast(temp.path() / "fast.mov", std::ios::binary);
    std::string fastBytes((std::istreambuf_iterator<char>(fast)), {});
    files.emplace_back("cut.mov", fastBytes.substr(0, fastBytes.size() * 2 / 3));

    RetouchTake t;
    for (const auto& [name, content] : files) {
        std::ofstream(temp.path() / name, std::ios::binary) << content;
        AssetProbe::load(temp.path() / name);  // may fail; must not crash
        RetouchClip c;
        c.camera = name;
        c.file = name;
        c.start = takeStart;
        c.duration = 2;
        t.clips.push_back(c);
    }
    RetouchEdit e = RetouchEdit::editFromLiveCut(t);
    e.sound = RetouchEdit::Sound::mix();
    try {
        auto program = RetouchBuilder::build(t, e, temp.path());
        ProgramRenderer renderer(program);
        for (double time : {0.0, 0.5, 1.9, 1.0}) EXPECT_EQ(renderer.pictureAt(time).width, 1920);
        EXPECT_EQ(renderer.soundRange(0, 2).size(), 2u * 96000);
        auto o = options(temp);
        RetouchBuilder::exportProgram(program, t, {}, o);
    } catch (const std::exception& e) {
        SUCCEED() << e.what();  // refusing is fine; crashing is not
    }
}

TEST_F(ProgramExportTest, RendererShowsEachPieceAndPlaysItsSound) {
    auto program =
        RetouchBuilder::build(media().take(), programEdit(RetouchEdit::Sound::followPicture()), media().dir());
    ProgramRenderer renderer(program);
    EXPECT_NEAR(renderer.duration(), 3.2, 0.002);
    EXPECT_EQ(renderer.frameCount(), 32);
    auto centre = [&](double t) {
        auto p = renderer.pictureAt(t);
        const auto* px = &p.rgba[(std::size_t(p.height / 2) * p.width + p.width / 2) * 4];
        return fixtures::Rgb{double(px[0]), double(px[1]), double(px[2])};
    };
    EXPECT_TRUE(near(centre(0.4), 255, 0, 0)) << show(centre(0.4));
    EXPECT_TRUE(near(centre(2.25), 0, 0, 255)) << show(centre(2.25));
    EXPECT_TRUE(near(centre(1.0), 255, 0, 0) == false);
    // Back and forth: seeking backwards gives the same pictures.
    EXPECT_TRUE(near(centre(0.1), 255, 0, 0)) << show(centre(0.1));
    auto sound = renderer.soundRange(0.1, 0.5);
    std::vector<float> left;
    for (std::size_t i = 0; i < sound.size(); i += 2) left.push_back(sound[i]);
    EXPECT_NEAR(fixtures::toneLevel(left, 440), 0.125, 0.03);
    EXPECT_LT(fixtures::toneLevel(left, 660), 0.01);
}

TEST_F(ProgramExportTest, ExportsEachSoundChoice) {
    TempDir temp;
    auto o = options(temp);
    auto take = media().take();

    // Follow picture: each piece has its camera's picture and sound.
    std::vector<float> reported;
    auto program = RetouchBuilder::build(take, programEdit(RetouchEdit::Sound::followPicture()), media().dir());
    const fs::path file = RetouchBuilder::exportProgram(
        program, take, [&](float f) { reported.push_back(f); }, o);
    EXPECT_EQ(file, o.programFolder / "Take 07 \u2013 Program \u2013 2025-03-14 09.05.mov");
    ASSERT_TRUE(fs::exists(file));
    EXPECT_TRUE(fs::exists(o.picturesFolder / "Brindlecroft" / file.filename()));
    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_LE(reported.back(), 1.0f);

    const auto info = fixtures::probe(file);
    ASSERT_TRUE(info.is_object());
    const nlohmann::json* video = nullptr;
    const nlohmann::json* audio = nullptr;
    for (const auto& s : info["streams"]) {
        if (s["codec_type"] == "video") video = &s;
        if (s["codec_type"] == "audio") audio = &s;
    }
    ASSERT_TRUE(video && audio);
    EXPECT_EQ((*video)["codec_name"], "hevc");
    EXPECT_EQ((*video)["codec_tag_string"], "hvc1");
    EXPECT_EQ((*video)["width"], 1920);
    EXPECT_EQ((*video)["height"], 1080);
    EXPECT_EQ((*video)["r_frame_rate"], "10/1");
    EXPECT_NEAR(std::stod((*video)["duration"].get<std::string>()), 3.2, 0.06);
    EXPECT_EQ((*audio)["codec_name"], "aac");
    EXPECT_EQ((*audio)["sample_rate"], "48000");
    EXPECT_NEAR(std::stod(info["format"]["duration"].get<std::string>()), 3.2, 0.1);
    EXPECT_NE(info["format"]["format_name"].get<std::string>().find("mov"), std::string::npos);

    struct Piece {
        double mid;
        double r, g, b;
        double tone;  // 0: silence
    };
    const Piece pieces[] = {{0.4, 255, 0, 0, 440},
                            {1.1, -1, -1, -1, 660},
                            {1.65, -1, -1, -1, 660},
                            {2.25, 0, 0, 255, 0},
                            {2.9, 255, 0, 0, 440}};
    for (const auto& p : pieces) {
        if (p.r >= 0) {
            const auto colour = fixtures::colorAt(file, p.mid);
            EXPECT_TRUE(near(colour, p.r, p.g, p.b)) << p.mid << " " << show(colour);
        } else {
            // B is turned to portrait and fitted into the middle, with black bars at the sides.
            const auto middle = fixtures::colorAt(file, p.mid, 0.45, 0.05, 0.55, 0.95);
            EXPECT_GT(middle.g, 150) << show(middle);
            EXPECT_TRUE(near(fixtures::colorAt(file, p.mid, 0.02, 0.4, 0.1, 0.6), 0, 0, 0, 25));
        }
        const auto sound = fixtures::soundAt(file, p.mid - 0.15, 0.3);
        for (double tone : {440.0, 660.0}) {
            const double level = fixtures::toneLevel(sound, tone);
            if (tone == p.tone) {
                EXPECT_NEAR(level, 0.125, 0.035) << p.mid << " " << tone;
            } else {
                EXPECT_LT(level, 0.015) << p.mid << " " << tone;
            }
        }
    }
    // The turned picture stands as ffmpeg shows the camera's movie: same colour on top and at the bottom.
    const auto source = media().dir() / media().b.file;
    const auto sourceTop = fixtures::colorAt(source, 1.0, 0.3, 0.05, 0.7, 0.2);
    const auto sourceBottom = fixtures::colorAt(source, 1.0, 0.3, 0.8, 0.7, 0.95);
    const auto top = fixtures::colorAt(file, 1.1, 0.47, 0.05, 0.53, 0.2);
    const auto bottom = fixtures::colorAt(file, 1.1, 0.47, 0.8, 0.53, 0.95);
    EXPECT_TRUE(near(top, sourceTop.r, sourceTop.g, sourceTop.b)) << show(top) << " vs " << show(sourceTop);
    EXPECT_TRUE(near(bottom, sourceBottom.r, sourceBottom.g, sourceBottom.b))
        << show(bottom) << " vs " << show(sourceBottom);
    EXPECT_FALSE(near(sourceTop, sourceBottom.r, sourceBottom.g, sourceBottom.b));

    // One camera throughout, at its volume; the same take exported again replaces its file.
    auto edit = programEdit(RetouchEdit::Sound::camera("B"));
    edit.volumes = {{"B", 0.5f}};
    program = RetouchBuilder::build(take, edit, media().dir());
    EXPECT_EQ(RetouchBuilder::exportProgram(program, take, {}, o), file);
    for (double mid : {0.4, 2.25, 2.9}) {
        const auto sound = fixtures::soundAt(file, mid - 0.15, 0.3);
        EXPECT_NEAR(fixtures::toneLevel(sound, 660), 0.0625, 0.02) << mid;
        EXPECT_LT(fixtures::toneLevel(sound, 440), 0.01) << mid;
    }
    EXPECT_TRUE(
        fs::exists(o.picturesFolder / "Brindlecroft" / (file.stem().string() + " 2.mov")));  // the library keeps both

    // Everything mixed, at the cameras' gains.
    edit.sound = RetouchEdit::Sound::mix();
    edit.volumes = {{"A", 1.0f}, {"B", 0.5f}};
    program = RetouchBuilder::build(take, edit, media().dir());
    RetouchBuilder::exportProgram(program, take, {}, o);
    for (double mid : {0.4, 1.65, 2.9}) {
        const auto sound = fixtures::soundAt(file, mid - 0.15, 0.3);
        const double a = fixtures::toneLevel(sound, 440), b = fixtures::toneLevel(sound, 660);
        EXPECT_NEAR(a, 0.125, 0.035) << mid;
        EXPECT_NEAR(b, 0.0625, 0.02) << mid;
        EXPECT_NEAR(a / b, 2.0, 0.4) << mid;
    }
    for (const auto& entry : fs::directory_iterator(o.programFolder)) {
        EXPECT_EQ(entry.path().extension(), ".mov") << entry.path();  // no temporary left behind
    }
}

TEST_F(ProgramExportTest, AFailedExportKeepsTheEarlierMovie) {
    TempDir temp;
    auto o = options(temp);
    auto take = media().take();
    fs::create_directories(o.programFolder);
    const fs::path earlier = o.programFolder / RetouchBuilder::programFileName(take);
    std::ofstream(earlier) << "the earlier program";
    auto program = RetouchBuilder::build(take, programEdit(RetouchEdit::Sound::mix()), media().dir());
    o.settings.preset = "no-such-preset";
    EXPECT_THROW(RetouchBuilder::exportProgram(program, take, {}, o), MovieExport::Error);
    std::ifstream in(earlier);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "the earlier program");
    EXPECT_EQ(std::distance(fs::directory_iterator(o.programFolder), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(o.picturesFolder / "Brindlecroft"));

    // A program without picture is refused before anything is written.
    RetouchBuilder::Program empty;
    EXPECT_THROW(RetouchBuilder::exportProgram(empty, take, {}, options(temp)), RetouchBuilder::Error);
}

TEST_F(ProgramExportTest, RefusedPhotoLibraryFailsButKeepsTheMovie) {
    TempDir temp;
    auto o = options(temp);
    std::ofstream(temp.path() / "Pictures") << "not a folder";
    auto take = media().take();
    RetouchEdit edit = programEdit(RetouchEdit::Sound::camera());
    edit.trimEnd = 1.0;  // a short program is enough here
    edit.removedSections.reset();
    auto program = RetouchBuilder::build(take, edit, media().dir());
    EXPECT_THROW(RetouchBuilder::exportProgram(program, take, {}, o), PhotoLibrary::Error);
    EXPECT_TRUE(fs::exists(o.programFolder / RetouchBuilder::programFileName(take)));
}

TEST_F(ProgramExportTest, AsynchronousBuildAndExportReportOnTheMainThread) {
    TempDir temp;
    QObject context;
    auto take = media().take();
    RetouchEdit edit = programEdit(RetouchEdit::Sound::followPicture());
    edit.trimEnd = 1.5;
    edit.removedSections.reset();
    const auto mainThread = QThread::currentThread();

    // The build reads the shared library's folder: point the data folder at the temporary one first.
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((temp.path() / "data").string()));
    fs::create_directories(RetouchLibrary::shared().directory());
    for (const auto& c : take.clips)
        fs::copy_file(media().dir() / c.file, RetouchLibrary::shared().directory() / c.file);

    std::optional<RetouchBuilder::Program> built;
    bool buildDone = false;
    RetouchBuilder::buildAsync(take, edit, &context,
                               [&](std::optional<RetouchBuilder::Program> p, std::exception_ptr e) {
                                   EXPECT_EQ(QThread::currentThread(), mainThread);
                                   EXPECT_FALSE(e);
                                   built = std::move(p);
                                   buildDone = true;
                               });
    QElapsedTimer clock;
    clock.start();
    while (!buildDone && clock.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(built);

    int progressCalls = 0;
    std::optional<fs::path> exported;
    bool exportDone = false;
    RetouchBuilder::exportAsync(
        *built, take, options(temp), &context,
        [&](float f) {
            EXPECT_EQ(QThread::currentThread(), mainThread);
            EXPECT_GE(f, 0.0f);
            EXPECT_LE(f, 1.0f);
            ++progressCalls;
        },
        [&](std::optional<fs::path> file, std::exception_ptr e) {
            EXPECT_EQ(QThread::currentThread(), mainThread);
            EXPECT_FALSE(e);
            exported = file;
            exportDone = true;
        });
    while (!exportDone && clock.elapsed() < 120000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(exported);
    EXPECT_TRUE(fs::exists(*exported));
    EXPECT_GE(progressCalls, 1);

    // Nothing reaches a context that is gone.
    bool called = false;
    {
        QObject gone;
        RetouchBuilder::buildAsync(take, edit, &gone, [&](auto, auto) { called = true; });
    }
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}

TEST(RetouchBuilderNames, ProgramFileNames) {
    setenv("TZ", "UTC", 1);
    tzset();
    RetouchTake t;
    t.number = 7;
    RetouchClip c;
    c.start = takeStart;
    t.clips = {c};
    EXPECT_EQ(RetouchBuilder::programFileName(t), "Take 07 \u2013 Program \u2013 2025-03-14 09.05.mov");
    t.number = 123;
    EXPECT_EQ(RetouchBuilder::programFileName(t), "Take 123 \u2013 Program \u2013 2025-03-14 09.05.mov");
    t.name = "";
    EXPECT_EQ(RetouchBuilder::programFileName(t), "Take 123 \u2013 Program \u2013 2025-03-14 09.05.mov");
    t.name = "Scene 1/2 at 10:30";
    EXPECT_EQ(RetouchBuilder::programFileName(t), "Scene 1-2 at 10.30 \u2013 Program \u2013 2025-03-14 09.05.mov");
    t.name = std::string("a\nb\tc\x7f") + std::string(1, '\0') + "d";
    EXPECT_EQ(RetouchBuilder::programFileName(t), "abcd \u2013 Program \u2013 2025-03-14 09.05.mov");
    t.name = "\n\r";
    EXPECT_EQ(RetouchBuilder::programFileName(t), "Take 123 \u2013 Program \u2013 2025-03-14 09.05.mov");
    t.name = std::string(300, 'x') + "/..";
    const auto longName = RetouchBuilder::programFileName(t);
    EXPECT_LT(longName.size(), 255u);
    EXPECT_EQ(longName.find('/'), std::string::npos);
    t.name = "..";
    EXPECT_EQ(fs::path(RetouchBuilder::programFileName(t)).filename().string(),
              ".. \u2013 Program \u2013 2025-03-14 09.05.mov");
}

TEST(PhotoLibraryTest, CopiesWithoutReplacing) {
    TempDir temp;
    const auto movie = temp.path() / "Program.mov";
    std::ofstream(movie) << "one";
    PhotoLibrary library(temp.path() / "Pictures");
    EXPECT_EQ(library.folder(), temp.path() / "Pictures" / "Brindlecroft");
    EXPECT_EQ(library.addVideo(movie), library.folder() / "Program.mov");
    std::ofstream(movie) << "two";
    EXPECT_EQ(library.addVideo(movie), library.folder() / "Program 2.mov");
    std::ifstream first(library.folder() / "Program.mov");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(first)), {}), "one");
    EXPECT_THROW(library.addVideo(temp.path() / "missing.mov"), PhotoLibrary::Error);
    EXPECT_EQ(std::distance(fs::directory_iterator(library.folder()), fs::directory_iterator()), 2);
}
