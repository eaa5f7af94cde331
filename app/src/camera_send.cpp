#include "app/camera_send.h"

#include "protocol/message_codec.h"
#include "remote/monitor_controller.h"

namespace morvane {

void sendToCamera(const MonitorController& controller, const PeerId& camera, const CameraCommand& command) {
    const auto& link = controller.peers();
    if (!link) return;
    auto packet = encodeMessage(PacketType::command, command);
    if (!packet) return;
    link->sendTo(*packet, camera);
}

}  // namespace morvane
