// The capture pipeline's routing, with a stand-in compressor: which picture is streamed, which one is previewed,
// which readings go out, and how takes start.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "camera/camera_streamer.h"
#include "camera/capture_keeper.h"
#include "camera/take_files.h"
#include "camera/take_journal.h"
#include "camera/take_recovery.h"
#include "cut_takes.h"
#include "platform/manual_executor.h"
#include "platform/synthetic_source.h"
#include "temp_dir.h"
#include "test_files.h"

namespace morvane {
namespace {

class RecordingCompressor final : public LiveCompressor {
public:
    explicit RecordingCompressor(std::vector<int>* formats) : formats_(formats) {}
    std::optional<Output> compress(const AVFrame& picture, bool key) override {
        formats_->push_back(picture.format);
        return Output{{Bytes{0x67}}, Bytes{0, 0, 0, 1, 0x65}, key};
    }
    void setBitRate(int) override {}

private:
    std::vector<int>* formats_;
};

struct Routing : ::testing::Test {
    test::TempDir dir;
    std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
    std::vector<int> streamed;  // pixel formats the compressor was given
    std::vector<SharedFrame> previews;
    int histograms = 0, scopes = 0, loupes = 0, levels = 0;
    std::vector<CameraEvent> events;
    int failures = 0;
    std::shared_ptr<CameraStreamer> streamer;
    std::shared_ptr<Defaults> defaults;
    std::shared_ptr<Outbox> outbox;
    const PeerId remote{Uuid()};

    void SetUp() override {
        H264Encoder::Options encoder;
        encoder.minFrameInterval = 0;
        encoder.makeCompressor = [this](int, int, int, bool) {
            return std::make_unique<RecordingCompressor>(&streamed);
        };
        CameraStreamer::Collaborators c;
        c.encoder = std::make_shared<H264Encoder>(encoder);
        c.store = std::make_shared<CaptureStore>(dir / "gallery");
        outbox = std::make_shared<Outbox>(dir / "outbox", main);
        c.outbox = outbox;
        c.cutLog = std::make_shared<CutLog>();
        c.main = main;
        defaults = std::make_shared<Defaults>(dir / "defaults.json");
        c.defaults = defaults;
        c.vaultFolder = dir / "Vault";
        c.recordingFolder = dir / "Recording";
        c.photoLibrary = std::make_shared<PhotoLibrary>(dir / "Pictures");
        c.deviceName = [] { return std::string("Cam T"); };
        c.hevcWritable = [] { return false; };
        c.proResWritable = [] { return std::vector<VideoCodec>{}; };
        streamer = CameraStreamer::make(c);
        streamer->encoder().addPeer(remote);
        streamer->encoder().onPacket = [](const Bytes&, const std::set<PeerId>&) {};
        streamer->onPreviewFrame = [this](const SharedFrame& f) { previews.push_back(f); };
        streamer->onHistogram = [this](const std::array<std::uint8_t, 64>&) { ++histograms; };
        streamer->onScope = [this](const Bytes&) { ++scopes; };
        streamer->onLoupe = [this](const Bytes&) { ++loupes; };
        streamer->onAudioLevel = [this](std::uint8_t) { ++levels; };
        streamer->onEvent = [this](const CameraEvent& e) { events.push_back(e); };
        streamer->onRecordingFailed = [this] { ++failures; };
    }

    void feed(bool tenBit, int count = 1, double fps = 30) {
        SyntheticSource::Settings s{.width = 320, .height = 180, .tenBit = tenBit};
        for (int i = 0; i < count; ++i) {
            const double t = next / fps;
            ++next;
            streamer->offerVideo(VideoFrame{SyntheticSource::makePicture(s, i), t});
            streamer->offerAudio(AudioFrame{SyntheticSource::makeTone(s, 0, 480), t});
            streamer->dataQueue().sync([] {});
        }
        main->runPending();
    }
    void set(std::function<void(CameraStreamer&)> change) {
        streamer->dataQueue().sync([&] { change(*streamer); });
    }
    // Stops the take being recorded and waits until it is stored.
    std::optional<CameraStreamer::Take> stopTake() {
        std::optional<CameraStreamer::Take> take;
        streamer->onTakeFinished = [&](const CameraStreamer::Take& t) { take = t; };
        set([](CameraStreamer& s) { s.stopRecording(); });
        streamer->waitForTakes();
        main->runPending();
        streamer->onTakeFinished = nullptr;
        return take;
    }
    // Whether the take was told saved after its own notices, which the remote reads by that order (a take told
    // without sound before its "saved"): only what is told of the stored take, its repeated pictures, comes after.
    bool toldSavedLast() const {
        const auto saved = std::find_if(events.rbegin(), events.rend(),
                                        [](const CameraEvent& e) { return e.kind == CameraEvent::Kind::videoSaved; });
        return saved != events.rend() && std::all_of(events.rbegin(), saved, [](const CameraEvent& e) {
                   return e.kind == CameraEvent::Kind::info && e.message &&
                          e.message->starts_with("The take repeats the picture before");
               });
    }
    int next = 0;
};

TEST_F(Routing, PlainPicturesGoToTheEncoderUntouched) {
    feed(false, 3);
    EXPECT_EQ(streamed, (std::vector<int>{AV_PIX_FMT_NV12, AV_PIX_FMT_NV12, AV_PIX_FMT_NV12}));
    EXPECT_TRUE(previews.empty());
}

TEST_F(Routing, TenBitPicturesAreRenderedBeforeTheyAreStreamed) {
    feed(true, 2);
    EXPECT_EQ(streamed, (std::vector<int>{AV_PIX_FMT_BGRA, AV_PIX_FMT_BGRA}));
    EXPECT_TRUE(previews.empty());
    set([](CameraStreamer& s) { s.stabilizedPreview = true; });
    feed(true, 1);
    EXPECT_EQ(previews.size(), 1u);
}

TEST_F(Routing, AidsShowInTheStreamButNotInThePreview) {
    set([](CameraStreamer& s) {
        s.stabilizedPreview = true;
        s.aids.falseColor = true;
    });
    feed(false, 1);
    ASSERT_EQ(previews.size(), 1u);
    ASSERT_EQ(streamed.size(), 1u);
    EXPECT_EQ(streamed[0], AV_PIX_FMT_BGRA);
    // The preview of the white bar's first pixel is white-ish grey, not false colour's purple or red.
    const std::uint8_t* p = previews[0]->data[0] + 10 * previews[0]->linesize[0] + 4 * 10;
    EXPECT_NEAR(p[0], p[2], 8);
}

TEST_F(Routing, PreviewsAtMostThirtyOneTimesASecond) {
    set([](CameraStreamer& s) { s.stabilizedPreview = true; });
    feed(false, 60, 60);
    EXPECT_GE(previews.size(), 29u);
    EXPECT_LE(previews.size(), 31u);
}

TEST_F(Routing, ReadingsFollowTheirSwitchesAndRates) {
    set([](CameraStreamer& s) {
        s.aids.scope = ScopeKind::waveform;
        s.loupeContours = false;
    });
    feed(false, 31);           // a little over one second
    EXPECT_EQ(histograms, 3);  // 0, 0.5, 1.0 s
    EXPECT_EQ(scopes, 4);      // every third of a second
    EXPECT_EQ(loupes, 6);
    EXPECT_EQ(levels, 6);
    set([](CameraStreamer& s) { s.histogramEnabled = false; });
    histograms = scopes = loupes = levels = 0;
    feed(false, 31);
    EXPECT_EQ(histograms + scopes + levels, 0);
    EXPECT_GT(loupes, 0);  // the loupe is not a live reading
}

TEST_F(Routing, RotationBytes) {
    struct Case {
        double angle;
        int byte;
    } cases[] = {{0, 0}, {90, 1}, {180, 2}, {270, 3}, {359.6, 0}, {89.5, 1}, {NAN, 0}};
    for (const auto& c : cases) EXPECT_EQ(CameraStreamer::rotationByte(c.angle), c.byte) << c.angle;
}

TEST_F(Routing, ATakeThatCannotStartIsReportedOnce) {
    set([](CameraStreamer& s) { s.recordingRequested = true; });
    feed(true, 3);  // 10-bit without an HEVC writer
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, CameraEvent::Kind::failed);
    EXPECT_EQ(events[0].message, "Couldn't start recording");
    EXPECT_EQ(failures, 1);
}

TEST_F(Routing, ASecondRequestLeavesTheRunningTakeAlone) {
    set([](CameraStreamer& s) { s.recordingRequested = true; });
    feed(false, 5);
    set([](CameraStreamer& s) {
        EXPECT_TRUE(s.isRecording());
        s.recordingRequested = true;
    });
    feed(false, 5);
    const auto take = stopTake();
    ASSERT_TRUE(take);
    EXPECT_NEAR(*take->entry.info.duration, 10 / 30.0, 0.01);  // one movie of all ten frames
    EXPECT_TRUE(take->entry.photoAssetID);
    EXPECT_TRUE(std::filesystem::exists(dir / "Pictures" / "Brindlecroft" / *take->entry.photoAssetID));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, CameraEvent::Kind::videoSaved);
}

// The sound of a take's last pictures is read after them, when the take may already have been stopped: it still
// goes into the take.
TEST_F(Routing, SoundReadAfterTheStopEndsTheTake) {
    std::optional<CameraStreamer::Take> take;
    streamer->onTakeFinished = [&](const CameraStreamer::Take& t) { take = t; };
    set([](CameraStreamer& s) { s.recordingRequested = true; });
    // A second filmed just now, its sound read three pictures late.
    const double t0 = hostTime() - 1;
    SyntheticSource::Settings s{.width = 320, .height = 180};
    auto sound = [&](int i) {
        streamer->offerAudio(AudioFrame{SyntheticSource::makeTone(s, i * 1600, 1600), t0 + i / 30.0});
    };
    for (int i = 0; i < 30; ++i) {
        streamer->offerVideo(VideoFrame{SyntheticSource::makePicture(s, i), t0 + i / 30.0});
        if (i >= 3) sound(i - 3);
        streamer->dataQueue().sync([] {});
    }
    set([](CameraStreamer& s) { s.stopRecording(); });
    for (int i = 27; i < 30; ++i) sound(i);
    streamer->waitForTakes();
    main->runPending();
    ASSERT_TRUE(take && take->entry.photoAssetID);
    const auto samples = test::decodedSound(dir / "Pictures" / "Brindlecroft" / *take->entry.photoAssetID);
    // The last 50 ms hold the tone.
    ASSERT_GE(samples.size(), 47760u);
    double sum = 0;
    for (std::size_t i = 45360; i < 47760; ++i) sum += double(samples[i]) * samples[i];
    EXPECT_GT(std::sqrt(sum / 2400), 0.1);
}

// The movie's pictures, one a slot, each made small and grey: 64 bytes.
std::vector<std::string> slotPictures(const std::filesystem::path& movie) {
    const std::string bytes = test::commandOutput("ffmpeg -v error -i '" + movie.string() +
                                                  "' -map 0:v -vf fps=30,scale=16:4,format=gray -f rawvideo -");
    std::vector<std::string> pictures;
    for (std::size_t at = 0; at + 64 <= bytes.size(); at += 64) pictures.push_back(bytes.substr(at, 64));
    return pictures;
}

// A take holds what was captured from its first picture to its stop, whatever the lag between the picture and sound
// paths, and says when its pictures repeat.
TEST_F(Routing, ATakeHoldsWhatWasCapturedUntilItsStop) {
    const struct {
        const char* name;
        double pictureLag;          ///< the pictures are read this long after the sound captured with them
        double stallFrom, stallTo;  ///< no picture is captured then (seconds after the first)
        const char* told;           ///< the notice after the take
    } cases[] = {
        {"pictures read 1 s after their sound", 1, 0, 0, nullptr},
        {"no picture for 2 s", 0, 1, 3,
         "The take repeats the picture before in 60 pictures: the camera gave none "
         "for them"},
    };
    for (const auto& c : cases) {
        events.clear();
        set([](CameraStreamer& s) { s.recordingRequested = true; });
        // Four seconds filmed from now on, a picture and its sound each 1/30 s, read as they are captured.
        const double t0 = hostTime();
        const SyntheticSource::Settings s{.width = 320, .height = 180};
        const auto sound = [&](int i) {
            std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                          std::chrono::duration<double>(t0 + (i + 1) / 30.0 - hostTime()));
            streamer->offerAudio(AudioFrame{SyntheticSource::makeTone(s, i * 1600, 1600), t0 + i / 30.0});
            streamer->dataQueue().sync([] {});
        };
        const auto picture = [&](int i) {
            if (i >= 30 * c.stallFrom && i < 30 * c.stallTo) return;
            streamer->offerVideo(VideoFrame{SyntheticSource::makePicture(s, i), t0 + i / 30.0});
            streamer->dataQueue().sync([] {});
        };
        const int lag = static_cast<int>(std::lround(c.pictureLag * 30));
        for (int i = 0; i < 120; ++i) {
            sound(i);
            if (i >= lag) picture(i - lag);
        }
        set([](CameraStreamer& s) { s.stopRecording(); });
        for (int i = 120 - lag; i <= 120; ++i) picture(i);  // the last one captured after the stop
        const auto take = stopTake();
        ASSERT_TRUE(take && take->entry.photoAssetID) << c.name;
        const auto movie = dir / "Pictures" / "Brindlecroft" / *take->entry.photoAssetID;
        EXPECT_NEAR(take->entry.info.duration.value_or(0), 4, 0.05) << c.name;
        // Sound from the first picture on, and every picture captured, each in its slot.
        const std::vector<float> samples = test::decodedSound(movie);
        ASSERT_GE(samples.size(), 48000u) << c.name;
        double sum = 0;
        for (std::size_t i = 2400; i < 48000; ++i) sum += double(samples[i]) * samples[i];
        EXPECT_GT(std::sqrt(sum / 45600), 0.1) << c.name;
        // (Two slots apart: the square that moves across them turns back at the edge between two pictures.)
        const auto pictures = slotPictures(movie);
        const auto stalled = [&](std::size_t i) { return i >= 30 * c.stallFrom && i < 30 * c.stallTo; };
        ASSERT_GE(pictures.size(), 120u) << c.name;
        for (std::size_t i = 2; i < 120; ++i)
            EXPECT_EQ(pictures[i] == pictures[i - 2], stalled(i) && stalled(i - 1)) << c.name << " slot " << i;
        main->runPending();
        const bool told = std::any_of(events.begin(), events.end(), [&](const CameraEvent& e) {
            return e.kind == CameraEvent::Kind::info && e.message && c.told && *e.message == c.told;
        });
        EXPECT_EQ(told, c.told != nullptr) << c.name;
    }
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        files.push_back(it->path().filename());
    return files;
}
long moviesIn(const std::filesystem::path& folder) {
    const auto files = filesIn(folder);
    return std::count_if(files.begin(), files.end(), [](const auto& name) { return name.extension() == ".mov"; });
}

// The system's temporary folder is often in memory and small: a take that outgrew it was lost whole.
TEST_F(Routing, TakesAreRecordedInTheCameraFolderNotTheTemporaryOne) {
    const auto temporary = dir / "tmp";
    std::filesystem::create_directories(temporary);
    const char* was = std::getenv("TMPDIR");
    const std::string before = was ? was : "";
    setenv("TMPDIR", temporary.c_str(), 1);
    set([](CameraStreamer& s) { s.recordingRequested = true; });
    feed(false, 5);
    const long recording = moviesIn(dir / "Recording");
    const auto inTemporary = filesIn(temporary);
    const auto take = stopTake();
    was ? setenv("TMPDIR", before.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_EQ(recording, 1);
    EXPECT_TRUE(inTemporary.empty());
    ASSERT_TRUE(take);
    EXPECT_TRUE(filesIn(dir / "Recording").empty()) << "the take is in the library and the outbox";
}

TEST_F(Routing, ATakeThePicturesFolderCannotHoldStillGoesToTheRemote) {
    std::filesystem::create_directories(dir / "Pictures");
    std::ofstream(dir / "Pictures" / "Brindlecroft") << "not a folder";
    set([](CameraStreamer& s) { s.recordingRequested = true; });
    feed(false, 5);
    set([](CameraStreamer& s) { s.stopRecording(); });
    streamer->waitForTakes();
    main->runPending();
    EXPECT_EQ(moviesIn(dir / "outbox"), 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, CameraEvent::Kind::failed);
    ASSERT_TRUE(events[0].message);
    EXPECT_EQ(events[0].message->rfind("Couldn't save to Pictures › Brindlecroft", 0), 0u) << *events[0].message;
    EXPECT_NE(events[0].message->find((dir / "outbox").string()), std::string::npos) << *events[0].message;
    // The notice stands, told again to every remote, until Pictures keeps a take again.
    EXPECT_EQ(events[0].subject, std::optional<std::string>(CaptureKeeper::librarySubject));
    std::filesystem::remove(dir / "Pictures" / "Brindlecroft");
    events.clear();
    set([](CameraStreamer& s) { s.recordingRequested = true; });
    feed(false, 5);
    set([](CameraStreamer& s) { s.stopRecording(); });
    streamer->waitForTakes();
    main->runPending();
    const auto over = std::find_if(events.begin(), events.end(), [](const CameraEvent& e) {
        return e.subject == CaptureKeeper::librarySubject && e.over == true;
    });
    EXPECT_NE(over, events.end()) << "the notice is taken back once a take is kept";
}

TEST_F(Routing, ATakeWhoseSoundCannotBeConvertedKeepsItsPicturesAndSaysSo) {
    set([](CameraStreamer& s) { s.recordingRequested = true; });
    const SyntheticSource::Settings settings{.width = 320, .height = 180};
    for (int i = 0; i < 10; ++i) {
        streamer->offerVideo(VideoFrame{SyntheticSource::makePicture(settings, i), i / 30.0});
        auto sound = SyntheticSource::makeTone(settings, i * 1600, 1600);
        sound->format = AV_SAMPLE_FMT_NONE;
        streamer->offerAudio(AudioFrame{sound, i / 30.0});
        streamer->dataQueue().sync([] {});
    }
    const auto take = stopTake();
    ASSERT_TRUE(take);
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const CameraEvent& e) {
        return e.kind == CameraEvent::Kind::failed && e.message && e.message->find("no sound") != std::string::npos;
    }));
    EXPECT_TRUE(toldSavedLast());
}

// A take from a camera with a microphone that lacks its sound, in part or whole, says so in a notice of its own
// marked by its field, whatever its words.
TEST_F(Routing, ATakeThatLacksItsSoundIsMarkedSo) {
    struct Row {
        int soundFrames;  ///< of a take of 60 pictures
        std::optional<std::string> told;
        bool convertible = true;
    } rows[] = {
        {60, std::nullopt},
        {30, "The take's sound ends early: the microphone's sound of its end never came. Its pictures are kept"},
        {0, "The take has no sound: the microphone gave nothing. Its pictures are kept"},
        {60, takeWithoutSoundMessage, false}};
    const SyntheticSource::Settings s{.width = 320, .height = 180};
    for (const auto& row : rows) {
        events.clear();
        set([](CameraStreamer& st) { st.recordingRequested = true; });
        for (int i = 0; i < 60; ++i, ++next) {
            streamer->offerVideo(VideoFrame{SyntheticSource::makePicture(s, i), next / 30.0});
            auto sound = SyntheticSource::makeTone(s, i * 1600, 1600);
            if (!row.convertible) sound->format = AV_SAMPLE_FMT_NONE;
            if (i < row.soundFrames) streamer->offerAudio(AudioFrame{sound, next / 30.0});
            streamer->dataQueue().sync([] {});
        }
        const auto take = stopTake();
        ASSERT_TRUE(take) << row.soundFrames;
        std::vector<CameraEvent> marked;
        std::copy_if(events.begin(), events.end(), std::back_inserter(marked),
                     [](const CameraEvent& e) { return e.soundMissing.has_value(); });
        const CameraEvent told{CameraEvent::Kind::failed,           row.told,     {},
                               "take:" + take->entry.info.fileName, std::nullopt, true};
        EXPECT_EQ(marked, row.told ? std::vector<CameraEvent>{told} : std::vector<CameraEvent>{}) << row.soundFrames;
        EXPECT_TRUE(toldSavedLast()) << row.soundFrames;
    }
}

// The camera ended as it stored a finished take: its next start stores it, and leaves what is not a take alone.
TEST_F(Routing, ATakeLeftUnstoredIsStoredAtTheNextStart) {
    std::filesystem::create_directories(dir / "Recording");
    std::ofstream(dir / "Recording" / "notes.txt") << "mine";
    MovieRecorder::Options options;
    options.video = {.codec = MovieVideoSettings::Codec::h264, .width = 320, .height = 180};
    options.frameRate = 30;
    options.destination = dir / "Recording" / "left.mov";
    options.queueLimit = 100;
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    for (int i = 0; i < 15; ++i)
        recorder->append(VideoFrame{SyntheticSource::makePicture({.width = 320, .height = 180}, i), i / 30.0});
    ASSERT_TRUE(recorder->finish());

    std::optional<CameraStreamer::Take> take;
    streamer->onTakeFinished = [&](const CameraStreamer::Take& t) { take = t; };
    streamer->recoverTakes();
    streamer->dataQueue().sync([] {});
    streamer->waitForTakes();
    main->runPending();
    ASSERT_TRUE(take);
    EXPECT_NEAR(*take->entry.info.duration, 0.5, 0.05);
    EXPECT_TRUE(take->entry.photoAssetID);
    EXPECT_TRUE(take->item) << "in the gallery, with its first picture";
    EXPECT_EQ(filesIn(dir / "Recording"), std::vector<std::filesystem::path>{"notes.txt"});
    EXPECT_EQ(moviesIn(dir / "outbox"),
              1);  // Recorded without sound on a camera with a microphone: told, as any silent take.
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const CameraEvent& e) {
        return e.soundMissing && e.subject == "take:" + take->entry.info.fileName;
    }));
}

// The camera ended between moving a take (or a photo) into the vault and naming it anywhere: the next start sends it
// once, from where it is, and a start after it was sent leaves it there.
TEST_F(Routing, ACaptureMovedIntoTheVaultAndNamedNowhereIsSentOnce) {
    defaults->set("useVault", true);
    MovieRecorder::Options options;
    options.video = {.codec = MovieVideoSettings::Codec::h264, .width = 320, .height = 180};
    options.frameRate = 30;
    options.destination = dir / "elsewhere" / "left.mov";
    std::filesystem::create_directories(dir / "elsewhere");
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    for (int i = 0; i < 15; ++i)
        recorder->append(VideoFrame{SyntheticSource::makePicture({.width = 320, .height = 180}, i), i / 30.0});
    ASSERT_TRUE(recorder->finish());
    const std::string take = "2026-03-04 10.11.14 Cam T.mov", photo = "2026-03-04 10.11.15 Cam T.jpg";
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    const auto jpeg = CaptureStore::jpegData(picture, 0.8).value();
    test::writeFile(dir / "Vault" / photo, std::string(jpeg.begin(), jpeg.end()));
    std::filesystem::rename(*options.destination, dir / "Vault" / take);

    int finished = 0;
    streamer->onTakeFinished = [&](const CameraStreamer::Take&) { ++finished; };
    const auto start = [&] {
        streamer->recoverTakes();
        streamer->dataQueue().sync([] {});
        streamer->waitForTakes();
        main->runPending();
    };
    start();
    const auto items = outbox->items();
    std::set<std::string> queued;
    for (const auto& item : items)
        if (item.location == Outbox::Item::Location::vault && item.info.fileName == item.fileName)
            queued.insert(item.fileName + (item.info.isVideo ? " as a take" : " as a photo"));
    EXPECT_EQ(queued, (std::set<std::string>{take + " as a take", photo + " as a photo"}));
    EXPECT_EQ(test::namesIn(dir / "Vault"), (std::set<std::string>{take, photo}));

    for (const auto& item : items) outbox->remove(item.info.id);  // delivered: the vault keeps its files
    start();
    EXPECT_TRUE(outbox->items().empty());
    EXPECT_EQ(finished, 1);
}

// Cut off, then damaged on the disk: the take keeps what lies whole around the damage and reaches the remote. One whose
// journal is of another version is left as it is where it was, and the operator is told.
TEST_F(Routing, ACutOffTakeKeepsWhatLiesWholeAndOneOfAnotherVersionIsLeftAndTold) {
    namespace fs = std::filesystem;
    fs::create_directories(dir / "Recording");
    fs::create_directories(dir / "elsewhere");
    MovieRecorder::Options options;
    options.video = {.codec = MovieVideoSettings::Codec::h264, .width = 320, .height = 180};
    options.video.averageBitRate = 1'000'000;
    options.audio = MovieAudioSettings{};
    options.frameRate = 30;
    options.destination = dir / "elsewhere" / "take.mov";
    options.queueLimit = 1000;
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    const SyntheticSource::Settings s{.width = 320, .height = 180};
    for (int i = 0; i < 105; ++i) {
        recorder->append(VideoFrame{SyntheticSource::makePicture(s, i), i / 30.0});
        recorder->appendAudio(AudioFrame{SyntheticSource::makeTone(s, i * 1600, 1600), i / 30.0});
    }
    // Cut off once its journal lists two seconds and a half: as a kill leaves the files.
    const fs::path journal = journalOf(*options.destination);
    const auto journalled = [&] {
        const auto samples = readJournal(test::readFile(journal)).samples;
        return std::count_if(samples.begin(), samples.end(), [](const auto& x) { return x.stream == 0; });
    };
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         journalled() < 75 && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(journalled(), 75);
    const auto cut = [&](const fs::path& movie) {
        fs::copy_file(journal, journalOf(movie));
        fs::copy_file(*options.destination, movie);
        fs::copy_file(reserveOf(*options.destination), reserveOf(movie));
    };
    const fs::path damaged = dir / "Recording" / "damaged.mov", other = dir / "Recording" / "other.mov";
    cut(damaged);
    cut(other);
    ASSERT_TRUE(recorder->finish());
    // The damage starts at the picture a third of the way in: by time, not by bytes, since pictures the recorder
    // could not reach in time are repeats of a few bytes each.
    std::vector<std::int64_t> pictureOffsets;
    for (const auto& sample : readJournal(test::readFile(journalOf(damaged))).samples)
        if (sample.stream == 0) pictureOffsets.push_back(sample.offset);
    ASSERT_GE(pictureOffsets.size(), 75u);
    const auto at = static_cast<std::uintmax_t>(pictureOffsets[pictureOffsets.size() / 3]);
    test::zero(damaged, at, 64 << 10);
    const double before = test::lengthBefore(journalOf(damaged), at);
    const double kept = test::keptOf(journalOf(damaged), [&](std::size_t, const JournalSample& s) {
                            return static_cast<std::uintmax_t>(s.offset + s.size) > at &&
                                   static_cast<std::uintmax_t>(s.offset) < at + (64 << 10);
                        }).length;
    test::changeJournalVersion(journalOf(other));
    const auto left = [&] {
        std::map<std::string, std::string> files;
        for (const auto& name : {"other.mov", ".other.mov.journal", ".other.mov.reserve"})
            files[name] = test::readFile(dir / "Recording" / name);
        return files;
    };
    const auto otherFiles = left();

    std::vector<CameraStreamer::Take> takes;
    streamer->onTakeFinished = [&](const CameraStreamer::Take& t) { takes.push_back(t); };
    streamer->recoverTakes();
    streamer->dataQueue().sync([] {});
    streamer->waitForTakes();
    main->runPending();
    ASSERT_EQ(takes.size(), 1u);
    EXPECT_GT(before, 3.5 / 3 / 2);
    EXPECT_NEAR(*takes[0].entry.info.duration, kept, 0.04);
    EXPECT_EQ(moviesIn(dir / "outbox"), 1);
    auto recording = filesIn(dir / "Recording");
    std::sort(recording.begin(), recording.end());
    EXPECT_EQ(recording, (std::vector<fs::path>{".other.mov.journal", ".other.mov.reserve", "other.mov"}));
    EXPECT_EQ(left(), otherFiles);
    // Each told as a notice of its take, which stands until a remote hears it: the take finished short, and the other.
    const auto failed = [](const CameraEvent& e) { return e.kind == CameraEvent::Kind::failed; };
    ASSERT_EQ(std::count_if(events.begin(), events.end(), failed), 2);
    const auto told = std::find_if(events.begin(), events.end(), [](const CameraEvent& e) {
        return e.kind == CameraEvent::Kind::failed && e.message &&
               e.message->find("another version") != std::string::npos;
    });
    ASSERT_NE(told, events.end());
    // Named as the crew knows it: a journal that cannot be read gives no take name, so its file's.
    EXPECT_EQ(told->message, TakeRecovery::message(TakeRecovery::Outcome::leftAlone, "other.mov", {}));
    EXPECT_EQ(told->subject, "take:other.mov");
    const auto finished = std::find_if(events.begin(), events.end(), [&](const CameraEvent& e) {
        return failed(e) && e.subject == "take:" + takes[0].entry.info.fileName;
    });
    EXPECT_NE(finished, events.end()) << "the take finished short";
}

// A take is named for the library in the recording folder: a file left there under that name stays as it is.
TEST_F(Routing, ATakeNamedForTheLibraryReplacesNoFileLeftUnderThatName) {
    std::filesystem::create_directories(dir / "Recording");
    std::vector<std::filesystem::path> left;
    for (int s = -10; s <= 10; ++s) {
        left.push_back(dir / "Recording" / takeFileName(Date::now().addingTimeInterval(s), "Cam T", "mov"));
        std::ofstream(left.back()) << "mine";
    }
    set([](CameraStreamer& s) { s.recordingRequested = true; });
    const SyntheticSource::Settings settings{.width = 320, .height = 180};
    const double now = hostTime();  // the take is dated from its pictures' times
    for (int i = 0; i < 5; ++i) {
        streamer->offerVideo(VideoFrame{SyntheticSource::makePicture(settings, i), now + i / 30.0});
        streamer->dataQueue().sync([] {});
    }
    const auto take = stopTake();
    ASSERT_TRUE(take);
    ASSERT_TRUE(take->entry.photoAssetID);
    EXPECT_EQ(moviesIn(dir / "outbox"), 1);
    for (const auto& file : left) EXPECT_EQ(test::readFile(file), "mine") << file;
}

// A photo goes the way a take does: one that Pictures cannot keep still goes to the remote, and the operator learns
// where it waits. Nothing is written in the system's temporary folder on the way.
TEST_F(Routing, APhotoThePicturesFolderCannotHoldStillGoesToTheRemote) {
    std::filesystem::create_directories(dir / "Pictures");
    std::ofstream(dir / "Pictures" / "Brindlecroft") << "not a folder";
    const auto temporary = dir / "tmp";
    std::filesystem::create_directories(temporary);
    const char* was = std::getenv("TMPDIR");
    const std::string before = was ? was : "";
    setenv("TMPDIR", temporary.c_str(), 1);
    auto data = jpegOfPicture(*SyntheticSource::makePicture({.width = 64, .height = 48}, 0), 64, 0.9);
    ASSERT_TRUE(data);
    streamer->savePhoto(*data, "jpg");
    main->runPending();
    const auto inTemporary = filesIn(temporary);
    was ? setenv("TMPDIR", before.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_TRUE(inTemporary.empty());
    const auto queued = outbox->items();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_FALSE(queued[0].info.isVideo);
    EXPECT_EQ(test::readFile(dir / "outbox" / queued[0].fileName), std::string(data->begin(), data->end()))
        << "the photo itself waits in the outbox";
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, CameraEvent::Kind::failed);
    ASSERT_TRUE(events[0].message);
    EXPECT_EQ(events[0].message->rfind("Couldn't save to Pictures › Brindlecroft", 0), 0u) << *events[0].message;
    EXPECT_NE(
        events[0].message->find("The photo goes to the remote; until then it waits in " + (dir / "outbox").string()),
        std::string::npos)
        << *events[0].message;
    EXPECT_TRUE(filesIn(dir / "Recording").empty());
}

TEST_F(Routing, PhotosInTheSameSecondKeepTheirOwnVaultFiles) {
    defaults->set("useVault", true);
    auto data = jpegOfPicture(*SyntheticSource::makePicture({.width = 64, .height = 48}, 0), 64, 0.9);
    ASSERT_TRUE(data);
    streamer->savePhoto(*data, "jpg");
    streamer->savePhoto(*data, "jpg");
    main->runPending();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "Vault"))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names.size(), 2u);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, CameraEvent::Kind::photoSaved);
    ASSERT_TRUE(events[0].item && events[1].item);
    EXPECT_NE(events[0].item->vaultFile, events[1].item->vaultFile);
}

// Ends a source's picture thread: told under the source's lock, joined outside it, as the thread takes that lock.
void endPictureThread(std::mutex& lock, std::condition_variable& wake, bool& stopping, std::thread& thread) {
    std::thread ending;
    {
        std::lock_guard guard(lock);
        stopping = true;
        ending = std::move(thread);
    }
    wake.notify_all();
    if (ending.joinable()) ending.join();
}

// Pictures for a while after each start, then nothing while it still counts as running: a stuck driver.
class StallingSource final : public CaptureSource {
public:
    bool start(Callbacks callbacks) override {
        std::lock_guard guard(lock_);
        if (thread_.joinable()) return false;
        ++starts;
        stopping_ = false;
        thread_ = std::thread([this, callbacks] {
            for (int i = 0; i < 10; ++i) {
                if (callbacks.onVideo)
                    callbacks.onVideo(
                        VideoFrame{SyntheticSource::makePicture({.width = 64, .height = 36}, i), hostTime()});
                std::unique_lock guard(lock_);
                if (wake_.wait_for(guard, std::chrono::milliseconds(20), [this] { return stopping_; })) return;
            }
            std::unique_lock guard(lock_);
            wake_.wait(guard, [this] { return stopping_; });
        });
        return true;
    }
    void stop() override { endPictureThread(lock_, wake_, stopping_, thread_); }
    ~StallingSource() override { stop(); }
    std::atomic<int> starts{0};

private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// A streamer whose watchdog looks every 0.1 s and restarts after 0.6 s without pictures.
CameraStreamer::Collaborators watched(const test::TempDir& dir, const std::shared_ptr<ManualExecutor>& main) {
    CameraStreamer::Collaborators c;
    c.encoder = std::make_shared<H264Encoder>();
    c.store = std::make_shared<CaptureStore>(dir / "gallery");
    c.outbox = std::make_shared<Outbox>(dir / "outbox", main);
    c.cutLog = std::make_shared<CutLog>();
    c.main = main;
    c.defaults = std::make_shared<Defaults>(dir / "defaults.json");
    c.photoLibrary = std::make_shared<PhotoLibrary>(dir / "Pictures");
    c.recordingFolder = dir / "Recording";
    c.stallSeconds = 0.6;
    c.watchdogInterval = 0.1;
    return c;
}

TEST(SessionWatchdog, AStalledSourceIsStartedAgain) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    CameraStreamer::Collaborators c = watched(dir, main);
    auto streamer = CameraStreamer::make(c);
    std::atomic<int> pictures{0};
    streamer->onHistogram = [&](const std::array<std::uint8_t, 64>&) { ++pictures; };
    auto source = std::make_unique<StallingSource>();
    StallingSource* stalling = source.get();
    ASSERT_TRUE(streamer->start(std::move(source)));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // A restart is counted once the source started again.
    while ((stalling->starts < 3 || streamer->sourceRestarts() < 2) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(stalling->starts.load(), 3);
    EXPECT_GE(streamer->sourceRestarts(), 2);
    EXPECT_GE(pictures.load(), 2);  // pictures flowed again after each restart
    streamer->stop();
    // Stopped on purpose: the watchdog leaves it alone.
    const int starts = stalling->starts;
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    EXPECT_EQ(stalling->starts.load(), starts);
}

// A driver stuck for good: after a few pictures each capture call waits until the test lets go, and stop waits
// for that call, as a plain source's stop does. Shared by a source and its replacements.
struct StuckDevice {
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;
    std::atomic<int> made{0}, starts{0}, gone{0};

    void capture() {
        std::unique_lock guard(lock);
        changed.wait(guard, [this] { return released; });
    }
    void release() {
        std::lock_guard guard(lock);
        released = true;
        changed.notify_all();
    }
};

class StuckSource final : public CaptureSource {
public:
    explicit StuckSource(std::shared_ptr<StuckDevice> device) : device_(std::move(device)) { ++device_->made; }
    ~StuckSource() override {
        stop();
        ++device_->gone;
    }
    bool start(Callbacks callbacks) override {
        if (thread_.joinable()) return false;
        ++device_->starts;
        stopping_ = false;
        thread_ = std::thread([this, callbacks] {
            for (int i = 0; i < 10 && !stopping_; ++i) {
                callbacks.onVideo(
                    VideoFrame{SyntheticSource::makePicture({.width = 320, .height = 180}, i), hostTime()});
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            device_->capture();
        });
        return true;
    }
    void stop() override {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::unique_ptr<CaptureSource> replacement() const override { return std::make_unique<StuckSource>(device_); }

private:
    std::shared_ptr<StuckDevice> device_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

template <class Done>
bool waitFor(Done done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// A device that opens after `openSeconds`, then gives a picture every 20 ms until stopped; its replacements open at
// once.
class SlowOpeningSource final : public CaptureSource {
public:
    explicit SlowOpeningSource(double openSeconds) : openSeconds_(openSeconds) {}
    ~SlowOpeningSource() override { stop(); }
    bool start(Callbacks callbacks) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(openSeconds_));
        std::lock_guard guard(lock_);
        if (thread_.joinable()) return false;
        stopping_ = false;
        thread_ = std::thread([this, callbacks] {
            for (int i = 0;; ++i) {
                callbacks.onVideo(VideoFrame{SyntheticSource::makePicture({.width = 64, .height = 36}, i), hostTime()});
                std::unique_lock guard(lock_);
                if (wake_.wait_for(guard, std::chrono::milliseconds(20), [this] { return stopping_; })) return;
            }
        });
        return true;
    }
    void stop() override { endPictureThread(lock_, wake_, stopping_, thread_); }
    std::unique_ptr<CaptureSource> replacement() const override { return std::make_unique<SlowOpeningSource>(0); }

private:
    double openSeconds_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

TEST(SessionWatchdog, ACameraSlowToOpenStartsAllTheSame) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    CameraStreamer::Collaborators c = watched(dir, main);
    c.limits.callSeconds = 0.3;
    auto streamer = CameraStreamer::make(c);
    std::atomic<int> pictures{0};
    streamer->onHistogram = [&](const std::array<std::uint8_t, 64>&) { ++pictures; };
    // Opened after the streamer stopped waiting: left behind, its replacement starts once it answered.
    ASSERT_TRUE(streamer->start(std::make_unique<SlowOpeningSource>(1.0)));
    EXPECT_TRUE(waitFor([&] { return pictures >= 3; }, 20));
    streamer->stop();
    main->runPending();
}

TEST(SessionWatchdog, AStuckSourceIsLeftBehindForANewOneAndTheTakeIsKept) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    CameraStreamer::Collaborators c = watched(dir, main);
    c.hevcWritable = [] { return false; };
    c.proResWritable = [] { return std::vector<VideoCodec>{}; };
    auto streamer = CameraStreamer::make(c);
    int restartsSeen = 0;
    std::vector<CameraStreamer::Take> takes;
    streamer->onSourceRestarted = [&] { ++restartsSeen; };
    streamer->onTakeFinished = [&](const CameraStreamer::Take& take) { takes.push_back(take); };
    auto device = std::make_shared<StuckDevice>();
    ASSERT_TRUE(streamer->start(std::make_unique<StuckSource>(device)));
    streamer->dataQueue().sync([&] { streamer->recordingRequested = true; });

    // Stalled, the source cannot be stopped: a replacement starts instead, and pictures flow from it.
    // The replacement may start before the restart is counted.
    EXPECT_TRUE(waitFor([&] { return device->starts >= 2 && streamer->sourceRestarts() >= 1; }, 10));
    EXPECT_TRUE(waitFor(
        [&] {
            main->runPending();
            return restartsSeen >= 1;
        },
        10));

    // Stopping waits for no stuck source, and the take is finished and kept.
    std::atomic<bool> stopped{false};
    std::thread owner([&] {
        streamer->dataQueue().sync([&] { streamer->stopRecording(); });
        streamer->stop();
        streamer->waitForTakes();
        stopped = true;
    });
    EXPECT_TRUE(waitFor([&] { return stopped.load(); }, 10));
    device->release();  // lets an unmended streamer go as well
    owner.join();
    main->runPending();
    // How much of the pictures falls inside the take depends on how busy the machine is; that it holds some does not.
    ASSERT_EQ(takes.size(), 1u);
    EXPECT_GT(takes[0].entry.info.duration, 0.0);

    // Once the driver lets go, the sources left behind are freed.
    streamer.reset();
    EXPECT_TRUE(waitFor([&] { return device->gone == device->made; }, 10));
}

TEST(SettingQueue, OneAtATimeTheNewestOfAKindWaitingAndAStuckOneToldOnce) {
    // o: offer(id, kind, at) gives whether it runs now and the id it replaced (0: none); a: answered(id, at) gives
    // the next under way (0: none); d: overdue(at) gives whether the one under way is left behind now and whether
    // to tell; c: clear gives how many waiting ones it gave up.
    struct Step {
        char what;
        int id;
        const char* kind;
        double at;
        int first;
        int second = 0;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        {"one at a time, in the order asked",
         {{'o', 1, "picture", 0, 1},
          {'o', 2, "mode", 0.1, 0},
          {'o', 3, "description", 0.2, 0},
          {'a', 1, "", 0.5, 2},
          {'a', 2, "", 0.6, 3},
          {'a', 3, "", 0.7, 0},
          {'o', 4, "picture", 1, 1}}},
        {"a newer setting of a kind takes the place of the one waiting; the one under way is kept",
         {{'o', 1, "picture", 0, 1},
          {'o', 2, "picture", 0.1, 0},
          {'o', 3, "mode", 0.2, 0},
          {'o', 4, "picture", 0.3, 0, 2},
          {'o', 5, "picture", 0.4, 0, 4},
          {'a', 1, "", 1, 3},
          {'a', 3, "", 1.1, 5},
          {'a', 5, "", 1.2, 0}}},
        {"a stuck one is left behind at its deadline and told once, until one answers in time",
         {{'o', 1, "picture", 0, 1},
          {'d', 0, "", 4.9, 0, 0},
          {'d', 0, "", 5, 1, 1},
          {'d', 0, "", 6, 0, 0},
          {'o', 2, "picture", 6, 0},
          {'o', 3, "picture", 7, 0, 2},
          {'a', 1, "", 9, 3},  // late: the one waiting goes now, its time counted from now
          {'d', 0, "", 13.9, 0, 0},
          {'d', 0, "", 14, 1, 0},
          {'a', 3, "", 15, 0},
          {'o', 4, "mode", 20, 1},
          {'a', 4, "", 21, 0},
          {'o', 5, "picture", 22, 1},
          {'d', 0, "", 27, 1, 1}}},
        {"a late answer of one given up with its source starts nothing",
         {{'o', 1, "picture", 0, 1},
          {'o', 2, "mode", 1, 0},
          {'o', 3, "picture", 2, 0},
          {'c', 0, "", 3, 2},
          {'a', 1, "", 8, 0},
          {'o', 4, "picture", 9, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SettingQueue queue(5.0);
        for (const auto& step : c.steps) {
            SCOPED_TRACE(std::string(1, step.what) + std::to_string(step.id) + " at " + std::to_string(step.at));
            switch (step.what) {
                case 'o': {
                    const auto offer = queue.offer(step.id, step.kind, step.at);
                    EXPECT_EQ(offer.runNow, step.first == 1);
                    EXPECT_EQ(offer.replaced.value_or(0), step.second);
                    break;
                }
                case 'a':
                    EXPECT_EQ(queue.answered(step.id, step.at).value_or(0), step.first);
                    break;
                case 'd': {
                    const auto overdue = queue.overdue(step.at);
                    EXPECT_EQ(overdue.leftBehind, step.first == 1);
                    EXPECT_EQ(overdue.tell, step.second == 1);
                    break;
                }
                default:
                    EXPECT_EQ(static_cast<int>(queue.clear().size()), step.first);
            }
        }
    }
}

TEST(SourceCallLimits, StopsWaitASecondOtherCallsFiveAndAFewStuckStopTheRestarts) {
    const SourceCallLimits limits;
    struct Row {
        SourceCall kind;
        double startedAt, deadline;
    } rows[] = {{SourceCall::stopping, 10, 11}, {SourceCall::opening, 10, 15}, {SourceCall::setting, 10, 15}};
    for (const auto& row : rows) EXPECT_EQ(limits.deadline(row.kind, row.startedAt), row.deadline);
    const std::pair<int, bool> restarts[] = {{0, true}, {2, true}, {3, false}, {40, false}};
    for (const auto& [stuck, may] : restarts) EXPECT_EQ(limits.mayRestart(stuck), may) << stuck << " stuck";
}

// A driver whose control requests time out while streaming goes on: a picture setting waits as long as `blockFor`
// says. Outlives the source, which an unmended streamer drops.
struct SlowControls {
    std::mutex lock;
    std::vector<double> zooms;
    std::atomic<double> blockFor{0};
    std::atomic<int> sounds{0};
    std::atomic<int> settingsDone{0};

    std::vector<double> zoomsAsked() {
        std::lock_guard guard(lock);
        return zooms;
    }
};

// Pictures and sound every 20 ms until stopped. Like a device's, its setting, stop and replacement wait for each
// other.
class SlowControlsSource final : public CaptureSource {
public:
    explicit SlowControlsSource(std::shared_ptr<SlowControls> device) : device_(std::move(device)) {}
    ~SlowControlsSource() override { stop(); }
    bool start(Callbacks callbacks) override {
        std::lock_guard guard(lock_);
        if (thread_.joinable()) return false;
        stopping_ = false;
        thread_ = std::thread([this, callbacks] {
            SyntheticSource::Settings s{.width = 64, .height = 36};
            for (int i = 0;; ++i) {
                callbacks.onVideo(VideoFrame{SyntheticSource::makePicture(s, i), hostTime()});
                callbacks.onAudio(AudioFrame{SyntheticSource::makeTone(s, 0, 960), hostTime()});
                ++device_->sounds;
                std::unique_lock guard(lock_);
                if (wake_.wait_for(guard, std::chrono::milliseconds(20), [this] { return stopping_; })) return;
            }
        });
        return true;
    }
    void stop() override {
        std::thread thread;
        {
            std::lock_guard driver(driver_);
            std::lock_guard guard(lock_);
            stopping_ = true;
            thread = std::move(thread_);
        }
        wake_.notify_all();
        if (thread.joinable()) thread.join();
    }
    PictureSettings applyPicture(const PictureSettings& wanted) override {
        std::lock_guard driver(driver_);
        {
            std::lock_guard guard(device_->lock);
            device_->zooms.push_back(wanted.zoom);
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(device_->blockFor.exchange(0)));
        ++device_->settingsDone;
        return wanted;
    }
    std::unique_ptr<CaptureSource> replacement() const override {
        std::lock_guard driver(driver_);
        return std::make_unique<SlowControlsSource>(device_);
    }

private:
    std::shared_ptr<SlowControls> device_;
    mutable std::mutex driver_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

TEST(SessionWatchdog, ASettingThatDoesNotAnswerLeavesOnlyItselfBehind) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    CameraStreamer::Collaborators c = watched(dir, main);
    // Settings (and the opening, which the same limit covers) are waited for 1 s: room for a busy machine's opening.
    c.limits.callSeconds = 1.0;
    c.limits.stopSeconds = 0.3;
    std::mutex lock;
    std::vector<double> previewedAt;  // when each picture was previewed
    auto streamer = CameraStreamer::make(c);
    streamer->stabilizedPreview = true;
    streamer->onPreviewFrame = [&](const SharedFrame&) {
        std::lock_guard guard(lock);
        previewedAt.push_back(hostTime());
    };
    std::atomic<int> sounds{0};
    streamer->audioSampleHandler = [&](const AudioFrame&) { ++sounds; };
    std::vector<std::string> told;
    streamer->onEvent = [&](const CameraEvent& e) { told.push_back(e.message.value_or("")); };
    auto device = std::make_shared<SlowControls>();
    ASSERT_TRUE(streamer->start(std::make_unique<SlowControlsSource>(device)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    // The first zoom waits 2 s in the driver; three more are asked for meanwhile, and one more once it is stuck.
    device->blockFor = 2.0;
    std::atomic<int> unanswered{0};
    const double startedAt = hostTime();
    for (double zoom : {2.0, 3.0, 4.0, 5.0, 6.0}) {
        streamer->configureSource(
            "picture",
            [zoom](CaptureSource& s) {
                PictureSettings p;
                p.zoom = zoom;
                s.applyPicture(p);
            },
            [&] { ++unanswered; });
        if (zoom == 5.0) std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    }
    EXPECT_TRUE(waitFor([&] { return device->zoomsAsked().size() >= 2; }, 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    streamer->stop();
    main->runPending();

    // The source was kept and delivered all along; only the newest of the waiting settings went after the stuck one.
    EXPECT_EQ(streamer->sourceRestarts(), 0);
    EXPECT_EQ(device->zoomsAsked(), (std::vector<double>{2, 6}));
    EXPECT_EQ(unanswered.load(), 4);  // the stuck one, and the three whose places were taken
    EXPECT_EQ(std::count(told.begin(), told.end(), "The camera does not take its settings"), 1);
    EXPECT_EQ(sounds.load(), device->sounds.load());
    {
        std::lock_guard guard(lock);
        ASSERT_FALSE(previewedAt.empty());
        double frozen = 0;
        for (std::size_t i = 1; i < previewedAt.size(); ++i) {
            if (previewedAt[i] > startedAt) frozen = std::max(frozen, previewedAt[i] - previewedAt[i - 1]);
        }
        EXPECT_LT(frozen, 0.3);
        EXPECT_GT(previewedAt.back(), startedAt + 2.1);  // past the stuck setting's return
    }

    // Stuck for longer, the source still stops at once, also while its setting is not yet left behind: nothing waits
    // for its device.
    ASSERT_TRUE(streamer->start(std::make_unique<SlowControlsSource>(device)));
    device->blockFor = 2.5;
    streamer->configureSource("picture", [](CaptureSource& s) { s.applyPicture({}); });
    ASSERT_TRUE(waitFor([&] { return device->zoomsAsked().size() == 3; }, 5));
    const double stopping = hostTime();
    streamer->stop();
    EXPECT_LT(hostTime() - stopping, 1.0);
    EXPECT_TRUE(waitFor([&] { return device->settingsDone == 3; }, 5));
}

TEST(SessionWatchdog, AFewStopsStuckInTheDeviceEndTheRestartsAndTellItOnce) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    CameraStreamer::Collaborators c = watched(dir, main);
    c.limits.stopSeconds = 0.2;
    c.limits.maxLeftBehind = 2;
    auto streamer = CameraStreamer::make(c);
    std::vector<std::string> told;
    streamer->onEvent = [&](const CameraEvent& e) { told.push_back(e.message.value_or("")); };
    auto device = std::make_shared<StuckDevice>();
    ASSERT_TRUE(streamer->start(std::make_unique<StuckSource>(device)));

    // Each restart leaves a stop behind, stuck with its reader; after two, the capture is not started again.
    EXPECT_TRUE(waitFor([&] { return device->starts >= 3; }, 10));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    main->runPending();
    EXPECT_EQ(device->starts.load(), 3);
    EXPECT_EQ(told, (std::vector<std::string>{"The camera stopped"}));

    device->release();
    streamer->stop();
    streamer.reset();
    EXPECT_TRUE(waitFor([&] { return device->gone == device->made; }, 10));
}

}  // namespace
}  // namespace morvane
