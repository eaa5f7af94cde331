// Files from the cameras: over the peer link into the shoot library or the take
// library, over the cable into the shoot library, and the fallback folder for
// files that cannot be filed.

#include <QVariant>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <utility>

#include "deck/retouch_library.h"
#include "monitor_controller_tables.h"
#include "platform/atomic_file.h"
#include "platform/file_contents.h"
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

// A kept capture's description lies beside it, hidden: kept names never begin with a dot.
std::filesystem::path descriptionOf(const std::filesystem::path& kept) {
    return kept.parent_path() / ("." + kept.filename().string() + ".json");
}

// Keeps a file that could not be filed, under one clean name inside the
// fallback folder, before its owner deletes it. Nothing a camera sent decides
// where it goes beyond that name. None when it could not be kept: the sender
// must then keep its copy.
std::optional<std::filesystem::path> keepInFallback(const std::filesystem::path& folder,
                                                    const std::filesystem::path& file, const TransferInfo& info) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const auto idText = info.id.uuidString();
    const auto stem = std::filesystem::path(info.fileName).filename().stem().string();
    const auto base = ShootLibrary::cleanFileName(stem, idText);
    const auto extension = ShootLibrary::fileExtension(info.fileName, info.isVideo);
    // The sender forgets its copy once answered: the kept file must last.
    if (auto kept = placeFileUnderFreeName(file, folder, base, "." + extension, error, {.forUser = true})) return kept;
    log::error(logComponent, "couldn't keep a received file in " + folder.string() + ": " + error.message());
    return std::nullopt;
}

// Keeps a capture for the shoot library with what it needs to be filed later: its description and camera. Without
// its description nothing would ever file it, so a capture whose description cannot be written is not kept: it goes
// back where it came from, and the sender keeps its copy. The file kept; none when it was not.
std::optional<std::filesystem::path> keepCapture(const std::filesystem::path& folder, const std::filesystem::path& file,
                                                 const TransferInfo& info, const std::string& camera) {
    const auto kept = keepInFallback(folder, file, info);
    if (!kept) return std::nullopt;
    Json description{{"camera", camera}, {"info", info}};
    if (writeFileAtomically(descriptionOf(*kept), description.dump())) return kept;
    log::error(logComponent, "couldn't keep the description of " + kept->string());
    std::error_code error;
    if (!placeFile(*kept, file, error))
        log::error(logComponent, "couldn't take back " + kept->string() + ": " + error.message());
    return std::nullopt;
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

// A folder as a notice names it: by its name, "Unfiled".
NoticeBoard::Folder noticeFolder(const std::filesystem::path& folder, std::string name = {}) {
    const auto whole = folder.lexically_normal();
    const auto path = whole.has_filename() ? whole : whole.parent_path();
    if (name.empty()) name = path.filename().string();
    return {name.empty() ? path.string() : name, path.string()};
}

// What the notices of captures waiting in the fallback folder are about: they go once the shoot folder took them.
constexpr const char* unfiledKey = "unfiled";

// The notice for a capture that could not be filed: where it waits, when it was kept. It stays until read or until
// the shoot folder took it, and the captures of one outage are told in one.
NoticeBoard::Notice notFiledNotice(const MonitorController::Environment& environment, const std::string& camera,
                                   const std::optional<std::filesystem::path>& kept) {
    NoticeBoard::Notice notice{.text = "Couldn't save a file from " + camera, .matters = true, .stays = true};
    if (!kept) return notice;
    const auto folder = noticeFolder(environment.fallbackFolder);
    notice.text += ": kept in " + folder.name + " until the shoot folder takes it";
    // Known by the newest capture kept: read, it is not told again for the same captures waiting.
    notice.occurrence = "unfiled " + kept->filename().string();
    notice.key = unfiledKey;
    notice.subject = unfiledKey;
    notice.several =
        "Couldn't save %n files from the cameras: kept in " + folder.name + " until the shoot folder takes them";
    notice.folders = {folder};
    return notice;
}

// What a notice of a shoot folder that isn't there is about: it goes once the folder is back.
std::string shootFolderAway(const NoticeBoard::Folder& shoot) {
    return "shoot folder away " + shoot.path;
}

// What the operator reads of a capture filed: its name and, when the library filed it in the default folder because
// the shoot folder they chose is not there (a drive unplugged, say), why first, then where it went; that one stays
// until read or until the folder is back, and the captures filed so meanwhile are told in one, as files: the cameras
// of one take send one each.
NoticeBoard::Notice savedNotice(const ShootLibrary& library, const std::filesystem::path& filed, bool isVideo,
                                const std::string& how = {}) {
    const std::string name = filed.filename().string() + how;
    const auto folder = library.shootFolder();
    const auto& chosen = folder.chosen;
    const auto within = chosen ? filed.lexically_relative(*chosen) : std::filesystem::path();
    if (!chosen || (!within.empty() && *within.begin() != "..")) return {.text = "Saved " + name};
    const auto day = filed.parent_path();
    const auto shoot = noticeFolder(*chosen);
    const auto where = noticeFolder(day, day.parent_path().filename().string() + " › " + day.filename().string());
    const std::string why = "The shoot folder " + shoot.name + " isn't there" +
                            (folder.use == ShootLibrary::FolderUse::driveGone ? " (its drive isn't mounted)" : "") +
                            ": saved ";
    return {.text = why + name + " in " + where.name,
            .matters = true,
            .key = shootFolderAway(shoot) + " " + where.path + (isVideo ? " takes" : " photos"),
            .stays = true,
            .several = why + "%n " + (isVideo ? "files" : "photos") + " in " + where.name,
            .folders = {shoot, where},
            .subject = shootFolderAway(shoot)};
}

// Files a capture in the shoot library, or keeps it aside when that fails, and
// hands the outcome's text to `show`. True when it was filed.
bool fileCapture(const MonitorController::Environment& environment, const std::filesystem::path& file,
                 const TransferInfo& info, const std::string& camera,
                 const std::function<void(NoticeBoard::Notice)>& show) {
    auto& library = environment.shootLibrary ? *environment.shootLibrary : ShootLibrary::shared();
    try {
        show(savedNotice(library, library.importFile(file, info, camera), info.isVideo));
        return true;
    } catch (const std::exception& error) {
        log::error(logComponent, std::string("couldn't file a capture: ") + error.what());
        const auto kept = keepCapture(environment.fallbackFolder, file, info, camera);
        show(notFiledNotice(environment, camera, kept));
        if (!kept) throwNotKept(camera);
        return false;
    }
}

// The captures kept with their descriptions, oldest first.
std::vector<std::filesystem::path> keptCaptures(const std::filesystem::path& folder) {
    std::vector<std::pair<std::filesystem::file_time_type, std::filesystem::path>> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= 6 || name[0] != '.' || name[1] == '.' || !name.ends_with(".json")) continue;
        const auto kept = folder / name.substr(1, name.size() - 6);
        std::error_code ignored;
        if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(kept, ignored))) {
            std::filesystem::remove(it->path(), ignored);  // filed by a run that ended before it removed this
            continue;
        }
        found.emplace_back(std::filesystem::last_write_time(it->path(), ignored), kept);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::filesystem::path> kept;
    for (auto& [time, path] : found) kept.push_back(std::move(path));
    return kept;
}

// A description this program wrote; none when it cannot be read.
std::optional<std::pair<TransferInfo, std::string>> readDescription(const std::filesystem::path& file) {
    // A day's cuts fit many times over.
    const auto text = readFileContents(file, 64u << 20);
    if (!text) return std::nullopt;
    try {
        const Json json = Json::parse(*text);
        return std::pair{json.at("info").get<TransferInfo>(), json.at("camera").get<std::string>()};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

void MonitorController::shootFolderTick() {
    if (!importsFiles()) return;
    const auto folder = shootLibrary().shootFolder();
    if (folder.use != ShootLibrary::FolderUse::chosen || !folder.chosen) return;
    const auto away = shootFolderAway(noticeFolder(*folder.chosen));
    // Back: should it go again, that is news again.
    if (notices_.forget(away)) saveDismissedNotices();
    if (notices_.withdraw(away)) setMessage(notices_.text());
}

void MonitorController::tellShootFolderAway() {
    if (!importsFiles()) return;
    const auto folder = shootLibrary().shootFolder();
    if (folder.use == ShootLibrary::FolderUse::chosen || !folder.chosen) return;
    // A remote that starts says so at once, not once a capture is filed elsewhere; read, it is not said again until
    // the folder was back.
    const auto shoot = noticeFolder(*folder.chosen);
    const auto away = shootFolderAway(shoot);
    const auto instead = noticeFolder(folder.folder);
    postNotice({.text = "The shoot folder " + shoot.name + " isn't there" +
                        (folder.use == ShootLibrary::FolderUse::driveGone ? " (its drive isn't mounted)" : "") +
                        ": captures are saved in " + instead.name,
                .matters = true,
                .key = away,
                .stays = true,
                .folders = {shoot, instead},
                .subject = away,
                .occurrence = away});
}

void MonitorController::tellKeptWaiting(std::size_t waiting, const std::string& newest) {
    if (waiting == 0 || notices_.holds(unfiledKey)) return;
    NoticeBoard::Notice notice = notFiledNotice(env_, "the cameras", env_.fallbackFolder / newest);
    notice.counts = waiting;
    if (waiting > 1) notice.text = notice.several;
    for (auto at = notice.text.find("%n"); at != std::string::npos; at = notice.text.find("%n"))
        notice.text.replace(at, 2, std::to_string(waiting));
    postNotice(std::move(notice));
}

void MonitorController::fileKeptCaptures() {
    if (keptFilingQueued_->exchange(true)) return;
    keptQueue_->async([weak = weak_from_this(), env = env_, queued = keptFilingQueued_] {
        queued->store(false);
        auto& library = env.shootLibrary ? *env.shootLibrary : ShootLibrary::shared();
        const auto kept = keptCaptures(env.fallbackFolder);
        for (std::size_t i = 0; i < kept.size(); ++i) {
            const auto description = readDescription(descriptionOf(kept[i]));
            if (!description) continue;
            try {
                const auto filed = library.importFile(kept[i], description->first, description->second);
                std::error_code ignored;
                std::filesystem::remove(descriptionOf(kept[i]), ignored);
                showMessageLater(weak, env, savedNotice(library, filed, description->first.isVideo));
            } catch (const std::exception& error) {
                // The shoot folder still takes nothing: the rest wait for the next try, and the crew knows.
                log::info(logComponent, std::string("kept captures wait: ") + error.what());
                env.mainExecutor->async([weak, waiting = kept.size() - i, newest = kept.back().filename().string()] {
                    if (auto self = weak.lock()) self->tellKeptWaiting(waiting, newest);
                });
                return;
            }
        }
        if (kept.empty()) return;
        env.mainExecutor->async([weak] {
            if (auto self = weak.lock(); self && self->notices_.withdraw(unfiledKey))
                self->setMessage(self->notices_.text());
        });
    });
}

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
    // A capture filed says the shoot folder takes captures again: the ones kept aside follow it.
    if (fileCapture(env_, file, info, camera,
                    [this](NoticeBoard::Notice notice) { showMessageLater(std::move(notice)); }))
        fileKeptCaptures();
}

void MonitorController::receiveShootFile(const Environment& environment, const std::filesystem::path& file,
                                         const std::string& name) {
    fileCapture(environment, file, provisionalInfo(name, environment.now()), "Camera", [](NoticeBoard::Notice) {});
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
        showMessageLater({.text = "Couldn't keep a take from " + camera, .matters = true, .stays = true});
        if (!keepInFallback(env_.fallbackFolder, file, entry->info)) throwNotKept(camera);
    }
}

void MonitorController::importReceivedFile(const std::weak_ptr<MonitorController>& controller,
                                           const Environment& environment, const std::filesystem::path& file,
                                           const TransferInfo& info, const std::string& camera) {
    auto& library = environment.shootLibrary ? *environment.shootLibrary : ShootLibrary::shared();
    try {
        showMessageLater(controller, environment,
                         savedNotice(library, library.importFile(file, info, camera), info.isVideo, " (USB)"));
    } catch (const std::exception& error) {
        log::error(logComponent, std::string("couldn't file a capture from the cable: ") + error.what());
        const auto kept = keepCapture(environment.fallbackFolder, file, info, camera);
        showMessageLater(controller, environment, notFiledNotice(environment, camera, kept));
        if (!kept) throwNotKept(camera);
        return;
    }
    if (auto self = controller.lock()) self->fileKeptCaptures();
}

void MonitorController::handleDeckEditExported(const QVariant& object) {
    if (object.metaType() != QMetaType::fromType<DeckEdit>()) return;
    send(CameraCommand::DeckEdit{object.value<DeckEdit>()});
}

}  // namespace morvane
