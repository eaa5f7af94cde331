// The capture source as the camera drives it: a format the device cannot start in is refused and the remote told;
// after the watchdog starts a stalled device again, it gets the picture settings the remote asked for; a camera that
// starts again is set as the crew left it, and a settings file it cannot use leaves it set up new.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <thread>

#include <fstream>

#include "camera/camera_controller.h"
#include "camera/crew_settings.h"
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

// Whether `done` comes true within `seconds`, the queues let answer (`settle`) before each look.
bool settledUntil(const std::function<void()>& settle, const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        settle();
        if (done()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

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
        return settledUntil([this] { settle(); }, done, seconds);
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

// Cameras started one after another on one folder, as the camera program is after a crash.
class ControllerSettings : public ::testing::Test {
protected:
    void SetUp() override { keychain = std::make_shared<Keychain>(dir / "keychain"); }
    void TearDown() override { end(); }

    std::shared_ptr<CameraController> begin() {
        end();
        CameraController::Options options;
        options.folder = dir / "camera";
        options.main = main;
        options.keychain = keychain;
        options.session.interfaces = {"127.0.0.1"};
        camera = CameraController::make(options);
        auto owned = std::make_unique<FakeCamera>();
        source = owned.get();
        EXPECT_TRUE(camera->start(std::move(owned)));
        settle();
        return camera;
    }
    // Gone as after a crash: nothing is finished, only what is on the disk is left.
    void end() {
        if (!camera) return;
        camera->stop();
        camera.reset();
        main->runPending();
    }
    void send(CameraCommand command) { camera->handleCommand(command, std::nullopt); }
    void settle() {
        camera->streamer().sessionQueue().sync([] {});
        main->runPending();
        camera->streamer().sessionQueue().sync([] {});
        main->runPending();
    }
    bool eventually(const std::function<bool()>& done, double seconds) {
        return settledUntil([this] { settle(); }, done, seconds);
    }
    std::filesystem::path settingsFile() const { return dir / "camera" / CrewSettings::fileName; }
    void writeSettings(const std::string& text) {
        std::filesystem::create_directories(dir / "camera");
        std::ofstream(settingsFile(), std::ios::binary) << text;
    }
    std::pair<VideoCodec, bool> streamerRecording() {
        std::pair<VideoCodec, bool> held;
        camera->streamer().dataQueue().sync([&] {
            held = {camera->streamer().codec, camera->streamer().recordToDrive};
        });
        return held;
    }

    test::TempDir dir;
    std::shared_ptr<Keychain> keychain;
    std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
    std::shared_ptr<CameraController> camera;
    FakeCamera* source = nullptr;
};

TEST_F(ControllerSettings, ACameraThatStartsAgainIsSetAsTheCrewLeftIt) {
    begin();
    const auto offered = camera->status().proResCodecs;
    const VideoCodec proRes = std::count(offered.begin(), offered.end(), VideoCodec::proRes422) ? VideoCodec::proRes422
                              : offered.empty()                                                 ? VideoCodec::hevc
                                                                                                : offered.front();
    send(CameraCommand::SetMode{CaptureMode::photo});
    send(CameraCommand::SetCodec{proRes});
    send(CameraCommand::SetRecordToDrive{true});
    send(CameraCommand::SetFormat{Resolution{1280, 720}, 25});
    send(CameraCommand::SetAids{ExposureAids{.zebras = true, .scope = ScopeKind::waveform}});
    send(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{3200, 0}});
    send(CameraCommand::SetZoom{2, false});
    send(CameraCommand::SetTimer{0});
    // A 2×2×2 table that changes nothing.
    std::vector<float> identity;
    for (int b = 0; b < 2; ++b)
        for (int g = 0; g < 2; ++g)
            for (int r = 0; r < 2; ++r) identity.insert(identity.end(), {float(r), float(g), float(b)});
    Bytes table(identity.size() * 4);
    std::memcpy(table.data(), identity.data(), table.size());
    send(CameraCommand::LoadCustomLUT{"Grade", 2, table});
    settle();
    ASSERT_EQ(source->mode(), (SourceMode{1280, 720, 30, 1}));

    begin();
    ASSERT_TRUE(eventually([&] { return camera->status().resolution == Resolution{1280, 720}; }, 20));
    const CameraStatus& status = camera->status();
    EXPECT_EQ(status.mode, CaptureMode::photo);
    EXPECT_EQ(status.codec, proRes);
    EXPECT_TRUE(status.recordToDrive);
    EXPECT_EQ(status.frameRate, 25);
    EXPECT_EQ(camera->streamer().recordingRate().first, 25);
    EXPECT_EQ(source->mode(), (SourceMode{1280, 720, 30, 1}));
    EXPECT_TRUE(status.zebras);
    EXPECT_EQ(status.scope, ScopeKind::waveform);
    EXPECT_EQ(status.zoom, 2);
    EXPECT_EQ(status.previewLUT, PreviewLUT::custom);
    EXPECT_EQ(status.customLUTName, std::optional<std::string>("Grade"));
    ASSERT_FALSE(source->asked().empty());
    EXPECT_EQ(source->asked().back().kelvin, 3200);  // asked of the device again (which holds none)
    EXPECT_EQ(streamerRecording(), std::make_pair(proRes, true));

    // The shutter does what the kept mode says: a photo, no take.
    send(CameraCommand::Shutter{});
    EXPECT_TRUE(eventually([&] { return camera->shutterCount() == 1; }, 20));
    EXPECT_FALSE(camera->recordingStart());

    // What is changed now is what the next start finds.
    send(CameraCommand::SetMode{CaptureMode::video});
    begin();
    EXPECT_EQ(camera->status().mode, CaptureMode::video);
    EXPECT_EQ(camera->status().codec, proRes);
}

TEST_F(ControllerSettings, ASettingsFileTheCameraCannotUseLeavesItSetUpNew) {
    CameraStatus photo;
    photo.mode = CaptureMode::photo;
    photo.codec = VideoCodec::proRes422;
    photo.recordToDrive = true;
    const std::string whole = CrewSettings::encode(photo).dump(2);
    auto with = [&](const char* key, const Json& value) {
        Json j = CrewSettings::encode(photo);
        if (value.is_discarded())
            j.erase(key);
        else
            j[key] = value;
        return j.dump();
    };
    struct Case {
        const char* what;
        std::string text;
        bool folder = false;
    };
    const Case cases[] = {
        {"cut short", whole.substr(0, whole.size() / 2)},
        {"empty", ""},
        {"not text", std::string("\x00\xff\xfe{\"mode\":", 9)},
        {"a list", "[\"photo\", \"proRes422\"]"},
        {"a field of another type", with("mode", 7)},
        {"a codec the camera does not know", with("codec", "vp9")},
        {"null where a value is needed", with("recordToDrive", nullptr)},
        {"a field missing", with("codec", Json(Json::value_t::discarded))},
        {"a folder in its place", "", true},
        {"far too large", std::string(1 << 20, ' ') + whole},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        end();
        std::filesystem::remove_all(dir / "camera");
        if (c.folder) {
            std::filesystem::create_directories(settingsFile());
        } else {
            writeSettings(c.text);
        }
        EXPECT_FALSE(CrewSettings::read(settingsFile()).kept);
        EXPECT_FALSE(CrewSettings::read(settingsFile()).problem.empty());
        begin();
        EXPECT_EQ(camera->status().mode, CaptureMode::video);
        EXPECT_EQ(camera->status().codec, VideoCodec::hevc);
        EXPECT_FALSE(camera->status().recordToDrive);
        EXPECT_EQ(streamerRecording(), std::make_pair(VideoCodec::hevc, false));
        // The next setting is kept all the same (a folder in the way excepted).
        send(CameraCommand::SetMode{CaptureMode::photo});
        begin();
        EXPECT_EQ(camera->status().mode, c.folder ? CaptureMode::video : CaptureMode::photo);
    }
    // The whole file, for contrast, is read.
    end();
    std::filesystem::remove_all(dir / "camera");
    writeSettings(whole);
    EXPECT_TRUE(CrewSettings::read(settingsFile()).kept);
    EXPECT_TRUE(CrewSettings::read(settingsFile()).problem.empty());
}

TEST_F(ControllerSettings, AKeptFormatTheDeviceCannotFilmInFallsBackAsANewSettingWould) {
    CameraStatus kept;
    kept.resolution = {3840, 2160};
    kept.frameRate = 24;
    kept.mode = CaptureMode::photo;
    writeSettings(CrewSettings::encode(kept).dump());
    begin();
    ASSERT_TRUE(eventually([&] { return camera->message().has_value(); }, 20));
    EXPECT_EQ(camera->message(), std::optional<std::string>("The camera can't film in that format"));
    EXPECT_EQ(camera->status().resolution, (Resolution{1920, 1080}));
    EXPECT_EQ(camera->status().frameRate, 30);
    EXPECT_EQ(camera->status().mode, CaptureMode::photo);  // the rest is kept
    EXPECT_TRUE(source->running());
}

}  // namespace
}  // namespace morvane
