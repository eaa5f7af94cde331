#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/video_frame.h"

struct pa_mainloop;
struct pa_context;
struct pa_stream;

namespace morvane {

/// A record stream of the sound server (PulseAudio, or PipeWire's pulse layer), opened and read on one thread, the
/// caller's. The stream never moves: a source that is removed ends it, rather than the server moving it to another
/// source (a fallback that gives silence). Each block read carries the instant the server's own counts say its first
/// sample was heard: the stream's write index and the source's latency when it was read, against the block's place
/// in the stream, unsmoothed; sound the stream lost comes as a hole, silence of its length.
class PulseInput {
public:
    /// What is asked of the server: its resampler gives this whatever the source runs at.
    static constexpr int rate = 48000;
    static constexpr int channels = 2;
    /// The stream's fragments, and the source's latency asked: small, so that no block straddles much of a loss.
    static constexpr double fragmentSeconds = 0.01;

    struct Block {
        SharedFrame samples;  ///< 16-bit interleaved, `channels` at `rate`
        double readAt = 0;    ///< host seconds (`hostTime`) it was read
        double heard = NAN;   ///< host seconds its first sample was heard, by the server's counts
        bool hole = false;    ///< sound the stream lost, as silence
    };

    PulseInput();
    ~PulseInput();
    PulseInput(const PulseInput&) = delete;
    PulseInput& operator=(const PulseInput&) = delete;

    /// Connects and opens a record stream on `source` ("default": the server's default source), waiting no longer
    /// than until `until` (host time). False, with `*error` saying why, when it cannot be had.
    bool open(const std::string& source, double until, std::string* error);
    /// Waits up to `seconds` for sound and adds the blocks read, whose times are known, oldest first. False once the
    /// stream ended (the source removed, the server gone), with `*error` saying why; what was read before is added.
    bool read(double seconds, std::vector<Block>& blocks, std::string* error);
    /// Any thread: a wait in `open` or `read` returns at once.
    void wake();

private:
    struct Pending {
        Block block;
        std::int64_t start = 0;  ///< its first byte's place in the stream
    };
    /// Runs the loop once, waiting no longer than until `until` (host time). False when the loop failed.
    bool iterate(double until);
    /// Takes what the stream holds; asks the server where it stands once something was taken.
    void take();
    /// The server's answer (`answered` false: none came): every block taken before it gets its time.
    void timed(bool answered);
    std::string why() const;
    bool ended() const;

    std::atomic<bool> woken_{false};
    std::mutex loopLock_;  ///< `wake` against the loop going away
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::int64_t position_ = 0;  ///< bytes taken from the stream
    bool asked_ = false;         ///< a question of the server's timing is on its way
    std::deque<Pending> pending_;
    std::deque<Block> timedBlocks_;
};

}  // namespace morvane
