// Files from the cameras: over the peer link into the shoot library or the take
// library, over the cable into the shoot library, and the fallback folder for
// files that cannot be filed.

#include <QVariant>

#include <functional>
#include <stdexcept>

#include "deck/retouch_library.h"
#include "monitor_controller_tables.h"
#include "platform/file_moves.h"
#include "platform/log.h"
#include "remote/monitor_controller.h"
#include "remote/notification_hub.h"
#include "shoot_library/shoot_library.h"

namespace morvane {

namespace {

constexpr const char* logComponent = "MonitorController";

// The key under which a transfer was announced: the canonical text of a UUID
// name, else the name itself.
std::string transferKey(const std::string& name) {
    if (auto id = Uuid::parse(name)) return id->uuidString();
    return name;
}

// Keeps a file that could not be filed, under one clean name inside the
// fallback folder, before its owner deletes it. Nothing a camera sent decides
// where it goes beyond that name. False when it could not be kept: the sender
// must then keep its copy.
bool keepInFallback(const std::filesystem::path& folder, const std::filesystem::path& file, const TransferInfo& info) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const auto idText = info.id.uuidString();
    const auto stem = std::filesystem::path(info.fileName).filename().stem().string();
    const auto base = ShootLibrary::cleanFileName(stem, idText);
    const auto extension = ShootLibrary::fileExtension(info.fileName, info.isVideo);
    // The sender forgets its copy once answered: the kept file must last.
    if (placeFileUnderFreeName(file, folder, base, "." + extension, error, {.forUser = true})) return true;
    log::error(logComponent, "couldn't keep a received file in " + folder.string() + ": " + error.message());
    return false;
}

// Neither filed nor kept: the file is answered as not received, so that the
// camera keeps it and sends it again.
[[noreturn]] void throwNotKept(const std::string& camera) {
    throw std::runtime_error("a file from " + camera + " could be neither filed nor kept aside");
}

// The description of a file that arrives without one: a video named after its
// identifier (a fresh one when the name is none), dated now.
TransferInfo provisionalInfo(const std::string& name, Date now) {
    TransferInfo info;
    info.id = Uuid::parse(name).value_or(Uuid());
    info.fileName = info.id.uuidString() + ".mov";
    info.capturedAt = now;
    info.isVideo = true;
    return info;
}

// Files a capture in the shoot library, or keeps it aside when that fails, and
// hands the outcome's text to `show`.
void fileCapture(const MonitorController::Environment& environment, const std::filesystem::path& file,
                 const TransferInfo& info, const std::string& camera, const std::function<void(std::string)>& show) {
    auto& library = environment.shootLibrary ? *environment.shootLibrary : ShootLibrary::shared();
    try {
        const auto filed = library.importFile(file, info, camera);
        show("Saved " + filed.filename().string());
    } catch (const std::exception& error) {
        log::error(logComponent, std::string("couldn't file a capture: ") + error.what());
        show("Couldn't save a file from " + camera);
        if (!keepInFallback(environment.fallbackFolder, file, info)) throwNotKept(camera);
    }
}

}  // namespace

std::optional<MonitorController::IncomingFile> MonitorController::takeIncoming(const std::string& key) {
    std::lock_guard lock(receiversLock_);
    return incoming_->take(key);
}

void MonitorController::receiveShootFile(const std::filesystem::path& file, const std::string& name,
                                         const PeerId& peer) {
    TransferInfo info;
    std::string camera;
    {
        std::lock_guard lock(receiversLock_);
        if (auto entry = incoming_->take(transferKey(name))) {
            info = std::move(entry->info);
            camera = std::move(entry->camera);
        } else {
            info = provisionalInfo(name, env_.now());
            auto known = cameraNames_.find(peer);
            camera = known != cameraNames_.end() ? known->second : "Camera";
        }
    }
    fileCapture(env_, file, info, camera, [this](std::string text) { showMessageLater(std::move(text)); });
}

void MonitorController::receiveShootFile(const Environment& environment, const std::filesystem::path& file,
                                         const std::string& name) {
    fileCapture(environment, file, provisionalInfo(name, environment.now()), "Camera", [](std::string) {});
}

void MonitorController::receiveResource(const std::filesystem::path& file, const std::string& name,
                                        const PeerId& peer) {
    std::optional<IncomingFile> entry;
    std::string camera;
    {
        std::lock_guard lock(receiversLock_);
        entry = incoming_->take(transferKey(name));
        if (entry) {
            camera = entry->camera;
        } else {
            auto known = cameraNames_.find(peer);
            camera = known != cameraNames_.end() ? known->second : "Camera";
        }
    }
    if (!entry) return;  // a deck copy nobody announced is not kept
    try {
        retouchLibrary().importClip(file, entry->info, camera);
    } catch (const std::exception& error) {
        log::error(logComponent, std::string("couldn't keep a deck copy: ") + error.what());
        showMessageLater("Couldn't keep a take from " + camera);
        if (!keepInFallback(env_.fallbackFolder, file, entry->info)) throwNotKept(camera);
    }
}

void MonitorController::importReceivedFile(const std::weak_ptr<MonitorController>& controller,
                                           const Environment& environment, const std::filesystem::path& file,
                                           const TransferInfo& info, const std::string& camera) {
    auto& library = environment.shootLibrary ? *environment.shootLibrary : ShootLibrary::shared();
    try {
        const auto filed = library.importFile(file, info, camera);
        showMessageLater(controller, environment, "Saved " + filed.filename().string() + " (USB)");
    } catch (const std::exception& error) {
        log::error(logComponent, std::string("couldn't file a capture from the cable: ") + error.what());
        showMessageLater(controller, environment, "Couldn't save a file from " + camera);
        if (!keepInFallback(environment.fallbackFolder, file, info)) throwNotKept(camera);
    }
}

void MonitorController::handleDeckEditExported(const QVariant& object) {
    if (object.metaType() != QMetaType::fromType<DeckEdit>()) return;
    send(CameraCommand::DeckEdit{object.value<DeckEdit>()});
}

}  // namespace morvane
