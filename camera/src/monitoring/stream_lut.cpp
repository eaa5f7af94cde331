#include "camera/stream_lut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

#include <QBuffer>
#include <QImage>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace morvane {

// MARK: - FramePool

SharedFrame FramePool::get(int width, int height, AVPixelFormat format) {
    remade_ = false;
    if (width != width_ || height != height_ || format != format_) {
        frames_.clear();
        width_ = width;
        height_ = height;
        format_ = format;
        remade_ = true;
    }
    for (const auto& frame : frames_) {
        if (frame.use_count() == 1) return frame;  // nobody downstream holds it any more
    }
    SharedFrame frame = makeVideoFrame(width, height, format);
    if (frame && frames_.size() < capacity) frames_.push_back(frame);
    return frame;
}

// MARK: - Packed cube lookup

// A cube packed for the per-pixel loop. The red axis is interpolated ahead for every 8-bit red value, which
// leaves a pixel four loads and two steps of interpolation instead of eight loads and three steps; each entry holds
// blue, green and red as 12-bit values in 16-bit lanes (the fourth lane 0), so that one SIMD multiply-add
// interpolates all three channels of a pair of entries. Every step rounds down at 12 bits as the plain loop does,
// so both loops give the same picture to the bit.
struct PackedCube {
    int dimension = 0;
    std::vector<std::uint64_t> red;  // [blue index][green index][8-bit red value]
    // Each 8-bit value's weight toward the next grid index f (0…256), as 256 − f in the low half and f in the high.
    std::array<std::uint32_t, 256> weight{};
    // Each 8-bit value's lower grid index already multiplied by its axis' stride in `red`.
    std::array<std::uint32_t, 256> rowG{}, rowB{};
};

namespace {

inline std::uint32_t lerp(std::uint32_t a, std::uint32_t b, std::uint32_t weight) {
    return (a * (weight & 0xFFFF) + b * (weight >> 16)) >> 8;
}

inline std::uint32_t lane(std::uint64_t entry, int channel) {
    return static_cast<std::uint32_t>(entry >> (16 * channel)) & 0xFFFF;
}

}  // namespace

PackedCube pack(const ColorCube& cube) {
    PackedCube p;
    const int d = cube.dimension;
    p.dimension = d;
    auto q = [](float v) {
        return static_cast<std::uint32_t>(std::lround(std::clamp(std::isfinite(v) ? v : 0.0f, 0.0f, 1.0f) * 4095.0f));
    };
    const double top = d - 1;
    std::array<std::uint32_t, 256> index{};
    for (int v = 0; v < 256; ++v) {
        const auto at = static_cast<std::size_t>(v);
        const double pos = v / 255.0 * top;
        const int i0 = std::min(static_cast<int>(pos), d - 2);
        const auto f = static_cast<std::uint32_t>(std::lround((pos - i0) * 256.0));
        index[at] = static_cast<std::uint32_t>(i0);
        p.weight[at] = (256 - f) | (f << 16);
        p.rowG[at] = static_cast<std::uint32_t>(i0) * 256;
        p.rowB[at] = static_cast<std::uint32_t>(i0) * static_cast<std::uint32_t>(d) * 256;
    }
    const auto rows = static_cast<std::size_t>(d) * d;
    const std::size_t count = rows * static_cast<std::size_t>(d);
    std::vector<std::uint32_t> quantised(count * 3);  // blue, green, red of each entry
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t c = 0; c < 3; ++c) quantised[i * 3 + c] = q(cube.rgba[i * 4 + 2 - c]);
    }
    p.red.resize(rows * 256);
    for (std::size_t row = 0; row < rows; ++row) {
        const std::uint32_t* e = quantised.data() + row * static_cast<std::size_t>(d) * 3;
        std::uint64_t* out = p.red.data() + row * 256;
        for (std::size_t v = 0; v < 256; ++v) {
            const std::uint32_t* e0 = e + index[v] * 3;
            std::uint64_t entry = 0;
            for (std::size_t c = 0; c < 3; ++c) entry |= std::uint64_t{lerp(e0[c], e0[c + 3], p.weight[v])} << (16 * c);
            out[v] = entry;
        }
    }
    return p;
}

namespace {

// Four pixels at a time with SSE4.1: for each pixel, the green step on both blue rows and then the blue step, each
// one multiply-add over the three channels.
#if defined(__x86_64__) || defined(__i386__)
#define MORVANE_LUT_SSE 1

__attribute__((target("sse4.1"))) inline __m128i lookUp(const PackedCube& p, const std::uint8_t* px) {
    const std::uint64_t* e = p.red.data();
    const std::size_t nextB = static_cast<std::size_t>(p.dimension) * 256;
    const std::size_t b = px[0], g = px[1], r = px[2];
    const std::size_t base = std::size_t{p.rowG[g]} + p.rowB[b] + r;
    const __m128i wg = _mm_set1_epi32(static_cast<int>(p.weight[g]));
    const __m128i wb = _mm_set1_epi32(static_cast<int>(p.weight[b]));
    auto load = [](const std::uint64_t* at) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)); };
    // Entries of neighbouring green rows side by side: (blue, blue′, green, green′, red, red′, 0, 0).
    const __m128i near = _mm_unpacklo_epi16(load(e + base), load(e + base + 256));
    const __m128i far = _mm_unpacklo_epi16(load(e + base + nextB), load(e + base + nextB + 256));
    const __m128i c0 = _mm_srli_epi32(_mm_madd_epi16(near, wg), 8);
    const __m128i c1 = _mm_srli_epi32(_mm_madd_epi16(far, wg), 8);
    return _mm_srli_epi32(_mm_madd_epi16(_mm_or_si128(c0, _mm_slli_epi32(c1, 16)), wb), 12);
}

__attribute__((target("sse4.1"))) int applyRowSSE(const PackedCube& p, std::uint8_t* row, int width) {
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        std::uint8_t* px = row + 4 * x;
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
        const __m128i first = _mm_packus_epi32(lookUp(p, px), lookUp(p, px + 4));
        const __m128i second = _mm_packus_epi32(lookUp(p, px + 8), lookUp(p, px + 12));
        const __m128i out = _mm_or_si128(_mm_and_si128(in, alpha), _mm_packus_epi16(first, second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px), out);
    }
    return x;
}

bool hasSSE41() {
    static const bool has = __builtin_cpu_supports("sse4.1");
    return has;
}
#endif

// The same steps one pixel and one channel at a time, for what the SIMD loop leaves.
void applyRowPlain(const PackedCube& p, std::uint8_t* row, int from, int width) {
    const std::uint64_t* e = p.red.data();
    const std::size_t nextB = static_cast<std::size_t>(p.dimension) * 256;
    for (int x = from; x < width; ++x) {
        std::uint8_t* px = row + 4 * x;
        const std::size_t b = px[0], g = px[1], r = px[2];
        const std::size_t base = std::size_t{p.rowG[g]} + p.rowB[b] + r;
        const std::uint32_t wg = p.weight[g], wb = p.weight[b];
        for (int c = 0; c < 3; ++c) {
            const auto c0 = lerp(lane(e[base], c), lane(e[base + 256], c), wg);
            const auto c1 = lerp(lane(e[base + nextB], c), lane(e[base + nextB + 256], c), wg);
            px[c] = static_cast<std::uint8_t>(lerp(c0, c1, wb) >> 4);
        }
    }
}

}  // namespace

namespace {

inline int lumaOf(const std::uint8_t* bgra) {
    return (bgra[2] * 54 + bgra[1] * 183 + bgra[0] * 19) >> 8;  // Rec.709 weights
}

void forEachRow(AVFrame& f, auto&& body) {
    for (int y = 0; y < f.height; ++y) body(y, f.data[0] + static_cast<std::ptrdiff_t>(y) * f.linesize[0]);
}

}  // namespace

void StreamLUT::colorCubeFilter(const ColorCube& cube, AVFrame& bgra) {
    if (cube.dimension < 2) return;
    applyPacked(pack(cube), bgra);
}

void StreamLUT::applyPacked(const PackedCube& p, AVFrame& bgra) {
    if (p.dimension < 2) return;
    forEachRow(bgra, [&](int, std::uint8_t* row) {
        int done = 0;
#ifdef MORVANE_LUT_SSE
        if (hasSSE41()) done = applyRowSSE(p, row, bgra.width);
#endif
        applyRowPlain(p, row, done, bgra.width);
    });
}

std::pair<double, double> StreamLUT::peakingParameters(PeakingLevel level) {
    switch (level) {
        case PeakingLevel::low:
            return {3.5, 0.5};
        case PeakingLevel::medium:
            return {5.0, 0.35};
        case PeakingLevel::high:
            return {8.0, 0.22};
    }
    return {5.0, 0.35};
}

void StreamLUT::peakingOverlay(AVFrame& bgra, PeakingLevel level) {
    const auto [intensity, threshold] = peakingParameters(level);
    const int w = bgra.width, h = bgra.height;
    if (w < 3 || h < 3) return;
    // Edge strength = intensity × gradient of the grey picture (0…1 a step); strong edges take the peaking colour.
    // Compared squared, in the 8-bit grey's units: (gx² + gy²) > (threshold × 2 × 255 ÷ intensity)².
    const double limit = threshold * 2.0 * 255.0 / intensity;
    const int limitSquared = static_cast<int>(limit * limit);
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(w) * h);
    forEachRow(bgra, [&](int y, std::uint8_t* row) {
        std::uint8_t* g = grey.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) g[x] = static_cast<std::uint8_t>(lumaOf(row + 4 * x));
    });
    for (int y = 1; y < h - 1; ++y) {
        const std::uint8_t* up = grey.data() + static_cast<std::size_t>(y - 1) * w;
        const std::uint8_t* mid = up + w;
        const std::uint8_t* down = mid + w;
        std::uint8_t* row = bgra.data[0] + static_cast<std::ptrdiff_t>(y) * bgra.linesize[0];
        for (int x = 1; x < w - 1; ++x) {
            const int gx = mid[x + 1] - mid[x - 1];
            const int gy = down[x] - up[x];
            if (gx * gx + gy * gy > limitSquared) {
                std::uint8_t* px = row + 4 * x;
                px[0] = 26;   // blue 0.1
                px[1] = 38;   // green 0.15
                px[2] = 255;  // red 1.0
            }
        }
    }
}

void StreamLUT::zebraOverlay(AVFrame& bgra) {
    // Stripes 5 pixels wide at 45°, white at 0.85 opacity, only where the grey picture is above 0.95.
    constexpr int kOver = 242;  // 0.95 × 255
    forEachRow(bgra, [&](int y, std::uint8_t* row) {
        for (int x = 0; x < bgra.width; ++x) {
            std::uint8_t* px = row + 4 * x;
            if (lumaOf(px) <= kOver) continue;
            const int across = ((x + y) * 181) >> 8;  // distance across the stripes: (x + y) ÷ √2
            if ((across / 5) % 2 == 0) continue;
            for (int c = 0; c < 3; ++c) px[c] = static_cast<std::uint8_t>((217 * 255 + 38 * px[c] + 127) / 255);
        }
    });
}

// MARK: - StreamLUT

StreamLUT::StreamLUT(double maxLongSide) : name_("None"), maxLongSide_(maxLongSide) {}

StreamLUT::StreamLUT(std::string name, std::shared_ptr<const ColorCube> filter, double maxLongSide)
    : name_(std::move(name)), filter_(std::move(filter)), maxLongSide_(maxLongSide) {
    if (filter_ && filter_->dimension >= 2) packedFilter_ = std::make_shared<const PackedCube>(pack(*filter_));
}

namespace {
const PackedCube& packedFalseColor() {
    static const PackedCube cube = pack(*cubes::falseColor());
    return cube;
}
const PackedCube& packedClipping() {
    static const PackedCube cube = pack(*cubes::clipping());
    return cube;
}
}  // namespace

StreamLUT::~StreamLUT() {
    sws_freeContext(sws_);
}

std::pair<int, int> StreamLUT::outputSize(int width, int height, double maxLongSide) {
    if (width <= 0 || height <= 0) return {0, 0};
    const double w = width, h = height;
    double scale = std::min(maxLongSide / std::max(w, h), 1.0);
    if (!std::isfinite(scale) || scale < 0) scale = 0;
    return {static_cast<int>(w * scale) & ~1, static_cast<int>(h * scale) & ~1};
}

SharedFrame StreamLUT::makePool(int width, int height) {
    return pool_.get(width, height, AV_PIX_FMT_BGRA);
}

bool StreamLUT::render(const AVFrame& frame, std::array<int, 4> crop, AVFrame& out) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return false;
    auto [left, top, width, height] = crop;
    // Crops start on even pixels so that subsampled colour planes line up.
    left &= ~1;
    top &= ~1;
    if (width < 2 || height < 2 || left < 0 || top < 0 || left + width > frame.width || top + height > frame.height) {
        return false;
    }
    const std::uint8_t* planes[4] = {};
    int strides[4] = {};
    for (int i = 0; i < 4 && frame.data[i]; ++i) {
        const bool chroma = i == 1 || i == 2;
        const int shiftX = chroma ? desc->log2_chroma_w : 0;
        const int shiftY = chroma ? desc->log2_chroma_h : 0;
        int step = desc->comp[0].step;
        for (int c = 0; c < desc->nb_components; ++c) {
            if (desc->comp[c].plane == i) {
                step = desc->comp[c].step;
                break;
            }
        }
        planes[i] = frame.data[i] + static_cast<std::ptrdiff_t>(top >> shiftY) * frame.linesize[i] +
                    static_cast<std::ptrdiff_t>(left >> shiftX) * step;
        strides[i] = frame.linesize[i];
    }
    sws_ = sws_getCachedContext(sws_, width, height, format, out.width, out.height,
                                static_cast<AVPixelFormat>(out.format), SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) return false;
    setColorConversion(sws_, frame, static_cast<AVPixelFormat>(out.format));
    return sws_scale(sws_, planes, strides, 0, height, out.data, out.linesize) == out.height;
}

SharedFrame StreamLUT::apply(const VideoFrame& frame, const ExposureAids& aids) {
    if (!frame.picture) return nullptr;
    const auto [width, height] = outputSize(frame.width(), frame.height(), maxLongSide_);
    if (width < 2 || height < 2) return nullptr;
    SharedFrame out = makePool(width, height);
    if (!out) return nullptr;
    if (!render(*frame.picture, {0, 0, frame.width(), frame.height()}, *out)) return nullptr;
    if (packedFilter_) applyPacked(*packedFilter_, *out);
    if (aids.falseColor) {
        applyPacked(packedFalseColor(), *out);
    } else if (aids.clipping) {
        applyPacked(packedClipping(), *out);
    }
    if (aids.peaking) peakingOverlay(*out, aids.peakingLevel);
    if (aids.zebras) zebraOverlay(*out);
    out->color_primaries = AVCOL_PRI_BT709;
    out->color_trc = AVCOL_TRC_BT709;
    out->colorspace = AVCOL_SPC_BT709;
    out->pts = frame.picture->pts;
    return out;
}

namespace {

// The picture turned by quarter turns clockwise (1 = right, 2 = down, 3 = left), as the remote turns the stream.
SharedFrame rotated(const AVFrame& in, int quarterTurns) {
    quarterTurns &= 3;
    const bool sideways = quarterTurns % 2 == 1;
    SharedFrame out = makeVideoFrame(sideways ? in.height : in.width, sideways ? in.width : in.height, AV_PIX_FMT_BGRA);
    if (!out) return nullptr;
    for (int y = 0; y < out->height; ++y) {
        auto* dst = reinterpret_cast<std::uint32_t*>(out->data[0] + static_cast<std::ptrdiff_t>(y) * out->linesize[0]);
        for (int x = 0; x < out->width; ++x) {
            int sx, sy;
            switch (quarterTurns) {
                case 1:
                    sx = y;
                    sy = in.height - 1 - x;
                    break;
                case 2:
                    sx = in.width - 1 - x;
                    sy = in.height - 1 - y;
                    break;
                case 3:
                    sx = in.width - 1 - y;
                    sy = x;
                    break;
                default:
                    sx = x;
                    sy = y;
                    break;
            }
            std::memcpy(&dst[x], in.data[0] + static_cast<std::ptrdiff_t>(sy) * in.linesize[0] + 4 * sx, 4);
        }
    }
    return out;
}

}  // namespace

std::optional<Bytes> StreamLUT::scopePicture(const VideoFrame& frame, ScopeKind kind, std::uint8_t rotation) {
    if (kind == ScopeKind::off || !frame.picture) return std::nullopt;
    const int columns = kind == ScopeKind::waveform ? 96 : 64;
    const int blocks = kind == ScopeKind::waveform ? 1 : 3;
    const int turns = rotation & 3;
    const bool sideways = turns % 2 == 1;
    // Rendered straight at the size the picture has once turned: 4W × 100.
    SharedFrame small = makeVideoFrame(sideways ? 100 : 4 * columns, sideways ? 4 * columns : 100, AV_PIX_FMT_BGRA);
    if (!small || !render(*frame.picture, {0, 0, frame.width(), frame.height()}, *small)) return std::nullopt;
    if (packedFilter_) applyPacked(*packedFilter_, *small);
    SharedFrame upright = turns ? rotated(*small, turns) : small;
    if (!upright) return std::nullopt;
    std::vector<std::uint32_t> counts(static_cast<std::size_t>(48 * columns * blocks), 0);
    for (int y = 0; y < upright->height; ++y) {
        const std::uint8_t* row = upright->data[0] + static_cast<std::ptrdiff_t>(y) * upright->linesize[0];
        for (int x = 0; x < 4 * columns; ++x) {
            const int column = x / 4;
            const int b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2];
            if (kind == ScopeKind::waveform) {
                const int luma = (2126 * r + 7152 * g + 722 * b) / 10000;
                const int level = luma * 47 / 255;
                ++counts[static_cast<std::size_t>((47 - level) * 96 + column)];
            } else {
                const int values[3] = {r, g, b};
                for (int c = 0; c < 3; ++c) {
                    const int level = values[c] * 47 / 255;
                    ++counts[static_cast<std::size_t>(c * 3072 + (47 - level) * 64 + column)];
                }
            }
        }
    }
    const double peak = std::max<std::uint32_t>(1, *std::max_element(counts.begin(), counts.end()));
    Bytes payload;
    payload.reserve(3 + counts.size());
    payload.push_back(static_cast<std::uint8_t>(kind));
    payload.push_back(static_cast<std::uint8_t>(columns));
    payload.push_back(static_cast<std::uint8_t>(48 * blocks));
    for (std::uint32_t count : counts) {
        payload.push_back(static_cast<std::uint8_t>(std::min(std::lround(2 * std::sqrt(count / peak) * 255), 255L)));
    }
    return payload;
}

std::optional<Bytes> StreamLUT::loupePicture(const VideoFrame& frame, bool contours, std::uint8_t rotation,
                                             std::array<double, 2> centre) {
    if (!frame.picture) return std::nullopt;
    const int width = frame.width(), height = frame.height();
    const int side = static_cast<int>(std::lround(std::min(width, height) / 5.0)) & ~1;
    if (side < 8) return std::nullopt;  // too small to show anything
    const double half = side * 0.5;
    auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.5; };
    // In picture coordinates from the bottom left, as the square is kept inside the picture.
    const double px = unit(centre[0]) * width;
    const double py = (1 - unit(centre[1])) * height;
    const double cx = std::min(width - half, px <= half ? half : px);
    const double cy = std::min(height - half, py <= half ? half : py);
    const int left = static_cast<int>(std::lround(cx - half));
    const int top = static_cast<int>(std::lround(height - (cy + half)));
    SharedFrame crop = makeVideoFrame(side, side, AV_PIX_FMT_BGRA);
    if (!crop || !render(*frame.picture, {left, top, side, side}, *crop)) return std::nullopt;
    if (packedFilter_) applyPacked(*packedFilter_, *crop);
    if (contours) peakingOverlay(*crop, PeakingLevel::medium);
    SharedFrame turned = (rotation & 3) ? rotated(*crop, rotation & 3) : crop;
    if (!turned) return std::nullopt;
    QImage image(turned->data[0], turned->width, turned->height, turned->linesize[0], QImage::Format_ARGB32);
    const double scale = std::min(400.0 / side, 1.0);
    if (scale < 1.0) {
        const int shown = static_cast<int>(std::lround(side * scale));
        image = image.scaled(shown, shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_RGB32).save(&buffer, "JPEG", 70)) return std::nullopt;
    return Bytes(bytes.begin(), bytes.end());
}

// MARK: - HistogramMaker

HistogramMaker::HistogramMaker() = default;
HistogramMaker::~HistogramMaker() {
    sws_freeContext(sws_);
}

namespace {

// The 64 bins of a counted histogram, the fullest 255.
std::array<std::uint8_t, 64> scaledBins(const std::array<std::uint32_t, 64>& bins) {
    const double peak = std::max<std::uint32_t>(1, *std::max_element(bins.begin(), bins.end()));
    std::array<std::uint8_t, 64> out{};
    for (std::size_t i = 0; i < 64; ++i) {
        out[i] = static_cast<std::uint8_t>(std::min(std::lround(bins[i] / peak * 255.0), 255L));
    }
    return out;
}

// Camera pictures are counted from their luma plane, taken to full range, on a grid of about 256 points along
// the long side: a scaler's rounding and dither would spread one flat grey over two bins.
std::array<std::uint8_t, 64> lumaPlaneHistogram(const AVFrame& picture, bool tenBit) {
    const int step = std::max(1, std::max(picture.width, picture.height) / 256);
    std::array<int, 1024> toBin{};
    const int levels = tenBit ? 1024 : 256;
    const double black = tenBit ? 64 : 16, span = tenBit ? 876 : 219;
    for (int v = 0; v < levels; ++v) {
        const long full = std::lround(std::clamp((v - black) / span, 0.0, 1.0) * 255.0);
        toBin[static_cast<std::size_t>(v)] = static_cast<int>(full >> 2);
    }
    std::array<std::uint32_t, 64> bins{};
    for (int y = step / 2; y < picture.height; y += step) {
        const std::uint8_t* row = picture.data[0] + static_cast<std::ptrdiff_t>(y) * picture.linesize[0];
        for (int x = step / 2; x < picture.width; x += step) {
            const int v = tenBit ? ((row[2 * x] | (row[2 * x + 1] << 8)) >> 6) : row[x];
            ++bins[static_cast<std::size_t>(toBin[static_cast<std::size_t>(v)])];
        }
    }
    return scaledBins(bins);
}

}  // namespace

std::optional<std::array<std::uint8_t, 64>> HistogramMaker::histogram(const VideoFrame& frame) {
    if (!frame.picture || frame.width() <= 0 || frame.height() <= 0) return std::nullopt;
    const auto pictureFormat = static_cast<AVPixelFormat>(frame.picture->format);
    if (pictureFormat == AV_PIX_FMT_NV12 || pictureFormat == AV_PIX_FMT_P010LE) {
        return lumaPlaneHistogram(*frame.picture, pictureFormat == AV_PIX_FMT_P010LE);
    }
    // Measured on a picture 256 pixels long.
    const double scale = 256.0 / std::max(frame.width(), frame.height());
    const int w = std::max(1, static_cast<int>(std::lround(frame.width() * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(frame.height() * scale)));
    SharedFrame small = makeVideoFrame(w, h, AV_PIX_FMT_BGRA);
    if (!small) return std::nullopt;
    const auto format = static_cast<AVPixelFormat>(frame.picture->format);
    sws_ = sws_getCachedContext(sws_, frame.width(), frame.height(), format, w, h, AV_PIX_FMT_BGRA, SWS_AREA, nullptr,
                                nullptr, nullptr);
    setColorConversion(sws_, *frame.picture, AV_PIX_FMT_BGRA);
    if (!sws_ || sws_scale(sws_, frame.picture->data, frame.picture->linesize, 0, frame.height(), small->data,
                           small->linesize) != h) {
        return std::nullopt;
    }
    std::array<std::uint32_t, 64> bins{};
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = small->data[0] + static_cast<std::ptrdiff_t>(y) * small->linesize[0];
        for (int x = 0; x < w; ++x) ++bins[static_cast<std::size_t>(lumaOf(row + 4 * x) >> 2)];
    }
    return scaledBins(bins);
}

// MARK: - LUT preview layout

LUTPreviewLayout lutPreviewLayout(double width, double height, double angleDegrees, bool mirrored) {
    LUTPreviewLayout layout;
    const double angle = std::isfinite(angleDegrees) ? angleDegrees : 0;
    const long whole = std::lround(angle);
    const bool sideways = whole % 180 != 0;
    layout.width = sideways ? height : width;
    layout.height = sideways ? width : height;
    layout.centerX = width / 2;
    layout.centerY = height / 2;
    layout.rotationRadians = angle * std::numbers::pi / 180.0;
    layout.mirrored = mirrored;
    return layout;
}

}  // namespace morvane
