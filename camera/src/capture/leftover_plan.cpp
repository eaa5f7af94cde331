#include "camera/leftover_plan.h"

#include <cmath>
#include <functional>
#include <map>

#include "camera/outbox.h"
#include "camera/take_files.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

using Step = LeftoverPlan::Step;
using Kind = Step::Kind;
using To = Step::To;
using FileKind = LeftFile::Kind;

struct Planner {
    const LeftoverPlan::Listing& listing;
    std::vector<Step> steps;

    void add(Kind kind, const fs::path& file, bool onDrive = false) { steps.push_back(Step{kind, file, onDrive}); }
    void queue(const fs::path& file, To to, const TransferInfo& info, bool onDrive = false, bool photo = false,
               bool toGallery = false) {
        steps.push_back(Step{Kind::queue, file, onDrive, photo, info, std::nullopt, to, toGallery});
    }
    void tell(const fs::path& movie, const std::string& told) {
        // Told once: it stands until it holds no more.
        steps.push_back(Step{Kind::leave, movie, true, false, std::nullopt,
                             listing.toldOthers.count(movie) ? std::nullopt : std::optional(told)});
    }

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

    // A drive take the take log names: by its name within the drive's take folder, wherever the drive was mounted
    // then and now; by another path only with the length it was stored with (another drive may hold a take of the
    // same name).
    std::optional<TakeLog::Entry> loggedOnDrive(const fs::path& movie, const LeftoverPlan::File& file) const {
        return logged([&](const TakeLog::Entry& e) {
            if (!e.driveFile) return false;
            const fs::path logged(*e.driveFile);
            if (logged == movie) return true;
            return logged.filename() == movie.filename() &&
                   logged.parent_path().filename() == movie.parent_path().filename() && file.plays && e.info.duration &&
                   std::abs(*e.info.duration - file.duration) <= LeftoverPlan::sameLength;
        });
    }

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
            const LeftFile left = classify(file.name);
            switch (left.kind) {
                case FileKind::journal: {
                    // Goes with its movie; by itself it holds no footage.
                    const fs::path movie = folder.path / left.of;
                    if (!recordingNow(movie) && !file.held && !found(movie)) add(Kind::remove, path, onDrive);
                    break;
                }
                case FileKind::reserve: {
                    // Room kept for the index matters only to a movie finished from its journal.
                    const fs::path movie = folder.path / left.of;
                    const auto* journal = found(journalOf(movie));
                    if (!recordingNow(movie) && !(journal && (journal->held || found(movie))))
                        add(Kind::remove, path, onDrive);
                    break;
                }
                case FileKind::newJournal:
                    // A journal a recorder was making when it ended; one alive holds its own.
                    if (!file.held) add(Kind::remove, path, onDrive);
                    break;
                case FileKind::setAside:
                    if (LeftoverPlan::headerAlone(file.size)) add(Kind::remove, path, onDrive);
                    break;
                case FileKind::photo:
                    // A photo on its way into the library: kept under the name it has (the library knows a copy of
                    // it). Once the camera runs, photos are on their way there on a queue of their own.
                    if (onDrive || listing.occasion == LeftoverPlan::Occasion::takes) break;
                    if (file.size == 0) {
                        add(Kind::remove, path);  // a name claimed for a photo never written
                    } else {
                        steps.push_back(Step{Kind::store, path, false, true});
                    }
                    break;
                case FileKind::movie:
                    if (!recordingNow(path)) movieIn(path, file, found(journalOf(path)), onDrive);
                    break;
                default:
                    break;
            }
        }
    }

    void movieIn(const fs::path& movie, const LeftoverPlan::File& file, const LeftoverPlan::File* journal,
                 bool onDrive) {
        if (journal) {
            journaled(movie, file, *journal, onDrive);
        } else if (file.size == 0) {
            add(Kind::remove, movie, onDrive);  // a name claimed for a take that never began
        } else if (!onDrive) {                  // a drive keeps its takes: a movie there without a journal is stored
            // Stored, then the camera ended before it went into the outbox: only queued, under its entry.
            const auto entry = logged([&](const TakeLog::Entry& e) { return e.info.fileName == file.name; });
            if (entry && !inOutbox(*entry)) {
                queue(movie, To::move, entry->info);
            } else if (!entry) {
                add(file.plays ? Kind::store : Kind::recover, movie);
            }
        }
    }

    void journaled(const fs::path& movie, const LeftoverPlan::File& file, const LeftoverPlan::File& journal,
                   bool onDrive) {
        const bool mine = !onDrive || journal.owner == listing.camera;
        if (journal.held) {
            // Its recorder is alive, recording or storing it. This camera's own, held by another program for a moment
            // (a start beside it), is tried again once that one lets go.
            if (mine) add(Kind::waitFor, movie, onDrive);
            return;
        }
        if (!mine && !journal.owner.empty()) {
            tell(movie, LeftoverPlan::anotherCamerasTake(movie, journal.ownerName));
            return;
        }
        if (onDrive) {
            // Stored, and its entry written: only its way into the outbox may be missing.
            const auto entry = loggedOnDrive(movie, file);
            if (entry && !inOutbox(*entry)) {
                queue(movie, To::copy, entry->info, true);  // its journal goes once queued
            } else if (entry) {
                add(Kind::remove, journalOf(movie), true);
                add(Kind::remove, reserveOf(movie), true);
            } else if (!mine) {
                // A journal of the first layout names no camera: only the take log could say it is this camera's.
                tell(movie, LeftoverPlan::nobodysTake(movie));
            }
            if (entry || !mine) return;
        }
        // Finished before the camera ended (its index written), or cut off.
        add(file.plays ? Kind::store : Kind::recover, movie, onDrive);
    }

    // What the crew was told of other cameras' takes: it holds while the take's journal is there and nobody finishes
    // it.
    void toldBefore() {
        for (const auto& movie : listing.toldOthers) {
            for (const auto& drive : listing.drives) {
                if (drive.path != movie.parent_path()) continue;
                const std::string journal = journalOf(movie).filename().string();
                const auto it = std::find_if(drive.files.begin(), drive.files.end(),
                                             [&](const LeftoverPlan::File& f) { return f.name == journal; });
                if (it == drive.files.end() || it->held) add(Kind::untell, movie, true);
            }
        }
    }

    // The vault: a capture moved in, then the camera ended before the take log, the outbox or the gallery named it.
    // Stored where it is, once; one the take log names was stored, and is queued unless the log says it was (or an
    // older camera program wrote it, which queued first).
    void keptIn(const LeftoverPlan::Folder& folder) {
        for (const auto& file : folder.files) {
            const LeftFile left = classify(file.name);
            if (file.size == 0 || (left.kind != FileKind::movie && left.kind != FileKind::photo)) continue;
            const bool listed = folder.listed.count(file.name) > 0;
            const fs::path path = folder.path / file.name;
            if (const auto entry = logged([&](const TakeLog::Entry& e) { return e.vaultFile == file.name; })) {
                if (entry->queued == false && listed) {
                    add(Kind::noteQueued, path);
                    steps.back().info = entry->info;
                } else if (entry->queued == false) {
                    queue(path, To::vaultEntry, entry->info, false, false, !listing.inGallery.count(file.name));
                }
                continue;
            }
            if (listed || listing.inGallery.count(file.name)) continue;
            steps.push_back(Step{Kind::store, path, false, left.kind == FileKind::photo});
        }
    }

    // The outbox and the deck copies: captures waiting to be sent.
    void waitingIn(const LeftoverPlan::Folder& folder, bool deckCopies) {
        for (const auto& file : folder.files) {
            const fs::path path = folder.path / file.name;
            const LeftFile left = classify(file.name);
            if (deckCopies && left.kind == FileKind::deckPartial) {
                add(Kind::remove, path);
                const auto id = Uuid::parse(fs::path(left.of).stem().string());
                const auto entry = logged([&](const TakeLog::Entry& e) { return id && e.info.id == *id; });
                if (entry && !entry->copied)
                    steps.push_back(Step{Kind::makeDeckCopy, folder.path / left.of, false, false, entry->info});
                continue;
            }
            if ((left.kind != FileKind::movie && left.kind != FileKind::photo) || folder.listed.count(file.name))
                continue;
            const auto id = Uuid::parse(path.stem().string());
            if (!id) continue;
            const auto entry = logged([&](const TakeLog::Entry& e) { return e.info.id == *id; });
            if (deckCopies) {
                // A deck copy the decks already have (the log marks it before its entry goes) goes.
                if (entry && left.kind == FileKind::movie) {
                    if (entry->copied) {
                        add(Kind::sent, path);
                    } else {
                        queue(path, To::listing, entry->info);
                    }
                }
            } else if (entry && left.kind == FileKind::movie) {
                queue(path, To::listing, entry->info);
            } else if (left.kind == FileKind::photo && file.size > 0) {
                // A photo has no entry in the take log: its name comes back from when it was written.
                TransferInfo info;
                info.id = *id;
                info.capturedAt = file.written;
                info.fileName = takeFileName(file.written, listing.deviceName, "jpg");
                info.isVideo = false;
                queue(path, To::listing, info, false, true);
            }
        }
    }

    // The camera's records: a whole-file write an earlier run did not finish holds nothing anyone reads.
    void recordsIn(const LeftoverPlan::Folder& folder) {
        for (const auto& file : folder.files)
            if (classify(file.name).kind == FileKind::cutWrite && file.written < listing.runStarted)
                add(Kind::remove, folder.path / file.name);
    }
};

}  // namespace

std::vector<LeftoverPlan::Step> LeftoverPlan::plan(const Listing& listing) {
    Planner planner{listing, {}};
    planner.takesIn(listing.recording, false);
    for (const auto& drive : listing.drives) planner.takesIn(drive, true);
    planner.toldBefore();
    planner.waitingIn(listing.outbox, false);
    planner.waitingIn(listing.deckCopies, true);
    planner.keptIn(listing.vault);
    for (const auto& folder : listing.records) planner.recordsIn(folder);
    return std::move(planner.steps);
}

std::string LeftoverPlan::anotherCamerasTake(const fs::path& movie, const std::string& camera) {
    return "The drive holds a take that another camera was recording when it was cut off: “" +
           movie.filename().string() + "” is left for " + (camera.empty() ? "that camera" : camera) + " to finish";
}

std::string LeftoverPlan::nobodysTake(const fs::path& movie) {
    return "The drive holds a take cut off in a camera program that does not say which camera recorded it: “" +
           movie.filename().string() + "” in " + movie.parent_path().string() +
           " is left as it is, for the camera that recorded it";
}

}  // namespace morvane
