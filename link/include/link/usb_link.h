#pragma once

#include "link/device_identity.h"
#include "link/trusted_peers.h"
#include "platform/base64.h"
#include "platform/crypto.h"
#include "platform/uuid.h"
#include "protocol/transfer_info.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

namespace morvane {

/// The wired link between a camera and the remote: files only, never commands.
///
/// Every message is `[u32 big-endian length][kind byte][body]`, where the length counts the kind byte and the body.
///
/// | kind | byte | body |
/// |---|---|---|
/// | hello | 0x01 | JSON object: `version` 1, `role` (1 camera, 2 remote), `name`, `key` (Base64 of the 32-byte X25519
/// identity public key), `nonce` (Base64 of 32 fresh random bytes) | | proof | 0x02 | 32 bytes: HMAC-SHA256(K,
/// "morvane-usb-proof-1" ‖ own role ‖ camera nonce ‖ remote nonce ‖ SHA-256(camera hello body) ‖ SHA-256(remote hello
/// body)) | | file start | 0x03 | u64 big-endian file size, then the `TransferInfo` JSON | | file data | 0x04 | 1 to 1
/// MiB of the file | | file end | 0x05 | the file's 32-byte SHA-256 | | acknowledgement | 0x06 | the 16 bytes of the
/// `TransferInfo` id, then 1 (received) or 0 (not received) |
///
/// K is the link key of the peer link (`DeviceIdentity::linkKey`). The proof also covers both hello bodies so that
/// nobody on the cable can change the name or key a device announced. Both sides send hello at once, then a proof
/// once they find the other's key in their trusted list with the other role; a device that is not trusted, or whose
/// proof is wrong, is dropped. After that the camera sends files one at a time: start, data, end, and waits for the
/// acknowledgement before the next one.
struct USBLink {
    /// The camera's link port: the remote reaches it through the multiplexing service.
    static constexpr std::uint16_t port = 47810;
    static constexpr std::size_t maxChunk = 1u << 20;
    /// Largest body of any message but file data.
    static constexpr std::size_t maxControlBody = 64u * 1024;
    /// Largest file the link accepts; beyond any capture a phone can make.
    static constexpr std::uint64_t maxFileSize = 1ull << 40;
    static constexpr int protocolVersion = 1;
    static constexpr std::size_t nonceSize = 32;

    enum class Kind : std::uint8_t { hello = 1, proof = 2, fileStart = 3, fileData = 4, fileEnd = 5, ack = 6 };

    struct Hello {
        std::uint8_t role = TrustedPeer::cameraRole;
        std::string name;
        Bytes identityKey;
        Bytes nonce;
        friend bool operator==(const Hello&, const Hello&) = default;
    };
    struct FileStart {
        std::uint64_t size = 0;
        TransferInfo info;
        friend bool operator==(const FileStart&, const FileStart&) = default;
    };
    struct Ack {
        Uuid id;
        bool ok = false;
        friend bool operator==(const Ack&, const Ack&) = default;
    };

    /// The largest body a message of this kind may have; 0 for a byte that names no kind.
    static std::size_t maxBody(std::uint8_t kind);

    /// The whole frame (length, kind, body) of a message.
    static Bytes frame(Kind kind, const std::uint8_t* body, std::size_t size);
    static Bytes frame(Kind kind, const Bytes& body) { return frame(kind, body.data(), body.size()); }

    /// Bodies of the messages. Encoding fails (none) only for a description that cannot be written as JSON.
    static Bytes encodeHello(const Hello& hello);
    static std::optional<Bytes> encodeFileStart(const FileStart& start);
    static Bytes encodeAck(const Ack& ack);

    /// Decoders of bodies from the other device: none for anything malformed.
    static std::optional<Hello> decodeHello(const std::uint8_t* body, std::size_t size);
    static std::optional<FileStart> decodeFileStart(const std::uint8_t* body, std::size_t size);
    static std::optional<crypto::Digest> decodeDigest(const std::uint8_t* body, std::size_t size);
    static std::optional<Ack> decodeAck(const std::uint8_t* body, std::size_t size);

    /// One message as read from the wire; the body points into the reader's buffer until the next read.
    struct Frame {
        std::uint8_t kind = 0;
        const std::uint8_t* body = nullptr;
        std::size_t size = 0;
    };

    /// Splits a byte stream into frames. A length beyond what its kind allows, or a kind byte that names no kind,
    /// makes the stream invalid before its body is read.
    class FrameReader {
    public:
        enum class State { needMore, frame, invalid };

        /// Hands over the free space to read into (at least `minimum` bytes).
        std::uint8_t* space(std::size_t minimum, std::size_t& available);
        void commit(std::size_t count);
        /// The next whole frame, when one is buffered.
        State next(Frame& frame);
        std::size_t buffered() const { return end_ - begin_; }
        /// Bytes still to come before the frame being read is whole (its header first); 0 when it is.
        std::size_t missing() const;

    private:
        Bytes buffer_;
        std::size_t begin_ = 0;
        std::size_t end_ = 0;
        std::size_t consumed_ = 0;  // the last frame handed out, dropped at the next call
        bool invalid_ = false;
    };

    /// A stream socket carrying the link. Sends may come from any thread; receives from one thread at a time.
    class Channel {
    public:
        /// Takes the socket over; it is made non-blocking.
        explicit Channel(int fd);
        ~Channel();
        Channel(const Channel&) = delete;
        Channel& operator=(const Channel&) = delete;

        enum class Result { frame, closed, timeout, invalid, woken };

        /// Waits up to `timeoutMs` (negative: without limit) for a whole frame. When `wakeFd` (an eventfd) becomes
        /// readable first, it is drained and the wait ends with `woken`.
        Result receive(Frame& frame, int timeoutMs, int wakeFd = -1);
        /// Sends one whole message; false once the link is broken or shut down, or when the other side takes
        /// nothing for `sendTimeoutMs`.
        bool send(Kind kind, const std::uint8_t* body, std::size_t size);
        bool send(Kind kind, const Bytes& body) { return send(kind, body.data(), body.size()); }
        /// Wakes every waiting receive and send and makes all later ones fail.
        void shutdown();
        bool isShutDown() const;

        static constexpr int sendTimeoutMs = 30000;

    private:
        bool writeAll(const std::uint8_t* data, std::size_t size);

        int fd_;
        FrameReader reader_;
        std::mutex sendMutex_;
        mutable std::mutex stateMutex_;
        bool shutDown_ = false;
    };

    /// Mutual authentication of one link: hello out, hello in, proof out, proof in.
    class Handshake {
    public:
        enum class Outcome { ok, closed, timeout, malformed, wrongRole, untrusted, badProof };

        Handshake(const DeviceIdentity& identity, TrustedPeers trusted, std::uint8_t ownRole);

        /// Runs the exchange on the channel within `timeoutMs`.
        Outcome run(Channel& channel, int timeoutMs);

        /// The other device's hello (after a successful run).
        const Hello& peer() const { return peer_; }
        /// The other device's name, fit to show: its announced name cleaned, else the name it paired with.
        std::string peerName() const;

        /// The proof that a device of `role` sends; both ends compute the same bytes.
        static crypto::Digest proof(const Bytes& linkKey, std::uint8_t role, const Bytes& cameraNonce,
                                    const Bytes& remoteNonce, const Bytes& cameraHello, const Bytes& remoteHello);

        static const char* describe(Outcome outcome);

    private:
        TrustedPeers trusted_;
        crypto::X25519PrivateKey key_;
        std::uint8_t role_;
        Bytes ownHelloBody_;
        Bytes ownNonce_;
        Hello peer_;
        Bytes peerHelloBody_;
        std::optional<TrustedPeer> peerEntry_;
    };
};

}  // namespace morvane
