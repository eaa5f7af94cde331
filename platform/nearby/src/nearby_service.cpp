#include "nearby_internal.h"

#include "platform/log.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace morvane::nearby {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};

// A fresh key pair and a self-signed certificate for this process; peers do not verify it (the link's own
// handshake authenticates them), TLS only needs something to sign with.
void installEphemeralCertificate(SSL_CTX* ctx) {
    std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_EC_gen("P-256"));
    if (!key) throw std::runtime_error("nearby: cannot make a TLS key");
    std::unique_ptr<X509, X509Free> cert(X509_new());
    if (!cert) throw std::runtime_error("nearby: cannot make a TLS certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * 365);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("morvane"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0 || SSL_CTX_use_certificate(ctx, cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, key.get()) != 1) {
        throw std::runtime_error("nearby: cannot install the TLS certificate");
    }
}

void onlyTls13(SSL_CTX* ctx) {
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
}

}  // namespace

NearbyService::Impl::Impl() {
    onlyTls13(serverTls.native_handle());
    onlyTls13(clientTls.native_handle());
    installEphemeralCertificate(serverTls.native_handle());
    serverTls.set_verify_mode(asio::ssl::verify_none);
    clientTls.set_verify_mode(asio::ssl::verify_none);
}

void takeShortTurns() {
    // sched_setattr has no libc wrapper here; the first version of its argument.
    struct SchedAttr {
        std::uint32_t size = sizeof(SchedAttr);
        std::uint32_t policy = SCHED_OTHER;
        std::uint64_t flags = 0;
        std::int32_t nice = 0;
        std::uint32_t priority = 0;
        std::uint64_t runtime = 0;  // for SCHED_OTHER: the thread's turn
        std::uint64_t deadline = 0;
        std::uint64_t period = 0;
    } attr;
    constexpr std::uint64_t turn = 500'000;  // ns
    // A thread someone made real-time keeps its policy; setting the turn sets the nice value too, so it is kept.
    if (::sched_getscheduler(0) != SCHED_OTHER) return;
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    if (errno != 0) return;
    attr.nice = nice;
    attr.runtime = turn;
    ::syscall(SYS_sched_setattr, ::gettid(), &attr, 0u);
}

NearbyService::NearbyService(std::string threadName) : impl_(std::make_shared<Impl>()) {
    impl_->guard.emplace(asio::make_work_guard(impl_->io));
    impl_->thread = std::thread([impl = impl_, name = std::move(threadName)] {
        impl->threadId.store(std::this_thread::get_id());
        // TLS writes go through plain write(): a peer that hung up must give this thread EPIPE, not end the
        // process with SIGPIPE.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        std::string shortName = name.size() > 15 ? name.substr(name.size() - 15) : name;
        pthread_setname_np(pthread_self(), shortName.c_str());
        takeShortTurns();
        for (;;) {
            try {
                impl->io.run();
                break;
            } catch (const std::exception& e) {
                log::error("NearbyService", e.what());
            }
        }
    });
}

NearbyService::~NearbyService() {
    impl_->stopped.store(true);
    impl_->guard.reset();
    impl_->io.stop();
    if (impl_->isCurrent()) {
        impl_->thread.detach();  // the thread keeps its own reference to the state
        return;
    }
    if (impl_->thread.joinable()) impl_->thread.join();
    // Handlers still queued hold connections, which hold the state: run their cancellations to break the cycle.
    impl_->io.restart();
    impl_->io.poll();
}

bool NearbyService::isCurrent() const {
    return impl_->isCurrent();
}

void NearbyService::post(std::function<void()> block) {
    impl_->post(std::move(block));
}

std::shared_ptr<NearbyConnection> NearbyService::connect(const std::string& address, std::uint16_t port) {
    return makeTlsConnection(impl_, address, port);
}

namespace {

class TcpListener final : public NearbyListener, public std::enable_shared_from_this<TcpListener> {
public:
    TcpListener(std::shared_ptr<NearbyService::Impl> service,
                std::function<void(std::shared_ptr<NearbyConnection>)> onAccept, double firstBytesTimeout)
        : service_(std::move(service)),
          acceptor_(service_->io),
          retryTimer_(service_->io),
          onAccept_(std::move(onAccept)),
          firstBytesTimeout_(firstBytesTimeout) {}

    bool open(const std::string& address, std::uint16_t port) {
        asio::error_code ec;
        auto ip = address.empty() ? asio::ip::address_v4::any() : asio::ip::make_address_v4(address, ec);
        if (ec) return false;
        asio::ip::tcp::endpoint endpoint(ip, port);
        acceptor_.open(endpoint.protocol(), ec);
        if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec) acceptor_.set_option(asio::socket_base::receive_buffer_size(receiveBufferSize), ec);
        if (!ec) acceptor_.bind(endpoint, ec);
        if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
        if (ec) return false;
        port_ = acceptor_.local_endpoint(ec).port();
        return !ec;
    }

    void acceptNext() {
        acceptor_.async_accept([self = shared_from_this()](const asio::error_code& ec, asio::ip::tcp::socket socket) {
            if (self->closed_) return;
            if (ec == asio::error::operation_aborted) return;
            if (!ec) {
                self->failures_ = 0;
                if (self->onAccept_) {
                    self->onAccept_(makeTlsConnection(self->service_, std::move(socket), self->firstBytesTimeout_));
                }
                self->acceptNext();
                return;
            }
            // The waiting connection stays in the backlog, so an immediate retry fails again (out of file
            // descriptors, say): pause, longer each time, up to a second.
            if (self->failures_++ == 0) log::error("NearbyListener", "accept: " + ec.message());
            const auto pause = std::chrono::milliseconds(std::min(1000, 10 << std::min(self->failures_, 7)));
            self->retryTimer_.expires_after(pause);
            self->retryTimer_.async_wait([self](const asio::error_code& error) {
                if (error || self->closed_) return;
                self->acceptNext();
            });
        });
    }

    std::uint16_t port() const override { return port_; }

    void close() override {
        service_->post([self = shared_from_this()] {
            if (self->closed_) return;
            self->closed_ = true;
            asio::error_code ec;
            self->retryTimer_.cancel();
            self->acceptor_.close(ec);
            self->onAccept_ = nullptr;
        });
    }

private:
    std::shared_ptr<NearbyService::Impl> service_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retryTimer_;
    std::function<void(std::shared_ptr<NearbyConnection>)> onAccept_;
    const double firstBytesTimeout_;
    std::uint16_t port_ = 0;
    int failures_ = 0;
    bool closed_ = false;
};

}  // namespace

std::shared_ptr<NearbyListener> NearbyService::listen(const std::string& address, std::uint16_t port,
                                                      std::function<void(std::shared_ptr<NearbyConnection>)> onAccept,
                                                      double firstBytesTimeout) {
    std::string bindAddress = address;
    if (loopbackOnly() && !isLoopbackAddress(bindAddress)) bindAddress = "127.0.0.1";
    auto listener = std::make_shared<TcpListener>(impl_, std::move(onAccept), firstBytesTimeout);
    if (!listener->open(bindAddress, port)) return nullptr;
    impl_->post([listener] { listener->acceptNext(); });
    return listener;
}

std::shared_ptr<NearbyBeacon> NearbyService::beacon(NearbyBeacon::Options options) {
    return makeUdpBeacon(impl_, std::move(options));
}

}  // namespace morvane::nearby
