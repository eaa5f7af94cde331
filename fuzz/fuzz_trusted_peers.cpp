// The trusted-peers keychain item as read from disk.

#include "fuzz_support.h"
#include "link/trusted_peers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    const auto peers = TrustedPeers::decode(Bytes(data, data + size));
    if (peers.empty()) return 0;
    const auto text = TrustedPeers::encode(peers);
    const auto again = TrustedPeers::decode(Bytes(text.begin(), text.end()));
    fuzz::require(again == peers, "the trusted list changed on its way through writing and reading");
    return 0;
}
