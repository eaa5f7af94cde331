#pragma once

#include "platform/nearby_beacon.h"
#include "platform/nearby_connection.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace morvane::nearby {

/// A listening TCP socket whose accepted connections are TLS servers.
class NearbyListener {
public:
    virtual ~NearbyListener() = default;
    virtual std::uint16_t port() const = 0;
    /// Stops accepting. Idempotent.
    virtual void close() = 0;
};

/// The network side of nearby links: one thread running every socket of the owner, and this process's ephemeral
/// self-signed TLS certificate (certificates are not verified; the link authenticates its peers itself).
class NearbyService {
public:
    /// Starts the network thread, named after `threadName`.
    explicit NearbyService(std::string threadName);
    ~NearbyService();
    NearbyService(const NearbyService&) = delete;
    NearbyService& operator=(const NearbyService&) = delete;

    /// True on the network thread.
    bool isCurrent() const;
    /// Runs `block` on the network thread.
    void post(std::function<void()> block);

    /// An outgoing connection to `address:port`; nothing happens until `start`. Under the loopback rule an address
    /// outside 127.0.0.0/8 makes a connection that closes at `start`.
    std::shared_ptr<NearbyConnection> connect(const std::string& address, std::uint16_t port);
    /// Listens on `address` (empty: every interface) and an ephemeral port (0) or the given one; none when it cannot.
    /// `onAccept` gets each accepted connection, not yet started, on the network thread. An accepted connection
    /// whose peer sends no byte within `firstBytesTimeout` seconds once started is closed (0: never). Failing
    /// accepts (no file descriptors left) are retried after a growing pause, never in a busy loop.
    std::shared_ptr<NearbyListener> listen(const std::string& address, std::uint16_t port,
                                           std::function<void(std::shared_ptr<NearbyConnection>)> onAccept,
                                           double firstBytesTimeout = 0);
    /// A beacon on this service's thread; none when its sockets cannot be opened.
    std::shared_ptr<NearbyBeacon> beacon(NearbyBeacon::Options options);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

/// Asks the scheduler for short turns on the calling thread, one that carries packets: woken while threads of the
/// same priority keep every core busy, it gets a core within about half a millisecond rather than after their turn
/// of about 3 ms. Kernels without turns of a thread's own (before 6.12) keep the default.
void takeShortTurns();

}  // namespace morvane::nearby
