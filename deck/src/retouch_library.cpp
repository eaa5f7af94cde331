#include "deck/retouch_library.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaObject>
#include <QStandardPaths>
#include <QString>
#include <QTextBoundaryFinder>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/file_contents.h"
#include "platform/file_moves.h"
#include "platform/log.h"
#include "protocol/take_numbers.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr double groupingTolerance = 2.0;
constexpr double cutMergeDistance = 0.5;
constexpr double recentExportWindow = 259200.0;
constexpr int maxNameLength = 60;
// takes.json holds a shoot's takes; anything this large is not ours to load whole.
constexpr std::uintmax_t maxTakesFileSize = 64u << 20;

fs::path pathFrom(const QString& text) {
    return fs::path(text.toStdString());
}

// When a take was captured: its copies' earliest start, or once exported, that of the copies it had.
Date capturedAt(const RetouchTake& take) {
    if (!take.clips.empty() || !take.exportedClips || take.exportedClips->empty()) return take.start();
    RetouchTake had;
    had.clips = *take.exportedClips;
    return had.start();
}

QDate localDay(Date date) {
    const double ms = std::clamp(date.unixSeconds() * 1000.0, -8.0e15, 8.0e15);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)).date();
}

// Numbers the takes of one local day as the shoot library numbers its takes: in capture order. A take keeps its
// number unless a take captured before it arrives later and needs the place; one whose program was exported keeps
// it whatever comes, for it names the program's file.
void numberDay(std::vector<RetouchTake>& takes, QDate day) {
    std::vector<RetouchTake*> members;
    std::vector<DayTake> dayTakes;
    for (auto& take : takes) {
        const Date start = capturedAt(take);
        if (localDay(start) != day) continue;
        members.push_back(&take);
        dayTakes.push_back({start, take.number, take.exportedAt || take.exportedFile});
    }
    const auto numbers = numberTakes(dayTakes);
    for (std::size_t i = 0; i < members.size(); ++i) members[i]->number = numbers[i].number;
}

}  // namespace

RetouchLibrary::RetouchLibrary(fs::path directory, fs::path programFolder, QObject* parent)
    : QObject(parent), directory_(std::move(directory)), programFolder_(std::move(programFolder)) {
    std::error_code ec;
    fs::create_directories(directory_, ec);
    removeLeftovers();
    load();
}

void RetouchLibrary::removeLeftovers() const {
    // What a run that ended in the middle of a write left behind: temporary files of takes.json, and copies from
    // another disk that were still being copied beside their final name.
    removeInterruptedWrites(takesFile());
    removeInterruptedPlacements(directory_);
}

RetouchLibrary& RetouchLibrary::shared() {
    static RetouchLibrary* library = [] {
        auto* made = new RetouchLibrary(libraryDirectory(), programFolderPath());
        // It belongs to the main thread even when first used from another one.
        if (auto* app = QCoreApplication::instance(); app && made->thread() != app->thread()) {
            made->moveToThread(app->thread());
        }
        return made;
    }();
    return *library;
}

fs::path RetouchLibrary::libraryDirectory() {
    const fs::path dir = pathFrom(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)) / "Retouch";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

fs::path RetouchLibrary::programFolderPath() {
    return pathFrom(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)) / "Brindlecroft" / "Program";
}

bool RetouchLibrary::isPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

void RetouchLibrary::setTakes(std::vector<Take> takes) {
    {
        std::lock_guard lock(storeLock_);
        stored_ = takes;
    }
    takes_ = std::move(takes);
    publish();
}

template <class Change>
void RetouchLibrary::changeTakes(Change&& change) {
    {
        std::lock_guard lock(storeLock_);
        if (!change(stored_)) return;
        takes_ = stored_;
        writeTakes();
    }
    publish();
}

// MARK: Loading and saving

void RetouchLibrary::load() {
    takes_.clear();
    std::error_code ec;
    const fs::path file = takesFile();
    if (!fs::exists(file, ec)) return;
    auto text = readFileContents(file, maxTakesFileSize);
    std::optional<Json> json = text ? parseJson(*text) : std::nullopt;
    std::vector<Take> loaded;
    bool decoded = false;
    if (json && json->is_array()) {
        try {
            for (const auto& item : *json) loaded.push_back(item.get<Take>());
            decoded = true;
        } catch (const std::exception& e) {
            log::error("RetouchLibrary", std::string("couldn't read takes.json: ") + e.what());
        }
    }
    if (!decoded) {
        setAsideBeforeSave_ = true;
        return;
    }
    for (auto& take : loaded) {
        std::erase_if(take.clips, [&](const Clip& clip) {
            return !isPlainFileName(clip.file) || !fs::exists(directory_ / clip.file, ec);
        });
    }
    std::erase_if(loaded, [](const Take& take) { return take.clips.empty() && !take.exportedAt; });
    takes_ = std::move(loaded);
    stored_ = takes_;
}

void RetouchLibrary::save() {
    std::lock_guard lock(storeLock_);
    writeTakes();
}

bool RetouchLibrary::writeTakes() {
    std::string data;
    try {
        Json list = Json::array();
        for (const auto& take : stored_) list.push_back(Json(take));
        data = list.dump();
    } catch (const std::exception& e) {
        log::error("RetouchLibrary", std::string("couldn't encode the takes: ") + e.what());
        return false;
    }
    const fs::path file = takesFile();
    if (setAsideBeforeSave_) {
        // Keep the file that could not be read instead of writing over it.
        std::error_code ec;
        if (fs::exists(file, ec) && !setAsideUnreadable(file, &ec)) {
            log::error("RetouchLibrary", "couldn't set the unreadable takes.json aside: " + ec.message());
            return false;
        }
        setAsideBeforeSave_ = false;
    }
    // Durable: a copy is acknowledged only once the list that holds it is on the disk.
    if (!writeFileAtomically(file, data)) {
        log::error("RetouchLibrary", "couldn't write takes.json");
        return false;
    }
    return true;
}

// MARK: Takes

std::optional<RetouchLibrary::Take> RetouchLibrary::take(const Uuid& id) const {
    for (const auto& t : takes_) {
        if (t.id == id) return t;
    }
    return std::nullopt;
}

void RetouchLibrary::rename(const Uuid& id, const std::string& name) {
    std::optional<std::string> newName;
    const QString trimmed = QString::fromStdString(name).trimmed();
    if (!trimmed.isEmpty()) {
        // Cut after 60 user-perceived characters, never inside one.
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, trimmed);
        int count = 0;
        qsizetype cut = trimmed.size();
        while (finder.toNextBoundary() != -1) {
            if (++count == maxNameLength) {
                cut = finder.position();
                break;
            }
        }
        newName = trimmed.left(cut).toStdString();
    }
    changeTakes([&](std::vector<Take>& takes) {
        auto it = std::find_if(takes.begin(), takes.end(), [&](const Take& t) { return t.id == id; });
        if (it == takes.end()) return false;
        it->name = newName;
        return true;
    });
}

void RetouchLibrary::removeCopy(const Clip& clip) const {
    // Names come from takes.json: only a plain name inside the library folder is ever removed.
    if (!isPlainFileName(clip.file)) return;
    std::error_code ec;
    fs::remove(directory_ / clip.file, ec);
}

void RetouchLibrary::deleteTake(const Take& take) {
    changeTakes([&](std::vector<Take>& takes) {
        for (const auto& clip : take.clips) removeCopy(clip);
        std::erase_if(takes, [&](const Take& t) { return t.id == take.id; });
        return true;
    });
}

void RetouchLibrary::saveEdit(const std::optional<RetouchEdit>& edit, const Uuid& id) {
    changeTakes([&](std::vector<Take>& takes) {
        auto it = std::find_if(takes.begin(), takes.end(), [&](const Take& t) { return t.id == id; });
        if (it == takes.end() || it->edit == edit) return false;
        it->edit = edit;
        return true;
    });
}

void RetouchLibrary::recordExport(const Uuid& id, const fs::path& program) {
    changeTakes([&](std::vector<Take>& takes) {
        auto it = std::find_if(takes.begin(), takes.end(), [&](const Take& t) { return t.id == id; });
        if (it == takes.end()) return false;
        for (const auto& clip : it->clips) removeCopy(clip);
        it->exportedClips = it->clips;
        it->clips.clear();
        it->exportedAt = Date::now();
        it->exportedFile = program.filename().string();
        return true;
    });
}

std::optional<fs::path> RetouchLibrary::programURL(const Take& take) const {
    if (!take.exportedFile || !isPlainFileName(*take.exportedFile)) return std::nullopt;
    const fs::path file = programFolder_ / *take.exportedFile;
    std::error_code ec;
    if (!fs::exists(file, ec)) return std::nullopt;
    return file;
}

// MARK: Filing copies

void RetouchLibrary::importClip(const fs::path& file, const TransferInfo& info, const std::string& camera) {
    const std::string name = info.id.uuidString() + ".mov";
    const fs::path destination = directory_ / name;
    // One rename replaces an earlier copy in a single step, so a failed move never loses the copy a take lists.
    // A copy sent again after a run that ended before recording it lands on the same name and is filed once. The
    // camera forgets its copy once answered: the contents and the new name must be on the disk by then; from
    // another disk the original stays until the copy is recorded.
    std::error_code ec;
    const auto placement =
        placeFile(file, destination, ec, {.replace = true, .removeOriginal = false, .forUser = true});
    if (!placement) throw fs::filesystem_error("Couldn't move the deck copy", file, destination, ec);
    const bool copied = *placement == Placement::copied;

    Clip clip;
    clip.id = info.id;
    clip.camera = camera;
    clip.file = name;
    clip.start = info.capturedAt;
    clip.duration = info.duration.value_or(0);
    const std::vector<ProgramCut> cuts = info.cuts.value_or(std::vector<ProgramCut>{});

    bool recorded = false;
    {
        std::lock_guard lock(storeLock_);
        std::vector<Take> before = stored_;
        placeInto(stored_, clip, cuts);
        recorded = writeTakes();
        if (!recorded) stored_ = std::move(before);
    }
    if (!recorded) {
        // Not recorded, so not received: the copy goes back for the caller to keep elsewhere.
        std::error_code ignored;
        if (copied) {
            fs::remove(destination, ignored);
        } else {
            fs::rename(destination, file, ignored);
        }
        throw fs::filesystem_error("Couldn't record the deck copy in takes.json", file, takesFile(),
                                   std::make_error_code(std::errc::io_error));
    }
    if (copied) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }

    QMetaObject::invokeMethod(
        this,
        [this] {
            {
                std::lock_guard lock(storeLock_);
                takes_ = stored_;
            }
            publish();
        },
        Qt::QueuedConnection);
}

void RetouchLibrary::placeClip(const Clip& clip, const std::vector<ProgramCut>& cuts) {
    changeTakes([&](std::vector<Take>& takes) {
        placeInto(takes, clip, cuts);
        return true;
    });
}

void RetouchLibrary::placeInto(std::vector<Take>& takes, const Clip& clip, const std::vector<ProgramCut>& cuts) {
    // A copy of an exported take, asked for again, goes back into that take.
    for (auto& take : takes) {
        if (!take.exportedClips || take.exportedClips->empty()) continue;
        const bool ours = std::any_of(take.exportedClips->begin(), take.exportedClips->end(),
                                      [&](const Clip& c) { return c.id == clip.id; });
        if (!ours) continue;
        std::erase_if(take.clips, [&](const Clip& c) { return c.id == clip.id; });
        take.clips.push_back(clip);
        take.exportedAt.reset();
        return;
    }

    const Date clipEnd = clip.start.addingTimeInterval(clip.duration);
    bool joined = false;
    for (auto& take : takes) {
        if (take.exportedAt || take.clips.empty()) continue;
        const Date takeEnd = take.end(), takeStart = take.start();
        if (clip.start < takeEnd.addingTimeInterval(groupingTolerance) &&
            clipEnd > takeStart.addingTimeInterval(-groupingTolerance)) {
            std::erase_if(take.clips, [&](const Clip& c) { return c.id == clip.id; });
            take.clips.push_back(clip);
            take.cuts = mergeCuts(take.cuts, cuts);
            joined = true;
            break;
        }
    }
    if (!joined) {
        Take take;
        take.clips = {clip};
        take.cuts = mergeCuts({}, cuts);
        takes.push_back(std::move(take));
    }
    numberDay(takes, localDay(clip.start));
    std::stable_sort(takes.begin(), takes.end(), [](const Take& a, const Take& b) { return a.start() < b.start(); });
}

std::vector<ProgramCut> RetouchLibrary::mergeCuts(const std::vector<ProgramCut>& existing,
                                                  const std::vector<ProgramCut>& incoming) {
    std::vector<ProgramCut> joined = existing;
    joined.insert(joined.end(), incoming.begin(), incoming.end());
    std::stable_sort(joined.begin(), joined.end(),
                     [](const ProgramCut& a, const ProgramCut& b) { return a.at < b.at; });
    std::vector<ProgramCut> result;
    for (const auto& cut : joined) {
        if (!result.empty() && result.back().camera == cut.camera &&
            std::fabs(cut.at.timeIntervalSince(result.back().at)) < cutMergeDistance) {
            continue;
        }
        result.push_back(cut);
    }
    return result;
}

std::vector<DeckEdit> RetouchLibrary::recentDeckEdits() const {
    std::vector<DeckEdit> result;
    const Date since = Date::now().addingTimeInterval(-recentExportWindow);
    for (const auto& take : takes_) {
        if (!take.exportedAt || !(*take.exportedAt > since)) continue;
        if (!take.exportedClips || take.exportedClips->empty()) continue;
        Take copy = take;
        copy.clips = *take.exportedClips;
        const RetouchEdit edit = take.edit ? *take.edit : RetouchEdit::editFromLiveCut(copy);
        DeckEdit deckEdit = makeDeckEdit(copy, edit);
        deckEdit.exportedAt = *take.exportedAt;
        result.push_back(std::move(deckEdit));
    }
    return result;
}

DeckEdit RetouchLibrary::makeDeckEdit(const Take& take, const RetouchEdit& edit) {
    DeckEdit deckEdit;
    deckEdit.id = take.id;
    deckEdit.name = take.defaultName();
    deckEdit.exportedAt = Date::now();
    const Date start = take.start();
    for (const auto& piece : edit.pieces()) {
        deckEdit.pieces.push_back(
            {piece.camera, start.addingTimeInterval(piece.start), start.addingTimeInterval(piece.end)});
    }
    if (edit.sound.is<RetouchEdit::Sound::FollowPicture>()) {
        deckEdit.sound = DeckEdit::Sound::FollowPicture{};
    } else if (edit.sound.is<RetouchEdit::Sound::Mix>()) {
        deckEdit.sound = DeckEdit::Sound::Mix{};
    } else {
        const auto& name = edit.sound.as<RetouchEdit::Sound::Camera>()->name;
        const auto cameras = take.cameras();
        deckEdit.sound = DeckEdit::Sound::Camera{name ? *name : (cameras.empty() ? std::string() : cameras.front())};
    }
    return deckEdit;
}

}  // namespace morvane
