// A take from a V4L2 camera and a microphone read as the camera program reads them: the fake camera in front of the
// C library (the test runs with it preloaded) and a sound server of the test's own, whose null sink plays a click
// every 100 ms into its monitor, the microphone. Whatever the camera does, the microphone's sound is the take's.

#include <gtest/gtest.h>

#include <QProcess>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

#include "camera/camera_streamer.h"
#include "platform/device_source.h"
#include "platform/manual_executor.h"
#include "scoped_env.h"
#include "temp_dir.h"
#include "test_files.h"

namespace morvane {
namespace {

constexpr double kClickEvery = 0.1;
constexpr int kRate = 48000;

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
        test::TempDir dir;
        const std::filesystem::path device = dir / "video0";
        test::ScopedEnv fake("MORVANE_FAKE_V4L2", device.string());
        test::ScopedEnv frames("MORVANE_FAKE_V4L2_FRAMES", "1000000");

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
        std::vector<CameraStreamer::Take> takes;
        streamer->onTakeFinished = [&](const CameraStreamer::Take& take) { takes.push_back(take); };
        std::atomic<int> sound{0};
        streamer->audioSampleHandler = [&](const AudioFrame&) { ++sound; };
        ASSERT_TRUE(streamer->start(std::make_unique<DeviceSource>(
            DeviceSource::Settings{device.string(), 320, 240, 30, "", "pulse:deck_test_sink.monitor"})));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (sound < 10 && std::chrono::steady_clock::now() < end) sleepFor(0.01);
        ASSERT_GE(sound.load(), 10);

        bool recording = false;
        streamer->dataQueue().sync([&] { streamer->recordingRequested = true; });
        while (!recording && std::chrono::steady_clock::now() < end) {
            sleepFor(0.01);
            streamer->dataQueue().sync([&] { recording = streamer->isRecording(); });
        }
        ASSERT_TRUE(recording);
        const double began = hostTime();
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
        streamer->dataQueue().sync([&] { streamer->stopRecording(); });
        const double length = hostTime() - began;
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

}  // namespace
}  // namespace morvane
