// Status encode + decode throughput: the remote decodes every camera's status several times a second and a
// camera encodes its own as often.

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "../../tests/protocol/wire_samples.h"
#include "protocol/message_codec.h"

int main(int argc, char** argv) {
    using namespace morvane;
    double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const CameraStatus status = samples::fullStatus();

    std::size_t bytes = 0;
    long rounds = 0;
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        for (int i = 0; i < 100; ++i) {
            auto packet = encodeMessage(PacketType::status, status);
            auto back = packet ? decodeMessage<CameraStatus>(*packet) : std::nullopt;
            if (!back || back->frameRate != status.frameRate) {
                std::fprintf(stderr, "round trip failed\n");
                return 1;
            }
            bytes = packet->size();
            ++rounds;
        }
    }
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("status encode+decode: %.0f per second (%.2f us each, %zu-byte packet, %ld rounds)\n", rounds / elapsed,
                elapsed / rounds * 1e6, bytes, rounds);
    return 0;
}
