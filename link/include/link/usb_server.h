#pragma once

#include "link/usb_link.h"
#include "platform/keychain.h"
#include "protocol/transfer_info.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace morvane {

/// The camera's end of the wired link: listens on the link port, which the remote reaches through the USB
/// multiplexing service, proves who it is to a paired remote, and sends it the files it is given, one at a time.
///
/// A file stays with the server until the remote acknowledges it: an acknowledgement "received" reports it through
/// `onAcknowledged` and forgets it (the outbox then drops the file); "not received" reports it too and sends the
/// file again later. A broken link keeps the file for the next one. When a second remote proves itself, the newer
/// link takes over and the older one is closed.
///
/// Callbacks run on the server's link threads, never with a lock of the server held; set them before `start`.
class USBServer {
public:
    struct Options {
        /// Identity and trusted devices; none: the application's keychain.
        std::shared_ptr<Keychain> keychain;
        /// The multiplexing service on the phone connects to the link port on the loopback interface.
        std::string address = "127.0.0.1";
        /// 0 picks a free port (tests).
        std::uint16_t port = USBLink::port;
        /// Seconds before a file that was not received is sent again.
        double retryDelay = 2.0;
        /// Remotes still greeting at once; more are turned away.
        std::size_t maxPendingLinks = 4;
    };

    USBServer();
    explicit USBServer(Options options);
    /// Stops the server.
    ~USBServer();
    USBServer(const USBServer&) = delete;
    USBServer& operator=(const USBServer&) = delete;

    /// Starts listening; false when the port cannot be had. True while already running.
    bool start();
    /// Closes every link and stops listening; the files given stay queued for the next start. From any thread,
    /// the callbacks included.
    void stop();
    bool isRunning() const;
    /// The port listened on, 0 while stopped.
    std::uint16_t port() const;
    /// A paired remote is on the cable now.
    bool isConnected() const;

    /// Queues a file for the remote; a file with the id of one already queued is not queued twice.
    void send(std::filesystem::path file, TransferInfo info);
    /// Files given and not yet acknowledged as received.
    std::size_t pendingCount() const;

    /// (description, fraction 0 to 1) while a file is on its way.
    std::function<void(const TransferInfo&, double)> onProgress;
    /// The remote acknowledged a file: received (true) or not (false, it is sent again later).
    std::function<void(const TransferInfo&, bool)> onAcknowledged;
    /// A file could not be read; it is dropped from the queue.
    std::function<void(const TransferInfo&, const std::string&)> onFailed;
    /// A paired remote came (true) or went (false).
    std::function<void(bool)> onConnectionChanged;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace morvane
