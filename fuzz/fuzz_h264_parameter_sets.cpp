// H.264 parameter sets from a camera: the parameter-set packet, the format made from its sets, and the
// sequence parameter set reader on its own (the whole input as one NAL unit).

#include "fuzz_support.h"
#include "platform/h264_format.h"
#include "protocol/live_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    using fuzz::require;
    const ByteView input(data, size);

    if (auto picture = H264PictureSize::fromSequenceParameterSet(input)) {
        require(picture->width > 0 && picture->height > 0, "a sequence parameter set gave an empty picture");
    }

    auto packet = ParameterSetsPacket::decode(input);
    if (!packet) return 0;
    for (const auto& set : packet->sets) (void)H264PictureSize::fromSequenceParameterSet(set);
    const auto sets = packet->sets;
    if (auto format = H264Format::make(packet->sets)) {
        require(format->parameterSets == sets, "the format changed its parameter sets");
        require(format->width > 0 && format->height > 0 && format->width <= H264Format::maxSide &&
                    format->height <= H264Format::maxSide,
                "a format's picture size is outside the accepted range");
    }
    return 0;
}
