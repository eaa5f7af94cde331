#pragma once

// A camera's live stream for tests: real libx264 output packetised as the camera sends it (a parameter-set
// packet before every key frame, then one frame packet per picture with its number, key flag and rotation).

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/h264_compression_session.h"
#include "protocol/live_packets.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace morvane::testing {

struct StreamFrame {
    std::optional<Bytes> parameterSets;  ///< the packet sent before a key frame
    Bytes frame;                         ///< the frame packet
    std::uint32_t number = 0;
    bool isKeyframe = false;
    H264CompressionSession::Output output;
};

class LiveStream {
public:
    LiveStream(int width, int height, int keyframeInterval = 30, int bitRate = 1'000'000)
        : session_(H264CompressionSession::make({width, height, 30, bitRate, keyframeInterval})) {
        if (!session_) throw std::runtime_error("libx264 is not available");
    }

    /// The next picture, compressed and packetised.
    StreamFrame next(bool forceKeyframe = false, std::uint8_t rotation = 0) {
        auto picture = session_->makeTestPicture(index_++);
        auto out = session_->encode(*picture, forceKeyframe);
        if (!out) throw std::runtime_error("encoding failed");
        StreamFrame f;
        f.number = nextNumber_++;
        f.isKeyframe = out->isKeyframe;
        if (out->isKeyframe) f.parameterSets = ParameterSetsPacket{out->parameterSets}.encode();
        f.frame = FramePacket::encode(f.number, out->isKeyframe, rotation, out->accessUnit);
        f.output = std::move(*out);
        return f;
    }

    /// `count` pictures in a row.
    std::vector<StreamFrame> take(int count, std::uint8_t rotation = 0) {
        std::vector<StreamFrame> frames;
        for (int i = 0; i < count; ++i) frames.push_back(next(false, rotation));
        return frames;
    }

    int width() const { return session_->settings().width; }
    int height() const { return session_->settings().height; }

private:
    std::unique_ptr<H264CompressionSession> session_;
    int index_ = 0;
    std::uint32_t nextNumber_ = 1000;
};

}  // namespace morvane::testing
