#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "deck/retouch_library.h"
#include "link/peer_session.h"
#include "platform/defaults.h"
#include "platform/keychain.h"
#include "qt_main_executor.h"
#include "remote/camera_link.h"
#include "remote/monitor_controller.h"
#include "shoot_library/shoot_library.h"

#include <unistd.h>

namespace morvane::test {

/// A discovery group and port of this run's own, so that runs at the same time never see each other's cameras.
struct Discovery {
    std::string group;
    std::uint16_t port = 0;
};

inline Discovery privateDiscovery() {
    std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
    Discovery d;
    d.group = "239.255." + std::to_string(100 + random() % 100) + "." + std::to_string(1 + random() % 250);
    d.port = static_cast<std::uint16_t>(40000 + random() % 20000);
    return d;
}

/// What a remote needs around its controller, with every store in `root` and a link that finds cameras on
/// 127.0.0.1 only, on the test's own discovery group and port. Stays where it was made: the environment points
/// at its members.
struct LoopbackRemote {
    LoopbackRemote(const std::filesystem::path& root, const std::string& group, std::uint16_t port)
        : defaults(root / "defaults.json"),
          shoot(ShootLibrary::Environment{&defaults, root / "Movies"}),
          retouch(root / "Retouch", root / "Program") {
        env.mainExecutor = QtMainExecutor::shared();
        env.defaults = &defaults;
        env.shootLibrary = &shoot;
        env.retouchLibrary = &retouch;
        env.fallbackFolder = root / "Unfiled";
        options.keychain = std::make_shared<Keychain>(root / "remote" / "keychain");
        options.interfaces = {"127.0.0.1"};
        options.multicastGroup = group;
        options.multicastPort = port;
        options.temporaryFolder = root / "incoming";
        options.mainExecutor = env.mainExecutor;
        env.makeLink = [options = options](int maxCameras) -> std::shared_ptr<CameraLink> {
            return PeerSessionLink::makeMonitor(maxCameras, options);
        };
    }
    LoopbackRemote(const LoopbackRemote&) = delete;
    LoopbackRemote& operator=(const LoopbackRemote&) = delete;

    Defaults defaults;
    ShootLibrary shoot;
    RetouchLibrary retouch;
    MonitorEnvironment env;
    PeerSession::Options options;
};

}  // namespace morvane::test
