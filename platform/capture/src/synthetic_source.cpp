#include "platform/synthetic_source.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace morvane {

namespace {

struct Yuv {
    int y, u, v;  // 8-bit studio range
};

// BT.709, studio range, as capture devices deliver it.
Yuv yuvOf(float r, float g, float b) {
    const float luma = 0.2126f * r + 0.7152f * g + 0.0722f * b;
    const float cb = (b - luma) / 1.8556f;
    const float cr = (r - luma) / 1.5748f;
    auto clamp = [](float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 255.0f))); };
    return {clamp(16 + 219 * luma), clamp(128 + 224 * cb), clamp(128 + 224 * cr)};
}

constexpr std::array<std::array<float, 3>, 7> kBars{{
    {0.75f, 0.75f, 0.75f},
    {0.75f, 0.75f, 0.0f},
    {0.0f, 0.75f, 0.75f},
    {0.0f, 0.75f, 0.0f},
    {0.75f, 0.0f, 0.75f},
    {0.75f, 0.0f, 0.0f},
    {0.0f, 0.0f, 0.75f},
}};

// How the picture settings change the scene: colour gains, a crop factor and a blur radius.
struct Look {
    std::array<float, 3> gain{1, 1, 1};
    double zoom = 1;
    int blur = 0;  // box radius in pixels
};

Look lookOf(const PictureSettings& p, int height) {
    Look look;
    // The scene is lit for ISO 100 at 1/50 s, or for no bias under automatic exposure.
    double exposure = p.iso && p.shutter ? (*p.iso / 100.0) * (*p.shutter * 50.0) : std::exp2(p.exposureBias);
    if (!std::isfinite(exposure)) exposure = 1;
    exposure = std::clamp(exposure, 1.0 / 64, 64.0);
    // Daylight (5600 K) is neutral: a lower setting turns the picture blue, a higher one warm.
    double red = 1, green = 1, blue = 1;
    if (p.kelvin && std::isfinite(*p.kelvin)) {
        red = std::pow(std::clamp(static_cast<double>(*p.kelvin), 1000.0, 20000.0) / 5600.0, 0.7);
        blue = 1 / red;
        if (std::isfinite(p.tint)) green = std::exp2(-std::clamp(static_cast<double>(p.tint), -150.0, 150.0) / 150.0);
    }
    look.gain = {static_cast<float>(exposure * red), static_cast<float>(exposure * green),
                 static_cast<float>(exposure * blue)};
    look.zoom = std::isfinite(p.zoom) ? std::clamp(p.zoom, 1.0, 16.0) : 1.0;
    if (p.focus && std::isfinite(*p.focus)) {
        const float away = std::abs(std::clamp(*p.focus, 0.0f, 1.0f) - SyntheticSource::sceneDistance);
        look.blur = static_cast<int>(std::lround(away * height / 20.0));
    }
    return look;
}

Yuv lookedAt(const std::array<float, 3>& rgb, const Look& look) {
    return yuvOf(rgb[0] * look.gain[0], rgb[1] * look.gain[1], rgb[2] * look.gain[2]);
}

// The scene's colour at a point of the uncropped picture, without the moving square.
std::array<float, 3> backgroundAt(const SyntheticSource::Settings& s, int x, int y) {
    if (s.pattern == SyntheticSource::Pattern::flat) return s.flatColor;
    if (y < s.height * 2 / 3) return kBars[static_cast<std::size_t>(x * 7 / std::max(1, s.width))];
    const float ramp = static_cast<float>(x) / static_cast<float>(std::max(1, s.width - 1));
    return {ramp, ramp, ramp};
}

// Where each output column or row comes from under the centre crop.
std::vector<int> cropMap(int size, double zoom) {
    std::vector<int> map(static_cast<std::size_t>(size));
    const double centre = size / 2.0;
    for (int i = 0; i < size; ++i) {
        const auto from = static_cast<int>(std::floor(centre + (i + 0.5 - centre) / zoom));
        map[static_cast<std::size_t>(i)] = std::clamp(from, 0, size - 1);
    }
    return map;
}

// A box blur of one plane, along rows then columns, with the edges held.
void boxBlur(std::vector<int>& plane, int width, int height, int radius) {
    if (radius <= 0) return;
    std::vector<int> line;
    auto pass = [&](int count, int length, auto at) {
        line.resize(static_cast<std::size_t>(length));
        for (int c = 0; c < count; ++c) {
            for (int i = 0; i < length; ++i) line[static_cast<std::size_t>(i)] = at(c, i);
            long sum = 0;
            auto value = [&](int i) { return line[static_cast<std::size_t>(std::clamp(i, 0, length - 1))]; };
            for (int i = -radius; i <= radius; ++i) sum += value(i);
            for (int i = 0; i < length; ++i) {
                at(c, i) = static_cast<int>(sum / (2 * radius + 1));
                sum += value(i + radius + 1) - value(i - radius);
            }
        }
    };
    pass(height, width, [&](int row, int x) -> int& { return plane[static_cast<std::size_t>(row * width + x)]; });
    pass(width, height, [&](int column, int y) -> int& { return plane[static_cast<std::size_t>(y * width + column)]; });
}

}  // namespace

const std::vector<std::pair<int, int>>& SyntheticSource::listedSizes() {
    static const std::vector<std::pair<int, int>> sizes{{640, 360}, {1280, 720}, {1920, 1080}, {3840, 2160}};
    return sizes;
}

const std::vector<std::pair<int, int>>& SyntheticSource::listedRates() {
    static const std::vector<std::pair<int, int>> rates{{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                                        {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
    return rates;
}

SyntheticSource::SyntheticSource(Settings settings) : settings_(settings) {}

SyntheticSource::~SyntheticSource() {
    stop();
}

bool SyntheticSource::hasMicrophone() const {
    std::lock_guard lock(mutex_);
    return settings_.toneHertz > 0;
}

SyntheticSource::Settings SyntheticSource::settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

double SyntheticSource::framesPerSecond() const {
    std::lock_guard lock(mutex_);
    const double fps = SourceMode{0, 0, settings_.rateNumerator, settings_.rateDenominator}.fps();
    return fps > 0 ? std::clamp(fps, 1.0, 240.0) : 30;
}

std::vector<SourceMode> SyntheticSource::modes() const {
    std::vector<std::pair<int, int>> sizes = listedSizes();
    {
        std::lock_guard lock(mutex_);
        const std::pair own{settings_.width, settings_.height};
        if (std::find(sizes.begin(), sizes.end(), own) == sizes.end()) sizes.push_back(own);
    }
    std::sort(sizes.begin(), sizes.end(), [](auto a, auto b) {
        return static_cast<long long>(a.first) * a.second < static_cast<long long>(b.first) * b.second;
    });
    std::vector<SourceMode> modes;
    for (const auto& [width, height] : sizes) {
        for (const auto& [num, den] : listedRates()) modes.push_back({width, height, num, den});
    }
    return modes;
}

std::optional<SourceMode> SyntheticSource::mode() const {
    std::lock_guard lock(mutex_);
    return SourceMode{settings_.width, settings_.height, settings_.rateNumerator, settings_.rateDenominator};
}

bool SyntheticSource::setMode(const SourceMode& wanted) {
    const double fps = wanted.fps();
    if (!(fps >= 1 && fps <= 240)) return false;
    auto size = closestMode(modes(), wanted.width, wanted.height, fps);
    if (!size) return false;
    Callbacks callbacks;
    bool running;
    SourceMode previous;
    {
        std::lock_guard lock(mutex_);
        running = thread_.joinable();
        callbacks = callbacks_;
        previous = {settings_.width, settings_.height, settings_.rateNumerator, settings_.rateDenominator};
    }
    // Any rate at all: it is the source's own clock.
    const SourceMode next{size->width, size->height, wanted.rateNumerator, wanted.rateDenominator};
    return restartIn(next, previous, running, callbacks, [this](const SourceMode& mode) {
        std::lock_guard lock(mutex_);
        settings_.width = mode.width;
        settings_.height = mode.height;
        settings_.rateNumerator = mode.rateNumerator;
        settings_.rateDenominator = mode.rateDenominator;
    });
}

std::unique_ptr<CaptureSource> SyntheticSource::replacement() const {
    return std::make_unique<SyntheticSource>(settings());
}

SourceCapabilities SyntheticSource::capabilities() const {
    SourceCapabilities c;
    c.exposureBias = true;
    c.manualExposure = true;
    c.minISO = 25;
    c.maxISO = 6400;
    c.minShutter = 1.0 / 8000;
    c.maxShutter = 1.0 / 4;
    c.manualWhiteBalance = true;
    c.manualFocus = true;
    c.maxZoom = 8;
    return c;
}

PictureSettings SyntheticSource::applyPicture(const PictureSettings& wanted) {
    PictureSettings applied = wanted;
    const SourceCapabilities c = capabilities();
    applied.zoom = std::isfinite(wanted.zoom) ? std::clamp(wanted.zoom, 1.0, c.maxZoom) : 1.0;
    if (applied.iso) applied.iso = std::clamp(*applied.iso, c.minISO, c.maxISO);
    if (applied.shutter) applied.shutter = std::clamp(*applied.shutter, c.minShutter, c.maxShutter);
    if (applied.iso.has_value() != applied.shutter.has_value()) applied.iso.reset(), applied.shutter.reset();
    std::lock_guard lock(mutex_);
    settings_.picture = applied;
    return applied;
}

SharedFrame SyntheticSource::makePicture(const Settings& s, std::int64_t index) {
    if (s.width <= 0 || s.height <= 0 || s.width % 2 || s.height % 2) return nullptr;
    SharedFrame frame = makeVideoFrame(s.width, s.height, s.tenBit ? AV_PIX_FMT_P010LE : AV_PIX_FMT_NV12);
    if (!frame) return nullptr;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    const Look look = lookOf(s.picture, s.height);
    const std::vector<int> fromX = cropMap(s.width, look.zoom);
    const std::vector<int> fromY = cropMap(s.height, look.zoom);
    // The two kinds of row, as cropped and coloured.
    std::vector<Yuv> bars(static_cast<std::size_t>(s.width)), ramp(bars.size());
    for (int x = 0; x < s.width; ++x) {
        const int sx = fromX[static_cast<std::size_t>(x)];
        bars[static_cast<std::size_t>(x)] = lookedAt(backgroundAt(s, sx, 0), look);
        ramp[static_cast<std::size_t>(x)] = lookedAt(backgroundAt(s, sx, s.height - 1), look);
    }
    // The moving square bounces between the edges.
    const bool square = s.pattern == Pattern::bars;
    const int side = std::max(2, s.height / 6) & ~1;
    const int travel = std::max(1, s.width - side);
    const auto phase = static_cast<int>((index * 8) % (2 * static_cast<std::int64_t>(travel)));
    const int left = phase < travel ? phase : 2 * travel - phase;
    const int top = (s.height / 3) & ~1;
    const Yuv white = lookedAt({1, 1, 1}, look);
    std::vector<int> lumaPlane;
    if (look.blur > 0) lumaPlane.resize(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height));
    auto put = [](std::uint8_t* p, int v8) {
        const auto v = static_cast<std::uint16_t>((v8 << 2) << 6);  // 10 bits in the high bits
        p[0] = static_cast<std::uint8_t>(v & 0xff);
        p[1] = static_cast<std::uint8_t>(v >> 8);
    };
    for (int y = 0; y < s.height; ++y) {
        const int sy = fromY[static_cast<std::size_t>(y)];
        const std::vector<Yuv>& row = (s.pattern == Pattern::flat || sy < s.height * 2 / 3) ? bars : ramp;
        const bool squareRow = square && sy >= top && sy < top + side;
        std::uint8_t* luma = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        std::uint8_t* chroma = frame->data[1] + static_cast<std::ptrdiff_t>(y / 2) * frame->linesize[1];
        const bool chromaRow = y % 2 == 0;
        for (int x = 0; x < s.width; ++x) {
            const int sx = fromX[static_cast<std::size_t>(x)];
            const Yuv& c = (squareRow && sx >= left && sx < left + side) ? white : row[static_cast<std::size_t>(x)];
            if (!lumaPlane.empty()) {
                lumaPlane[static_cast<std::size_t>(y) * static_cast<std::size_t>(s.width) +
                          static_cast<std::size_t>(x)] = c.y;
            } else if (s.tenBit) {
                put(luma + 2 * x, c.y);
            } else {
                luma[x] = static_cast<std::uint8_t>(c.y);
            }
            if (chromaRow && x % 2 == 0) {
                if (s.tenBit) {
                    put(chroma + 2 * x, c.u);
                    put(chroma + 2 * x + 2, c.v);
                } else {
                    chroma[x] = static_cast<std::uint8_t>(c.u);
                    chroma[x + 1] = static_cast<std::uint8_t>(c.v);
                }
            }
        }
    }
    if (!lumaPlane.empty()) {
        // Out of focus: the detail (bar edges, the square) softens; flat areas stay as they are.
        boxBlur(lumaPlane, s.width, s.height, look.blur);
        for (int y = 0; y < s.height; ++y) {
            std::uint8_t* luma = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
            const int* source = lumaPlane.data() + static_cast<std::ptrdiff_t>(y) * s.width;
            for (int x = 0; x < s.width; ++x) {
                if (s.tenBit) {
                    put(luma + 2 * x, source[x]);
                } else {
                    luma[x] = static_cast<std::uint8_t>(source[x]);
                }
            }
        }
    }
    return frame;
}

SharedFrame SyntheticSource::makeTone(const Settings& s, std::int64_t first, int count) {
    if (count <= 0 || s.sampleRate <= 0) return nullptr;
    SharedFrame frame = shareFrame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_SAMPLE_FMT_FLT;
    frame->sample_rate = s.sampleRate;
    frame->nb_samples = count;
    av_channel_layout_default(&frame->ch_layout, 1);
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    auto* samples = reinterpret_cast<float*>(frame->data[0]);
    const double step = 2 * std::numbers::pi * s.toneHertz / s.sampleRate;
    for (int i = 0; i < count; ++i) {
        samples[i] =
            s.toneHertz > 0 ? static_cast<float>(0.25 * std::sin(step * static_cast<double>(first + i))) : 0.0f;
    }
    return frame;
}

bool SyntheticSource::start(Callbacks callbacks) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return false;
    if (!FilmableSize::contains(settings_.width, settings_.height) || settings_.width % 2 || settings_.height % 2) {
        return false;
    }
    stopping_ = false;
    callbacks_ = callbacks;
    thread_ = std::thread([this, callbacks = std::move(callbacks)] { run(callbacks); });
    return true;
}

void SyntheticSource::stop() {
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        thread = std::move(thread_);
    }
    wake_.notify_all();
    if (thread.joinable()) thread.join();
}

void SyntheticSource::run(Callbacks callbacks) {
    const double frameInterval = 1.0 / framesPerSecond();
    constexpr int kAudioBlock = 960;  // 20 ms at 48 kHz
    const double start = hostTime();
    std::int64_t frameIndex = 0;
    std::int64_t sampleIndex = 0;
    const Settings initial = settings();
    const bool sound = initial.toneHertz > 0 && callbacks.onAudio;
    for (;;) {
        const double nextFrame = start + static_cast<double>(frameIndex) * frameInterval;
        const double nextAudio = sound ? start + static_cast<double>(sampleIndex) / initial.sampleRate : nextFrame + 1;
        const double due = std::min(nextFrame, nextAudio);
        {
            std::unique_lock lock(mutex_);
            const auto wait = std::chrono::duration<double>(std::max(0.0, due - hostTime()));
            if (wake_.wait_for(lock, wait, [this] { return stopping_; })) return;
        }
        if (nextAudio <= nextFrame) {
            if (auto tone = makeTone(initial, sampleIndex, kAudioBlock)) callbacks.onAudio(AudioFrame{tone, nextAudio});
            sampleIndex += kAudioBlock;
        } else {
            // The picture settings may change while it runs.
            if (auto picture = makePicture(settings(), frameIndex); picture && callbacks.onVideo) {
                callbacks.onVideo(VideoFrame{picture, nextFrame});
            }
            ++frameIndex;
        }
    }
}

}  // namespace morvane
