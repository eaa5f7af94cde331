#include "camera/h264_encoder.h"

#include <cmath>
#include <limits>

#include "platform/h264_compression_session.h"
#include "protocol/live_packets.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace morvane {

// MARK: - libx264

namespace {

class X264Compressor final : public LiveCompressor {
public:
    X264Compressor(std::unique_ptr<H264CompressionSession> session) : session_(std::move(session)) {}
    ~X264Compressor() override { sws_freeContext(sws_); }

    std::optional<Output> compress(const AVFrame& picture, bool forceKeyframe) override {
        const auto& s = session_->settings();
        if (!scaled_) scaled_ = makeVideoFrame(s.width, s.height, AV_PIX_FMT_YUV420P);
        if (!scaled_ || picture.width <= 0 || picture.height <= 0) return std::nullopt;
        sws_ = sws_getCachedContext(sws_, picture.width, picture.height, static_cast<AVPixelFormat>(picture.format),
                                    s.width, s.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws_ || av_frame_make_writable(scaled_.get()) < 0) return std::nullopt;
        setColorConversion(sws_, picture, AV_PIX_FMT_YUV420P);
        if (sws_scale(sws_, picture.data, picture.linesize, 0, picture.height, scaled_->data, scaled_->linesize) !=
            s.height) {
            return std::nullopt;
        }
        auto out = session_->encode(*scaled_, forceKeyframe);
        if (!out) return std::nullopt;
        Output result;
        result.isKeyframe = out->isKeyframe;
        result.accessUnit = std::move(out->accessUnit);
        for (auto& set : out->parameterSets) result.parameterSets.push_back(std::move(set));
        return result;
    }

    void setBitRate(int bitsPerSecond) override { session_->setBitRate(bitsPerSecond); }

private:
    std::unique_ptr<H264CompressionSession> session_;
    SharedFrame scaled_;
    SwsContext* sws_ = nullptr;
};

std::int32_t signedDistance(std::uint32_t later, std::uint32_t earlier) {
    return static_cast<std::int32_t>(later - earlier);  // wrapping difference read as signed
}

}  // namespace

std::unique_ptr<LiveCompressor> makeX264Compressor(int width, int height, int bitRate, bool lowLatency) {
    H264CompressionSession::Settings settings;
    settings.width = width;
    settings.height = height;
    settings.framesPerSecond = 30;
    settings.bitRate = bitRate;
    settings.keyframeInterval = 150;  // 5 s at the expected rate
    settings.lowLatency = lowLatency;
    auto session = H264CompressionSession::make(settings);
    if (!session) return nullptr;
    return std::make_unique<X264Compressor>(std::move(session));
}

std::pair<int, int> H264Encoder::encodedSize(int width, int height, int longSide) {
    if (width <= 0 || height <= 0 || longSide <= 0) return {0, 0};
    const double scale = std::min(static_cast<double>(longSide) / std::max(width, height), 1.0);
    return {static_cast<std::int32_t>(width * scale) & ~1, static_cast<std::int32_t>(height * scale) & ~1};
}

// MARK: - Encoder

H264Encoder::H264Encoder() : H264Encoder(Options{}) {}

H264Encoder::H264Encoder(Options options) : options_(std::move(options)), targetBitRate_(options_.targetBitRate) {}

H264Encoder::~H264Encoder() {
    queue_.sync([this] { session_.reset(); });
}

int H264Encoder::framesInFlightLocked(const PeerId& peer) const {
    const auto next = nextExpectedByPeer_.find(peer);
    const auto last = lastSentByPeer_.find(peer);
    if (next == nextExpectedByPeer_.end() || last == lastSentByPeer_.end()) return 0;
    return std::max(signedDistance(last->second, next->second), -1) + 1;
}

int H264Encoder::framesInFlight(const PeerId& peer) const {
    std::lock_guard lock(lock_);
    return framesInFlightLocked(peer);
}

bool H264Encoder::isResyncing(const PeerId& peer) const {
    std::lock_guard lock(lock_);
    return resyncing_.count(peer) != 0;
}

std::pair<int, int> H264Encoder::sessionSize() const {
    return const_cast<DispatchQueue&>(queue_).syncResult([this] { return encoded_; });
}

std::size_t H264Encoder::sentTimesKept() const {
    std::lock_guard lock(lock_);
    return sentAt_.size();
}

void H264Encoder::setNextFrameId(std::uint32_t id) {
    std::lock_guard lock(lock_);
    nextSeq_ = id;
}

void H264Encoder::checkStallsLocked() {
    const double now = options_.clock();
    for (auto& [peer, next] : nextExpectedByPeer_) {
        const auto last = lastSentByPeer_.find(peer);
        if (last == lastSentByPeer_.end()) continue;
        if (signedDistance(last->second, next) < windowFrames) continue;
        const auto sent = sentAt_.find(next);
        if (sent == sentAt_.end()) continue;
        if (now - sent->second > stallSeconds) {
            next = nextSeq_;
            last->second = nextSeq_ - 1;
            resyncing_.insert(peer);
            forceKeyframe_ = true;
        }
    }
}

std::optional<std::set<PeerId>> H264Encoder::recipientsLocked() {
    if (nextExpectedByPeer_.empty()) return std::nullopt;
    std::set<PeerId> result;
    for (const auto& [peer, next] : nextExpectedByPeer_) {
        const auto last = lastSentByPeer_.find(peer);
        if (last != lastSentByPeer_.end() && signedDistance(last->second, next) >= windowFrames) resyncing_.insert(peer);
        if (!resyncing_.count(peer)) result.insert(peer);
    }
    bool readyToRestart = false;
    for (const auto& peer : resyncing_) {
        const auto next = nextExpectedByPeer_.find(peer);
        const auto last = lastSentByPeer_.find(peer);
        if (next == nextExpectedByPeer_.end() || last == lastSentByPeer_.end() ||
            signedDistance(last->second, next->second) <= 1) {
            readyToRestart = true;
            if (options_.clock() - lastForcedKeyframe_ > forcedKeyframeSpacing) forceKeyframe_ = true;
            break;
        }
    }
    if (result.empty() && !readyToRestart) return std::nullopt;
    return result;
}

std::optional<std::set<PeerId>> H264Encoder::recipients() {
    std::lock_guard lock(lock_);
    checkStallsLocked();
    return recipientsLocked();
}

bool H264Encoder::shouldEncode(double time) {
    return queue_.syncResult([&] {
        if (std::isnan(lastEncodedTime_) || std::isnan(time)) return true;
        return !(time - lastEncodedTime_ < options_.minFrameInterval);
    });
}

void H264Encoder::encode(const VideoFrame& frame, std::uint8_t rotation) {
    if (!frame.picture) return;
    if (!recipients()) return;
    queue_.sync([&] { encodeFrame(frame, rotation); });
}

void H264Encoder::encodeFrame(const VideoFrame& frame, std::uint8_t rotation) {
    const double time = frame.time;
    if (!std::isnan(lastEncodedTime_) && !std::isnan(time) && time - lastEncodedTime_ < options_.minFrameInterval) {
        return;
    }
    lastEncodedTime_ = time;
    const int width = frame.width(), height = frame.height();
    int longSide = 0;
    {
        std::lock_guard lock(lock_);
        for (const auto& [peer, next] : nextExpectedByPeer_) {
            const auto size = sizesByPeer_.find(peer);
            longSide = std::max(longSide, size == sizesByPeer_.end() ? options_.maxLongSide : size->second);
        }
        if (nextExpectedByPeer_.empty()) longSide = options_.maxLongSide;
    }
    if (!session_ || sourceSize_ != std::pair{width, height} || longSide != sessionLongSide_) {
        makeSession(width, height, longSide);
    }
    if (!session_) return;
    bool force = false;
    int target = 0;
    {
        std::lock_guard lock(lock_);
        force = forceKeyframe_;
        forceKeyframe_ = false;
        if (force) lastForcedKeyframe_ = options_.clock();
        target = targetBitRate_;
    }
    if (target != appliedBitRate_) {
        session_->setBitRate(target);
        appliedBitRate_ = target;
    }
    auto output = session_->compress(*frame.picture, force);
    if (output) handleOutput(*output, rotation);
}

void H264Encoder::makeSession(int width, int height, int longSide) {
    session_.reset();
    const auto [w, h] = encodedSize(width, height, longSide);
    if (w < 2 || h < 2) return;
    int bitRate;
    {
        std::lock_guard lock(lock_);
        bitRate = targetBitRate_;
    }
    session_ = options_.makeCompressor(w, h, bitRate, true);
    if (!session_) session_ = options_.makeCompressor(w, h, bitRate, false);
    if (!session_) return;
    appliedBitRate_ = bitRate;
    sourceSize_ = {width, height};
    sessionLongSide_ = longSide;
    encoded_ = {w, h};
    std::lock_guard lock(lock_);
    forceKeyframe_ = true;  // every new session starts on a key frame
}

void H264Encoder::recordSentLocked(std::uint32_t seq, double now) {
    sentAt_[seq] = now;
    sentOrder_.push_back(seq);
    // Only the oldest unacknowledged frames are ever looked up; old times are dropped so the table stays bounded.
    while (sentOrder_.size() > maxSentTimes) {
        sentAt_.erase(sentOrder_.front());
        sentOrder_.pop_front();
    }
}

void H264Encoder::handleOutput(const LiveCompressor::Output& output, std::uint8_t rotation) {
    const bool key = output.isKeyframe;
    std::set<PeerId> excluded;
    {
        std::lock_guard lock(lock_);
        if (key) {
            for (auto it = resyncing_.begin(); it != resyncing_.end();) {
                it = framesInFlightLocked(*it) > 2 ? std::next(it) : resyncing_.erase(it);
            }
        }
        excluded = resyncing_;
    }
    auto callback = onPacket;
    if (key && callback) {
        if (auto sets = ParameterSetsPacket{output.parameterSets}.encode()) callback(*sets, excluded);
    }
    if (output.accessUnit.empty()) return;
    std::uint32_t seq;
    {
        std::lock_guard lock(lock_);
        seq = nextSeq_++;
        recordSentLocked(seq, options_.clock());
        for (auto& [peer, next] : nextExpectedByPeer_) {
            if (excluded.count(peer)) continue;
            const auto last = lastSentByPeer_.find(peer);
            if (key && (last == lastSentByPeer_.end() || seq - last->second > 1)) next = seq;
            lastSentByPeer_[peer] = seq;
        }
    }
    if (callback) callback(FramePacket::encode(seq, key, rotation & 3, output.accessUnit), excluded);
}

void H264Encoder::addPeer(const PeerId& peer) {
    std::lock_guard lock(lock_);
    if (nextExpectedByPeer_.count(peer)) return;
    // A new remote counts no frames in flight and waits for a key frame.
    nextExpectedByPeer_[peer] = nextSeq_;
    lastSentByPeer_.erase(peer);
    forceKeyframe_ = true;
}

void H264Encoder::removePeer(const PeerId& peer) {
    std::lock_guard lock(lock_);
    nextExpectedByPeer_.erase(peer);
    lastSentByPeer_.erase(peer);
    sizesByPeer_.erase(peer);
    resyncing_.erase(peer);
}

void H264Encoder::acknowledge(const PeerId& peer, std::uint32_t frameId) {
    std::lock_guard lock(lock_);
    const auto next = nextExpectedByPeer_.find(peer);
    const auto last = lastSentByPeer_.find(peer);
    if (next == nextExpectedByPeer_.end() || last == lastSentByPeer_.end()) return;
    // Only frames that were sent move the window; a late or unknown number changes nothing.
    if (signedDistance(frameId, last->second) > 0) return;
    if (signedDistance(frameId + 1, next->second) > 0) next->second = frameId + 1;
}

void H264Encoder::requestKeyframe() {
    std::lock_guard lock(lock_);
    forceKeyframe_ = true;
}

void H264Encoder::setSize(const PeerId& peer, int longSide) {
    if (longSide <= 0) return;
    std::lock_guard lock(lock_);
    sizesByPeer_[peer] = std::min(longSide, 7680);
}

void H264Encoder::setTargetBitRate(int bitsPerSecond) {
    std::lock_guard lock(lock_);
    targetBitRate_ = std::clamp(bitsPerSecond, 100'000, options_.maxBitRate);
}

}  // namespace morvane
