#include "platform/asset_probe.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>

#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/mathematics.h>
}

namespace morvane {

MediaTime MediaTime::fromSeconds(double seconds, std::int32_t timescale) {
    if (timescale <= 0 || !std::isfinite(seconds)) return invalid();
    const double ticks = std::round(seconds * timescale);
    if (std::fabs(ticks) > 9.0e18) return invalid();
    return {static_cast<std::int64_t>(ticks), timescale};
}

// The arithmetic goes through libavutil's rescaling, whose intermediates are 128 bits wide: a day of 90 kHz ticks
// against a 1001-based timescale overflows 64-bit products, and doubles lose the last ticks long before that.

namespace {

// A timestamp converted between timescales, rounded to the nearest; none when it leaves the 64-bit range.
std::optional<std::int64_t> rescaled(std::int64_t value, std::int64_t from, std::int64_t to) {
    if (from == to) return value;
    const std::int64_t r =
        av_rescale_rnd(value, to, from, static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    // av_rescale_rnd answers INT64_MIN when the result does not fit; INT64_MIN and INT64_MAX pass through as such.
    if (r == std::numeric_limits<std::int64_t>::min() || r == std::numeric_limits<std::int64_t>::max()) {
        return std::nullopt;
    }
    return r;
}

std::int32_t commonTimescale(std::int32_t a, std::int32_t b) {
    if (a == b) return a;
    const std::int64_t l = std::lcm(std::int64_t(a), std::int64_t(b));
    return l <= std::numeric_limits<std::int32_t>::max() ? std::int32_t(l) : std::max(a, b);
}

MediaTime combine(MediaTime a, MediaTime b, bool subtracting) {
    if (!a.isValid() || !b.isValid()) return MediaTime::invalid();
    const std::int32_t scale = commonTimescale(a.timescale, b.timescale);
    const auto x = rescaled(a.value, a.timescale, scale);
    const auto y = rescaled(b.value, b.timescale, scale);
    if (!x || !y) return MediaTime::invalid();
    std::int64_t result = 0;
    const bool overflow =
        subtracting ? __builtin_sub_overflow(*x, *y, &result) : __builtin_add_overflow(*x, *y, &result);
    if (overflow) return MediaTime::invalid();
    return {result, scale};
}

}  // namespace

int MediaTime::compare(MediaTime a, MediaTime b) {
    if (!a.isValid() || !b.isValid()) return int(a.isValid()) - int(b.isValid());
    if (a.timescale == b.timescale) return (a.value > b.value) - (a.value < b.value);
    return av_compare_ts(a.value, AVRational{1, a.timescale}, b.value, AVRational{1, b.timescale});
}

MediaTime MediaTime::add(MediaTime a, MediaTime b) {
    return combine(a, b, false);
}

MediaTime MediaTime::subtract(MediaTime a, MediaTime b) {
    return combine(a, b, true);
}

std::optional<std::int64_t> MediaTime::ticks(std::int64_t scale) const {
    if (!isValid() || scale <= 0) return std::nullopt;
    return rescaled(value, timescale, scale);
}

AffineTransform AffineTransform::concatenating(const AffineTransform& t) const {
    return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
            c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
}

std::optional<AffineTransform> AffineTransform::inverted() const {
    const double det = a * d - b * c;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) return std::nullopt;
    const double ia = d / det, ib = -b / det, ic = -c / det, id = a / det;
    return AffineTransform{ia, ib, ic, id, -(tx * ia + ty * ic), -(tx * ib + ty * id)};
}

AffineTransform::Rect AffineTransform::apply(const Rect& r) const {
    const Point corners[] = {apply(Point{r.minX(), r.minY()}), apply(Point{r.maxX(), r.minY()}),
                             apply(Point{r.minX(), r.maxY()}), apply(Point{r.maxX(), r.maxY()})};
    double x0 = corners[0].x, x1 = corners[0].x, y0 = corners[0].y, y1 = corners[0].y;
    for (const auto& p : corners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

std::vector<AssetProbe::Track> AssetProbe::tracksOf(Kind kind) const {
    std::vector<Track> out;
    for (const auto& t : tracks) {
        if (t.kind == kind) out.push_back(t);
    }
    return out;
}

const AssetProbe::Track* AssetProbe::firstTrack(Kind kind) const {
    for (const auto& t : tracks) {
        if (t.kind == kind) return &t;
    }
    return nullptr;
}

namespace {

std::optional<double> seconds(std::int64_t ts, AVRational base) {
    if (ts == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0) return std::nullopt;
    const double s = double(ts) * av_q2d(base);
    if (!std::isfinite(s)) return std::nullopt;
    return s;
}

// The stored orientation: the display matrix is the movie header's track matrix, in 16.16 fixed point.
AffineTransform transformOf(const AVStream* st) {
    std::size_t size = 0;
    const auto* data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(std::int32_t)) return {};
    std::int32_t m[9];
    std::memcpy(m, data, sizeof m);
    constexpr double one = 65536.0;
    AffineTransform t{m[0] / one, m[1] / one, m[3] / one, m[4] / one, m[6] / one, m[7] / one};
    if (!t.inverted()) return {};  // a degenerate matrix would squash the picture to nothing
    return t;
}

// The shortest interval between successive frames, from the container's sample index when it has one.
std::optional<MediaTime> minFrameDurationOf(AVStream* st) {
    const AVRational tb = st->time_base;
    if (tb.num <= 0 || tb.den <= 0) return std::nullopt;
    const int count = avformat_index_get_entries_count(st);
    if (count >= 2) {
        std::vector<std::int64_t> stamps;
        stamps.reserve(std::size_t(count));
        for (int i = 0; i < count; ++i) {
            if (const AVIndexEntry* e = avformat_index_get_entry(st, i)) stamps.push_back(e->timestamp);
        }
        std::sort(stamps.begin(), stamps.end());
        std::int64_t best = std::numeric_limits<std::int64_t>::max();
        for (std::size_t i = 1; i < stamps.size(); ++i) {
            // Index times come from the file: a difference past 64 bits is no frame interval.
            std::int64_t delta = 0;
            if (__builtin_sub_overflow(stamps[i], stamps[i - 1], &delta)) continue;
            if (delta > 0 && delta < best) best = delta;
        }
        std::int64_t scaled = 0;
        if (best != std::numeric_limits<std::int64_t>::max() && best < (std::int64_t(1) << 40) &&
            !__builtin_mul_overflow(best, std::int64_t{tb.num}, &scaled)) {
            if (tb.den <= std::numeric_limits<std::int32_t>::max()) return MediaTime{scaled, tb.den};
        }
    }
    const AVRational rate =
        st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0 ? st->r_frame_rate : st->avg_frame_rate;
    if (rate.num > 0 && rate.den > 0) return MediaTime{rate.den, rate.num};
    return std::nullopt;
}

}  // namespace

std::optional<AssetProbe> AssetProbe::load(const std::filesystem::path& file, std::string* error) {
    ff::InputFormat fmt = ff::openLocalMovie(file.string(), error);
    if (!fmt) return std::nullopt;

    AssetProbe probe;
    probe.duration = seconds(fmt->duration, AVRational{1, AV_TIME_BASE});
    if (probe.duration && *probe.duration < 0) probe.duration.reset();
    probe.startTime = seconds(fmt->start_time, AVRational{1, AV_TIME_BASE}).value_or(0);

    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        AVStream* st = fmt->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (!avcodec_find_decoder(par->codec_id)) continue;

        Track track;
        track.kind = par->codec_type == AVMEDIA_TYPE_VIDEO ? Kind::video : Kind::audio;
        track.streamIndex = int(i);
        track.codec = avcodec_get_name(par->codec_id);

        const auto start = seconds(st->start_time, st->time_base);
        auto length = seconds(st->duration, st->time_base);
        if (!length && probe.duration) length = *probe.duration - start.value_or(0) + probe.startTime;
        if (length && *length >= 0) track.timeRange = TimeRange{start.value_or(0), *length};

        if (track.kind == Kind::video) {
            if (par->width <= 0 || par->height <= 0 || par->width > maxDimension || par->height > maxDimension)
                continue;
            track.width = par->width;
            track.height = par->height;
            track.transform = transformOf(st);
            track.minFrameDuration = minFrameDurationOf(st);
            const AVRational rate =
                st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate : st->r_frame_rate;
            if (rate.num > 0 && rate.den > 0) track.frameRate = av_q2d(rate);
        } else {
            if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) continue;
            track.sampleRate = par->sample_rate;
            track.channels = par->ch_layout.nb_channels;
        }
        probe.tracks.push_back(std::move(track));
    }
    return probe;
}

}  // namespace morvane
