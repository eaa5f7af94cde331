#pragma once

#include "link/peer_id.h"
#include "protocol/camera_command.h"

namespace morvane {

class MonitorController;

/// Sends one command to one camera alone, past the controller's routing (the shutter-target switch does not
/// apply): the command packet is handed to the controller's link for that camera. A command that cannot be
/// encoded, or a controller without a link, sends nothing.
void sendToCamera(const MonitorController& controller, const PeerId& camera, const CameraCommand& command);

}  // namespace morvane
