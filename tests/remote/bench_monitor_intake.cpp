// Applies a stream of camera packets (statuses and live readings from seven cameras, the remote's steady load)
// through the controller's intake, or, as the yardstick, only decodes them.
//
//   bench_monitor_intake controller|decode [packets]

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/defaults.h"
#include "platform/manual_executor.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "remote/monitor_controller.h"
#include "remote/scope_image.h"
#include "scripted_link.h"

using namespace morvane;

namespace {

std::vector<Bytes> packetMix() {
    CameraStatus status;
    status.mode = CaptureMode::video;
    status.isRecording = true;
    status.recordingElapsed = 12.5;
    status.battery = 0.8f;
    status.pendingTransfers = 1;
    status.transferProgress = 0.4;
    HistogramPacket histogram;
    for (std::size_t i = 0; i < histogram.bins.size(); ++i) histogram.bins[i] = static_cast<std::uint8_t>(i * 3);
    ScopePacket scope{ScopeKind::parade, 64, 48, Bytes(64 * 48, 90)};
    return {*encodeMessage(PacketType::status, status), histogram.encode(), AudioLevelPacket{120}.encode(),
            LevelPacket::fromRoll(1.5).encode(), *scope.encode()};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool decodeOnly = argc > 1 && std::strcmp(argv[1], "decode") == 0;
    const long count = argc > 2 ? std::atol(argv[2]) : 200'000;
    const auto mix = packetMix();
    const int cameras = 7;

    auto folder = std::filesystem::temp_directory_path() / ("bench-intake-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    Defaults defaults(folder / "defaults.json");
    defaults.set("importsFiles", false);
    auto main = std::make_shared<ManualExecutor>();
    auto link = std::make_shared<ScriptedLink>();
    MonitorEnvironment env;
    env.mainExecutor = main;
    env.defaults = &defaults;
    env.fallbackFolder = folder / "unfiled";
    env.makeLink = [link](int) -> std::shared_ptr<CameraLink> { return link; };
    auto controller = MonitorController::create(cameras, false, [] { return 0.0; }, env);
    std::vector<CameraLink::Peer> peers;
    for (int i = 0; i < cameras; ++i) {
        PeerId id{Uuid()};
        controller->registerReceiver(id);
        peers.push_back({id, "Camera " + std::to_string(i + 1)});
    }
    controller->updatePeers(peers);

    std::size_t applied = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        const auto& packet = mix[static_cast<std::size_t>(i) % mix.size()];
        const auto& peer = peers[static_cast<std::size_t>(i / static_cast<long>(mix.size())) % peers.size()].id;
        if (decodeOnly) {
            switch (*packetKind(packet)) {
                case PacketType::status:
                    applied += decodeMessage<CameraStatus>(packet).has_value();
                    break;
                case PacketType::scope:
                    applied += ScopeImage::decode(packet).has_value();
                    break;
                case PacketType::histogram:
                    applied += HistogramPacket::decode(packet).has_value();
                    break;
                case PacketType::audioLevel:
                    applied += AudioLevelPacket::decode(packet).has_value();
                    break;
                default:
                    applied += LevelPacket::decode(packet).has_value();
            }
        } else {
            controller->handlePeerData(packet, peer);
            if (i % 64 == 63) applied += main->runPending();
        }
    }
    applied += main->runPending();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %zu packets in %.3f s, %.0f packets/s\n", decodeOnly ? "decode" : "controller", applied, seconds,
                static_cast<double>(applied) / seconds);
    controller.reset();
    std::filesystem::remove_all(folder);
    return applied == static_cast<std::size_t>(count) ? 0 : 1;
}
