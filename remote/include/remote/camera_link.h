#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/callback.h"
#include "link/peer_id.h"
#include "link/peer_session.h"
#include "platform/base64.h"

namespace morvane {

/// The remote's use of the peer link, as the controller sees it. In the application it is a monitor-role
/// `PeerSession` (`PeerSessionLink`); tests that need to play a camera's part put a scripted link in its place.
///
/// Threads as the session's: `onData` and `onResource` on the delivery thread, the other callbacks on the main
/// thread; `sendTo` and `readyPeers` from the main thread or the delivery thread.
class CameraLink {
public:
    using Peer = PeerSession::Peer;
    using NearbyCamera = PeerSession::NearbyCamera;
    using PairingRequest = PeerSession::PairingRequest;

    virtual ~CameraLink() = default;

    virtual bool isRunning() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void setMaxCameras(int maxCameras) = 0;

    /// Hands one packet over for one camera: runs the link's send synchronously on its state queue and returns;
    /// the bytes leave later. Packets to one camera leave in the order they were handed over. False: the link
    /// refused the packet (over its size limit) and nothing will leave.
    virtual bool sendTo(const Bytes& packet, const PeerId& peer) = 0;
    /// The peers whose link is ready, read on the link's state queue.
    virtual std::vector<PeerId> readyPeers() = 0;

    virtual void connect(const PeerId& peer) = 0;
    virtual void disconnectCamera(const PeerId& peer) = 0;
    virtual void acceptPairing(const PeerId& peer) = 0;
    virtual void cancelPairing(const PeerId& peer) = 0;
    virtual void reconnect(const PeerId& peer) = 0;
    virtual void publishPeers() = 0;

    /// The session underneath, when there is one.
    virtual std::shared_ptr<PeerSession> session() const { return nullptr; }

    Callback<const Bytes&, const PeerId&> onData;
    Callback<const PeerId&> onPeerConnected;
    Callback<const PeerId&> onPeerDisconnected;
    Callback<const std::vector<Peer>&> onPeersChanged;
    /// A camera whose link was lost, and whether the link is reconnecting it.
    Callback<const Peer&, bool> onPeerLost;
    Callback<const std::vector<NearbyCamera>&> onNearbyChanged;
    Callback<const std::optional<PairingRequest>&> onPairingRequest;
    Callback<const std::string&> onIssue;
    /// The file is deleted as soon as the callback returns.
    Callback<const std::filesystem::path&, const std::string&, const PeerId&> onResource;
};

/// The application's link: a `PeerSession` whose callbacks are passed on to this link's.
class PeerSessionLink final : public CameraLink, public std::enable_shared_from_this<PeerSessionLink> {
public:
    static std::shared_ptr<PeerSessionLink> create(std::shared_ptr<PeerSession> session);
    /// The remote's link: monitor role, pairing allowed, service type "morvane".
    static std::shared_ptr<PeerSessionLink> makeMonitor(int maxCameras, PeerSession::Options options);
    ~PeerSessionLink() override;

    bool isRunning() const override { return session_->isRunning(); }
    void start() override { session_->start(); }
    void stop() override { session_->stop(); }
    void setMaxCameras(int maxCameras) override { session_->setMaxCameras(maxCameras); }
    bool sendTo(const Bytes& packet, const PeerId& peer) override;
    std::vector<PeerId> readyPeers() override;
    void connect(const PeerId& peer) override { session_->connect(peer); }
    void disconnectCamera(const PeerId& peer) override { session_->disconnectCamera(peer); }
    void acceptPairing(const PeerId& peer) override { session_->acceptPairing(peer); }
    void cancelPairing(const PeerId& peer) override { session_->cancelPairing(peer); }
    void reconnect(const PeerId& peer) override { session_->reconnect(peer); }
    void publishPeers() override { session_->publishPeers(); }
    std::shared_ptr<PeerSession> session() const override { return session_; }

private:
    explicit PeerSessionLink(std::shared_ptr<PeerSession> session) : session_(std::move(session)) {}
    void forwardCallbacks();

    std::shared_ptr<PeerSession> session_;
};

}  // namespace morvane
