#pragma once

// A camera for the screenshot program and the live-window benchmark: a camera-role peer session on the real
// link over 127.0.0.1 that pairs with the remote, sends its status and streams real H.264 (libx264, a moving
// test pattern) at its frame rate from a thread of its own, answering key-frame requests.

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "link/peer_session.h"
#include "platform/dispatch_queue.h"
#include "protocol/camera_status.h"

namespace morvane::screens {

class ScriptedCamera {
public:
    struct Options {
        std::string name;
        std::filesystem::path folder;  ///< keychain and incoming files
        int width = 1280;
        int height = 720;
        int framesPerSecond = 30;
        int bitRate = 2'500'000;
        CameraStatus status;
    };

    explicit ScriptedCamera(Options options);
    ~ScriptedCamera();
    ScriptedCamera(const ScriptedCamera&) = delete;
    ScriptedCamera& operator=(const ScriptedCamera&) = delete;

    const std::string& name() const { return options_.name; }
    /// The remote's request to pair, once it came.
    std::optional<PeerSession::PairingRequest> pairingRequest() const;
    /// Accepts the pending request (the user pressed accept on the camera too).
    void acceptPairing();
    /// The remote this camera is linked with, once ready.
    std::optional<PeerId> monitor() const;

    /// Sends the status now and every two seconds, and pictures at the frame rate.
    void startStreaming();
    void stopStreaming();
    void setStatus(const CameraStatus& status);
    std::uint64_t framesSent() const { return framesSent_.load(); }
    /// Sends one application packet to the remote (live readings: level, loupe, histogram, scope).
    void send(const Bytes& packet);
    /// Sharp black and white stripes instead of the soft test pattern: the hardest picture to read text on.
    void setStriped(bool striped) { striped_ = striped; }
    /// A nearly white picture, as a lit wall or the sky gives: white text and marks must still read on it.
    void setBright(bool bright) { bright_ = bright; }

private:
    void stream();

    Options options_;
    std::shared_ptr<DispatchQueue> main_;
    std::shared_ptr<PeerSession> session_;
    mutable std::mutex mutex_;
    std::optional<PeerSession::PairingRequest> request_;
    std::optional<PeerId> monitor_;
    CameraStatus status_;
    std::atomic<bool> keyframeWanted_{true};
    std::atomic<bool> streaming_{false};
    std::atomic<bool> striped_{false};
    std::atomic<bool> bright_{false};
    std::atomic<std::uint64_t> framesSent_{0};
    std::thread thread_;
};

/// Keeps every session of this process on 127.0.0.1 and on a discovery group and port of its own.
void useLoopbackDiscovery();

/// Keeps this process's settings, keys and libraries in a folder of its own (never the user's), away from any
/// USB multiplexer, and its sessions on loopback (`useLoopbackDiscovery`).
void keepToFolder(const std::string& base);

}  // namespace morvane::screens
