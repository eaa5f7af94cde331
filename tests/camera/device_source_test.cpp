// A take from a V4L2 camera and a microphone read as the camera program reads them: the fake camera in front of the
// C library (the test runs with it preloaded) and a sound server of the test's own, whose null sink plays a click
// every 100 ms into its monitor, the microphone. Whatever the camera does, the microphone's sound is the take's.

#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "camera/camera_controller.h"
#include "camera/camera_streamer.h"
#include "platform/device_source.h"
#include "platform/keychain.h"
#include "platform/manual_executor.h"
#include "scoped_env.h"
#include "temp_dir.h"
#include "test_files.h"

#include <fcntl.h>
#include <unistd.h>

namespace morvane {
namespace {

constexpr double kClickEvery = 0.1;
constexpr int kRate = 48000;

// A folder of the test's own where the fake camera stands, delivering pictures for as long as the test runs.
struct FakeCameraFolder {
    test::TempDir dir;
    std::filesystem::path device = dir / "video0";
    test::ScopedEnv fake{"MORVANE_FAKE_V4L2", device.string()};
    test::ScopedEnv frames{"MORVANE_FAKE_V4L2_FRAMES", "1000000"};
};

// Where each click begins, in seconds from the start.
std::vector<double> clicksIn(const std::vector<float>& samples) {
    std::vector<double> clicks;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double at = static_cast<double>(i) / kRate;
        if (std::fabs(samples[i]) > 0.3f && (clicks.empty() || at - clicks.back() > kClickEvery / 2))
            clicks.push_back(at);
    }
    return clicks;
}

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// A streamer that records takes into `dir`, each finished one added to `takes`.
std::shared_ptr<CameraStreamer> recordingStreamer(const std::filesystem::path& dir,
                                                  const std::shared_ptr<ManualExecutor>& main,
                                                  std::vector<CameraStreamer::Take>& takes) {
    CameraStreamer::Collaborators collaborators;
    collaborators.encoder = std::make_shared<H264Encoder>();
    collaborators.store = std::make_shared<CaptureStore>(dir / "gallery");
    collaborators.outbox = std::make_shared<Outbox>(dir / "outbox", main);
    collaborators.recordingFolder = dir / "Recording";
    collaborators.cutLog = std::make_shared<CutLog>();
    collaborators.main = main;
    collaborators.defaults = std::make_shared<Defaults>(dir / "defaults.json");
    collaborators.photoLibrary = std::make_shared<PhotoLibrary>(dir / "Pictures");
    collaborators.hevcWritable = [] { return false; };
    collaborators.proResWritable = [] { return std::vector<VideoCodec>{}; };
    collaborators.stallSeconds = 1;
    collaborators.watchdogInterval = 0.2;
    auto streamer = CameraStreamer::make(collaborators);
    streamer->onTakeFinished = [&takes](const CameraStreamer::Take& take) { takes.push_back(take); };
    return streamer;
}

// Starts a take once `blocks` of the source's sound came, within `seconds`; `*began`: when the streamer was seen
// recording (a busy machine may keep the test from looking at the clock for a while after).
void startTake(CameraStreamer& streamer, int blocks, double seconds, double* began = nullptr) {
    std::atomic<int> sound{0};
    streamer.dataQueue().sync([&] { streamer.audioSampleHandler = [&](const AudioFrame&) { ++sound; }; });
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (sound < blocks && std::chrono::steady_clock::now() < end) sleepFor(0.01);
    streamer.dataQueue().sync([&] { streamer.audioSampleHandler = nullptr; });
    ASSERT_GE(sound.load(), blocks);
    bool recording = false;
    streamer.dataQueue().sync([&] { streamer.recordingRequested = true; });
    while (!recording && std::chrono::steady_clock::now() < end) {
        sleepFor(0.01);
        streamer.dataQueue().sync([&] {
            recording = streamer.isRecording();
            if (began) *began = hostTime();
        });
    }
    ASSERT_TRUE(recording);
}

// Stops the take; gives when it stopped, as the streamer saw it (a busy machine may keep the test from looking at the
// clock for a while after).
double stopTake(CameraStreamer& streamer) {
    double stopped = 0;
    streamer.dataQueue().sync([&] {
        stopped = hostTime();
        streamer.stopRecording();
    });
    return stopped;
}

struct CameraAway {
    const char* what;
    const char* mark;  ///< the fake camera's file that makes it so; none: the picture size changes instead
    double away;       ///< for so long; 0: for good
};

TEST(DeviceSource, TheMicrophoneGoesOnWhileTheCameraStallsOrIsUnplugged) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "needs a sound server of its own (with_pulseaudio.sh)";
    const CameraAway cases[] = {
        {"the camera stalls for 3 s", ".stalled", 3},
        {"the camera is unplugged", ".gone", 0},
        {"the picture size changes", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeCameraFolder fakeCamera;
        auto& dir = fakeCamera.dir;
        const auto& device = fakeCamera.device;

        // A click every 100 ms, played into the null sink for longer than the take.
        const std::filesystem::path clicks = dir / "clicks.f32";
        {
            std::vector<float> samples(static_cast<std::size_t>(30 * kRate), 0.0f);
            for (std::size_t i = 0; i < samples.size(); ++i)
                if (i % static_cast<std::size_t>(kClickEvery * kRate) < 48) samples[i] = 0.9f;
            std::ofstream(clicks, std::ios::binary)
                .write(reinterpret_cast<const char*>(samples.data()),
                       static_cast<std::streamsize>(samples.size() * sizeof(float)));
        }
        QProcess player;
        player.setStandardInputFile(QString::fromStdString(clicks.string()));
        player.start("pacat", {"--playback", "--raw", "--device=deck_test_sink", "--rate=48000", "--channels=1",
                               "--format=float32le"});
        ASSERT_TRUE(player.waitForStarted(5000));

        auto main = std::make_shared<ManualExecutor>();
        std::vector<CameraStreamer::Take> takes;
        auto streamer = recordingStreamer(dir.path(), main, takes);
        ASSERT_TRUE(streamer->start(std::make_unique<DeviceSource>(
            DeviceSource::Settings{device.string(), 320, 240, 30, "", "pulse:deck_test_sink.monitor"})));
        double began = 0;
        startTake(*streamer, 10, 10, &began);
        if (HasFatalFailure()) return;
        sleepFor(1.5);
        const std::filesystem::path mark = device.string() + (c.mark ? c.mark : "");
        if (c.mark) {
            std::ofstream(mark).put('\n');
        } else {
            streamer->configureSource("mode", [](CaptureSource& source) { source.setMode({640, 480, 30, 1}); });
        }
        sleepFor(c.away ? c.away : 2.5);
        if (c.away) std::filesystem::remove(mark);
        sleepFor(1.5);
        const double length = stopTake(*streamer) - began;
        streamer->stop();
        streamer->waitForTakes();
        main->runPending();
        player.kill();
        player.waitForFinished(5000);

        ASSERT_EQ(takes.size(), 1u);
        ASSERT_TRUE(takes[0].entry.photoAssetID);
        const double duration = takes[0].entry.info.duration.value_or(0);
        EXPECT_NEAR(duration, length, 0.5);  // the take lasts until it was stopped
        // Every click of the take is in the movie, each a whole number of 100 ms after the first, within a frame.
        const auto heard =
            clicksIn(test::decodedSound(dir / "Pictures" / "Brindlecroft" / *takes[0].entry.photoAssetID));
        ASSERT_FALSE(heard.empty());
        EXPECT_LT(heard.front(), kClickEvery + 1.0 / 30);
        EXPECT_GT(heard.back(), duration - 2 * kClickEvery);
        std::size_t inPlace = 1;
        while (inPlace < heard.size() &&
               std::fabs(heard[inPlace] - heard[0] - static_cast<double>(inPlace) * kClickEvery) <= 1.0 / 30)
            ++inPlace;
        EXPECT_EQ(inPlace, heard.size()) << "click " << inPlace << " at "
                                         << (inPlace < heard.size() ? heard[inPlace] : 0) << " s";
    }
}

// The microphone is asked for blocks of a few milliseconds, so that a loss moves little sound; they are handed on
// one after the other, in runs of no more than 20 ms.
TEST(DeviceSource, TheMicrophoneIsReadInSmallBlocks) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "needs a sound server of its own (with_pulseaudio.sh)";
    FakeCameraFolder fakeCamera;
    DeviceSource source(
        DeviceSource::Settings{fakeCamera.device.string(), 320, 240, 30, "", "pulse:deck_test_sink.monitor"});
    std::mutex lock;
    std::vector<std::pair<double, double>> blocks;  // start, seconds
    CaptureSource::Callbacks callbacks;
    callbacks.onAudio = [&](const AudioFrame& audio) {
        std::lock_guard guard(lock);
        blocks.emplace_back(audio.time, double(audio.samples->nb_samples) / audio.samples->sample_rate);
    };
    ASSERT_TRUE(source.start(callbacks));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto seconds = [&] {
        std::lock_guard guard(lock);
        double sum = 0;
        for (const auto& block : blocks) sum += block.second;
        return sum;
    };
    while (seconds() < 2 && std::chrono::steady_clock::now() < end) sleepFor(0.01);
    source.stop();
    ASSERT_GE(seconds(), 2);
    double longest = 0;
    for (const auto& block : blocks) longest = std::max(longest, block.second);
    EXPECT_LE(longest, 0.0205);
}

// A sound source with a second or two of delay (a sine source of the sound server's, which hands over two seconds
// at a time, as a network microphone might) gives a take its sound, all along.
TEST(DeviceSource, ASourceWithALongDelayGivesTheTakeItsSound) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "needs a sound server of its own (with_pulseaudio.sh)";
    const std::string module =
        test::commandOutput("pactl load-module module-sine-source source_name=deck_test_sine rate=48000 frequency=440");
    ASSERT_FALSE(module.empty());
    FakeCameraFolder fakeCamera;
    auto& dir = fakeCamera.dir;
    const auto& device = fakeCamera.device;
    auto main = std::make_shared<ManualExecutor>();
    std::vector<CameraStreamer::Take> takes;
    auto streamer = recordingStreamer(dir.path(), main, takes);
    ASSERT_TRUE(streamer->start(std::make_unique<DeviceSource>(
        DeviceSource::Settings{device.string(), 320, 240, 30, "", "pulse:deck_test_sine"})));
    double began = 0;
    startTake(*streamer, 1, 20, &began);
    sleepFor(10);
    const double length = stopTake(*streamer) - began;
    streamer->waitForTakes();
    streamer->stop();
    main->runPending();
    test::commandOutput("pactl unload-module " + module);

    ASSERT_EQ(takes.size(), 1u);
    ASSERT_TRUE(takes[0].entry.photoAssetID);
    const double duration = takes[0].entry.info.duration.value_or(0);
    EXPECT_NEAR(duration, length, 0.5);
    // The tone from start to end, every 100 ms of it (but the last, which the source may not have filled).
    const auto heard = test::decodedSound(dir / "Pictures" / "Brindlecroft" / *takes[0].entry.photoAssetID);
    ASSERT_GE(heard.size(), static_cast<std::size_t>((duration - 0.1) * kRate));
    int silent = 0;
    for (std::size_t from = 0; from + kRate / 5 <= heard.size(); from += kRate / 10) {
        double sum = 0;
        for (std::size_t i = from; i < from + kRate / 10; ++i) sum += double(heard[i]) * heard[i];
        if (std::sqrt(sum / (kRate / 10)) < 0.01) ++silent;
    }
    EXPECT_EQ(silent, 0);
}

// A microphone of the sound server's: a pipe source whose feeder writes what is due every 2 ms, by its clock, clicks
// every 100 ms over a quiet tone; the sound of a loss (at `lostAt`, `lost` long) is never written. What the source
// does not read is let go.
struct PipeMicrophone {
    PipeMicrophone(const std::filesystem::path& pipe, const std::string& name, std::vector<double> lostAt = {},
                   double lost = 0)
        : module(test::commandOutput("pactl load-module module-pipe-source source_name=" + name +
                                     " file=" + pipe.string() + " format=float32le rate=48000 channels=1")),
          fd(module.empty() ? -1 : ::open(pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {
        if (fd < 0) return;
        for (const double at : lostAt) aimed_.push_back({at, lost, true});
        feeder = std::thread([this, lostAt = std::move(lostAt), lost] {
            std::int64_t written = 0;
            std::vector<float> samples;
            while (feeding) {
                const auto due = static_cast<std::int64_t>((hostTime() - fed) * kRate);
                samples.clear();
                test::appendClickedTone(samples, written, due, kRate, kClickEvery, lostAt, lost);
                written = std::max(written, due);
                const ssize_t put = samples.empty() ? 0 : ::write(fd, samples.data(), samples.size() * sizeof(float));
                if (put < 0 && errno != EAGAIN) break;
                if (const auto refused =
                        samples.size() - static_cast<std::size_t>(std::max<ssize_t>(put, 0)) / sizeof(float)) {
                    std::lock_guard lock(refusedLock);
                    refused_.push_back({static_cast<double>(due - static_cast<std::int64_t>(refused)) / kRate,
                                        static_cast<double>(refused) / kRate, false});
                }
                sleepFor(0.002);
            }
        });
    }
    ~PipeMicrophone() { unload(); }
    struct Loss {
        double at;       ///< seconds from the feeder's start
        double seconds;  ///< how long
        bool aimed;      ///< lost on purpose, not refused by a full pipe
    };
    /// The stretches lost, in order, those next to one another joined.
    std::vector<Loss> losses() {
        std::vector<Loss> all = aimed_;
        {
            std::lock_guard lock(refusedLock);
            all.insert(all.end(), refused_.begin(), refused_.end());
        }
        std::sort(all.begin(), all.end(), [](const Loss& a, const Loss& b) { return a.at < b.at; });
        std::vector<Loss> joined;
        for (const Loss& loss : all) {
            if (!joined.empty() && loss.at <= joined.back().at + joined.back().seconds + 0.001) {
                joined.back().seconds = std::max(joined.back().seconds, loss.at + loss.seconds - joined.back().at);
                joined.back().aimed = joined.back().aimed || loss.aimed;
            } else {
                joined.push_back(loss);
            }
        }
        return joined;
    }
    bool loaded() const { return fd >= 0; }
    /// The source is removed from the server (a microphone unplugged).
    void unload() {
        feeding = false;
        if (feeder.joinable()) feeder.join();
        if (fd >= 0) ::close(fd);
        fd = -1;
        if (!module.empty()) test::commandOutput("pactl unload-module " + module);
        module.clear();
    }

    std::string module;
    int fd = -1;
    const double fed = hostTime();
    std::atomic<bool> feeding{true};
    std::thread feeder;
    std::vector<Loss> aimed_;
    std::mutex refusedLock;
    std::vector<Loss> refused_;  ///< what a full pipe refused
};

struct SoundLost {
    const char* what;
    std::vector<double> at;  ///< the feeder skips sound at these seconds from its start
    double lost = 0.04;      ///< this much each time
};

// A microphone that loses sound now and then (an overrun under load): a sound server's pipe source whose feeder
// skips some now and then, written in real time, clicks every 100 ms over a quiet tone. Every click of the take lies
// a whole number of 100 ms from the first, within half a frame at 59.94 fps, and each loss is silence where it
// happened (within the block the input handed over with it).
TEST(DeviceSource, ALossIsSilenceWhereItHappened) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "needs a sound server of its own (with_pulseaudio.sh)";
    const SoundLost cases[] = {
        {"40 ms lost once", {3.095}},
        {"40 ms lost twice, 0.35 s apart", {3.095, 3.445}},
        {"200 ms lost twice, 0.35 s apart", {3.095, 3.445}, 0.2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeCameraFolder fakeCamera;
        auto& dir = fakeCamera.dir;
        const auto& device = fakeCamera.device;
        PipeMicrophone microphone(dir / "microphone", "deck_test_pipe", c.at, c.lost);
        ASSERT_TRUE(microphone.loaded());
        const double fed = microphone.fed;
        auto main = std::make_shared<ManualExecutor>();
        std::vector<CameraStreamer::Take> takes;
        auto streamer = recordingStreamer(dir.path(), main, takes);
        const bool running = streamer->start(std::make_unique<DeviceSource>(
            DeviceSource::Settings{device.string(), 320, 240, 30, "", "pulse:deck_test_pipe"}));
        if (running) startTake(*streamer, 10, 10);
        const bool started = running && !HasFatalFailure();
        const double began = hostTime() - fed;
        // Sound past the last loss for longer than the input takes to settle its times.
        while (started && hostTime() - fed < c.at.back() + 3) sleepFor(0.01);
        streamer->dataQueue().sync([&] { streamer->stopRecording(); });
        const double stopped = hostTime() - fed;
        streamer->stop();
        streamer->waitForTakes();
        main->runPending();
        microphone.unload();
        ASSERT_TRUE(started);

        ASSERT_EQ(takes.size(), 1u);
        ASSERT_TRUE(takes[0].entry.photoAssetID);
        const auto heard = test::decodedSound(dir / "Pictures" / "Brindlecroft" / *takes[0].entry.photoAssetID);
        const auto clicks = clicksIn(heard);
        ASSERT_GT(clicks.size(), 20u);
        std::vector<double> astray;
        for (const double click : clicks)
            if (std::fabs(std::remainder(click - clicks.front(), kClickEvery)) >= 0.5 / 59.94) astray.push_back(click);
        EXPECT_TRUE(astray.empty()) << astray.size() << " clicks astray, the first at " << astray.front() << " s";
        // The silences after the first click, on the grid of the clicks: each lost stretch, no other.
        std::vector<std::pair<double, double>> silences;  // start, seconds
        std::size_t quiet = 0;
        for (auto i = static_cast<std::size_t>(clicks.front() * kRate); i < heard.size(); ++i) {
            if (std::fabs(heard[i]) < 0.01f) {
                ++quiet;
                continue;
            }
            if (quiet > static_cast<std::size_t>(0.02 * kRate))
                silences.emplace_back(static_cast<double>(i - quiet) / kRate, static_cast<double>(quiet) / kRate);
            quiet = 0;
        }
        // Each lost stretch in order, the ones the feeder lost on purpose and any a full pipe refused (a sound
        // server starved for longer than the pipe holds): a silence of its length, where it happened on the grid of
        // the clicks, or up to a block before (the block the input handed over with it lies after it). A refused
        // stretch too short to be told from the tone's own quiet may leave none.
        // What was refused before the take began (the take holds up to 3 s of sound before it) or once it stopped
        // may lie outside it.
        const auto lost = microphone.losses();
        auto required = [&](const PipeMicrophone::Loss& loss) {
            return loss.aimed || (loss.seconds >= 0.025 && loss.at >= began && loss.at + loss.seconds < stopped - 0.1);
        };
        std::string found;
        for (const auto& [at, seconds] : silences)
            found += " " + std::to_string(at) + " s for " + std::to_string(seconds);
        std::size_t k = 0;
        for (const auto& [at, seconds] : silences) {
            while (k < lost.size() && !required(lost[k]) && std::abs(seconds - lost[k].seconds) > 0.004) ++k;
            ASSERT_LT(k, lost.size()) << "a silence at " << at << " s for " << seconds << " that no loss explains;"
                                      << " silences at" << found;
            const double early = std::remainder(at - clicks.front() - lost[k].at, kClickEvery);
            EXPECT_LT(early, 0.5 / 59.94) << "silence at " << at << " s, for the loss at " << lost[k].at << " s";
            EXPECT_NEAR(seconds, lost[k].seconds, 0.004) << "silence at " << at << " s;"
                                                         << " silences at" << found;
            ++k;
        }
        for (; k < lost.size(); ++k)
            EXPECT_FALSE(required(lost[k]))
                << "no silence for the loss at " << lost[k].at << " s; silences at" << found;
    }
}

// A microphone unplugged mid-take (its source removed from the sound server): the camera films on without sound and
// tells the crew, every take meanwhile is told to lack sound, and once the microphone is back the takes hold its
// sound again.
TEST(DeviceSource, AMicrophoneUnpluggedIsToldUntilItIsBack) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "needs a sound server of its own (with_pulseaudio.sh)";
    FakeCameraFolder fakeCamera;
    auto& dir = fakeCamera.dir;
    auto microphone = std::make_unique<PipeMicrophone>(dir / "microphone", "deck_test_unplugged");
    ASSERT_TRUE(microphone->loaded());
    auto main = std::make_shared<ManualExecutor>();
    std::vector<CameraStreamer::Take> takes;
    auto streamer = recordingStreamer(dir.path(), main, takes);
    std::vector<CameraEvent> events;
    streamer->onEvent = [&events](const CameraEvent& event) { events.push_back(event); };
    auto told = [&](auto&& what) {
        main->runPending();
        return std::find_if(events.begin(), events.end(), what) != events.end();
    };
    auto microphoneTold = [&](bool over) {
        return told(
            [over](const CameraEvent& e) { return e.subject == "microphone" && e.over.value_or(false) == over; });
    };
    auto within = [&](double seconds, auto&& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done() && std::chrono::steady_clock::now() < end) sleepFor(0.02);
        return done();
    };
    auto take = [&](int blocks, double seconds, const std::function<void()>& meanwhile = {}) {
        startTake(*streamer, blocks, 10);
        sleepFor(seconds / 2);
        if (meanwhile) meanwhile();
        sleepFor(seconds / 2);
        streamer->dataQueue().sync([&] { streamer->stopRecording(); });
        const std::size_t before = takes.size();
        // Stored at all: how soon after its stop is for the recorder's own tests (a starved recorder was seen past 20
        // s).
        return within(60, [&] {
            main->runPending();
            return takes.size() > before;
        });
    };
    ASSERT_TRUE(streamer->start(std::make_unique<DeviceSource>(
        DeviceSource::Settings{fakeCamera.device.string(), 320, 240, 30, "", "pulse:deck_test_unplugged"})));
    // Unplugged halfway through the first take; the second is all without it.
    ASSERT_TRUE(take(10, 2, [&] { microphone->unload(); }));
    EXPECT_TRUE(within(5, [&] { return microphoneTold(false); }));
    ASSERT_TRUE(take(0, 1.5));
    // Plugged in again.
    microphone = std::make_unique<PipeMicrophone>(dir / "microphone", "deck_test_unplugged");
    ASSERT_TRUE(microphone->loaded());
    EXPECT_TRUE(within(10, [&] { return microphoneTold(true); }));
    ASSERT_TRUE(take(10, 1.5));
    streamer->stop();
    streamer->waitForTakes();
    main->runPending();

    ASSERT_EQ(takes.size(), 3u);
    const auto silent = [&](const CameraStreamer::Take& t) {
        return told([&](const CameraEvent& e) {
            return e.soundMissing.value_or(false) && e.subject == "take:" + t.entry.info.fileName;
        });
    };
    const auto failed = std::find_if(events.begin(), events.end(), [](const CameraEvent& e) {
        return e.subject == "microphone" && e.kind == CameraEvent::Kind::failed;
    });
    ASSERT_NE(failed, events.end());
    EXPECT_NE(failed->message.value_or("").find("pulse:deck_test_unplugged"), std::string::npos) << *failed->message;
    EXPECT_TRUE(silent(takes[0]));  // its sound ends early
    EXPECT_TRUE(silent(takes[1]));
    EXPECT_FALSE(silent(takes[2]));
    ASSERT_TRUE(takes[2].entry.photoAssetID);
    const auto heard = test::decodedSound(dir / "Pictures" / "Brindlecroft" / *takes[2].entry.photoAssetID);
    EXPECT_GT(clicksIn(heard).size(), 10u);
}

// A microphone that never gives anything (a pipe source nobody feeds): the camera films all the same, without sound,
// and tells the crew which microphone gave nothing.
TEST(DeviceSource, AMicrophoneThatGivesNothingLeavesTheCameraFilming) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "needs a sound server of its own (with_pulseaudio.sh)";
    FakeCameraFolder fakeCamera;
    auto& dir = fakeCamera.dir;
    const auto& device = fakeCamera.device;
    const std::string module = test::commandOutput(
        "pactl load-module module-pipe-source source_name=deck_test_mute file=" + (dir / "mute").string());
    ASSERT_FALSE(module.empty());
    auto main = std::make_shared<ManualExecutor>();
    CameraController::Options options;
    options.folder = dir / "camera";
    options.main = main;
    options.keychain = std::make_shared<Keychain>(dir / "keychain");
    options.session.interfaces = {"127.0.0.1"};
    auto camera = CameraController::make(options);
    const bool started = camera->start(std::make_unique<DeviceSource>(
        DeviceSource::Settings{device.string(), 320, 240, 30, "", "pulse:deck_test_mute"}));
    std::vector<CameraEvent> events;
    std::atomic<int> pictures{0};
    if (started) {
        auto& streamer = camera->streamer();
        streamer.onEvent = [&events, told = streamer.onEvent](const CameraEvent& event) {
            events.push_back(event);
            if (told) told(event);
        };
        streamer.dataQueue().sync([&] {
            streamer.onHistogram = [&pictures, told = streamer.onHistogram](const auto& histogram) {
                ++pictures;
                if (told) told(histogram);
            };
        });
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        auto microphoneTold = [&] {
            return std::any_of(events.begin(), events.end(), [](const CameraEvent& e) {
                return e.kind == CameraEvent::Kind::failed && e.subject == "microphone";
            });
        };
        // Other notices may come first (a busy machine's camera falls behind): the microphone's is waited for.
        while ((pictures < 3 || !microphoneTold()) && std::chrono::steady_clock::now() < end) {
            main->runPending();
            sleepFor(0.01);
        }
    }
    camera->stop();
    main->runPending();
    test::commandOutput("pactl unload-module " + module);

    ASSERT_TRUE(started);
    EXPECT_GE(pictures.load(), 3);
    const auto told = std::find_if(events.begin(), events.end(), [](const CameraEvent& e) {
        return e.kind == CameraEvent::Kind::failed && e.subject == "microphone";
    });
    ASSERT_NE(told, events.end());
    EXPECT_NE(told->message.value_or("").find("pulse:deck_test_mute"), std::string::npos) << *told->message;
}

}  // namespace
}  // namespace morvane
