#pragma once

// A remote screen whose controller talks to a scripted link on the Qt main queue, with real settings and
// libraries in a temporary folder.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "../remote/scripted_link.h"
#include "app/monitor_screen.h"
#include "app/screen_saver_inhibitor.h"
#include "deck/retouch_library.h"
#include "link/usb_hub.h"
#include "platform/defaults.h"
#include "platform/keychain.h"
#include "qt_main_executor.h"
#include "qt_wait.h"
#include "shoot_library/shoot_library.h"

namespace morvane {

using test::eventually;

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        static const bool muxd = [] {
            setenv("USBMUXD_SOCKET_ADDRESS", "UNIX:/tmp/morvane-app-test-no-usbmuxd", 1);
            return true;
        }();
        (void)muxd;
        ASSERT_TRUE(dir.isValid());
        root = std::filesystem::path(dir.path().toStdString());
        defaults = std::make_unique<Defaults>(root / "defaults.json");
        shoot = std::make_unique<ShootLibrary>(ShootLibrary::Environment{defaults.get(), root / "Movies"});
        retouch = std::make_unique<RetouchLibrary>(root / "Retouch", root / "Program");
        link = std::make_shared<ScriptedLink>();
    }

    void TearDown() override {
        screen.reset();
        QCoreApplication::processEvents();
    }

    MonitorScreenOptions options() {
        MonitorScreenOptions o;
        o.sharedLink = false;
        o.makeInhibitor = [] { return std::unique_ptr<ScreenSaverInhibitor>(); };
        auto& env = o.environment;
        env.mainExecutor = QtMainExecutor::shared();
        env.defaults = defaults.get();
        env.shootLibrary = shoot.get();
        env.retouchLibrary = retouch.get();
        env.fallbackFolder = root / "Unfiled";
        env.makeLink = [this](int maxCameras) -> std::shared_ptr<CameraLink> {
            link->setMaxCameras(maxCameras);
            return link;
        };
        env.makeUSBHub = [this] {
            USBHub::Options hub;
            hub.keychain = std::make_shared<Keychain>(root / "keychain");
            hub.temporaryFolder = root / "usb";
            return std::make_shared<USBHub>(hub);
        };
        return o;
    }

    MonitorScreen& make() {
        screen = std::make_unique<MonitorScreen>(options());
        screen->resize(1280, 800);
        return *screen;
    }

    MonitorController& controller() { return screen->controller(); }

    static PeerId peer(int n) {
        std::array<std::uint8_t, 16> bytes{};
        bytes[15] = static_cast<std::uint8_t>(n);
        bytes[6] = 0x40;
        return PeerId{Uuid(bytes)};
    }

    /// The link reports these cameras connected, in this order.
    void connect(const std::vector<std::pair<int, std::string>>& cameras) {
        std::vector<CameraLink::Peer> list;
        for (const auto& [n, name] : cameras) {
            controller().registerReceiver(peer(n));
            list.push_back({peer(n), name});
        }
        controller().updatePeers(list);
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    std::filesystem::path root;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<ShootLibrary> shoot;
    std::unique_ptr<RetouchLibrary> retouch;
    std::shared_ptr<ScriptedLink> link;
    std::unique_ptr<MonitorScreen> screen;
};

}  // namespace morvane
