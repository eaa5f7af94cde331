// Histogram, scope and loupe pictures, and the camera preview's layout.

#include <gtest/gtest.h>

#include <QImage>
#include <numbers>

#include "camera/stream_lut.h"
#include "platform/synthetic_source.h"

namespace morvane {
namespace {

SharedFrame quadrants(int w, int h) {
    // Top left red, top right green, bottom left blue, bottom right white.
    SharedFrame f = makeVideoFrame(w, h, AV_PIX_FMT_BGRA);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = f->data[0] + y * f->linesize[0] + 4 * x;
            const bool right = x >= w / 2, bottom = y >= h / 2;
            const int r = (!right && !bottom) || (right && bottom) ? 255 : 0;
            const int g = (right && !bottom) || (right && bottom) ? 255 : 0;
            const int b = (!right && bottom) || (right && bottom) ? 255 : 0;
            p[0] = static_cast<std::uint8_t>(b);
            p[1] = static_cast<std::uint8_t>(g);
            p[2] = static_cast<std::uint8_t>(r);
            p[3] = 255;
        }
    }
    return f;
}

SharedFrame flat(int w, int h, int v) {
    SharedFrame f = makeVideoFrame(w, h, AV_PIX_FMT_BGRA);
    for (int y = 0; y < h; ++y) std::memset(f->data[0] + y * f->linesize[0], v, static_cast<std::size_t>(4 * w));
    return f;
}

QImage decodeJpeg(const Bytes& data) {
    return QImage::fromData(QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size())),
                            "JPEG");
}

TEST(Histogram, FlatAndBlackPictures) {
    HistogramMaker maker;
    auto grey = maker.histogram(VideoFrame{flat(640, 360, 128), 0});
    ASSERT_TRUE(grey);
    int full = 0, empty = 0;
    for (auto bin : *grey) (bin == 255 ? full : empty) += bin == 255 || bin == 0;
    EXPECT_EQ(full, 1);
    EXPECT_EQ(empty, 63);
    EXPECT_EQ((*grey)[32], 255);
    auto black = maker.histogram(VideoFrame{flat(100, 50, 0), 0});
    ASSERT_TRUE(black);
    EXPECT_EQ((*black)[0], 255);
    for (int i = 1; i < 64; ++i) EXPECT_EQ((*black)[static_cast<std::size_t>(i)], 0);
    EXPECT_FALSE(maker.histogram(VideoFrame{}));
}

TEST(Histogram, AFlatCameraGreyFillsOneBin) {
    HistogramMaker maker;
    struct Case {
        int grey;
        bool tenBit;
        std::size_t bin;
    } cases[] = {{180, false, 45}, {180, true, 45}, {128, false, 32}, {3, false, 0}, {255, false, 63}, {255, true, 63}};
    for (const auto& c : cases) {
        const float level = c.grey / 255.0f;
        SyntheticSource::Settings s{.width = 1280,
                                    .height = 720,
                                    .tenBit = c.tenBit,
                                    .pattern = SyntheticSource::Pattern::flat,
                                    .flatColor = {level, level, level}};
        auto bins = maker.histogram(VideoFrame{SyntheticSource::makePicture(s, 0), 0});
        ASSERT_TRUE(bins);
        for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ((*bins)[i], i == c.bin ? 255 : 0) << c.grey << " bin " << i;
    }
}

TEST(Scope, PayloadSizesAndAUniformWaveform) {
    StreamLUT stage(1920);
    const VideoFrame grey{flat(640, 360, 128), 0};
    EXPECT_FALSE(stage.scopePicture(grey, ScopeKind::off, 0));
    auto waveform = stage.scopePicture(grey, ScopeKind::waveform, 0);
    ASSERT_TRUE(waveform);
    ASSERT_EQ(waveform->size(), 4611u);
    EXPECT_EQ((*waveform)[0], 1);
    EXPECT_EQ((*waveform)[1], 96);
    EXPECT_EQ((*waveform)[2], 48);
    const int row = 47 - 128 * 47 / 255;  // 24
    for (int column = 0; column < 96; ++column) {
        for (int r = 0; r < 48; ++r) {
            EXPECT_EQ((*waveform)[static_cast<std::size_t>(3 + r * 96 + column)], r == row ? 255 : 0)
                << column << "," << r;
        }
    }
    auto parade = stage.scopePicture(grey, ScopeKind::parade, 1);
    ASSERT_TRUE(parade);
    EXPECT_EQ(parade->size(), 9219u);
    EXPECT_EQ((*parade)[2], 144);
}

TEST(Scope, TurnedPicturesAreMeasuredUpright) {
    StreamLUT stage(1920);
    // Left half red, right half black: a parade's red block lights up at full level on the left columns only.
    SharedFrame f = flat(200, 100, 0);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) f->data[0][y * f->linesize[0] + 4 * x + 2] = 255;
    auto upright = *stage.scopePicture(VideoFrame{f, 0}, ScopeKind::parade, 0);
    EXPECT_EQ(upright[3 + 0 * 64 + 5], 255);  // red, top row (level 47), left column
    EXPECT_EQ(upright[3 + 0 * 64 + 60], 0);   // right column
    // A half turn puts the red half on the right.
    auto turned = *stage.scopePicture(VideoFrame{f, 0}, ScopeKind::parade, 2);
    EXPECT_EQ(turned[3 + 0 * 64 + 5], 0);
    EXPECT_EQ(turned[3 + 0 * 64 + 60], 255);
}

TEST(Loupe, SquaresStayInsideThePictureAtTheRightSize) {
    StreamLUT stage(1920);
    const VideoFrame hd{quadrants(1920, 1080), 0};
    auto topLeft = decodeJpeg(*stage.loupePicture(hd, false, 0, {0, 0}));
    EXPECT_EQ(topLeft.size(), QSize(216, 216));
    const QColor tl = topLeft.pixelColor(108, 108);
    EXPECT_GT(tl.red(), 200);
    EXPECT_LT(tl.green(), 60);
    auto bottomRight = decodeJpeg(*stage.loupePicture(hd, false, 0, {1, 1}));
    const QColor br = bottomRight.pixelColor(108, 108);
    EXPECT_GT(br.red(), 200);
    EXPECT_GT(br.blue(), 200);
    // A centre from nowhere is the middle of the picture, where all four meet.
    auto middle = decodeJpeg(*stage.loupePicture(hd, false, 0, {NAN, INFINITY}));
    EXPECT_GT(middle.pixelColor(10, 10).red(), 200);     // red, top left of the square
    EXPECT_GT(middle.pixelColor(200, 200).blue(), 200);  // white, bottom right
    auto uhd = decodeJpeg(*stage.loupePicture(VideoFrame{quadrants(3840, 2160), 0}, true, 1, {0.5, 0.5}));
    EXPECT_EQ(uhd.size(), QSize(400, 400));
    EXPECT_FALSE(stage.loupePicture(VideoFrame{quadrants(16, 16), 0}, false, 0, {0.5, 0.5}));
}

TEST(LUTPreviewLayout, SidewaysAnglesSwapTheLayer) {
    struct Case {
        double angle;
        double w, h;
    } cases[] = {{90, 200, 300}, {180, 300, 200}, {89.6, 200, 300}, {0, 300, 200}, {270, 200, 300}};
    for (const auto& c : cases) {
        const auto layout = lutPreviewLayout(300, 200, c.angle, false);
        EXPECT_EQ(layout.width, c.w) << c.angle;
        EXPECT_EQ(layout.height, c.h) << c.angle;
        EXPECT_EQ(layout.centerX, 150);
        EXPECT_EQ(layout.centerY, 100);
    }
    const auto mirrored = lutPreviewLayout(300, 200, 90, true);
    EXPECT_TRUE(mirrored.mirrored);
    EXPECT_DOUBLE_EQ(mirrored.rotationRadians, std::numbers::pi / 2);
}

}  // namespace
}  // namespace morvane
