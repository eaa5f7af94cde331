// Messages of the peer link, handshake and files, as the session takes them after TLS: a kind byte and a body.
// Bodies longer than the kind allows never reach a decoder (the connection drops them unread).

#include "fuzz_support.h"
#include "link/device_identity.h"
#include "link/link_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    using fuzz::require;
    using Kind = LinkMessage::Kind;
    if (size == 0) return 0;
    const std::uint8_t kind = data[0];
    const Bytes body(data + 1, data + size);
    require(LinkMessage::maxBody(kind, false) <= LinkMessage::maxBody(kind, true),
            "a kind allows more before the link is ready than after");
    if (body.size() > LinkMessage::maxBody(kind, true)) return 0;

    switch (static_cast<Kind>(kind)) {
        case Kind::hello:
            if (auto hello = LinkMessage::Hello::decode(body)) {
                require(hello->publicKey.size() == 32, "hello key size");
                auto again = LinkMessage::Hello::decode(hello->encode());
                require(again && *again == *hello, "a hello changed on its way back");
                // Clean text only loses what the 40-character cut left at its end (white space).
                const auto shown = DeviceIdentity::cleanName(hello->name);
                const auto cleanedAgain = DeviceIdentity::cleanName(shown);
                require(cleanedAgain == shown.substr(0, cleanedAgain.size()), "a cleaned name is not clean");
                // Each side derives the link key from the key the other announced.
                static const crypto::X25519PrivateKey own;
                (void)DeviceIdentity::linkKey(own, hello->publicKey);
                (void)DeviceIdentity::keyFingerprint(hello->publicKey);
            }
            break;
        case Kind::fileStart:
            if (auto start = LinkMessage::FileStart::decode(body)) {
                require(start->name.size() <= LinkMessage::maxResourceName, "file name length");
                require(start->encode() == body, "a file start changed on its way back");
            }
            break;
        case Kind::fileChunk:
            if (auto id = LinkMessage::decodeChunkId(body)) {
                const auto header = LinkMessage::encodeChunkHeader(*id);
                require(std::equal(header.begin(), header.end(), body.begin()), "chunk id");
            }
            break;
        case Kind::fileEnd:
            if (auto end = LinkMessage::FileEnd::decode(body)) require(end->encode() == body, "file end");
            break;
        case Kind::fileCancel:
            if (auto id = LinkMessage::decodeId(body)) require(LinkMessage::encodeId(*id) == body, "file cancel");
            break;
        case Kind::fileResult:
            if (auto result = LinkMessage::FileResult::decode(body)) require(result->encode() == body, "file result");
            break;
        default:
            break;
    }
    return 0;
}
