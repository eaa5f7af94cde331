#pragma once

#include "link/device_identity.h"
#include "link/trusted_peers.h"
#include "link/usb_link.h"
#include "protocol/transfer_info.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace morvane {

/// The remote's end of the link to one camera on the cable: authenticates the camera, receives its files into a
/// private folder and checks them. Its reader runs on a thread of its own; a checked file is handed to `deliver`,
/// which answers with `acknowledge` once the file has been taken.
class USBDeviceLink : public std::enable_shared_from_this<USBDeviceLink> {
public:
    struct ReceivedFile {
        std::filesystem::path file;
        TransferInfo info;
        std::string cameraName;
    };
    using Deliver = std::function<void(const std::shared_ptr<USBDeviceLink>&, ReceivedFile)>;

    static constexpr int handshakeTimeoutMs = 10000;
    /// A camera that stalls in the middle of a file for this long is dropped.
    static constexpr int fileStallTimeoutMs = 30000;

    /// `fd` is the stream to the camera's link port; the link owns it. Received files go into `folder` (which
    /// must exist and be private), named after `deviceId`.
    USBDeviceLink(std::uint32_t deviceId, int fd, std::shared_ptr<Keychain> keychain, std::filesystem::path folder,
                  Deliver deliver);
    ~USBDeviceLink();
    USBDeviceLink(const USBDeviceLink&) = delete;
    USBDeviceLink& operator=(const USBDeviceLink&) = delete;

    /// Starts the reader.
    void start();
    /// Drops the link: a partial file is deleted, nothing more is delivered. Waits for the reader to end unless
    /// called from it.
    void close();
    /// True once the link has ended, by `close` or by itself.
    bool isClosed() const { return closed_.load(); }
    /// True after the camera proved its identity.
    bool isAuthenticated() const { return authenticated_.load(); }

    /// Tells the camera whether the file with this id was received; false when the link is gone.
    bool acknowledge(const Uuid& id, bool ok);

    std::uint32_t deviceId() const { return deviceId_; }
    std::string cameraName() const;

private:
    void run();
    void receiveFiles();
    void discardPartial();

    const std::uint32_t deviceId_;
    USBLink::Channel channel_;
    std::shared_ptr<Keychain> keychain_;
    const std::filesystem::path folder_;
    Deliver deliver_;

    std::atomic<bool> closed_{false};
    std::atomic<bool> authenticated_{false};
    std::atomic<bool> deliveryPending_{false};
    mutable std::mutex mutex_;
    std::string cameraName_;
    std::mutex threadMutex_;
    std::thread reader_;

    // Reader-thread state of the file under way.
    int partialFd_ = -1;
    std::filesystem::path partialPath_;
    std::uint64_t fileSequence_ = 0;
};

}  // namespace morvane
