#include "nearby_internal.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>

namespace morvane::nearby {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowTicks() {
    return Clock::now().time_since_epoch().count();
}

double secondsSince(std::int64_t ticks) {
    return std::chrono::duration<double>(Clock::duration(nowTicks() - ticks)).count();
}

// Small frames are gathered into one write so that each becomes part of a shared TLS record; a large one is
// written on its own without copying.
constexpr std::size_t batchLimit = 256 * 1024;
constexpr std::size_t notSentLowWater = 128 * 1024;
// Decrypted bytes taken from TLS at once: large reads keep the system calls and record handling few.
constexpr std::size_t readChunk = 256 * 1024;
// How much one connection reads before the thread's other sockets get a turn.
constexpr std::size_t turnLimit = 1024 * 1024;
// Writing hands the thread back sooner: while it writes file data it reads nothing, and a packet from the peer
// waits in the socket for the next turn (at 1 MiB a turn, milliseconds).
constexpr std::size_t writeTurnLimit = 256 * 1024;
constexpr std::size_t directThreshold = 16 * 1024;
constexpr std::size_t maxSpare = 16;
// A packet up to this size is encrypted and written by the sending thread itself when nothing else is being written:
// no hand-over to the network thread, which may be busy reading. Larger ones go through the network thread.
constexpr std::size_t directLimit = 256 * 1024;
constexpr std::size_t maxSpareSize = 1024 * 1024;
constexpr std::size_t maxSpareBodies = 8;

/// Keeps SIGPIPE from the calling thread while it writes to a socket whose peer may have hung up: the write gets
/// EPIPE instead of the process ending. (The network thread blocks it for good; other threads are not ours to change.)
class NoPipeSignal {
public:
    NoPipeSignal() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~NoPipeSignal() {
        if (sigismember(&old_, SIGPIPE)) return;
        // One raised meanwhile is ours: take it before letting the signal through again.
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE)) {
            const timespec now{0, 0};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    NoPipeSignal(const NoPipeSignal&) = delete;
    NoPipeSignal& operator=(const NoPipeSignal&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
};

std::string tlsError(const char* what) {
    const auto code = ERR_get_error();
    ERR_clear_error();
    if (!code) return std::string(what) + ": " + std::strerror(errno);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

/// TLS through OpenSSL directly on the non-blocking socket; Asio only says when the socket is ready. Reads are
/// large (OpenSSL reads ahead), frames are parsed out of them, and sends from other threads are queued under a
/// lock, in two lanes: bulk frames (file data) leave only when nothing else waits.
///
/// One writer at a time: the network thread, or a sending thread that found nothing queued and nothing being
/// written and so writes its packet itself, as far as the socket takes it without waiting; the rest of it, and
/// whatever was queued meanwhile, the network thread writes. Calls into TLS are serialised by `sslMutex_`; a sending
/// thread never waits for it (the network thread may be reading at length): it hands its packet over instead, and
/// the network thread writes it between two reads.
class TlsConnection final : public NearbyConnection, public std::enable_shared_from_this<TlsConnection> {
public:
    TlsConnection(std::shared_ptr<NearbyService::Impl> service, asio::ip::tcp::socket socket, double firstBytesTimeout)
        : service_(std::move(service)),
          socket_(std::move(socket)),
          timer_(service_->io),
          isServer_(true),
          firstBytesTimeout_(firstBytesTimeout) {
        // Known at once, so that the owner can count connections per address before starting this one.
        asio::error_code ec;
        auto endpoint = socket_.remote_endpoint(ec);
        if (!ec) address_ = endpoint.address().to_string();
    }

    TlsConnection(std::shared_ptr<NearbyService::Impl> service, std::string address, std::uint16_t port)
        : service_(std::move(service)),
          socket_(service_->io),
          timer_(service_->io),
          isServer_(false),
          address_(std::move(address)),
          port_(port) {}

    ~TlsConnection() override {
        if (ssl_) SSL_free(ssl_);
    }

    void start(Handlers handlers) override {
        service_->post([self = shared_from_this(), handlers = std::move(handlers)]() mutable {
            self->handlers_ = std::move(handlers);
            self->begin();
        });
    }

    void send(std::uint8_t kind, const std::uint8_t* body, std::size_t size, std::function<void()> onWritten,
              Lane lane) override {
        if (closed_.load()) return;
        const std::size_t length = size + 1;
        if (length > 0xFFFFFFFFu) return;
        Frame frame;
        {
            // Buffers of frames already written are used again: no allocation, no fresh pages per frame.
            std::lock_guard lock(outMutex_);
            if (!spare_.empty()) {
                frame.data = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        frame.data.clear();
        frame.data.reserve(5 + size);
        const std::uint8_t header[5] = {static_cast<std::uint8_t>(length >> 24),
                                        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
                                        static_cast<std::uint8_t>(length), kind};
        frame.data.insert(frame.data.end(), header, header + 5);
        if (size) frame.data.insert(frame.data.end(), body, body + size);
        frame.onWritten = std::move(onWritten);
        const auto total = buffered_.fetch_add(frame.data.size()) + frame.data.size();
        if (total > maxBuffered) {
            close("the peer does not read what is sent");
            return;
        }
        bool wake = false;
        bool direct = false;
        {
            std::lock_guard lock(outMutex_);
            if (writer_ == Writer::none && writesDirectly_ && lane == Lane::normal &&
                frame.data.size() <= directLimit) {
                writer_ = Writer::caller;
                direct = true;
            } else {
                (lane == Lane::bulk ? bulk_ : urgent_).push_back(std::move(frame));
                if (writer_ == Writer::none) {
                    writer_ = Writer::network;
                    wake = true;
                }
            }
        }
        if (direct) return writeDirect(std::move(frame));
        if (wake) wakeWriter();
    }

    void close(const std::string& reason) override {
        if (closed_.load()) return;
        service_->post([self = shared_from_this(), reason] { self->shutdown(reason); });
    }

    void pauseReading() override { readPaused_.store(true); }

    void recycle(Bytes body) override {
        if (body.capacity() < directThreshold || body.capacity() > maxSpareSize) return;
        std::lock_guard lock(inSpareMutex_);
        if (inSpare_.size() < maxSpareBodies) inSpare_.push_back(std::move(body));
    }

    void resumeReading() override {
        if (!readPaused_.exchange(false)) return;
        service_->post([self = shared_from_this()] {
            if (self->closed_.load() || !self->readStopped_ || self->readPaused_.load()) return;
            self->readStopped_ = false;
            self->readSome();
        });
    }

    bool isClosed() const override { return closed_.load(); }
    std::size_t bufferedAmount() const override { return buffered_.load(); }
    double secondsSinceReceive() const override { return secondsSince(lastReceive_.load()); }
    double secondsSinceSend() const override { return secondsSince(lastSend_.load()); }
    std::string remoteAddress() const override {
        std::lock_guard lock(addressMutex_);
        return address_;
    }

private:
    struct Frame {
        Bytes data;
        std::function<void()> onWritten;
    };

    void begin() {
        if (closed_.load()) return;
        lastReceive_ = lastSend_ = nowTicks();
        if (isServer_) {
            // A connection that never starts TLS holds a place that a real peer may need.
            if (firstBytesTimeout_ > 0) {
                timer_.expires_after(
                    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(firstBytesTimeout_)));
                timer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
                    if (error || self->closed_.load() || self->sawBytes_) return;
                    self->shutdown("no TLS from the peer");
                });
            }
            handshakeStart();
            return;
        }
        asio::error_code ec;
        auto ip = asio::ip::make_address_v4(address_, ec);
        if (ec) return shutdown("bad address " + address_);
        if (loopbackOnly() && !isLoopbackAddress(address_)) return shutdown("address outside the loopback refused");
        socket_.open(asio::ip::tcp::v4(), ec);
        if (!ec) socket_.set_option(asio::socket_base::receive_buffer_size(receiveBufferSize), ec);
        if (ec) return shutdown("socket: " + ec.message());
        socket_.async_connect(asio::ip::tcp::endpoint(ip, port_),
                              [self = shared_from_this()](const asio::error_code& error) {
                                  if (self->closed_.load()) return;
                                  if (error) return self->shutdown("connect: " + error.message());
                                  self->handshakeStart();
                              });
    }

    void handshakeStart() {
        asio::error_code ec;
        socket_.set_option(asio::ip::tcp::no_delay(true), ec);
        socket_.non_blocking(true, ec);
        if (ec) return shutdown("socket: " + ec.message());
        // Keep little unsent data in the kernel: what waits, waits in our queue, where a packet can still go ahead
        // of the next file chunk rather than behind megabytes of it.
        int lowWater = static_cast<int>(notSentLowWater);
        ::setsockopt(socket_.native_handle(), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &lowWater, sizeof lowWater);
        ssl_ = SSL_new(isServer_ ? service_->serverTls.native_handle() : service_->clientTls.native_handle());
        if (!ssl_ || SSL_set_fd(ssl_, socket_.native_handle()) != 1) return shutdown(tlsError("TLS"));
        SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_set_read_ahead(ssl_, 1);
        SSL_set_default_read_buffer_len(ssl_, readChunk);
        if (isServer_) {
            SSL_set_accept_state(ssl_);
        } else {
            SSL_set_connect_state(ssl_);
        }
        handshake();
    }

    void handshake() {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_);
        if (result == 1) return established();
        switch (SSL_get_error(ssl_, result)) {
            case SSL_ERROR_WANT_READ:
                return waitThen(asio::socket_base::wait_read, [](TlsConnection& c) {
                    c.sawBytes_ = true;
                    c.handshake();
                });
            case SSL_ERROR_WANT_WRITE:
                return waitThen(asio::socket_base::wait_write, [](TlsConnection& c) { c.handshake(); });
            default:
                return shutdown(tlsError("TLS"));
        }
    }

    template <typename Next>
    void waitThen(asio::socket_base::wait_type type, Next next) {
        socket_.async_wait(type, [self = shared_from_this(), next](const asio::error_code& error) {
            if (self->closed_.load()) return;
            if (error) return self->shutdown("wait: " + error.message());
            next(*self);
        });
    }

    void established() {
        sawBytes_ = true;
        timer_.cancel();
        Bytes exporter(32);
        const auto& label = handlers_.exporterLabel;
        if (SSL_export_keying_material(ssl_, exporter.data(), exporter.size(), label.data(), label.size(), nullptr, 0,
                                       0) != 1) {
            return shutdown("TLS exporter unavailable");
        }
        ready_ = true;
        lastReceive_ = nowTicks();
        if (handlers_.onReady) handlers_.onReady(exporter);
        if (closed_.load()) return;
        in_.resize(readChunk);
        {
            // What was sent before TLS was up goes first, from here.
            std::lock_guard lock(outMutex_);
            writesDirectly_ = true;
            writer_ = Writer::network;
        }
        writeSome();
        readSome();
    }

    // ----- Reading -----

    /// Hands over every whole frame in the buffer; false when the connection closed or reading paused meanwhile.
    bool parseFrames() {
        while (!closed_.load()) {
            if (readPaused_.load()) {
                readStopped_ = true;
                return false;
            }
            const std::size_t available = inEnd_ - inStart_;
            if (!inBody_) {
                if (available < 5) return true;
                const std::uint8_t* h = in_.data() + inStart_;
                const std::uint32_t length = (std::uint32_t{h[0]} << 24) | (std::uint32_t{h[1]} << 16) |
                                             (std::uint32_t{h[2]} << 8) | std::uint32_t{h[3]};
                if (length == 0) {
                    shutdown("empty frame");
                    return false;
                }
                kind_ = h[4];
                bodySize_ = length - 1;
                const std::size_t limit = handlers_.maxBody ? handlers_.maxBody(kind_) : 0;
                if (bodySize_ > limit) {
                    shutdown("oversized frame of kind " + std::to_string(kind_));
                    return false;
                }
                inStart_ += 5;
                inBody_ = true;
                // A large body mostly still in TLS is decrypted straight into its own buffer (kept from the last
                // message where it can be: resizing within it writes nothing).
                direct_ = bodySize_ > (available - 5) + directThreshold;
                if (direct_) {
                    if (body_.capacity() < bodySize_) takeSpareBody();
                    body_.resize(bodySize_);
                    bodyFilled_ = available - 5;
                    std::memcpy(body_.data(), in_.data() + inStart_, bodyFilled_);
                    inStart_ = inEnd_ = 0;
                    return true;
                }
                body_.clear();
                body_.reserve(bodySize_);
                continue;
            }
            if (direct_) return true;
            const std::size_t take = std::min(available, bodySize_ - body_.size());
            body_.insert(body_.end(), in_.data() + inStart_, in_.data() + inStart_ + take);
            inStart_ += take;
            if (body_.size() < bodySize_) return true;
            deliverBody();
        }
        return false;
    }

    // A body given back whose size is at least this one's: shrinking to it writes nothing.
    void takeSpareBody() {
        std::lock_guard lock(inSpareMutex_);
        for (auto it = inSpare_.begin(); it != inSpare_.end(); ++it) {
            if (it->size() >= bodySize_) {
                body_ = std::move(*it);
                inSpare_.erase(it);
                return;
            }
        }
    }

    void deliverBody() {
        inBody_ = false;
        direct_ = false;
        // The handler may keep the body (moving it away); else its buffer serves the next message.
        if (handlers_.onMessage) handlers_.onMessage(kind_, body_);
        if (body_.capacity() > maxSpareSize) body_ = Bytes();
    }

    void readSome() {
        if (closed_.load() || readStopped_) return;
        std::size_t taken = 0;
        for (;;) {
            if (!parseFrames()) return;
            if (inStart_ == inEnd_) inStart_ = inEnd_ = 0;
            if (taken >= turnLimit) {
                asio::post(service_->io, [self = shared_from_this()] { self->readSome(); });
                return;
            }
            std::uint8_t* target = nullptr;
            std::size_t room = 0;
            if (inBody_ && direct_) {
                target = body_.data() + bodyFilled_;
                room = bodySize_ - bodyFilled_;
            } else {
                // Move a partial frame to the front so that the next read has room.
                if (inStart_ > 0 && in_.size() - inEnd_ < 4096) {
                    std::memmove(in_.data(), in_.data() + inStart_, inEnd_ - inStart_);
                    inEnd_ -= inStart_;
                    inStart_ = 0;
                }
                target = in_.data() + inEnd_;
                room = in_.size() - inEnd_;
            }
            std::size_t n = 0;
            int result = 0;
            int error = SSL_ERROR_NONE;
            std::string failure;
            {
                std::lock_guard ssl(sslMutex_);
                ERR_clear_error();
                result = SSL_read_ex(ssl_, target, room, &n);
                if (result != 1) {
                    error = SSL_get_error(ssl_, result);
                    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                        failure = error == SSL_ERROR_SYSCALL && errno == 0 ? "closed by the peer" : tlsError("read");
                    }
                }
            }
            // Packets handed over meanwhile go out between two reads rather than after this turn of reading.
            if (writeNudge_.load(std::memory_order_relaxed) && writeNudge_.exchange(false)) {
                writeSome();
                if (closed_.load()) return;
            }
            if (result == 1) {
                taken += n;
                lastReceive_ = nowTicks();
                if (inBody_ && direct_) {
                    bodyFilled_ += n;
                    if (bodyFilled_ == bodySize_) deliverBody();
                } else {
                    inEnd_ += n;
                }
                continue;
            }
            switch (error) {
                case SSL_ERROR_WANT_READ:
                    readArmed_ = true;
                    return waitThen(asio::socket_base::wait_read, [wait = ++readWait_](TlsConnection& c) {
                        // The writer may have read meanwhile and left this wait behind.
                        if (wait != c.readWait_) return;
                        c.readArmed_ = false;
                        c.readSome();
                    });
                case SSL_ERROR_WANT_WRITE:
                    return waitThen(asio::socket_base::wait_write, [](TlsConnection& c) { c.readSome(); });
                case SSL_ERROR_ZERO_RETURN:
                    return shutdown("closed by the peer");
                default:
                    return shutdown(failure);
            }
        }
    }

    // ----- Writing -----

    /// Takes what goes next: every waiting urgent frame up to the batch limit, else one bulk frame.
    bool takeNext() {
        std::lock_guard lock(outMutex_);
        pending_.clear();
        batch_.clear();
        if (urgent_.empty() && bulk_.empty()) {
            writer_ = Writer::none;
            return false;
        }
        auto& lane = urgent_.empty() ? bulk_ : urgent_;
        if (lane.front().data.size() >= batchLimit / 4 || &lane == &bulk_) {
            pending_.push_back(std::move(lane.front()));
            lane.pop_front();
        } else {
            while (!urgent_.empty() && batch_.size() + urgent_.front().data.size() <= batchLimit) {
                auto& frame = urgent_.front();
                batch_.insert(batch_.end(), frame.data.begin(), frame.data.end());
                pending_.push_back(std::move(frame));
                urgent_.pop_front();
            }
        }
        const Bytes& out = batch_.empty() ? pending_.front().data : batch_;
        writeData_ = out.data();
        writeSize_ = out.size();
        writeDone_ = 0;
        return true;
    }

    void writeSome() {
        // Reading between two writes may come back here: the loop below goes on anyway.
        if (closed_.load() || !ready_ || writeWaiting_ || readingBetweenWrites_) return;
        {
            // A wake-up posted earlier may find a sending thread writing now.
            std::lock_guard lock(outMutex_);
            if (writer_ != Writer::network) return;
        }
        std::size_t written = 0;
        for (;;) {
            if (writeDone_ == writeSize_) {
                if (writeSize_ > 0) finishWrite();
                if (closed_.load()) return;
                if (!takeNext()) return;
            }
            if (written >= writeTurnLimit) {
                asio::post(service_->io, [self = shared_from_this()] { self->writeSome(); });
                return;
            }
            std::size_t n = 0;
            int result = 0;
            int error = SSL_ERROR_NONE;
            std::string failure;
            {
                std::lock_guard ssl(sslMutex_);
                ERR_clear_error();
                result = SSL_write_ex(ssl_, writeData_ + writeDone_, writeSize_ - writeDone_, &n);
                if (result != 1) {
                    error = SSL_get_error(ssl_, result);
                    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) failure = tlsError("write");
                }
            }
            if (result == 1) {
                writeDone_ += n;
                written += n;
                lastSend_ = nowTicks();
                readBetweenWrites();
                if (closed_.load()) return;
                continue;
            }
            switch (error) {
                case SSL_ERROR_WANT_WRITE:
                    writeWaiting_ = true;
                    return waitThen(asio::socket_base::wait_write, [](TlsConnection& c) {
                        c.writeWaiting_ = false;
                        c.writeSome();
                    });
                case SSL_ERROR_WANT_READ:
                    writeWaiting_ = true;
                    return waitThen(asio::socket_base::wait_read, [](TlsConnection& c) {
                        c.writeWaiting_ = false;
                        c.writeSome();
                    });
                default:
                    return shutdown(failure);
            }
        }
    }

    /// While file data goes out, a packet from the peer is read at once rather than when the write turn ends and
    /// the reactor comes round (a quarter of a millisecond and more). Only when the reader is idle, waiting for the
    /// socket, so never in the middle of a read: that wait is left behind (it finds itself stale) and reading goes
    /// on as usual from here.
    void readBetweenWrites() {
        if (!readArmed_) return;
        pollfd readable{socket_.native_handle(), POLLIN, 0};
        if (::poll(&readable, 1, 0) != 1) return;
        readArmed_ = false;
        ++readWait_;
        readingBetweenWrites_ = true;
        readSome();
        readingBetweenWrites_ = false;
    }

    /// Has the network thread write what is queued: at once when it is between two reads, else when it is idle.
    void wakeWriter() {
        writeNudge_.store(true);
        service_->post([self = shared_from_this()] { self->writeSome(); });
    }

    /// On the sending thread, which holds the writer's role: writes the frame as far as the socket takes it now.
    /// When the network thread is inside TLS (reading), it is not waited for: the frame is handed to it instead.
    void writeDirect(Frame frame) {
        const std::size_t size = frame.data.size();
        std::size_t done = 0;
        std::string failure;
        {
            const NoPipeSignal noPipe;
            std::unique_lock ssl(sslMutex_, std::try_to_lock);
            if (closed_.load()) return;
            while (ssl.owns_lock() && done < size) {
                std::size_t n = 0;
                ERR_clear_error();
                const int result = SSL_write_ex(ssl_, frame.data.data() + done, size - done, &n);
                if (result == 1) {
                    done += n;
                    continue;
                }
                const int error = SSL_get_error(ssl_, result);
                if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) failure = tlsError("write");
                break;
            }
            // Here, so that it comes before a shutdown's reset of the count rather than after it.
            if (done == size) buffered_.fetch_sub(size);
        }
        if (done > 0) lastSend_ = nowTicks();
        if (!failure.empty()) return close(failure);
        auto self = shared_from_this();
        if (done == size) {
            auto onWritten = std::move(frame.onWritten);
            bool more = false;
            {
                std::lock_guard lock(outMutex_);
                if (spare_.size() < maxSpare && frame.data.capacity() <= maxSpareSize) {
                    spare_.push_back(std::move(frame.data));
                }
                more = !urgent_.empty() || !bulk_.empty();
                writer_ = more ? Writer::network : Writer::none;
            }
            // Callbacks run on the network thread, as the interface promises.
            if (onWritten) service_->post(std::move(onWritten));
            if (more) wakeWriter();
            return;
        }
        // The socket is full (or the network thread busy in TLS): the network thread goes on with the rest, which
        // TLS wants handed over again as it stands, before anything queued meanwhile. The role's hand-over (the
        // lock, then the post) orders these writes before the network thread reads them.
        {
            std::lock_guard lock(outMutex_);
            pending_.clear();
            batch_.clear();
            pending_.push_back(std::move(frame));
            writeData_ = pending_.front().data.data();
            writeSize_ = size;
            writeDone_ = done;
            writer_ = Writer::network;
        }
        wakeWriter();
    }

    void finishWrite() {
        buffered_.fetch_sub(writeSize_);
        writeSize_ = writeDone_ = 0;
        writeData_ = nullptr;
        auto done = std::move(pending_);
        pending_.clear();
        for (auto& frame : done) {
            if (frame.onWritten) frame.onWritten();
        }
        std::lock_guard lock(outMutex_);
        for (auto& frame : done) {
            if (spare_.size() >= maxSpare || frame.data.capacity() > maxSpareSize) break;
            spare_.push_back(std::move(frame.data));
        }
    }

    void shutdown(const std::string& reason) {
        if (closed_.exchange(true)) return;
        asio::error_code ec;
        timer_.cancel();
        {
            // Not while a sending thread is inside TLS on this socket.
            std::lock_guard ssl(sslMutex_);
            socket_.cancel(ec);
            socket_.close(ec);
        }
        {
            std::lock_guard lock(outMutex_);
            urgent_.clear();
            bulk_.clear();
        }
        buffered_.store(0);
        auto onClosed = std::move(handlers_.onClosed);
        handlers_ = Handlers();
        if (onClosed) onClosed(reason);
    }

    std::shared_ptr<NearbyService::Impl> service_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer timer_;
    const bool isServer_;
    const double firstBytesTimeout_ = 0;
    mutable std::mutex addressMutex_;
    std::string address_;
    std::uint16_t port_ = 0;

    // Network thread only, but for TLS calls (under `sslMutex_`) and the writer's state (`pending_` to `writeDone_`),
    // which belong to whoever holds the writer's role.
    std::mutex sslMutex_;
    SSL* ssl_ = nullptr;
    Handlers handlers_;
    bool ready_ = false;
    bool sawBytes_ = false;
    bool writeWaiting_ = false;
    bool readingBetweenWrites_ = false;
    bool readStopped_ = false;
    bool readArmed_ = false;      // the reader is idle, waiting for the socket to be readable
    std::uint64_t readWait_ = 0;  // which of the reader's waits is the live one
    std::vector<Frame> pending_;
    Bytes batch_;
    const std::uint8_t* writeData_ = nullptr;
    std::size_t writeSize_ = 0;
    std::size_t writeDone_ = 0;
    Bytes in_;
    std::size_t inStart_ = 0;
    std::size_t inEnd_ = 0;
    bool inBody_ = false;
    bool direct_ = false;
    std::size_t bodyFilled_ = 0;
    std::uint8_t kind_ = 0;
    std::size_t bodySize_ = 0;
    Bytes body_;

    // Any thread.
    std::mutex inSpareMutex_;
    std::vector<Bytes> inSpare_;
    std::mutex outMutex_;
    std::deque<Frame> urgent_;
    std::deque<Frame> bulk_;
    std::vector<Bytes> spare_;
    // Who writes: nobody (nothing is queued), the network thread, or a sending thread writing its packet itself.
    enum class Writer { none, network, caller };
    Writer writer_ = Writer::none;
    bool writesDirectly_ = false;  // TLS is up
    std::atomic<bool> readPaused_{false};
    std::atomic<bool> writeNudge_{false};
    std::atomic<bool> closed_{false};
    std::atomic<std::size_t> buffered_{0};
    std::atomic<std::int64_t> lastReceive_{nowTicks()};
    std::atomic<std::int64_t> lastSend_{nowTicks()};
};

}  // namespace

std::shared_ptr<NearbyConnection> makeTlsConnection(std::shared_ptr<NearbyService::Impl> service,
                                                    asio::ip::tcp::socket socket, double firstBytesTimeout) {
    return std::make_shared<TlsConnection>(std::move(service), std::move(socket), firstBytesTimeout);
}

std::shared_ptr<NearbyConnection> makeTlsConnection(std::shared_ptr<NearbyService::Impl> service, std::string address,
                                                    std::uint16_t port) {
    return std::make_shared<TlsConnection>(std::move(service), std::move(address), port);
}

}  // namespace morvane::nearby
