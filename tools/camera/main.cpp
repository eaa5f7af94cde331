// The camera for this remote on Linux: the camera role on a V4L2 camera and a microphone (or, with no device
// named, on a synthetic picture and tone), on the real peer link. It reports what happens on standard output,
// one line per event, and takes the pairing code the remote shows, typed on standard input or given with
// --code. Ctrl+C or SIGTERM finishes a running take, keeps it and then ends the program.

#include <QCoreApplication>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "camera/camera_controller.h"
#include "link/device_identity.h"
#include "platform/device_source.h"
#include "platform/keychain.h"
#include "platform/synthetic_source.h"
#include "qt_main_executor.h"
#include "quit_on_signals.h"

using namespace morvane;

namespace {

constexpr const char* helpText =
    "Usage: brindlecroft-camera [options]\n"
    "\n"
    "Films for a Brindlecroft remote on the same local network: the remote lists this camera under its\n"
    "nearby cameras; click it there, then type here the six-digit code the remote shows.\n"
    "\n"
    "Options:\n"
    "  --name NAME          the name the remote shows (default: this computer's host name)\n"
    "  --device PATH        the V4L2 camera, e.g. /dev/video0 (default: a synthetic test picture)\n"
    "  --microphone SOURCE  with --device, the sound source: pulse:default, pulse:<source> or\n"
    "                       alsa:<device> (default: no sound; the synthetic picture has a test tone)\n"
    "  --size WxH           the picture size to ask the camera for (default 1280x720), 16 to 8192\n"
    "                       a side and at most 8192x4320 in all\n"
    "  --fps N              frames per second, 1 to 120 (default 30); NTSC rates as 23.976, 29.97\n"
    "                       (drop-frame timecode) or 59.94\n"
    "  --folder DIR         where takes, keys, trusted remotes and settings are kept\n"
    "                       (default: ~/.local/share/brindlecroft-camera); one camera program per folder\n"
    "  --code CODE          accept a pairing only with this code, without asking\n"
    "  --usb-port N         also listen for a remote on the USB cable's port N (1 to 65535)\n"
    "  --list-devices       list the cameras and microphones this computer has, then exit\n"
    "  --help               show this help, then exit\n"
    "  --version            show the version, then exit\n"
    "\n"
    "While it runs, type a pairing code and Enter to answer a remote's pairing request (Enter alone refuses),\n"
    "or \"quit\". Ctrl+C finishes a running take and keeps it before the program ends.\n";

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int usage(const std::string& problem) {
    std::fprintf(stderr, "brindlecroft-camera: %s\nTry 'brindlecroft-camera --help'.\n", problem.c_str());
    return 2;
}

void listDevices() {
    const auto cameras = listVideoDevices();
    std::printf("Cameras (--device):\n");
    if (cameras.empty()) std::printf("  none found\n");
    for (const auto& camera : cameras) std::printf("  %s  %s\n", camera.path.c_str(), camera.name.c_str());
    std::printf("Microphones (--microphone):\n  pulse:default  the desktop's default input\n");
    // The sound server names its sources; pactl is there wherever PulseAudio or PipeWire's pulse server is.
    if (std::FILE* sources = ::popen("pactl list short sources 2>/dev/null", "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, sources)) {
            // "<index>\t<name>\t<driver>\t…": the name is what the option takes; monitors of outputs are not
            // microphones.
            std::string line(buffer);
            const auto first = line.find('\t');
            const auto second = first == std::string::npos ? first : line.find('\t', first + 1);
            if (second == std::string::npos) continue;
            const std::string name = line.substr(first + 1, second - first - 1);
            if (name.size() > 8 && name.compare(name.size() - 8, 8, ".monitor") == 0) continue;
            std::printf("  pulse:%s\n", name.c_str());
        }
        ::pclose(sources);
    }
    std::fflush(stdout);
}

// Holds the folder for this process until it ends: one camera per folder, since the folder is the camera (its
// identity key, its name, its takes). The lock goes with the process, however it ends. Empty when claimed, else
// why not: a lock that cannot be taken is never taken as held, or two cameras would share one identity.
std::string claimFolder(const std::filesystem::path& folder) {
    const auto lock = folder / "camera.lock";
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return "can't take the lock " + lock.string() + " (" + std::strerror(errno) +
               "); give the camera a folder of its own with --folder DIR";
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return {};  // held, never closed, until the process ends
    ::close(fd);
    return "another camera program is using " + folder.string() +
           "; give each camera on this computer a folder of its own with --folder DIR";
}

// A whole number in decimal and nothing else; none for anything else, or one beyond an int.
std::optional<int> wholeNumber(const std::string& text) {
    int number = 0;
    const auto* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, number);
    if (text.empty() || error != std::errc() || at != end) return std::nullopt;
    return number;
}

// "WIDTHxHEIGHT" of a size the camera can film.
std::optional<std::pair<int, int>> filmableSize(const std::string& text) {
    const auto x = text.find('x');
    if (x == std::string::npos) return std::nullopt;
    const auto width = wholeNumber(text.substr(0, x)), height = wholeNumber(text.substr(x + 1));
    if (!width || !height || !FilmableSize::contains(*width, *height)) return std::nullopt;
    return std::pair{*width, *height};
}

std::string hostName() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0 || !buffer[0]) return "Camera";
    return buffer;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brindlecroft-camera"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
    std::string name = hostName(), folder, code, device, microphone;
    int width = 1280, height = 720, usbPort = -1;
    double fps = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool missing = false;
        auto value = [&]() -> std::string {
            if (i + 1 < argc) return argv[++i];
            missing = true;
            return "";
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(helpText, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("brindlecroft-camera %s\n", MORVANE_VERSION);
            return 0;
        } else if (arg == "--list-devices") {
            listDevices();
            return 0;
        } else if (arg == "--name") {
            name = value();
        } else if (arg == "--folder") {
            folder = value();
        } else if (arg == "--code") {
            code = value();
        } else if (arg == "--device") {
            device = value();
        } else if (arg == "--microphone") {
            microphone = value();
        } else if (arg == "--size") {
            const auto size = filmableSize(value());
            if (!size && !missing) {
                return usage("--size takes WIDTHxHEIGHT, " + std::to_string(FilmableSize::minSide) + " to " +
                             std::to_string(FilmableSize::maxSide) + " a side and at most 8192x4320 in all");
            }
            if (size) std::tie(width, height) = *size;
        } else if (arg == "--fps") {
            fps = std::atof(value().c_str());
        } else if (arg == "--usb-port") {
            const auto port = wholeNumber(value());
            if (!missing && !(port && *port >= 1 && *port <= 65535)) return usage("--usb-port takes 1 to 65535");
            if (port) usbPort = *port;
        } else {
            return usage("unknown option " + arg);
        }
        if (missing) return usage(arg + " needs a value");
    }
    if (!(fps >= 1 && fps <= 120)) return usage("--fps takes 1 to 120");
    const SourceMode rate = sourceModeFor({width, height}, nominalRate(fps).first, nominalRate(fps).second);
    if (name.empty()) return usage("the name must not be empty");
    if (folder.empty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toStdString();
        if (folder.empty()) return usage("no folder for takes: give one with --folder");
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (const auto problem = claimFolder(folder); !problem.empty()) {
        std::fprintf(stderr, "brindlecroft-camera: %s\n", problem.c_str());
        return 1;
    }

    auto main = QtMainExecutor::shared();
    auto keychain = std::make_shared<Keychain>(std::filesystem::path(folder) / "keychain");
    DeviceIdentity identity(keychain);
    identity.setDeviceName(name);
    // A name the link cannot carry whole is cut; say what the remote shows instead of cutting it silently.
    if (const std::string shown = identity.deviceName(); shown != name) {
        std::fprintf(stderr, "brindlecroft-camera: the remote shows this camera as “%s” (at most %zu characters)\n",
                     shown.c_str(), DeviceIdentity::maxNameLength);
    }

    CameraController::Options options;
    options.folder = folder;
    options.main = main;
    options.keychain = keychain;
    // Tests lay out a machine of their own, with a removable drive mounted in it.
    if (const char* root = std::getenv("MORVANE_TEST_DRIVE_ROOT"); root && *root) options.driveRoot = root;
    if (usbPort >= 0) {
        USBServer::Options usb;
        usb.port = static_cast<std::uint16_t>(usbPort);
        options.usb = usb;
    }
    std::shared_ptr<CameraController> controller;
    const bool askAtTerminal = code.empty() && ::isatty(STDIN_FILENO);
    options.acceptPairing = [&](const PeerSession::PairingRequest& request) -> std::optional<bool> {
        say("pairing " + request.name + " " + request.code);
        if (!code.empty()) return request.code == code;
        if (askAtTerminal) {
            std::fprintf(stderr,
                         "“%s” asks to pair with this camera. If it shows the code %s, type that code and press "
                         "Enter to accept; press Enter alone to refuse.\n",
                         request.name.c_str(), request.code.c_str());
        }
        return std::nullopt;  // answered from standard input
    };
    controller = CameraController::make(options);
    controller->onTakeFinished = [](const CameraStreamer::Take& take) {
        say("take " + take.entry.info.id.uuidString() + " " + take.entry.info.fileName);
    };

    std::unique_ptr<CaptureSource> source;
    if (!device.empty()) {
        source = std::make_unique<DeviceSource>(
            DeviceSource::Settings{device, width, height, rate.rateNumerator, "", microphone, rate.rateDenominator});
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
        std::fprintf(stderr, "brindlecroft-camera: %s%s\n", failure.c_str(),
                     device.empty() ? "" : " (see --list-devices)");
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
                } else if (auto request = c->pairingRequest(); request && !c->answerPairingCode(line)) {
                    say("pairing-mismatch " + request->name);
                    std::fprintf(stderr,
                                 "That is not the code %s shows. Type the code again, or press Enter alone to "
                                 "refuse.\n",
                                 request->name.c_str());
                }
            });
        }
    });
    input.detach();  // blocked on standard input until the process ends
    quitOnTerminationSignals();
    const int rc = QCoreApplication::exec();
    // A running take is finished and kept before the link goes; its entry in the take log and its report come
    // back through the event loop, which has ended, so they are delivered here.
    controller->stop();
    QCoreApplication::processEvents();
    say("stopped");
    return rc;
}
