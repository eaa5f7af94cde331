// Camera stream costs, run by hand:
//   bench_camera_stream [frames]
// 1. The monitoring stage on 1920x1080 pictures with a log LUT and zebras, on this thread alone.
// 2. The live stream at 1280x720 30 fps with the LUT stage and zebras on: per-frame latency from a captured
//    picture to its frame packet, and the rate the whole chain sustains. Pin it to two cores with
//    `taskset -c 0,1` to see what a small machine does.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "camera/h264_encoder.h"
#include "camera/stream_lut.h"
#include "platform/synthetic_source.h"

using namespace morvane;

namespace {

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;

    // 1. LUT stage per 1080p picture.
    {
        SyntheticSource::Settings s{.width = 1920, .height = 1080};
        std::vector<SharedFrame> pictures;
        for (int i = 0; i < 30; ++i) pictures.push_back(SyntheticSource::makePicture(s, i));
        StreamLUT stage("Log to Rec.709", cubes::logToRec709(), 1920);
        ExposureAids aids;
        aids.zebras = true;
        std::vector<double> times;
        for (int i = 0; i < frames; ++i) {
            const auto start = std::chrono::steady_clock::now();
            auto out = stage.apply(VideoFrame{pictures[static_cast<std::size_t>(i % 30)], 0}, aids);
            times.push_back(seconds(std::chrono::steady_clock::now() - start));
            if (!out) return 1;
        }
        std::printf("LUT stage, 1920x1080 NV12 -> BGRA with a 64-cube LUT and zebras, one thread:\n");
        std::printf("  median %.2f ms, p95 %.2f ms\n", percentile(times, 0.5) * 1e3, percentile(times, 0.95) * 1e3);
    }

    // 2. The live stream: capture picture -> LUT stage -> H.264 -> frame packet.
    {
        SyntheticSource::Settings s{.width = 1280, .height = 720};
        std::vector<SharedFrame> pictures;
        for (int i = 0; i < 60; ++i) pictures.push_back(SyntheticSource::makePicture(s, i));
        StreamLUT stage("Log to Rec.709", cubes::logToRec709(), 1920);
        ExposureAids aids;
        aids.zebras = true;
        H264Encoder::Options options;
        options.minFrameInterval = 0;
        H264Encoder encoder(options);
        const PeerId remote{Uuid()};
        encoder.addPeer(remote);
        std::size_t bytes = 0;
        std::uint32_t lastFrame = 0;
        encoder.onPacket = [&](const Bytes& packet, const std::set<PeerId>&) {
            bytes += packet.size();
            if (packet[0] == 2) lastFrame = (packet[1] << 24) | (packet[2] << 16) | (packet[3] << 8) | packet[4];
        };
        std::vector<double> latency;
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i) {
            const auto start = std::chrono::steady_clock::now();
            auto monitored = stage.apply(VideoFrame{pictures[static_cast<std::size_t>(i % 60)], i / 30.0}, aids);
            encoder.encode(VideoFrame{monitored, i / 30.0}, 0);
            encoder.acknowledge(remote, lastFrame);  // a remote that keeps up
            latency.push_back(seconds(std::chrono::steady_clock::now() - start));
        }
        const double total = seconds(std::chrono::steady_clock::now() - begin);
        std::printf("Live stream, 1280x720 with the LUT stage and zebras, libx264 at 4 Mb/s:\n");
        std::printf("  picture to packet: median %.2f ms, p95 %.2f ms, max %.2f ms\n", percentile(latency, 0.5) * 1e3,
                    percentile(latency, 0.95) * 1e3, percentile(latency, 1.0) * 1e3);
        std::printf("  sustained %.1f frames/s (%d frames in %.2f s), %.2f Mb/s of packets\n", frames / total, frames,
                    total, bytes * 8 / total / 1e6);
    }
    return 0;
}
