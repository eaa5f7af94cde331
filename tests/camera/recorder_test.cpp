// Takes: how they start (codec, bit rate, time-of-day timecode) and the movies the recorder writes, read back
// with ffprobe.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "camera/deck_copy.h"
#include "camera/movie_recorder.h"
#include "camera/recording_start.h"
#include "camera/take_recovery.h"
#include "camera/timecode_atoms.h"
#include "camera_like_pictures.h"
#include "cut_takes.h"
#include "platform/asset_probe.h"
#include "platform/sound_clock.h"
#include "platform/synthetic_source.h"
#include "recording/take_sync.h"
#include "scoped_env.h"
#include "temp_dir.h"
#include "test_files.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/timecode.h>
}

namespace morvane {
namespace {

TEST(Timecode, FormatsPerRate) {
    using F = TimecodeFormat;
    EXPECT_EQ(timecodeFormat(30, true), (F{1001, 30000, 30, 3}));
    EXPECT_EQ(timecodeFormat(60, true), (F{1001, 60000, 60, 3}));
    EXPECT_EQ(timecodeFormat(24, true), (F{1001, 24000, 24, 2}));
    EXPECT_EQ(timecodeFormat(25, true), (F{1, 25, 25, 2}));  // NTSC means nothing at 25
    EXPECT_EQ(timecodeFormat(30, false), (F{1, 30, 30, 2}));
    EXPECT_FALSE(timecodeFormat(0, false));
    EXPECT_FALSE(timecodeFormat(256, false));
    EXPECT_FALSE(timecodeFormat(std::nullopt, false));
}

TEST(Timecode, TimeOfDayFrames) {
    test::ScopedEnv tz("TZ", "UTC");
    tzset();
    const double noon = 1772712000;  // 2026-03-05 12:00:00 UTC
    // A frame captured now, at noon, on a 25 fps take.
    EXPECT_EQ(timeOfDayFrame(100.0, 0, 25, 100.0, noon), 1080000);
    // Captured 0.2 s before it was read.
    EXPECT_EQ(timeOfDayFrame(99.7, 0, 25, 100.0, noon), 1079992);
    // An offset of 2.5 s moves the number by ⌊2.5 × fps⌋ or one more.
    const double fps = 30000.0 / 1001;
    const int base = timeOfDayFrame(100.0, 0, fps, 100.0, noon + 0.37);
    const int moved = timeOfDayFrame(100.0, 2.5, fps, 100.0, noon + 0.37);
    EXPECT_TRUE(moved - base == 74 || moved - base == 75) << moved - base;
    // Frames per day at 29.97: 2589410; the last second of the day stays below it.
    EXPECT_LT(timeOfDayFrame(100.0, 0, fps, 100.0, noon + 12 * 3600 - 0.001), 2589410);
    EXPECT_EQ(timeOfDayFrame(NAN, 0, 25, 100.0, noon), 0);
    tzset();
}

TEST(RecordingStart, CodecAndBitRateDecisions) {
    const std::vector<VideoCodec> proRes{VideoCodec::proRes422HQ, VideoCodec::proRes422};
    auto hq30 = decideRecording(3840, 2160, false, VideoCodec::proRes422HQ, 30, true, proRes);
    ASSERT_TRUE(hq30.video);
    EXPECT_EQ(hq30.video->codec, MovieVideoSettings::Codec::proRes);
    EXPECT_EQ(hq30.video->proResProfile, 3);
    EXPECT_EQ(hq30.logLines, std::vector<std::string>{"ProRes 422 HQ 3840x2160 30 fps"});
    EXPECT_FALSE(hq30.infoMessage);

    auto hq60 = decideRecording(3840, 2160, false, VideoCodec::proRes422HQ, 60, true, proRes);
    EXPECT_EQ(hq60.logLines, std::vector<std::string>{"ProRes 422 HQ 3840x2160 60 fps"});
    EXPECT_EQ(hq60.infoMessage, "ProRes in 4K records up to 30 fps: recording HEVC");
    EXPECT_EQ(hq60.video->codec, MovieVideoSettings::Codec::hevc);
    EXPECT_EQ(hq60.video->averageBitRate, 89579520);

    EXPECT_EQ(decideRecording(1920, 1080, false, VideoCodec::proRes422, 120, true, proRes).video->codec,
              MovieVideoSettings::Codec::proRes);
    auto notWritable = decideRecording(1920, 1080, false, VideoCodec::proRes4444, 30, true, proRes);
    EXPECT_EQ(notWritable.video->codec, MovieVideoSettings::Codec::hevc);
    EXPECT_TRUE(notWritable.logLines.empty());

    auto hevc = decideRecording(3840, 2160, false, VideoCodec::hevc, 30, true, {});
    EXPECT_EQ(hevc.video->averageBitRate, 44789760);
    EXPECT_EQ(hevc.video->maxKeyframeIntervalSeconds, 1);
    auto tenBit = decideRecording(3840, 2160, true, VideoCodec::hevc, 30, true, {});
    EXPECT_EQ(tenBit.video->averageBitRate, 62208000);
    EXPECT_TRUE(tenBit.video->tenBit);
    auto slow = decideRecording(1920, 1080, false, VideoCodec::hevc, 15, true, {});
    EXPECT_EQ(slow.video->averageBitRate, averageBitRate(1920, 1080, 24, false));
    EXPECT_EQ(slow.video->expectedFrameRate, 15);

    auto noHevc = decideRecording(1920, 1080, true, VideoCodec::proRes422HQ, 30, false, proRes);
    EXPECT_FALSE(noHevc.video);
    EXPECT_EQ(noHevc.logLines, std::vector<std::string>{"no HEVC encoder for 10-bit frames"});
    auto h264 = decideRecording(1920, 1080, false, VideoCodec::hevc, 30, false, {});
    EXPECT_EQ(h264.video->codec, MovieVideoSettings::Codec::h264);
}

struct Take {
    int rate;
    bool ntsc;
    std::int32_t startFrame;
    std::string timecode;
    std::uint32_t flags;
    double sourceFps;  ///< the capture's own rate, which the movie does not follow
    std::string probedRate;
};

// A small H.264 take with sound at `rate`, written to `movie`.
MovieRecorder::Options smallTake(const std::filesystem::path& movie, int rate) {
    MovieRecorder::Options options;
    options.video.codec = MovieVideoSettings::Codec::h264;
    options.video.width = 320;
    options.video.height = 180;
    options.video.averageBitRate = 1'000'000;
    options.video.expectedFrameRate = rate;
    options.audio = MovieAudioSettings{};
    options.frameRate = rate;
    options.destination = movie;
    return options;
}

// A ProRes 422 HQ take of `width` x `height` with sound at 30 fps, written to `movie`.
MovieRecorder::Options proResTake(const std::filesystem::path& movie, int width, int height) {
    MovieRecorder::Options options = smallTake(movie, 30);
    options.video.codec = MovieVideoSettings::Codec::proRes;
    options.video.averageBitRate.reset();
    options.video.width = width;
    options.video.height = height;
    return options;
}

// `seconds` of pictures of `settings` at 30 fps from `t0` on, with sound throughout; false once the recorder takes
// no more (`pace`: real time between pictures).
bool feed(MovieRecorder& recorder, double seconds, double t0, SyntheticSource::Settings settings = {320, 180},
          double pace = 0) {
    for (int i = 0; i < std::lround(seconds * 30); ++i) {
        const double t = t0 + i / 30.0;
        if (!recorder.append(VideoFrame{SyntheticSource::makePicture(settings, i), t}) && recorder.failureReason())
            return false;
        recorder.appendAudio(AudioFrame{SyntheticSource::makeTone(settings, i * 1600, 1600), t});
        if (pace > 0) std::this_thread::sleep_for(std::chrono::duration<double>(pace));
    }
    return true;
}

class Recording : public ::testing::TestWithParam<Take> {};

TEST_P(Recording, MoviesCarryTheirTimecodeSoundAndRotation) {
    const Take take = GetParam();
    test::TempDir dir;
    MovieRecorder::Options options = smallTake(dir / "take.mov", take.rate);
    options.ntsc = take.ntsc;
    options.rotationDegrees = 90;
    options.startFrame = [&](double) { return take.startFrame; };
    options.queueLimit = 1000;  // frames arrive all at once here, not at their rate
    options.onDrive = true;
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    EXPECT_TRUE(recorder->isOnDrive());
    SyntheticSource::Settings s{.width = 320, .height = 180};
    const double fps = take.sourceFps;
    const double t0 = 1000.0;
    // Sound before the first picture is not written.
    EXPECT_FALSE(recorder->appendAudio(AudioFrame{SyntheticSource::makeTone(s, 0, 960), t0 - 0.1}));
    const int frames = static_cast<int>(std::lround(2 * fps));
    for (int i = 0; i < frames; ++i) {
        const double t = t0 + i / fps;
        ASSERT_TRUE(recorder->append(VideoFrame{SyntheticSource::makePicture(s, i), t}) || i > 0);
        if (i % 2 == 0) {
            const auto first = static_cast<std::int64_t>(std::lround((t - t0) * 48000));
            recorder->appendAudio(AudioFrame{SyntheticSource::makeTone(s, first, 1600), t});
        }
    }
    const auto duration = recorder->finish();
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 2.0, 0.05);
    EXPECT_EQ(readTimecodeFlags(dir / "take.mov"), take.flags);
    // The timecode counts exact frames of the movie's own rate.
    EXPECT_EQ(readTimecodeFormat(dir / "take.mov"), timecodeFormat(take.rate, take.ntsc));

    const std::string probe =
        test::commandOutput("ffprobe -v error -show_streams -of default=nw=1 '" + (dir / "take.mov").string() + "'");
    EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_type=audio"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_tag_string=tmcd"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:timecode=" + take.timecode), std::string::npos) << probe;
    EXPECT_NE(probe.find("rotation=-90"), std::string::npos) << probe;
    // At the recording rate, whatever the capture's rate: two seconds of frames, a picture repeated as a longer
    // sample.
    EXPECT_NE(probe.find("avg_frame_rate=" + take.probedRate), std::string::npos) << probe;
    const double movieFps = take.ntsc ? take.rate * 1000.0 / 1001 : take.rate;
    const std::string decoded =
        test::commandOutput("ffmpeg -v error -i '" + (dir / "take.mov").string() +
                            "' -map 0:v -vf fps=" + take.probedRate + " -f framecrc - | grep -vc '^#'");
    EXPECT_NEAR(std::atof(decoded.c_str()), 2 * movieFps, 1.5) << decoded;
}

INSTANTIATE_TEST_SUITE_P(Rates, Recording,
                         ::testing::Values(Take{30, true, 1294705, "12:00:00;01", 3u, 30000.0 / 1001, "30000/1001"},
                                           Take{24, true, 1036800, "12:00:00:00", 2u, 30, "24000/1001"},
                                           Take{25, false, 1080001, "12:00:00:01", 2u, 30, "25/1"},
                                           Take{60, true, 100, "00:00:01;40", 3u, 50, "60000/1001"},
                                           Take{30, false, 0, "00:00:00:00", 2u, 24, "30/1"}));

// Sound and picture of a take whose capture does not run smoothly, with what the written movie holds.
struct Span {
    double from, to;  ///< seconds after the first picture
};

// How the sound's blocks were read: as captured (stamped with their capture times), or by a device's reader that
// stamps them from its reads (`SoundClock`) as they come: in pairs, late by up to 24 ms, one in 50 late by 20 ms.
enum class Reads { captured, inPairs, jittered, oneLate };

struct Capture {
    const char* name;
    std::vector<Span> pictures;  ///< frames at the take's rate within each span
    std::vector<Span> sound;     ///< a block of sound every 20 ms within each span, with a click at each second
    double blockSeconds;         ///< each block's length: 0.02 back to back, longer overlaps the next one
    double length;               ///< of the picture and of the sound
    std::vector<Span> silent;    ///< stretches of the movie that must hold no sound
    std::vector<Span> sounding;  ///< stretches that must hold the tone whole, and its clicks in place
    Reads reads = Reads::captured;
    int rate = 30;
    bool ntsc = false;
    double slow = 0;  ///< the sound device's clock runs slow by this part: its samples last longer
};

void PrintTo(const Capture& capture, std::ostream* out) {
    *out << capture.name;
}

class SoundAndPicture : public ::testing::TestWithParam<Capture> {};

// Each stream's duration in seconds, by codec type, as ffprobe reads it from the file.
std::map<std::string, double> streamDurations(const std::filesystem::path& movie) {
    std::map<std::string, double> durations;
    std::istringstream lines(test::commandOutput(
        "ffprobe -v error -show_entries stream=codec_type,duration -of csv=p=0 '" + movie.string() + "'"));
    for (std::string line; std::getline(lines, line);) {
        const auto comma = line.find(',');
        if (comma != std::string::npos) durations[line.substr(0, comma)] = std::atof(line.c_str() + comma + 1);
    }
    return durations;
}

double rms(const std::vector<float>& samples, Span span) {
    const auto from = static_cast<std::size_t>(span.from * 48000);
    const auto to = std::min(samples.size(), static_cast<std::size_t>(span.to * 48000));
    if (from >= to) return -1;
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

// `count` samples of the tone from sample `first` on, with a 1 ms click at each whole second.
SharedFrame toneWithClicks(std::int64_t first, int count) {
    SharedFrame tone = SyntheticSource::makeTone({}, first, count);
    auto* samples = reinterpret_cast<float*>(tone->data[0]);
    for (std::int64_t i = first; i < first + count; ++i)
        if (i >= 0 && i % 48000 < 48) samples[i - first] = 0.9f;
    return tone;
}

TEST_P(SoundAndPicture, SoundLiesAtItsCaptureTimeAndEndsWithThePicture) {
    const Capture capture = GetParam();
    test::TempDir dir;
    MovieRecorder::Options options = smallTake(dir / "take.mov", capture.rate);
    options.ntsc = capture.ntsc;
    options.startFrame = [](double) { return 0; };
    options.queueLimit = 2000;  // everything is handed over at once here
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);

    // The capture as it happened, in the order in which it was read; the first picture opens the take.
    struct Event {
        double time;          ///< captured
        std::int64_t sample;  ///< the sound's first, as the device counts
        double read;
        bool picture;
    };
    std::vector<Event> events;
    const double frameSeconds = capture.ntsc ? 1.001 / capture.rate : 1.0 / capture.rate;
    for (const Span& span : capture.pictures)
        for (int i = 0; span.from + i * frameSeconds < span.to - 1e-9; ++i)
            events.push_back({span.from + i * frameSeconds, 0, span.from + i * frameSeconds, true});
    std::mt19937 random(3);
    std::uniform_real_distribution<double> late(0, 0.024);
    for (const Span& span : capture.sound) {
        for (int i = 0; span.from + i * 0.02 < span.to - 1e-9; ++i) {
            const double time = span.from + i * 0.02 * (1 + capture.slow), end = time + capture.blockSeconds;
            double read = end;
            if (capture.reads == Reads::inPairs) read = i % 2 ? end : end + 0.02;
            if (capture.reads == Reads::jittered) read = end + late(random);
            if (capture.reads == Reads::oneLate && i % 50 == 49) read = end + 0.02;
            if (!events.empty() && !events.back().picture) read = std::max(read, events.back().read);
            events.push_back(
                {time, static_cast<std::int64_t>(std::lround((span.from + i * 0.02) * 48000)), read, false});
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.read < b.read; });
    SyntheticSource::Settings s{.width = 320, .height = 180};
    const double t0 = 500.0;
    const int block = static_cast<int>(std::lround(capture.blockSeconds * 48000));
    SoundClock clock;
    std::deque<std::int64_t> held;  // blocks read but not yet laid by the clock
    int frame = 0;
    for (const Event& e : events) {
        if (e.picture) {
            ASSERT_TRUE(recorder->append(VideoFrame{SyntheticSource::makePicture(s, frame++), t0 + e.time}));
        } else {
            held.push_back(e.sample);
            const std::vector<double> stamps = capture.reads == Reads::captured
                                                   ? std::vector<double>{t0 + e.time}
                                                   : clock.stamp(t0 + e.read - capture.blockSeconds, block, 48000);
            for (const double stamp : stamps) {
                // Sound read before the first picture has no take to go to.
                EXPECT_EQ(recorder->appendAudio(AudioFrame{toneWithClicks(held.front(), block), stamp}), frame > 0);
                held.pop_front();
            }
        }
    }
    const auto length = recorder->finish();
    ASSERT_TRUE(length);
    EXPECT_NEAR(*length, capture.length, frameSeconds);

    const auto durations = streamDurations(dir / "take.mov");
    // What the shoot library's probe reads, and timelines declare, is what the movie holds: no sound given, no
    // sound track.
    const auto probed = AssetProbe::load(dir / "take.mov");
    ASSERT_TRUE(probed && probed->duration) << capture.name;
    EXPECT_NEAR(*probed->duration, *length, frameSeconds) << capture.name;
    EXPECT_EQ(probed->firstTrack(AssetProbe::Kind::audio) != nullptr, !capture.sound.empty()) << capture.name;
    ASSERT_EQ(durations.count("audio"), capture.sound.empty() ? 0u : 1u) << capture.name;
    if (capture.sound.empty()) return;
    ASSERT_TRUE(durations.count("video")) << capture.name;
    EXPECT_NEAR(durations.at("video"), capture.length, frameSeconds) << capture.name;
    EXPECT_NEAR(durations.at("audio"), durations.at("video"), frameSeconds) << capture.name;
    EXPECT_NEAR(durations.at("video"), *length, 0.001) << capture.name;

    const std::vector<float> sound = test::decodedSound(dir / "take.mov");
    for (const Span& span : capture.silent)
        EXPECT_LT(rms(sound, span), 0.01) << capture.name << " silent from " << span.from;
    for (const Span& span : capture.sounding) {
        // Whole: every 4 ms holds the tone.
        for (double at = span.from; at + 0.004 <= span.to; at += 0.004)
            EXPECT_GT(rms(sound, {at, at + 0.004}), 0.1) << capture.name << " sounding at " << at;
        // In place: each second's click lies with that second's picture (where blocks overlap, it is in two).
        for (double second = std::ceil(span.from + 0.05); capture.blockSeconds <= 0.02 && second < span.to - 0.05;
             ++second) {
            const auto from = static_cast<std::size_t>((second - 0.05) * 48000);
            std::size_t loudest = from;
            for (std::size_t i = from; i < std::min(sound.size(), from + 4800); ++i)
                if (std::abs(sound[i]) > std::abs(sound[loudest])) loudest = i;
            const double captured = second + (second - capture.sound.front().from) * capture.slow;
            EXPECT_NEAR(double(loudest) / 48000, captured, 0.0015) << capture.name << " click at " << second;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gaps, SoundAndPicture,
    ::testing::Values(
        Capture{"the whole capture stalls for 5 s",
                {{0, 2}, {7, 9}},
                {{0, 2}, {7, 9}},
                0.02,
                9,
                {{2.1, 6.9}},
                {{0.1, 1.9}, {7.1, 8.9}}},
        Capture{"the sound drops out for a second",
                {{0, 4}},
                {{0, 1.5}, {2.5, 4}},
                0.02,
                4,
                {{1.6, 2.4}},
                {{0.1, 1.4}, {2.6, 3.9}}},
        Capture{"blocks of sound overlap", {{0, 3}}, {{0, 3}}, 0.03, 3, {}, {{0.1, 2.9}}},
        Capture{"the sound stops before the picture", {{0, 3}}, {{0, 2}}, 0.02, 3, {{2.1, 2.95}}, {{0.1, 1.9}}},
        // The take ran on after the last picture came: the picture is carried on to its end.
        Capture{"the picture lags behind at the stop", {{0, 1}}, {{0, 3}}, 0.02, 3, {}, {{0.1, 2.9}}},
        Capture{"the picture stalls after a few frames", {{0, 0.1}}, {{0, 12.5}}, 0.02, 12.5, {}, {{0.1, 12.4}}},
        // A reader that ran before the take.
        Capture{"sound read in pairs", {{0, 4}}, {{-1, 4}}, 0.02, 4, {}, {{0.05, 3.95}}, Reads::inPairs, 30, true},
        Capture{"sound read late by up to 24 ms", {{0, 4}}, {{-1, 4}}, 0.02, 4, {}, {{0.05, 3.95}}, Reads::jittered},
        Capture{"one block in 50 read late", {{0, 4}}, {{-1, 4}}, 0.02, 4, {}, {{0.05, 3.95}}, Reads::oneLate},
        // Samples lost by the device: silence where they were lost, the sound after it in place at once.
        Capture{"200 ms of sound lost, 29.97 fps",
                {{0, 4}},
                {{-1, 2}, {2.2, 4}},
                0.02,
                4,
                {{2.005, 2.195}},
                {{0.05, 1.995}, {2.205, 3.95}},
                Reads::oneLate,
                30,
                true},
        Capture{"25 ms of sound lost, 50 fps",
                {{0, 4}},
                {{-1, 2}, {2.025, 4}},
                0.02,
                4,
                {{2.004, 2.021}},
                {{0.05, 1.995}, {2.03, 3.95}},
                Reads::oneLate,
                50},
        Capture{"20 ms of sound lost, 59.94 fps",
                {{0, 4}},
                {{-0.9, 2}, {2.02, 4}},
                0.02,
                4,
                {{2.004, 2.016}},
                {{0.05, 1.995}, {2.025, 3.95}},
                Reads::oneLate,
                60,
                true},
        // The first block began before the first picture, by nearly half a frame.
        // Losses close together, the sound between in place.
        Capture{"40 ms lost twice, 0.3 s apart, 59.94 fps",
                {{0, 5}},
                {{-0.99, 3.05}, {3.09, 3.35}, {3.39, 5}},
                0.02,
                5,
                {{3.054, 3.086}, {3.354, 3.386}},
                {{0.05, 3.045}, {3.095, 3.345}, {3.395, 4.95}},
                Reads::oneLate,
                60,
                true},
        Capture{"200 ms lost twice, 0.5 s apart, 29.97 fps",
                {{0, 5}},
                {{-0.99, 2.01}, {2.21, 2.51}, {2.71, 5}},
                0.02,
                5,
                {{2.015, 2.205}, {2.515, 2.705}},
                {{0.05, 2.005}, {2.215, 2.505}, {2.715, 4.95}},
                Reads::oneLate,
                30,
                true},
        Capture{"first block, 25 fps", {{0, 3}}, {{-0.0199, 3}}, 0.02, 3, {}, {{0, 2.95}}, Reads::captured, 25},
        Capture{
            "first block, 23.976 fps", {{0, 3}}, {{-0.0199, 3}}, 0.02, 3, {}, {{0, 2.95}}, Reads::captured, 24, true},
        Capture{"no sound at all", {{0, 2}}, {}, 0.02, 2, {}, {}},
        Capture{
            "sound clock 0.1 % slow", {{0, 5}}, {{0, 5}}, 0.02, 5, {}, {{0.1, 4.9}}, Reads::captured, 30, false, 1e-3}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

// A reader hands sound over after it was captured, so the sound of a take's last pictures comes while the take is
// being finished: it is waited for, for a while.
TEST(Recording, TheLastPicturesKeepTheirSound) {
    struct Case {
        const char* name;
        std::optional<double> lastSoundAfter;  ///< seconds after finishing began; none: it never comes
        bool sounding;                         ///< the take's last 50 ms hold the tone
        double delay = 0;     ///< the sound before the last 60 ms came in one block, begun this long before
        double until = 0.94;  ///< the sound handed over before finishing lasts until then
        bool told = false;    ///< the take says its sound could not be placed
    } cases[] = {
        {"read 300 ms after the stop, as it is held while a loss is confirmed", 0.3, true},
        {"never read", std::nullopt, false},
        {"read 1.9 s after the stop, from a source that hands over two seconds at a time", 1.9, true, 2},
        {"the microphone went silent 0.8 s before the stop", std::nullopt, false, 0, 0.14, true},
        {"the microphone gave nothing all take", std::nullopt, false, 0, 0, true},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        MovieRecorder::Options options = smallTake(dir / "take.mov", 30);
        options.queueLimit = 100;
        auto recorder = MovieRecorder::make(options);
        ASSERT_TRUE(recorder);
        // A second filmed just now, its last 60 ms of sound still to be read.
        const double t0 = hostTime() - 1;
        for (int i = 0; i < 30; ++i)
            recorder->append(VideoFrame{SyntheticSource::makePicture({.width = 320, .height = 180}, i), t0 + i / 30.0});
        if (c.delay > 0) {
            const auto first = std::lround((1 - c.delay) * 48000);
            recorder->appendAudio(
                AudioFrame{SyntheticSource::makeTone({}, first, static_cast<int>(47 * 960 - first)), t0 + 1 - c.delay});
        } else {
            for (int i = 0; i < std::lround(c.until / 0.02); ++i)
                recorder->appendAudio(AudioFrame{SyntheticSource::makeTone({}, i * 960, 960), t0 + i * 0.02});
        }
        std::thread reader([&] {
            if (!c.lastSoundAfter) return;
            std::this_thread::sleep_for(std::chrono::duration<double>(*c.lastSoundAfter));
            for (int i = 47; i < 50; ++i)
                recorder->appendAudio(AudioFrame{SyntheticSource::makeTone({}, i * 960, 960), t0 + i * 0.02});
        });
        const double began = hostTime();
        const auto length = recorder->finish();
        const double took = hostTime() - began;
        reader.join();
        ASSERT_TRUE(length) << c.name;
        EXPECT_NEAR(*length, 1, 0.001) << c.name;
        EXPECT_LT(took, std::max(1.5, c.lastSoundAfter.value_or(0) + 1.2)) << c.name;
        const std::vector<float> sound = test::decodedSound(dir / "take.mov");
        EXPECT_EQ(rms(sound, {0.9, 0.94}) > 0.1, c.until > 0.94 - 0.01) << c.name;
        EXPECT_EQ(rms(sound, {0.945, 0.995}) > 0.1, c.sounding) << c.name;
        EXPECT_EQ(recorder->soundEndLost(), c.told) << c.name;
    }
}

TEST(Recording, SettingsTheEncoderRefusesGiveNoRecorder) {
    test::TempDir dir;
    MovieRecorder::Options options;
    options.video.codec = MovieVideoSettings::Codec::h264;
    options.video.width = 321;  // odd: refused
    options.video.height = 180;
    options.destination = dir / "x.mov";
    EXPECT_FALSE(MovieRecorder::make(options));
    // Without a destination there is no take: never one in the system's temporary folder.
    options.video.width = 320;
    options.destination.reset();
    EXPECT_FALSE(MovieRecorder::make(options));
    options.destination = dir / "x.mov";
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    EXPECT_FALSE(recorder->isOnDrive());
    EXPECT_EQ(recorder->url(), dir / "x.mov");
    EXPECT_FALSE(recorder->finish());  // no frame: no movie
}

TEST(Recording, ATakeThatCannotBeConvertedIsNotSaved) {
    struct Case {
        const char* name;
        AVPixelFormat picture;
        AVSampleFormat sound;
        bool saved;
        bool soundLost;  ///< the take goes on without sound, and says so
        bool sounding;   ///< the movie has a sound track
    } cases[] = {
        {"pictures and sound it reads", AV_PIX_FMT_NV12, AV_SAMPLE_FMT_FLT, true, false, true},
        {"pictures the scaler cannot read", AV_PIX_FMT_VAAPI, AV_SAMPLE_FMT_FLT, false, false, false},
        {"sound the resampler cannot read", AV_PIX_FMT_NV12, AV_SAMPLE_FMT_NONE, true, true, false},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        MovieRecorder::Options options = smallTake(dir / "take.mov", 30);
        options.queueLimit = 100;
        auto recorder = MovieRecorder::make(options);
        ASSERT_TRUE(recorder);
        for (int i = 0; i < 10; ++i) {
            auto picture = SyntheticSource::makePicture({.width = 320, .height = 180}, i);
            picture->format = c.picture;
            recorder->append(VideoFrame{picture, 10 + i / 30.0});
            auto sound = SyntheticSource::makeTone({}, i * 1600, 1600);
            sound->format = c.sound;
            recorder->appendAudio(AudioFrame{sound, 10 + i / 30.0});
        }
        const auto duration = recorder->finish();
        EXPECT_EQ(duration.has_value(), c.saved) << c.name;
        EXPECT_EQ(recorder->soundLost(), c.soundLost) << c.name;
        if (!duration) continue;
        EXPECT_NEAR(*duration, 10 / 30.0, 0.01) << c.name;
        const auto tracks = streamDurations(dir / "take.mov");
        EXPECT_TRUE(tracks.count("video")) << c.name;
        EXPECT_EQ(tracks.count("audio"), c.sounding ? 1u : 0u) << c.name;
    }
}

// A take cut off (a crash, a kill, a power cut) as its files stand on the disk: copied while it is recorded.
struct Cut {
    const char* name;
    std::function<void(const std::filesystem::path& movie, const std::filesystem::path& journal)> damage;
    TakeRecovery::Outcome outcome = TakeRecovery::Outcome::finished;
    double atLeast = 0, atMost = 3.6;  ///< the finished take's length
    MovieVideoSettings::Codec codec = MovieVideoSettings::Codec::h264;
    /// Zero bytes written over the movie from this share of its size on (`zeroed` of them, its size kept): the take
    /// keeps the pictures that lie outside them, after them from the next key picture on.
    std::optional<double> zeroedAt;
    std::uintmax_t zeroed = 0;
    /// The journal's record of the picture at this share of its records, changed: that picture is passed over.
    std::optional<double> recordAt;
    std::function<void(JournalSample&)> changeRecord;
    /// The take's disk of its own, filled: room is left there only in the room the recorder kept (or none at all).
    enum class Room { enough, keptOnly, none } room = Room::enough;
    bool detailed = false;  ///< camera-like pictures, which fill the bit rate
    /// The finished take's sound: as journalled, with its decoder configuration written again, or left out.
    TakeRecovery::Sound sound = TakeRecovery::Sound::asJournalled;
};

void PrintTo(const Cut& cut, std::ostream* out) {
    *out << cut.name;
}

void truncateBy(const std::filesystem::path& file, std::uintmax_t bytes) {
    std::filesystem::resize_file(file, std::filesystem::file_size(file) - bytes);
}

// The journal's header length, as it lies after the magic and the version.
std::uintmax_t journalHeaderEnd(const std::filesystem::path& journal) {
    const std::string bytes = test::readFile(journal);
    std::uint32_t length = 0;
    if (bytes.size() >= 12) std::memcpy(&length, bytes.data() + 8, sizeof length);
    return 12 + length;
}

// Changes the journal's record of the picture at `share` of its records; its index.
std::size_t changeRecord(const std::filesystem::path& journal, double share,
                         const std::function<void(JournalSample&)>& change) {
    std::string bytes = test::readFile(journal);
    const auto samples = readJournal(bytes).samples;
    auto i = static_cast<std::size_t>(share * static_cast<double>(samples.size()));
    while (i < samples.size() && samples[i].stream != 0) ++i;
    if (i == samples.size()) return i;
    JournalSample sample = samples[i];
    change(sample);
    bytes.replace(journalHeaderEnd(journal) + 40 * i, 40, journalRecordBytes(sample));
    std::ofstream(journal, std::ios::binary | std::ios::trunc) << bytes;
    return i;
}

// Writes into `file` until its disk is full.
void fillDisk(const std::filesystem::path& file) {
    std::ofstream out(file, std::ios::binary);
    const std::string block(4096, '\x5a');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
    }
}

class CutOff : public ::testing::TestWithParam<Cut> {};

TEST_P(CutOff, ATakeCutOffIsFinishedFromItsJournal) {
    namespace fs = std::filesystem;
    using Outcome = TakeRecovery::Outcome;
    const Cut cut = GetParam();
    const double seconds = 3.5;  // of pictures handed over before the cut
    test::TempDir dir;
    fs::create_directory(dir / "cut");
    fs::create_directory(dir / "probe");
    struct Unmount {
        fs::path path;
        ~Unmount() {
            if (!path.empty()) ::umount2(path.c_str(), MNT_DETACH);
        }
    } unmount;
    if (cut.room != Cut::Room::enough) {
        if (::geteuid() != 0 || ::mount("tmpfs", (dir / "cut").c_str(), "tmpfs", 0, "size=4m") != 0)
            GTEST_SKIP() << "needs root to mount a small RAM disk";
        unmount.path = dir / "cut";
    }
    MovieRecorder::Options options = smallTake(dir / "take.mov", 30);
    options.ntsc = true;
    options.rotationDegrees = 90;
    options.clockOffset = 100;
    options.startFrame = [](double) { return 1294705; };
    options.queueLimit = 1000;
    options.video.codec = cut.codec;
    if (cut.codec == MovieVideoSettings::Codec::proRes) options.video.averageBitRate.reset();
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    const Date started = Date::now();
    if (cut.detailed) {
        const auto pictures = test::cameraLikePictures(320, 180, 30);
        const double t0 = hostTime();
        for (int i = 0; i < std::lround(seconds * 30); ++i) {
            ASSERT_TRUE(recorder->append(VideoFrame{pictures[std::size_t(i % 30)], t0 + i / 30.0}));
            recorder->appendAudio(AudioFrame{SyntheticSource::makeTone({}, i * 1600, 1600), t0 + i / 30.0});
        }
    } else {
        ASSERT_TRUE(feed(*recorder, seconds, hostTime()));
    }
    // The files as a kill leaves them: the journal first, whose samples are in the movie by then, and the room
    // kept for the index.
    const auto copyCut = [&](const fs::path& movie) {
        fs::copy_file(journalOf(dir / "take.mov"), journalOf(movie), fs::copy_options::overwrite_existing);
        fs::copy_file(dir / "take.mov", movie, fs::copy_options::overwrite_existing);
        fs::copy_file(reserveOf(dir / "take.mov"), reserveOf(movie), fs::copy_options::overwrite_existing);
    };
    // Until the recorder has written what it was handed (a second at most is not in the journal yet).
    for (int i = 0; i < 200; ++i) {
        copyCut(dir / "probe" / "take.mov");
        auto probe = recoverTake(dir / "probe" / "take.mov").take;
        if (probe && probe->duration >= seconds - 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const fs::path movie = dir / "cut" / "take.mov", journal = journalOf(movie);
    copyCut(movie);
    if (cut.damage) cut.damage(movie, journal);
    std::uintmax_t zeroedFrom = UINTMAX_MAX, zeroedTo = zeroedFrom;
    if (cut.zeroedAt) {
        zeroedFrom = static_cast<std::uintmax_t>(*cut.zeroedAt * static_cast<double>(fs::file_size(movie)));
        zeroedTo = std::min(zeroedFrom + cut.zeroed, fs::file_size(movie));
        test::zero(movie, zeroedFrom, cut.zeroed);
        EXPECT_GT(test::lengthBefore(journal, zeroedFrom), 0) << "the damage lies after the first picture";
    }
    std::optional<std::size_t> changed;
    if (cut.recordAt) changed = changeRecord(journal, *cut.recordAt, cut.changeRecord);
    test::KeptOfTake expected;
    if (fs::exists(journal) && cut.outcome == Outcome::finished) {
        const auto movieSize = fs::file_size(movie);
        expected = test::keptOf(journal, [&](std::size_t i, const JournalSample& s) {
            const auto from = static_cast<std::uintmax_t>(s.offset), to = from + static_cast<std::uintmax_t>(s.size);
            return i == changed || to > movieSize || (to > zeroedFrom && from < zeroedTo) ||
                   (s.stream != 0 && cut.sound == TakeRecovery::Sound::leftOut);
        });
    }
    if (cut.room == Cut::Room::none) fs::remove(reserveOf(movie));
    if (cut.room != Cut::Room::enough) fillDisk(dir / "cut" / "filler");
    const auto files = [&] {
        std::map<fs::path, std::string> contents;
        for (const auto& entry : fs::directory_iterator(dir / "cut"))
            if (entry.path().filename() != "filler") contents[entry.path().filename()] = test::readFile(entry.path());
        return contents;
    };
    const auto before = files();
    const bool journalReads =
        fs::exists(journal) && readJournal(test::readFile(journal)).state == JournalReader::State::whole;

    auto recovered = recoverTake(movie);
    EXPECT_EQ(recovered.outcome, cut.outcome);
    // A take not finished is named by when it started, as its journal has it.
    EXPECT_EQ(recovered.startDate.has_value(), journalReads);
    if (recovered.startDate) {
        EXPECT_NEAR(recovered.startDate->timeIntervalSince(started), 100, 2);
    }
    EXPECT_EQ(recovered.take.has_value(), cut.outcome == Outcome::finished);
    if (cut.outcome == Outcome::wantsRoom) {
        EXPECT_EQ(files(), before) << "movie, journal and kept room as they were";
        // Room is made: the next try finishes it.
        fs::remove(dir / "cut" / "filler");
        recovered = recoverTake(movie);
        EXPECT_EQ(recovered.outcome, Outcome::finished);
    } else if (cut.outcome == Outcome::leftAlone) {
        EXPECT_EQ(files(), before) << "movie, journal and kept room as they were";
    } else if (cut.outcome == Outcome::setAside) {
        // Renamed aside with its journal, their bytes as they were; the kept room holds no footage.
        EXPECT_EQ(recovered.setAsideAs, dir / "cut" / "take.mov.unfinished");
        std::map<fs::path, std::string> aside{{"take.mov.unfinished", before.at("take.mov")}};
        if (before.count(".take.mov.journal")) aside[".take.mov.unfinished.journal"] = before.at(".take.mov.journal");
        EXPECT_EQ(files(), aside);
    } else if (cut.outcome == Outcome::removed) {
        EXPECT_TRUE(fs::is_empty(dir / "cut")) << "nothing left behind";
    }
    if (recovered.take && cut.outcome != Outcome::wantsRoom) {
        const auto& take = *recovered.take;
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_FALSE(fs::exists(reserveOf(movie)));
        EXPECT_EQ(take.movie, movie);
        EXPECT_GE(take.duration, cut.atLeast);
        EXPECT_LE(take.duration, cut.atMost);
        // The pictures that lie whole, the gaps between them held by the picture before, the last one carried to
        // the end of the sound.
        EXPECT_NEAR(take.duration, expected.length, 1.001 / 30);
        EXPECT_NEAR(recovered.passedOver, expected.passedOver * 1.001 / 30, 0.001);
        EXPECT_EQ(recovered.sound, cut.sound);
        // Told only what was left out.
        const auto told = TakeRecovery::message(recovered, "Take");
        ASSERT_TRUE(told);
        EXPECT_EQ(told->find("the picture before them stays on screen") != std::string::npos, expected.passedOver > 0)
            << *told;
        EXPECT_EQ(told->find("without its sound") != std::string::npos, cut.sound == TakeRecovery::Sound::leftOut)
            << *told;
        EXPECT_EQ(take.startFrame, 1294705);
        EXPECT_EQ(take.frameRate, 30);
        EXPECT_TRUE(take.ntsc);
        // The date of the first picture on the shared clock, as a finished take's description has it.
        EXPECT_NEAR(take.startDate.timeIntervalSince(started), 100, 2);
        const std::string probe =
            test::commandOutput("ffprobe -v error -show_streams -of default=nw=1 '" + movie.string() + "'");
        EXPECT_EQ(probe.find("codec_type=audio") != std::string::npos, cut.sound != TakeRecovery::Sound::leftOut)
            << probe;
        EXPECT_NE(probe.find("codec_tag_string=tmcd"), std::string::npos) << probe;
        EXPECT_NE(probe.find("TAG:timecode=12:00:00;01"), std::string::npos) << probe;
        EXPECT_NE(probe.find("rotation=-90"), std::string::npos) << probe;
        EXPECT_EQ(readTimecodeFlags(movie), 3u);
        // Every picture kept decodes, and nothing damaged is in the take.
        const std::string decoded = test::commandOutput("ffmpeg -v error -i '" + movie.string() +
                                                        "' -map 0:v -f framecrc - 2>&1 | grep -vc '^#'");
        EXPECT_EQ(std::atoi(decoded.c_str()), expected.pictures) << decoded;
        EXPECT_EQ(test::commandOutput("ffmpeg -v error -i '" + movie.string() + "' -f null - 2>&1"), "");
        EXPECT_NEAR(streamDurations(movie)["video"], take.duration, 0.05);
    }
    // The take recorded on finishes as any other and leaves no journal.
    ASSERT_TRUE(recorder->finish());
    EXPECT_FALSE(fs::exists(journalOf(dir / "take.mov")));
    EXPECT_FALSE(fs::exists(reserveOf(dir / "take.mov")));
    EXPECT_EQ(readTimecodeFlags(dir / "take.mov"), 3u);
}

using Outcome = TakeRecovery::Outcome;
const auto h264 = MovieVideoSettings::Codec::h264;
const auto hevc = MovieVideoSettings::Codec::hevc;
const auto proRes = MovieVideoSettings::Codec::proRes;
const auto enough = Cut::Room::enough, keptOnly = Cut::Room::keptOnly, none = Cut::Room::none;

// Two bytes of the picture's decoder configuration (its extradata, after its length: here in HEVC's sequence
// parameters) damaged in the journal.
void damageDecoderConfiguration(const std::filesystem::path&, const std::filesystem::path& journal) {
    std::fstream file(journal, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(12 + 43 + 2 + 27 * 8 + 16 + 4 + 44);  // after the camera's name (2 bytes: none)
    file.write("\xff\xff", 2);
}

// The journal's header changed, its records as they were.
void changeJournalHeader(const std::filesystem::path& journal, const std::function<void(JournalHeader&)>& change) {
    const std::string bytes = test::readFile(journal);
    auto contents = readJournal(bytes);
    change(contents.header);
    const std::string records = bytes.substr(journalHeaderEnd(journal));
    std::ofstream(journal, std::ios::binary | std::ios::trunc) << journalHeaderBytes(contents.header) + records;
}

// Two bytes of the sound's decoder configuration damaged in the journal: an object type no decoder has.
void damageSoundConfiguration(const std::filesystem::path&, const std::filesystem::path& journal) {
    changeJournalHeader(journal, [](JournalHeader& header) {
        AVCodecParameters& sound = *header.streams.at(1).parameters;
        ASSERT_GE(sound.extradata_size, 2);
        sound.extradata[0] = 0xb1;
        sound.extradata[1] = 0x90;
    });
}

const auto rebuilt = TakeRecovery::Sound::rebuilt, leftOut = TakeRecovery::Sound::leftOut;

INSTANTIATE_TEST_SUITE_P(
    Takes, CutOff,
    ::testing::Values(
        Cut{"after 3.5 s", nullptr, Outcome::finished, 2.5},
        Cut{"HEVC after 3.5 s", nullptr, Outcome::finished, 2.5, 3.6, hevc},
        Cut{"ProRes after 3.5 s", nullptr, Outcome::finished, 2.5, 3.6, proRes},
        Cut{"in the middle of a journal record", [](const auto&, const auto& journal) { truncateBy(journal, 17); },
            Outcome::finished, 2.4},
        Cut{"before the movie's last samples reached the disk",
            [](const auto& movie, const auto&) { truncateBy(movie, std::filesystem::file_size(movie) / 2); },
            Outcome::finished, 0.5},
        Cut{"with a record that lies outside the movie",
            [](const auto&, const auto& journal) {
                std::ofstream(journal, std::ios::app | std::ios::binary) << std::string(40, '\x7f');
            },
            Outcome::finished, 2.5},
        // Damage on the disk: the pictures outside it are kept (after it from the next key picture on), and nothing
        // damaged is.
        Cut{"with 64 KB zeroed at a third", nullptr, Outcome::finished, 2.5, 3.6, h264, 1 / 3.0, 64 << 10,
            std::nullopt, nullptr, enough, true},
        Cut{"HEVC with 64 KB zeroed at a third", nullptr, Outcome::finished, 2.5, 3.6, hevc, 1 / 3.0, 64 << 10,
            std::nullopt, nullptr, enough, true},
        Cut{"ProRes with 64 KB zeroed at a third", nullptr, Outcome::finished, 2.5, 3.6, proRes, 1 / 3.0, 64 << 10},
        Cut{"with its tail zeroed", nullptr, Outcome::finished, 0, 3.6, h264, 0.5, 1 << 30},
        Cut{"ProRes with its tail zeroed", nullptr, Outcome::finished, 0, 3.6, proRes, 0.5, 1 << 30},
        // A record whose times do not follow: its picture is passed over as a damaged one.
        Cut{"with a record whose time goes back", nullptr, Outcome::finished, 2.5, 3.6, h264, std::nullopt, 0, 0.6,
            [](JournalSample& s) { s.pts = s.dts = 0; }},
        Cut{"with a record of a huge duration", nullptr, Outcome::finished, 2.5, 3.6, h264, std::nullopt, 0, 0.6,
            [](JournalSample& s) { s.duration = std::int64_t(1) << 40; }},
        // A full disk: the room kept for the index is used; without it, the take waits for room.
        Cut{"on a disk with no room but what was kept for it", nullptr, Outcome::finished, 2.5, 3.6, h264,
            std::nullopt, 0, std::nullopt, nullptr, keptOnly},
        Cut{"on a full disk", nullptr, Outcome::wantsRoom, 0, 3.6, h264, std::nullopt, 0, std::nullopt, nullptr, none},
        // Nothing of it can be finished: kept aside with its journal, never removed.
        Cut{"with its first 4 KB zeroed", [](const auto& movie, const auto&) { test::zero(movie, 0, 4096); },
            Outcome::setAside},
        Cut{"before its journal listed a sample",
            [](const auto&, const auto& journal) { std::filesystem::resize_file(journal, journalHeaderEnd(journal)); },
            Outcome::setAside},
        Cut{"in the journal's header",
            [](const auto&, const auto& journal) { truncateBy(journal, std::filesystem::file_size(journal) - 30); },
            Outcome::setAside},
        Cut{"with a journal of garbage",
            [](const auto&, const auto& journal) {
                std::mt19937 random(7);
                std::string bytes(std::filesystem::file_size(journal), '\0');
                for (char& c : bytes) c = static_cast<char>(random());
                std::ofstream(journal, std::ios::binary) << bytes;
            },
            Outcome::setAside},
        Cut{"with garbage after the journal's marks",
            [](const auto&, const auto& journal) {
                std::fstream file(journal, std::ios::in | std::ios::out | std::ios::binary);
                std::mt19937 random(11);
                file.seekp(12);
                for (int i = 0; i < 400; ++i) file.put(static_cast<char>(random()));
            },
            Outcome::setAside},
        Cut{"with one more field in the journal's header",
            [](const auto&, const auto& journal) {
                std::string bytes = test::readFile(journal);
                std::uint32_t length = 0;
                std::memcpy(&length, bytes.data() + 8, sizeof length);
                length += 8;
                std::memcpy(bytes.data() + 8, &length, sizeof length);
                bytes.insert(12 + 16, std::string(8, '\x01'));
                std::ofstream(journal, std::ios::binary | std::ios::trunc) << bytes;
            },
            Outcome::setAside},
        Cut{"with its journal's data start beyond the movie",
            [](const auto& movie, const auto& journal) {
                std::fstream file(journal, std::ios::in | std::ios::out | std::ios::binary);
                const auto beyond = static_cast<std::int64_t>(std::filesystem::file_size(movie)) + 4096;
                file.seekp(12 + 34);
                file.write(reinterpret_cast<const char*>(&beyond), sizeof beyond);
            },
            Outcome::setAside},
        Cut{"HEVC with two bytes of its decoder configuration damaged", damageDecoderConfiguration, Outcome::setAside,
            0, 3.6, hevc},
        Cut{"without its journal", [](const auto&, const auto& journal) { std::filesystem::remove(journal); },
            Outcome::setAside},
        // The sound's decoder configuration damaged: written again from the journal's rate and channels, or, when
        // they cannot make one either, the take is kept without its sound.
        Cut{.name = "with two bytes of its sound's decoder configuration damaged",
            .damage = damageSoundConfiguration,
            .atLeast = 2.5,
            .sound = rebuilt},
        Cut{.name = "HEVC with two bytes of its sound's decoder configuration damaged",
            .damage = damageSoundConfiguration,
            .atLeast = 2.5,
            .codec = hevc,
            .sound = rebuilt},
        Cut{.name = "ProRes with two bytes of its sound's decoder configuration damaged",
            .damage = damageSoundConfiguration,
            .atLeast = 2.5,
            .codec = proRes,
            .sound = rebuilt},
        Cut{.name = "with its sound's decoder configuration and channels damaged",
            .damage =
                [](const auto& movie, const auto& journal) {
                    damageSoundConfiguration(movie, journal);
                    changeJournalHeader(journal, [](JournalHeader& header) {
                        av_channel_layout_uninit(&header.streams.at(1).parameters->ch_layout);
                        av_channel_layout_default(&header.streams.at(1).parameters->ch_layout, 7);
                    });
                },
            .atLeast = 2.5,
            .sound = leftOut},
        // Records listed again are no damage: each stretch of time counts once.
        Cut{.name = "with its records listed again",
            .damage =
                [](const auto&, const auto& journal) {
                    const auto start = journalHeaderEnd(journal);
                    std::filesystem::resize_file(journal, start + (std::filesystem::file_size(journal) - start) / 40 * 40);
                    const std::string records = test::readFile(journal).substr(start);
                    std::ofstream(journal, std::ios::app | std::ios::binary) << records << records;
                },
            .atLeast = 2.5},
        // Of another layout: neither file is touched.
        Cut{"with a journal of another version",
            [](const auto&, const auto& journal) { test::changeJournalVersion(journal); }, Outcome::leftAlone},
        Cut{"before the movie was made", [](const auto& movie, const auto&) { std::filesystem::remove(movie); },
            Outcome::removed}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(Recording, JournalsAreKnownByTheirNamesAndTheIndexKeepsItsRoom) {
    const struct {
        const char* file;
        std::optional<std::string> movie;
    } names[] = {
        {"/takes/.Take 12.mov.journal", "/takes/Take 12.mov"},
        {"/takes/Take 12.mov", std::nullopt},
        {"/takes/.Take 12.mov.reserve", std::nullopt},
        {"/takes/.journal", std::nullopt},
        {"/takes/..journal", std::nullopt},
        {"/takes/.mov.journal", "/takes/mov"},
        {"/takes/Take.mov.journal", std::nullopt},
    };
    for (const auto& n : names) {
        const auto movie = movieOfJournal(n.file);
        EXPECT_EQ(movie ? std::optional<std::string>(movie->string()) : std::nullopt, n.movie) << n.file;
        if (n.movie) {
            EXPECT_EQ(journalOf(*n.movie), n.file);
        }
    }
    EXPECT_EQ(movieOfReserve("/takes/.Take 12.mov.reserve"), "/takes/Take 12.mov");
    EXPECT_EQ(reserveOf("/takes/Take 12.mov"), "/takes/.Take 12.mov.reserve");
    EXPECT_EQ(movieOfReserve("/takes/.Take 12.mov.journal"), std::nullopt);
    // Room for about 32 bytes of index a sample beyond the movie's buffer (1 MiB) and the fixed parts, in steps of
    // 256 KiB (the last row: an hour at 29.97 fps with sound).
    const struct {
        std::int64_t samples, room;
    } rooms[] = {{0, 5 * (256 << 10)},
                 {2048, 5 * (256 << 10)},
                 {2049, 6 * (256 << 10)},
                 {10240, 6 * (256 << 10)},
                 {276750, 39 * (256 << 10)}};
    for (const auto& r : rooms) EXPECT_EQ(MovieRecorder::roomForIndex(r.samples), r.room) << r.samples;
}

// A 3 MB disk of its own (a RAM disk) for the take: it fills during the take, or while what was handed over before
// the stop is still being written, when the owner has already let the take go.
TEST(Recording, AFullDiskEndsTheTakeAndKeepsWhatWasWritten) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        bool atOnce;  ///< every picture handed over before the take is finished, none waiting for the one before
        bool afterStop;
    } cases[] = {{"the disk fills during the take", false, false}, {"the disk fills after the stop", true, true}};
    for (const auto& c : cases) {
        test::TempDir dir;
        if (::geteuid() != 0 || ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=3m") != 0)
            GTEST_SKIP() << "needs root to mount a small RAM disk";
        struct Unmount {
            fs::path path;
            ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
        } unmount{dir.path()};
        MovieRecorder::Options options = proResTake(dir / "take.mov", 640, 360);
        if (c.atOnce) options.queueLimit = 1000;
        auto recorder = MovieRecorder::make(options);
        ASSERT_TRUE(recorder);
        if (c.atOnce) {
            std::vector<SharedFrame> pictures;
            for (int i = 0; i < 30; ++i) pictures.push_back(SyntheticSource::makePicture({640, 360}, i));
            for (int i = 0; i < 900; ++i)
                ASSERT_TRUE(recorder->append(VideoFrame{pictures[std::size_t(i % 30)], 10 + i / 30.0})) << c.name;
        } else {
            EXPECT_FALSE(feed(*recorder, 30, hostTime(), {640, 360}, 0.005)) << c.name;
            EXPECT_EQ(recorder->failureReason(), "the disk is full") << c.name;
        }
        const auto duration = recorder->finish();
        EXPECT_EQ(recorder->failureReason(), "the disk is full") << c.name;
        EXPECT_EQ(recorder->failedAfterStop(), c.afterStop) << c.name;
        ASSERT_TRUE(duration) << c.name;
        EXPECT_GT(*duration, 0.3) << c.name;
        EXPECT_LT(*duration, 29) << c.name;
        EXPECT_NEAR(streamDurations(dir / "take.mov")["video"], *duration, 0.05) << c.name;
        EXPECT_EQ(test::commandOutput("ffmpeg -v error -i '" + (dir / "take.mov").string() + "' -f null - 2>&1"), "")
            << c.name;
        EXPECT_EQ(readTimecodeFlags(dir / "take.mov"), std::nullopt);  // no rate given: no timecode
        EXPECT_FALSE(fs::exists(journalOf(dir / "take.mov"))) << c.name;
        EXPECT_FALSE(fs::exists(reserveOf(dir / "take.mov"))) << c.name;
    }
}

// The take's files as a kill leaves them, copied into `into`; the copy of the movie.
std::filesystem::path copyAsKilled(const std::filesystem::path& movie, const std::filesystem::path& into) {
    namespace fs = std::filesystem;
    const auto over = fs::copy_options::overwrite_existing;
    fs::copy_file(journalOf(movie), journalOf(into / movie.filename()), over);
    fs::copy_file(movie, into / movie.filename(), over);
    fs::copy_file(reserveOf(movie), reserveOf(into / movie.filename()), over);
    return into / movie.filename();
}

// A camera unplugged during a take: its microphone goes on, and what it records reaches the disk as the pictures
// did, although no picture comes and the last one is carried only so far while recording.
TEST(Recording, TheJournalFollowsTheSoundWhenThePicturesStop) {
    test::TempDir dir;
    std::filesystem::create_directory(dir / "cut");
    MovieRecorder::Options options = smallTake(dir / "take.mov", 30);
    options.queueLimit = 2000;
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    const SyntheticSource::Settings s{.width = 320, .height = 180};
    for (int i = 0; i < 60; ++i) recorder->append(VideoFrame{SyntheticSource::makePicture(s, i), 100 + i / 30.0});
    for (int i = 0; i < 1500; ++i)
        ASSERT_TRUE(recorder->appendAudio(AudioFrame{SyntheticSource::makeTone(s, i * 960, 960), 100 + i * 0.02}));
    // Until the recorder has written the 30 s of sound (a second at most is not in the journal yet).
    double sound = 0, pictures = 0, length = 0;
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
         sound < 28.5 && std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
        const auto cut = copyAsKilled(dir / "take.mov", dir / "cut");
        if (const auto take = recoverTake(cut).take) {
            auto tracks = streamDurations(cut);
            sound = tracks["audio"], pictures = tracks["video"], length = take->duration;
        }
    }
    EXPECT_GE(sound, 28.5);
    // Finished as if it had been stopped then: its last picture carried on to the end of its sound.
    EXPECT_NEAR(length, sound, 0.05);
    EXPECT_NEAR(pictures, sound, 0.05);
    EXPECT_TRUE(recorder->finish());
}

// Whether a descriptor is the movie's (not its journal's).
bool isMovie(int descriptor) {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(descriptor), ec).extension() == ".mov";
}

// A disk that takes its time to bring what was written onto it: the thread that compresses goes on meanwhile, and
// no picture or sound handed over in real time is dropped.
TEST(Recording, TheDiskIsWaitedForOffTheCompressingThread) {
    test::TempDir dir;
    MovieRecorder::Options options = smallTake(dir / "take.mov", 30);
    std::atomic<int> syncs = 0;
    options.sync = [&](int descriptor) {
        ++syncs;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return ::fdatasync(descriptor);
    };
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    const SyntheticSource::Settings s{.width = 320, .height = 180};
    const double t0 = hostTime();
    int refusedSound = 0;
    for (int i = 0; i < 120; ++i) {
        const double t = t0 + i / 30.0;
        std::this_thread::sleep_for(std::chrono::duration<double>(t - hostTime()));
        recorder->append(VideoFrame{SyntheticSource::makePicture(s, i), t});
        if (!recorder->appendAudio(AudioFrame{SyntheticSource::makeTone(s, i * 1600, 1600), t})) ++refusedSound;
    }
    EXPECT_EQ(recorder->droppedFrames(), 0u);
    EXPECT_EQ(refusedSound, 0);
    EXPECT_GE(syncs, 1);
    const auto duration = recorder->finish();
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 4, 0.05);
}

// The journal lists only samples whose bytes are on the disk: a sync of the movie that fails keeps nothing after it.
TEST(Recording, AFailedSyncIsNotTakenAsKept) {
    const struct {
        const char* name;
        int failsFrom;  ///< the movie's first sync that fails
        std::optional<double> keptAtMost;
    } cases[] = {
        {"every sync of the movie fails", 1, std::nullopt},
        {"the movie's syncs fail from the third", 3, 2.5},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        std::filesystem::create_directory(dir / "cut");
        MovieRecorder::Options options = smallTake(dir / "take.mov", 30);
        std::atomic<int> movieSyncs = 0;
        options.sync = [&](int descriptor) {
            if (isMovie(descriptor) && ++movieSyncs >= c.failsFrom) {
                errno = EIO;
                return -1;
            }
            return ::fdatasync(descriptor);
        };
        auto recorder = MovieRecorder::make(options);
        ASSERT_TRUE(recorder);
        // In real time, a second of the take at a time reaching the disk.
        ASSERT_TRUE(feed(*recorder, 5, hostTime(), {320, 180}, 1 / 30.0));
        for (int i = 0; i < 400 && movieSyncs < c.failsFrom; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_GE(movieSyncs, c.failsFrom) << c.name;
        const auto cut = recoverTake(copyAsKilled(dir / "take.mov", dir / "cut")).take;
        EXPECT_EQ(cut.has_value(), c.keptAtMost.has_value()) << c.name;
        if (cut && c.keptAtMost) {
            EXPECT_LE(cut->duration, *c.keptAtMost) << c.name;
        }
        EXPECT_TRUE(recorder->finish()) << c.name;  // the take itself is kept all the same
    }
}

// The movie's bytes are brought to the disk before the journal's records of them, and after a sync that failed
// nothing more is written or brought: the journal lists only what is known to be on the disk.
TEST(TakeSync, TheMovieGoesFirstAndAFailedSyncEndsIt) {
    const struct {
        const char* name;
        int failing;  ///< the sync (counted from 1) that fails; 0: none
        std::string first,
            second;           ///< the syncs for the first records and for the next: the movie 'm', the journal 'j'
        std::string journal;  ///< what the journal holds at the end
    } rows[] = {
        {"every sync succeeds", 0, "mj", "mj", "AB"},
        {"the movie's first sync fails", 1, "m", "", ""},
        {"the journal's first sync fails", 2, "mj", "", "A"},
        {"the movie's second sync fails", 3, "mj", "m", "A"},
    };
    for (const auto& row : rows) {
        test::TempDir dir;
        const int movie = ::open((dir / "take.mov").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        const int journal = ::open((dir / "take.journal").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_TRUE(movie >= 0 && journal >= 0);
        std::mutex lock;
        std::condition_variable synced;
        std::string calls;
        {
            TakeSync sync(movie, journal, [&](int descriptor) {
                std::lock_guard hold(lock);
                calls += descriptor == movie ? 'm' : 'j';
                synced.notify_all();
                return static_cast<int>(calls.size()) == row.failing ? -1 : 0;
            });
            sync.keep("A");
            {
                std::unique_lock hold(lock);
                EXPECT_TRUE(synced.wait_for(hold, std::chrono::seconds(30), [&] { return calls == row.first; }))
                    << row.name << ": " << calls;
            }
            sync.keep("B");
        }  // what was handed over is brought before it ends
        EXPECT_EQ(calls, row.first + row.second) << row.name;
        EXPECT_EQ(test::readFile(dir / "take.journal"), row.journal) << row.name;
        ::close(movie);
        ::close(journal);
    }
}

// Write calls the program has made.
double writeCalls() {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        double value = 0;
        io >> value;
        if (key == "syscw:") return value;
    }
    return 0;
}

// ProRes's tens of megabytes a second reach the file system in large pieces, not picture by picture.
TEST(Recording, TheMovieIsWrittenInLargePieces) {
    test::TempDir dir;
    MovieRecorder::Options options = proResTake(dir / "take.mov", 1280, 720);
    options.queueLimit = 1000;
    std::vector<SharedFrame> pictures;
    for (int i = 0; i < 30; ++i) pictures.push_back(SyntheticSource::makePicture({1280, 720}, i));
    const double before = writeCalls();
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    for (int i = 0; i < 90; ++i) {
        recorder->append(VideoFrame{pictures[std::size_t(i % 30)], 10 + i / 30.0});
        recorder->appendAudio(AudioFrame{SyntheticSource::makeTone({}, i * 1600, 1600), 10 + i / 30.0});
    }
    const auto duration = recorder->finish();
    ASSERT_TRUE(duration);
    const double megabytes = double(std::filesystem::file_size(dir / "take.mov")) / 1e6;
    EXPECT_GT(megabytes, 3);
    EXPECT_LT(writeCalls() - before, 10 * *duration) << megabytes << " MB";
}

// Process time so far, every thread's.
double processSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A take whose pictures come with gaps: every slot holds a picture of its own at the take's rate, one frame long, and
// the empty ones repeat the picture before at little cost, so that a recorder behind its capture catches up: an
// intra-coded picture as written, an inter-coded one coded as unchanged (H.264: compressed again).
TEST(Recording, EmptySlotsRepeatWhatWasWritten) {
    const struct {
        MovieVideoSettings::Codec codec;
        bool cheap;  ///< a repeat costs little and decodes to the very picture before (H.264: compressed again)
    } cases[] = {{MovieVideoSettings::Codec::proRes, true},
                 {MovieVideoSettings::Codec::hevc, true},
                 {MovieVideoSettings::Codec::h264, false}};
    std::vector<SharedFrame> pictures;
    for (int i = 0; i < 30; ++i) pictures.push_back(SyntheticSource::makePicture({640, 360}, i));
    for (const auto& c : cases) {
        // Five seconds at 30 fps: every slot a picture, or a picture every half second.
        const auto record = [&](const std::filesystem::path& movie, int every) {
            MovieRecorder::Options options = proResTake(movie, 640, 360);
            options.video.codec = c.codec;
            if (c.codec != MovieVideoSettings::Codec::proRes) options.video.averageBitRate = 2'000'000;
            options.audio.reset();
            options.queueLimit = 1000;
            const double before = processSeconds();
            auto recorder = MovieRecorder::make(options);
            if (!recorder) return -1.0;
            for (int i = 0; i <= 150; i += every)
                recorder->append(VideoFrame{pictures[std::size_t(i % 30)], 10 + i / 30.0});
            if (!recorder->finish()) return -1.0;
            EXPECT_EQ(recorder->repeatedPictures(), every == 1 ? 0u : 140u);
            return processSeconds() - before;
        };
        test::TempDir dir;
        const auto movie = dir / "gaps.mov";
        const double gaps = record(movie, 15);
        ASSERT_GT(gaps, 0);
        // One picture per slot, each one slot long, each decoding to the picture captured for it or the one before.
        const std::string durations = test::commandOutput(
            "ffprobe -v error -select_streams v -show_entries "
            "packet=duration -of csv=p=0 '" +
            movie.string() + "' | sort | uniq -c");
        EXPECT_EQ(durations, "    151 1\n") << durations;
        EXPECT_NEAR(streamDurations(movie)["video"], 151 / 30.0, 0.001);
        EXPECT_EQ(test::commandOutput("ffmpeg -v error -i '" + movie.string() + "' -f null - 2>&1"), "");
        std::istringstream sums(test::commandOutput("ffmpeg -v error -i '" + movie.string() +
                                                    "' -f framemd5 - | grep -v '^#' | cut -d, -f6"));
        std::vector<std::string> frames;
        for (std::string line; std::getline(sums, line);) frames.push_back(line);
        ASSERT_EQ(frames.size(), 151u);
        if (!c.cheap) continue;
        const double whole = record(dir / "whole.mov", 1);
        ASSERT_GT(whole, 0);
        EXPECT_LT(gaps, whole * 0.4) << gaps << " s against " << whole << " s";
        for (std::size_t i = 1; i < frames.size(); ++i)
            EXPECT_EQ(frames[i] == frames[i - 1], i % 15 != 0) << "slot " << i;
        // The pictures after repeats are decoded as coded: as the take without gaps has them, near enough.
        const std::string psnr = test::commandOutput(
            "ffmpeg -v error -i '" + movie.string() + "' -i '" + (dir / "whole.mov").string() +
            "' -lavfi \"[0:v]select='not(mod(n\\,15))'[a];[1:v]select='not(mod(n\\,15))'[b];[a][b]psnr=stats_file=-\" "
            "-f null - 2>/dev/null | awk '{split($6,v,\":\"); if (v[2] < min || NR == 1) min = v[2]} END {print min}'");
        EXPECT_GT(std::atof(psnr.c_str()), 30) << psnr;
    }
}

// The owner is told once when the camera cannot compress the take's format as fast as it is captured; not for a
// moment's burst.
TEST(Recording, FallingBehindIsToldOnce) {
    const struct {
        const char* name;
        int pictures;  ///< handed over at once, two at most waiting
        int told;
    } cases[] = {{"seconds of pictures faster than they are compressed", 150, 1},
                 {"a moment's burst", 5, 0},
                 {"a burst of two seconds' pictures", 75, 0}};
    for (const auto& c : cases) {
        test::TempDir dir;
        MovieRecorder::Options options = proResTake(dir / "take.mov", 1280, 720);
        options.queueLimit = 2;
        std::atomic<int> told = 0;
        options.onFallingBehind = [&] { ++told; };
        // Handed over as fast as they come, as captured at their rate.
        std::atomic<double> now = 10;
        options.clock = [&] { return now.load(); };
        auto recorder = MovieRecorder::make(options);
        ASSERT_TRUE(recorder);
        const auto picture = SyntheticSource::makePicture({1280, 720}, 0);
        for (int i = 0; i < c.pictures; ++i) {
            now = 10 + i / 30.0;
            recorder->append(VideoFrame{picture, 10 + i / 30.0});
        }
        ASSERT_TRUE(recorder->finish()) << c.name;
        EXPECT_EQ(told, c.told) << c.name;
    }
}

// Behind once pictures have been dropped for seconds, never a second apart, or for a couple of seconds among pictures
// taken; caught up once they have all been taken for seconds. By when they are dropped and taken: a picture queued long
// ago and dropped now is a drop of now.
TEST(Recording, BehindIsDropsThatLast) {
    using Change = MovieRecorder::Pace::Change;
    const struct {
        const char* name;
        std::vector<std::pair<double, double>> drops;  ///< pictures at 30 fps from 0 to 12 s, dropped in these spans
        std::vector<std::pair<double, Change>> changes;
        /// Each drop is told a second time, at this time before (a picture queued then, passed over now).
        double alsoBefore = 0;
        /// No picture handed over at all in these spans (the capture's thread stalled too).
        std::vector<std::pair<double, double>> none = {};
        int every = 1;  ///< of the pictures in the spans, one in this many is dropped
    } cases[] = {
        {"drops for 5 s, no picture at all for 1.5 s among them",
         {{1, 2.5}, {4, 6}},
         {{5, Change::fellBehind}, {9, Change::caughtUp}},
         0,
         {{2.5, 4}}},
        {"drops for 5 s, each told again at a time a second before",
         {{1, 6}},
         {{5, Change::fellBehind}, {9, Change::caughtUp}},
         1},
        {"drops for 8 s, each told again at a time 3 s before",
         {{1, 9}},
         {{5, Change::fellBehind}, {12, Change::caughtUp}},
         3},
        {"a burst of 3 s", {{2, 5}}, {}},
        {"drops 1.5 s apart", {{1, 1.01}, {2.5, 2.51}, {4, 4.01}, {5.5, 5.51}, {7, 7.01}}, {}},
        {"drops for 5 s, then none", {{1, 6}}, {{5, Change::fellBehind}, {9, Change::caughtUp}}},
        {"drops for 4 s, a moment without, and drops again",
         {{1, 5}, {5.5, 7}},
         {{5.5, Change::fellBehind}, {10, Change::caughtUp}}},
        {"a third dropped for 2.5 s, steadily (a slow compressor's short take)",
         {{1, 3.5}},
         {{3, Change::fellBehind}, {6.4, Change::caughtUp}},
         0,
         {},
         3},
        {"every other one dropped for 1.5 s", {{2, 3.5}}, {}, 0, {}, 2},
        {"one in ten dropped for 3 s", {{1, 4}}, {}, 0, {}, 10},
    };
    for (const auto& c : cases) {
        MovieRecorder::Pace pace;
        std::vector<std::pair<double, Change>> changes;
        for (int i = 0; i <= 360; ++i) {
            const double t = i / 30.0;
            const auto within = [t](const auto& span) { return t >= span.first && t < span.second; };
            if (std::any_of(c.none.begin(), c.none.end(), within)) continue;
            const bool dropped = std::any_of(c.drops.begin(), c.drops.end(), within) && i % c.every == 0;
            if (const auto change = dropped ? pace.dropped(t) : pace.taken(t); change != Change::none)
                changes.emplace_back(std::round(t * 30) / 30, change);
            if (dropped && c.alsoBefore > 0 && t >= c.alsoBefore) {
                if (const auto change = pace.dropped(t - c.alsoBefore); change != Change::none)
                    changes.emplace_back(std::round(t * 30) / 30, change);
            }
        }
        ASSERT_EQ(changes.size(), c.changes.size()) << c.name;
        for (std::size_t i = 0; i < changes.size(); ++i) {
            EXPECT_NEAR(changes[i].first, c.changes[i].first, 0.05) << c.name;
            EXPECT_EQ(changes[i].second, c.changes[i].second) << c.name;
        }
    }
}

// How long a take of one picture takes now, from its start until it is stored: the limit on a stop leaves room for a
// machine slow at the moment (a few of these), and still tells seconds of pictures compressed after the stop.
double oneTakeSeconds(const std::filesystem::path& movie, const SharedFrame& picture, int width, int height) {
    const double from = hostTime();
    auto recorder = MovieRecorder::make(proResTake(movie, width, height));
    if (!recorder) return 0;
    recorder->append(VideoFrame{picture, 0});
    recorder->finish();
    return hostTime() - from;
}

// A recorder starved of time (pictures far slower to compress than they come, handed over at once): what waits is
// about a second of its compression, so its take is stored soon after the stop, one picture per slot, those it
// could not reach repeats; and its sound is never refused for the pictures' sake.
TEST(Recording, AStarvedRecorderKeepsItsSoundAndStoresSoon) {
    const auto pictures = test::cameraLikePictures(1280, 720, 4);
    test::TempDir dir;
    MovieRecorder::Options options = proResTake(dir / "take.mov", 1280, 720);
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    // Four seconds of pictures and sound as fast as they can be handed over.
    int refused = 0;
    for (int i = 0; i < 120; ++i) {
        const double t = 10 + i / 30.0;
        recorder->append(VideoFrame{pictures[std::size_t(i % 4)], t});
        for (int block = 0; block < 2; ++block)
            if (!recorder->appendAudio(
                    AudioFrame{SyntheticSource::makeTone({}, (i * 2 + block) * 800, 800), t + block / 60.0}))
                ++refused;
    }
    EXPECT_EQ(refused, 0) << "of 240 blocks of sound";
    EXPECT_GT(recorder->droppedFrames(), 0u);
    const double stopped = hostTime();
    const auto duration = recorder->finish();
    const double took = hostTime() - stopped;
    const double onePicture = oneTakeSeconds(dir / "one.mov", pictures[0], 1280, 720);
    EXPECT_LT(took, 2.5 + 3 * onePicture) << "stored after the stop; a take of one picture: " << onePicture;
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 4, 0.05);
    EXPECT_GT(recorder->repeatedPictures(), 0u);
    const auto movie = dir / "take.mov";
    EXPECT_NEAR(streamDurations(movie)["audio"], 4, 0.05);
    const std::string durations =
        test::commandOutput("ffprobe -v error -select_streams v -show_entries packet=duration -of csv=p=0 '" +
                            movie.string() + "' | sort | uniq -c");
    EXPECT_EQ(durations, "    120 1\n") << durations;
}

// An encoder far slower than real time (ProRes of a camera's detailed, noisy pictures), fed as a camera feeds it: the
// take is written as fast as it is captured, its pictures repeated where they could not be compressed, and none of its
// sound is lost behind the pictures that wait.
TEST(Recording, ARecorderBehindItsCaptureCatchesUp) {
    const auto pictures = test::cameraLikePictures(1920, 1080, 8);
    test::TempDir dir;
    MovieRecorder::Options options = proResTake(dir / "take.mov", 1920, 1080);
    std::atomic<int> told = 0;
    options.onFallingBehind = [&] { ++told; };
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    const double start = hostTime();
    double picture = start, sound = start;
    int index = 0, blocks = 0, refused = 0;
    while (picture < start + 8) {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(picture, sound) - hostTime()));
        if (sound < picture) {
            if (!recorder->appendAudio(AudioFrame{SyntheticSource::makeTone({}, blocks++ * 960, 960), sound}))
                ++refused;
            sound += 0.02;
            continue;
        }
        recorder->append(VideoFrame{pictures[std::size_t(index++ % 8)], picture});
        picture += 1.0 / 30;
    }
    if (!told) GTEST_SKIP() << "this machine compresses the take in real time";
    EXPECT_EQ(told, 1);
    EXPECT_EQ(refused, 0) << "of " << blocks << " blocks of sound";
    const double stopped = hostTime();
    const auto duration = recorder->finish();
    const double took = hostTime() - stopped;
    const double onePicture = oneTakeSeconds(dir / "one.mov", pictures[0], 1920, 1080);
    EXPECT_LT(took, 2.5 + 3 * onePicture) << "written after the stop; a take of one picture: " << onePicture;
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 8, 0.1);
    EXPECT_NEAR(streamDurations(dir / "take.mov")["audio"], 8, 0.1);
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

TEST(DeckCopy, ALargeTakeBecomesA1080pCopyWithItsSoundAndTimecode) {
    test::TempDir dir;
    MovieRecorder::Options options;
    options.video.codec = MovieVideoSettings::Codec::h264;
    options.video.width = 2400;
    options.video.height = 1350;
    options.video.averageBitRate = 4'000'000;
    options.audio = MovieAudioSettings{};
    options.frameRate = 30;
    options.ntsc = true;
    options.destination = dir / "take.mov";
    options.startFrame = [](double) { return 1294705; };
    options.queueLimit = 100;
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    SyntheticSource::Settings s{.width = 2400, .height = 1350};
    for (int i = 0; i < 8; ++i) {
        recorder->append(VideoFrame{SyntheticSource::makePicture(s, i), 10 + i / 30.0});
        recorder->appendAudio(AudioFrame{SyntheticSource::makeTone(s, i * 1600, 1600), 10 + i / 30.0});
    }
    ASSERT_TRUE(recorder->finish());

    std::string error;
    ASSERT_TRUE(makeDeckCopy(dir / "take.mov", dir / "copy.mov", &error)) << error;
    const std::string probe =
        test::commandOutput("ffprobe -v error -show_streams -of default=nw=1 '" + (dir / "copy.mov").string() + "'");
    EXPECT_NE(probe.find("width=1920"), std::string::npos) << probe;
    EXPECT_NE(probe.find("height=1080"), std::string::npos);
    EXPECT_NE(probe.find("codec_name=h264"), std::string::npos);
    EXPECT_NE(probe.find("codec_type=audio"), std::string::npos);
    EXPECT_NE(probe.find("TAG:timecode=12:00:00;01"), std::string::npos);
    EXPECT_EQ(readTimecodeFlags(dir / "copy.mov"), 3u);

    // Something that is no movie gives no copy and leaves nothing behind.
    std::ofstream(dir / "junk.mov") << "not a movie";
    EXPECT_FALSE(makeDeckCopy(dir / "junk.mov", dir / "junk copy.mov", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "junk copy.mov"));
    EXPECT_FALSE(std::filesystem::exists(dir / ".junk copy.mov.partial"));
}

}  // namespace
}  // namespace morvane
