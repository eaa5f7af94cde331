#pragma once

#include "platform/base64.h"
#include "platform/crypto.h"
#include "platform/uuid.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace morvane {

/// The messages of the peer link, each sent inside TLS as `[u32 big-endian length][kind][body]`
/// (docs/link-wire-format.md). Decoders take untrusted bodies and return none for anything malformed.
struct LinkMessage {
    enum class Kind : std::uint8_t {
        hello = 0x01,
        proof = 0x02,
        pair = 0x03,
        commit = 0x04,
        nonce = 0x05,
        reveal = 0x06,
        confirm = 0x07,
        refuse = 0x08,
        ping = 0x10,
        pong = 0x11,
        data = 0x21,
        fileStart = 0x30,
        fileChunk = 0x31,
        fileEnd = 0x32,
        fileCancel = 0x33,
        fileResult = 0x34,
    };

    /// Why a pairing was refused (the body of `refuse`).
    /// `codeMismatch`: the code typed at the peer was not the one shown; the request stays open for another try
    /// (a peer that does not know the reason takes it as declined and closes).
    enum class RefuseReason : std::uint8_t { declined = 0, notAllowed = 1, timedOut = 2, codeMismatch = 3 };

    /// How a receiver took a file (the status of `fileResult`).
    enum class FileStatus : std::uint8_t { ok = 0, corrupt = 1, refused = 2, failed = 3 };

    static constexpr std::size_t maxPacket = 16'777'216;
    static constexpr std::size_t maxChunk = 256 * 1024;
    static constexpr std::size_t maxHello = 2048;
    static constexpr std::size_t maxResourceName = 1024;
    static constexpr std::size_t tokenSize = 32;

    /// The longest body accepted for a kind; before the link is ready only the handshake kinds are accepted.
    static std::size_t maxBody(std::uint8_t kind, bool ready);

    struct Hello {
        std::uint8_t role = 0;
        Uuid instance;
        std::string name;
        Bytes publicKey;

        friend bool operator==(const Hello&, const Hello&) = default;
        Bytes encode() const;
        static std::optional<Hello> decode(const Bytes& body);
    };

    struct FileStart {
        std::uint32_t id = 0;
        std::uint64_t size = 0;
        std::string name;

        friend bool operator==(const FileStart&, const FileStart&) = default;
        Bytes encode() const;
        static std::optional<FileStart> decode(const Bytes& body);
    };

    /// A chunk is the transfer id followed by the data; the data is read in place.
    static Bytes encodeChunkHeader(std::uint32_t id);
    static std::optional<std::uint32_t> decodeChunkId(const Bytes& body);

    struct FileEnd {
        std::uint32_t id = 0;
        crypto::Digest digest{};

        friend bool operator==(const FileEnd&, const FileEnd&) = default;
        Bytes encode() const;
        static std::optional<FileEnd> decode(const Bytes& body);
    };

    static Bytes encodeId(std::uint32_t id);
    static std::optional<std::uint32_t> decodeId(const Bytes& body);

    struct FileResult {
        std::uint32_t id = 0;
        FileStatus status = FileStatus::ok;

        friend bool operator==(const FileResult&, const FileResult&) = default;
        Bytes encode() const;
        static std::optional<FileResult> decode(const Bytes& body);
    };
};

}  // namespace morvane
