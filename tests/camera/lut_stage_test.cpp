// The monitoring stage: output sizes, the built-in cubes, custom LUTs from the network, and the aids.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "camera/stream_lut.h"
#include "platform/synthetic_source.h"
#include "protocol/false_color.h"

namespace morvane {
namespace {

std::array<int, 3> rgbAt(const AVFrame& f, int x, int y) {
    const std::uint8_t* p = f.data[0] + y * f.linesize[0] + 4 * x;
    return {p[2], p[1], p[0]};
}

SharedFrame flatBgra(int w, int h, int r, int g, int b) {
    SharedFrame f = makeVideoFrame(w, h, AV_PIX_FMT_BGRA);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = f->data[0] + y * f->linesize[0] + 4 * x;
            p[0] = static_cast<std::uint8_t>(b);
            p[1] = static_cast<std::uint8_t>(g);
            p[2] = static_cast<std::uint8_t>(r);
            p[3] = 255;
        }
    }
    return f;
}

TEST(StreamLUT, OutputSizesAreEvenAndNeverEnlarged) {
    struct Case {
        int w, h;
        double side;
        int ow, oh;
    } cases[] = {{3840, 2160, 1920, 1920, 1080},
                 {1280, 720, 1920, 1280, 720},
                 {1919, 1079, 1920, 1918, 1078},
                 {2160, 3840, 1920, 1080, 1920},
                 {0, 720, 1920, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(StreamLUT::outputSize(c.w, c.h, c.side), std::make_pair(c.ow, c.oh)) << c.w << "x" << c.h;
    }
    StreamLUT stage(1920);
    EXPECT_EQ(stage.name(), "None");
    EXPECT_FALSE(stage.hasFilter());
    SyntheticSource::Settings s{.width = 3840, .height = 2160};
    auto out = stage.apply(VideoFrame{SyntheticSource::makePicture(s, 0), 0}, {});
    ASSERT_TRUE(out);
    EXPECT_EQ(out->width, 1920);
    EXPECT_EQ(out->height, 1080);
    EXPECT_EQ(out->format, AV_PIX_FMT_BGRA);
    EXPECT_EQ(out->color_primaries, AVCOL_PRI_BT709);
}

TEST(ColorCubes, FalseColourAndClippingEntries) {
    auto fc = cubes::falseColor();
    ASSERT_EQ(fc->dimension, 64);
    ASSERT_EQ(fc->rgba.size(), 1048576u);
    using C = std::array<float, 3>;
    struct Case {
        int r, g, b;
        C out;
    } falseColor[] = {
        {0, 0, 0, {0.55f, 0.15f, 0.85f}},   // crushed
        {63, 63, 63, {1.0f, 0.1f, 0.1f}},   // clipped
        {1, 1, 1, {0.1f, 0.35f, 1.0f}},     // luma 0.0159: black
        {25, 25, 25, {0.2f, 0.8f, 0.25f}},  // luma 0.397: mid grey
    };
    for (const auto& c : falseColor) {
        const C e = fc->entry(c.r, c.g, c.b);
        for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(e[i], c.out[i]) << c.r;
    }
    // Outside every band: grey at 0.85 × luma.
    const C grey = fc->entry(13, 13, 13);
    EXPECT_NEAR(grey[0], 13.0f / 63 * 0.85f, 1e-5);
    EXPECT_FLOAT_EQ(fc->rgba[fc->index(5, 9, 40) + 3], 1.0f);
    // Shared bounds: the later band wins.
    const auto bands = FalseColor::bands();
    EXPECT_EQ(bands.size(), 6u);
    EXPECT_TRUE(bands[4].contains(0.985f) && bands[5].contains(0.985f));

    auto clip = cubes::clipping();
    EXPECT_EQ(clip->entry(63, 0, 0), (C{1.0f, 0.1f, 0.1f}));
    EXPECT_EQ(clip->entry(0, 0, 0), (C{0.15f, 0.35f, 1.0f}));
    const C mid = clip->entry(32, 32, 32);
    EXPECT_FLOAT_EQ(mid[1], 32.0f / 63.0f);
}

TEST(ColorCubes, CustomLutsAreCheckedBeforeUse) {
    auto identity = [](int n) {
        std::vector<float> v;
        for (int b = 0; b < n; ++b)
            for (int g = 0; g < n; ++g)
                for (int r = 0; r < n; ++r) {
                    v.push_back(r / float(n - 1));
                    v.push_back(g / float(n - 1));
                    v.push_back(b / float(n - 1));
                }
        return v;
    };
    EXPECT_TRUE(makeCustomCube(2, identity(2)));
    EXPECT_TRUE(makeCustomCube(64, identity(64)));
    EXPECT_FALSE(makeCustomCube(1, std::vector<float>(3, 0.5f)));
    EXPECT_FALSE(makeCustomCube(65, identity(2)));
    EXPECT_FALSE(makeCustomCube(-2000000, identity(2)));
    EXPECT_FALSE(makeCustomCube(3, identity(2)));  // wrong count
    auto nan = identity(2);
    nan[4] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(makeCustomCube(2, nan));
    auto inf = identity(2);
    inf[0] = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(makeCustomCube(2, inf));

    // Little-endian bytes, whatever the host: 0.5f is 00 00 00 3F.
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 24; ++i) bytes.insert(bytes.end(), {0x00, 0x00, 0x00, 0x3F});
    auto half = makeCustomCube(2, bytes);
    ASSERT_TRUE(half);
    EXPECT_FLOAT_EQ(half->entry(1, 1, 1)[2], 0.5f);
    EXPECT_FALSE(makeCustomCube(2, std::vector<std::uint8_t>(95, 0)));
}

TEST(StreamLUT, ACustomCubeAppliesWithTrilinearLookup) {
    // An inverting 2-cube: every colour becomes its complement.
    std::vector<float> invert;
    for (int b = 0; b < 2; ++b)
        for (int g = 0; g < 2; ++g)
            for (int r = 0; r < 2; ++r) invert.insert(invert.end(), {1.0f - r, 1.0f - g, 1.0f - b});
    auto cube = std::make_shared<const ColorCube>(*makeCustomCube(2, invert));
    StreamLUT stage("Invert", cube, 1920);
    auto out = stage.apply(VideoFrame{flatBgra(64, 32, 200, 100, 30), 0}, {});
    ASSERT_TRUE(out);
    const auto rgb = rgbAt(*out, 10, 10);
    EXPECT_NEAR(rgb[0], 55, 2);
    EXPECT_NEAR(rgb[1], 155, 2);
    EXPECT_NEAR(rgb[2], 225, 2);
    // The float lookup agrees.
    const auto f = cube->lookup(200 / 255.0f, 100 / 255.0f, 30 / 255.0f);
    EXPECT_NEAR(f[0] * 255, 55, 1);
}

// The lookup as the stage has always done it, one channel at a time: 12-bit entries, interpolated along red, then
// green, then blue, rounding down at each step, and the top 8 bits kept.
std::array<int, 3> referenceLookup(const ColorCube& cube, int r, int g, int b) {
    const int d = cube.dimension;
    auto q = [](float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 4095.0f)); };
    auto cell = [d](int v, int& i0) {
        const double pos = v / 255.0 * (d - 1);
        i0 = std::min(static_cast<int>(pos), d - 2);
        return static_cast<int>(std::lround((pos - i0) * 256.0));
    };
    int ir, ig, ib;
    const int fr = cell(r, ir), fg = cell(g, ig), fb = cell(b, ib);
    auto lerp = [](int a, int c, int f) { return (a * (256 - f) + c * f) >> 8; };
    std::array<int, 3> out{};
    for (int c = 0; c < 3; ++c) {
        auto at = [&](int dr, int dg, int db) {
            return q(cube.rgba[cube.index(ir + dr, ig + dg, ib + db) + static_cast<std::size_t>(c)]);
        };
        auto alongRed = [&](int dg, int db) { return lerp(at(0, dg, db), at(1, dg, db), fr); };
        const int near = lerp(alongRed(0, 0), alongRed(1, 0), fg);
        const int far = lerp(alongRed(0, 1), alongRed(1, 1), fg);
        out[static_cast<std::size_t>(c)] = lerp(near, far, fb) >> 4;
    }
    return out;
}

TEST(StreamLUT, TheLookupGivesTheSamePictureAsThePlainLoop) {
    // Every red and green value against a spread of blues (with 0 and 255), then noise, in rows whose width leaves
    // one or three pixels after the last group of four.
    std::mt19937 random(11);
    std::vector<float> wild(static_cast<std::size_t>(17 * 17 * 17 * 3));
    for (auto& v : wild) v = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
    std::vector<float> invert;
    for (int b = 0; b < 2; ++b)
        for (int g = 0; g < 2; ++g)
            for (int r = 0; r < 2; ++r) invert.insert(invert.end(), {1.0f - r, 1.0f - g, 1.0f - b});
    const struct {
        const char* name;
        std::shared_ptr<const ColorCube> cube;
    } cases[] = {{"log", cubes::logToRec709()},
                 {"false colour", cubes::falseColor()},
                 {"clipping", cubes::clipping()},
                 {"wild 17", std::make_shared<const ColorCube>(*makeCustomCube(17, wild))},
                 {"invert 2", std::make_shared<const ColorCube>(*makeCustomCube(2, invert))}};
    for (const int width : {257, 259}) {
        const int height = 256 * 3 / 2;
        SharedFrame picture = makeVideoFrame(width, height, AV_PIX_FMT_BGRA);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = picture->data[0] + y * picture->linesize[0] + 4 * x;
                const bool sweep = y < 256 && x < 256;
                p[0] = static_cast<std::uint8_t>(sweep ? (x * 7 + y * 13) % 256 : random() % 256);
                p[1] = static_cast<std::uint8_t>(sweep ? y : random() % 256);
                p[2] = static_cast<std::uint8_t>(sweep ? x : random() % 256);
                p[3] = static_cast<std::uint8_t>(x);
            }
        }
        for (const auto& c : cases) {
            SharedFrame out = makeVideoFrame(width, height, AV_PIX_FMT_BGRA);
            av_frame_copy(out.get(), picture.get());
            StreamLUT::colorCubeFilter(*c.cube, *out);
            int wrong = 0;
            for (int y = 0; y < height && wrong < 5; ++y) {
                for (int x = 0; x < width && wrong < 5; ++x) {
                    const std::uint8_t* in = picture->data[0] + y * picture->linesize[0] + 4 * x;
                    const auto want = referenceLookup(*c.cube, in[2], in[1], in[0]);
                    const auto got = rgbAt(*out, x, y);
                    const std::uint8_t alpha = out->data[0][y * out->linesize[0] + 4 * x + 3];
                    if (got != want || alpha != in[3]) {
                        ++wrong;
                        ADD_FAILURE() << c.name << " width " << width << " at " << x << "," << y << ": got " << got[0]
                                      << " " << got[1] << " " << got[2] << ", want " << want[0] << " " << want[1] << " "
                                      << want[2];
                    }
                    // And the integer steps stay within one code value of the float lookup.
                    const auto f = c.cube->lookup(in[2] / 255.0f, in[1] / 255.0f, in[0] / 255.0f);
                    for (int k = 0; k < 3; ++k) {
                        const float exact = std::clamp(f[static_cast<std::size_t>(k)], 0.0f, 1.0f) * 255.0f;
                        if (std::abs(exact - static_cast<float>(got[static_cast<std::size_t>(k)])) > 1.5f &&
                            wrong < 5) {
                            ++wrong;
                            ADD_FAILURE() << c.name << " far from the float lookup at " << x << "," << y;
                        }
                    }
                }
            }
        }
    }
}

TEST(StreamLUT, FalseColourWinsOverClipping) {
    StreamLUT stage(1920);
    ExposureAids both;
    both.falseColor = true;
    both.clipping = true;
    auto out = stage.apply(VideoFrame{flatBgra(32, 32, 0, 0, 0), 0}, both);
    ASSERT_TRUE(out);
    const auto rgb = rgbAt(*out, 5, 5);
    EXPECT_NEAR(rgb[0], 140, 2);  // crushed purple 0.55, 0.15, 0.85 — not clipping's blue
    EXPECT_NEAR(rgb[1], 38, 2);
    EXPECT_NEAR(rgb[2], 217, 2);
    ExposureAids clipping;
    clipping.clipping = true;
    const auto blue = rgbAt(*stage.apply(VideoFrame{flatBgra(32, 32, 0, 0, 0), 0}, clipping), 5, 5);
    EXPECT_NEAR(blue[2], 255, 2);
    EXPECT_NEAR(blue[0], 38, 2);
}

TEST(StreamLUT, PeakingMarksEdgesAndZebrasStripeHighlights) {
    // Left half dark, right half mid grey: one sharp edge down the middle.
    SharedFrame f = flatBgra(64, 32, 20, 20, 20);
    for (int y = 0; y < 32; ++y)
        for (int x = 32; x < 64; ++x) std::memset(f->data[0] + y * f->linesize[0] + 4 * x, 128, 3);
    StreamLUT::peakingOverlay(*f, PeakingLevel::high);
    EXPECT_EQ(rgbAt(*f, 32, 10), (std::array<int, 3>{255, 38, 26}));
    EXPECT_EQ(rgbAt(*f, 10, 10), (std::array<int, 3>{20, 20, 20}));
    EXPECT_EQ(rgbAt(*f, 50, 10), (std::array<int, 3>{128, 128, 128}));
    EXPECT_EQ(StreamLUT::peakingParameters(PeakingLevel::high), std::make_pair(8.0, 0.22));
    EXPECT_EQ(StreamLUT::peakingParameters(PeakingLevel::low), std::make_pair(3.5, 0.5));
    EXPECT_EQ(StreamLUT::peakingParameters(PeakingLevel::medium), std::make_pair(5.0, 0.35));
    // A faint edge passes at high and not at low.
    SharedFrame faint = flatBgra(64, 32, 100, 100, 100);
    for (int y = 0; y < 32; ++y)
        for (int x = 32; x < 64; ++x) std::memset(faint->data[0] + y * faint->linesize[0] + 4 * x, 140, 3);
    SharedFrame faintLow = flatBgra(64, 32, 100, 100, 100);
    for (int y = 0; y < 32; ++y)
        for (int x = 32; x < 64; ++x) std::memset(faintLow->data[0] + y * faintLow->linesize[0] + 4 * x, 140, 3);
    StreamLUT::peakingOverlay(*faint, PeakingLevel::high);
    StreamLUT::peakingOverlay(*faintLow, PeakingLevel::low);
    EXPECT_EQ(rgbAt(*faint, 32, 10)[1], 38);
    EXPECT_EQ(rgbAt(*faintLow, 32, 10)[1], 140);

    SharedFrame bright = flatBgra(40, 40, 250, 250, 250);
    SharedFrame grey = flatBgra(40, 40, 128, 128, 128);
    StreamLUT::zebraOverlay(*bright);
    StreamLUT::zebraOverlay(*grey);
    int striped = 0;
    for (int x = 0; x < 40; ++x) striped += rgbAt(*bright, x, 20)[0] != 250;
    EXPECT_GT(striped, 10);
    EXPECT_LT(striped, 30);
    for (int x = 0; x < 40; ++x) EXPECT_EQ(rgbAt(*grey, x, 20)[0], 128);
}

TEST(StreamLUT, ThePoolIsKeptForOneSizeAndMadeAgainForAnother) {
    StreamLUT stage(1920);
    auto a = stage.makePool(64, 32);
    EXPECT_TRUE(stage.pool().remadeLastTime());
    AVFrame* first = a.get();
    a.reset();
    auto b = stage.makePool(64, 32);
    EXPECT_FALSE(stage.pool().remadeLastTime());
    EXPECT_EQ(b.get(), first);  // handed back once nobody held it
    auto c = stage.makePool(64, 32);
    EXPECT_NE(c.get(), b.get());  // still held: another one
    stage.makePool(128, 64);
    EXPECT_TRUE(stage.pool().remadeLastTime());
}

TEST(StreamLUT, TenBitPicturesPassThroughTheStage) {
    StreamLUT stage(1920);
    SyntheticSource::Settings s{.width = 640,
                                .height = 360,
                                .tenBit = true,
                                .pattern = SyntheticSource::Pattern::flat,
                                .flatColor = {0.0f, 0.75f, 0.0f}};
    auto out = stage.apply(VideoFrame{SyntheticSource::makePicture(s, 0), 0}, {});
    ASSERT_TRUE(out);
    const auto rgb = rgbAt(*out, 100, 100);
    EXPECT_NEAR(rgb[1], 191, 6);
    EXPECT_LT(rgb[0], 12);
}

}  // namespace
}  // namespace morvane
