#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "link/link_message.h"
#include "protocol/camera_command.h"
#include "protocol/message_codec.h"
#include "remote/camera_link.h"

namespace morvane {

/// A link whose cameras the test plays: it records what the controller hands over and lets the test deliver
/// packets and peer-list changes as the link would.
class ScriptedLink final : public CameraLink {
public:
    struct Sent {
        PeerId peer;
        Bytes packet;
    };

    bool isRunning() const override {
        std::lock_guard lock(mutex_);
        return running_;
    }
    void start() override {
        std::lock_guard lock(mutex_);
        running_ = true;
        ++starts;
    }
    void stop() override {
        std::lock_guard lock(mutex_);
        running_ = false;
        ++stops;
    }
    void setMaxCameras(int value) override {
        std::lock_guard lock(mutex_);
        maxCameras = value;
    }
    // Refuses what the peer link refuses: a packet over its limit.
    bool sendTo(const Bytes& packet, const PeerId& peer) override {
        if (packet.size() > LinkMessage::maxPacket) return false;
        std::lock_guard lock(mutex_);
        sent_.push_back({peer, packet});
        return true;
    }
    std::vector<PeerId> readyPeers() override {
        std::lock_guard lock(mutex_);
        return ready;
    }
    void connect(const PeerId& peer) override { record(connects, peer); }
    void disconnectCamera(const PeerId& peer) override { record(disconnects, peer); }
    void acceptPairing(const PeerId& peer) override { record(accepted, peer); }
    void cancelPairing(const PeerId& peer) override { record(cancelled, peer); }
    void reconnect(const PeerId& peer) override { record(reconnects, peer); }
    void publishPeers() override {
        std::lock_guard lock(mutex_);
        ++publishes;
    }

    std::vector<Sent> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    void clearSent() {
        std::lock_guard lock(mutex_);
        sent_.clear();
    }
    std::vector<Bytes> packetsTo(const PeerId& peer) const {
        std::vector<Bytes> out;
        for (const auto& s : sent())
            if (s.peer == peer) out.push_back(s.packet);
        return out;
    }
    /// The commands handed over for one camera, in order; other packets are left out.
    std::vector<CameraCommand> commandsTo(const PeerId& peer) const {
        std::vector<CameraCommand> out;
        for (const auto& packet : packetsTo(peer))
            if (packetKind(packet) == PacketType::command)
                if (auto command = decodeMessage<CameraCommand>(packet)) out.push_back(*command);
        return out;
    }
    /// Case names of those commands ("monitorHello", …).
    std::vector<std::string> commandNamesTo(const PeerId& peer) const {
        std::vector<std::string> out;
        for (const auto& command : commandsTo(peer)) out.push_back(command.caseName());
        return out;
    }

    int starts = 0;
    int stops = 0;
    int publishes = 0;
    int maxCameras = 0;
    std::vector<PeerId> ready;
    std::vector<PeerId> connects, disconnects, accepted, cancelled, reconnects;

private:
    void record(std::vector<PeerId>& list, const PeerId& peer) {
        std::lock_guard lock(mutex_);
        list.push_back(peer);
    }

    mutable std::mutex mutex_;
    bool running_ = false;
    std::vector<Sent> sent_;
};

}  // namespace morvane
