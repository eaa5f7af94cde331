#pragma once

#include <QObject>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "deck/retouch_edit.h"
#include "deck/retouch_take.h"
#include "protocol/deck_edit.h"
#include "protocol/program_cut.h"
#include "protocol/transfer_info.h"

namespace morvane {

/// The deck's take library: the 1080p copies that cameras send, grouped into takes, kept with each take's live
/// cuts, stored edit and last export in "takes.json" beside the copies.
///
/// Lives on the main thread: every operation except `importClip` is called there, and `takesChanged` is
/// emitted there after every change of `takes`. A received copy is recorded in "takes.json" before `importClip`
/// returns (the camera forgets its copy once answered); `takes` shows it a moment later, on the main thread.
class RetouchLibrary : public QObject {
    Q_OBJECT

public:
    using Take = RetouchTake;
    using Clip = RetouchClip;

    /// A library kept in `directory` (made when missing), whose exported programs lie in `programFolder`.
    RetouchLibrary(std::filesystem::path directory, std::filesystem::path programFolder, QObject* parent = nullptr);

    /// The application's library, made on first use in `libraryDirectory()` with `programFolderPath()`.
    static RetouchLibrary& shared();
    /// "Retouch" in the application's data folder, made when missing.
    static std::filesystem::path libraryDirectory();
    /// "Program" in the application's documents folder (the user's Documents folder + "Brindlecroft").
    static std::filesystem::path programFolderPath();

    const std::filesystem::path& directory() const { return directory_; }
    const std::filesystem::path& programFolder() const { return programFolder_; }

    const std::vector<Take>& takes() const { return takes_; }
    /// Replaces the list (publishes; saving is the caller's choice).
    void setTakes(std::vector<Take> takes);

    /// The first take with that id.
    std::optional<Take> take(const Uuid& id) const;
    /// Sets the name, trimmed of white space and cut to 60 characters; nothing left clears it. Saves.
    void rename(const Uuid& id, const std::string& name);
    /// Removes the take and its copies' files (not its exported program). Saves.
    void deleteTake(const Take& take);
    /// Stores the edit when it differs from the stored one; otherwise does nothing at all.
    void saveEdit(const std::optional<RetouchEdit>& edit, const Uuid& id);
    /// After an export: the copies' files go, the clips move to `exportedClips`, the program's name is kept.
    void recordExport(const Uuid& id, const std::filesystem::path& program);
    /// Where the take's exported program is, when that file still exists.
    std::optional<std::filesystem::path> programURL(const Take& take) const;
    /// Writes "takes.json" from `takes`, atomically; a failure leaves the last good file.
    void save();

    /// Moves a received copy into the library, files it into a take and writes "takes.json"; when it returns, the
    /// copy's new name and the list that holds it are on the disk. `takes` follows later on the main thread.
    /// Callable from any thread. Throws std::filesystem::filesystem_error when the copy cannot be moved or recorded;
    /// the copy is then back at `file` and nothing changes.
    void importClip(const std::filesystem::path& file, const TransferInfo& info, const std::string& camera);
    /// Files one clip: back into the exported take it came from, into the first collecting take it overlaps
    /// (2 s tolerance), or into a new take.
    void placeClip(const Clip& clip, const std::vector<ProgramCut>& cuts);
    /// Both lists, sorted by time, without a cut of the same camera less than 0.5 s after the last one kept.
    static std::vector<ProgramCut> mergeCuts(const std::vector<ProgramCut>& existing,
                                             const std::vector<ProgramCut>& incoming);
    /// The deck edits of the takes exported in the last 72 hours, for a camera that has just connected.
    std::vector<DeckEdit> recentDeckEdits() const;

    /// The deck edit that announces an exported edit: its pieces as wall-clock spans from the take's start.
    static DeckEdit makeDeckEdit(const Take& take, const RetouchEdit& edit);

    /// True when a stored name can be used as one file name inside a folder: no separator, not "." or "..".
    static bool isPlainFileName(const std::string& name);

signals:
    void takesChanged();

private:
    void load();
    void publish() { emit takesChanged(); }
    /// Applies `change` to the stored list (under the store lock); when it says it changed something, `takes`
    /// becomes the stored list, which is saved and published. Main thread.
    template <class Change>
    void changeTakes(Change&& change);
    /// Writes the stored list to "takes.json", durably. Called with the store lock held; false on failure.
    bool writeTakes();
    static void placeInto(std::vector<Take>& takes, const Clip& clip, const std::vector<ProgramCut>& cuts);
    std::filesystem::path takesFile() const { return directory_ / "takes.json"; }
    void removeCopy(const Clip& clip) const;
    void removeLeftovers() const;

    std::filesystem::path directory_;
    std::filesystem::path programFolder_;
    std::vector<Take> takes_;  // main thread

    // The list as "takes.json" holds it: ahead of `takes_` by the copies imported but not yet published.
    std::mutex storeLock_;
    std::vector<Take> stored_;
    bool setAsideBeforeSave_ = false;  // the file on disk could not be read: keep it before writing a new one
};

}  // namespace morvane
