#include "link/peer_session.h"

#include "file_work.h"
#include "handshake_table.h"
#include "incoming_files.h"
#include "link/device_identity.h"
#include "link/link_crypto.h"
#include "link/link_message.h"
#include "link/trusted_peers.h"
#include "nearby_invitations.h"
#include "outgoing_files.h"
#include "pairing_handshake.h"
#include "platform/crypto.h"
#include "platform/log.h"
#include "platform/nearby_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <set>
#include <thread>

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = LinkMessage::Kind;

constexpr const char* component = "PeerSession";

Clock::duration seconds(double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

using Phase = PairingHandshake::Phase;

// What the network thread reads of a link without a hop to the session's queue.
struct LinkShared {
    std::atomic<bool> ready{false};
    PeerId peerId;  // written before `ready` is set
};

// A connection to one peer: its handshake plus what the session keeps of the connection.
struct Link : PairingHandshake {
    std::uint64_t id = 0;
    std::shared_ptr<nearby::NearbyConnection> conn;
    std::shared_ptr<LinkShared> shared = std::make_shared<LinkShared>();
    bool automatic = false;
    bool closedByUs = false;  // the user or the session ended it
    std::string address;
    std::uint16_t port = 0;
    NearbyInvitations::Source source;  // the socket that announced the address, for an outgoing one
    // The invitation it is one attempt of (the other addresses tried at once); 0 once it won or for none.
    std::uint64_t invitation = 0;
    HandshakeTable::Stage placeStage = HandshakeTable::Stage::greeting;  // the stage its place was last settled for
    Clock::time_point leftScreen{};  // when the camera last stopped showing its pairing code
    Clock::time_point deadline;
    Phase timedPhase = Phase::connecting;        // the step `deadline` was set for
    Clock::time_point stepSince = Clock::now();  // when it reached that step
    std::uint32_t nextTransferId = 1;
};

using NearbyInfo = NearbyInvitations::Camera;

// A packet for `onData`, handed over once the queue is left.
struct Delivery {
    Bytes packet;
    PeerId peer;
};

std::string shownName(const std::string& raw, std::uint8_t role) {
    auto cleaned = DeviceIdentity::cleanName(raw);
    return cleaned.empty() ? PairingHandshake::fallbackName(role) : cleaned;
}

}  // namespace

// The session's router: it owns the links and the queue's state, and carries out what its parts answer: each link's
// handshake (PairingHandshake), the cameras nearby (NearbyInvitations), the files received (IncomingFiles) and the
// files sent (OutgoingFiles). The parts never call back into it.
struct PeerSession::State {
    State(PeerSession& session, bool allowsPairing, int maxCameras, std::string serviceType, Options options)
        : session(session),
          allowsPairing(allowsPairing),
          serviceType(std::move(serviceType)),
          options(std::move(options)),
          identity(this->options.keychain),
          trusted(this->options.keychain),
          maxCameras(std::clamp(maxCameras, 1, 7)) {}

    PeerSession& session;
    std::weak_ptr<PeerSession> weak;
    const bool allowsPairing;
    const std::string serviceType;
    const Options options;
    DeviceIdentity identity;
    TrustedPeers trusted;
    std::unique_ptr<IncomingFiles> incoming;
    std::unique_ptr<nearby::NearbyService> service;

    // Queue state.
    int maxCameras;
    Uuid instance;
    std::optional<crypto::X25519PrivateKey> ownKey;
    Bytes ownPublic;
    std::map<std::uint64_t, std::shared_ptr<Link>> links;
    std::uint64_t nextLinkId = 1;
    std::vector<std::uint64_t> readyOrder;
    HandshakeTable handshakes;
    NearbyInvitations invitations{options.timing.retryMinimum, options.timing.retryMaximum,
                                  options.timing.nearbyExpiry};
    std::optional<PairingRequest> shownRequest;
    std::uint64_t shownLink = 0;  // the link whose pairing code is shown
    std::shared_ptr<nearby::NearbyBeacon> beacon;
    std::shared_ptr<nearby::NearbyListener> listener;
    std::uint64_t generation = 0;

    // Send-queue state.
    std::unique_ptr<OutgoingFiles> outgoing;

    std::uint8_t ownRole() const { return static_cast<std::uint8_t>(session.role_); }
    std::uint8_t expectedPeerRole() const {
        return session.role_ == Role::monitor ? TrustedPeer::cameraRole : TrustedPeer::remoteRole;
    }
    bool isMonitor() const { return session.role_ == Role::monitor; }

    // ----- Hops between threads -----

    void onQueue(std::function<void(State&)> work) {
        session.queue_->async([weak = weak, work = std::move(work)] {
            if (auto self = weak.lock()) work(*self->state_);
        });
    }
    void onQueueAfter(double delay, std::function<void(State&)> work) {
        session.queue_->asyncAfter(delay, [weak = weak, work = std::move(work)] {
            if (auto self = weak.lock()) work(*self->state_);
        });
    }
    void onSendQueue(std::function<void(State&)> work) {
        session.sendQueue_->async([weak = weak, work = std::move(work)] {
            if (auto self = weak.lock()) work(*self->state_);
        });
    }
    template <typename Slot, typename... Args>
    void onMain(Slot PeerSession::*slot, Args... args) {
        options.mainExecutor->async([weak = weak, slot, args...] {
            if (auto self = weak.lock()) ((*self).*slot)(args...);
        });
    }
    void issue(const std::string& text) { onMain(&PeerSession::onIssue, text); }

    // The connection queues without waiting for the network, so the queue hands messages over itself: one hop
    // fewer, and everything sent from the queue leaves in the order it was sent.
    void sendMessage(const Link& link, Kind kind, const Bytes& body = {}) {
        link.conn->send(static_cast<std::uint8_t>(kind), body);
    }

    // ----- Start and stop -----

    void startOnQueue() {
        ++generation;
        instance = Uuid();
        try {
            ownKey = identity.identityKey();
        } catch (const std::exception& e) {
            // A key that cannot be kept would be a new identity at every start, paired with nobody.
            log::error(component, e.what());
            issue("Couldn't store this device's identity key");
            session.running_.store(false);
            return;
        }
        ownPublic = ownKey->publicKey();

        nearby::NearbyBeacon::Options beaconOptions;
        beaconOptions.serviceType = serviceType;
        beaconOptions.ownInstance = instance;
        beaconOptions.network.interfaces = options.interfaces;
        beaconOptions.network.group = options.multicastGroup;
        beaconOptions.network.port = options.multicastPort;
        beaconOptions.announceInterval = options.timing.announceInterval;
        beaconOptions.burstInterval = options.timing.announceBurstInterval;
        beaconOptions.expiry = options.timing.nearbyExpiry;
        beacon = service->beacon(beaconOptions);
        if (!beacon) {
            log::error(component, "cannot open the discovery sockets");
            issue("Couldn't look for devices nearby");
        }

        if (!isMonitor()) {
            listener = service->listen(
                listenAddress(), 0,
                [weak = weak](std::shared_ptr<nearby::NearbyConnection> c) {
                    if (auto self = weak.lock()) {
                        self->state_->onQueue([c](State& s) { s.acceptIncoming(c); });
                    }
                },
                options.timing.firstBytesTimeout);
            if (!listener) {
                log::error(component, "cannot listen for remotes");
                issue("Couldn't wait for remotes");
            } else if (beacon) {
                const auto port = listener->port();
                beacon->advertise([keychain = options.keychain, key = ownPublic, port] {
                    nearby::NearbyAnnouncement a;
                    a.role = TrustedPeer::cameraRole;
                    a.name = DeviceIdentity(keychain).deviceName();
                    a.publicKey = key;
                    a.port = port;
                    return a;
                });
            }
        } else if (beacon) {
            beacon->browse(
                [weak = weak](const nearby::NearbyEntry& e) {
                    if (auto self = weak.lock()) self->state_->onQueue([e](State& s) { s.nearbyFound(e); });
                },
                [weak = weak](const nearby::NearbyEntry& e) {
                    if (auto self = weak.lock()) self->state_->onQueue([e](State& s) { s.nearbyLost(e); });
                });
        }
        scheduleTick(generation);
        if (isMonitor()) scheduleMaintenance(generation);
    }

    // All-loopback interface lists keep the listener on the loopback too.
    std::string listenAddress() const {
        if (options.interfaces.empty()) return "";
        for (const auto& address : options.interfaces) {
            if (!nearby::isLoopbackAddress(address)) return "";
        }
        return "127.0.0.1";
    }

    void stopOnQueue() {
        ++generation;
        if (beacon) beacon->stop();
        beacon = nullptr;
        if (listener) listener->close();
        listener = nullptr;
        std::vector<std::uint64_t> ids;
        for (auto& [id, link] : links) ids.push_back(id);
        for (auto id : ids) {
            if (auto it = links.find(id); it != links.end()) {
                it->second->closedByUs = true;
                closeLink(*it->second, "session stopped", std::nullopt);
            }
        }
        if (isMonitor()) {
            invitations.clear();
            publishNearby();
        }
        publishPairing();
    }

    // ----- Timers -----

    void scheduleTick(std::uint64_t gen) {
        onQueueAfter(options.timing.tickInterval, [gen](State& s) {
            if (s.generation != gen) return;
            s.tick();
            s.scheduleTick(gen);
        });
    }

    void scheduleMaintenance(std::uint64_t gen) {
        onQueueAfter(options.timing.maintenanceInterval, [gen](State& s) {
            if (s.generation != gen) return;
            s.maintain();
            s.scheduleMaintenance(gen);
        });
    }

    void tick() {
        const auto now = Clock::now();
        std::vector<std::uint64_t> ids;
        for (auto& [id, link] : links) ids.push_back(id);
        for (auto id : ids) {
            auto it = links.find(id);
            if (it == links.end()) continue;
            auto& link = *it->second;
            if (link.phase == Phase::closing) continue;
            if (link.phase != Phase::ready && now > link.deadline) {
                if (link.phase == Phase::answering) {
                    issue("The pairing with " + link.name + " timed out");
                    refuse(link, LinkMessage::RefuseReason::timedOut);
                } else {
                    closeLink(link, "handshake timed out", connectIssue(link));
                }
                continue;
            }
            if (link.phase == Phase::connecting) continue;
            if (link.conn->secondsSinceReceive() > options.timing.silenceTimeout) {
                closeLink(link, "silent for too long", connectIssue(link));
            } else if (link.conn->secondsSinceSend() > options.timing.pingAfter) {
                sendMessage(link, Kind::ping);
            }
        }
    }

    void maintain() {
        tick();
        const auto entries = invitations.cameras();
        for (const auto& entry : entries) inviteAutomatically(entry);
    }

    // ----- Nearby cameras (monitor) -----

    void nearbyFound(const nearby::NearbyEntry& entry) {
        if (!session.running_.load() || entry.role != TrustedPeer::cameraRole) return;
        NearbyInfo info{
            PeerId{entry.instance}, shownName(entry.name, entry.role), entry.publicKey, entry.address, entry.port,
            entry.sourcePort};
        // Announcements are not authenticated: one may not put another key in place of a trusted camera that
        // still answers on its link.
        if (const auto* known = invitations.find(info.id); known && known->key != info.key && answers(*known)) return;
        invitations.announced(info);
        publishNearby();
        joinInvitation(info);
        inviteAutomatically(info);
    }

    void nearbyLost(const nearby::NearbyEntry& entry) {
        const PeerId id{entry.instance};
        const auto* known = invitations.find(id);
        if (!known) return;
        // Anyone may send a bye in a camera's name: a camera whose link is up stays until that link goes.
        const bool up = answers(*known);
        invitations.lost(id, up);
        if (!up) publishNearby();
    }

    // A trusted camera whose authenticated link is up.
    bool answers(const NearbyInfo& entry) const {
        for (const auto& [id, link] : links) {
            if (link->phase == Phase::ready && link->peerKey == entry.key && link->knowsPeer &&
                link->peerId == entry.id) {
                return true;
            }
        }
        return false;
    }

    bool isBusyWith(const Bytes& key) const {
        for (const auto& [id, link] : links) {
            if (link->phase == Phase::closing) continue;
            if (link->peerKey == key || (link->outgoing && link->expectedKey == key)) return true;
        }
        return false;
    }

    // Ready links plus invitations under way (each however many addresses it tries).
    std::size_t activeCameraCount() const {
        std::size_t count = 0;
        std::set<std::uint64_t> invited;
        for (const auto& [id, link] : links) {
            if (link->phase == Phase::ready) {
                ++count;
            } else if (link->outgoing && link->phase != Phase::closing) {
                if (!link->invitation || invited.insert(link->invitation).second) ++count;
            }
        }
        return count;
    }

    void inviteAutomatically(const NearbyInfo& entry) {
        if (!session.running_.load() || !isMonitor() || entry.key == ownPublic) return;
        auto trust = trusted.find(entry.key);
        if (!trust || trust->role != TrustedPeer::cameraRole) return;
        if (isBusyWith(entry.key) || !invitations.mayInviteAutomatically(entry)) return;
        if (activeCameraCount() >= static_cast<std::size_t>(maxCameras)) return;
        startOutgoing(entry, true);
    }

    // A trusted camera that could not be reached is tried again on its own, sooner at first, then every few
    // seconds: it comes back by itself once whatever kept it away (a flood of connections, a busy network) ends.
    void noteFailure(const Bytes& key) {
        onQueueAfter(invitations.failed(key), [gen = generation, key](State& s) {
            if (s.generation != gen) return;
            const auto entries = s.invitations.cameras();
            for (const auto& entry : entries) {
                if (entry.key == key) {
                    s.inviteAutomatically(entry);
                    break;
                }
            }
        });
    }

    void connect(const PeerId& id) {
        if (!session.running_.load() || !isMonitor()) return;
        const auto* found = invitations.find(id);
        if (!found) return;
        const auto entry = *found;
        if (entry.key == ownPublic) return;
        invitations.clearPause(entry.key);
        if (isBusyWith(entry.key)) return;
        if (activeCameraCount() >= static_cast<std::size_t>(maxCameras)) {
            issue("Can't connect " + entry.name + ": at most " + std::to_string(maxCameras) +
                  (maxCameras == 1 ? " camera" : " cameras") + " at a time");
            return;
        }
        invitations.connectedByUser(entry.name);
        startOutgoing(entry, false);
    }

    void disconnectCamera(const PeerId& id) {
        std::optional<std::string> name;
        if (const auto* entry = invitations.find(id)) name = entry->name;
        for (auto& [linkId, link] : links) {
            if (link->knowsPeer && link->peerId == id) name = link->name;
        }
        if (name) invitations.disconnectedByUser(*name);
        closeLinksOf(id, "disconnected by the user");
    }

    void reconnect(const PeerId& id) {
        // A copy: closing the link takes a camera that was marked lost off the list, and it is invited all the same.
        std::optional<NearbyInfo> entry;
        if (const auto* found = invitations.find(id)) entry = *found;
        if (entry) invitations.clearPause(entry->key);
        for (auto& [linkId, link] : links) {
            if (link->knowsPeer && link->peerId == id && !link->peerKey.empty()) invitations.clearPause(link->peerKey);
        }
        closeLinksOf(id, "reconnecting");
        if (entry) inviteAutomatically(*entry);
    }

    void closeLinksOf(const PeerId& id, const std::string& reason) {
        std::vector<std::uint64_t> ids;
        for (auto& [linkId, link] : links) {
            if (link->knowsPeer && link->peerId == id) ids.push_back(linkId);
        }
        for (auto linkId : ids) {
            if (auto it = links.find(linkId); it != links.end()) {
                it->second->closedByUs = true;
                closeLink(*it->second, reason, std::nullopt);
            }
        }
    }

    // ----- Links -----

    std::shared_ptr<Link> newLink(std::shared_ptr<nearby::NearbyConnection> conn) {
        auto link = std::make_shared<Link>();
        link->id = nextLinkId++;
        link->conn = std::move(conn);
        link->deadline = Clock::now() + seconds(options.timing.handshakeTimeout);
        links[link->id] = link;
        return link;
    }

    // Every address the camera may be at is tried at once: the first that proves to be the camera (or, for a
    // camera not yet trusted, shows a code) wins and the others end, so no address that never answers holds it up.
    void startOutgoing(const NearbyInfo& entry, bool automatic) {
        auto candidates = invitations.addressesOf(entry);
        if (candidates.size() > NearbyInvitations::maxAttempts) candidates.resize(NearbyInvitations::maxAttempts);
        const auto invitation = nextLinkId;
        for (const auto& candidate : candidates) startAttempt(entry, automatic, candidate, invitation);
        publishNearby();
    }

    void startAttempt(const NearbyInfo& entry, bool automatic, const NearbyInvitations::Address& candidate,
                      std::uint64_t invitation) {
        const auto& [address, port] = candidate;
        invitations.tried(entry.key, candidate);
        auto link = newLink(service->connect(address, port));
        link->outgoing = true;
        link->automatic = automatic;
        link->peerId = entry.id;
        link->knowsPeer = true;
        link->expectedKey = entry.key;
        link->name = entry.name;
        link->address = address;
        link->port = port;
        link->source = invitations.sourceOf(entry.key, candidate);
        link->invitation = invitation;
        startConnection(*link);
    }

    // An address announced for a camera while it is being invited is tried too, in the place of an attempt that
    // has had time to answer and has not.
    void joinInvitation(const NearbyInfo& entry) {
        const NearbyInvitations::Address candidate{entry.address, entry.port};
        const Link* under = nullptr;
        std::vector<NearbyInvitations::Attempt> attempts;
        for (const auto& [id, link] : links) {
            if (!link->outgoing || !link->invitation || link->phase == Phase::closing || link->expectedKey != entry.key)
                continue;
            if (NearbyInvitations::Address{link->address, link->port} == candidate) return;
            under = link.get();
            attempts.push_back({id, link->stepSince, link->source});
        }
        if (!under || invitations.triedLately(entry.key, candidate)) return;
        const auto room = NearbyInvitations::roomForAttempt(attempts, {entry.address, entry.sourcePort},
                                                            invitations.reachedAt(entry.key), Clock::now());
        if (!room.admit) return;
        const auto invitation = under->invitation;
        const bool automatic = under->automatic;
        const NearbyInfo as{under->peerId, under->name, entry.key, entry.address, entry.port, entry.sourcePort};
        if (room.close) {
            if (auto it = links.find(*room.close); it != links.end()) {
                it->second->closedByUs = true;
                closeLink(*it->second, "gave its place to another address", std::nullopt);
            }
        }
        startAttempt(as, automatic, candidate, invitation);
    }

    // One attempt of an invitation won: the others end.
    void settleInvitation(Link& winner) {
        const auto invitation = winner.invitation;
        if (!invitation) return;
        winner.invitation = 0;
        std::vector<std::uint64_t> others;
        for (const auto& [id, link] : links) {
            if (link->invitation == invitation) others.push_back(id);
        }
        for (auto id : others) {
            if (auto it = links.find(id); it != links.end()) {
                it->second->closedByUs = true;
                closeLink(*it->second, "the camera answered at another address", std::nullopt);
            }
        }
    }

    bool othersTrying(const Link& link) const {
        if (!link.invitation) return false;
        return std::any_of(links.begin(), links.end(), [&](const auto& other) {
            return other.first != link.id && other.second->invitation == link.invitation &&
                   other.second->phase != Phase::closing;
        });
    }

    void acceptIncoming(const std::shared_ptr<nearby::NearbyConnection>& conn) {
        if (!session.running_.load()) {
            conn->close("not running");
            return;
        }
        const auto address = conn->remoteAddress();
        if (!makeRoomFor(address)) {
            conn->close("every place is held by a pairing under way");
            return;
        }
        auto link = newLink(conn);
        link->name = PairingHandshake::fallbackName(expectedPeerRole());
        link->address = address;
        startConnection(*link);
    }

    // A full table gives way to the newest connection by closing an unfinished one that has shown nothing, so that
    // idle or creeping connections, however often renewed, never keep a remote out nor end a pairing under way.
    bool makeRoomFor(const std::string& address) {
        const auto room = handshakes.roomFor(address, places(), Clock::now());
        if (room.close) giveUpPlace(*room.close);
        return room.admit;
    }

    static HandshakeTable::Stage stageOf(const Link& link) {
        if (link.phase == Phase::answering && link.requestRaised) return HandshakeTable::Stage::pairing;
        if (link.phase == Phase::authenticating && link.trustsPeer()) return HandshakeTable::Stage::trusted;
        return HandshakeTable::Stage::greeting;
    }

    HandshakeTable::Place placeOf(const Link& link) const {
        const auto stage = stageOf(link);
        return {link.id,
                link.address,
                stage,
                link.stepSince,
                stage == HandshakeTable::Stage::trusted ? std::string(link.peerKey.begin(), link.peerKey.end()) : "",
                link.ownAccepted,
                link.id == shownLink ? Clock::now() : link.leftScreen};
    }

    // The unfinished connections accepted here.
    std::vector<HandshakeTable::Place> places() const {
        std::vector<HandshakeTable::Place> out;
        for (const auto& [id, link] : links) {
            if (link->outgoing || link->phase == Phase::ready || link->phase == Phase::closing) continue;
            out.push_back(placeOf(*link));
        }
        return out;
    }

    void giveUpPlace(std::uint64_t id) {
        if (auto it = links.find(id); it != links.end()) {
            it->second->closedByUs = true;
            closeLink(*it->second, "gave its place to a newer connection", std::nullopt);
        }
    }

    // An accepted connection that reached a stage with places of its own (a trusted key named, a code shown) takes
    // one; false when there was none and it was closed.
    bool takePlace(Link& link) {
        if (link.outgoing || link.phase == Phase::closing) return true;
        const auto stage = stageOf(link);
        if (stage == link.placeStage) return true;
        link.placeStage = stage;
        if (stage == HandshakeTable::Stage::greeting) return true;
        const auto room = handshakes.moveOn(placeOf(link), places(), Clock::now());
        if (room.close) giveUpPlace(*room.close);
        if (!room.admit) {
            closeLink(link, "no place for another pairing", std::nullopt);
            return false;
        }
        return true;
    }

    void startConnection(Link& link) {
        nearby::NearbyConnection::Handlers handlers;
        handlers.exporterLabel = LinkCrypto::exporterLabel;
        const auto id = link.id;
        handlers.onReady = [weak = weak, id](const Bytes& exporter) {
            if (auto self = weak.lock()) self->state_->onQueue([id, exporter](State& s) { s.tlsReady(id, exporter); });
        };
        handlers.maxBody = [shared = link.shared](std::uint8_t kind) {
            return LinkMessage::maxBody(kind, shared->ready.load());
        };
        handlers.onMessage = [weak = weak, id, shared = link.shared,
                              backlog = std::make_shared<IncomingFiles::Backlog>(link.conn)](std::uint8_t kind,
                                                                                             Bytes& body) {
            auto self = weak.lock();
            if (!self) return;
            if (shared->ready.load()) {
                // Packets of a ready link go straight to their taker, in the order they came.
                if (kind == static_cast<std::uint8_t>(Kind::data)) {
                    self->onData(body, shared->peerId);
                    return;
                }
                // File messages are hashed and written on the queue while this thread goes on decrypting.
                if (kind >= static_cast<std::uint8_t>(Kind::fileStart) &&
                    kind <= static_cast<std::uint8_t>(Kind::fileResult)) {
                    auto hold = IncomingFiles::Backlog::add(backlog, body.size());
                    self->state_->onQueue([id, kind, body = std::move(body), hold](State& s) mutable {
                        auto delivery = s.handleMessage(id, kind, std::move(body), std::move(hold));
                        if (delivery) s.deliver(std::move(*delivery));
                    });
                    return;
                }
            }
            std::optional<Delivery> delivery;
            self->queue_->sync([&] { delivery = self->state_->handleMessage(id, kind, std::move(body)); });
            if (delivery) self->state_->deliver(std::move(*delivery));
        };
        handlers.onClosed = [weak = weak, id](const std::string& reason) {
            if (auto self = weak.lock()) self->state_->onQueue([id, reason](State& s) { s.linkClosed(id, reason); });
        };
        link.conn->start(std::move(handlers));
    }

    std::optional<std::string> connectIssue(const Link& link) const {
        if (link.outgoing && !link.automatic && link.phase != Phase::ready && link.phase != Phase::closing) {
            return "Couldn't connect to " + link.name;
        }
        return std::nullopt;
    }

    void linkClosed(std::uint64_t id, const std::string& reason) {
        auto it = links.find(id);
        if (it == links.end()) return;
        auto& link = *it->second;
        std::optional<std::string> text = connectIssue(link);
        if (!text && link.requestRaised && !link.ownAccepted && link.phase == Phase::answering) {
            text = "The pairing with " + link.name + " was interrupted";
        }
        closeLink(link, reason, text);
    }

    void closeLink(Link& link, const std::string& reason, const std::optional<std::string>& issueText) {
        auto holder = links[link.id];
        log::debug(component, "link to " + link.name + " closed: " + reason);
        link.shared->ready.store(false);
        link.conn->close(reason);
        incoming->dropLink(link.id);
        onSendQueue([id = link.id](State& s) { s.outgoing->failLink(id, std::string(connectionLost)); });
        const bool wasReady = link.phase == Phase::ready;
        if (!link.outgoing && !wasReady) handshakes.endedUnfinished(link.address, Clock::now());
        const bool hadRequest = link.requestRaised && !link.ownAccepted;
        // The camera may yet answer at another address; the user hears of it only when none does.
        const bool othersGoOn = !wasReady && othersTrying(link);
        const auto couldNotConnect = connectIssue(link);
        const bool trustedCamera = isMonitor() && link.outgoing && !link.closedByUs && [&] {
            auto trust = trusted.find(link.expectedKey);
            return trust && trust->role == TrustedPeer::cameraRole;
        }();
        link.phase = Phase::closing;
        links.erase(link.id);
        if (othersGoOn) {
            if (issueText && issueText != couldNotConnect) issue(*issueText);
            if (hadRequest) publishPairing();
            publishNearby();
            return;
        }
        if (trustedCamera && !wasReady && session.running_.load()) noteFailure(link.expectedKey);
        if (wasReady) {
            std::erase(readyOrder, link.id);
            if (!link.closedByUs && session.running_.load())
                onMain(&PeerSession::onPeerLost, Peer{link.peerId, link.name, link.peerKey}, trustedCamera);
            onMain(&PeerSession::onPeerDisconnected, link.peerId);
            onMain(&PeerSession::onPeersChanged, peerList());
            if (const auto* n = invitations.find(link.peerId); n && n->lostWhileConnected && !answers(*n)) {
                invitations.remove(link.peerId);
            }
            // A trusted camera that dropped off is invited again soon, not only at the next upkeep.
            if (trustedCamera && session.running_.load()) noteFailure(link.expectedKey);
        }
        if (issueText) issue(*issueText);
        if (hadRequest) publishPairing();
        publishNearby();
    }

    // Protocol faults close this one link and nothing else.
    std::nullopt_t violation(Link& link, const std::string& what) {
        log::info(component, "dropping the link to " + link.name + ": " + what);
        closeLink(link, what, connectIssue(link));
        return std::nullopt;
    }

    void refuse(Link& link, LinkMessage::RefuseReason reason) {
        sendMessage(link, Kind::refuse, Bytes{static_cast<std::uint8_t>(reason)});
        const bool hadRequest = link.requestRaised && !link.ownAccepted;
        link.ownAccepted = false;
        link.requestRaised = false;
        link.phase = Phase::closing;
        if (hadRequest) publishPairing();
        publishNearby();
        onQueueAfter(options.timing.refusalDelay, [id = link.id](State& s) {
            if (auto it = s.links.find(id); it != s.links.end()) s.closeLink(*it->second, "refused", std::nullopt);
        });
    }

    void tlsReady(std::uint64_t id, const Bytes& exporter) {
        auto it = links.find(id);
        if (it == links.end()) return;
        auto& link = *it->second;
        if (link.phase != Phase::connecting) return;
        link.exporter = exporter;
        link.phase = Phase::greeting;
        timeStep(link);
        LinkMessage::Hello hello{ownRole(), instance, identity.deviceName(), ownPublic};
        sendMessage(link, Kind::hello, hello.encode());
    }

    std::optional<Delivery> handleMessage(std::uint64_t id, std::uint8_t kindByte, Bytes body,
                                          std::shared_ptr<void> hold = nullptr) {
        auto it = links.find(id);
        if (it == links.end()) return std::nullopt;
        auto holder = it->second;
        auto& link = *holder;
        if (link.phase == Phase::closing) return std::nullopt;
        if (link.phase == Phase::connecting) return violation(link, "message before the greeting");
        switch (static_cast<Kind>(kindByte)) {
            case Kind::ping:
                sendMessage(link, Kind::pong);
                return std::nullopt;
            case Kind::pong:
                return std::nullopt;
            case Kind::hello:
            case Kind::proof:
            case Kind::pair:
            case Kind::commit:
            case Kind::nonce:
            case Kind::reveal:
            case Kind::confirm:
            case Kind::refuse:
                carryOut(link, link.receive(own(), trusted, static_cast<Kind>(kindByte), body));
                return std::nullopt;
            case Kind::data:
                if (link.phase != Phase::ready) return violation(link, "data before the link is ready");
                return Delivery{std::move(body), link.peerId};
            case Kind::fileStart:
            case Kind::fileChunk:
            case Kind::fileEnd:
            case Kind::fileCancel:
            case Kind::fileResult:
                if (link.phase != Phase::ready) return violation(link, "file message before the link is ready");
                return receiveFileMessage(link, static_cast<Kind>(kindByte), std::move(body), std::move(hold));
        }
        return violation(link, "unknown message kind " + std::to_string(kindByte));
    }

    PairingHandshake::Own own() const {
        return {ownRole(), expectedPeerRole(), ownKey ? &*ownKey : nullptr, ownPublic, allowsPairing};
    }

    // After TLS each step of the handshake has a deadline of its own: a peer that stops answering, however far it
    // got, gives its place back soon. The code shown to the user has the pairing's own time.
    void timeStep(Link& link) {
        if (link.phase == link.timedPhase) return;
        link.timedPhase = link.phase;
        link.stepSince = Clock::now();
        if (link.phase == Phase::connecting || link.phase == Phase::answering || link.phase == Phase::ready ||
            link.phase == Phase::closing) {
            return;
        }
        link.deadline = Clock::now() + seconds(options.timing.stepTimeout);
    }

    // Does what the handshake asked for, then sends its messages if the link is still open.
    void carryOut(Link& link, PairingHandshake::Step step) {
        using Outcome = PairingHandshake::Step::Outcome;
        timeStep(link);
        if (!takePlace(link)) return;
        switch (step.outcome) {
            case Outcome::none:
                break;
            case Outcome::requestRaised:
                link.deadline = Clock::now() + seconds(options.timing.pairingTimeout);
                // A camera not yet trusted is paired at the first of its addresses to show a code; a trusted one
                // must prove itself, so its other addresses go on trying.
                if (link.outgoing && !link.trustsPeer()) settleInvitation(link);
                publishPairing();
                break;
            case Outcome::trusted:
                becomeReady(link);
                break;
            case Outcome::paired:
                completePairing(link);
                break;
            case Outcome::refuse:
                log::info(component, step.reason);
                return refuse(link, step.refusal);
            case Outcome::close:
                return closeLink(link, step.reason, step.issue);
            case Outcome::fault:
                if (step.issue) issue(*step.issue);
                return (void)violation(link, step.reason);
            case Outcome::notice:
                if (step.issue) issue(*step.issue);
                break;
        }
        if (link.phase == Phase::closing) return;
        for (const auto& [kind, body] : step.messages) sendMessage(link, kind, body);
    }

    Link* pairingLink(const PeerId& id) {
        for (auto& [linkId, link] : links) {
            if (link->knowsPeer && link->peerId == id && PairingHandshake::isPairingPhase(link->phase))
                return link.get();
        }
        return nullptr;
    }

    void acceptPairing(const PeerId& id) {
        if (auto* link = pairingLink(id)) accept(*link);
    }

    void accept(Link& link) {
        auto step = link.accept(own());
        if (!step) return;
        const auto holder = links[link.id];
        carryOut(link, std::move(*step));
        publishPairing();
    }

    // The code typed here is checked against every open request, not only the one shown: strangers may request
    // before or after the user's remote, and none can choose its code (both sides' values go into it, one of them
    // committed first). Should two show the same code, neither is guessed at.
    bool acceptPairingCode(const std::string& code) {
        Link* match = nullptr;
        for (auto& [id, link] : links) {
            if (link->phase != Phase::answering || !link->requestRaised || link->ownAccepted || link->code != code)
                continue;
            if (match) return false;
            match = link.get();
        }
        if (!match) return false;
        accept(*match);
        return true;
    }

    void cancelPairing(const PeerId& id) {
        if (auto* link = pairingLink(id)) refuse(*link, LinkMessage::RefuseReason::declined);
    }

    void codeDidNotMatch(const PeerId& id) {
        auto* link = pairingLink(id);
        if (!link) return;
        if (auto step = link->codeDidNotMatch()) carryOut(*link, std::move(*step));
    }

    void completePairing(Link& link) {
        // Paired means stored: a pairing the next start would not remember is no pairing.
        if (!trusted.add(TrustedPeer{link.peerKey, link.name, link.peerRole, Date::now()})) {
            log::error(component, "cannot store the trusted peer " + link.name);
            closeLink(link, "the trusted list could not be written", "Couldn't save the pairing with " + link.name);
            return;
        }
        becomeReady(link);
    }

    void becomeReady(Link& link) {
        std::vector<std::uint64_t> replaced;
        for (auto& [id, other] : links) {
            if (id == link.id || other->phase != Phase::ready) continue;
            if (other->peerKey == link.peerKey) {
                replaced.push_back(id);
            } else if (other->peerId == link.peerId) {
                closeLink(link, "another device uses this identity", std::nullopt);
                return;
            }
        }
        // One session per peer: the newer connection wins.
        for (auto id : replaced) {
            if (auto it = links.find(id); it != links.end()) {
                it->second->closedByUs = true;
                closeLink(*it->second, "replaced by a newer connection", std::nullopt);
            }
        }
        settleInvitation(link);
        link.phase = Phase::ready;
        link.shared->peerId = link.peerId;
        link.shared->ready.store(true);
        link.requestRaised = false;
        readyOrder.push_back(link.id);
        invitations.clearPause(link.peerKey);
        if (link.outgoing) invitations.answeredAt(link.peerKey, {link.address, link.port});
        log::info(component, "link to " + link.name + " is ready");
        onMain(&PeerSession::onPeerConnected, link.peerId);
        onMain(&PeerSession::onPeersChanged, peerList());
        publishNearby();
    }

    // ----- Publishing -----

    std::vector<Peer> peerList() const {
        std::vector<Peer> list;
        for (auto id : readyOrder) {
            if (auto it = links.find(id); it != links.end())
                list.push_back(Peer{it->second->peerId, it->second->name, it->second->peerKey});
        }
        return list;
    }

    std::vector<NearbyCamera> nearbyList() {
        std::vector<NearbyCamera> list;
        const auto trustedList = trusted.load();
        for (const auto& entry : invitations.cameras()) {
            NearbyCamera camera{entry.id, entry.name};
            camera.isPaired = std::any_of(trustedList.begin(), trustedList.end(),
                                          [&](const TrustedPeer& p) { return p.publicKey == entry.key; });
            camera.isThisDevice = entry.key == ownPublic;
            for (const auto& [id, link] : links) {
                if (!link->knowsPeer || link->peerId != entry.id) continue;
                if (link->phase == Phase::ready) {
                    camera.isConnected = true;
                } else if (link->phase != Phase::closing) {
                    camera.isConnecting = true;
                }
            }
            if (camera.isConnected) camera.isConnecting = false;
            list.push_back(std::move(camera));
        }
        return list;
    }

    void publishNearby() {
        if (isMonitor()) onMain(&PeerSession::onNearbyChanged, nearbyList());
    }

    void publishPairing() {
        std::vector<HandshakeTable::Place> requests;
        for (const auto& [id, link] : links) {
            if (link->phase == Phase::answering && link->requestRaised) requests.push_back(placeOf(*link));
        }
        std::optional<PairingRequest> next;
        const auto shown = handshakes.shown(requests, Clock::now());
        if (shown) {
            const auto& link = *links.at(*shown);
            next = PairingRequest{link.peerId, link.name, link.code};
        }
        if (const auto it = links.find(shownLink); shownLink != shown.value_or(0) && it != links.end())
            it->second->leftScreen = Clock::now();
        shownLink = shown.value_or(0);
        if (next == shownRequest) return;
        shownRequest = next;
        onMain(&PeerSession::onPairingRequest, next);
    }

    // ----- Packets -----

    void sendData(const Bytes& packet, const std::optional<PeerId>& peer) {
        // Handing over never calls back into the session, so the links can be walked while sending.
        for (auto id : readyOrder) {
            auto it = links.find(id);
            if (it == links.end()) continue;
            if (!peer || it->second->peerId == *peer) {
                it->second->conn->send(static_cast<std::uint8_t>(Kind::data), packet);
            }
        }
    }

    void deliver(Delivery delivery) { session.onData(delivery.packet, delivery.peer); }

    // ----- Files -----

    std::optional<Delivery> receiveFileMessage(Link& link, Kind kind, Bytes body, std::shared_ptr<void> hold) {
        if (kind != Kind::fileResult) {
            const auto fault =
                incoming->receive({link.id, link.peerId, link.name, link.conn}, kind, std::move(body), std::move(hold));
            if (fault) return violation(link, *fault);
            return std::nullopt;
        }
        auto result = LinkMessage::FileResult::decode(body);
        if (!result) return violation(link, "malformed file result");
        std::optional<std::string> error;
        switch (result->status) {
            case LinkMessage::FileStatus::ok:
                break;
            case LinkMessage::FileStatus::corrupt:
                error = "The file arrived damaged";
                break;
            case LinkMessage::FileStatus::refused:
                error = link.name + " can't take the file now";
                break;
            case LinkMessage::FileStatus::failed:
                error = link.name + " couldn't save the file";
                break;
        }
        onSendQueue(
            [key = OutgoingFiles::Key{link.id, result->id}, error](State& s) { s.outgoing->finish(key, error); });
        return std::nullopt;
    }
};

// ----- PeerSession -----

std::shared_ptr<PeerSession> PeerSession::create(Role role, bool allowsPairing, int maxCameras, std::string serviceType,
                                                 Options options) {
    auto* session = new PeerSession(role, allowsPairing, maxCameras, std::move(serviceType), std::move(options));
    // The last owner may let go on one of the session's own threads, which cannot join themselves.
    std::shared_ptr<PeerSession> shared(session, [](PeerSession* s) {
        const bool own = s->queue_->isCurrent() || s->sendQueue_->isCurrent() || s->state_->incoming->isCurrent() ||
                         s->state_->service->isCurrent();
        if (own) {
            std::thread([s] { delete s; }).detach();
        } else {
            delete s;
        }
    });
    shared->state_->weak = shared;
    shared->state_->outgoing->setOwner(shared);
    shared->state_->incoming->setOwner(shared);
    return shared;
}

PeerSession::PeerSession(Role role, bool allowsPairing, int maxCameras, std::string serviceType, Options options)
    : role_(role) {
    if (!options.keychain) options.keychain = std::make_shared<Keychain>(Keychain::defaultFolder());
    if (!options.mainExecutor) throw std::invalid_argument("PeerSession needs a main executor");
    queue_ = std::make_unique<DispatchQueue>("morvane.peer-session");
    queue_->async(nearby::takeShortTurns);
    sendQueue_ = std::make_unique<DispatchQueue>("morvane.peer-send");
    sendQueue_->async(runAsFileWork);
    state_ = std::make_unique<State>(*this, allowsPairing, maxCameras, std::move(serviceType), std::move(options));
    state_->outgoing = std::make_unique<OutgoingFiles>(*sendQueue_, state_->options.mainExecutor);
    state_->service = std::make_unique<nearby::NearbyService>("morvane.peer-io");
    state_->incoming = std::make_unique<IncomingFiles>(state_->options.temporaryFolder, onResource);
    state_->incoming->setOnRefused([state = state_.get()](const std::string& text) { state->issue(text); });
}

PeerSession::~PeerSession() {
    if (running_.exchange(false)) {
        queue_->sync([this] { state_->stopOnQueue(); });
    }
    // Drain in dependency order; blocks still queued find the session gone and do nothing.
    state_->incoming->drain();
    sendQueue_.reset();
    queue_.reset();
    state_->service.reset();
}

void PeerSession::start() {
    if (running_.exchange(true)) return;
    queue_->sync([this] { state_->startOnQueue(); });
}

void PeerSession::stop() {
    if (!running_.exchange(false)) return;
    queue_->sync([this] { state_->stopOnQueue(); });
}

void PeerSession::setMaxCameras(int maxCameras) {
    state_->onQueue([maxCameras](State& s) { s.maxCameras = std::clamp(maxCameras, 1, 7); });
}

bool PeerSession::send(const Bytes& packet, const std::optional<PeerId>& peer) {
    if (packet.size() > LinkMessage::maxPacket) {
        // No peer would take it; the peers would go on with what they had, so the sender must hear of it.
        log::error(component, "a packet of " + std::to_string(packet.size()) + " bytes is over the " +
                                  std::to_string(LinkMessage::maxPacket) + "-byte limit and was not sent");
        return false;
    }
    queue_->sync([&] { state_->sendData(packet, peer); });
    return true;
}

std::vector<PeerId> PeerSession::readyPeers() const {
    return queue_->syncResult([this] {
        std::vector<PeerId> ids;
        for (const auto& peer : state_->peerList()) ids.push_back(peer.id);
        return ids;
    });
}

void PeerSession::connect(const PeerId& peer) {
    state_->onQueue([peer](State& s) { s.connect(peer); });
}

void PeerSession::disconnectCamera(const PeerId& peer) {
    state_->onQueue([peer](State& s) { s.disconnectCamera(peer); });
}

void PeerSession::acceptPairing(const PeerId& peer) {
    state_->onQueue([peer](State& s) { s.acceptPairing(peer); });
}

void PeerSession::cancelPairing(const PeerId& peer) {
    state_->onQueue([peer](State& s) { s.cancelPairing(peer); });
}

bool PeerSession::acceptPairingCode(const std::string& code) {
    return queue_->syncResult([&] { return state_->acceptPairingCode(code); });
}

void PeerSession::codeDidNotMatch(const PeerId& peer) {
    state_->onQueue([peer](State& s) { s.codeDidNotMatch(peer); });
}

void PeerSession::reconnect(const PeerId& peer) {
    state_->onQueue([peer](State& s) { s.reconnect(peer); });
}

void PeerSession::publishPeers() {
    state_->onQueue([](State& s) {
        s.onMain(&PeerSession::onPeersChanged, s.peerList());
        s.onMain(&PeerSession::onNearbyChanged, s.nearbyList());
    });
}

void PeerSession::setArrivalFolder(std::function<std::filesystem::path()> folder) {
    state_->onQueue([folder = std::move(folder)](State& s) { s.incoming->setFolderSource(folder); });
}

std::shared_ptr<TransferProgress> PeerSession::sendResource(const std::filesystem::path& file, const std::string& name,
                                                            const PeerId& peer, ResourceCompletion completion) {
    auto progress = std::make_shared<TransferProgress>();
    state_->onQueue([file, name, peer, completion = std::move(completion), progress](State& s) mutable {
        Link* target = nullptr;
        for (auto id : s.readyOrder) {
            auto it = s.links.find(id);
            if (it != s.links.end() && it->second->peerId == peer) target = it->second.get();
        }
        OutgoingFiles::Request request{0, 0, nullptr, progress, std::move(completion)};
        if (!target || name.size() > LinkMessage::maxResourceName) {
            s.outgoing->complete(request, target ? "The resource name is too long" : std::string(notConnected));
            return;
        }
        request.linkId = target->id;
        request.id = target->nextTransferId++;
        request.conn = target->conn;
        s.onSendQueue([request = std::make_shared<OutgoingFiles::Request>(std::move(request)), file,
                       name](State& s2) mutable { s2.outgoing->begin(std::move(*request), file, name); });
    });
    return progress;
}

}  // namespace morvane
