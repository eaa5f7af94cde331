#include "link/usb_server.h"

#include "link/device_identity.h"
#include "link/trusted_peers.h"
#include "platform/log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

namespace morvane {

namespace {

constexpr const char* component = "USBServer";
constexpr int handshakeTimeoutMs = 10000;

using SteadyClock = std::chrono::steady_clock;

void wakeUp(int eventFd) {
    if (eventFd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(eventFd, &one, sizeof one);
}

/// Reads and hashes a file's next chunks on a thread of its own while the link sends the last one, so that the
/// socket does not sit idle while the storage and the digest work.
class ChunkReader {
public:
    ChunkReader(int fd, std::uint64_t size) : fd_(fd), left_(size), thread_([this] { run(); }) {}
    ~ChunkReader() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    /// The next chunk in order, valid until the next call; empty at the end, and also when reading failed (the file
    /// shrank or the storage failed), which `failed` then says.
    std::pair<const std::uint8_t*, std::size_t> next() {
        std::unique_lock lock(mutex_);
        if (taken_) {  // the chunk handed out last time is sent: its buffer is free again
            taken_ = false;
            ++sent_;
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return filled_ > sent_ || done_; });
        if (filled_ == sent_) return {nullptr, 0};
        taken_ = true;
        const Slot& slot = slots_[sent_ % slots_.size()];
        return {slot.data.data(), slot.size};
    }
    bool failed() {
        std::lock_guard lock(mutex_);
        return failed_;
    }
    /// The digest of everything read; once `next` has come to the end.
    crypto::Digest digest() { return digest_.finish(); }

private:
    struct Slot {
        Bytes data;
        std::size_t size = 0;
    };

    void run() {
        pthread_setname_np(pthread_self(), "usb-file-reader");
        for (std::uint64_t filled = 0;; ++filled) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || filled - sent_ < slots_.size(); });
                if (stopping_) return;
            }
            // The slot is the reader's alone until `filled_` hands it over.
            Slot& slot = slots_[filled % slots_.size()];
            slot.data.resize(USBLink::maxChunk);
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(slot.data.size(), left_));
            ssize_t n = 0;
            bool failed = false;
            if (want > 0) {
                do {
                    n = ::read(fd_, slot.data.data(), want);
                } while (n < 0 && errno == EINTR);
                failed = n <= 0;
            }
            if (n > 0) {
                slot.size = static_cast<std::size_t>(n);
                digest_.update(slot.data.data(), slot.size);
                left_ -= slot.size;
            }
            std::lock_guard lock(mutex_);
            if (n > 0) filled_ = filled + 1;
            if (failed || left_ == 0) {
                failed_ = failed;
                done_ = true;
                changed_.notify_all();
                return;
            }
            changed_.notify_all();
        }
    }

    const int fd_;
    std::uint64_t left_;  // the reader's
    std::array<Slot, 3> slots_;
    crypto::Sha256 digest_;  // the reader's until it is done
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t filled_ = 0, sent_ = 0;  // chunks read, chunks sent
    bool taken_ = false, done_ = false, failed_ = false, stopping_ = false;
    std::thread thread_;  // last, so that it starts once everything above exists
};

}  // namespace

struct USBServerConnection {
    explicit USBServerConnection(int fd) : channel(fd), wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~USBServerConnection() {
        if (wake >= 0) ::close(wake);
    }
    USBLink::Channel channel;
    const int wake;
    std::thread thread;
    bool authenticated = false;  // under the server's mutex
};

struct USBServer::State : std::enable_shared_from_this<USBServer::State> {
    struct Item {
        std::filesystem::path file;
        TransferInfo info;
        SteadyClock::time_point notBefore{};
        bool inFlight = false;
    };
    using Connection = USBServerConnection;

    Options options;

    mutable std::mutex mutex;
    bool running = false;
    int listenFd = -1;
    int acceptWake = -1;
    std::uint16_t boundPort = 0;
    std::thread acceptThread;
    std::list<std::shared_ptr<Connection>> connections;
    std::shared_ptr<Connection> active;
    std::deque<Item> items;
    std::shared_ptr<Keychain> keychain;

    std::function<void(const TransferInfo&, double)> onProgress;
    std::function<void(const TransferInfo&, bool)> onAcknowledged;
    std::function<void(const TransferInfo&, const std::string&)> onFailed;
    std::function<void(bool)> onConnectionChanged;

    void acceptLoop();
    void serve(const std::shared_ptr<Connection>& connection);
    bool sendLoop(const std::shared_ptr<Connection>& connection);
    // Sends one file and waits for its acknowledgement; false when the link broke.
    bool sendFile(const std::shared_ptr<Connection>& connection, const Item& item);
    void finish(const Uuid& id, bool ok, std::optional<std::string> failure);
};

USBServer::USBServer() : USBServer(Options{}) {}

USBServer::USBServer(Options options) : state_(std::make_shared<State>()) {
    state_->options = std::move(options);
    if (!(state_->options.retryDelay >= 0)) state_->options.retryDelay = 2.0;
    if (state_->options.maxPendingLinks == 0) state_->options.maxPendingLinks = 1;
}

USBServer::~USBServer() {
    stop();
}

bool USBServer::isRunning() const {
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

std::uint16_t USBServer::port() const {
    std::lock_guard lock(state_->mutex);
    return state_->running ? state_->boundPort : 0;
}

bool USBServer::isConnected() const {
    std::lock_guard lock(state_->mutex);
    return state_->active != nullptr;
}

std::size_t USBServer::pendingCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->items.size();
}

void USBServer::send(std::filesystem::path file, TransferInfo info) {
    auto& s = *state_;
    std::shared_ptr<USBServerConnection> active;
    {
        std::lock_guard lock(s.mutex);
        const bool queued = std::any_of(s.items.begin(), s.items.end(),
                                        [&](const State::Item& item) { return item.info.id == info.id; });
        if (!queued) s.items.push_back(State::Item{std::move(file), std::move(info), {}, false});
        active = s.active;
    }
    if (active) wakeUp(active->wake);
}

bool USBServer::start() {
    auto& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.running) return true;

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(s.options.port);
    if (::inet_pton(AF_INET, s.options.address.c_str(), &address.sin_addr) != 1) {
        log::error(component, "not an IPv4 address: " + s.options.address);
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        log::error(component, "couldn't listen on port " + std::to_string(s.options.port));
        ::close(fd);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ::close(fd);
        return false;
    }

    s.keychain = s.options.keychain ? s.options.keychain : std::make_shared<Keychain>(Keychain::defaultFolder());
    s.onProgress = onProgress;
    s.onAcknowledged = onAcknowledged;
    s.onFailed = onFailed;
    s.onConnectionChanged = onConnectionChanged;
    s.listenFd = fd;
    s.acceptWake = wake;
    s.boundPort = ntohs(address.sin_port);
    s.running = true;
    s.acceptThread = std::thread([state = state_] { state->acceptLoop(); });
    return true;
}

void USBServer::stop() {
    auto& s = *state_;
    std::thread acceptThread;
    std::list<std::shared_ptr<USBServerConnection>> connections;
    {
        std::lock_guard lock(s.mutex);
        if (!s.running) return;
        s.running = false;
        wakeUp(s.acceptWake);
        acceptThread = std::move(s.acceptThread);
        connections.swap(s.connections);
    }
    if (acceptThread.joinable()) acceptThread.join();
    for (auto& connection : connections) connection->channel.shutdown();
    for (auto& connection : connections) {
        if (!connection->thread.joinable()) continue;
        if (connection->thread.get_id() == std::this_thread::get_id()) {
            connection->thread.detach();  // stopped from one of its callbacks; it ends by itself
        } else {
            connection->thread.join();
        }
    }
    std::lock_guard lock(s.mutex);
    ::close(s.listenFd);
    ::close(s.acceptWake);
    s.listenFd = s.acceptWake = -1;
    s.boundPort = 0;
    for (auto& item : s.items) item.inFlight = false;
}

void USBServer::State::acceptLoop() {
    pthread_setname_np(pthread_self(), "usb-server");
    for (;;) {
        pollfd pfds[2] = {{listenFd, POLLIN, 0}, {acceptWake, POLLIN, 0}};
        const int r = ::poll(pfds, 2, -1);
        if (r < 0 && errno != EINTR) return;
        {
            std::lock_guard lock(mutex);
            if (!running) return;
        }
        if (r <= 0 || !(pfds[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;

        auto connection = std::make_shared<USBServerConnection>(fd);
        std::list<std::shared_ptr<Connection>> ended;
        {
            std::lock_guard lock(mutex);
            if (!running) return;
            // Ended links leave the list here; their threads are joined outside the lock they finish with.
            for (auto it = connections.begin(); it != connections.end();) {
                if ((*it)->channel.isShutDown() && *it != active) {
                    ended.push_back(*it);
                    it = connections.erase(it);
                } else {
                    ++it;
                }
            }
            const auto greeting =
                std::count_if(connections.begin(), connections.end(), [](const auto& c) { return !c->authenticated; });
            if (static_cast<std::size_t>(greeting) < options.maxPendingLinks && connection->wake >= 0) {
                connections.push_back(connection);
                connection->thread =
                    std::thread([state = shared_from_this(), connection] { state->serve(connection); });
            }
        }
        for (auto& old : ended) {
            if (old->thread.joinable()) old->thread.join();
        }
    }
}

void USBServer::State::serve(const std::shared_ptr<Connection>& connection) {
    pthread_setname_np(pthread_self(), "usb-server-link");
    try {
        DeviceIdentity identity(keychain);
        TrustedPeers trusted(keychain);
        USBLink::Handshake handshake(identity, trusted, TrustedPeer::cameraRole);
        const auto outcome = handshake.run(connection->channel, handshakeTimeoutMs);
        if (outcome != USBLink::Handshake::Outcome::ok) {
            log::debug(component, std::string("remote refused: ") + USBLink::Handshake::describe(outcome));
            connection->channel.shutdown();
            return;
        }
    } catch (const std::exception& e) {
        log::error(component, std::string("greeting failed: ") + e.what());
        connection->channel.shutdown();
        return;
    }

    std::shared_ptr<Connection> replaced;
    bool newlyConnected = false;
    std::function<void(bool)> changed;
    {
        std::lock_guard lock(mutex);
        if (!running) {
            connection->channel.shutdown();
            return;
        }
        connection->authenticated = true;
        replaced = active;
        newlyConnected = active == nullptr;
        active = connection;
        changed = onConnectionChanged;
    }
    // The newer link wins: a cable pulled and plugged back may leave the old one open.
    if (replaced) replaced->channel.shutdown();
    if (newlyConnected && changed) changed(true);

    sendLoop(connection);
    connection->channel.shutdown();

    bool gone = false;
    {
        std::lock_guard lock(mutex);
        if (active == connection) {
            active = nullptr;
            gone = true;
            for (auto& item : items) item.inFlight = false;
        }
        changed = onConnectionChanged;
    }
    if (gone && changed) changed(false);
}

bool USBServer::State::sendLoop(const std::shared_ptr<Connection>& connection) {
    for (;;) {
        std::optional<Item> next;
        int waitMs = -1;
        {
            std::lock_guard lock(mutex);
            if (!running || active != connection) return false;
            const auto now = SteadyClock::now();
            for (auto& item : items) {
                if (item.inFlight) continue;
                if (item.notBefore <= now) {
                    item.inFlight = true;
                    next = item;
                    break;
                }
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(item.notBefore - now).count();
                if (waitMs < 0 || wait < waitMs) waitMs = static_cast<int>(wait);
            }
        }
        if (next) {
            if (!sendFile(connection, *next)) return false;
            continue;
        }
        // Idle: watch the link so that a pulled cable is noticed, and the queue for new files.
        USBLink::Frame frame;
        switch (connection->channel.receive(frame, waitMs, connection->wake)) {
            case USBLink::Channel::Result::timeout:
            case USBLink::Channel::Result::woken:
                continue;
            default:
                return false;  // closed, or the remote spoke out of turn
        }
    }
}

bool USBServer::State::sendFile(const std::shared_ptr<Connection>& connection, const Item& item) {
    auto release = [&] {
        std::lock_guard lock(mutex);
        for (auto& queued : items) {
            if (queued.info.id == item.info.id) queued.inFlight = false;
        }
        // A newer link may be waiting for this very file.
        if (active && active != connection) wakeUp(active->wake);
    };

    const int fd = ::open(item.file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) ::close(fd);
        finish(item.info.id, false, "couldn't read " + item.file.string());
        return true;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    auto start = USBLink::encodeFileStart(USBLink::FileStart{size, item.info});
    if (!start) {
        ::close(fd);
        finish(item.info.id, false, "couldn't describe " + item.file.string());
        return true;
    }

    std::function<void(const TransferInfo&, double)> progress;
    {
        std::lock_guard lock(mutex);
        progress = onProgress;
    }
    if (!connection->channel.send(USBLink::Kind::fileStart, *start)) {
        ::close(fd);
        release();
        return false;
    }
    if (progress) progress(item.info, 0.0);

    std::uint64_t sent = 0;
    bool readFailed = false, sendFailed = false;
    crypto::Digest sum{};
    {
        ChunkReader reader(fd, size);  // gone before the file is closed
        for (;;) {
            const auto [data, n] = reader.next();
            if (n == 0) break;
            if (!connection->channel.send(USBLink::Kind::fileData, data, n)) {
                sendFailed = true;
                break;
            }
            sent += n;
            if (progress) progress(item.info, size == 0 ? 1.0 : static_cast<double>(sent) / static_cast<double>(size));
        }
        readFailed = reader.failed();  // the file shrank or the storage failed; the remote refuses what it got
        if (!sendFailed) sum = reader.digest();
    }
    ::close(fd);
    if (sendFailed) {
        release();
        return false;
    }

    if (!connection->channel.send(USBLink::Kind::fileEnd, sum.data(), sum.size())) {
        release();
        return false;
    }

    USBLink::Frame frame;
    if (connection->channel.receive(frame, -1) != USBLink::Channel::Result::frame ||
        frame.kind != static_cast<std::uint8_t>(USBLink::Kind::ack)) {
        release();
        return false;
    }
    auto ack = USBLink::decodeAck(frame.body, frame.size);
    if (!ack || ack->id != item.info.id) {
        release();
        return false;
    }
    if (readFailed) {
        finish(item.info.id, false, "couldn't read all of " + item.file.string());
    } else {
        finish(item.info.id, ack->ok, std::nullopt);
    }
    return true;
}

void USBServer::State::finish(const Uuid& id, bool ok, std::optional<std::string> failure) {
    std::optional<TransferInfo> info;
    std::function<void(const TransferInfo&, bool)> acknowledged;
    std::function<void(const TransferInfo&, const std::string&)> failed;
    {
        std::lock_guard lock(mutex);
        auto it = std::find_if(items.begin(), items.end(), [&](const Item& item) { return item.info.id == id; });
        if (it == items.end()) return;
        info = it->info;
        if (ok || failure) {
            items.erase(it);
        } else {
            Item again = std::move(*it);
            items.erase(it);
            again.inFlight = false;
            again.notBefore = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                       std::chrono::duration<double>(options.retryDelay));
            items.push_back(std::move(again));
        }
        acknowledged = onAcknowledged;
        failed = onFailed;
    }
    if (failure) {
        log::error(component, *failure);
        if (failed) failed(*info, *failure);
    } else if (acknowledged) {
        acknowledged(*info, ok);
    }
}

}  // namespace morvane
