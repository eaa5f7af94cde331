#include "camera/color_cube.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "protocol/false_color.h"

namespace morvane {

std::array<float, 3> ColorCube::entry(int r, int g, int b) const {
    const std::size_t i = index(r, g, b);
    return {rgba[i], rgba[i + 1], rgba[i + 2]};
}

std::array<float, 3> ColorCube::lookup(float r, float g, float b) const {
    const float top = static_cast<float>(dimension - 1);
    auto split = [&](float v, int& i0, float& f) {
        const float p = std::clamp(std::isfinite(v) ? v : 0.0f, 0.0f, 1.0f) * top;
        i0 = std::min(static_cast<int>(p), dimension - 2);
        f = p - static_cast<float>(i0);
    };
    int ri, gi, bi;
    float rf, gf, bf;
    split(r, ri, rf);
    split(g, gi, gf);
    split(b, bi, bf);
    std::array<float, 3> out{};
    for (int c = 0; c < 3; ++c) {
        auto at = [&](int dr, int dg, int db) { return rgba[index(ri + dr, gi + dg, bi + db) + c]; };
        const float c00 = at(0, 0, 0) + (at(1, 0, 0) - at(0, 0, 0)) * rf;
        const float c10 = at(0, 1, 0) + (at(1, 1, 0) - at(0, 1, 0)) * rf;
        const float c01 = at(0, 0, 1) + (at(1, 0, 1) - at(0, 0, 1)) * rf;
        const float c11 = at(0, 1, 1) + (at(1, 1, 1) - at(0, 1, 1)) * rf;
        const float c0 = c00 + (c10 - c00) * gf;
        const float c1 = c01 + (c11 - c01) * gf;
        out[static_cast<std::size_t>(c)] = c0 + (c1 - c0) * bf;
    }
    return out;
}

namespace {

template <class F>
std::shared_ptr<const ColorCube> build64(F&& colorOf) {
    auto cube = std::make_shared<ColorCube>();
    cube->dimension = 64;
    cube->rgba.resize(64u * 64u * 64u * 4u);
    const float k = 1.0f / 63.0f;
    for (int b = 0; b < 64; ++b) {
        for (int g = 0; g < 64; ++g) {
            for (int r = 0; r < 64; ++r) {
                const std::array<float, 3> out = colorOf(static_cast<float>(r) * k, static_cast<float>(g) * k,
                                                         static_cast<float>(b) * k);
                const std::size_t i = cube->index(r, g, b);
                cube->rgba[i] = out[0];
                cube->rgba[i + 1] = out[1];
                cube->rgba[i + 2] = out[2];
                cube->rgba[i + 3] = 1.0f;
            }
        }
    }
    return cube;
}

// The log curve of the camera's log profiles: scene-linear reflectance from the encoded value.
float logToLinear(float p) {
    constexpr float r0 = -0.05641088f, rt = 0.01f, c = 47.28711236f, beta = 0.08550479f, gamma = 0.01f,
                    delta = 0.69336945f;
    const float pt = c * (rt - r0) * (rt - r0);
    if (p >= pt) return std::exp2((p - delta) / beta) - gamma;
    return p > 0 ? std::sqrt(p / c) + r0 : r0;
}

// Scene-linear light to a monitoring picture: exposure kept, highlights rolled off softly, Rec.709 curve.
float displayEncode(float linear) {
    const float x = std::max(linear, 0.0f);
    const float shoulder = x / (1.0f + 0.18f * x);  // gentle roll-off so 2–4 stops over white stay readable
    const float v = std::min(shoulder * 1.18f, 1.0f);
    return v < 0.018f ? 4.5f * v : 1.099f * std::pow(v, 0.45f) - 0.099f;
}

// Rec.2020 primaries, which the log pictures use, to Rec.709.
constexpr float kRec2020To709[3][3] = {
    {1.6605f, -0.5876f, -0.0728f}, {-0.1246f, 1.1329f, -0.0083f}, {-0.0182f, -0.1006f, 1.1187f}};
std::array<float, 3> logPixel(float r, float g, float b, const float (&m)[3][3]) {
    const float lin[3] = {logToLinear(r), logToLinear(g), logToLinear(b)};
    std::array<float, 3> out{};
    for (int i = 0; i < 3; ++i) {
        const float v = m[i][0] * lin[0] + m[i][1] * lin[1] + m[i][2] * lin[2];
        out[static_cast<std::size_t>(i)] = displayEncode(v);
    }
    return out;
}

}  // namespace

namespace cubes {

std::shared_ptr<const ColorCube> falseColor() {
    static const std::shared_ptr<const ColorCube> cube = build64([](float r, float g, float b) {
        const float y = r * 0.2126f + g * 0.7152f + b * 0.0722f;
        const FalseColor::Band* last = nullptr;
        for (const auto& band : FalseColor::bands()) {
            if (band.contains(y)) last = &band;
        }
        if (last) return last->rgb;
        return std::array<float, 3>{y * 0.85f, y * 0.85f, y * 0.85f};
    });
    return cube;
}

std::shared_ptr<const ColorCube> clipping() {
    static const std::shared_ptr<const ColorCube> cube = build64([](float r, float g, float b) {
        const float m = std::max({r, g, b});
        if (m >= 0.985f) return std::array<float, 3>{1.0f, 0.1f, 0.1f};
        if (m <= 0.015f) return std::array<float, 3>{0.15f, 0.35f, 1.0f};
        return std::array<float, 3>{r, g, b};
    });
    return cube;
}

std::shared_ptr<const ColorCube> logToRec709() {
    static const std::shared_ptr<const ColorCube> cube =
        build64([](float r, float g, float b) { return logPixel(r, g, b, kRec2020To709); });
    return cube;
}

std::shared_ptr<const ColorCube> log2ToRec709() {
    static const std::shared_ptr<const ColorCube> cube =
        build64([](float r, float g, float b) { return logPixel(r, g, b, kRec2020To709); });
    return cube;
}

}  // namespace cubes

std::optional<ColorCube> makeCustomCube(int size, const std::vector<float>& rgb) {
    // The size is checked before anything is multiplied by it.
    if (size < 2 || size > 64) return std::nullopt;
    const auto entries = static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
    if (rgb.size() != entries * 3) return std::nullopt;
    if (!std::all_of(rgb.begin(), rgb.end(), [](float v) { return std::isfinite(v); })) return std::nullopt;
    ColorCube cube;
    cube.dimension = size;
    cube.rgba.resize(entries * 4);
    for (std::size_t i = 0; i < entries; ++i) {
        cube.rgba[i * 4] = rgb[i * 3];
        cube.rgba[i * 4 + 1] = rgb[i * 3 + 1];
        cube.rgba[i * 4 + 2] = rgb[i * 3 + 2];
        cube.rgba[i * 4 + 3] = 1.0f;  // the table needs an alpha; the triples have none
    }
    return cube;
}

std::optional<ColorCube> makeCustomCube(int size, const std::vector<std::uint8_t>& bytes) {
    if (size < 2 || size > 64 || bytes.size() % 4 != 0) return std::nullopt;
    std::vector<float> values(bytes.size() / 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint32_t bits = static_cast<std::uint32_t>(bytes[i * 4]) |
                                   (static_cast<std::uint32_t>(bytes[i * 4 + 1]) << 8) |
                                   (static_cast<std::uint32_t>(bytes[i * 4 + 2]) << 16) |
                                   (static_cast<std::uint32_t>(bytes[i * 4 + 3]) << 24);
        std::memcpy(&values[i], &bits, 4);
    }
    return makeCustomCube(size, values);
}

}  // namespace morvane
