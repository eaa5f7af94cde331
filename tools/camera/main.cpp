// A camera for tests and the screenshot program: the camera role on the synthetic picture (or a V4L2 device),
// on the real peer link. It pairs when the code the remote shows is given on the command line or typed on
// standard input, and reports what happens on standard output, one line per event.
//
//   brindlecroft-camera --name "Cam A" --folder DIR [--code 123456] [--device /dev/video0] [--size 1280x720]
//                       [--fps 30] [--usb-port N]
//
// --fps takes whole and NTSC rates alike: 25, 23.976, 29.97 (drop-frame timecode), 59.94.

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "camera/camera_controller.h"
#include "link/device_identity.h"
#include "platform/device_source.h"
#include "platform/keychain.h"
#include "platform/synthetic_source.h"
#include "qt_main_executor.h"

using namespace morvane;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int usage() {
    std::fprintf(stderr,
                 "usage: brindlecroft-camera --name NAME --folder DIR [--code CODE] [--device PATH] "
                 "[--size WxH] [--fps N] [--usb-port N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string name = "Camera", folder, code, device;
    int width = 1280, height = 720, usbPort = -1;
    double fps = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--name") {
            name = value();
        } else if (arg == "--folder") {
            folder = value();
        } else if (arg == "--code") {
            code = value();
        } else if (arg == "--device") {
            device = value();
        } else if (arg == "--size") {
            if (std::sscanf(value().c_str(), "%dx%d", &width, &height) != 2) return usage();
        } else if (arg == "--fps") {
            fps = std::atof(value().c_str());
        } else if (arg == "--usb-port") {
            usbPort = std::atoi(value().c_str());
        } else {
            return usage();
        }
    }
    if (folder.empty() || width <= 0 || height <= 0 || !(fps >= 1 && fps <= 120)) return usage();
    const SourceMode rate = sourceModeFor({width, height}, nominalRate(fps).first, nominalRate(fps).second);

    auto main = QtMainExecutor::shared();
    auto keychain = std::make_shared<Keychain>(std::filesystem::path(folder) / "keychain");
    DeviceIdentity(keychain).setDeviceName(name);

    CameraController::Options options;
    options.folder = folder;
    options.main = main;
    options.keychain = keychain;
    if (usbPort >= 0) {
        USBServer::Options usb;
        usb.port = static_cast<std::uint16_t>(usbPort);
        options.usb = usb;
    }
    std::shared_ptr<CameraController> controller;
    options.acceptPairing = [&](const PeerSession::PairingRequest& request) -> std::optional<bool> {
        say("pairing " + request.name + " " + request.code);
        if (!code.empty()) return request.code == code;
        return std::nullopt;  // answered from standard input
    };
    controller = CameraController::make(options);
    controller->onTakeFinished = [](const CameraStreamer::Take& take) {
        say("take " + take.entry.info.id.uuidString() + " " + take.entry.info.fileName);
    };

    std::unique_ptr<CaptureSource> source;
    if (!device.empty()) {
        source = std::make_unique<DeviceSource>(
            DeviceSource::Settings{device, width, height, rate.rateNumerator, "", "", rate.rateDenominator});
    } else {
        SyntheticSource::Settings settings;
        settings.width = width & ~1;
        settings.height = height & ~1;
        settings.rateNumerator = rate.rateNumerator;
        settings.rateDenominator = rate.rateDenominator;
        source = std::make_unique<SyntheticSource>(settings);
    }
    std::string failure;
    if (!controller->start(std::move(source), &failure)) {
        std::fprintf(stderr, "brindlecroft-camera: %s\n", failure.c_str());
        return 1;
    }
    say("ready " + name);

    // Codes typed on standard input answer the open pairing request; "cuts" prints the program cuts heard so far;
    // "quit" ends the program.
    std::thread input([main, weak = std::weak_ptr<CameraController>(controller)] {
        std::string line;
        while (std::getline(std::cin, line)) {
            main->async([weak, line] {
                auto c = weak.lock();
                if (!c) return;
                if (line == "quit") {
                    QCoreApplication::quit();
                } else if (line == "cuts") {
                    for (const auto& cut : c->cutLog().cuts()) say("cut " + cut.camera);
                    say("cuts-end");
                } else if (auto request = c->pairingRequest()) {
                    c->answerPairing(line == request->code);
                }
            });
        }
    });
    input.detach();  // blocked on standard input until the process ends
    const int rc = QCoreApplication::exec();
    controller->stop();
    return rc;
}
