#include "link/usb_device_link.h"

#include "platform/atomic_file.h"
#include "platform/log.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <optional>

namespace morvane {

namespace {

constexpr const char* component = "USBHub";

}  // namespace

USBDeviceLink::USBDeviceLink(std::uint32_t deviceId, int fd, std::shared_ptr<Keychain> keychain,
                             std::filesystem::path folder, Deliver deliver)
    : deviceId_(deviceId),
      channel_(fd),
      keychain_(std::move(keychain)),
      folder_(std::move(folder)),
      deliver_(std::move(deliver)) {}

USBDeviceLink::~USBDeviceLink() {
    channel_.shutdown();
    std::lock_guard lock(threadMutex_);
    if (reader_.joinable()) {
        // The reader holds the last reference only on its way out, after it has touched its last member.
        if (reader_.get_id() == std::this_thread::get_id()) {
            reader_.detach();
        } else {
            reader_.join();
        }
    }
    discardPartial();
}

void USBDeviceLink::start() {
    std::lock_guard lock(threadMutex_);
    if (reader_.joinable() || closed_) return;
    reader_ = std::thread([self = shared_from_this()]() mutable {
        self->run();
        self.reset();
    });
}

void USBDeviceLink::close() {
    closed_ = true;
    channel_.shutdown();
    std::lock_guard lock(threadMutex_);
    if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
}

std::string USBDeviceLink::cameraName() const {
    std::lock_guard lock(mutex_);
    return cameraName_;
}

bool USBDeviceLink::acknowledge(const Uuid& id, bool ok) {
    deliveryPending_ = false;
    if (closed_) return false;
    return channel_.send(USBLink::Kind::ack, USBLink::encodeAck(USBLink::Ack{id, ok}));
}

void USBDeviceLink::run() {
    pthread_setname_np(pthread_self(), "usb-device-link");
    try {
        DeviceIdentity identity(keychain_);
        TrustedPeers trusted(keychain_);
        USBLink::Handshake handshake(identity, trusted, TrustedPeer::remoteRole);
        const auto outcome = handshake.run(channel_, handshakeTimeoutMs);
        if (outcome != USBLink::Handshake::Outcome::ok) {
            if (!closed_) {
                log::debug(component, "device " + std::to_string(deviceId_) +
                                          " refused: " + USBLink::Handshake::describe(outcome));
            }
        } else {
            {
                std::lock_guard lock(mutex_);
                cameraName_ = handshake.peerName();
            }
            authenticated_ = true;
            receiveFiles();
        }
    } catch (const std::exception& e) {
        log::error(component, std::string("link failed: ") + e.what());
    }
    discardPartial();
    closed_ = true;
    channel_.shutdown();
}

void USBDeviceLink::discardPartial() {
    if (partialFd_ >= 0) {
        ::close(partialFd_);
        partialFd_ = -1;
    }
    if (!partialPath_.empty()) {
        std::error_code ec;
        std::filesystem::remove(partialPath_, ec);
        partialPath_.clear();
    }
}

void USBDeviceLink::receiveFiles() {
    struct Incoming {
        TransferInfo info;
        std::uint64_t size = 0;
        std::uint64_t received = 0;
        bool failed = false;
        crypto::Sha256 digest;
    };
    std::optional<Incoming> current;
    const std::string name = cameraName();

    for (;;) {
        USBLink::Frame frame;
        if (channel_.receive(frame, current ? fileStallTimeoutMs : -1) != USBLink::Channel::Result::frame) return;
        switch (static_cast<USBLink::Kind>(frame.kind)) {
            case USBLink::Kind::fileStart: {
                // One file at a time, and none while the last one is still being taken.
                if (current || deliveryPending_) return;
                auto start = USBLink::decodeFileStart(frame.body, frame.size);
                if (!start) return;
                current.emplace();
                current->info = std::move(start->info);
                current->size = start->size;
                partialPath_ =
                    folder_ / ("device-" + std::to_string(deviceId_) + "-" + std::to_string(++fileSequence_) + ".part");
                partialFd_ = ::open(partialPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                if (partialFd_ < 0) {
                    partialPath_.clear();
                    current->failed = true;
                }
                break;
            }
            case USBLink::Kind::fileData: {
                if (!current) return;
                if (current->received + frame.size > current->size) {
                    current->failed = true;  // more than announced
                    discardPartial();
                }
                current->received += frame.size;
                if (current->failed) break;
                if (!writeAll(partialFd_, frame.body, frame.size)) {
                    current->failed = true;
                    discardPartial();
                    break;
                }
                current->digest.update(frame.body, frame.size);
                break;
            }
            case USBLink::Kind::fileEnd: {
                if (!current) return;
                auto digest = USBLink::decodeDigest(frame.body, frame.size);
                if (!digest) return;
                const bool whole = !current->failed && current->received == current->size;
                // On the disk before the camera hears that the file arrived: it forgets its copy then.
                const bool ok = whole && current->digest.finish() == *digest && ::fsync(partialFd_) == 0;
                if (partialFd_ >= 0) {
                    ::close(partialFd_);
                    partialFd_ = -1;
                }
                const Uuid id = current->info.id;
                if (!ok) {
                    discardPartial();
                    log::info(component, "refused a " + std::string(whole ? "corrupt" : "short or oversized") +
                                             " file from " + name);
                    current.reset();
                    if (!acknowledge(id, false)) return;
                    break;
                }
                ReceivedFile file{partialPath_, std::move(current->info), name};
                partialPath_.clear();  // from here the file belongs to the delivery
                current.reset();
                deliveryPending_ = true;
                if (deliver_) {
                    deliver_(shared_from_this(), std::move(file));
                } else {
                    std::error_code ec;
                    std::filesystem::remove(file.file, ec);
                    acknowledge(id, false);
                }
                break;
            }
            default:
                return;  // nothing else belongs on this side of the link
        }
    }
}

}  // namespace morvane
