// Status encode + decode throughput: the remote decodes every camera's status several times a second and a
// camera encodes its own as often.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../tests/protocol/wire_samples.h"
#include "protocol/message_codec.h"

// Usage: bench_status_codec [SECONDS] runs for a time and prints the rate; bench_status_codec --rounds N runs a
// fixed count, for timing the whole process from outside.
int main(int argc, char** argv) {
    using namespace morvane;
    double seconds = 2.0;
    long fixedRounds = 0;
    if (argc > 2 && std::strcmp(argv[1], "--rounds") == 0) {
        fixedRounds = std::atol(argv[2]);
    } else if (argc > 1) {
        seconds = std::atof(argv[1]);
    }
    const CameraStatus status = samples::fullStatus();

    std::size_t bytes = 0;
    long rounds = 0;
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::duration<double>(seconds);
    while (fixedRounds > 0 ? rounds < fixedRounds : std::chrono::steady_clock::now() < deadline) {
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
