#include "camera/leftover_plan.h"

#include <map>

#include "camera/deck_copy.h"
#include "camera/outbox.h"
#include "camera/take_files.h"
#include "camera/take_recovery.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

using Step = LeftoverPlan::Step;
using Kind = Step::Kind;

struct Planner {
    const LeftoverPlan::Listing& listing;
    std::vector<Step> steps;

    void add(Kind kind, const fs::path& file, bool onDrive = false) { steps.push_back(Step{kind, file, onDrive}); }

    std::optional<TakeLog::Entry> logged(const std::function<bool(const TakeLog::Entry&)>& which) const {
        for (const auto& entry : listing.takeLog)
            if (which(entry)) return entry;
        return std::nullopt;
    }
    // The capture is in the outbox, listed or not: it goes from there.
    bool inOutbox(const TakeLog::Entry& entry) const {
        const std::string name = entry.info.id.uuidString() + ".mov";
        if (listing.outbox.listed.count(name)) return true;
        for (const auto& file : listing.outbox.files)
            if (file.name == name) return true;
        return false;
    }
    bool recordingNow(const fs::path& movie) const { return listing.recordingNow && *listing.recordingNow == movie; }

    // The recording folder and each drive's take folder: where captures are made.
    void takesIn(const LeftoverPlan::Folder& folder, bool onDrive) {
        std::map<std::string, const LeftoverPlan::File*> byName;
        for (const auto& file : folder.files) byName[file.name] = &file;
        const auto found = [&](const fs::path& path) -> const LeftoverPlan::File* {
            auto it = byName.find(path.filename().string());
            return it == byName.end() ? nullptr : it->second;
        };
        for (const auto& file : folder.files) {
            const fs::path path = folder.path / file.name;
            if (auto movie = movieOfJournal(path)) {
                // Goes with its movie; by itself it holds no footage.
                if (!recordingNow(*movie) && !file.held && !found(*movie)) add(Kind::remove, path, onDrive);
                continue;
            }
            if (auto movie = movieOfReserve(path)) {
                const auto* journal = found(journalOf(*movie));
                // Room kept for the index matters only to a movie finished from its journal.
                if (!recordingNow(*movie) && !(journal && (journal->held || found(*movie))))
                    add(Kind::remove, path, onDrive);
                continue;
            }
            if (file.name.starts_with(".") || recordingNow(path)) continue;
            const std::string extension = path.extension().string();
            if (extension == TakeRecovery::setAsideSuffix) {
                if (file.size <= LeftoverPlan::emptyMovieBytes) add(Kind::remove, path, onDrive);  // a header alone
                continue;
            }
            if (extension == ".jpg" && !onDrive) {
                // A photo on its way into the library: kept under the name it has (the library knows a copy of it).
                if (file.size == 0) {
                    add(Kind::remove, path);  // a name claimed for a photo never written
                } else {
                    steps.push_back(Step{Kind::store, path, false, true});
                }
                continue;
            }
            if (extension != ".mov") continue;
            if (const auto* journal = found(journalOf(path))) {
                journaled(folder, path, file, *journal, onDrive);
                continue;
            }
            if (file.size == 0) {
                add(Kind::remove, path, onDrive);  // a name claimed for a take that never began
                continue;
            }
            if (onDrive) continue;  // a drive keeps its takes: a movie there without a journal is stored
            // Stored, then the camera ended before it went into the outbox: only queued, under its entry.
            const auto entry = logged([&](const TakeLog::Entry& e) { return e.info.fileName == file.name; });
            if (entry && !inOutbox(*entry)) {
                steps.push_back(Step{Kind::queue, path, false, false, entry->info});
            } else if (!entry) {
                add(file.plays ? Kind::store : Kind::setAside, path);
            }
        }
    }

    void journaled(const LeftoverPlan::Folder& folder, const fs::path& movie, const LeftoverPlan::File& file,
                   const LeftoverPlan::File& journal, bool onDrive) {
        (void)folder;
        if (journal.held) return;  // its recorder is alive: being recorded or stored
        if (onDrive && !journal.owner.empty() && journal.owner != listing.camera) {
            steps.push_back(
                Step{Kind::leave, movie, true, false, std::nullopt, LeftoverPlan::anotherCamerasTake(movie)});
            return;
        }
        if (onDrive) {
            // Stored, and its entry written: only its way into the outbox may be missing.
            const auto entry = logged([&](const TakeLog::Entry& e) { return e.driveFile == movie.string(); });
            if (entry && !inOutbox(*entry)) {
                steps.push_back(Step{Kind::queue, movie, true, false, entry->info});  // its journal goes once queued
            } else if (entry) {
                add(Kind::remove, journalOf(movie), true);
                add(Kind::remove, reserveOf(movie), true);
            }
            if (entry) return;
        }
        // Finished before the camera ended (its index written), or cut off.
        add(file.plays ? Kind::store : Kind::finish, movie, onDrive);
    }

    // The vault: a capture moved in, then the camera ended before the take log, the outbox or the gallery named it.
    // Stored where it is, once; what any of them names was stored (and queued, or sent) already.
    void keptIn(const LeftoverPlan::Folder& folder) {
        for (const auto& file : folder.files) {
            const std::string extension = fs::path(file.name).extension().string();
            if (file.name.starts_with(".") || file.size == 0 || folder.listed.count(file.name)) continue;
            if (extension != ".mov" && extension != ".jpg") continue;
            if (logged([&](const TakeLog::Entry& e) { return e.vaultFile == file.name; })) continue;
            steps.push_back(Step{Kind::store, folder.path / file.name, false, extension == ".jpg"});
        }
    }

    // The outbox and the deck copies: captures waiting to be sent.
    void waitingIn(const LeftoverPlan::Folder& folder, bool deckCopies) {
        for (const auto& file : folder.files) {
            const fs::path path = folder.path / file.name;
            if (deckCopies) {
                if (auto copy = deckCopyOfPartial(path)) {
                    add(Kind::remove, path);
                    const auto id = Uuid::parse(copy->stem().string());
                    const auto entry = logged([&](const TakeLog::Entry& e) { return id && e.info.id == *id; });
                    if (entry && !entry->copied)
                        steps.push_back(Step{Kind::makeDeckCopy, *copy, false, false, entry->info});
                    continue;
                }
            }
            if (file.name.starts_with(".") || folder.listed.count(file.name)) continue;
            const auto id = Uuid::parse(path.stem().string());
            if (!id) continue;
            const auto entry = logged([&](const TakeLog::Entry& e) { return e.info.id == *id; });
            const std::string extension = path.extension().string();
            if (deckCopies) {
                // A deck copy the decks already have (the log marks it before its entry goes) goes.
                if (entry && extension == ".mov") {
                    if (entry->copied) {
                        add(Kind::remove, path);
                    } else {
                        steps.push_back(Step{Kind::queue, path, false, false, entry->info});
                    }
                }
            } else if (entry && extension == ".mov") {
                steps.push_back(Step{Kind::queue, path, false, false, entry->info});
            } else if (extension == ".jpg" && file.size > 0) {
                // A photo has no entry in the take log: its name comes back from when it was written.
                TransferInfo info;
                info.id = *id;
                info.capturedAt = file.written;
                info.fileName = takeFileName(file.written, listing.deviceName, "jpg");
                info.isVideo = false;
                steps.push_back(Step{Kind::queue, path, false, true, info});
            }
        }
    }
};

}  // namespace

std::vector<LeftoverPlan::Step> LeftoverPlan::plan(const Listing& listing) {
    Planner planner{listing, {}};
    planner.takesIn(listing.recording, false);
    for (const auto& drive : listing.drives) planner.takesIn(drive, true);
    planner.waitingIn(listing.outbox, false);
    planner.waitingIn(listing.deckCopies, true);
    planner.keptIn(listing.vault);
    return std::move(planner.steps);
}

std::string LeftoverPlan::anotherCamerasTake(const fs::path& movie) {
    return "The drive holds a take that another camera was recording when it was cut off: “" +
           movie.filename().string() + "” is left for that camera to finish";
}

}  // namespace morvane
