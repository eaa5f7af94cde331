#pragma once

#include <optional>
#include <set>

#include "link/peer_id.h"

namespace morvane {

/// The remote that gets the camera's next capture, of those that said they take files (`takingFiles`): the first
/// that files captures in its shoot library. A deck (`decks`: the peers that asked for deck copies) collects its
/// copies on their own road and never gets a capture: one handed to it would never reach the shoot library, and
/// nobody would be told. A deck of an older kind says it takes files as well; asking for copies gives it away. None
/// while no remote files captures: they wait on the camera, counted in its status.
std::optional<PeerId> captureReceiver(const std::set<PeerId>& takingFiles, const std::set<PeerId>& decks);

}  // namespace morvane
