// Glass to glass, run by hand: four cameras (1280x720, 30 fps, camera-like pictures with moving detail and sensor
// noise, so the encoder spends its whole 4 Mb/s) each in a process of its own, and the remote in this one, over the
// real peer link on 127.0.0.1. Each camera stamps its capture time into the picture (48 black or white blocks along
// the top); the remote reads the stamp back when a new picture has been painted into its tile, so the figure is the
// whole road: capture, monitoring stage, H.264, TLS link, decode, paint.
//
//   bench_glass_to_glass [seconds] [cameras]
//
// (The same program runs the cameras: bench_glass_to_glass --camera INDEX FOLDER GROUP PORT, until its standard
// input closes.)

#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>

#include <unistd.h>

#include "app/display_layer_view.h"
#include "camera/camera_controller.h"
#include "camera_like_pictures.h"
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
                auto picture = pictures_[static_cast<std::size_t>(i % 60)];
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
    void prepare(std::uint32_t seed) {
        pictures_ = test::cameraLikePictures(settings_.width, settings_.height, 60, seed);
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
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

/// A camera's tile on the remote: once it has painted a new picture, the time since that picture's capture.
class TimedView final : public DisplayLayerView {
public:
    TimedView(std::shared_ptr<VideoReceiver> receiver, std::vector<double>* latencies, int* shown)
        : DisplayLayerView(std::move(receiver)), latencies_(latencies), shown_(shown) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        DisplayLayerView::paintEvent(event);
        const QImage& picture = receiver()->containerLayer().picture();
        if (picture.isNull() || picture.cacheKey() == last_) return;
        last_ = picture.cacheKey();
        auto stamp = readStamp(picture);
        if (!stamp || !latencies_) return;
        const double latency = hostTime() - static_cast<double>(*stamp) / 1e6;
        if (latency < 0 || latency > 5) return;  // a misread stamp
        latencies_->push_back(latency);
        ++*shown_;
    }

private:
    std::vector<double>* latencies_;
    int* shown_;
    qint64 last_ = 0;
};

PeerSession::Options linkOptions(const std::string& group, std::uint16_t port) {
    PeerSession::Options link;
    link.interfaces = {"127.0.0.1"};
    link.multicastGroup = group;
    link.multicastPort = port;
    link.timing.announceInterval = 0.3;
    link.timing.announceBurstInterval = 0.05;
    return link;
}

/// One camera, in its own process, until its standard input closes.
int runCamera(int argc, char** argv) {
    if (argc < 6) return 64;
    QCoreApplication app(argc, argv);
    const int index = std::atoi(argv[2]);
    const std::filesystem::path folder = argv[3];
    auto main = QtMainExecutor::shared();
    CameraController::Options options;
    options.folder = folder;
    options.main = main;
    options.keychain = std::make_shared<Keychain>(options.folder / "keychain");
    const std::string name = "Cam " + std::string(1, static_cast<char>('A' + index));
    options.keychain->write("device-name", Bytes(name.begin(), name.end()));
    options.session = linkOptions(argv[4], static_cast<std::uint16_t>(std::atoi(argv[5])));
    options.acceptPairing = [](const PeerSession::PairingRequest&) { return std::optional<bool>(true); };
    auto camera = CameraController::make(options);
    auto source = std::make_unique<StampingSource>(SyntheticSource::Settings{.width = 1280, .height = 720});
    source->prepare(static_cast<std::uint32_t>(index + 1));
    camera->start(std::move(source));
    std::thread watcher([] {
        char c;
        while (::read(0, &c, 1) > 0) {
        }
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    const int rc = QCoreApplication::exec();
    camera->stop();
    watcher.join();
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("MORVANE_TEST_LOOPBACK_ONLY", "1", 1);
    setenv("USBMUXD_SOCKET_ADDRESS", "UNIX:/tmp/morvane-bench-no-usbmuxd", 1);
    if (argc > 1 && std::string(argv[1]) == "--camera") return runCamera(argc, argv);
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(2.0, std::atof(argv[1])) : 10.0;
    const int cameraCount = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 4) : 4;
    QTemporaryDir dir;
    const std::filesystem::path root(dir.path().toStdString());
    std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
    const std::string group =
        "239.255." + std::to_string(100 + random() % 100) + "." + std::to_string(1 + random() % 250);
    const auto port = static_cast<std::uint16_t>(40000 + random() % 20000);
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
    auto remoteLink = linkOptions(group, port);
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
    auto remote = MonitorController::create(
        4, false, [] { return 0.0; }, env);
    remote->start();

    std::vector<std::unique_ptr<QProcess>> cameras;
    for (int i = 0; i < cameraCount; ++i) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(
            QCoreApplication::applicationFilePath(),
            {"--camera", QString::number(i), QString::fromStdString((root / ("camera" + std::to_string(i))).string()),
             QString::fromStdString(group), QString::number(port)});
        if (!process->waitForStarted(10000)) {
            std::fprintf(stderr, "a camera process did not start\n");
            return 1;
        }
        cameras.push_back(std::move(process));
    }
    auto stopCameras = [&] {
        for (auto& process : cameras) process->closeWriteChannel();
        for (auto& process : cameras) {
            if (!process->waitForFinished(10000)) process->kill();
        }
    };

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
        stopCameras();
        return 1;
    }

    // The feed grid as the remote's window shows four cameras: two by two in a 1280x720 window.
    std::vector<double> latencies;
    std::map<std::string, int> shown;
    QWidget window;
    window.resize(1280, 720);
    auto* grid = new QGridLayout(&window);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(2);
    int tile = 0;
    for (const auto& feed : remote->feeds()) {
        auto* view = new TimedView(remote->receiver(feed->id()), &latencies, &shown[feed->name()]);
        grid->addWidget(view, tile / 2, tile % 2);
        ++tile;
    }
    window.show();
    pump([] { return false; }, 1.0);  // settle the layout; these pictures are not counted
    latencies.clear();
    for (auto& [name, count] : shown) count = 0;
    pump([] { return false; }, seconds);

    std::printf(
        "Glass to glass, %d cameras (each its own process) at 1280x720 30 fps with camera-like pictures, "
        "over the peer link on loopback, ending when the picture is painted:\n",
        cameraCount);
    std::printf(
        "  %zu pictures: median %.1f ms (p10 %.1f), p90 %.1f ms, p99 %.1f ms, max %.1f ms (frame time 33.3 "
        "ms)\n",
        latencies.size(), percentile(latencies, 0.5) * 1e3, percentile(latencies, 0.1) * 1e3,
        percentile(latencies, 0.9) * 1e3, percentile(latencies, 0.99) * 1e3, percentile(latencies, 1.0) * 1e3);
    for (const auto& [name, count] : shown)
        std::printf("  %s: %.1f pictures painted per second\n", name.c_str(), count / seconds);
    stopCameras();
    remote->stop();
    return 0;
}
