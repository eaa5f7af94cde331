#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::nearby {

/// Where discovery and sessions run on the network.
///
/// The test command sets MORVANE_TEST_LOOPBACK_ONLY=1; then every process uses 127.0.0.1 only, whatever is asked
/// here: discovery joins and sends on the loopback interface, listeners bind to it, and connections to any address
/// outside 127.0.0.0/8 are refused. MORVANE_NEARBY_GROUP and MORVANE_NEARBY_PORT override the multicast group and port
/// when the options leave them open, so that concurrent test programs keep to themselves.
struct NearbyConfig {
    static constexpr const char* defaultGroup = "239.255.77.43";
    static constexpr std::uint16_t defaultPort = 47443;

    /// IPv4 addresses of the interfaces to use; empty: every interface that is up and multicast-capable.
    std::vector<std::string> interfaces;
    /// Multicast group; empty: MORVANE_NEARBY_GROUP, else `defaultGroup`.
    std::string group;
    /// Multicast port; 0: MORVANE_NEARBY_PORT, else `defaultPort`.
    std::uint16_t port = 0;

    /// The group, port and interfaces in force, after the environment and the loopback rule.
    NearbyConfig resolved() const;
};

/// True when MORVANE_TEST_LOOPBACK_ONLY is set to anything but "" or "0".
bool loopbackOnly();

/// True for an IPv4 address in 127.0.0.0/8.
bool isLoopbackAddress(const std::string& address);

/// IPv4 addresses of the interfaces that are up, multicast-capable and not loopback.
std::vector<std::string> multicastInterfaces();

}  // namespace morvane::nearby
