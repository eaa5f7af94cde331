#pragma once

#include "link/device_identity.h"
#include "link/trusted_peers.h"
#include "link/usb_link.h"
#include "platform/crypto.h"
#include "platform/keychain.h"
#include "protocol/transfer_info.h"
#include "scoped_env.h"
#include "temp_dir.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace morvane::test {

/// A device's keychain with a name.
std::shared_ptr<Keychain> makeDevice(const std::filesystem::path& folder, const std::string& name);
/// Each of the two trusts the other in its role.
void pair(const std::shared_ptr<Keychain>& camera, const std::shared_ptr<Keychain>& remote);

TransferInfo sampleInfo(const std::string& fileName = "2026-03-05 14.07.09 Cam A.mov");

/// Writes `size` bytes that differ from MiB to MiB (so that a lost or repeated piece changes the content) and
/// returns their SHA-256.
crypto::Digest makeFile(const std::filesystem::path& path, std::uint64_t size, std::uint32_t seed = 1);
crypto::Digest fileDigest(const std::filesystem::path& path);

/// Regular files anywhere under the folder.
std::size_t countFiles(const std::filesystem::path& folder);

/// Polls until the condition holds or the time is up; returns the condition's last value.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

/// A camera that speaks the link by hand, to send what a sound camera never would.
class RawCamera {
public:
    RawCamera(int fd, std::shared_ptr<Keychain> keychain);
    USBLink::Handshake::Outcome greet();
    bool start(const TransferInfo& info, std::uint64_t size);
    bool data(const Bytes& bytes);
    bool end(const crypto::Digest& digest);
    /// Sends a whole file in one go: start, data, end with the given digest.
    bool sendFile(const TransferInfo& info, const Bytes& content, const crypto::Digest& digest);
    std::optional<USBLink::Ack> waitAck(int timeoutMs = 10000);
    /// True when the other side closes the link within the time.
    bool waitClosed(int timeoutMs = 10000);
    USBLink::Channel& channel() { return channel_; }

private:
    USBLink::Channel channel_;
    std::shared_ptr<Keychain> keychain_;
};

/// A TCP listener on 127.0.0.1 with a free port.
class Listener {
public:
    Listener();
    ~Listener();
    std::uint16_t port() const { return port_; }
    /// The next connection, or -1 when none comes in time.
    int accept(int timeoutMs);

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace morvane::test
