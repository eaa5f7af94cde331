// Where pictures and sound come from: the synthetic camera, conversion of device formats, capture angles.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <chrono>
#include <thread>

#include "platform/device_source.h"
#include "platform/ffmpeg_handles.h"
#include "platform/synthetic_source.h"

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
    EXPECT_FALSE(sameRow(*a, *c, squareRow));  // the square moved
    EXPECT_EQ(lumaAt(*a, 10, 10), 16 + static_cast<int>(std::lround(219 * 0.75)));  // 75 % white bar
    EXPECT_EQ(lumaAt(*a, 0, 179), 16);   // the ramp starts black
    EXPECT_EQ(lumaAt(*a, 319, 179), 235);  // and ends white
    SyntheticSource::Settings odd{.width = 321};
    EXPECT_FALSE(SyntheticSource::makePicture(odd, 0));
}

TEST(SyntheticSource, TenBitFlatColour) {
    SyntheticSource::Settings s{.width = 64, .height = 32, .tenBit = true,
                                .pattern = SyntheticSource::Pattern::flat, .flatColor = {1, 1, 1}};
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
    const auto end = std::chrono::steady_clock::now() + 5s;
    while ((frames < 6 || blocks < 6) && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    source.stop();
    const int seen = frames;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(frames, seen);  // nothing after stop
    EXPECT_GE(seen, 6);
    EXPECT_TRUE(ordered);
    EXPECT_NEAR(loudest, 0.25f, 0.01f);
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

TEST(DeviceSource, AMissingDeviceDoesNotStart) {
    for (const auto& device : listVideoDevices()) EXPECT_FALSE(device.path.empty());
    DeviceSource source({.videoDevice = "/nonexistent/video9"});
    EXPECT_FALSE(source.start({}));
    source.stop();
}

}  // namespace
}  // namespace morvane
