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

// One row of the background; rows differ only between the bars and the ramp below them.
std::vector<Yuv> backgroundRow(const SyntheticSource::Settings& s, bool bars) {
    std::vector<Yuv> row(static_cast<std::size_t>(s.width));
    for (int x = 0; x < s.width; ++x) {
        if (s.pattern == SyntheticSource::Pattern::flat) {
            row[static_cast<std::size_t>(x)] = yuvOf(s.flatColor[0], s.flatColor[1], s.flatColor[2]);
        } else if (bars) {
            const auto& bar = kBars[static_cast<std::size_t>(x * 7 / std::max(1, s.width))];
            row[static_cast<std::size_t>(x)] = yuvOf(bar[0], bar[1], bar[2]);
        } else {
            const float ramp = static_cast<float>(x) / static_cast<float>(std::max(1, s.width - 1));
            row[static_cast<std::size_t>(x)] = yuvOf(ramp, ramp, ramp);
        }
    }
    return row;
}

}  // namespace

SyntheticSource::SyntheticSource(Settings settings) : settings_(settings) {}

SyntheticSource::~SyntheticSource() { stop(); }

double SyntheticSource::framesPerSecond() const {
    if (settings_.rateDenominator <= 0 || settings_.rateNumerator <= 0) return 30;
    return std::clamp(static_cast<double>(settings_.rateNumerator) / settings_.rateDenominator, 1.0, 240.0);
}

SharedFrame SyntheticSource::makePicture(const Settings& s, std::int64_t index) {
    if (s.width <= 0 || s.height <= 0 || s.width % 2 || s.height % 2) return nullptr;
    SharedFrame frame = makeVideoFrame(s.width, s.height, s.tenBit ? AV_PIX_FMT_P010LE : AV_PIX_FMT_NV12);
    if (!frame) return nullptr;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    const std::vector<Yuv> bars = backgroundRow(s, true);
    const std::vector<Yuv> ramp = backgroundRow(s, false);
    // The moving square bounces between the edges.
    const bool square = s.pattern == Pattern::bars;
    const int side = std::max(2, s.height / 6) & ~1;
    const int travel = std::max(1, s.width - side);
    const auto phase = static_cast<int>((index * 8) % (2 * static_cast<std::int64_t>(travel)));
    const int left = phase < travel ? phase : 2 * travel - phase;
    const int top = (s.height / 3) & ~1;
    const Yuv white = yuvOf(1, 1, 1);
    for (int y = 0; y < s.height; ++y) {
        const std::vector<Yuv>& row = (s.pattern == Pattern::flat || y < s.height * 2 / 3) ? bars : ramp;
        const bool squareRow = square && y >= top && y < top + side;
        std::uint8_t* luma = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        std::uint8_t* chroma = frame->data[1] + static_cast<std::ptrdiff_t>(y / 2) * frame->linesize[1];
        const bool chromaRow = y % 2 == 0;
        for (int x = 0; x < s.width; ++x) {
            const Yuv& c = (squareRow && x >= left && x < left + side) ? white : row[static_cast<std::size_t>(x)];
            if (s.tenBit) {
                auto put = [](std::uint8_t* p, int v8) {
                    const auto v = static_cast<std::uint16_t>((v8 << 2) << 6);  // 10 bits in the high bits
                    p[0] = static_cast<std::uint8_t>(v & 0xff);
                    p[1] = static_cast<std::uint8_t>(v >> 8);
                };
                put(luma + 2 * x, c.y);
                if (chromaRow && x % 2 == 0) {
                    put(chroma + 2 * x, c.u);
                    put(chroma + 2 * x + 2, c.v);
                }
            } else {
                luma[x] = static_cast<std::uint8_t>(c.y);
                if (chromaRow && x % 2 == 0) {
                    chroma[x] = static_cast<std::uint8_t>(c.u);
                    chroma[x + 1] = static_cast<std::uint8_t>(c.v);
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
        samples[i] = s.toneHertz > 0 ? static_cast<float>(0.25 * std::sin(step * static_cast<double>(first + i))) : 0.0f;
    }
    return frame;
}

bool SyntheticSource::start(Callbacks callbacks) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return false;
    if (settings_.width <= 0 || settings_.height <= 0 || settings_.width % 2 || settings_.height % 2) return false;
    stopping_ = false;
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
    const bool sound = settings_.toneHertz > 0 && callbacks.onAudio;
    for (;;) {
        const double nextFrame = start + static_cast<double>(frameIndex) * frameInterval;
        const double nextAudio = sound ? start + static_cast<double>(sampleIndex) / settings_.sampleRate : nextFrame + 1;
        const double due = std::min(nextFrame, nextAudio);
        {
            std::unique_lock lock(mutex_);
            const auto wait = std::chrono::duration<double>(std::max(0.0, due - hostTime()));
            if (wake_.wait_for(lock, wait, [this] { return stopping_; })) return;
        }
        if (nextAudio <= nextFrame) {
            if (auto tone = makeTone(settings_, sampleIndex, kAudioBlock)) callbacks.onAudio(AudioFrame{tone, nextAudio});
            sampleIndex += kAudioBlock;
        } else {
            if (auto picture = makePicture(settings_, frameIndex); picture && callbacks.onVideo) {
                callbacks.onVideo(VideoFrame{picture, nextFrame});
            }
            ++frameIndex;
        }
    }
}

}  // namespace morvane
