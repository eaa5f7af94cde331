#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "camera/movie_recorder.h"
#include "protocol/capture_settings.h"

namespace morvane {

/// What this machine's encoders can write, learned once per run by opening each at 3840 × 2160.
struct CodecCapabilities {
    bool hevc = false;
    std::vector<VideoCodec> proRes;  ///< in declaration order
};

/// Whether the encoder for `codec` (and ProRes flavour) opens at 3840 × 2160 for a QuickTime movie.
bool probeCodec(MovieVideoSettings::Codec codec, int proResProfile = 3);
/// HEVC, learned on first use.
bool canWriteHEVC();
/// The ProRes flavours, learned on first use.
const std::vector<VideoCodec>& writableProResCodecs();

/// The ProRes profile of a `VideoCodec` (none for HEVC).
std::optional<int> proResProfile(VideoCodec codec);

/// Bits per second of an HEVC (or H.264) take: width × height × max(rate, 24) × 0.25 for 10-bit pictures, × 0.18
/// otherwise.
std::int64_t averageBitRate(int width, int height, int frameRate, bool tenBit);

/// How a take starts, decided from its first frame and the camera's settings.
struct RecordingDecision {
    std::optional<MovieVideoSettings> video;  ///< none: no take
    std::vector<std::string> logLines;        ///< without the "MovieRecorder: " prefix
    std::optional<std::string> infoMessage;   ///< an `info` event for the remote
};

RecordingDecision decideRecording(int width, int height, bool tenBit, VideoCodec chosen, int frameRate,
                                  bool hevcWritable, const std::vector<VideoCodec>& proResWritable);

/// The frame number, on the time-of-day clock shared with the master device, of a frame captured at host time
/// `sampleTime` (seconds): counted from the local midnight of the capture instant at the real rate `fps`, wrapping
/// at ⌊86400 × fps⌋. `hostNow` and `wallNow` (seconds since 1970) are the clocks read now.
std::int32_t timeOfDayFrame(double sampleTime, double clockOffset, double fps, double hostNow, double wallNow);
std::int32_t timeOfDayFrame(double sampleTime, double clockOffset, double fps);

}  // namespace morvane
