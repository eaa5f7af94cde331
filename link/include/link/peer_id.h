#pragma once

#include "platform/uuid.h"

#include <compare>
#include <functional>
#include <string>

namespace morvane {

/// A peer's identity on the link: the instance of its session, as it announced itself nearby (cameras) or greeted
/// us (remotes). A device that restarts its session comes back with a new identity.
struct PeerId {
    Uuid instance;

    std::string text() const { return instance.uuidString(); }

    friend bool operator==(const PeerId&, const PeerId&) = default;
    friend auto operator<=>(const PeerId&, const PeerId&) = default;
};

}  // namespace morvane

template <>
struct std::hash<morvane::PeerId> {
    std::size_t operator()(const morvane::PeerId& id) const noexcept { return std::hash<morvane::Uuid>()(id.instance); }
};
