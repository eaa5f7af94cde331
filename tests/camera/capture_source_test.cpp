// Where pictures and sound come from: the synthetic camera, conversion of device formats, capture angles.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "camera/camera_controller.h"
#include "platform/device_source.h"
#include "platform/ffmpeg_handles.h"
#include "platform/sound_clock.h"
#include "platform/synthetic_source.h"
#include "platform/v4l2_controls.h"

#include <linux/videodev2.h>

namespace morvane {
namespace {

using namespace std::chrono_literals;

TEST(CaptureAngle, TakenToTheNearestQuarterTurn) {
    struct Case {
        double in;
        int out;
    } cases[] = {{0, 0}, {90, 90}, {359.6, 0}, {270, 270}, {-90, 270}, {44, 0}, {46, 90}, {450, 90}, {NAN, 0}};
    for (const auto& c : cases) EXPECT_EQ(CaptureSource::normalizedAngle(c.in), c.out) << c.in;
    SyntheticSource source({});
    source.setCaptureAngle(-180);
    EXPECT_EQ(source.captureAngle(), 180);
}

int lumaAt(const AVFrame& f, int x, int y) {
    if (f.format == AV_PIX_FMT_P010LE) {
        const std::uint8_t* p = f.data[0] + y * f.linesize[0] + 2 * x;
        return (p[0] | (p[1] << 8)) >> 8;  // top 8 of the 10 bits
    }
    return f.data[0][y * f.linesize[0] + x];
}

TEST(SyntheticSource, PicturesAreRepeatableAndMove) {
    SyntheticSource::Settings s;
    s.width = 320;
    s.height = 180;
    auto a = SyntheticSource::makePicture(s, 5);
    auto b = SyntheticSource::makePicture(s, 5);
    auto c = SyntheticSource::makePicture(s, 25);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->format, AV_PIX_FMT_NV12);
    auto sameRow = [](const AVFrame& x, const AVFrame& y, int row) {
        return std::memcmp(x.data[0] + row * x.linesize[0], y.data[0] + row * y.linesize[0], 320) == 0;
    };
    const int squareRow = 180 / 3 + 5;
    EXPECT_TRUE(sameRow(*a, *b, squareRow));
    EXPECT_FALSE(sameRow(*a, *c, squareRow));                                       // the square moved
    EXPECT_EQ(lumaAt(*a, 10, 10), 16 + static_cast<int>(std::lround(219 * 0.75)));  // 75 % white bar
    EXPECT_EQ(lumaAt(*a, 0, 179), 16);                                              // the ramp starts black
    EXPECT_EQ(lumaAt(*a, 319, 179), 235);                                           // and ends white
    SyntheticSource::Settings odd{.width = 321};
    EXPECT_FALSE(SyntheticSource::makePicture(odd, 0));
}

TEST(SyntheticSource, TenBitFlatColour) {
    SyntheticSource::Settings s{
        .width = 64, .height = 32, .tenBit = true, .pattern = SyntheticSource::Pattern::flat, .flatColor = {1, 1, 1}};
    auto f = SyntheticSource::makePicture(s, 0);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->format, AV_PIX_FMT_P010LE);
    EXPECT_TRUE((VideoFrame{f, 0}.isTenBit()));
    EXPECT_EQ(lumaAt(*f, 7, 7), 235);
}

TEST(SyntheticSource, DeliversPicturesAndToneInOrderUntilStopped) {
    SyntheticSource source({.width = 160, .height = 90, .rateNumerator = 60});
    std::atomic<int> frames{0}, blocks{0};
    std::atomic<bool> ordered{true};
    double lastTime = -1;
    float loudest = 0;
    CaptureSource::Callbacks callbacks;
    callbacks.onVideo = [&](const VideoFrame& f) {
        if (f.time <= lastTime) ordered = false;
        lastTime = f.time;
        ++frames;
    };
    callbacks.onAudio = [&](const AudioFrame& a) {
        const auto* s = reinterpret_cast<const float*>(a.samples->data[0]);
        for (int i = 0; i < a.samples->nb_samples; ++i) loudest = std::max(loudest, std::fabs(s[i]));
        ++blocks;
    };
    ASSERT_TRUE(source.start(callbacks));
    EXPECT_FALSE(source.start(callbacks));
    // Seconds without the processor on a busy machine are no fault of the source: only one that never delivers is.
    const auto end = std::chrono::steady_clock::now() + 30s;
    while ((frames < 6 || blocks < 6) && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    source.stop();
    const int seen = frames;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(frames, seen);  // nothing after stop
    EXPECT_GE(seen, 6);
    EXPECT_TRUE(ordered);
    EXPECT_NEAR(loudest, 0.25f, 0.01f);
}

// How a sound device's blocks reach its reader, and what the stamps must then be.
enum class InputTimes {
    none,      ///< the input gives no times of its own: only the reads tell
    exact,     ///< each block's capture time, from the delay the input reports
    smoothed,  ///< the same, smoothed as FFmpeg's inputs do: a change is taken up a quarter per block
    slowly,    ///< smoothed over seconds: a change is taken up a 200th per block
    counted,   ///< a sound server's counts: exact, read with the clock told so
};

struct SoundReads {
    const char* name;
    double block;        ///< seconds per block
    int pairs;           ///< blocks handed over together (1: each as it ends)
    double jitter;       ///< reads return up to this late, at random
    int lateEvery;       ///< one block in this many read 20 ms late (0: none)
    double stall;        ///< at 2 s the reader stops for this long; nothing is lost
    double lost;         ///< at 2 s this much sound is lost
    double ppm;          ///< the device's clock runs slow by this much
    int breaks;          ///< stamps that do not follow on from the block before (after the first half second)
    double spell = 0;    ///< from 2 s on, every read returns 35 ms late for this long (a busy sound server)
    double again = 0;    ///< as much sound is lost again this long after the first loss
    double step = 0;     ///< from 2 s on, the input's delay is this much longer: every read comes as much later
    double stepFor = 0;  ///< for this long (0: for good)
    InputTimes times = InputTimes::none;
    double delay = 0;  ///< every read comes this much later: the input's delay (stamps are checked after it)
};

TEST(SoundClock, BlocksLieByTheirCountHoweverTheyAreRead) {
    constexpr auto exact = InputTimes::exact;
    constexpr auto smoothed = InputTimes::smoothed;
    constexpr auto slowly = InputTimes::slowly;
    constexpr auto counted = InputTimes::counted;
    const SoundReads cases[] = {
        {"each block as it ends", 0.02, 1, 0, 0, 0, 0, 0, 0},
        {"in pairs", 0.02, 2, 0, 0, 0, 0, 0, 0},
        {"long blocks in pairs", 0.1, 2, 0, 0, 0, 0, 0, 0},
        {"jittered by up to 24 ms", 0.02, 1, 0.024, 0, 0, 0, 0, 0},
        {"one block in 50 late", 0.02, 1, 0, 50, 0, 0, 0, 0},
        {"a reader stalled for 200 ms", 0.01, 1, 0, 0, 0.2, 0, 0, 0},
        {"40 ms of sound lost", 0.02, 1, 0.002, 0, 0, 0.04, 0, 1},
        {"200 ms of sound lost", 0.02, 1, 0.002, 0, 0, 0.2, 0, 1},
        {"200 ms lost just after a block read late", 0.02, 1, 0.002, 100, 0, 0.2, 0, 1},
        {"20 ms lost, read in pairs", 0.02, 2, 0.002, 0, 0, 0.02, 0, 1},
        {"25 ms lost, blocks of 1024 samples", 1024.0 / 48000, 1, 0.002, 0, 0, 0.025, 0, 1},
        {"a slow device clock", 0.02, 1, 0.01, 0, 0, 0, 300, 0},
        {"reads 35 ms late for 300 ms", 0.05, 1, 0.002, 0, 0, 0, 0, 0, 0.3},
        // Losses close together (a burst of overruns): each is silence where it happened.
        {"40 ms lost twice, 0.3 s apart", 0.02, 1, 0.002, 0, 0, 0.04, 0, 2, 0, 0.3},
        {"40 ms lost twice, 0.2 s apart", 0.005, 1, 0.002, 0, 0, 0.04, 0, 2, 0, 0.2},
        {"200 ms lost twice, 0.35 s apart", 0.02, 1, 0.002, 0, 0, 0.2, 0, 2, 0, 0.35},
        {"20 ms lost twice, 0.48 s apart, in pairs", 0.02, 2, 0.002, 0, 0, 0.02, 0, 2, 0, 0.48},
        {"40 ms lost twice, 0.25 s apart, with the input's times", 0.005, 1, 0.002, 0, 0, 0.04, 0, 2, 0, 0.25, 0, 0,
         smoothed},
        // The input's delay grows (a sound server changing its latency), nothing lost.
        {"a 12 ms longer delay for 0.6 s", 0.005, 1, 0.002, 0, 0, 0, 0, 0, 0, 0, 0.012, 0.6, smoothed},
        {"a 16 ms longer delay for good", 0.005, 1, 0.002, 0, 0, 0, 0, 0, 0, 0, 0.016, 0, smoothed},
        {"a 30 ms longer delay for good, long blocks", 0.02, 2, 0.002, 0, 0, 0, 0, 0, 0, 0, 0.03, 0, exact},
        {"a 12 ms longer delay and 40 ms lost", 0.005, 1, 0.002, 0, 0, 0.04, 0, 1, 0, 0, 0.012, 0, smoothed},
        {"a 12 ms longer delay for 0.3 s", 0.005, 1, 0.002, 0, 0, 0, 0, 0, 0, 0, 0.012, 0.3, smoothed},
        // Blocks of a few milliseconds, as the input is asked for.
        {"30 ms lost, blocks of 5 ms", 0.005, 1, 0.002, 0, 0, 0.03, 0, 1},
        {"30 ms lost, blocks of 5 ms read in fours", 0.005, 4, 0.002, 0, 0, 0.03, 0, 1, 0, 0, 0, 0, smoothed},
        // A small loss, with times that take it up over seconds: they lie short of it long after.
        {"12 ms lost, times smoothed over seconds", 0.005, 1, 0.002, 0, 0, 0.012, 0, 1, 0, 0, 0, 0, slowly},
        {"15 ms lost, times smoothed over seconds", 0.01, 1, 0.002, 0, 0, 0.015, 0, 1, 0, 0, 0, 0, slowly},
        // A source with a long delay (a network microphone): its sound lies where the input's times say.
        {"a second's delay", 0.01, 1, 0.002, 0, 0, 0, 0, 0, 0, 0, 0, 0, smoothed, 1},
        {"a second's delay and 40 ms lost", 0.005, 1, 0.002, 0, 0, 0.04, 0, 1, 0, 0, 0, 0, smoothed, 1},
        // A source with a long delay hands over its sound in blocks of two seconds, its clock 2.5 % slow.
        {"blocks of 2 s", 1.95, 1, 0.002, 0, 0, 0, 25000, 5, 0, 0, 0, 0, exact},
        // The server's own counts, read as such.
        {"counted: 12 ms lost", 0.01, 1, 0.002, 0, 0, 0.012, 0, 1, 0, 0, 0, 0, counted},
        {"counted: 40 ms lost twice, 0.2 s apart", 0.005, 1, 0.002, 0, 0, 0.04, 0, 2, 0, 0.2, 0, 0, counted},
        {"counted: jittered by up to 24 ms", 0.01, 1, 0.024, 0, 0, 0, 0, 0, 0, 0, 0, 0, counted},
        {"counted: a slow device clock", 0.01, 1, 0.01, 0, 0, 0, 300, 0, 0, 0, 0, 0, counted},
        {"counted: 200 ms lost, read in pairs", 0.01, 2, 0.002, 0, 0, 0.2, 0, 1, 0, 0, 0, 0, counted},
    };
    for (const auto& c : cases) {
        SoundClock clock(c.times == InputTimes::counted ? SoundClock::Times::counted : SoundClock::Times::smoothed);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> late(0, c.jitter);
        const int rate = 48000;
        const auto samples = static_cast<std::int64_t>(std::lround(c.block * rate));
        const double t0 = 5000;
        double lastRead = 0, lastStamp = 0, reported = NAN;
        double worst = 0, longestHeld = 0;
        std::vector<double> brokenAt;
        const int blocks = static_cast<int>(std::max(4 / c.block, 6.0));
        const double first = 2, second = 2 + c.again;
        // The instant block k began, on the host clock.
        auto startOf = [&](int k) {
            const double counted = k * c.block * (1 + c.ppm * 1e-6);
            return t0 + counted + (counted >= first ? c.lost : 0) + (c.again && counted >= second ? c.lost : 0);
        };
        std::deque<std::pair<int, double>> held;  // block, read at
        for (int k = 0; k < blocks; ++k) {
            const int last = std::min(blocks - 1, k / c.pairs * c.pairs + c.pairs - 1);
            double read = startOf(last) + c.block + c.delay + late(random);
            if (c.lateEvery && k % c.lateEvery == c.lateEvery - 1) read += 0.02;
            if (startOf(k) < t0 + 2 && startOf(k) + c.block >= t0 + 2) read += c.stall;
            if (startOf(k) >= t0 + 2 && startOf(k) < t0 + 2 + c.spell) read += 0.035;
            if (startOf(k) >= t0 + 2 && (!c.stepFor || startOf(k) < t0 + 2 + c.stepFor)) read += c.step;
            read = std::max(read, lastRead);
            lastRead = read;
            if (c.times == InputTimes::exact || c.times == InputTimes::counted || !std::isfinite(reported))
                reported = startOf(k);
            else
                reported += c.block + (startOf(k) - reported - c.block) / (c.times == InputTimes::slowly ? 200 : 4);
            held.emplace_back(k, read);
            for (const double stamp :
                 clock.stamp(read - c.block, samples, rate, c.times == InputTimes::none ? NAN : reported)) {
                ASSERT_FALSE(held.empty()) << c.name;
                const auto [j, readAt] = held.front();
                held.pop_front();
                longestHeld = std::max(longestHeld, read - readAt);
                const double at = startOf(j) - t0;
                // Within 1.5 ms, well within half a frame at any rate, a loss included.
                if (at >= 0.5 + c.delay) worst = std::max(worst, std::abs(stamp - startOf(j)));
                if (j > 0 && at >= 0.5 + c.delay && std::abs(stamp - lastStamp - c.block) > 0.001)
                    brokenAt.push_back(j * c.block);  // counted
                lastStamp = stamp;
            }
        }
        EXPECT_LT(held.size(), 2u) << c.name;
        // Held no longer than a loss takes to confirm, to the next read (which a second loss delays).
        EXPECT_LE(longestHeld,
                  SoundClock::confirmation + c.pairs * c.block + c.jitter + c.step + c.delay + (c.again ? c.lost : 0))
            << c.name;
        EXPECT_LT(worst, 0.0015) << c.name;
        EXPECT_EQ(static_cast<int>(brokenAt.size()), c.breaks) << c.name;
        // A loss is silence where it happened: before the first block after it.
        if (c.lost && c.breaks > 0 && c.block < 1) {
            ASSERT_FALSE(brokenAt.empty()) << c.name;
            EXPECT_TRUE(brokenAt[0] > first - 1e-6 && brokenAt[0] < first + c.block) << c.name << " at " << brokenAt[0];
            if (c.again && brokenAt.size() > 1) {
                EXPECT_TRUE(brokenAt[1] > second - 1e-6 && brokenAt[1] < second + c.block)
                    << c.name << " again at " << brokenAt[1];
            }
        }
    }
}

// Reads of FFmpeg's pulse input recorded on a sound server's pipe source whose feeder skipped samples, or whose
// reader fell behind for good with nothing lost, replayed: the input smooths its times over seconds. Every block
// lies where its sound was captured, as it did before anything was lost; each loss is silence where it happened.
TEST(SoundClock, RecordedReadsOfARealInput) {
    const char* traces[] = {"loss_40ms.txt", "two_losses_40ms.txt", "three_losses_20ms.txt", "two_losses_200ms.txt",
                            "reads_later_for_good.txt", "feeder_stalls.txt",
                            // The sound server's own client library: its counts at every read.
                            "counted/loss_12ms.txt", "counted/three_losses_12ms.txt", "counted/loss_15ms.txt",
                            "counted/loss_inside_a_block.txt", "counted/stall_over_a_loss.txt",
                            "counted/two_losses_200ms.txt", "counted/source_removed.txt"};
    const int rate = 48000;
    for (const char* name : traces) {
        SCOPED_TRACE(name);
        std::ifstream in(std::filesystem::path(MORVANE_SOURCE_DIR) / "tests/camera/sound_traces" / name);
        ASSERT_TRUE(in);
        std::vector<std::pair<double, double>> losses;  // the feeder's instant, seconds lost
        std::vector<std::tuple<double, std::int64_t, double>> reads;
        std::vector<std::pair<double, double>> stalls;  // the sound server stopped: at, for so long
        bool counted = false, ended = false;
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            double at = 0, seconds = 0;
            std::int64_t samples = 0;
            if (line.rfind("# lost ", 0) == 0 && (fields.ignore(7) >> at >> seconds)) losses.emplace_back(at, seconds);
            if (line.rfind("# stalled ", 0) == 0 && (fields.ignore(10) >> at >> seconds))
                stalls.emplace_back(at, seconds);
            counted = counted || line == "# counted";
            ended = ended || line.rfind("# ended", 0) == 0;
            if (line.rfind('#', 0) != 0 && (fields >> at >> samples >> seconds))
                reads.emplace_back(at, samples, seconds);
        }
        ASSERT_GT(reads.size(), 100u);
        std::sort(losses.begin(), losses.end());
        SoundClock clock(counted ? SoundClock::Times::counted : SoundClock::Times::smoothed);
        std::int64_t count = 0;
        std::deque<double> captured;                  // on the feeder's clock, of each block not laid yet
        std::vector<std::pair<double, double>> laid;  // captured, stamp
        for (const auto& [read, samples, reported] : reads) {
            // A block that ends past a lost stretch lies after it (the input hands over a block whole). The feeder
            // looked at its clock every 2 ms: a block that ends within a few of a loss may lie either side.
            double at = static_cast<double>(count) / rate;
            bool either = false;
            for (const auto& [lossAt, seconds] : losses) {
                const double end = at + static_cast<double>(samples) / rate;
                either = either || std::abs(end - lossAt) < 0.005 || (at < lossAt && end > lossAt);
                if (end > lossAt) at += seconds;
                // Where in a stall the sound was lost nobody counted: what followed the loss in it may lie as if
                // the loss came at the stall's end.
                for (const auto& [stalledAt, stalledFor] : stalls)
                    either = either || (lossAt >= stalledAt && lossAt < stalledAt + stalledFor && end > lossAt &&
                                        at < stalledAt + stalledFor);
            }
            captured.push_back(either ? NAN : at);
            count += samples;
            for (const double stamp :
                 clock.stamp(read - static_cast<double>(samples) / rate, samples, rate, reported)) {
                ASSERT_FALSE(captured.empty());
                laid.emplace_back(captured.front(), stamp);
                captured.pop_front();
            }
        }
        // A stream that ended (its source removed) leaves nothing held.
        if (ended) {
            for (const double stamp : clock.finish()) {
                ASSERT_FALSE(captured.empty());
                laid.emplace_back(captured.front(), stamp);
                captured.pop_front();
            }
            EXPECT_EQ(laid.size(), reads.size());
        }
        // Where the sound lay before anything happened, however late the input: the stamps from then on lie as far.
        std::vector<double> before;
        for (const auto& [at, stamp] : laid)
            if (at >= 0.5 && at < 2) before.push_back(stamp - at);
        ASSERT_FALSE(before.empty());
        std::nth_element(before.begin(), before.begin() + before.size() / 2, before.end());
        const double offset = before[before.size() / 2];
        double worst = 0, worstAt = 0;
        for (const auto& [at, stamp] : laid) {
            if (at >= 0.5 && std::abs(stamp - at - offset) > worst) {  // NaN: either side
                worst = std::abs(stamp - at - offset);
                worstAt = at;
            }
        }
        // Within the 2 ms the feeder wrote at a time, and well within half a frame at any rate.
        EXPECT_LT(worst, 0.004) << "at " << worstAt << " s";
        EXPECT_GT(laid.size(), reads.size() - 30) << "held too long";
    }
}

TEST(DeviceSource, PicturesCarryTheDriversStampWhenItIsOnTheHostClock) {
    // Pictures read before the last one, each as its stamp and its read: a driver that hung from 96.5 to 100 s.
    const std::vector<std::pair<double, double>> beforeHang{{96.47, 96.5}};
    const std::vector<std::pair<double, double>> afterHang{{96.47, 96.5}, {97, 100}};
    struct Case {
        double stamp, readAt, time;
        std::vector<std::pair<double, double>> before = {};
    } cases[] = {
        {99.97, 100, 99.97},  // read 30 ms late
        {98.5, 100, 98.5},    // read late after opening
        {NAN, 100, 100},      // none
        {1.7e9, 100, 100},    // the wall clock
        {100.5, 100, 100},    // after it was read: not this clock
        {96, 100, 100},       // too old to be this clock
        // Captured 3.0 and 2.3 s before the end of the hang, read after it: old pictures, not new ones.
        {97, 100, 97, beforeHang},
        {97.7, 100.01, 97.7, afterHang},
        {96, 100, 100, beforeHang},          // before the picture before it: not this clock
        {1.7e9, 100.02, 100.02, afterHang},  // the wall clock all the same
    };
    for (const auto& c : cases) {
        PictureClock clock;
        for (const auto& [stamp, readAt] : c.before) clock.time(stamp, readAt);
        EXPECT_EQ(clock.time(c.stamp, c.readAt), c.time) << c.stamp << " after " << c.before.size();
    }
}

TEST(PictureConverter, DeviceFormatsBecomeNV12WithTheirColours) {
    // YUYV as a webcam sends it: Y0 U Y1 V.
    SharedFrame yuyv = makeVideoFrame(64, 48, AV_PIX_FMT_YUYV422);
    ASSERT_TRUE(yuyv);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; x += 2) {
            std::uint8_t* p = yuyv->data[0] + y * yuyv->linesize[0] + 2 * x;
            p[0] = p[2] = x < 32 ? 60 : 200;
            p[1] = 100;
            p[3] = 150;
        }
    }
    PictureConverter converter;
    auto nv12 = converter.convert(*yuyv);
    ASSERT_TRUE(nv12);
    EXPECT_EQ(nv12->format, AV_PIX_FMT_NV12);
    EXPECT_EQ(lumaAt(*nv12, 4, 4), 60);
    EXPECT_EQ(lumaAt(*nv12, 60, 40), 200);
    EXPECT_NEAR(nv12->data[1][0], 100, 1);
    EXPECT_NEAR(nv12->data[1][1], 150, 1);

    // MJPEG: compressed by FFmpeg's encoder, decoded as the device reader does, then converted.
    const AVCodec* encoderCodec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    ASSERT_TRUE(encoderCodec);
    ff::CodecContext enc(avcodec_alloc_context3(encoderCodec));
    enc->width = 64;
    enc->height = 48;
    enc->pix_fmt = AV_PIX_FMT_YUVJ422P;
    enc->time_base = {1, 30};
    ASSERT_GE(avcodec_open2(enc.get(), encoderCodec, nullptr), 0);
    SharedFrame planar = makeVideoFrame(64, 48, AV_PIX_FMT_YUVJ422P);
    for (int y = 0; y < 48; ++y) {
        std::memset(planar->data[0] + y * planar->linesize[0], 180, 64);
        std::memset(planar->data[1] + y * planar->linesize[1], 128, 32);
        std::memset(planar->data[2] + y * planar->linesize[2], 128, 32);
    }
    ASSERT_GE(avcodec_send_frame(enc.get(), planar.get()), 0);
    ff::Packet packet = ff::makePacket();
    ASSERT_GE(avcodec_receive_packet(enc.get(), packet.get()), 0);
    const AVCodec* decoderCodec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    ff::CodecContext dec(avcodec_alloc_context3(decoderCodec));
    ASSERT_GE(avcodec_open2(dec.get(), decoderCodec, nullptr), 0);
    ASSERT_GE(avcodec_send_packet(dec.get(), packet.get()), 0);
    ff::Frame decoded = ff::makeFrame();
    ASSERT_GE(avcodec_receive_frame(dec.get(), decoded.get()), 0);
    auto converted = converter.convert(*decoded);
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->format, AV_PIX_FMT_NV12);
    // Full-range 180 becomes studio range 16 + 180 × 219 ÷ 255.
    EXPECT_NEAR(lumaAt(*converted, 20, 20), 16 + 180 * 219 / 255, 3);

    SharedFrame empty = makeVideoFrame(2, 2, AV_PIX_FMT_NV12);
    empty->width = 0;
    EXPECT_FALSE(converter.convert(*empty));
}

TEST(SourceModes, TheClosestSizeThenRate) {
    const std::vector<SourceMode> device{{640, 480, 30, 1},   {640, 480, 15, 1},   {1280, 720, 30, 1},
                                         {1280, 720, 10, 1},  {1920, 1080, 30, 1}, {1920, 1080, 24000, 1001},
                                         {1920, 1080, 25, 1}, {1920, 1080, 60, 1}};
    struct Case {
        int width, height;
        double fps;
        SourceMode expected;
    } cases[] = {
        {1280, 720, 30, {1280, 720, 30, 1}},
        {1280, 720, 25, {1280, 720, 30, 1}},  // no 25 at 720p: the nearer, faster rate
        {1920, 1080, 23.976, {1920, 1080, 24000, 1001}},
        {1920, 1080, 24, {1920, 1080, 24000, 1001}},  // 23.976 is nearer than 25
        {1920, 1080, 29.97, {1920, 1080, 30, 1}},
        {1920, 1080, 50, {1920, 1080, 60, 1}},
        {3840, 2160, 30, {1920, 1080, 30, 1}},  // larger than any: the largest
        {1024, 576, 30, {1280, 720, 30, 1}},    // 400 columns and rows away, against 480 for 640 × 480
        {800, 600, 12, {640, 480, 15, 1}},
        {0, 0, 30, {640, 480, 30, 1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(closestMode(device, c.width, c.height, c.fps), c.expected)
            << c.width << "x" << c.height << " " << c.fps;
    }
    EXPECT_FALSE(closestMode({}, 1280, 720, 30));
    EXPECT_FALSE(closestMode({{1280, 720, 0, 1}}, 1280, 720, 30));
}

int meanLuma(const AVFrame& f) {
    long sum = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) sum += lumaAt(f, x, y);
    return static_cast<int>(sum / (f.width * f.height));
}

// Mean Cb and Cr over the picture.
std::pair<int, int> meanChroma(const AVFrame& f) {
    long u = 0, v = 0;
    for (int y = 0; y < f.height / 2; ++y)
        for (int x = 0; x < f.width / 2; ++x) {
            u += f.data[1][y * f.linesize[1] + 2 * x];
            v += f.data[1][y * f.linesize[1] + 2 * x + 1];
        }
    const long n = (f.width / 2) * (f.height / 2);
    return {static_cast<int>(u / n), static_cast<int>(v / n)};
}

// Columns of row `y` with the luma of column `x`, counted outwards from it.
int runWidth(const AVFrame& f, int x, int y) {
    const int value = lumaAt(f, x, y);
    int left = x, right = x;
    while (left > 0 && lumaAt(f, left - 1, y) == value) --left;
    while (right + 1 < f.width && lumaAt(f, right + 1, y) == value) ++right;
    return right - left + 1;
}

int sharpestStep(const AVFrame& f, int y) {
    int step = 0;
    for (int x = 1; x < f.width; ++x) step = std::max(step, std::abs(lumaAt(f, x, y) - lumaAt(f, x - 1, y)));
    return step;
}

TEST(SyntheticSource, PictureSettingsShowInThePicture) {
    SyntheticSource::Settings grey{
        .width = 320, .height = 180, .pattern = SyntheticSource::Pattern::flat, .flatColor = {0.4f, 0.4f, 0.4f}};
    auto plain = SyntheticSource::makePicture(grey, 0);
    const int plainLuma = meanLuma(*plain);
    const auto [plainU, plainV] = meanChroma(*plain);
    EXPECT_NEAR(plainU, 128, 1);
    EXPECT_NEAR(plainV, 128, 1);

    auto brighter = grey;
    brighter.picture.exposureBias = 1;
    EXPECT_GT(meanLuma(*SyntheticSource::makePicture(brighter, 0)), plainLuma + 50);
    auto manual = grey;
    manual.picture.iso = 50;  // a stop under the scene's light
    manual.picture.shutter = 1.0 / 50;
    EXPECT_LT(meanLuma(*SyntheticSource::makePicture(manual, 0)), plainLuma - 30);

    auto tungsten = grey;
    tungsten.picture.kelvin = 3200;  // set for warm light: daylight turns blue
    const auto [blueU, blueV] = meanChroma(*SyntheticSource::makePicture(tungsten, 0));
    EXPECT_GT(blueU, plainU + 8);
    EXPECT_LT(blueV, plainV - 8);
    auto shade = grey;
    shade.picture.kelvin = 9000;
    const auto [warmU, warmV] = meanChroma(*SyntheticSource::makePicture(shade, 0));
    EXPECT_LT(warmU, plainU - 5);
    EXPECT_GT(warmV, plainV + 5);

    SyntheticSource::Settings bars{.width = 320, .height = 180};
    auto wide = SyntheticSource::makePicture(bars, 0);
    auto zoomed = bars;
    zoomed.picture.zoom = 2;
    auto tight = SyntheticSource::makePicture(zoomed, 0);
    // The middle bar, 320 / 7 columns wide, doubles.
    EXPECT_NEAR(runWidth(*wide, 160, 10), 46, 2);
    EXPECT_NEAR(runWidth(*tight, 160, 10), 90, 2);

    auto near = bars;
    near.picture.focus = SyntheticSource::sceneDistance;
    EXPECT_EQ(sharpestStep(*SyntheticSource::makePicture(near, 0), 10), sharpestStep(*wide, 10));
    near.picture.focus = 0.0f;  // focused in front of the scene
    EXPECT_LT(sharpestStep(*SyntheticSource::makePicture(near, 0), 10), sharpestStep(*wide, 10) / 3);
}

TEST(SyntheticSource, ModesAndPictureSettingsWhileRunning) {
    SyntheticSource source({.width = 320, .height = 180, .rateNumerator = 60, .toneHertz = 0});
    const auto modes = source.modes();
    EXPECT_NE(std::find(modes.begin(), modes.end(), SourceMode{320, 180, 30000, 1001}), modes.end());
    EXPECT_NE(std::find(modes.begin(), modes.end(), SourceMode{1280, 720, 24000, 1001}), modes.end());
    std::mutex lock;
    std::vector<std::pair<int, double>> seen;  // widths and times
    CaptureSource::Callbacks callbacks;
    callbacks.onVideo = [&](const VideoFrame& f) {
        std::lock_guard guard(lock);
        seen.emplace_back(f.width(), f.time);
    };
    ASSERT_TRUE(source.start(callbacks));
    auto count = [&](int width) {
        std::lock_guard guard(lock);
        return std::count_if(seen.begin(), seen.end(), [&](auto& s) { return s.first == width; });
    };
    const auto until = [](const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
        return done();
    };
    EXPECT_TRUE(until([&] { return count(320) >= 2; }));
    // Any listed size at any rate; a size not listed becomes the nearest listed one.
    ASSERT_TRUE(source.setMode({1000, 560, 24000, 1001}));
    EXPECT_EQ(source.mode(), (SourceMode{1280, 720, 24000, 1001}));
    EXPECT_TRUE(until([&] { return count(1280) >= 3; }));
    {
        std::lock_guard guard(lock);
        std::vector<double> times;
        for (const auto& [width, time] : seen)
            if (width == 1280) times.push_back(time);
        EXPECT_NEAR(times[2] - times[1], 1001.0 / 24000, 1e-6);  // stamped at its own rate
    }
    const PictureSettings applied = source.applyPicture({.zoom = 20});
    EXPECT_EQ(applied.zoom, source.capabilities().maxZoom);
    source.stop();
}

// A typical UVC camera: exposure in 100 µs units, gain 0…255, white balance 2800…6500 K, focus 0…250 (larger is
// nearer) in steps of 5, zoom 100…500 (1× to 5×). Until set: exposure 25 ms, 4600 K, focus far, zoom 1×.
const V4L2ControlTable& typicalUVCCamera() {
    static const V4L2ControlTable table{{V4L2_CID_EXPOSURE_AUTO, {0, 3, 1, 3}},
                                        {V4L2_CID_EXPOSURE_ABSOLUTE, {3, 2047, 1, 250}},
                                        {V4L2_CID_GAIN, {0, 255, 1, 0}},
                                        {V4L2_CID_AUTO_WHITE_BALANCE, {0, 1, 1, 1}},
                                        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, {2800, 6500, 10, 4600}},
                                        {V4L2_CID_FOCUS_AUTO, {0, 1, 1, 1}},
                                        {V4L2_CID_FOCUS_ABSOLUTE, {0, 250, 5, 0}},
                                        {V4L2_CID_ZOOM_ABSOLUTE, {100, 500, 1, 100}}};
    return table;
}

TEST(V4L2Controls, PictureSettingsBecomeControlValues) {
    using Plan = std::vector<std::pair<std::uint32_t, std::int32_t>>;
    const V4L2ControlTable& full = typicalUVCCamera();
    const V4L2ControlTable bare{{V4L2_CID_AUTO_WHITE_BALANCE, {0, 1, 1, 1}}};
    const V4L2ControlTable exposureOnly{{V4L2_CID_EXPOSURE_AUTO, {0, 1, 1, 0}},
                                        {V4L2_CID_EXPOSURE_ABSOLUTE, {1, 5000, 1, 100}},
                                        {V4L2_CID_ZOOM_ABSOLUTE, {0, 10, 1, 0}}};
    struct Case {
        const char* what;
        const V4L2ControlTable* table;
        PictureSettings wanted;
        Plan values;
        PictureSettings applied;
    } cases[] = {
        {"everything automatic; the gain back to the device's own",
         &full,
         {},
         {{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY},
          {V4L2_CID_GAIN, 0},
          {V4L2_CID_AUTO_WHITE_BALANCE, 1},
          {V4L2_CID_FOCUS_AUTO, 1},
          {V4L2_CID_ZOOM_ABSOLUTE, 100}},
         {}},
        {"manual exposure: ISO 400 is two of five stops of gain",
         &full,
         {.iso = 400, .shutter = 1.0 / 50},
         {{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
          {V4L2_CID_EXPOSURE_ABSOLUTE, 200},
          {V4L2_CID_GAIN, 102},
          {V4L2_CID_AUTO_WHITE_BALANCE, 1},
          {V4L2_CID_FOCUS_AUTO, 1},
          {V4L2_CID_ZOOM_ABSOLUTE, 100}},
         {.iso = static_cast<float>(100 * std::exp2(5 * 102.0 / 255)), .shutter = 0.02}},
        {"white balance, focus and zoom",
         &full,
         {.kelvin = 3203, .tint = 12, .focus = 0.25f, .zoom = 2},
         {{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY},
          {V4L2_CID_GAIN, 0},
          {V4L2_CID_AUTO_WHITE_BALANCE, 0},
          {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 3200},
          {V4L2_CID_FOCUS_AUTO, 0},
          {V4L2_CID_FOCUS_ABSOLUTE, 190},
          {V4L2_CID_ZOOM_ABSOLUTE, 200}},
         {.kelvin = 3200, .tint = 0, .focus = 0.24f, .zoom = 2}},
        {"beyond the ranges",
         &full,
         {.iso = 100000, .shutter = 10, .kelvin = 20000, .zoom = 9},
         {{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
          {V4L2_CID_EXPOSURE_ABSOLUTE, 2047},
          {V4L2_CID_GAIN, 255},
          {V4L2_CID_AUTO_WHITE_BALANCE, 0},
          {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 6500},
          {V4L2_CID_FOCUS_AUTO, 1},
          {V4L2_CID_ZOOM_ABSOLUTE, 500}},
         {.iso = 3200, .shutter = 0.2047, .kelvin = 6500, .zoom = 5}},
        {"a camera without those controls keeps everything automatic",
         &bare,
         {.exposureBias = 1, .iso = 400, .shutter = 0.01, .kelvin = 3200, .focus = 0.5f, .zoom = 3},
         {{V4L2_CID_AUTO_WHITE_BALANCE, 1}},
         {}},
        {"exposure without gain or full automatic; zoom 0…10 read as up to 4×",
         &exposureOnly,
         {.iso = 800, .shutter = 0.01, .zoom = 2.5},
         {{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
          {V4L2_CID_EXPOSURE_ABSOLUTE, 100},
          {V4L2_CID_ZOOM_ABSOLUTE, 5}},
         {.iso = 100, .shutter = 0.01, .zoom = 2.5}},
        {"automatic exposure where only manual and full automatic are offered",
         &exposureOnly,
         {},
         {{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_AUTO}, {V4L2_CID_ZOOM_ABSOLUTE, 0}},
         {}},
    };
    for (const auto& c : cases) {
        const auto plan = planControls(*c.table, c.wanted);
        EXPECT_EQ(plan.values, c.values) << c.what;
        EXPECT_NEAR(plan.applied.iso.value_or(-1), c.applied.iso.value_or(-1), 0.5) << c.what;
        EXPECT_EQ(plan.applied.shutter, c.applied.shutter) << c.what;
        EXPECT_EQ(plan.applied.kelvin, c.applied.kelvin) << c.what;
        EXPECT_NEAR(plan.applied.focus.value_or(-1), c.applied.focus.value_or(-1), 1e-6) << c.what;
        EXPECT_DOUBLE_EQ(plan.applied.zoom, c.applied.zoom) << c.what;
        EXPECT_EQ(plan.applied.exposureBias, 0) << c.what;
    }
    const auto caps = capabilitiesOf(full);
    EXPECT_TRUE(caps.manualExposure && caps.manualWhiteBalance && caps.manualFocus);
    EXPECT_EQ(caps.maxZoom, 5);
    EXPECT_EQ(caps.maxISO, 3200);
    EXPECT_DOUBLE_EQ(caps.minShutter, 0.0003);
    EXPECT_EQ(capabilitiesOf(bare), SourceCapabilities{});
}

// A device's controls that keep what is set, except the values it refuses.
class FakeControls final : public V4L2ControlDevice {
public:
    FakeControls(const V4L2ControlTable& table, std::set<std::uint32_t> refused) : refused_(std::move(refused)) {
        for (const auto& [id, control] : table) values_[id] = control.defaultValue;
    }
    bool set(std::uint32_t id, std::int32_t value) override {
        if (refused_.count(id) || !values_.count(id)) return false;
        values_[id] = value;
        return true;
    }
    std::optional<std::int32_t> get(std::uint32_t id) override {
        auto it = values_.find(id);
        return it == values_.end() ? std::nullopt : std::optional(it->second);
    }

private:
    std::set<std::uint32_t> refused_;
    std::map<std::uint32_t, std::int32_t> values_;
};

TEST(V4L2Controls, ARefusedControlShowsAsTheDeviceHoldsIt) {
    const V4L2ControlTable& table = typicalUVCCamera();
    const PictureSettings wanted{.iso = 400, .shutter = 1.0 / 50, .kelvin = 3200, .focus = 0.25f, .zoom = 2};
    const PictureSettings all{.iso = static_cast<float>(100 * std::exp2(5 * 102.0 / 255)),
                              .shutter = 0.02,
                              .kelvin = 3200,
                              .focus = 0.24f,
                              .zoom = 2};
    // Not generic: GCC 12 fails with an internal error on a generic lambda called with lambdas in the table below.
    auto with = [&](void (*change)(PictureSettings&)) {
        PictureSettings p = all;
        change(p);
        return p;
    };
    struct Case {
        const char* what;
        std::set<std::uint32_t> refused;
        PictureSettings held;
        std::int32_t gain;  ///< what the device's gain control holds then
    } cases[] = {
        {"nothing refused: what was asked for, as the controls give it", {}, all, 102},
        {"manual exposure refused: automatic, and the gain left alone",
         {V4L2_CID_EXPOSURE_AUTO},
         with([](PictureSettings& p) { p.iso.reset(), p.shutter.reset(); }),
         0},
        {"the exposure time refused: manual, at the time the device kept",
         {V4L2_CID_EXPOSURE_ABSOLUTE},
         with([](PictureSettings& p) { p.shutter = 0.025; }),
         102},
        {"gain refused: the device's own gain", {V4L2_CID_GAIN}, with([](PictureSettings& p) { p.iso = 100; }), 0},
        {"manual white balance refused: automatic",
         {V4L2_CID_AUTO_WHITE_BALANCE},
         with([](PictureSettings& p) { p.kelvin.reset(); }),
         102},
        {"the temperature refused: the one the device kept",
         {V4L2_CID_WHITE_BALANCE_TEMPERATURE},
         with([](PictureSettings& p) { p.kelvin = 4600; }),
         102},
        {"autofocus cannot be turned off: automatic",
         {V4L2_CID_FOCUS_AUTO},
         with([](PictureSettings& p) { p.focus.reset(); }),
         102},
        {"the lens position refused: where the lens is",
         {V4L2_CID_FOCUS_ABSOLUTE},
         with([](PictureSettings& p) { p.focus = 1; }),
         102},
        {"zoom refused: 1×", {V4L2_CID_ZOOM_ABSOLUTE}, with([](PictureSettings& p) { p.zoom = 1; }), 102},
    };
    for (const auto& c : cases) {
        FakeControls device(table, c.refused);
        const PictureSettings held = applyControls(table, wanted, device);
        EXPECT_NEAR(held.iso.value_or(-1), c.held.iso.value_or(-1), 0.5) << c.what;
        EXPECT_EQ(held.shutter, c.held.shutter) << c.what;
        EXPECT_EQ(held.kelvin, c.held.kelvin) << c.what;
        EXPECT_NEAR(held.focus.value_or(-1), c.held.focus.value_or(-1), 1e-6) << c.what;
        EXPECT_DOUBLE_EQ(held.zoom, c.held.zoom) << c.what;
        EXPECT_EQ(device.get(V4L2_CID_GAIN), c.gain) << c.what;
    }
}

TEST(CameraFormats, RatesModesAndTheStatus) {
    struct Rate {
        double fps;
        std::pair<std::int64_t, bool> nominal;
    } rates[] = {{24000.0 / 1001, {24, true}},
                 {30000.0 / 1001, {30, true}},
                 {60000.0 / 1001, {60, true}},
                 {25, {25, false}},
                 {30, {30, false}},
                 {15000.0 / 1001, {15, false}},
                 {0, {30, false}},
                 {NAN, {30, false}}};
    for (const auto& r : rates) EXPECT_EQ(nominalRate(r.fps), r.nominal) << r.fps;
    EXPECT_EQ(sourceModeFor({1280, 720}, 24, true), (SourceMode{1280, 720, 24000, 1001}));
    EXPECT_EQ(sourceModeFor({1280, 720}, 25, true), (SourceMode{1280, 720, 25, 1}));  // no NTSC 25
    EXPECT_EQ(sourceModeFor({1920, 1080}, 30, false), (SourceMode{1920, 1080, 30, 1}));

    // Every size the synthetic camera lists, each with its rates; one started at an unlisted size lists it too.
    const auto formats = formatOptions(SyntheticSource({.width = 800, .height = 450}).modes());
    ASSERT_EQ(formats.size(), 5u);
    EXPECT_EQ(formats[0].resolution, (Resolution{640, 360}));
    EXPECT_EQ(formats[1].resolution, (Resolution{800, 450}));
    for (const auto& f : formats) EXPECT_EQ(f.frameRates, (std::vector<std::int64_t>{24, 25, 30, 50, 60}));

    // What the source could not apply shows as automatic, never as the setting asked for.
    CameraStatus status;
    status.whiteBalance = WhiteBalance::Manual{3200, 0};
    status.focus = FocusSetting::Manual{0.2f};
    status.exposure = ExposureSetting::Manual{400, 0.01};
    status.zoom = 3;
    const PictureSettings wanted = pictureSettingsOf(status);
    EXPECT_EQ(wanted.kelvin, 3200);
    EXPECT_EQ(wanted.focus, 0.2f);
    EXPECT_EQ(wanted.iso, 400);
    showPicture(status, PictureSettings{}, SourceCapabilities{});
    EXPECT_TRUE(status.whiteBalance.is<WhiteBalance::Auto>());
    EXPECT_TRUE(status.focus.is<FocusSetting::Auto>());
    EXPECT_TRUE(status.exposure.is<ExposureSetting::Auto>());
    EXPECT_EQ(status.zoom, 1);
    status.focus = FocusSetting::Locked{};
    showPicture(status, PictureSettings{}, SourceCapabilities{.manualFocus = true});
    EXPECT_TRUE(status.focus.is<FocusSetting::Locked>());
}

TEST(DeviceSource, AMissingDeviceDoesNotStart) {
    for (const auto& device : listVideoDevices()) EXPECT_FALSE(device.path.empty());
    DeviceSource source({.videoDevice = "/nonexistent/video9"});
    EXPECT_FALSE(source.start({}));
    EXPECT_TRUE(source.modes().empty());
    EXPECT_FALSE(source.setMode({1280, 720, 30, 1}));
    EXPECT_EQ(source.capabilities(), SourceCapabilities{});
    source.stop();
}

}  // namespace
}  // namespace morvane
