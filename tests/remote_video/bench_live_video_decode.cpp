// Live video decoding of four 1280×720 streams at once, the way the remote receives them.
//
//   bench_live_video_decode make DIR [frames]   writes four libx264 streams of camera-like pictures (a panning
//                                               scene with fine detail, a moving object and sensor noise):
//                                               DIR/stream-N.packets (the camera's packets, each with a 4-byte
//                                               length) and DIR/stream-N.h264 (the same pictures as an Annex B
//                                               stream, for the ffmpeg tool)
//   bench_live_video_decode latency DIR         feeds the four streams at 30 frames per second, the four cameras'
//                                               frames arriving together, and prints the delay from packet to shown
//                                               picture
//   bench_live_video_decode throughput DIR      feeds them as fast as they decode and prints frames per second
//   bench_live_video_decode compare DIR [pairs] the throughput run against four `ffmpeg -flags low_delay -threads 1`
//                                               decoding the same streams at once, in alternating pairs, medians

#include <QCoreApplication>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/h264_compression_session.h"

extern "C" {
#include <libavutil/frame.h>
}
#include "protocol/live_packets.h"
#include "remote/video_receiver.h"

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int streams = 4;

std::filesystem::path packetsFile(const std::filesystem::path& dir, int n) {
    return dir / ("stream-" + std::to_string(n) + ".packets");
}

// A picture as a camera sends it: a scene with detail at several scales that pans slowly, an object crossing it, and
// sensor noise that differs in every frame (a flat test pattern costs a decoder far less than this).
class CameraScene {
public:
    CameraScene(int width, int height, int seed) : width_(width), height_(height), random_(0x9E3779B9u * (seed + 1)) {
        // One large texture, sampled at a moving offset.
        texture_.resize(static_cast<std::size_t>(textureWidth) * textureHeight);
        for (int y = 0; y < textureHeight; ++y) {
            for (int x = 0; x < textureWidth; ++x) {
                const double v = 118 + 46 * std::sin(x * 0.021 + seed) * std::cos(y * 0.017) +
                                 24 * std::sin((x + 2 * y) * 0.093) + 14 * std::sin(x * 0.41 + y * 0.23) +
                                 8 * std::cos(x * 1.37 - y * 0.91);
                texture_[static_cast<std::size_t>(y) * textureWidth + x] =
                    static_cast<std::uint8_t>(std::clamp(v, 16.0, 235.0));
            }
        }
    }

    void paint(AVFrame& frame, int index) {
        const int panX = (index * 3) % (textureWidth - width_);
        const int panY = static_cast<int>(40 + 30 * std::sin(index * 0.05));
        const int objectX = (index * 9) % std::max(1, width_ - 160);
        const int objectY = height_ / 2 + static_cast<int>(80 * std::sin(index * 0.11));
        for (int y = 0; y < height_; ++y) {
            std::uint8_t* row = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
            const std::uint8_t* source = texture_.data() + static_cast<std::size_t>(y + panY) * textureWidth + panX;
            for (int x = 0; x < width_; ++x) {
                int v = source[x];
                const int dx = x - objectX - 80, dy = y - objectY;
                if (dx * dx + dy * dy < 70 * 70) v = 200 - ((x ^ y) & 31);
                v += noise(9);
                row[x] = static_cast<std::uint8_t>(std::clamp(v, 16, 235));
            }
        }
        for (int plane = 1; plane < 3; ++plane) {
            for (int y = 0; y < height_ / 2; ++y) {
                std::uint8_t* row = frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane];
                for (int x = 0; x < width_ / 2; ++x) {
                    const int base = plane == 1 ? 118 + ((x + panX / 2) * 24) / (width_ / 2) : 136 - (y * 20) / (height_ / 2);
                    row[x] = static_cast<std::uint8_t>(std::clamp(base + noise(3), 16, 240));
                }
            }
        }
    }

private:
    static constexpr int textureWidth = 2560;
    static constexpr int textureHeight = 840;

    // Roughly normal noise of the given spread, from a cheap generator.
    int noise(int spread) {
        auto next = [&] {
            random_ ^= random_ << 13;
            random_ ^= random_ >> 17;
            random_ ^= random_ << 5;
            return static_cast<int>(random_ & 0xFF) - 128;
        };
        return (next() + next() + next()) * spread / 222;
    }

    int width_, height_;
    std::uint32_t random_;
    std::vector<std::uint8_t> texture_;
};

int make(const std::filesystem::path& dir, int frames) {
    std::filesystem::create_directories(dir);
    for (int n = 0; n < streams; ++n) {
        auto session = H264CompressionSession::make({1280, 720, 30, 4'000'000, 60});
        if (!session) return 1;
        CameraScene scene(1280, 720, n);
        std::ofstream packets(packetsFile(dir, n), std::ios::binary);
        std::ofstream annexB(dir / ("stream-" + std::to_string(n) + ".h264"), std::ios::binary);
        auto write = [&](const Bytes& packet) {
            const auto size = static_cast<std::uint32_t>(packet.size());
            packets.write(reinterpret_cast<const char*>(&size), 4);
            packets.write(reinterpret_cast<const char*>(packet.data()), static_cast<std::streamsize>(packet.size()));
        };
        static const char startCode[] = {0, 0, 0, 1};
        for (int i = 0; i < frames; ++i) {
            auto picture = session->makeTestPicture(0);
            if (!picture || av_frame_make_writable(picture.get()) < 0) return 1;
            scene.paint(*picture, i + n * 37);
            auto out = session->encode(*picture);
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
                    // The four cameras' frames arrive together, as cameras started at once deliver them.
                    std::this_thread::sleep_until(start + std::chrono::microseconds(33333 * frame));
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
        "latency, packet to shown picture, 4 × 1280×720 at 30 fps arriving together: %zu pictures, median %.2f ms, "
        "95th %.2f ms, max %.2f ms\n",
        delays.size(), percentile(delays, 0.5), percentile(delays, 0.95), percentile(delays, 1.0));
    return 0;
}

// Seconds for the four receivers to decode every frame, fed as fast as they take them.
double decodeAll(const std::filesystem::path& dir, std::size_t& frames) {
    Rig rig(dir);
    frames = 0;
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
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds for four ffmpeg tools, one per stream, decoding the same pictures at once with low delay on one thread
// each, as the receivers do.
double ffmpegAll(const std::filesystem::path& dir) {
    const auto start = Clock::now();
    std::vector<pid_t> children;
    for (int n = 0; n < streams; ++n) {
        const auto input = (dir / ("stream-" + std::to_string(n) + ".h264")).string();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execlp("ffmpeg", "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-flags", "low_delay",
                     "-threads", "1", "-f", "h264", "-i", input.c_str(), "-f", "null", "-", nullptr);
            ::_exit(127);
        }
        if (pid > 0) children.push_back(pid);
    }
    bool ok = children.size() == streams;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
}

int compare(const std::filesystem::path& dir, int pairs) {
    std::vector<double> ours, tool, ratios;
    std::size_t frames = 0;
    for (int pair = 0; pair < pairs; ++pair) {
        double a = 0, b = 0;
        if (pair % 2 == 0) {
            a = decodeAll(dir, frames);
            b = ffmpegAll(dir);
        } else {
            b = ffmpegAll(dir);
            a = decodeAll(dir, frames);
        }
        if (b < 0) {
            std::fprintf(stderr, "the ffmpeg tool failed\n");
            return 1;
        }
        ours.push_back(static_cast<double>(frames) / a);
        tool.push_back(static_cast<double>(frames) / b);
        ratios.push_back(b / a);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf(
        "decoding 4 × 1280×720 camera-like streams at once (%zu frames), medians of %d alternating pairs:\n"
        "  receivers: %.1f frames/s (%.2f ms per frame and stream)\n"
        "  ffmpeg -flags low_delay -threads 1, four at once: %.1f frames/s (%.2f ms per frame and stream, process "
        "start included)\n"
        "  receivers / ffmpeg: %.2f\n",
        frames, pairs, median(ours), 1000.0 * streams / median(ours), median(tool), 1000.0 * streams / median(tool),
        median(ratios));
    return 0;
}

int throughput(const std::filesystem::path& dir) {
    std::size_t frames = 0;
    const double seconds = decodeAll(dir, frames);
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
        std::fprintf(stderr, "usage: %s make DIR [frames] | latency DIR | throughput DIR | compare DIR [pairs]\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const std::filesystem::path dir = argv[2];
    if (mode == "make") return make(dir, argc > 3 ? std::atoi(argv[3]) : 300);
    if (mode == "latency") return latency(dir);
    if (mode == "throughput") return throughput(dir);
    if (mode == "compare") return compare(dir, std::max(1, argc > 3 ? std::atoi(argv[3]) : 10));
    return 2;
}
