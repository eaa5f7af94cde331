#pragma once

#include "platform/base64.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace morvane::nearby {

/// One encrypted session with a nearby device: TCP, TLS 1.3, and messages framed as
/// `[u32 big-endian length][kind byte][body]` (the length counts the kind byte and the body).
///
/// Every handler runs on the service's network thread. `send` and `close` may be called from any thread and never
/// wait for the network; messages handed to `send` from one thread leave in that order.
class NearbyConnection {
public:
    struct Handlers {
        /// TLS is up; `exporter` is 32 bytes of keying material exported under `exporterLabel`.
        std::function<void(const Bytes& exporter)> onReady;
        /// The largest body accepted for a kind; a longer frame closes the connection before its body is read.
        std::function<std::size_t(std::uint8_t kind)> maxBody;
        /// The body may be moved away; what is left of it is reused for the next message.
        std::function<void(std::uint8_t kind, Bytes& body)> onMessage;
        /// Called once, whatever closed the connection (either side, an error, a malformed frame).
        std::function<void(const std::string& reason)> onClosed;
        std::string exporterLabel;
    };

    /// Bulk frames (file data) leave only when no other frame waits, so that packets and commands sent meanwhile
    /// overtake them; frames of one lane keep their order.
    enum class Lane { normal, bulk };

    virtual ~NearbyConnection() = default;

    /// Starts connecting (outgoing) or the TLS handshake (accepted). Handlers are fixed from here on.
    virtual void start(Handlers handlers) = 0;
    /// Queues one message; `onWritten` runs on the network thread once it has been handed to TLS.
    virtual void send(std::uint8_t kind, const std::uint8_t* body, std::size_t size, std::function<void()> onWritten,
                      Lane lane) = 0;
    void send(std::uint8_t kind, const std::uint8_t* body, std::size_t size, std::function<void()> onWritten = {}) {
        send(kind, body, size, std::move(onWritten), Lane::normal);
    }
    void send(std::uint8_t kind, const Bytes& body, std::function<void()> onWritten = {}, Lane lane = Lane::normal) {
        send(kind, body.data(), body.size(), std::move(onWritten), lane);
    }
    /// Stops handing over messages (from `onMessage`, on the network thread) until `resumeReading` (any thread):
    /// the receiver's own back-pressure, which the peer feels through TCP.
    virtual void pauseReading() = 0;
    virtual void resumeReading() = 0;
    /// Gives back a body moved away in `onMessage` once it is no longer needed (any thread): a later large message
    /// is read into it, whose pages are already there, rather than into fresh zeroed memory.
    virtual void recycle(Bytes body) = 0;
    /// Drops the connection now, discarding what is still queued. Idempotent.
    virtual void close(const std::string& reason = "closed") = 0;

    virtual bool isClosed() const = 0;
    /// Bytes handed to `send` and not yet written to the socket.
    virtual std::size_t bufferedAmount() const = 0;
    /// Seconds since the last message arrived, and since the last write finished (since start when none).
    virtual double secondsSinceReceive() const = 0;
    virtual double secondsSinceSend() const = 0;
    virtual std::string remoteAddress() const = 0;

    /// A connection that is sent more than this and does not read it is dropped.
    static constexpr std::size_t maxBuffered = 96u << 20;
};

}  // namespace morvane::nearby
