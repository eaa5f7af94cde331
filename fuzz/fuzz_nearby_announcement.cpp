// Discovery datagrams from anybody on the local network.

#include "fuzz_support.h"
#include "platform/nearby_beacon.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    using morvane::nearby::NearbyAnnouncement;
    const std::string_view serviceType = "morvane";
    auto announcement = NearbyAnnouncement::decode(fuzz::text({data, size}), serviceType);
    if (!announcement) return 0;
    const auto again = announcement->encode(serviceType);
    if (again.empty()) return 0;  // too long to send again: allowed
    fuzz::require(again.size() <= NearbyAnnouncement::maxDatagram, "an announcement longer than a datagram");
    auto reread = NearbyAnnouncement::decode(again, serviceType);
    fuzz::require(reread && *reread == *announcement, "an announcement changed on its way back");
    return 0;
}
