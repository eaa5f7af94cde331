#include "platform/pulse_input.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

#include <pulse/pulseaudio.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace morvane {

namespace {

constexpr pa_sample_spec kSpec{PA_SAMPLE_S16NE, PulseInput::rate, PulseInput::channels};
constexpr int kFrameBytes = 2 * PulseInput::channels;

/// `when`, a time of the wall clock the server stamps its answers with, on the host clock.
double onHostClock(const timeval& when) {
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const double wallNow = static_cast<double>(wall.tv_sec) + static_cast<double>(wall.tv_nsec) * 1e-9;
    const double stamped = static_cast<double>(when.tv_sec) + static_cast<double>(when.tv_usec) * 1e-6;
    return hostTime() - (wallNow - stamped);
}

SharedFrame soundFrame(const void* data, std::size_t bytes) {
    SharedFrame frame = shareFrame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = PulseInput::rate;
    av_channel_layout_default(&frame->ch_layout, PulseInput::channels);
    frame->nb_samples = static_cast<int>(bytes / kFrameBytes);
    if (frame->nb_samples <= 0 || av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    if (data) {
        std::memcpy(frame->data[0], data, static_cast<std::size_t>(frame->nb_samples) * kFrameBytes);
    } else {
        av_samples_set_silence(frame->data, 0, frame->nb_samples, PulseInput::channels, AV_SAMPLE_FMT_S16);
    }
    return frame;
}

}  // namespace

PulseInput::PulseInput() = default;

PulseInput::~PulseInput() {
    if (stream_) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_mainloop* loop = nullptr;
    {
        std::lock_guard lock(loopLock_);
        loop = std::exchange(loop_, nullptr);
    }
    if (loop) pa_mainloop_free(loop);
}

void PulseInput::wake() {
    woken_ = true;
    std::lock_guard lock(loopLock_);
    if (loop_) pa_mainloop_wakeup(loop_);
}

bool PulseInput::iterate(double until) {
    const double left = std::max(0.0, until - hostTime());
    if (pa_mainloop_prepare(loop_, static_cast<int>(std::min(left, 1.0) * 1e6)) < 0) return false;
    if (pa_mainloop_poll(loop_) < 0) return false;
    return pa_mainloop_dispatch(loop_) >= 0;
}

std::string PulseInput::why() const {
    const int code = context_ ? pa_context_errno(context_) : PA_ERR_UNKNOWN;
    return code == PA_ERR_NOENTITY ? "no such sound source" : pa_strerror(code);
}

bool PulseInput::ended() const {
    return !context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || !stream_ ||
           !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
}

bool PulseInput::open(const std::string& source, double until, std::string* error) {
    {
        std::lock_guard lock(loopLock_);
        loop_ = pa_mainloop_new();
    }
    if (!loop_) {
        *error = "no sound server loop";
        return false;
    }
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Brindlecroft camera");
    if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        *error = "no sound server: " + why();
        return false;
    }
    while (pa_context_get_state(context_) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || hostTime() >= until || !iterate(until)) {
            *error = "no sound server: " + why();
            return false;
        }
    }
    stream_ = pa_stream_new(context_, "Microphone", &kSpec, nullptr);
    if (!stream_) {
        *error = why();
        return false;
    }
    pa_stream_set_read_callback(
        stream_, [](pa_stream*, std::size_t, void* self) { static_cast<PulseInput*>(self)->take(); }, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize =
        static_cast<std::uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(fragmentSeconds * PA_USEC_PER_SEC), &kSpec));
    // Never moved to another source; the source's own latency as small as the fragments, so that it hands its
    // sound over as often.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(stream_, source == "default" ? nullptr : source.c_str(), &attributes, flags) < 0) {
        *error = why();
        return false;
    }
    while (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        if (ended()) {
            *error = why();
            return false;
        }
        if (hostTime() >= until || woken_.exchange(false)) {
            *error = "the sound server did not answer";
            return false;
        }
        if (!iterate(until)) {
            *error = "the sound server's loop failed";
            return false;
        }
    }
    return true;
}

void PulseInput::take() {
    while (stream_ && pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) break;
        Pending taken{{soundFrame(data, bytes), hostTime(), NAN, data == nullptr}, position_};
        pa_stream_drop(stream_);
        position_ += static_cast<std::int64_t>(bytes);
        if (taken.block.samples) pending_.push_back(std::move(taken));
    }
    if (pending_.empty() || asked_) return;
    pa_operation* asked = pa_stream_update_timing_info(
        stream_, [](pa_stream*, int done, void* self) { static_cast<PulseInput*>(self)->timed(done != 0); }, this);
    if (!asked) return;
    asked_ = true;
    pa_operation_unref(asked);
}

void PulseInput::timed(bool answered) {
    asked_ = false;
    // Without an answer the server's last counts may be older than the sound taken since: no time for it yet.
    const pa_timing_info* timing = answered ? pa_stream_get_timing_info(stream_) : nullptr;
    if (timing) {
        // The byte at the server's write index was heard the source's latency before the server's stamp; the ones
        // before it lie before it by their count. Every block taken so far lies before it: the server sent it first.
        const double written =
            onHostClock(timing->timestamp) - static_cast<double>(timing->source_usec) / PA_USEC_PER_SEC;
        const double byteRate = static_cast<double>(rate) * kFrameBytes;
        const std::int64_t readIndex = timing->read_index_corrupt ? position_ : timing->read_index;
        const double atReadIndex =
            written - static_cast<double>(std::max<std::int64_t>(0, timing->write_index - readIndex)) / byteRate;
        for (Pending& taken : pending_) {
            taken.block.heard = atReadIndex - static_cast<double>(position_ - taken.start) / byteRate;
            timedBlocks_.push_back(std::move(taken.block));
        }
        pending_.clear();
    }
    // Unanswered: asked again.
    if (!pending_.empty()) take();
}

bool PulseInput::read(double seconds, std::vector<Block>& blocks, std::string* error) {
    const double until = hostTime() + seconds;
    for (;;) {
        take();
        if (!timedBlocks_.empty()) break;
        if (ended()) {
            // What was taken without an answer goes with the read's own time only.
            for (Pending& taken : pending_) blocks.push_back(std::move(taken.block));
            pending_.clear();
            *error = why();
            return false;
        }
        if (hostTime() >= until || woken_.exchange(false)) return true;
        if (!iterate(until)) {
            *error = "the sound server's loop failed";
            return false;
        }
    }
    for (Block& block : timedBlocks_) blocks.push_back(std::move(block));
    timedBlocks_.clear();
    return true;
}

}  // namespace morvane
