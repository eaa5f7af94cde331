// The capture source as the camera drives it: a format the device cannot start in is refused and the remote told;
// after the watchdog starts a stalled device again, it gets the picture settings the remote asked for.

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "camera/camera_controller.h"
#include "platform/keychain.h"
#include "platform/manual_executor.h"
#include "platform/synthetic_source.h"
#include "temp_dir.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;

// A camera whose driver cannot start in 4K, holds no manual white balance, and can be made to stall until it is
// started again.
class FakeCamera final : public CaptureSource {
public:
    ~FakeCamera() override { stop(); }
    bool start(Callbacks callbacks) override {
        std::lock_guard guard(lock_);
        if (thread_.joinable() || mode_.width == 3840) return false;
        ++starts_;
        stopping_ = stalled_ = false;
        callbacks_ = callbacks;
        thread_ = std::thread([this, callbacks] {
            for (int i = 0;; ++i) {
                {
                    std::unique_lock guard(lock_);
                    if (wake_.wait_for(guard, 30ms, [this] { return stopping_; })) return;
                    if (stalled_) continue;
                }
                callbacks.onVideo(VideoFrame{SyntheticSource::makePicture({.width = 64, .height = 36}, i), hostTime()});
            }
        });
        return true;
    }
    void stop() override {
        std::thread thread;
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
            thread = std::move(thread_);
        }
        wake_.notify_all();
        if (thread.joinable()) thread.join();
    }
    std::vector<SourceMode> modes() const override {
        return {{1280, 720, 30, 1}, {1920, 1080, 30, 1}, {3840, 2160, 30, 1}};
    }
    std::optional<SourceMode> mode() const override {
        std::lock_guard guard(lock_);
        return mode_;
    }
    bool setMode(const SourceMode& wanted) override {
        const auto chosen = closestMode(modes(), wanted.width, wanted.height, wanted.fps());
        std::unique_lock guard(lock_);
        wake_.wait(guard, [this] { return !modesHeld_; });
        const bool running = thread_.joinable();
        const SourceMode previous = mode_;
        const Callbacks callbacks = callbacks_;
        guard.unlock();
        return restartIn(*chosen, previous, running, callbacks, [this](const SourceMode& mode) {
            std::lock_guard guard(lock_);
            mode_ = mode;
        });
    }
    std::optional<std::string> silentMicrophone() const override {
        std::lock_guard guard(lock_);
        return silentMicrophone_;
    }
    SourceCapabilities capabilities() const override {
        return {.manualWhiteBalance = true, .manualFocus = true, .maxZoom = 4};
    }
    PictureSettings applyPicture(const PictureSettings& wanted) override {
        std::lock_guard guard(lock_);
        asked_.push_back(wanted);
        PictureSettings held = wanted;
        held.kelvin.reset();
        held.tint = 0;
        return held;
    }

    // Mode changes wait in the driver until `holdModes(false)`.
    void holdModes(bool held) {
        {
            std::lock_guard guard(lock_);
            modesHeld_ = held;
        }
        wake_.notify_all();
    }
    // From its next start, the microphone named gives nothing (none: it gives sound).
    void silenceMicrophone(std::optional<std::string> microphone) {
        std::lock_guard guard(lock_);
        silentMicrophone_ = std::move(microphone);
    }
    void stall() {
        std::lock_guard guard(lock_);
        stalled_ = true;
    }
    bool running() const {
        std::lock_guard guard(lock_);
        return thread_.joinable() && !stopping_;
    }
    int starts() const {
        std::lock_guard guard(lock_);
        return starts_;
    }
    std::vector<PictureSettings> asked() const {
        std::lock_guard guard(lock_);
        return asked_;
    }

private:
    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false, stalled_ = false, modesHeld_ = false;
    std::thread thread_;
    Callbacks callbacks_;
    SourceMode mode_{1920, 1080, 30, 1};
    int starts_ = 0;
    std::vector<PictureSettings> asked_;
    std::optional<std::string> silentMicrophone_;
};

class ControllerSource : public ::testing::Test {
protected:
    void SetUp() override {
        CameraController::Options options;
        options.folder = dir / "camera";
        options.main = main;
        options.keychain = std::make_shared<Keychain>(dir / "keychain");
        options.session.interfaces = {"127.0.0.1"};
        camera = CameraController::make(options);
        auto owned = std::make_unique<FakeCamera>();
        source = owned.get();
        ASSERT_TRUE(camera->start(std::move(owned)));
        settle();
    }
    void TearDown() override { camera->stop(); }

    void send(CameraCommand command) { camera->handleCommand(command, std::nullopt); }
    // Lets the session queue answer and the main queue take the answers in.
    void settle() {
        camera->streamer().sessionQueue().sync([] {});
        main->runPending();
    }
    bool eventually(const std::function<bool()>& done, double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            settle();
            if (done()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    test::TempDir dir;
    std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
    std::shared_ptr<CameraController> camera;
    FakeCamera* source = nullptr;
};

TEST_F(ControllerSource, AFormatTheDeviceCannotStartInIsRefusedAndThePreviousOneKept) {
    ASSERT_EQ(camera->status().resolution, (Resolution{1920, 1080}));
    const std::int64_t rate = camera->status().frameRate;
    send(CameraCommand::SetFormat{Resolution{3840, 2160}, 24});
    settle();
    EXPECT_EQ(camera->message(), std::optional<std::string>("The camera can't film in that format"));
    EXPECT_EQ(camera->status().resolution, (Resolution{1920, 1080}));
    EXPECT_EQ(camera->status().frameRate, rate);
    EXPECT_EQ(camera->streamer().recordingRate().first, rate);
    EXPECT_EQ(source->mode(), (SourceMode{1920, 1080, 30, 1}));
    EXPECT_TRUE(source->running());

    // A format it can start in is taken as before.
    send(CameraCommand::SetFormat{Resolution{1280, 720}, 25});
    settle();
    EXPECT_EQ(camera->status().resolution, (Resolution{1280, 720}));
    EXPECT_EQ(camera->status().frameRate, 25);
    EXPECT_EQ(source->mode(), (SourceMode{1280, 720, 30, 1}));
    EXPECT_TRUE(source->running());
}

TEST_F(ControllerSource, TheStatusShowsWhatTheDeviceHoldsAndARestartAppliesTheSettingsAgain) {
    send(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{3200, 0}});
    send(CameraCommand::SetZoom{2, false});
    settle();
    EXPECT_TRUE(camera->status().whiteBalance.is<WhiteBalance::Auto>());  // refused by the device
    EXPECT_EQ(camera->status().zoom, 2);
    const std::size_t applied = source->asked().size();

    // A stalled device is started again by the watchdog (after its three seconds) and given the settings again.
    source->stall();
    ASSERT_TRUE(eventually([&] { return source->starts() >= 2 && source->asked().size() > applied; }, 20));
    const PictureSettings again = source->asked().back();
    EXPECT_EQ(again.kelvin, 3200);
    EXPECT_EQ(again.zoom, 2);
    EXPECT_EQ(camera->status().zoom, 2);
    EXPECT_TRUE(camera->status().whiteBalance.is<WhiteBalance::Auto>());
}

// A microphone that gives nothing as the device starts is told as a notice that stands; once it gives sound at a
// later start, the camera says that is over, so that no remote goes on showing it.
TEST_F(ControllerSource, AMicrophoneThatGivesSoundAgainEndsItsNotice) {
    std::vector<CameraEvent> told;
    camera->streamer().onEvent = [&told, hook = camera->streamer().onEvent](const CameraEvent& event) {
        told.push_back(event);
        hook(event);
    };
    const auto about = [&](bool over) {
        return std::any_of(told.begin(), told.end(), [&](const CameraEvent& e) {
            return e.subject == microphoneSubject && e.over.value_or(false) == over;
        });
    };
    for (const bool silent : {true, false}) {
        told.clear();
        source->silenceMicrophone(silent ? std::optional<std::string>("pulse:x") : std::nullopt);
        const int starts = source->starts();
        source->stall();  // the watchdog starts it again
        ASSERT_TRUE(eventually([&] { return source->starts() > starts && (about(false) || about(true)); }, 20));
        EXPECT_EQ(about(false), silent) << silent;
        EXPECT_EQ(about(true), !silent) << silent;
    }
}

TEST_F(ControllerSource, OnlyTheLastFormatAskedForTellsTheStatus) {
    // The first change waits in the driver until it is left behind; meanwhile a second is asked for and replaced
    // by a third. The first and the second are answered (unanswered, then late) after the third was asked for.
    source->holdModes(true);
    send(CameraCommand::SetFormat{Resolution{1280, 720}, 25});
    send(CameraCommand::SetFormat{Resolution{1920, 1080}, 24});
    send(CameraCommand::SetFormat{Resolution{1280, 720}, 30});
    settle();
    source->holdModes(false);
    ASSERT_TRUE(eventually([&] { return source->mode() == (SourceMode{1280, 720, 30, 1}); }, 10));
    settle();
    EXPECT_EQ(camera->message(), std::optional<std::string>("The camera does not take its settings"));
    EXPECT_EQ(camera->status().resolution, (Resolution{1280, 720}));
    EXPECT_EQ(camera->status().frameRate, 30);
    EXPECT_EQ(camera->streamer().recordingRate().first, 30);
}

}  // namespace
}  // namespace morvane
