#pragma once

#include "platform/base64.h"
#include "platform/nearby_config.h"
#include "platform/uuid.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::nearby {

/// What one device says about itself in a discovery datagram.
struct NearbyAnnouncement {
    enum class Kind { announce, query, bye };

    Kind kind = Kind::announce;
    std::uint8_t role = 0;
    Uuid instance;
    std::string name;
    Bytes publicKey;
    std::uint16_t port = 0;

    friend bool operator==(const NearbyAnnouncement&, const NearbyAnnouncement&) = default;

    static constexpr int version = 1;
    static constexpr std::size_t maxDatagram = 1024;

    /// One JSON datagram; empty when it would exceed `maxDatagram`.
    std::string encode(std::string_view serviceType) const;
    /// None for anything that is not a well-formed datagram of this service and version.
    static std::optional<NearbyAnnouncement> decode(std::string_view datagram, std::string_view serviceType);
};

/// A device seen nearby, with the address it announced from.
struct NearbyEntry {
    Uuid instance;
    std::uint8_t role = 0;
    std::string name;
    Bytes publicKey;
    std::string address;
    std::uint16_t port = 0;
    /// The UDP port it announced from: with `address`, the socket that sent the announcement.
    std::uint16_t sourcePort = 0;

    friend bool operator==(const NearbyEntry&, const NearbyEntry&) = default;
};

/// UDP multicast discovery (TTL 1, loop on, shared port). All handlers run on the service's network thread.
class NearbyBeacon {
public:
    struct Options {
        std::string serviceType = "morvane";
        Uuid ownInstance;  ///< datagrams from this instance are ignored
        NearbyConfig network;
        double announceInterval = 2.0;
        double burstInterval = 0.25;
        int burstCount = 3;
        double expiry = 6.0;
    };

    virtual ~NearbyBeacon() = default;

    /// Announces `self()` `burstCount` times `burstInterval` apart, then every `announceInterval`, and at once
    /// (at most every `burstInterval`) when someone queries. `self` is called on the network thread each time.
    virtual void advertise(std::function<NearbyAnnouncement()> self) = 0;
    /// Sends a query and reports devices that announce: `found` when new or changed, `lost` after a bye or
    /// `expiry` seconds without an announce.
    virtual void browse(std::function<void(const NearbyEntry&)> found,
                        std::function<void(const NearbyEntry&)> lost) = 0;
    /// Stops both; says bye when it was advertising. Idempotent.
    virtual void stop() = 0;
};

}  // namespace morvane::nearby
