// A camera's live video as the remote's receiver takes it: a run of parameter-set and frame packets (each
// prefixed here with its length as 4 big-endian bytes) decoded for display.

#include <QRectF>

#include "fuzz_support.h"
#include "platform/manual_executor.h"
#include "protocol/live_packets.h"
#include "remote/video_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    static auto main = std::make_shared<ManualExecutor>();

    auto receiver = VideoReceiver::make(main);
    receiver->setSendToCamera([](const Bytes& packet) {
        fuzz::require(AckPacket::decode(packet).has_value() || isKeyframeRequestPacket(packet),
                      "the receiver sent the camera something other than an ack or a key-frame request");
    });
    // Pictures may be 8192 pixels on a side: a dozen packets is a long stream for one run, and keeps a run's
    // memory (reference pictures) and time bounded.
    constexpr int maxPackets = 12;
    std::size_t at = 0;
    for (int packets = 0; packets < maxPackets && size - at >= 4; ++packets) {
        const std::size_t length = (std::size_t{data[at]} << 24) | (std::size_t{data[at + 1]} << 16) |
                                   (std::size_t{data[at + 2]} << 8) | data[at + 3];
        at += 4;
        const std::size_t take = std::min(length, size - at);
        receiver->receive(Bytes(data + at, data + at + take));
        at += take;
    }
    receiver->queue().sync([] {});
    main->runPending();
    receiver->layout(QRectF(0, 0, 320, 180));
    (void)receiver->devicePoint({160, 90});
    (void)receiver->takeStats();
    receiver.reset();
    main->runPending();
    return 0;
}
