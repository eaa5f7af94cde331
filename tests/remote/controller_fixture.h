#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "deck/retouch_library.h"
#include "link/usb_hub.h"
#include "platform/defaults.h"
#include "platform/keychain.h"
#include "platform/manual_executor.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "remote/monitor_controller.h"
#include "scripted_link.h"
#include "shoot_library/shoot_library.h"

namespace morvane {

/// A controller with a scripted link, a main queue whose clock the test moves, a settable wall clock, and real
/// libraries, settings and USB hub in a temporary folder.
class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The hub asks a multiplexing service that is not there, quietly.
        static const bool muxd = [] {
            setenv("USBMUXD_SOCKET_ADDRESS", "UNIX:/tmp/morvane-remote-test-no-usbmuxd", 1);
            return true;
        }();
        (void)muxd;
        ASSERT_TRUE(dir.isValid());
        root = std::filesystem::path(dir.path().toStdString());
        defaults = std::make_unique<Defaults>(root / "defaults.json");
        shoot = std::make_unique<ShootLibrary>(ShootLibrary::Environment{defaults.get(), root / "Movies"});
        retouch = std::make_unique<RetouchLibrary>(root / "Retouch", root / "Program");
        main = std::make_shared<ManualExecutor>();
        link = std::make_shared<ScriptedLink>();
    }

    void TearDown() override {
        if (controller && controller->isStarted()) controller->stop();
        controller.reset();
        MonitorController::stopSharedLink();
    }

    MonitorEnvironment environment() {
        MonitorEnvironment env;
        env.mainExecutor = main;
        env.now = [this] { return clock; };
        env.defaults = defaults.get();
        env.shootLibrary = shoot.get();
        env.retouchLibrary = retouch.get();
        env.fallbackFolder = root / "Unfiled";
        env.makeLink = [this](int maxCameras) -> std::shared_ptr<CameraLink> {
            auto made = nextLinks.empty() ? link : nextLinks.front();
            if (!nextLinks.empty()) nextLinks.erase(nextLinks.begin());
            made->setMaxCameras(maxCameras);
            ++linksMade;
            return made;
        };
        env.makeUSBHub = [this] {
            USBHub::Options options;
            options.keychain = std::make_shared<Keychain>(root / "keychain");
            options.temporaryFolder = root / "usb";
            return std::make_shared<USBHub>(options);
        };
        return env;
    }

    std::shared_ptr<MonitorController> make(bool sharedLink = false, double offset = 0) {
        controller = MonitorController::create(
            4, sharedLink, [offset] { return offset; }, environment());
        return controller;
    }

    static PeerId peer(int n) {
        std::array<std::uint8_t, 16> bytes{};
        bytes[15] = static_cast<std::uint8_t>(n);
        bytes[6] = 0x40;
        return PeerId{Uuid(bytes)};
    }

    /// The link reports these ready peers (connecting any not seen before) and its new list.
    void connect(const std::vector<std::pair<int, std::string>>& cameras) {
        std::vector<CameraLink::Peer> list;
        for (const auto& [n, name] : cameras) {
            if (!registered.count(n)) {
                controller->registerReceiver(peer(n));
                registered.insert(n);
            }
            list.push_back({peer(n), name});
        }
        controller->updatePeers(list);
    }

    void deliver(const Bytes& packet, int n) {
        controller->handlePeerData(packet, peer(n));
        main->runPending();
    }

    template <class T>
    void deliverMessage(PacketType kind, const T& value, int n) {
        auto packet = encodeMessage(kind, value);
        ASSERT_TRUE(packet);
        deliver(*packet, n);
    }

    void status(int n, const CameraStatus& s = {}) { deliverMessage(PacketType::status, s, n); }

    std::vector<std::string> commandNames(int n) const { return link->commandNamesTo(peer(n)); }

    QTemporaryDir dir;
    std::filesystem::path root;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<ShootLibrary> shoot;
    std::unique_ptr<RetouchLibrary> retouch;
    std::shared_ptr<ManualExecutor> main;
    std::shared_ptr<ScriptedLink> link;
    std::vector<std::shared_ptr<ScriptedLink>> nextLinks;
    int linksMade = 0;
    std::set<int> registered;
    Date clock{800'000'000};
    std::shared_ptr<MonitorController> controller;
};

}  // namespace morvane
