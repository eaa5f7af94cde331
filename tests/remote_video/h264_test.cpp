// H.264 format parsing, live decoding and compression on real libx264 streams, and hostile parameter sets.

#include <gtest/gtest.h>

#include <random>

#include "live_stream.h"
#include "platform/h264_decoder.h"
#include "platform/h264_format.h"

namespace morvane {
namespace {

using Nal = std::vector<std::uint8_t>;

/// Writes an RBSP bit by bit and wraps it into a NAL unit with emulation prevention.
class BitWriter {
public:
    void bit(std::uint32_t b) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> (used_ % 8));
        ++used_;
    }
    void bits(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bit((value >> i) & 1u);
    }
    void ue(std::uint64_t v) {
        const std::uint64_t x = v + 1;
        int length = 0;
        while ((x >> length) > 1) ++length;
        bits(0, length);
        bits(x, length + 1);
    }
    void se(std::int64_t v) { ue(v <= 0 ? static_cast<std::uint64_t>(-2 * v) : static_cast<std::uint64_t>(2 * v - 1)); }

    Nal nal(std::uint8_t header) {
        bit(1);
        while (used_ % 8) bit(0);
        Nal out{header};
        int zeros = 0;
        for (auto b : bytes_) {
            if (zeros >= 2 && b <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t used_ = 0;
};

struct SpsFields {
    int profile = 66;
    int chromaFormat = 1;
    bool scalingLists = false;
    int pocType = 0;
    std::uint64_t widthInMbs = 20;
    std::uint64_t heightInMapUnits = 15;
    bool frameMbsOnly = true;
    std::uint64_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom
};

Nal craftSps(const SpsFields& f) {
    BitWriter w;
    w.bits(static_cast<std::uint64_t>(f.profile), 8);
    w.bits(0, 8);
    w.bits(40, 8);
    w.ue(0);
    if (f.profile == 100 || f.profile == 244) {
        w.ue(static_cast<std::uint64_t>(f.chromaFormat));
        if (f.chromaFormat == 3) w.bit(0);
        w.ue(0);
        w.ue(0);
        w.bit(0);
        w.bit(f.scalingLists);
        if (f.scalingLists) {
            const int lists = f.chromaFormat != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i) {
                w.bit(1);
                const int size = i < 6 ? 16 : 64;
                for (int j = 0; j < size; ++j) w.se(j == 0 ? 8 : (j % 2 ? 3 : -3));
            }
        }
    }
    w.ue(0);  // log2 max frame num - 4
    w.ue(static_cast<std::uint64_t>(f.pocType));
    if (f.pocType == 0) w.ue(2);
    if (f.pocType == 1) {
        w.bit(0);
        w.se(-2);
        w.se(1);
        w.ue(3);
        for (int i = 0; i < 3; ++i) w.se(i - 1);
    }
    w.ue(1);
    w.bit(0);
    w.ue(f.widthInMbs - 1);
    w.ue(f.heightInMapUnits - 1);
    w.bit(f.frameMbsOnly);
    if (!f.frameMbsOnly) w.bit(0);
    w.bit(1);
    const bool cropping = f.crop[0] || f.crop[1] || f.crop[2] || f.crop[3];
    w.bit(cropping);
    if (cropping) {
        for (auto c : f.crop) w.ue(c);
    }
    w.bit(0);  // no VUI
    return w.nal(0x67);
}

const Nal pps{0x68, 0xce, 0x38, 0x80};

std::optional<H264PictureSize> sizeOf(const SpsFields& f) {
    return H264PictureSize::fromSequenceParameterSet(craftSps(f));
}

TEST(H264Format, SizesOfEncodedStreamsIncludingCropping) {
    for (auto [w, h] : {std::pair{1280, 720}, {1920, 1080}, {720, 1280}, {352, 288}, {202, 114}}) {
        auto session = H264CompressionSession::make({w, h, 30, 1'000'000, 30});
        ASSERT_TRUE(session);
        auto out = session->encode(*session->makeTestPicture(0));
        ASSERT_TRUE(out);
        EXPECT_TRUE(out->isKeyframe);
        auto format = H264Format::make(out->parameterSets);
        ASSERT_TRUE(format) << w << "x" << h;
        EXPECT_EQ(format->width, w);
        EXPECT_EQ(format->height, h);
        EXPECT_EQ(format->parameterSets, out->parameterSets);
    }
}

TEST(H264Format, CraftedSequenceParameterSets) {
    EXPECT_EQ(sizeOf({}), (H264PictureSize{320, 240}));
    // Fields: map units are pairs of macroblock rows, and vertical crop units double.
    SpsFields fields;
    fields.frameMbsOnly = false;
    fields.heightInMapUnits = 17;
    fields.crop[3] = 2;
    EXPECT_EQ(sizeOf(fields), (H264PictureSize{320, 17 * 32 - 8}));
    // High profile 4:4:4 with every scaling list present: crop units of one pixel.
    SpsFields high;
    high.profile = 244;
    high.chromaFormat = 3;
    high.scalingLists = true;
    high.crop[1] = 3;
    high.crop[3] = 5;
    EXPECT_EQ(sizeOf(high), (H264PictureSize{317, 235}));
    // Monochrome and picture order type 1.
    SpsFields mono;
    mono.profile = 100;
    mono.chromaFormat = 0;
    mono.pocType = 1;
    mono.crop[0] = 1;
    EXPECT_EQ(sizeOf(mono), (H264PictureSize{319, 240}));
    // 4:2:0 crops in pairs of pixels.
    SpsFields cropped;
    cropped.crop[0] = 1;
    cropped.crop[2] = 1;
    EXPECT_EQ(sizeOf(cropped), (H264PictureSize{318, 238}));
}

TEST(H264Format, RefusesWhatCannotBeAFormat) {
    const Nal sps = craftSps({});
    EXPECT_TRUE(H264Format::make({sps, pps}));
    EXPECT_TRUE(H264Format::make({pps, sps, pps}));
    EXPECT_FALSE(H264Format::make({}));
    EXPECT_FALSE(H264Format::make({sps}));
    EXPECT_FALSE(H264Format::make({pps}));
    EXPECT_FALSE(H264Format::make({sps, pps, Nal{}}));
    EXPECT_FALSE(H264Format::make({sps, pps, Nal{0x65, 0x88}}));  // a slice is no parameter set
    Nal forbidden = sps;
    forbidden[0] |= 0x80;
    EXPECT_FALSE(H264Format::make({forbidden, pps}));
    Nal huge = pps;
    huge.resize(65536, 0x55);
    EXPECT_FALSE(H264Format::make({sps, huge}));

    SpsFields tooWide;
    tooWide.widthInMbs = H264Format::maxSide / 16 + 1;
    EXPECT_FALSE(sizeOf(tooWide));
    SpsFields tooTall;
    tooTall.heightInMapUnits = 1u << 20;
    EXPECT_FALSE(sizeOf(tooTall));
    SpsFields allCropped;
    allCropped.crop[0] = 80;
    allCropped.crop[1] = 80;
    EXPECT_FALSE(sizeOf(allCropped));
    SpsFields badChroma;
    badChroma.profile = 100;
    badChroma.chromaFormat = 4;
    EXPECT_FALSE(sizeOf(badChroma));
    SpsFields badPoc;
    badPoc.pocType = 3;
    EXPECT_FALSE(sizeOf(badPoc));
}

TEST(H264Format, HostileParameterSetsNeverCrash) {
    auto session = H264CompressionSession::make({640, 360, 30, 1'000'000, 30});
    ASSERT_TRUE(session);
    auto out = session->encode(*session->makeTestPicture(0));
    ASSERT_TRUE(out);
    std::vector<Nal> seeds = out->parameterSets;
    SpsFields high;
    high.profile = 100;
    high.scalingLists = true;
    seeds.push_back(craftSps(high));

    for (const auto& seed : seeds) {
        for (std::size_t n = 0; n <= seed.size(); ++n) {
            const Nal cut(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(n));
            auto size = H264PictureSize::fromSequenceParameterSet(cut);
            if (size) {
                EXPECT_GT(size->width, 0);
                EXPECT_LE(size->height, H264Format::maxSide);
            }
            (void)H264Format::make({cut, pps});
        }
    }
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        Nal nal = seeds[static_cast<std::size_t>(i) % seeds.size()];
        const int flips = 1 + i % 6;
        for (int f = 0; f < flips; ++f) {
            nal[random() % nal.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        }
        if (i % 3 == 0) nal.resize(random() % (nal.size() + 8), 0xff);
        auto size = H264PictureSize::fromSequenceParameterSet(nal);
        if (size) {
            EXPECT_GT(size->width, 0);
            EXPECT_GT(size->height, 0);
            EXPECT_LE(size->width, H264Format::maxSide);
            EXPECT_LE(size->height, H264Format::maxSide);
        }
    }
    for (int i = 0; i < 500; ++i) {
        Nal nal(random() % 40);
        for (auto& b : nal) b = static_cast<std::uint8_t>(random());
        if (!nal.empty()) nal[0] = 0x67;
        (void)H264PictureSize::fromSequenceParameterSet(nal);
    }
}

/// Mean of the red, green and blue values in a square of the picture.
double brightness(const H264Decoder::Picture& p, int x, int y, int side = 8) {
    double sum = 0;
    for (int j = y; j < y + side; ++j) {
        const auto* row =
            reinterpret_cast<const std::uint32_t*>(p.pixels + static_cast<std::ptrdiff_t>(j) * p.bytesPerLine);
        for (int i = x; i < x + side; ++i) {
            const std::uint32_t px = row[i];
            sum += ((px >> 16) & 0xff) + ((px >> 8) & 0xff) + (px & 0xff);
        }
    }
    return sum / (3.0 * side * side);
}

TEST(H264Decoder, EveryAccessUnitGivesItsPictureAtOnce) {
    testing::LiveStream stream(320, 240);
    H264Decoder decoder;
    std::optional<H264Format> format;
    for (int i = 0; i < 12; ++i) {
        auto f = stream.next();
        if (f.isKeyframe) format = H264Format::make(f.output.parameterSets);
        ASSERT_TRUE(format);
        auto picture = decoder.decode(*format, f.output.accessUnit);
        ASSERT_TRUE(picture) << "frame " << i;
        EXPECT_EQ(picture->width, 320);
        EXPECT_EQ(picture->height, 240);
        EXPECT_GE(picture->bytesPerLine, 320 * 4);
        EXPECT_EQ(decoder.status(), H264Decoder::Status::rendering);
        // The test pattern's bright square starts at x = 8 × index, a third of the way down.
        const int squareX = (i * 8) % (320 - 64);
        EXPECT_GT(brightness(*picture, squareX + 24, 80 + 24), 200) << "frame " << i;
        // Alpha is opaque, as an RGB32 image expects.
        EXPECT_EQ(picture->pixels[3], 0xff);
    }
}

TEST(H264Decoder, PicturesOutliveTheDecoder) {
    testing::LiveStream stream(160, 120);
    std::optional<H264Decoder::Picture> kept;
    {
        H264Decoder decoder;
        auto f = stream.next();
        kept = decoder.decode(*H264Format::make(f.output.parameterSets), f.output.accessUnit);
        ASSERT_TRUE(kept);
    }
    EXPECT_EQ(kept->width, 160);
    EXPECT_GT(brightness(*kept, 24, 40 + 24), 200);
}

TEST(H264Decoder, ReplacedFormatTravelsInBandWithoutFlush) {
    testing::LiveStream small(320, 240);
    testing::LiveStream large(640, 360);
    H264Decoder decoder;
    auto first = small.next();
    auto smallFormat = H264Format::make(first.output.parameterSets);
    ASSERT_TRUE(decoder.decode(*smallFormat, first.output.accessUnit));
    ASSERT_TRUE(decoder.decode(*smallFormat, small.next().output.accessUnit));

    auto key = large.next();
    auto largeFormat = H264Format::make(key.output.parameterSets);
    auto picture = decoder.decode(*largeFormat, key.output.accessUnit);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 640);
    EXPECT_EQ(picture->height, 360);
    picture = decoder.decode(*largeFormat, large.next().output.accessUnit);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->height, 360);
}

TEST(H264Decoder, DamagedInputShowsNothingUntilFlushAndKeyFrame) {
    testing::LiveStream stream(320, 240, 1000);
    auto key = stream.next();
    auto format = *H264Format::make(key.output.parameterSets);
    auto frames = stream.take(40);

    std::mt19937 random(11);
    for (int trial = 0; trial < 12; ++trial) {
        H264Decoder decoder;
        ASSERT_TRUE(decoder.decode(format, key.output.accessUnit));
        Bytes damaged = frames[static_cast<std::size_t>(trial)].output.accessUnit;
        if (trial % 3 == 0) {
            damaged.resize(damaged.size() / 2);  // truncated
        } else if (trial % 3 == 1) {
            for (std::size_t i = 8; i < damaged.size(); i += 3) damaged[i] = static_cast<std::uint8_t>(random());
        } else {
            damaged[1] = 0xff;  // a NAL length far past the end
        }
        // No picture from the damaged unit, nor from anything that follows it until a flush.
        EXPECT_FALSE(decoder.decode(format, damaged)) << "trial " << trial;
        EXPECT_TRUE(decoder.requiresFlushToResumeDecoding()) << "trial " << trial;
        for (int k = 1; k <= 3; ++k) {
            EXPECT_FALSE(decoder.decode(format, frames[static_cast<std::size_t>(trial + k)].output.accessUnit));
        }
        decoder.flush();
        EXPECT_FALSE(decoder.requiresFlushToResumeDecoding());
        auto recovered = decoder.decode(format, key.output.accessUnit);
        ASSERT_TRUE(recovered) << "trial " << trial;
        EXPECT_GT(brightness(*recovered, 24, 80 + 24), 200);
    }

    // Random garbage as access units.
    H264Decoder decoder;
    for (int i = 0; i < 200; ++i) {
        Bytes junk(random() % 300);
        for (auto& b : junk) b = static_cast<std::uint8_t>(random());
        if (junk.size() > 4 && i % 2) {
            junk[0] = junk[1] = 0;
            junk[2] = 0;
            junk[3] = static_cast<std::uint8_t>(junk.size() - 4);
        }
        (void)decoder.decode(format, junk);
        if (decoder.requiresFlushToResumeDecoding()) decoder.flush();
    }
    decoder.flush();
    EXPECT_TRUE(decoder.decode(format, key.output.accessUnit));
}

TEST(H264Decoder, StartingAfterTheKeyFrameShowsNoPicture) {
    testing::LiveStream stream(320, 240, 1000);
    auto key = stream.next();
    auto format = *H264Format::make(key.output.parameterSets);
    auto frames = stream.take(5);
    H264Decoder decoder;
    for (const auto& f : frames) EXPECT_FALSE(decoder.decode(format, f.output.accessUnit));
    decoder.flush();
    EXPECT_TRUE(decoder.decode(format, key.output.accessUnit));
    EXPECT_TRUE(decoder.decode(format, frames[0].output.accessUnit));
}

TEST(H264CompressionSession, KeyFramesOnRequestAndOnInterval) {
    auto session = H264CompressionSession::make({192, 108, 30, 500'000, 10});
    ASSERT_TRUE(session);
    std::vector<bool> keys;
    for (int i = 0; i < 25; ++i) {
        auto out = session->encode(*session->makeTestPicture(i), i == 4);
        ASSERT_TRUE(out) << i;
        keys.push_back(out->isKeyframe);
        EXPECT_EQ(out->isKeyframe, !out->parameterSets.empty());
        // Length-prefixed NAL units that fill the access unit exactly, none of them a parameter set.
        std::size_t p = 0;
        while (p + 4 <= out->accessUnit.size()) {
            const std::size_t n = (std::size_t{out->accessUnit[p]} << 24) |
                                  (std::size_t{out->accessUnit[p + 1]} << 16) |
                                  (std::size_t{out->accessUnit[p + 2]} << 8) | out->accessUnit[p + 3];
            ASSERT_GT(n, 0u);
            const int type = out->accessUnit[p + 4] & 0x1f;
            EXPECT_NE(type, 7);
            EXPECT_NE(type, 8);
            p += 4 + n;
        }
        EXPECT_EQ(p, out->accessUnit.size());
    }
    EXPECT_TRUE(keys[0]);
    EXPECT_TRUE(keys[4]);
    EXPECT_FALSE(keys[1]);
    EXPECT_FALSE(keys[5]);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), true), 4);  // 0, 4, then every 10 frames: 14, 24
    EXPECT_FALSE(H264CompressionSession::make({321, 240, 30, 1'000'000, 30}));
}

TEST(H264CompressionSession, HighProfileWithoutReorderingInBothRateControls) {
    for (const bool lowLatency : {true, false}) {
        auto session = H264CompressionSession::make({320, 180, 30, 400'000, 30, lowLatency});
        ASSERT_TRUE(session);
        for (int i = 0; i < 8; ++i) {
            // Each picture comes out as it goes in: nothing is held back for reordering.
            auto out = session->encode(*session->makeTestPicture(i), false);
            ASSERT_TRUE(out) << i << " low latency " << lowLatency;
            if (i == 0) {
                ASSERT_FALSE(out->parameterSets.empty());
                const auto& sps = out->parameterSets.front();
                ASSERT_GE(sps.size(), 4u);
                EXPECT_EQ(sps[0] & 0x1f, 7);
                EXPECT_EQ(sps[1], 100) << "profile_idc, low latency " << lowLatency;  // High
            }
        }
        session->setBitRate(200'000);
        EXPECT_TRUE(session->encode(*session->makeTestPicture(9), false));
    }
}

}  // namespace
}  // namespace morvane
