#include "platform/nearby_config.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace morvane::nearby {

bool loopbackOnly() {
    const char* value = std::getenv("MORVANE_TEST_LOOPBACK_ONLY");
    return value && *value && std::strcmp(value, "0") != 0;
}

bool isLoopbackAddress(const std::string& address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
    return (ntohl(parsed.s_addr) >> 24) == 127;
}

std::vector<std::string> multicastInterfaces() {
    std::vector<std::string> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    for (auto* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        const unsigned flags = it->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_MULTICAST) || (flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
        if (std::find(result.begin(), result.end(), text) == result.end()) result.emplace_back(text);
    }
    freeifaddrs(list);
    return result;
}

NearbyConfig NearbyConfig::resolved() const {
    NearbyConfig out = *this;
    if (out.group.empty()) {
        const char* env = std::getenv("MORVANE_NEARBY_GROUP");
        out.group = env && *env ? env : defaultGroup;
    }
    if (out.port == 0) {
        out.port = defaultPort;
        if (const char* env = std::getenv("MORVANE_NEARBY_PORT")) {
            unsigned value = 0;
            const auto* end = env + std::strlen(env);
            auto [ptr, ec] = std::from_chars(env, end, value);
            if (ec == std::errc() && ptr == end && value > 0 && value <= 65535)
                out.port = static_cast<std::uint16_t>(value);
        }
    }
    if (loopbackOnly()) {
        out.interfaces = {"127.0.0.1"};
    } else if (out.interfaces.empty()) {
        out.interfaces = multicastInterfaces();
    }
    return out;
}

}  // namespace morvane::nearby
