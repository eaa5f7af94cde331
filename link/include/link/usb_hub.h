#pragma once

#include "link/usb_device_link.h"
#include "link/usb_link.h"
#include "platform/dispatch_queue.h"
#include "platform/keychain.h"
#include "protocol/transfer_info.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace morvane {

/// The remote's hub of wired links: asks the platform's USB multiplexing service for the attached phones every
/// `pollInterval` seconds, opens one `USBDeviceLink` per phone to the camera's link port, and hands every file that
/// arrives whole and checked to `onFile` on its queue "brindlecroft.usb-hub". The camera gets its acknowledgement
/// when `onFile` returns; the file is deleted then unless the callback moved it away.
///
/// The service's socket is /var/run/usbmuxd, or what USBMUXD_SOCKET_ADDRESS names ("UNIX:/path").
class USBHub {
public:
    static constexpr const char* queueLabel = "brindlecroft.usb-hub";

    struct Options {
        /// Identity and trusted devices; none: the application's keychain.
        std::shared_ptr<Keychain> keychain;
        /// Where the private folder for arriving files is made; empty: the application's cache folder.
        std::filesystem::path temporaryFolder;
        std::uint16_t port = USBLink::port;
        double pollInterval = 2.0;
    };

    /// (file, description, camera name), on the hub's queue.
    using FileHandler = std::function<void(const std::filesystem::path&, const TransferInfo&, const std::string&)>;

    USBHub();
    explicit USBHub(Options options);
    /// Stops the hub.
    ~USBHub();
    USBHub(const USBHub&) = delete;
    USBHub& operator=(const USBHub&) = delete;

    /// Starts polling; does nothing while running. Set `onFile` before.
    void start();
    /// Stops polling and closes every device link; files not yet handed over are deleted. From any thread,
    /// `onFile` included.
    void stop();
    bool isRunning() const;

    /// Called on the hub's queue for every file a camera sent whole over the cable.
    FileHandler onFile;

    DispatchQueue& queue() { return *queue_; }

    /// The cameras with an open, authenticated link now (for tests and diagnostics).
    std::size_t linkCount() const;
    /// Requests to the service since the hub was made, and how many of them got no sensible answer.
    struct Counters {
        std::uint64_t polls = 0;
        std::uint64_t failedPolls = 0;
    };
    Counters counters() const;

    /// The folder the hub keeps for arriving files by default.
    static std::filesystem::path defaultTemporaryFolder();

    struct State;

private:
    std::unique_ptr<DispatchQueue> queue_;
    std::shared_ptr<State> state_;
};

}  // namespace morvane
