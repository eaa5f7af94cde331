// Glass to glass, run by hand: four cameras (1280x720, 30 fps, synthetic pictures) and the remote in one process,
// over the real peer link on 127.0.0.1. Each camera stamps its capture time into the picture (48 black or white
// blocks along the top); the remote reads the stamp back from every decoded picture, so the figure is the whole
// road: capture, monitoring stage, H.264, TLS link, decode, picture shown.
//
//   bench_glass_to_glass [seconds] [cameras]

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>

#include <unistd.h>

#include "camera/camera_controller.h"
#include "deck/retouch_library.h"
#include "link/usb_hub.h"
#include "platform/defaults.h"
#include "platform/keychain.h"
#include "platform/synthetic_source.h"
#include "qt_main_executor.h"
#include "remote/monitor_controller.h"
#include "remote/video_receiver.h"
#include "shoot_library/shoot_library.h"

using namespace morvane;

namespace {

constexpr int kBits = 48;
constexpr int kBlock = 16;

/// The synthetic camera with its capture time written into the picture.
class StampingSource final : public CaptureSource {
public:
    explicit StampingSource(SyntheticSource::Settings settings) : settings_(settings) {}
    ~StampingSource() override { stop(); }
    bool start(Callbacks callbacks) override {
        running_ = true;
        thread_ = std::thread([this, callbacks] {
            const double interval = 1.0 / 30;
            const double begin = hostTime();
            for (std::int64_t i = 0; running_; ++i) {
                const double due = begin + i * interval;
                const double wait = due - hostTime();
                if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
                auto picture = pictures_[static_cast<std::size_t>(i % 30)];
                SharedFrame frame = makeVideoFrame(settings_.width, settings_.height, AV_PIX_FMT_NV12);
                av_frame_copy(frame.get(), picture.get());
                av_frame_copy_props(frame.get(), picture.get());
                const double now = hostTime();
                stamp(*frame, static_cast<std::uint64_t>(now * 1e6));
                callbacks.onVideo(VideoFrame{frame, now});
            }
        });
        return true;
    }
    void stop() override {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    void prepare() {
        for (int i = 0; i < 30; ++i) pictures_.push_back(SyntheticSource::makePicture(settings_, i * 4));
    }

    static void stamp(AVFrame& f, std::uint64_t micros) {
        for (int bit = 0; bit < kBits; ++bit) {
            const std::uint8_t value = (micros >> bit) & 1 ? 235 : 16;
            for (int y = 0; y < kBlock; ++y) {
                std::memset(f.data[0] + y * f.linesize[0] + bit * kBlock, value, kBlock);
            }
            for (int y = 0; y < kBlock / 2; ++y) {
                std::memset(f.data[1] + y * f.linesize[1] + bit * kBlock, 128, kBlock);
            }
        }
    }

private:
    SyntheticSource::Settings settings_;
    std::vector<SharedFrame> pictures_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

std::optional<std::uint64_t> readStamp(const QImage& picture) {
    if (picture.width() < kBits * kBlock * picture.width() / 1280 || picture.isNull()) return std::nullopt;
    const double scale = picture.width() / 1280.0;
    std::uint64_t micros = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const int x = static_cast<int>((bit * kBlock + kBlock / 2) * scale);
        const int y = static_cast<int>(kBlock / 2 * scale);
        if (qGray(picture.pixel(x, y)) > 128) micros |= std::uint64_t{1} << bit;
    }
    return micros;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("MORVANE_TEST_LOOPBACK_ONLY", "1", 1);
    setenv("USBMUXD_SOCKET_ADDRESS", "UNIX:/tmp/morvane-bench-no-usbmuxd", 1);
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(2.0, std::atof(argv[1])) : 10.0;
    const int cameraCount = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 7) : 4;
    QTemporaryDir dir;
    const std::filesystem::path root(dir.path().toStdString());
    std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
    PeerSession::Options link;
    link.interfaces = {"127.0.0.1"};
    link.multicastGroup = "239.255." + std::to_string(100 + random() % 100) + "." + std::to_string(1 + random() % 250);
    link.multicastPort = static_cast<std::uint16_t>(40000 + random() % 20000);
    link.timing.announceInterval = 0.3;
    link.timing.announceBurstInterval = 0.05;
    auto main = QtMainExecutor::shared();

    Defaults defaults(root / "defaults.json");
    ShootLibrary shoot(ShootLibrary::Environment{&defaults, root / "Movies"});
    RetouchLibrary retouch(root / "Retouch", root / "Program");
    MonitorEnvironment env;
    env.mainExecutor = main;
    env.defaults = &defaults;
    env.shootLibrary = &shoot;
    env.retouchLibrary = &retouch;
    env.fallbackFolder = root / "Unfiled";
    auto remoteLink = link;
    remoteLink.keychain = std::make_shared<Keychain>(root / "remote");
    remoteLink.mainExecutor = main;
    remoteLink.temporaryFolder = root / "incoming";
    env.makeLink = [remoteLink](int maxCameras) -> std::shared_ptr<CameraLink> {
        return PeerSessionLink::makeMonitor(maxCameras, remoteLink);
    };
    env.makeUSBHub = [&] {
        USBHub::Options hub;
        hub.keychain = remoteLink.keychain;
        hub.temporaryFolder = root / "usb";
        return std::make_shared<USBHub>(hub);
    };
    auto remote = MonitorController::create(4, false, [] { return 0.0; }, env);
    remote->start();

    std::vector<std::shared_ptr<CameraController>> cameras;
    for (int i = 0; i < cameraCount; ++i) {
        CameraController::Options options;
        options.folder = root / ("camera" + std::to_string(i));
        options.main = main;
        options.keychain = std::make_shared<Keychain>(options.folder / "keychain");
        const std::string name = "Cam " + std::string(1, static_cast<char>('A' + i));
        options.keychain->write("device-name", Bytes(name.begin(), name.end()));
        options.session = link;
        options.acceptPairing = [](const PeerSession::PairingRequest&) { return std::optional<bool>(true); };
        auto camera = CameraController::make(options);
        auto source = std::make_unique<StampingSource>(SyntheticSource::Settings{.width = 1280, .height = 720});
        source->prepare();
        camera->start(std::move(source));
        cameras.push_back(camera);
    }

    auto pump = [&](const std::function<bool()>& done, double limit) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < limit * 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    };
    std::set<PeerId> asked;
    const bool paired = pump(
        [&] {
            for (const auto& entry : remote->nearbyCameras()) {
                if (!asked.count(entry.id) && !entry.isConnected && !remote->pairingRequest()) {
                    remote->peers()->connect(entry.id);
                    asked.insert(entry.id);
                }
            }
            if (remote->pairingRequest()) remote->acceptPairing();
            int showing = 0;
            for (const auto& feed : remote->feeds()) {
                auto receiver = remote->receiver(feed->id());
                if (receiver && !receiver->containerLayer().picture().isNull()) ++showing;
            }
            return showing == cameraCount;
        },
        60);
    if (!paired) {
        std::fprintf(stderr, "the cameras did not all show a picture\n");
        return 1;
    }

    std::vector<double> latencies;
    std::map<std::string, int> shown;
    std::vector<QMetaObject::Connection> connections;
    for (const auto& feed : remote->feeds()) {
        auto receiver = remote->receiver(feed->id());
        const std::string name = feed->name();
        const VideoReceiverLayer* layer = &receiver->containerLayer();
        connections.push_back(QObject::connect(layer, &VideoReceiverLayer::changed, [&latencies, &shown, layer, name] {
            auto stamp = readStamp(layer->picture());
            if (!stamp) return;
            const double latency = hostTime() - static_cast<double>(*stamp) / 1e6;
            if (latency < 0 || latency > 5) return;  // a misread stamp
            latencies.push_back(latency);
            ++shown[name];
        }));
    }
    pump([] { return false; }, seconds);
    for (auto& c : connections) QObject::disconnect(c);

    std::printf("Glass to glass, %d cameras at 1280x720 30 fps on this machine, over the peer link on loopback:\n",
                cameraCount);
    std::printf("  %zu pictures: median %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms (two frame times: 66.7 ms)\n",
                latencies.size(), percentile(latencies, 0.5) * 1e3, percentile(latencies, 0.9) * 1e3,
                percentile(latencies, 0.99) * 1e3, percentile(latencies, 1.0) * 1e3);
    for (const auto& [name, count] : shown) std::printf("  %s: %.1f pictures shown per second\n", name.c_str(), count / seconds);
    for (auto& camera : cameras) camera->stop();
    remote->stop();
    return 0;
}
