#include "nearby_internal.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstring>
#include <deque>

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

class TlsConnection final : public NearbyConnection, public std::enable_shared_from_this<TlsConnection> {
public:
    TlsConnection(std::shared_ptr<NearbyService::Impl> service, asio::ip::tcp::socket socket)
        : service_(std::move(service)), stream_(std::move(socket), service_->serverTls), isServer_(true) {}

    TlsConnection(std::shared_ptr<NearbyService::Impl> service, std::string address, std::uint16_t port)
        : service_(std::move(service)),
          stream_(service_->io, service_->clientTls),
          isServer_(false),
          address_(std::move(address)),
          port_(port) {}

    void start(Handlers handlers) override {
        service_->post([self = shared_from_this(), handlers = std::move(handlers)]() mutable {
            self->handlers_ = std::move(handlers);
            self->begin();
        });
    }

    void send(std::uint8_t kind, const std::uint8_t* body, std::size_t size, std::function<void()> onWritten) override {
        if (closed_.load()) return;
        const std::size_t length = size + 1;
        if (length > 0xFFFFFFFFu) return;
        Frame frame;
        frame.data.resize(5 + size);
        frame.data[0] = static_cast<std::uint8_t>(length >> 24);
        frame.data[1] = static_cast<std::uint8_t>(length >> 16);
        frame.data[2] = static_cast<std::uint8_t>(length >> 8);
        frame.data[3] = static_cast<std::uint8_t>(length);
        frame.data[4] = kind;
        if (size) std::memcpy(frame.data.data() + 5, body, size);
        frame.onWritten = std::move(onWritten);
        const auto total = buffered_.fetch_add(frame.data.size()) + frame.data.size();
        if (total > maxBuffered) {
            close("the peer does not read what is sent");
            return;
        }
        service_->post([self = shared_from_this(), frame = std::move(frame)]() mutable {
            if (self->closed_.load()) return;
            self->outbox_.push_back(std::move(frame));
            if (!self->writing_ && self->ready_) self->writeNext();
        });
    }

    void close(const std::string& reason) override {
        if (closed_.load()) return;
        service_->post([self = shared_from_this(), reason] { self->shutdown(reason); });
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
            asio::error_code ec;
            auto endpoint = stream_.lowest_layer().remote_endpoint(ec);
            if (!ec) {
                std::lock_guard lock(addressMutex_);
                address_ = endpoint.address().to_string();
            }
            handshake();
            return;
        }
        asio::error_code ec;
        auto ip = asio::ip::make_address_v4(address_, ec);
        if (ec) return shutdown("bad address " + address_);
        if (loopbackOnly() && !isLoopbackAddress(address_)) return shutdown("address outside the loopback refused");
        stream_.lowest_layer().async_connect(asio::ip::tcp::endpoint(ip, port_),
                                             [self = shared_from_this()](const asio::error_code& error) {
                                                 if (self->closed_.load()) return;
                                                 if (error) return self->shutdown("connect: " + error.message());
                                                 self->handshake();
                                             });
    }

    void handshake() {
        asio::error_code ec;
        stream_.lowest_layer().set_option(asio::ip::tcp::no_delay(true), ec);
        // Keep little unsent data in the kernel: what waits, waits in our queue, where a packet can still go ahead
        // of the next file chunk rather than behind megabytes of it.
        int lowWater = static_cast<int>(notSentLowWater);
        ::setsockopt(stream_.lowest_layer().native_handle(), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &lowWater,
                     sizeof lowWater);
        stream_.async_handshake(isServer_ ? asio::ssl::stream_base::server : asio::ssl::stream_base::client,
                                [self = shared_from_this()](const asio::error_code& error) {
                                    if (self->closed_.load()) return;
                                    if (error) return self->shutdown("TLS: " + error.message());
                                    self->established();
                                });
    }

    void established() {
        Bytes exporter(32);
        const auto& label = handlers_.exporterLabel;
        if (SSL_export_keying_material(stream_.native_handle(), exporter.data(), exporter.size(), label.data(),
                                       label.size(), nullptr, 0, 0) != 1) {
            return shutdown("TLS exporter unavailable");
        }
        ready_ = true;
        lastReceive_ = nowTicks();
        if (handlers_.onReady) handlers_.onReady(exporter);
        if (closed_.load()) return;
        if (!writing_ && !outbox_.empty()) writeNext();
        readHeader();
    }

    void readHeader() {
        asio::async_read(stream_, asio::buffer(header_),
                         [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                             if (self->closed_.load()) return;
                             if (error) return self->shutdown(self->readError(error));
                             self->headerArrived();
                         });
    }

    void headerArrived() {
        const std::uint32_t length = (std::uint32_t{header_[0]} << 24) | (std::uint32_t{header_[1]} << 16) |
                                     (std::uint32_t{header_[2]} << 8) | std::uint32_t{header_[3]};
        if (length == 0) return shutdown("empty frame");
        const std::uint8_t kind = header_[4];
        const std::size_t bodySize = length - 1;
        const std::size_t limit = handlers_.maxBody ? handlers_.maxBody(kind) : 0;
        if (bodySize > limit) return shutdown("oversized frame of kind " + std::to_string(kind));
        body_.assign(bodySize, 0);
        if (bodySize == 0) return bodyArrived(kind);
        // A large message on a slow network takes a while: every piece of it counts as traffic.
        auto progress = [self = shared_from_this()](const asio::error_code& error, std::size_t done) -> std::size_t {
            if (done > 0) self->lastReceive_ = nowTicks();
            return asio::transfer_all()(error, done);
        };
        asio::async_read(stream_, asio::buffer(body_), progress,
                         [self = shared_from_this(), kind](const asio::error_code& error, std::size_t) {
                             if (self->closed_.load()) return;
                             if (error) return self->shutdown(self->readError(error));
                             self->bodyArrived(kind);
                         });
    }

    void bodyArrived(std::uint8_t kind) {
        lastReceive_ = nowTicks();
        if (handlers_.onMessage) handlers_.onMessage(kind, std::move(body_));
        body_ = Bytes();
        if (closed_.load()) return;
        readHeader();
    }

    std::string readError(const asio::error_code& error) const {
        if (error == asio::error::eof || error == asio::ssl::error::stream_truncated) return "closed by the peer";
        return "read: " + error.message();
    }

    void writeNext() {
        if (outbox_.empty() || closed_.load()) {
            writing_ = false;
            return;
        }
        writing_ = true;
        inFlight_.clear();
        batch_.clear();
        if (outbox_.front().data.size() >= batchLimit / 4) {
            inFlight_.push_back(std::move(outbox_.front()));
            outbox_.pop_front();
        } else {
            while (!outbox_.empty() && batch_.size() + outbox_.front().data.size() <= batchLimit) {
                auto& frame = outbox_.front();
                batch_.insert(batch_.end(), frame.data.begin(), frame.data.end());
                frame.data = Bytes();
                inFlight_.push_back(std::move(frame));
                outbox_.pop_front();
            }
        }
        auto buffer = batch_.empty() ? asio::buffer(inFlight_.front().data) : asio::buffer(batch_);
        const std::size_t size = buffer.size();
        auto progress = [self = shared_from_this()](const asio::error_code& error, std::size_t done) -> std::size_t {
            if (done > 0) self->lastSend_ = nowTicks();
            return asio::transfer_all()(error, done);
        };
        asio::async_write(stream_, buffer, progress,
                          [self = shared_from_this(), size](const asio::error_code& error, std::size_t) {
                              if (self->closed_.load()) return;
                              if (error) return self->shutdown("write: " + error.message());
                              self->buffered_.fetch_sub(size);
                              self->lastSend_ = nowTicks();
                              auto done = std::move(self->inFlight_);
                              self->inFlight_.clear();
                              for (auto& frame : done) {
                                  if (frame.onWritten) frame.onWritten();
                              }
                              self->writeNext();
                          });
    }

    void shutdown(const std::string& reason) {
        if (closed_.exchange(true)) return;
        asio::error_code ec;
        stream_.lowest_layer().cancel(ec);
        stream_.lowest_layer().close(ec);
        // The write under way may still read its buffers until its handler runs: keep them until then.
        outbox_.clear();
        buffered_.store(0);
        auto onClosed = std::move(handlers_.onClosed);
        handlers_ = Handlers();
        if (onClosed) onClosed(reason);
    }

    std::shared_ptr<NearbyService::Impl> service_;
    asio::ssl::stream<asio::ip::tcp::socket> stream_;
    const bool isServer_;
    mutable std::mutex addressMutex_;
    std::string address_;
    std::uint16_t port_ = 0;

    // Network thread only.
    Handlers handlers_;
    bool ready_ = false;
    bool writing_ = false;
    std::deque<Frame> outbox_;
    std::vector<Frame> inFlight_;
    Bytes batch_;
    std::array<std::uint8_t, 5> header_{};
    Bytes body_;

    std::atomic<bool> closed_{false};
    std::atomic<std::size_t> buffered_{0};
    std::atomic<std::int64_t> lastReceive_{nowTicks()};
    std::atomic<std::int64_t> lastSend_{nowTicks()};
};

}  // namespace

std::shared_ptr<NearbyConnection> makeTlsConnection(std::shared_ptr<NearbyService::Impl> service,
                                                    asio::ip::tcp::socket socket) {
    return std::make_shared<TlsConnection>(std::move(service), std::move(socket));
}

std::shared_ptr<NearbyConnection> makeTlsConnection(std::shared_ptr<NearbyService::Impl> service, std::string address,
                                                    std::uint16_t port) {
    return std::make_shared<TlsConnection>(std::move(service), std::move(address), port);
}

}  // namespace morvane::nearby
