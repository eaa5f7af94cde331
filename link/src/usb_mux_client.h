#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvane::usb_mux {

/// A phone attached through the platform's USB multiplexing service.
struct Device {
    std::uint32_t handle = 0;
    std::string udid;
};

/// The phones attached by cable now; none when the service cannot be reached or answers nonsense.
std::optional<std::vector<Device>> attachedDevices();

/// A stream to `port` on the phone, or a negative errno value.
int connect(std::uint32_t handle, std::uint16_t port);

}  // namespace morvane::usb_mux
