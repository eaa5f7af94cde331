#include "platform/program_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>
#include <tuple>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace morvane {

// MARK: Media-time arithmetic

namespace {

MediaTime add(MediaTime a, MediaTime b) {
    return MediaTime::add(a, b);
}

MediaTime sub(MediaTime a, MediaTime b) {
    return MediaTime::subtract(a, b);
}

int compare(MediaTime a, MediaTime b) {
    return MediaTime::compare(a, b);
}

MediaTime trackEnd(const ProgramRenderer::Track& track) {
    if (track.segments.empty()) return MediaTime::zero();
    const auto& last = track.segments.back();
    return add(last.at, last.duration);
}

// Puts a segment into a track at its `at`, moving what lies after it; empty time fills a gap before it.
void insertSegment(ProgramRenderer::Track& track, ProgramRenderer::Segment segment) {
    const MediaTime end = trackEnd(track);
    if (compare(segment.at, end) >= 0) {
        if (compare(segment.at, end) > 0) {
            ProgramRenderer::Segment gap;
            gap.at = end;
            gap.duration = sub(segment.at, end);
            track.segments.push_back(gap);
        }
        track.segments.push_back(segment);
        return;
    }
    std::vector<ProgramRenderer::Segment> out;
    out.reserve(track.segments.size() + 2);
    bool placed = false;
    for (auto s : track.segments) {
        const MediaTime sEnd = add(s.at, s.duration);
        if (placed) {
            s.at = add(s.at, segment.duration);
            out.push_back(s);
            continue;
        }
        if (compare(segment.at, s.at) <= 0) {
            out.push_back(segment);
            placed = true;
            s.at = add(s.at, segment.duration);
            out.push_back(s);
        } else if (compare(segment.at, sEnd) < 0) {
            // Split the segment that the insertion falls into.
            auto left = s;
            left.duration = sub(segment.at, s.at);
            auto right = s;
            right.at = add(segment.at, segment.duration);
            right.duration = sub(sEnd, segment.at);
            if (!right.isEmpty()) right.sourceStart = add(s.sourceStart, left.duration);
            out.push_back(left);
            out.push_back(segment);
            out.push_back(right);
            placed = true;
        } else {
            out.push_back(s);
        }
    }
    track.segments = std::move(out);
}

}  // namespace

// MARK: Plan

double ProgramRenderer::Track::duration() const {
    return trackEnd(*this).seconds();
}

int ProgramRenderer::Composition::addTrack(MediaKind kind) {
    int id = 1;
    for (const auto& t : tracks) id = std::max(id, t.trackID + 1);
    tracks.push_back({id, kind, {}});
    return id;
}

ProgramRenderer::Track* ProgramRenderer::Composition::track(int trackID) {
    for (auto& t : tracks) {
        if (t.trackID == trackID) return &t;
    }
    return nullptr;
}

const ProgramRenderer::Track* ProgramRenderer::Composition::track(int trackID) const {
    for (const auto& t : tracks) {
        if (t.trackID == trackID) return &t;
    }
    return nullptr;
}

bool ProgramRenderer::Composition::insertTimeRange(int trackID, int asset, int stream, MediaTime sourceStart,
                                                   MediaTime duration, MediaTime at, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    Track* t = track(trackID);
    if (!t) return fail("no such track");
    if (asset < 0 || stream < 0) return fail("no such source");
    if (!sourceStart.isValid() || !duration.isValid() || !at.isValid()) return fail("invalid time");
    if (sourceStart.value < 0 || at.value < 0) return fail("time before the start");
    if (duration.value < 0) return fail("negative duration");
    if (duration.value == 0) return true;  // nothing to place
    if (!add(at, duration).isValid() || !add(sourceStart, duration).isValid()) return fail("time out of range");
    insertSegment(*t, Segment{asset, stream, sourceStart, at, duration});
    return true;
}

void ProgramRenderer::Composition::insertEmptyTimeRange(MediaTime at, MediaTime duration) {
    if (!at.isValid() || !duration.isValid() || at.value < 0 || duration.value <= 0) return;
    for (auto& t : tracks) {
        Segment gap;
        gap.at = at;
        gap.duration = duration;
        insertSegment(t, gap);
    }
}

double ProgramRenderer::Composition::duration() const {
    double d = 0;
    for (const auto& t : tracks) d = std::max(d, t.duration());
    return d;
}

void ProgramRenderer::LayerInstruction::setTransform(const AffineTransform& transform, MediaTime at) {
    auto it = std::find_if(transforms.begin(), transforms.end(),
                           [&](const TransformChange& c) { return compare(c.at, at) >= 0; });
    if (it != transforms.end() && compare(it->at, at) == 0) {
        it->transform = transform;
    } else {
        transforms.insert(it, TransformChange{at, transform});
    }
}

AffineTransform ProgramRenderer::LayerInstruction::transformAt(double seconds) const {
    AffineTransform current;
    for (const auto& c : transforms) {
        if (c.at.seconds() <= seconds + 1e-9) current = c.transform;
    }
    return current;
}

// MARK: Source readers

namespace {

constexpr double timeEpsilon = 1e-6;

ff::InputFormat openInput(const std::filesystem::path& file) { return ff::openLocalMovie(file.string()); }

ff::CodecContext openDecoder(AVStream* st) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) return nullptr;
    ff::CodecContext ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) return nullptr;
    ctx->pkt_timebase = st->time_base;
    ctx->thread_count = 0;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
    return ctx;
}

// Decodes one stream of a file in order, with seeking.
class StreamDecoder {
public:
    bool open(const std::filesystem::path& file, int stream, AVMediaType type) {
        fmt_ = openInput(file);
        if (!fmt_ || stream < 0 || unsigned(stream) >= fmt_->nb_streams) return false;
        st_ = fmt_->streams[stream];
        if (st_->codecpar->codec_type != type) return false;
        if (type == AVMEDIA_TYPE_VIDEO &&
            (st_->codecpar->width > AssetProbe::maxDimension || st_->codecpar->height > AssetProbe::maxDimension)) {
            return false;
        }
        for (unsigned i = 0; i < fmt_->nb_streams; ++i) {
            if (int(i) != stream) fmt_->streams[i]->discard = AVDISCARD_ALL;
        }
        dec_ = openDecoder(st_);
        packet_ = ff::makePacket();
        return dec_ && packet_;
    }

    void seek(double seconds) {
        const double tb = av_q2d(st_->time_base);
        const auto ts = std::int64_t(std::max(0.0, seconds) / tb);
        if (av_seek_frame(fmt_.get(), st_->index, ts, AVSEEK_FLAG_BACKWARD) < 0) {
            av_seek_frame(fmt_.get(), st_->index, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
        }
        avcodec_flush_buffers(dec_.get());
        demuxEnded_ = false;
        ended_ = false;
    }

    /// The next decoded frame with its time in seconds; false at the end of the stream.
    bool next(ff::Frame& frame, double& seconds) {
        if (ended_) return false;
        if (!frame) frame = ff::makeFrame();
        for (;;) {
            int rc = avcodec_receive_frame(dec_.get(), frame.get());
            if (rc == 0) {
                std::int64_t ts = frame->best_effort_timestamp;
                if (ts == AV_NOPTS_VALUE) ts = frame->pts;
                seconds = ts == AV_NOPTS_VALUE ? lastSeconds_ : double(ts) * av_q2d(st_->time_base);
                if (!std::isfinite(seconds)) seconds = lastSeconds_;
                lastSeconds_ = seconds;
                return true;
            }
            if (rc != AVERROR(EAGAIN)) {
                ended_ = true;
                return false;
            }
            if (demuxEnded_) {
                ended_ = true;
                return false;
            }
            rc = av_read_frame(fmt_.get(), packet_.get());
            if (rc < 0) {
                demuxEnded_ = true;
                avcodec_send_packet(dec_.get(), nullptr);
                continue;
            }
            if (packet_->stream_index == st_->index) avcodec_send_packet(dec_.get(), packet_.get());
            av_packet_unref(packet_.get());
        }
    }

    AVStream* stream() const { return st_; }

private:
    ff::InputFormat fmt_;
    AVStream* st_ = nullptr;
    ff::CodecContext dec_;
    ff::Packet packet_;
    bool demuxEnded_ = false;
    bool ended_ = false;
    double lastSeconds_ = 0;
};

// The picture of one source stream at any source time: the last frame that starts at or before it.
class VideoReader {
public:
    bool open(const std::filesystem::path& file, int stream) { return decoder_.open(file, stream, AVMEDIA_TYPE_VIDEO); }

    const AVFrame* frameAt(double t) {
        // Going back, or far ahead, is quicker from the key frame before the target than decoding on.
        const bool backwards = t + timeEpsilon < lastRequest_;
        const bool farAhead = current_ && t > currentTime_ + 2.5;
        if (!started_ || backwards || farAhead) {
            decoder_.seek(t);
            current_.reset();
            next_.reset();
            haveNext_ = false;
            started_ = true;
        }
        lastRequest_ = t;
        for (;;) {
            if (!haveNext_) {
                if (!next_) next_ = ff::makeFrame();
                av_frame_unref(next_.get());
                haveNext_ = decoder_.next(next_, nextTime_);
                if (!haveNext_) break;
            }
            if (!current_ || nextTime_ <= t + timeEpsilon) {
                std::swap(current_, next_);
                currentTime_ = nextTime_;
                haveNext_ = false;
                continue;
            }
            break;
        }
        return current_ ? current_.get() : nullptr;
    }

private:
    StreamDecoder decoder_;
    ff::Frame current_, next_;
    double currentTime_ = 0, nextTime_ = 0, lastRequest_ = -1e300;
    bool haveNext_ = false;
    bool started_ = false;
};

// The sound of one source stream as stereo float at the program rate, by source sample position.
class AudioReader {
public:
    bool open(const std::filesystem::path& file, int stream) {
        frame_ = ff::makeFrame();
        return decoder_.open(file, stream, AVMEDIA_TYPE_AUDIO);
    }

    /// Adds `gain` × the samples [pos, pos + count) into `out` (interleaved stereo); silence where there are none.
    void addTo(std::int64_t pos, int count, float* out, float gain) {
        if (count <= 0) return;
        const std::int64_t end = pos + count;
        if (!positioned_ || pos < bufferStart() || pos > bufferEnd() + 2 * ProgramRenderer::sampleRate) seekTo(pos);
        while (bufferEnd() < end && !ended_) {
            decodeMore();
            dropBefore(pos);
        }
        const std::int64_t from = std::max(pos, bufferStart());
        const std::int64_t to = std::min(end, bufferEnd());
        for (std::int64_t s = from; s < to; ++s) {
            const std::size_t src = std::size_t(head_ + (s - bufferStart()) * 2);
            const std::size_t dst = std::size_t((s - pos) * 2);
            out[dst] += gain * buffer_[src];
            out[dst + 1] += gain * buffer_[src + 1];
        }
        dropBefore(pos);
    }

private:
    std::int64_t bufferStart() const { return start_; }
    std::int64_t bufferEnd() const { return start_ + std::int64_t(buffer_.size() - head_) / 2; }

    void seekTo(std::int64_t pos) {
        decoder_.seek(double(pos) / ProgramRenderer::sampleRate);
        buffer_.clear();
        head_ = 0;
        positioned_ = false;
        ended_ = false;
        start_ = pos;
        swr_.reset();
    }

    void dropBefore(std::int64_t pos) {
        if (pos <= start_) return;
        const std::int64_t drop = std::min<std::int64_t>(pos - start_, std::int64_t(buffer_.size() - head_) / 2);
        head_ += std::size_t(drop * 2);
        start_ += drop;
        if (head_ > (1u << 16) && head_ * 2 > buffer_.size()) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(head_));
            head_ = 0;
        }
    }

    bool configure(const AVFrame* f) {
        if (swr_ && f->format == inFormat_ && f->sample_rate == inRate_ &&
            av_channel_layout_compare(&f->ch_layout, &inLayout_) == 0) {
            return true;
        }
        SwrContext* raw = nullptr;
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        AVChannelLayout in{};
        if (f->ch_layout.nb_channels > 0 && f->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_copy(&in, &f->ch_layout);
        } else {
            av_channel_layout_default(&in, std::max(1, f->ch_layout.nb_channels));
        }
        int rc = swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_FLT, ProgramRenderer::sampleRate, &in,
                                     AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
        const bool mono = in.nb_channels == 1;
        av_channel_layout_uninit(&in);
        ff::Swr swr(raw);
        if (rc < 0 || !swr) return false;
        if (mono) {
            // A single microphone plays on both sides at its own level, not 3 dB down.
            const double both[2] = {1.0, 1.0};
            swr_set_matrix(swr.get(), both, 1);
        }
        if (swr_init(swr.get()) < 0) return false;
        swr_ = std::move(swr);
        inFormat_ = f->format;
        inRate_ = f->sample_rate;
        av_channel_layout_uninit(&inLayout_);
        av_channel_layout_copy(&inLayout_, &f->ch_layout);
        return true;
    }

    void append(const std::uint8_t** data, int inSamples) {
        const int room = swr_get_out_samples(swr_.get(), inSamples);
        if (room <= 0) return;
        const std::size_t old = buffer_.size();
        buffer_.resize(old + std::size_t(room) * 2);
        auto* dst = reinterpret_cast<std::uint8_t*>(buffer_.data() + old);
        const int made = swr_convert(swr_.get(), &dst, room, data, inSamples);
        buffer_.resize(old + std::size_t(std::max(0, made)) * 2);
    }

    void decodeMore() {
        double t = 0;
        if (!decoder_.next(frame_, t)) {
            if (swr_) append(nullptr, 0);  // what the resampler still holds
            ended_ = true;
            return;
        }
        const bool usable = frame_->sample_rate > 0 && frame_->sample_rate <= 768000 && frame_->nb_samples > 0 &&
                            frame_->ch_layout.nb_channels > 0 && frame_->ch_layout.nb_channels <= 64;
        if (usable && configure(frame_.get())) {
            if (!positioned_) {
                // The first frame after a seek sets where the buffer lies; the rest follow on from it.
                const std::int64_t at = std::llround(t * ProgramRenderer::sampleRate);
                buffer_.clear();
                head_ = 0;
                start_ = at;
                positioned_ = true;
            }
            append(const_cast<const std::uint8_t**>(frame_->extended_data), frame_->nb_samples);
        }
        av_frame_unref(frame_.get());
    }

    StreamDecoder decoder_;
    ff::Frame frame_;
    ff::Swr swr_;
    int inFormat_ = -1;
    int inRate_ = 0;
    AVChannelLayout inLayout_{};
    std::vector<float> buffer_;
    std::size_t head_ = 0;
    std::int64_t start_ = 0;
    bool positioned_ = false;
    bool ended_ = false;

public:
    ~AudioReader() { av_channel_layout_uninit(&inLayout_); }
};

int evenSize(double points) {
    if (!std::isfinite(points)) return 2;
    const double clamped = std::clamp(points, 2.0, double(AssetProbe::maxDimension));
    return std::max(2, int(std::lround(clamped)) & ~1);
}

ff::Frame blackCanvas(int width, int height) {
    ff::Frame f = ff::makeFrame();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
    for (int y = 0; y < height; ++y) std::memset(f->data[0] + std::ptrdiff_t(y) * f->linesize[0], 16, width);
    for (int p = 1; p < 3; ++p) {
        for (int y = 0; y < (height + 1) / 2; ++y) {
            std::memset(f->data[p] + std::ptrdiff_t(y) * f->linesize[p], 128, (width + 1) / 2);
        }
    }
    return f;
}

}  // namespace

// MARK: Renderer

struct ProgramRenderer::Impl {
    Plan plan;
    int width = 1920;
    int height = 1080;
    const Track* picture = nullptr;
    const LayerInstruction* layer = nullptr;
    std::map<std::pair<int, int>, std::unique_ptr<VideoReader>> videoReaders;
    std::map<std::tuple<int, int, int>, std::unique_ptr<AudioReader>> audioReaders;
    std::map<std::pair<int, int>, bool> failedVideo;
    std::map<std::tuple<int, int, int>, bool> failedAudio;
    ff::Sws sws;
    std::size_t lastSegment = 0;

    VideoReader* videoReader(int asset, int stream) {
        const auto key = std::make_pair(asset, stream);
        if (auto it = videoReaders.find(key); it != videoReaders.end()) return it->second.get();
        if (failedVideo.count(key) || asset < 0 || std::size_t(asset) >= plan.assets.size()) return nullptr;
        auto reader = std::make_unique<VideoReader>();
        if (!reader->open(plan.assets[std::size_t(asset)], stream)) {
            failedVideo[key] = true;
            return nullptr;
        }
        return videoReaders.emplace(key, std::move(reader)).first->second.get();
    }

    AudioReader* audioReader(int track, int asset, int stream) {
        const auto key = std::make_tuple(track, asset, stream);
        if (auto it = audioReaders.find(key); it != audioReaders.end()) return it->second.get();
        if (failedAudio.count(key) || asset < 0 || std::size_t(asset) >= plan.assets.size()) return nullptr;
        auto reader = std::make_unique<AudioReader>();
        if (!reader->open(plan.assets[std::size_t(asset)], stream)) {
            failedAudio[key] = true;
            return nullptr;
        }
        return audioReaders.emplace(key, std::move(reader)).first->second.get();
    }

    const Segment* segmentAt(double t) {
        if (!picture) return nullptr;
        const auto& segs = picture->segments;
        auto covers = [&](const Segment& s) {
            const double a = s.at.seconds();
            return a <= t + timeEpsilon && t + timeEpsilon < a + s.duration.seconds();
        };
        if (lastSegment < segs.size() && covers(segs[lastSegment])) return &segs[lastSegment];
        for (std::size_t i = 0; i < segs.size(); ++i) {
            if (covers(segs[i])) {
                lastSegment = i;
                return &segs[i];
            }
        }
        return nullptr;
    }

    // Converts (and scales) a frame to 4:2:0 planar YUV of the given size.
    ff::Frame convert(const AVFrame* src, int w, int h) {
        ff::Frame out = ff::makeFrame();
        out->format = AV_PIX_FMT_YUV420P;
        out->width = w;
        out->height = h;
        if (av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
        sws.reset(sws_getCachedContext(sws.release(), src->width, src->height, AVPixelFormat(src->format), w, h,
                                       AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!sws) return nullptr;
        sws_scale(sws.get(), src->data, src->linesize, 0, src->height, out->data, out->linesize);
        return out;
    }

    void draw(AVFrame* canvas, const AVFrame* frame, const AffineTransform& t) {
        const int fw = frame->width, fh = frame->height;
        if (fw <= 0 || fh <= 0) return;
        const auto r = t.apply(AffineTransform::Rect{0, 0, double(fw), double(fh)});
        if (!std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.width) || !std::isfinite(r.height)) return;
        if (r.maxX() <= 0 || r.maxY() <= 0 || r.minX() >= width || r.minY() >= height) return;
        const bool axis = std::fabs(t.b) < 1e-9 && std::fabs(t.c) < 1e-9;
        const bool quarter = std::fabs(t.a) < 1e-9 && std::fabs(t.d) < 1e-9;
        const double limit = 4.0 * AssetProbe::maxDimension;
        if ((axis || quarter) && r.width <= limit && r.height <= limit) {
            drawUpright(canvas, frame, t, r, quarter);
        } else {
            drawGeneral(canvas, frame, t, r);
        }
    }

    // Quarter turns, mirrors and scales: scale with swscale, then copy pixel by pixel (or row by row).
    void drawUpright(AVFrame* canvas, const AVFrame* frame, const AffineTransform& t, const AffineTransform::Rect& r,
                     bool quarter) {
        const long x0 = std::lround(r.minX()), y0 = std::lround(r.minY());
        const long dw = std::lround(r.maxX()) - x0, dh = std::lround(r.maxY()) - y0;
        if (dw <= 0 || dh <= 0) return;
        const int sw = int(quarter ? dh : dw), sh = int(quarter ? dw : dh);
        ff::Frame scaled;
        const AVFrame* src = frame;
        if (frame->format != AV_PIX_FMT_YUV420P || frame->width != sw || frame->height != sh) {
            scaled = convert(frame, sw, sh);
            if (!scaled) return;
            src = scaled.get();
        }
        const bool flipX = quarter ? t.c < 0 : t.a < 0;  // which way the destination's x runs in the source
        const bool flipY = quarter ? t.b < 0 : t.d < 0;
        // Destination (X, Y) relative to the rectangle → source (x, y).
        auto sourceOf = [&](long X, long Y, long& x, long& y) {
            if (quarter) {
                x = flipY ? sw - 1 - Y : Y;
                y = flipX ? sh - 1 - X : X;
            } else {
                x = flipX ? sw - 1 - X : X;
                y = flipY ? sh - 1 - Y : Y;
            }
        };
        const long cx0 = std::max(0L, -x0), cx1 = std::min(dw, long(width) - x0);
        const long cy0 = std::max(0L, -y0), cy1 = std::min(dh, long(height) - y0);
        if (!quarter && !flipX) {
            for (long Y = cy0; Y < cy1; ++Y) {
                const long y = flipY ? sh - 1 - Y : Y;
                std::memcpy(canvas->data[0] + (y0 + Y) * canvas->linesize[0] + x0 + cx0,
                            src->data[0] + y * src->linesize[0] + cx0, std::size_t(cx1 - cx0));
            }
        } else {
            for (long Y = cy0; Y < cy1; ++Y) {
                std::uint8_t* row = canvas->data[0] + (y0 + Y) * canvas->linesize[0] + x0;
                for (long X = cx0; X < cx1; ++X) {
                    long x, y;
                    sourceOf(X, Y, x, y);
                    row[X] = src->data[0][y * src->linesize[0] + x];
                }
            }
        }
        // Chroma at half resolution: each canvas chroma sample takes the source sample under its luma corner.
        const long ccx0 = (x0 + cx0 + 1) / 2, ccx1 = (x0 + cx1 + 1) / 2;
        const long ccy0 = (y0 + cy0 + 1) / 2, ccy1 = (y0 + cy1 + 1) / 2;
        for (int p = 1; p < 3; ++p) {
            for (long cy = ccy0; cy < ccy1; ++cy) {
                std::uint8_t* row = canvas->data[p] + cy * canvas->linesize[p];
                const long Y = std::clamp(cy * 2 - y0, 0L, dh - 1);
                for (long cx = ccx0; cx < ccx1; ++cx) {
                    const long X = std::clamp(cx * 2 - x0, 0L, dw - 1);
                    long x, y;
                    sourceOf(X, Y, x, y);
                    row[cx] = src->data[p][(y / 2) * src->linesize[p] + x / 2];
                }
            }
        }
    }

    // Any other transform: map every covered canvas pixel back into the source.
    void drawGeneral(AVFrame* canvas, const AVFrame* frame, const AffineTransform& t, const AffineTransform::Rect& r) {
        const auto inv = t.inverted();
        if (!inv) return;
        ff::Frame converted;
        const AVFrame* src = frame;
        if (frame->format != AV_PIX_FMT_YUV420P) {
            converted = convert(frame, frame->width, frame->height);
            if (!converted) return;
            src = converted.get();
        }
        const long X0 = std::max(0L, long(std::floor(r.minX()))), X1 = std::min(long(width), long(std::ceil(r.maxX())));
        const long Y0 = std::max(0L, long(std::floor(r.minY()))),
                   Y1 = std::min(long(height), long(std::ceil(r.maxY())));
        const int fw = src->width, fh = src->height;
        for (long Y = Y0; Y < Y1; ++Y) {
            for (long X = X0; X < X1; ++X) {
                const auto p = inv->apply(AffineTransform::Point{X + 0.5, Y + 0.5});
                if (p.x < 0 || p.y < 0 || p.x >= fw || p.y >= fh) continue;
                canvas->data[0][Y * canvas->linesize[0] + X] = src->data[0][long(p.y) * src->linesize[0] + long(p.x)];
            }
        }
        for (int pl = 1; pl < 3; ++pl) {
            for (long cy = Y0 / 2; cy < (Y1 + 1) / 2; ++cy) {
                for (long cx = X0 / 2; cx < (X1 + 1) / 2; ++cx) {
                    const auto p = inv->apply(AffineTransform::Point{cx * 2 + 1.0, cy * 2 + 1.0});
                    if (p.x < 0 || p.y < 0 || p.x >= fw || p.y >= fh) continue;
                    canvas->data[pl][cy * canvas->linesize[pl] + cx] =
                        src->data[pl][(long(p.y) / 2) * src->linesize[pl] + long(p.x) / 2];
                }
            }
        }
    }

    ff::Frame compose(double t) {
        const Segment* seg = segmentAt(t);
        const AVFrame* source = nullptr;
        if (seg && !seg->isEmpty()) {
            if (VideoReader* reader = videoReader(*seg->asset, seg->stream)) {
                source = reader->frameAt(seg->sourceStart.seconds() + (t - seg->at.seconds()));
            }
        }
        const AffineTransform transform = layer ? layer->transformAt(t) : AffineTransform{};
        if (source && transform.isIdentity() && source->format == AV_PIX_FMT_YUV420P && source->width == width &&
            source->height == height) {
            // The common case of a source already at the frame size: no copy.
            ff::Frame f(av_frame_clone(source));
            if (f) {
                f->pict_type = AV_PICTURE_TYPE_NONE;
                return f;
            }
        }
        ff::Frame canvas = blackCanvas(width, height);
        if (canvas && source) draw(canvas.get(), source, transform);
        return canvas;
    }

    void mix(std::int64_t start, int count, float* out) {
        std::fill(out, out + std::size_t(count) * 2, 0.0f);
        for (const auto& track : plan.composition.tracks) {
            if (track.kind != MediaKind::audio) continue;
            float gain = 1;
            if (plan.audioMix) {
                for (const auto& p : plan.audioMix->inputParameters) {
                    if (p.trackID == track.trackID) gain = std::isfinite(p.volume) ? p.volume : 0;
                }
            }
            for (const auto& seg : track.segments) {
                if (seg.isEmpty()) continue;
                // Sample positions straight from the rational times, so that no segment starts a sample off.
                const auto at = seg.at.ticks(sampleRate), length = seg.duration.ticks(sampleRate),
                           sourceAt = seg.sourceStart.ticks(sampleRate);
                if (!at || !length || !sourceAt) continue;
                const std::int64_t segStart = *at;
                std::int64_t segEnd = 0;
                if (__builtin_add_overflow(segStart, *length, &segEnd)) continue;
                const std::int64_t from = std::max(start, segStart), to = std::min(start + count, segEnd);
                if (from >= to) continue;
                AudioReader* reader = audioReader(track.trackID, *seg.asset, seg.stream);
                if (!reader) continue;
                const std::int64_t src = *sourceAt + (from - segStart);
                reader->addTo(src, int(to - from), out + (from - start) * 2, gain);
            }
        }
        for (int i = 0; i < count * 2; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
    }
};

ProgramRenderer::ProgramRenderer(Plan plan) : impl_(std::make_unique<Impl>()) {
    impl_->plan = std::move(plan);
    const auto& vc = impl_->plan.videoComposition;
    impl_->width = evenSize(vc.renderWidth);
    impl_->height = evenSize(vc.renderHeight);
    for (const auto& instruction : vc.instructions) {
        if (!instruction.layers.empty()) {
            impl_->layer = &instruction.layers.front();
            break;
        }
    }
    const int pictureID = impl_->layer ? impl_->layer->trackID : 0;
    for (const auto& track : impl_->plan.composition.tracks) {
        if (track.kind != MediaKind::video) continue;
        if (!impl_->picture || track.trackID == pictureID) impl_->picture = &track;
        if (track.trackID == pictureID) break;
    }
}

ProgramRenderer::~ProgramRenderer() = default;

const ProgramRenderer::Plan& ProgramRenderer::plan() const {
    return impl_->plan;
}

double ProgramRenderer::duration() const {
    return impl_->picture ? impl_->picture->duration() : 0;
}

std::int64_t ProgramRenderer::frameCount() const {
    const MediaTime fd = impl_->plan.videoComposition.frameDuration;
    const double step = fd.isValid() && fd.value > 0 ? fd.seconds() : 1.0 / 30;
    const double d = duration();
    if (!(d > 0)) return 0;
    return std::int64_t(std::ceil(d / step - 1e-6));
}

int ProgramRenderer::width() const {
    return impl_->width;
}
int ProgramRenderer::height() const {
    return impl_->height;
}

bool ProgramRenderer::hasSound() const {
    for (const auto& track : impl_->plan.composition.tracks) {
        if (track.kind != MediaKind::audio) continue;
        for (const auto& seg : track.segments) {
            if (!seg.isEmpty()) return true;
        }
    }
    return false;
}

ProgramRenderer::Picture ProgramRenderer::pictureAt(double programTime) {
    Picture picture;
    ff::Frame yuv = impl_->compose(programTime);
    if (!yuv) return picture;
    ff::Sws sws(sws_getContext(yuv->width, yuv->height, AVPixelFormat(yuv->format), yuv->width, yuv->height,
                               AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws) return picture;
    picture.width = yuv->width;
    picture.height = yuv->height;
    picture.rgba.resize(std::size_t(picture.width) * std::size_t(picture.height) * 4);
    std::uint8_t* dst[4] = {picture.rgba.data(), nullptr, nullptr, nullptr};
    int stride[4] = {picture.width * 4, 0, 0, 0};
    sws_scale(sws.get(), yuv->data, yuv->linesize, 0, yuv->height, dst, stride);
    return picture;
}

std::vector<float> ProgramRenderer::soundRange(double start, double duration) {
    if (!std::isfinite(start) || !std::isfinite(duration) || duration <= 0) return {};
    const std::int64_t first = std::llround(start * sampleRate);
    // One call covers at most ten minutes of sound; longer ranges are asked for in parts.
    const std::int64_t count = std::min<std::int64_t>(std::llround(duration * sampleRate), 600LL * sampleRate);
    std::vector<float> out(std::size_t(count) * channels);
    constexpr int chunk = 4096;
    for (std::int64_t done = 0; done < count; done += chunk) {
        const int n = int(std::min<std::int64_t>(chunk, count - done));
        impl_->mix(first + done, n, out.data() + done * channels);
    }
    return out;
}

ff::Frame ProgramRenderer::renderFrame(std::int64_t index) {
    const MediaTime fd = impl_->plan.videoComposition.frameDuration;
    const double step = fd.isValid() && fd.value > 0 ? fd.seconds() : 1.0 / 30;
    ff::Frame f = impl_->compose(double(index) * step);
    if (f) f->pts = index;
    return f;
}

void ProgramRenderer::mixSound(std::int64_t start, int count, float* interleaved) {
    if (count > 0) impl_->mix(start, count, interleaved);
}

}  // namespace morvane
