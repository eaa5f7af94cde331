// The USB link's byte stream as a device sends it: split into frames by the reader (fed in pieces of varying
// size, as reads return them), each body given to the decoder of its kind.

#include <algorithm>
#include <cstring>

#include "fuzz_support.h"
#include "link/usb_link.h"

namespace morvane {
namespace {

void decodeFrame(const USBLink::Frame& frame) {
    using fuzz::require;
    using Kind = USBLink::Kind;
    require(frame.size <= USBLink::maxBody(frame.kind), "a frame longer than its kind allows");
    switch (static_cast<Kind>(frame.kind)) {
        case Kind::hello:
            if (auto hello = USBLink::decodeHello(frame.body, frame.size)) {
                const auto encoded = USBLink::encodeHello(*hello);
                auto again = USBLink::decodeHello(encoded.data(), encoded.size());
                require(again && *again == *hello, "a hello changed on its way back");
            }
            break;
        case Kind::fileStart:
            if (auto start = USBLink::decodeFileStart(frame.body, frame.size)) {
                require(start->size <= USBLink::maxFileSize, "file size");
                auto encoded = USBLink::encodeFileStart(*start);
                require(encoded.has_value(), "an accepted file start cannot be written again");
                auto again = USBLink::decodeFileStart(encoded->data(), encoded->size());
                require(again && *again == *start, "a file start changed on its way back");
            }
            break;
        case Kind::proof:
        case Kind::fileEnd:
            if (auto digest = USBLink::decodeDigest(frame.body, frame.size))
                require(std::memcmp(digest->data(), frame.body, digest->size()) == 0, "digest");
            break;
        case Kind::ack:
            if (auto ack = USBLink::decodeAck(frame.body, frame.size)) {
                const auto encoded = USBLink::encodeAck(*ack);
                require(encoded.size() == frame.size && std::memcmp(encoded.data(), frame.body, frame.size) == 0,
                        "an ack changed on its way back");
            }
            break;
        case Kind::fileData:
            break;
    }
}

}  // namespace
}  // namespace morvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    if (size == 0) return 0;
    // The first byte seeds the sizes of the reads; the rest is the stream.
    std::uint32_t seed = data[0] * 2654435761u + 1;
    std::size_t at = 1;
    USBLink::FrameReader reader;
    USBLink::Frame frame;
    bool invalid = false;
    while (at < size && !invalid) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t want = 1 + (seed >> 16) % 4096;
        std::size_t available = 0;
        std::uint8_t* space = reader.space(std::min<std::size_t>(want, 64 * 1024), available);
        const std::size_t count = std::min({want, available, size - at});
        std::memcpy(space, data + at, count);
        reader.commit(count);
        at += count;
        for (;;) {
            const auto state = reader.next(frame);
            if (state == USBLink::FrameReader::State::invalid) {
                invalid = true;
                break;
            }
            if (state == USBLink::FrameReader::State::needMore) break;
            decodeFrame(frame);
        }
        fuzz::require(reader.buffered() <= 5 + USBLink::maxChunk + 64 * 1024, "the reader keeps more than a frame");
    }
    return 0;
}
