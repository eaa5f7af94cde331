#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "link/peer_id.h"
#include "platform/base64.h"
#include "platform/dispatch_queue.h"
#include "platform/video_frame.h"

namespace morvane {

/// Real-time H.264 compression of pictures of one size, as the live stream needs it: each picture in gives one
/// access unit out at once (no reordering, no look-ahead).
class LiveCompressor {
public:
    struct Output {
        std::vector<Bytes> parameterSets;  ///< the key frame's SPS and PPS, without start codes
        Bytes accessUnit;                  ///< NAL units with 4-byte big-endian lengths
        bool isKeyframe = false;
    };
    virtual ~LiveCompressor() = default;
    /// Compresses a picture of any size and format (it is scaled to the compressor's size). None when the
    /// picture is dropped.
    virtual std::optional<Output> compress(const AVFrame& picture, bool forceKeyframe) = 0;
    /// Takes effect from the next picture.
    virtual void setBitRate(int bitsPerSecond) = 0;
};

/// Makes a compressor for an encoded size and bit rate; null when it cannot.
using LiveCompressorFactory =
    std::function<std::unique_ptr<LiveCompressor>(int width, int height, int bitRate, bool lowLatency)>;

/// libx264 through FFmpeg: zero latency, no B-frames, forced key frames as IDR, 30 frames per second expected and
/// a key frame at least every 5 s.
std::unique_ptr<LiveCompressor> makeX264Compressor(int width, int height, int bitRate, bool lowLatency);

/// The camera's live stream: compresses the pictures it is offered to H.264 for every connected remote, with
/// flow control per remote, and hands out parameter-set and frame packets through `onPacket` with the remotes
/// that must not get them.
class H264Encoder {
public:
    struct Options {
        int maxLongSide = 1280;             ///< for a remote that asked for no size
        double minFrameInterval = 1.0 / 31;  ///< seconds between two compressed frames at least
        int targetBitRate = 4'000'000;
        int maxBitRate = 12'000'000;
        std::function<double()> clock = hostTime;  ///< host seconds for the flow control
        LiveCompressorFactory makeCompressor = makeX264Compressor;
    };

    /// Frames a remote may have unacknowledged before it is sent nothing more.
    static constexpr int windowFrames = 8;
    /// A full window whose oldest frame is older than this counts as stalled.
    static constexpr double stallSeconds = 3.0;
    /// Key frames forced for remotes catching up come at most this often.
    static constexpr double forcedKeyframeSpacing = 1.0;
    /// Send times kept for the stall check; older ones are forgotten.
    static constexpr std::size_t maxSentTimes = 1024;

    H264Encoder();
    explicit H264Encoder(Options options);
    ~H264Encoder();

    /// Receives every finished packet and the remotes that must not be sent it; called on the encoder's queue,
    /// never under its lock. Set before frames are offered.
    std::function<void(const Bytes& packet, const std::set<PeerId>& excluded)> onPacket;

    /// Whether a picture taken at `time` (seconds; NaN when unknown) is due. Runs on the encoder's queue.
    bool shouldEncode(double time);
    /// Compresses the picture for the remotes that want it (rotation in quarter turns); returns once it has been
    /// compressed and its packets handed out, or dropped.
    void encode(const VideoFrame& frame, std::uint8_t rotation);
    /// The remotes that a frame would be sent to, after the stall check; none when no frame is wanted at all (an
    /// empty set means a frame is wanted only to restart a remote on a key frame).
    std::optional<std::set<PeerId>> recipients();

    // What the remotes send back, and remotes coming and going. Any thread.
    void addPeer(const PeerId& peer);
    void removePeer(const PeerId& peer);
    void acknowledge(const PeerId& peer, std::uint32_t frameId);
    void requestKeyframe();
    void setSize(const PeerId& peer, int longSide);
    void setTargetBitRate(int bitsPerSecond);

    /// Frames sent to the remote and not yet acknowledged.
    int framesInFlight(const PeerId& peer) const;
    bool isResyncing(const PeerId& peer) const;
    /// The size of the current compression, (0, 0) before the first.
    std::pair<int, int> sessionSize() const;
    std::size_t sentTimesKept() const;
    void setNextFrameId(std::uint32_t id);  ///< for tests of the wrap-around

    /// Encoded size for a source and a wanted long side: never enlarged, even sides.
    static std::pair<int, int> encodedSize(int width, int height, int longSide);

private:
    int framesInFlightLocked(const PeerId& peer) const;
    void checkStallsLocked();
    std::optional<std::set<PeerId>> recipientsLocked();
    void encodeFrame(const VideoFrame& frame, std::uint8_t rotation);  // on queue_
    void makeSession(int width, int height, int longSide);             // on queue_
    void handleOutput(const LiveCompressor::Output& output, std::uint8_t rotation);
    void recordSentLocked(std::uint32_t seq, double now);

    Options options_;

    // On queue_ only.
    std::unique_ptr<LiveCompressor> session_;
    std::pair<int, int> sourceSize_{0, 0};
    int sessionLongSide_ = 0;
    std::pair<int, int> encoded_{0, 0};
    double lastEncodedTime_ = std::numeric_limits<double>::quiet_NaN();
    int appliedBitRate_ = 0;

    // Under lock_.
    mutable std::mutex lock_;
    std::uint32_t nextSeq_ = 0;
    std::map<PeerId, std::uint32_t> nextExpectedByPeer_;
    std::map<PeerId, std::uint32_t> lastSentByPeer_;
    std::map<PeerId, int> sizesByPeer_;
    std::set<PeerId> resyncing_;
    bool forceKeyframe_ = false;
    double lastForcedKeyframe_ = -1e9;
    std::unordered_map<std::uint32_t, double> sentAt_;
    std::deque<std::uint32_t> sentOrder_;
    int targetBitRate_;

    DispatchQueue queue_{"morvane.h264-encoder"};
};

}  // namespace morvane
