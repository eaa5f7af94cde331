#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct AVFrame;

namespace morvane {

/// Real-time H.264 compression with libx264 for a live stream: no frame reordering and no look-ahead, so each
/// picture handed in comes out as one access unit at once.
///
/// Output is split the way a live stream sends it: the parameter sets (raw NAL units without start codes) of
/// every key frame, and the access unit with 4-byte big-endian NAL lengths.
class H264CompressionSession {
public:
    struct Settings {
        int width = 1280;
        int height = 720;
        int framesPerSecond = 30;
        int bitRate = 4'000'000;
        /// Frames between key frames.
        int keyframeInterval = 60;
        /// Low-delay rate control: a bit-rate buffer of half a second bounds every picture's size. Without it the
        /// rate is an average only. Either way each picture comes out at once (zero-latency tuning).
        bool lowLatency = true;
    };

    struct Output {
        std::vector<std::vector<std::uint8_t>> parameterSets;  ///< set on key frames only
        std::vector<std::uint8_t> accessUnit;
        bool isKeyframe = false;
    };

    /// None when libx264 is missing or refuses the settings.
    static std::unique_ptr<H264CompressionSession> make(const Settings& settings);
    ~H264CompressionSession();

    const Settings& settings() const { return settings_; }

    /// The average bit rate from the next picture on (libx264 reconfigures itself between pictures).
    void setBitRate(int bitsPerSecond);

    /// Compresses one picture in planar YUV 4:2:0 of the session's size. None when the encoder fails or holds
    /// the picture back (which it does not in this configuration).
    std::optional<Output> encode(const AVFrame& picture, bool forceKeyframe = false);

    /// A planar YUV 4:2:0 picture of the session's size for `encode`, filled with a moving test pattern that
    /// depends on the frame index.
    std::shared_ptr<AVFrame> makeTestPicture(int index) const;

private:
    struct State;
    H264CompressionSession(Settings settings, std::unique_ptr<State> state);

    Settings settings_;
    std::unique_ptr<State> state_;
    std::int64_t nextPts_ = 0;
};

}  // namespace morvane
