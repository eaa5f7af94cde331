#include "nearby_internal.h"

#include "platform/log.h"

#include <netinet/in.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <set>

namespace morvane::nearby {

namespace {

const char* kindName(NearbyAnnouncement::Kind kind) {
    switch (kind) {
        case NearbyAnnouncement::Kind::announce:
            return "announce";
        case NearbyAnnouncement::Kind::query:
            return "query";
        case NearbyAnnouncement::Kind::bye:
            return "bye";
    }
    return "";
}

}  // namespace

std::string NearbyAnnouncement::encode(std::string_view serviceType) const {
    nlohmann::json json = {{"v", version},
                           {"service", std::string(serviceType)},
                           {"kind", kindName(kind)},
                           {"instance", instance.uuidString()}};
    if (kind == Kind::announce) {
        json["role"] = role;
        json["name"] = name;
        json["key"] = base64Encode(publicKey);
        json["port"] = port;
    }
    // Names are the only free text; replace invalid UTF-8 rather than fail.
    auto text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() > maxDatagram) return {};
    return text;
}

std::optional<NearbyAnnouncement> NearbyAnnouncement::decode(std::string_view datagram, std::string_view serviceType) {
    if (datagram.empty() || datagram.size() > maxDatagram) return std::nullopt;
    auto json = nlohmann::json::parse(datagram.begin(), datagram.end(), nullptr, false);
    if (!json.is_object()) return std::nullopt;
    auto field = [&](const char* key) -> const nlohmann::json* {
        auto it = json.find(key);
        return it == json.end() ? nullptr : &*it;
    };
    const auto* v = field("v");
    const auto* service = field("service");
    const auto* kind = field("kind");
    const auto* instance = field("instance");
    if (!v || !v->is_number_integer() || v->get<std::int64_t>() != version) return std::nullopt;
    if (!service || !service->is_string() || service->get<std::string>() != serviceType) return std::nullopt;
    if (!kind || !kind->is_string() || !instance || !instance->is_string()) return std::nullopt;
    auto uuid = Uuid::parse(instance->get<std::string>());
    if (!uuid) return std::nullopt;
    NearbyAnnouncement out;
    out.instance = *uuid;
    const auto kindText = kind->get<std::string>();
    if (kindText == "query") {
        out.kind = Kind::query;
        return out;
    }
    if (kindText == "bye") {
        out.kind = Kind::bye;
        return out;
    }
    if (kindText != "announce") return std::nullopt;
    const auto* role = field("role");
    const auto* name = field("name");
    const auto* key = field("key");
    const auto* port = field("port");
    if (!role || !role->is_number_unsigned() || role->get<std::uint64_t>() > 255) return std::nullopt;
    if (!name || !name->is_string() || !key || !key->is_string()) return std::nullopt;
    if (!port || !port->is_number_unsigned() || port->get<std::uint64_t>() == 0 || port->get<std::uint64_t>() > 65535) {
        return std::nullopt;
    }
    auto keyBytes = base64Decode(key->get<std::string>());
    if (!keyBytes || keyBytes->size() != 32) return std::nullopt;
    out.kind = Kind::announce;
    out.role = static_cast<std::uint8_t>(role->get<std::uint64_t>());
    out.name = name->get<std::string>();
    out.publicKey = std::move(*keyBytes);
    out.port = static_cast<std::uint16_t>(port->get<std::uint64_t>());
    return out;
}

namespace {

using Clock = std::chrono::steady_clock;

// A flood of distinct instances must not grow the table without bound.
constexpr std::size_t maxEntries = 256;

asio::steady_timer::duration seconds(double s) {
    return std::chrono::duration_cast<asio::steady_timer::duration>(std::chrono::duration<double>(s));
}

class UdpBeacon final : public NearbyBeacon, public std::enable_shared_from_this<UdpBeacon> {
public:
    UdpBeacon(std::shared_ptr<NearbyService::Impl> service, Options options)
        : service_(std::move(service)),
          options_(std::move(options)),
          receiver_(service_->io),
          announceTimer_(service_->io),
          expiryTimer_(service_->io) {
        options_.network = options_.network.resolved();
    }

    bool open() {
        asio::error_code ec;
        group_ = asio::ip::make_address_v4(options_.network.group, ec);
        if (ec || !group_.is_multicast()) return false;
        receiver_.open(asio::ip::udp::v4(), ec);
        if (ec) return false;
        receiver_.set_option(asio::socket_base::reuse_address(true), ec);
        receiver_.set_option(asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>(true), ec);
        // Only the datagrams of our own group, not of every group another socket on this host joined.
        int all = 0;
        ::setsockopt(receiver_.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &all, sizeof all);
        receiver_.bind(asio::ip::udp::endpoint(group_, options_.network.port), ec);
        if (ec) return false;
        refreshInterfaces();
        return !senders_.empty();
    }

    void startReceiving() {
        receiver_.async_receive_from(asio::buffer(datagram_), from_,
                                     [self = shared_from_this()](const asio::error_code& ec, std::size_t size) {
                                         if (self->stopped_) return;
                                         if (!ec) self->received(size);
                                         if (ec == asio::error::operation_aborted) return;
                                         self->startReceiving();
                                     });
        scheduleExpiry();
    }

    void advertise(std::function<NearbyAnnouncement()> self) override {
        service_->post([me = shared_from_this(), self = std::move(self)]() mutable {
            if (me->stopped_) return;
            me->self_ = std::move(self);
            me->burstLeft_ = me->options_.burstCount;
            me->announceNow();
            me->scheduleAnnounce();
        });
    }

    void browse(std::function<void(const NearbyEntry&)> found, std::function<void(const NearbyEntry&)> lost) override {
        service_->post([me = shared_from_this(), found = std::move(found), lost = std::move(lost)]() mutable {
            if (me->stopped_) return;
            me->found_ = std::move(found);
            me->lost_ = std::move(lost);
            NearbyAnnouncement query;
            query.kind = NearbyAnnouncement::Kind::query;
            query.instance = me->options_.ownInstance;
            me->sendToAll(query);
        });
    }

    void stop() override {
        service_->post([me = shared_from_this()] { me->stopNow(); });
    }

private:
    struct Sender {
        asio::ip::address_v4 address;
        std::unique_ptr<asio::ip::udp::socket> socket;
    };
    struct Seen {
        NearbyEntry entry;
        Clock::time_point lastSeen;
    };

    void stopNow() {
        if (stopped_) return;
        if (self_) {
            NearbyAnnouncement bye;
            bye.kind = NearbyAnnouncement::Kind::bye;
            bye.instance = options_.ownInstance;
            sendToAll(bye);
        }
        stopped_ = true;
        asio::error_code ec;
        announceTimer_.cancel();
        expiryTimer_.cancel();
        receiver_.close(ec);
        for (auto& sender : senders_) sender.socket->close(ec);
        senders_.clear();
        self_ = nullptr;
        found_ = nullptr;
        lost_ = nullptr;
        entries_.clear();
    }

    // Interfaces come and go (a network joined after start); join the new ones as they appear.
    void refreshInterfaces() {
        const auto wanted = options_.network.interfaces.empty() ? multicastInterfaces() : options_.network.interfaces;
        const bool onlyLoopback = loopbackOnly();
        for (const auto& text : wanted) {
            asio::error_code ec;
            auto address = asio::ip::make_address_v4(text, ec);
            if (ec) continue;
            if (onlyLoopback && !address.is_loopback()) continue;
            bool known = false;
            for (const auto& sender : senders_) known = known || sender.address == address;
            if (known) continue;
            receiver_.set_option(asio::ip::multicast::join_group(group_, address), ec);
            if (ec) {
                log::debug("NearbyBeacon", "cannot join on " + text + ": " + ec.message());
                continue;
            }
            auto socket = std::make_unique<asio::ip::udp::socket>(service_->io);
            socket->open(asio::ip::udp::v4(), ec);
            if (!ec) socket->bind(asio::ip::udp::endpoint(address, 0), ec);
            if (!ec) socket->set_option(asio::ip::multicast::outbound_interface(address), ec);
            if (!ec) socket->set_option(asio::ip::multicast::hops(1), ec);
            if (!ec) socket->set_option(asio::ip::multicast::enable_loopback(true), ec);
            if (!ec) socket->non_blocking(true, ec);
            if (ec) continue;
            senders_.push_back(Sender{address, std::move(socket)});
        }
        // The flexible "every interface" mode re-reads the list later; fixed lists never change.
        dynamicInterfaces_ = options_.network.interfaces.empty() && !onlyLoopback;
    }

    void sendToAll(const NearbyAnnouncement& announcement) {
        const auto text = announcement.encode(options_.serviceType);
        if (text.empty()) return;
        const asio::ip::udp::endpoint target(group_, options_.network.port);
        for (auto& sender : senders_) {
            asio::error_code ec;
            sender.socket->send_to(asio::buffer(text), target, 0, ec);
        }
    }

    void announceNow() {
        if (!self_) return;
        auto announcement = self_();
        announcement.kind = NearbyAnnouncement::Kind::announce;
        announcement.instance = options_.ownInstance;
        sendToAll(announcement);
        lastAnnounce_ = Clock::now();
    }

    void scheduleAnnounce() {
        const double delay = burstLeft_ > 1 ? options_.burstInterval : options_.announceInterval;
        if (burstLeft_ > 0) --burstLeft_;
        announceTimer_.expires_after(seconds(delay));
        announceTimer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (ec || self->stopped_) return;
            if (self->dynamicInterfaces_) self->refreshInterfaces();
            self->announceNow();
            self->scheduleAnnounce();
        });
    }

    void scheduleExpiry() {
        expiryTimer_.expires_after(seconds(std::min(1.0, options_.expiry / 4)));
        expiryTimer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (ec || self->stopped_) return;
            self->expire();
            if (self->dynamicInterfaces_ && !self->self_) self->refreshInterfaces();
            self->scheduleExpiry();
        });
    }

    void expire() {
        const auto now = Clock::now();
        for (auto it = entries_.begin(); it != entries_.end();) {
            if (now - it->second.lastSeen > seconds(options_.expiry)) {
                auto entry = std::move(it->second.entry);
                it = entries_.erase(it);
                if (lost_) lost_(entry);
            } else {
                ++it;
            }
        }
    }

    void received(std::size_t size) {
        const auto source = from_.address();
        if (!source.is_v4()) return;
        if (loopbackOnly() && !source.to_v4().is_loopback()) return;
        auto announcement = NearbyAnnouncement::decode(std::string_view(datagram_.data(), size), options_.serviceType);
        if (!announcement || announcement->instance == options_.ownInstance) return;
        switch (announcement->kind) {
            case NearbyAnnouncement::Kind::query:
                // Answer at once, but a stream of queries must not become a stream of announces.
                if (self_ && Clock::now() - lastAnnounce_ >= seconds(options_.burstInterval)) announceNow();
                return;
            case NearbyAnnouncement::Kind::bye: {
                auto it = entries_.find(announcement->instance);
                if (it == entries_.end()) return;
                auto entry = std::move(it->second.entry);
                entries_.erase(it);
                if (lost_) lost_(entry);
                return;
            }
            case NearbyAnnouncement::Kind::announce:
                break;
        }
        if (!found_) return;
        NearbyEntry entry{announcement->instance,
                          announcement->role,
                          std::move(announcement->name),
                          std::move(announcement->publicKey),
                          source.to_string(),
                          announcement->port,
                          from_.port()};
        auto it = entries_.find(entry.instance);
        if (it == entries_.end()) {
            if (entries_.size() >= maxEntries) return;
            it = entries_.emplace(entry.instance, Seen{entry, Clock::now()}).first;
            found_(entry);
            return;
        }
        it->second.lastSeen = Clock::now();
        if (!(it->second.entry == entry)) {
            it->second.entry = entry;
            found_(entry);
        }
    }

    std::shared_ptr<NearbyService::Impl> service_;
    Options options_;
    asio::ip::address_v4 group_;
    asio::ip::udp::socket receiver_;
    std::vector<Sender> senders_;
    bool dynamicInterfaces_ = false;
    asio::steady_timer announceTimer_;
    asio::steady_timer expiryTimer_;
    std::array<char, NearbyAnnouncement::maxDatagram + 1> datagram_{};
    asio::ip::udp::endpoint from_;
    std::function<NearbyAnnouncement()> self_;
    std::function<void(const NearbyEntry&)> found_;
    std::function<void(const NearbyEntry&)> lost_;
    std::map<Uuid, Seen> entries_;
    int burstLeft_ = 0;
    Clock::time_point lastAnnounce_{};
    bool stopped_ = false;
};

}  // namespace

std::shared_ptr<NearbyBeacon> makeUdpBeacon(std::shared_ptr<NearbyService::Impl> service,
                                            NearbyBeacon::Options options) {
    auto beacon = std::make_shared<UdpBeacon>(service, std::move(options));
    if (!beacon->open()) return nullptr;
    service->post([beacon] { beacon->startReceiving(); });
    return beacon;
}

}  // namespace morvane::nearby
