#pragma once

#include "platform/nearby_service.h"

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <atomic>
#include <optional>
#include <thread>

namespace morvane::nearby {

struct NearbyService::Impl {
    Impl();

    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard;
    std::thread thread;
    std::atomic<std::thread::id> threadId{};
    std::atomic<bool> stopped{false};
    asio::ssl::context serverTls{asio::ssl::context::tls_server};
    asio::ssl::context clientTls{asio::ssl::context::tls_client};

    bool isCurrent() const { return threadId.load() == std::this_thread::get_id(); }
    /// Posts unless the service has stopped (a handler queued then would never run and keep its captures alive).
    void post(std::function<void()> block) {
        if (stopped.load()) return;
        asio::post(io, std::move(block));
    }
};

/// The kernel's receive buffer for a link socket, set before the connection is made (a listener's accepted sockets
/// take it over). Left to itself the kernel grows it to tens of megabytes while a file comes in faster than it is
/// read, and a packet that arrives behind that waits until all of it has been read.
constexpr int receiveBufferSize = 256 * 1024;

/// An accepted connection; one whose peer sends nothing within `firstBytesTimeout` seconds (0: no limit) is closed.
std::shared_ptr<NearbyConnection> makeTlsConnection(std::shared_ptr<NearbyService::Impl> service,
                                                    asio::ip::tcp::socket socket, double firstBytesTimeout);
std::shared_ptr<NearbyConnection> makeTlsConnection(std::shared_ptr<NearbyService::Impl> service, std::string address,
                                                    std::uint16_t port);
std::shared_ptr<NearbyBeacon> makeUdpBeacon(std::shared_ptr<NearbyService::Impl> service,
                                            NearbyBeacon::Options options);

}  // namespace morvane::nearby
