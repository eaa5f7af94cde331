// Live video decoding of four 1280×720 streams at once, the way the remote receives them.
//
//   bench_live_video_decode make DIR [frames]   writes four libx264 streams: DIR/stream-N.packets (the camera's
//                                               packets, each with a 4-byte length) and DIR/stream-N.h264 (the
//                                               same pictures as an Annex B stream, for the ffmpeg tool)
//   bench_live_video_decode latency DIR         feeds the four streams at 30 frames per second into four
//                                               receivers and prints the delay from packet to shown picture
//   bench_live_video_decode throughput DIR      feeds them as fast as they decode and prints frames per second
//
// Compare the throughput run with the ffmpeg tool on the same files, e.g. four `ffmpeg -threads 1 -i
// DIR/stream-N.h264 -f null -` at once.

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/h264_compression_session.h"
#include "protocol/live_packets.h"
#include "remote/video_receiver.h"

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int streams = 4;

std::filesystem::path packetsFile(const std::filesystem::path& dir, int n) {
    return dir / ("stream-" + std::to_string(n) + ".packets");
}

int make(const std::filesystem::path& dir, int frames) {
    std::filesystem::create_directories(dir);
    for (int n = 0; n < streams; ++n) {
        auto session = H264CompressionSession::make({1280, 720, 30, 4'000'000, 60});
        if (!session) return 1;
        std::ofstream packets(packetsFile(dir, n), std::ios::binary);
        std::ofstream annexB(dir / ("stream-" + std::to_string(n) + ".h264"), std::ios::binary);
        auto write = [&](const Bytes& packet) {
            const auto size = static_cast<std::uint32_t>(packet.size());
            packets.write(reinterpret_cast<const char*>(&size), 4);
            packets.write(reinterpret_cast<const char*>(packet.data()), static_cast<std::streamsize>(packet.size()));
        };
        static const char startCode[] = {0, 0, 0, 1};
        for (int i = 0; i < frames; ++i) {
            auto out = session->encode(*session->makeTestPicture(i + n * 37));
            if (!out) return 1;
            if (out->isKeyframe) {
                write(*ParameterSetsPacket{out->parameterSets}.encode());
                for (const auto& set : out->parameterSets) {
                    annexB.write(startCode, 4);
                    annexB.write(reinterpret_cast<const char*>(set.data()), static_cast<std::streamsize>(set.size()));
                }
            }
            write(FramePacket::encode(static_cast<std::uint32_t>(i), out->isKeyframe, 0, out->accessUnit));
            for (std::size_t p = 0; p + 4 <= out->accessUnit.size();) {
                const std::size_t len = (std::size_t{out->accessUnit[p]} << 24) |
                                        (std::size_t{out->accessUnit[p + 1]} << 16) |
                                        (std::size_t{out->accessUnit[p + 2]} << 8) | out->accessUnit[p + 3];
                annexB.write(startCode, 4);
                annexB.write(reinterpret_cast<const char*>(out->accessUnit.data() + p + 4),
                             static_cast<std::streamsize>(len));
                p += 4 + len;
            }
        }
    }
    return 0;
}

std::vector<Bytes> readPackets(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<Bytes> packets;
    std::uint32_t size = 0;
    while (in.read(reinterpret_cast<char*>(&size), 4)) {
        Bytes packet(size);
        in.read(reinterpret_cast<char*>(packet.data()), size);
        packets.push_back(std::move(packet));
    }
    return packets;
}

/// Four receivers whose pictures are delivered on a queue of their own standing in for the main thread.
struct Rig {
    std::shared_ptr<DispatchQueue> main = std::make_shared<DispatchQueue>("bench.main");
    std::vector<std::shared_ptr<VideoReceiver>> receivers;
    std::vector<std::vector<Bytes>> packets;
    std::atomic<int> shown{0};

    explicit Rig(const std::filesystem::path& dir) {
        for (int n = 0; n < streams; ++n) {
            packets.push_back(readPackets(packetsFile(dir, n)));
            std::shared_ptr<VideoReceiver> receiver;
            main->sync([&] { receiver = VideoReceiver::make(main); });  // the layer lives on the main stand-in
            receiver->setSendToCamera([](const Bytes&) {});
            receivers.push_back(receiver);
        }
    }
    ~Rig() {
        main->sync([&] { receivers.clear(); });
    }
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

int latency(const std::filesystem::path& dir) {
    Rig rig(dir);
    // The delay of each picture: from its frame packet's hand-over to the picture reaching the main thread.
    std::mutex mutex;
    std::vector<double> delays;
    std::vector<Clock::time_point> sent(streams);
    std::vector<std::atomic<bool>> waiting(streams);
    for (int n = 0; n < streams; ++n) {
        rig.main->sync([&, n] {
            QObject::connect(
                &rig.receivers[static_cast<std::size_t>(n)]->containerLayer(), &VideoReceiverLayer::changed, [&, n] {
                    if (!waiting[static_cast<std::size_t>(n)].exchange(false)) return;
                    const double ms =
                        std::chrono::duration<double, std::milli>(Clock::now() - sent[static_cast<std::size_t>(n)])
                            .count();
                    std::lock_guard guard(mutex);
                    delays.push_back(ms);
                });
        });
    }
    std::vector<std::thread> feeders;
    const auto start = Clock::now();
    for (int n = 0; n < streams; ++n) {
        feeders.emplace_back([&, n] {
            auto& receiver = *rig.receivers[static_cast<std::size_t>(n)];
            int frame = 0;
            for (const auto& packet : rig.packets[static_cast<std::size_t>(n)]) {
                if (packetKind(packet) == PacketType::frame) {
                    std::this_thread::sleep_until(start + std::chrono::microseconds(33333 * frame + 8000 * n));
                    ++frame;
                    sent[static_cast<std::size_t>(n)] = Clock::now();
                    waiting[static_cast<std::size_t>(n)] = true;
                }
                receiver.receive(packet);
            }
        });
    }
    for (auto& f : feeders) f.join();
    for (auto& r : rig.receivers) r->queue().sync([] {});
    rig.main->sync([] {});
    std::lock_guard guard(mutex);
    std::printf(
        "latency, packet to shown picture, 4 × 1280×720 at 30 fps: %zu pictures, median %.2f ms, 95th %.2f ms, "
        "max %.2f ms\n",
        delays.size(), percentile(delays, 0.5), percentile(delays, 0.95), percentile(delays, 1.0));
    return 0;
}

int throughput(const std::filesystem::path& dir) {
    Rig rig(dir);
    std::size_t frames = 0;
    for (const auto& p : rig.packets) {
        frames += static_cast<std::size_t>(
            std::count_if(p.begin(), p.end(), [](const Bytes& b) { return packetKind(b) == PacketType::frame; }));
    }
    const auto start = Clock::now();
    std::vector<std::thread> feeders;
    for (int n = 0; n < streams; ++n) {
        feeders.emplace_back([&, n] {
            for (const auto& packet : rig.packets[static_cast<std::size_t>(n)])
                rig.receivers[static_cast<std::size_t>(n)]->receive(packet);
            rig.receivers[static_cast<std::size_t>(n)]->queue().sync([] {});
        });
    }
    for (auto& f : feeders) f.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "throughput, 4 × 1280×720 at once: %zu frames in %.3f s, %.1f frames/s in all, %.2f ms per frame and "
        "stream\n",
        frames, seconds, static_cast<double>(frames) / seconds,
        seconds * 1000.0 * streams / static_cast<double>(frames));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s make|latency|throughput DIR [frames]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const std::filesystem::path dir = argv[2];
    if (mode == "make") return make(dir, argc > 3 ? std::atoi(argv[3]) : 300);
    if (mode == "latency") return latency(dir);
    if (mode == "throughput") return throughput(dir);
    return 2;
}
