// Camera stream costs on camera-like pictures (moving detail and sensor noise, so the encoder spends its whole
// target rate), run by hand:
//   bench_camera_stream [frames] [part] [codec] [folder] [height]    (part: 1 to 6, 1 to 4 when left out; codec:
//       h264, hevc, prores (422 HQ) or all; folder: where takes are written; height of parts 4 and 5: 1080 or 720)
// 1. The LUT stage on 1920x1080 pictures with the log LUT (a 64-cube), alone and with zebras, on this thread.
// 2. The live stream at 1280x720 30 fps with the LUT stage and zebras on: per-frame latency from a captured
//    picture to its frame packet, and the rate the whole chain sustains. Pin it to two cores with
//    `taskset -c 0,1` to see what a small machine does.
// 3. A 1280x720 HEVC take at 30 fps in real time, sound throughout, whose pictures stop for 3.5 s: the pictures
//    dropped after they come back, as the repeats filling the stall are compressed.
// 4. A 1080p take of each codec with sound, handed over as fast as the recorder takes it: the processor time of
//    the whole program, the bytes it wrote (the movie and the journal kept beside it while it is written) and its
//    write calls, per second of take. Run it against a build of the recorder before to compare.
// 5. A 1080p take with sound in real time, `frames` long: the pictures and the blocks of sound dropped, how long
//    the take took to finish after its stop, and what a kill 10 s in would have kept. Run it in a cgroup whose
//    writes to the folder's disk are throttled to see a slow disk, or beside a busy loop on one core
//    (`taskset -c 3`) to see an encoder slower than real time.
// 6. A 1080p take with sound in real time, `frames` long, with a 3 s burst of other work 4 s in (four busy loops for
//    each core the program may use): the pictures dropped before, during and after the burst, when the last one was
//    dropped, and whether the owner was told that the camera can't record in real time. Pin it to two cores with
//    `taskset -c 0,1` to see a small machine.
// Figures are medians with the 10th and 90th percentiles as their spread; the LUT stage's are this thread's processor
// time, which other work on a busy machine does not stretch, with the wall-clock median beside it.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include <fstream>
#include <string>

#include "camera/h264_encoder.h"
#include "camera/movie_recorder.h"
#include "camera/recording_start.h"
#include "camera/stream_lut.h"
#include "camera/take_recovery.h"
#include "camera_like_pictures.h"
#include "platform/synthetic_source.h"
#include "temp_dir.h"

using namespace morvane;

namespace {

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Processor time of every thread of the program.
double processSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A count of the program's writes, whatever the file system: "wchar:" the bytes handed to the system to write,
// "syscw:" the write calls.
double writes(const std::string& what) {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        double value = 0;
        io >> value;
        if (key == what) return value;
    }
    return 0;
}

const char* codecLabel(MovieVideoSettings::Codec codec) {
    switch (codec) {
        case MovieVideoSettings::Codec::h264:
            return "H.264";
        case MovieVideoSettings::Codec::hevc:
            return "HEVC";
        case MovieVideoSettings::Codec::proRes:
            return "ProRes 422 HQ";
    }
    return "";
}

// The settings the camera records at 30 fps with, in each codec asked for.
std::vector<MovieVideoSettings> recordings(const std::string& codec, int width, int height) {
    std::vector<MovieVideoSettings> settings;
    if (codec == "all" || codec == "h264")
        settings.push_back(*decideRecording(width, height, false, VideoCodec::hevc, 30, false, {}).video);
    if ((codec == "all" || codec == "hevc") && canWriteHEVC())
        settings.push_back(*decideRecording(width, height, false, VideoCodec::hevc, 30, true, {}).video);
    if (codec == "all" || codec == "prores") {
        const std::vector<VideoCodec> proRes{VideoCodec::proRes422HQ};
        settings.push_back(*decideRecording(width, height, false, VideoCodec::proRes422HQ, 30, true, proRes).video);
    }
    return settings;
}

// A 30 fps take with sound into `folder`, as the camera records one.
MovieRecorder::Options takeOptions(const MovieVideoSettings& video, const std::filesystem::path& folder) {
    MovieRecorder::Options options;
    options.video = video;
    options.frameRate = 30;
    options.audio = MovieAudioSettings{};
    options.destination = folder / "take.mov";
    return options;
}

void spread(const char* what, const std::vector<double>& times, const char* tail = "\n") {
    std::printf("  %-28s median %.2f ms (p10 %.2f, p90 %.2f, max %.2f)%s", what, percentile(times, 0.5) * 1e3,
                percentile(times, 0.1) * 1e3, percentile(times, 0.9) * 1e3, percentile(times, 1.0) * 1e3, tail);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const int part = argc > 2 ? std::atoi(argv[2]) : 0;
    const std::string codec = argc > 3 ? argv[3] : "all";
    const std::filesystem::path folder = argc > 4 ? argv[4] : std::filesystem::temp_directory_path();
    const int height = argc > 5 && std::atoi(argv[5]) == 720 ? 720 : 1080, width = height * 16 / 9;

    // 1. LUT stage per 1080p picture.
    if (part == 0 || part == 1) {
        const auto pictures = test::cameraLikePictures(1920, 1080, 30);
        StreamLUT none(1920);
        StreamLUT stage("Log to Rec.709", cubes::logToRec709(), 1920);
        std::printf("LUT stage, 1920x1080 NV12 -> BGRA with a 64-cube LUT, one thread:\n");
        const struct {
            const char* what;
            StreamLUT* stage;
            bool zebras;
        } runs[] = {
            {"conversion alone (no LUT):", &none, false}, {"LUT:", &stage, false}, {"LUT and zebras:", &stage, true}};
        for (const auto& run : runs) {
            ExposureAids aids;
            aids.zebras = run.zebras;
            std::vector<double> times, walls;
            for (int i = 0; i < frames; ++i) {
                const double cpu = threadSeconds();
                const auto start = std::chrono::steady_clock::now();
                auto out = run.stage->apply(VideoFrame{pictures[static_cast<std::size_t>(i % 30)], 0}, aids);
                walls.push_back(seconds(std::chrono::steady_clock::now() - start));
                times.push_back(threadSeconds() - cpu);
                if (!out) return 1;
            }
            spread(run.what, times, "");
            std::printf("; wall %.2f ms\n", percentile(walls, 0.5) * 1e3);
        }
    }

    // 2. The live stream: capture picture -> LUT stage -> H.264 -> frame packet.
    if (part == 0 || part == 2) {
        const auto pictures = test::cameraLikePictures(1280, 720, 60);
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
        spread("picture to packet:", latency);
        // Packets per second of stream time (30 pictures a second), the rate a remote receives.
        std::printf("  sustained %.1f frames/s (%d frames in %.2f s); %.2f Mb/s of packets at 30 frames/s\n",
                    frames / total, frames, total, bytes * 8.0 / (frames / 30.0) / 1e6);
    }

    // 3. Recording through a stall, pictures and 20 ms blocks of sound handed over as they are captured. The test
    // pattern compresses lightly, so that the stall alone decides what is dropped.
    if (part == 0 || part == 3) {
        test::TempDir dir;
        const SyntheticSource::Settings pattern{.width = 1280, .height = 720};
        std::vector<SharedFrame> pictures;
        for (int i = 0; i < 60; ++i) pictures.push_back(SyntheticSource::makePicture(pattern, i));
        auto options =
            takeOptions(*decideRecording(1280, 720, false, VideoCodec::hevc, 30, canWriteHEVC(), {}).video, dir.path());
        auto recorder = MovieRecorder::make(options);
        if (!recorder) return 1;
        const double start = hostTime(), stallFrom = start + 2, stallTo = stallFrom + 3.5;
        double picture = start, sound = start;
        int index = 0, blocks = 0, before = 0, after = 0;
        while (picture < stallTo + 4) {
            std::this_thread::sleep_for(std::chrono::duration<double>(std::min(picture, sound) - hostTime()));
            if (sound <= picture) {
                recorder->appendAudio(AudioFrame{SyntheticSource::makeTone(pattern, blocks++ * 960, 960), sound});
                sound += 0.02;
                continue;
            }
            if ((picture < stallFrom || picture >= stallTo) &&
                !recorder->append(VideoFrame{pictures[static_cast<std::size_t>(index % 60)], picture}))
                ++(picture < stallFrom ? before : after);
            ++index;
            picture += 1.0 / 30;
        }
        const auto url = recorder->url();
        recorder->finish();
        std::error_code ec;
        std::filesystem::remove(url, ec);
        std::printf("Recording, 1280x720 HEVC at 30 frames/s, the pictures stalled for 3.5 s:\n");
        std::printf("  pictures dropped: %d in the 2 s before the stall, %d in the 4 s after it\n", before, after);
    }

    // 4. A 1080p take of each codec.
    if (part == 0 || part == 4) {
        const auto pictures = test::cameraLikePictures(width, height, 30);
        std::vector<SharedFrame> sound;
        for (int i = 0; i < 30; ++i) sound.push_back(SyntheticSource::makeTone({}, i * 1600, 1600));
        for (const auto& video : recordings(codec, width, height)) {
            test::TempDir dir(folder);
            auto options = takeOptions(video, dir.path());
            options.queueLimit = 2 * static_cast<std::size_t>(frames) + 2;  // pictures and sound share the queue
            const double cpu = processSeconds(), written = writes("wchar:"), calls = writes("syscw:");
            const auto begin = std::chrono::steady_clock::now();
            auto recorder = MovieRecorder::make(options);
            if (!recorder) return 1;
            for (int i = 0; i < frames; ++i) {
                recorder->append(VideoFrame{pictures[static_cast<std::size_t>(i % 30)], i / 30.0});
                recorder->appendAudio(AudioFrame{sound[static_cast<std::size_t>(i % 30)], i / 30.0});
            }
            const auto duration = recorder->finish();
            if (!duration) return 1;
            const double wall = seconds(std::chrono::steady_clock::now() - begin);
            const double movie = static_cast<double>(std::filesystem::file_size(dir / "take.mov"));
            std::printf("Recording, %dx%d %s at 30 frames/s with sound, %.1f s:\n", width, height,
                        codecLabel(video.codec), *duration);
            std::printf(
                "  processor %.3f s, %.3f MB written in %.1f write calls a second of take (movie %.3f MB); "
                "wall %.2f s\n",
                (processSeconds() - cpu) / *duration, (writes("wchar:") - written) / *duration / 1e6,
                (writes("syscw:") - calls) / *duration, movie / *duration / 1e6, wall);
        }
    }

    // 5. A 1080p take in real time.
    if (part == 5) {
        namespace fs = std::filesystem;
        const auto pictures = test::cameraLikePictures(width, height, 30);
        for (const auto& video : recordings(codec, width, height)) {
            test::TempDir dir(folder);
            fs::create_directory(dir / "killed");
            auto options = takeOptions(video, dir.path());
            auto recorder = MovieRecorder::make(options);
            if (!recorder) return 1;
            const double start = hostTime();
            double picture = start, sound = start, kept = -1;
            std::thread killed;
            int index = 0, blocks = 0, dropped = 0, refused = 0;
            while (index < frames) {
                std::this_thread::sleep_for(std::chrono::duration<double>(std::min(picture, sound) - hostTime()));
                if (sound <= picture) {
                    if (!recorder->appendAudio(AudioFrame{SyntheticSource::makeTone({}, blocks++ * 960, 960), sound}))
                        ++refused;
                    sound += 0.02;
                    continue;
                }
                if (!recorder->append(VideoFrame{pictures[static_cast<std::size_t>(index % 30)], picture})) ++dropped;
                ++index;
                picture += 1.0 / 30;
                if (index == 300) {
                    // The files as a kill 10 s in leaves them, finished as the next start would: on a thread of
                    // their own, so that the pictures are handed over meanwhile.
                    killed = std::thread([&dir, &kept] {
                        const fs::path copy = dir / "killed" / "take.mov";
                        fs::copy_file(journalOf(dir / "take.mov"), journalOf(copy));
                        fs::copy_file(dir / "take.mov", copy);
                        const auto finished = recoverTake(copy).take;
                        kept = finished ? finished->duration : 0;
                    });
                }
            }
            const double stopped = hostTime();
            const auto duration = recorder->finish();
            const double finishing = hostTime() - stopped;
            if (killed.joinable()) killed.join();
            std::printf("Recording in real time, %dx%d %s at 30 frames/s with sound, %.1f s:\n", width, height,
                        codecLabel(video.codec), duration.value_or(0));
            std::printf("  pictures dropped %d of %d, sound blocks dropped %d of %d; finished %.2f s after the stop",
                        dropped, frames, refused, blocks, finishing);
            if (kept >= 0) std::printf("; a kill 10 s in keeps %.1f s", kept);
            std::printf("\n");
        }
    }
    // 6. A burst of other work during a take.
    if (part == 6) {
        const auto pictures = test::cameraLikePictures(width, height, 30);
        cpu_set_t cores;
        CPU_ZERO(&cores);
        const int busy = 4 * (sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 2);
        for (const auto& video : recordings(codec, width, height)) {
            test::TempDir dir(folder);
            auto options = takeOptions(video, dir.path());
            std::atomic<bool> told = false;
            options.onFallingBehind = [&] { told = true; };
            auto recorder = MovieRecorder::make(options);
            if (!recorder) return 1;
            const double start = hostTime(), burstFrom = start + 4, burstTo = burstFrom + 3;
            std::vector<std::thread> work;
            double picture = start, sound = start, lastDrop = -1;
            int index = 0, blocks = 0, before = 0, during = 0, after = 0, refused = 0;
            while (index < frames) {
                std::this_thread::sleep_for(std::chrono::duration<double>(std::min(picture, sound) - hostTime()));
                if (work.empty() && hostTime() >= burstFrom) {
                    for (int i = 0; i < busy; ++i)
                        work.emplace_back([burstTo] {
                            volatile double x = 0;
                            while (hostTime() < burstTo) x = x + 1;
                        });
                }
                if (sound <= picture) {
                    if (!recorder->appendAudio(AudioFrame{SyntheticSource::makeTone({}, blocks++ * 960, 960), sound}))
                        ++refused;
                    sound += 0.02;
                    continue;
                }
                if (!recorder->append(VideoFrame{pictures[static_cast<std::size_t>(index % 30)], picture})) {
                    ++(picture < burstFrom ? before : picture < burstTo ? during : after);
                    lastDrop = picture - start;
                }
                ++index;
                picture += 1.0 / 30;
            }
            for (auto& thread : work) thread.join();
            const double stopped = hostTime();
            const auto duration = recorder->finish();
            const double finishing = hostTime() - stopped;
            std::printf("Recording in real time, %dx%d %s at 30 frames/s with sound, %.1f s, %d busy loops 4-7 s in:\n",
                        width, height, codecLabel(video.codec), duration.value_or(0), busy);
            std::printf(
                "  pictures dropped %d of %d: %d before the burst, %d during it, %d after it (the last %.2f s "
                "in); sound blocks dropped %d; told it can't record in real time: %s\n",
                before + during + after, frames, before, during, after, lastDrop, refused, told ? "yes" : "no");
            std::printf(
                "  pictures repeated in the take %zu (dropped after they were taken %zu); finished %.2f s after "
                "the stop\n",
                recorder->repeatedPictures(),
                recorder->droppedFrames() - static_cast<std::size_t>(before + during + after), finishing);
        }
    }
    return 0;
}
