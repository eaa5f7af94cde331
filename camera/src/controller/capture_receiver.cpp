#include "camera/capture_receiver.h"

#include <algorithm>

namespace morvane {

std::optional<PeerId> captureReceiver(const std::set<PeerId>& takingFiles, const std::set<PeerId>& decks) {
    const auto library =
        std::find_if(takingFiles.begin(), takingFiles.end(), [&](const PeerId& peer) { return !decks.count(peer); });
    if (library == takingFiles.end()) return std::nullopt;
    return *library;
}

}  // namespace morvane
