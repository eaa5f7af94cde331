#include "link/usb_device_link.h"

#include "platform/atomic_file.h"
#include "platform/log.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <optional>

namespace morvane {

namespace {

constexpr const char* component = "USBHub";

/// Writes a file's chunks to the disk on a thread of its own, so that the reader goes on draining the socket (and
/// hashing) meanwhile. The multiplexing service relays through a small socket buffer: a reader that stopped to write
/// each chunk would stall the whole road for that long, and the camera's sender with it.
class ChunkWriter {
public:
    explicit ChunkWriter(int fd) : fd_(fd), thread_([this] { run(); }) {}
    ~ChunkWriter() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        work_.notify_all();
        thread_.join();
    }
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    /// Queues a copy of the chunk, waiting while much is queued already; false once a write has failed.
    bool add(const std::uint8_t* data, std::size_t size) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return queued_ < maxQueued || failed_; });
        if (failed_) return false;
        Bytes chunk;
        if (!spare_.empty()) {
            chunk = std::move(spare_.back());
            spare_.pop_back();
        }
        chunk.assign(data, data + size);
        queued_ += size;
        queue_.push_back(std::move(chunk));
        work_.notify_one();
        return true;
    }

    /// Waits until everything queued is written; false when a write failed.
    bool finish() {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return (queue_.empty() && !busy_) || failed_; });
        return !failed_;
    }

private:
    static constexpr std::size_t maxQueued = 8u << 20;

    void run() {
        pthread_setname_np(pthread_self(), "usb-file-writer");
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return stopping_ || (!queue_.empty() && !failed_); });
            if (stopping_) return;
            Bytes chunk = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            const bool ok = writeAll(fd_, chunk.data(), chunk.size());
            lock.lock();
            busy_ = false;
            queued_ -= chunk.size();
            if (!ok) failed_ = true;
            if (spare_.size() < 4) spare_.push_back(std::move(chunk));
            room_.notify_all();
        }
    }

    const int fd_;
    std::mutex mutex_;
    std::condition_variable work_, room_;
    std::deque<Bytes> queue_;
    std::vector<Bytes> spare_;  // emptied chunks, kept so that a file does not allocate a buffer per chunk
    std::size_t queued_ = 0;
    bool busy_ = false, failed_ = false, stopping_ = false;
    std::thread thread_;  // last, so that it starts once everything above exists
};

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
        std::unique_ptr<ChunkWriter> writer;  // declared last: it stops before the rest goes
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
                } else {
                    current->writer = std::make_unique<ChunkWriter>(partialFd_);
                }
                break;
            }
            case USBLink::Kind::fileData: {
                if (!current) return;
                if (current->received + frame.size > current->size) {
                    current->failed = true;  // more than announced
                    current->writer.reset();
                    discardPartial();
                }
                current->received += frame.size;
                if (current->failed) break;
                if (!current->writer->add(frame.body, frame.size)) {
                    current->failed = true;
                    current->writer.reset();
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
                const bool whole = !current->failed && current->received == current->size && current->writer->finish();
                current->writer.reset();
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
