#include "remote/camera_link.h"

#include <stdexcept>

namespace morvane {

std::shared_ptr<PeerSessionLink> PeerSessionLink::create(std::shared_ptr<PeerSession> session) {
    std::shared_ptr<PeerSessionLink> link(new PeerSessionLink(std::move(session)));
    link->forwardCallbacks();
    return link;
}

std::shared_ptr<PeerSessionLink> PeerSessionLink::makeMonitor(int maxCameras, PeerSession::Options options) {
    return create(PeerSession::create(PeerSession::Role::monitor, true, maxCameras, "morvane", std::move(options)));
}

PeerSessionLink::~PeerSessionLink() {
    session_->onData = nullptr;
    session_->onPeerConnected = nullptr;
    session_->onPeerDisconnected = nullptr;
    session_->onPeersChanged = nullptr;
    session_->onPeerLost = nullptr;
    session_->onNearbyChanged = nullptr;
    session_->onPairingRequest = nullptr;
    session_->onIssue = nullptr;
    session_->onResource = nullptr;
}

void PeerSessionLink::forwardCallbacks() {
    // Weak: the session may outlive this link and call in from its own threads.
    std::weak_ptr<PeerSessionLink> weak = shared_from_this();
    session_->onData = [weak](const Bytes& packet, const PeerId& peer) {
        if (auto self = weak.lock()) self->onData(packet, peer);
    };
    session_->onPeerConnected = [weak](const PeerId& peer) {
        if (auto self = weak.lock()) self->onPeerConnected(peer);
    };
    session_->onPeerDisconnected = [weak](const PeerId& peer) {
        if (auto self = weak.lock()) self->onPeerDisconnected(peer);
    };
    session_->onPeersChanged = [weak](const std::vector<Peer>& peers) {
        if (auto self = weak.lock()) self->onPeersChanged(peers);
    };
    session_->onPeerLost = [weak](const Peer& peer, bool reconnecting) {
        if (auto self = weak.lock()) self->onPeerLost(peer, reconnecting);
    };
    session_->onNearbyChanged = [weak](const std::vector<NearbyCamera>& nearby) {
        if (auto self = weak.lock()) self->onNearbyChanged(nearby);
    };
    session_->onPairingRequest = [weak](const std::optional<PairingRequest>& request) {
        if (auto self = weak.lock()) self->onPairingRequest(request);
    };
    session_->onIssue = [weak](const std::string& text) {
        if (auto self = weak.lock()) self->onIssue(text);
    };
    session_->onResource = [weak](const std::filesystem::path& file, const std::string& name, const PeerId& peer) {
        // Nobody to take the file: say so, so that the sender keeps its copy.
        auto self = weak.lock();
        if (!self || !self->onResource(file, name, peer)) throw std::runtime_error("no taker for the file");
    };
}

bool PeerSessionLink::sendTo(const Bytes& packet, const PeerId& peer) {
    auto& session = *session_;
    return session.queue().syncResult([&] { return session.send(packet, peer); });
}

std::vector<PeerId> PeerSessionLink::readyPeers() {
    auto& session = *session_;
    return session.queue().syncResult([&] { return session.readyPeers(); });
}

}  // namespace morvane
