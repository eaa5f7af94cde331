#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "deck/retouch_builder.h"
#include "deck/retouch_edit.h"
#include "deck/retouch_library.h"
#include "deck_ui/editor/editor_rules.h"
#include "deck_ui/editor/preview_player.h"
#include "protocol/deck_edit.h"

namespace morvane {

/// The deck's editor of one collected take: the working edit with its undo history, the preview player that plays
/// it, the playhead, the strip's selection and zoom, the screen's flags, and the export.
///
/// Every lasting change of the edit goes through `commitEdit`, which records the undo entry, normalizes, saves
/// through the library and rebuilds the preview. Lives on the main thread.
class RetouchEditor : public QObject {
    Q_OBJECT

public:
    using Selection = EditorSelection;
    using EditChange = std::function<void(RetouchEdit&)>;
    /// Builds a program off the main thread and completes on it (unless the context is gone).
    using Builder = std::function<void(RetouchTake, RetouchEdit, QObject* context, RetouchBuilder::BuildCompletion)>;
    /// Exports a program off the main thread; progress and completion come on the main thread.
    using Exporter = std::function<void(RetouchBuilder::Program, RetouchTake, QObject* context,
                                        std::function<void(float)> progress, RetouchBuilder::ExportCompletion)>;

    static constexpr std::size_t historyLimit = 50;
    static constexpr int tickIntervalMs = 33;  ///< the playhead follows the player about 30 times a second

    RetouchEditor(Uuid takeID, PreviewPlayer& player, RetouchLibrary& library = RetouchLibrary::shared(),
                  QObject* parent = nullptr);
    ~RetouchEditor() override;

    /// Replaces how programs are built and exported (tests hold builds back or fail them).
    void setBuilder(Builder builder) { builder_ = std::move(builder); }
    void setExporter(Exporter exporter) { exporter_ = std::move(exporter); }
    /// The builder that loads the take's clips from `directory` on the thread pool.
    static Builder threadPoolBuilder(std::filesystem::path directory);
    /// The exporter that writes into `options`' folders on the thread pool.
    static Exporter threadPoolExporter(RetouchBuilder::ExportOptions options);

    // MARK: State
    const Uuid& takeID() const { return takeID_; }
    RetouchLibrary& library() const { return library_; }
    PreviewPlayer& player() const { return player_; }
    /// The take from the library; after this editor exported it, with the clips it was exported from, so that the
    /// screen behind the done card keeps showing the take (the library has given up its copies).
    std::optional<RetouchTake> take() const;
    const std::optional<RetouchEdit>& edit() const { return edit_; }
    const std::vector<RetouchEdit>& history() const { return history_; }
    double renderWidth() const { return renderWidth_; }
    double renderHeight() const { return renderHeight_; }
    bool tallPicture() const { return renderHeight_ > renderWidth_; }
    /// The take's frame rate, as the preview's composition has it (30 until the first build lands).
    double framesPerSecond() const { return framesPerSecond_; }
    double time() const { return time_; }
    bool playing() const { return playing_; }
    const std::optional<Selection>& selection() const { return selection_; }
    double zoom() const { return zoom_; }
    double viewStart() const { return viewStart_; }
    bool showSound() const { return showSound_; }
    bool fullScreen() const { return fullScreen_; }
    bool renaming() const { return renaming_; }
    const std::string& newName() const { return newName_; }
    bool confirmDelete() const { return confirmDelete_; }
    const std::optional<float>& exportProgress() const { return exportProgress_; }
    const std::optional<std::filesystem::path>& exported() const { return exported_; }
    const std::optional<std::string>& error() const { return error_; }
    /// True while the periodic time observer runs.
    bool observing() const { return ticker_.isActive(); }
    bool loaded() const { return edit_.has_value() && take().has_value(); }
    /// The take's length in seconds, from its earliest clip start to its latest clip end.
    double duration() const;

    void setSelection(std::optional<Selection> selection);
    void setZoom(double zoom);
    void setViewStart(double viewStart);
    void setShowSound(bool show);
    void setFullScreen(bool on);
    void setRenaming(bool on);
    void setNewName(std::string name);
    void setConfirmDelete(bool on);
    void clearError();
    /// The working edit changed in place by a panel that edits through a binding (the sound panel); committed when
    /// that panel closes.
    void setWorkingEdit(const RetouchEdit& edit);

    // MARK: Lifecycle
    void loadEdit();
    /// Installs the time observer again after the screen comes back, when the edit is loaded and none runs.
    void resume();
    void teardown();
    void commitEdit(EditChange change = {});
    void undo();
    void rebuildPreview();
    void timeObserverTick(double programSeconds);

    // MARK: Player area
    void seek(double time);
    void jumpToSwitch(bool forward);
    void togglePlay();
    void moveSwitch(const Uuid& id, double time);
    void selectBlock(double time);
    void tapCamera(const std::string& camera);

    // MARK: Menus and panels
    void setTrimStart();
    void setTrimEnd();
    void clearTrim();
    void restoreLiveCut();
    void restoreRemovedParts();
    void renameFromMenu();
    void askDelete();
    void openSound() { setShowSound(true); }
    /// Closing the sound sheet: commits what the panel changed, once.
    void soundSheetClosed();
    void nudgeSwitch(const Uuid& id, double by);
    void deleteSwitch(const Uuid& id);
    void removeBlock(double start, double end);
    void restoreSection(const Uuid& id);
    /// The rename alert's "Save".
    void saveRename();
    /// The delete dialog's "Delete Take": removes the take with its copies (when still there), then dismisses.
    void deleteTake();

    // MARK: Export
    void exportTask();
    static DeckEdit makeDeckEdit(const RetouchTake& take, const RetouchEdit& edit);
    /// Completes a successful export: gives up the preview's item (when the editor is still there; the view keeps
    /// its last picture, and the editor the clips it exported), announces the edit as
    /// "deckEditExported", records the export in the library and shows the done card. Runs even when the editor is
    /// gone, for an export outlives its editor.
    static void finishExport(QPointer<RetouchEditor> editor, RetouchLibrary& library, const Uuid& takeID,
                             const RetouchTake& take, const RetouchEdit& edit, const std::filesystem::path& file);
    /// "Done" on the done card.
    void done() { emit dismissRequested(); }

signals:
    /// The working edit, the history or the take changed.
    void editChanged();
    void timeChanged();
    void playingChanged();
    void selectionChanged();
    void viewChanged();  ///< zoom or view start
    /// Flags of sheets, alerts and cards, the export's progress and result, the render size.
    void stateChanged();
    /// The editor asks to be closed.
    void dismissRequested();

private:
    RetouchEdit baseEdit(const RetouchTake& take) const;
    void setTime(double time);
    void setPlaying(bool playing);
    void pushHistory(RetouchEdit entry);

    Uuid takeID_;
    PreviewPlayer& player_;
    RetouchLibrary& library_;
    std::optional<RetouchEdit> edit_;
    // The live-cut edit the take opened with while it has no stored edit: making it again would give its switches
    // new identifiers, so an untouched edit would never compare equal to it.
    std::optional<RetouchEdit> liveCut_;
    std::vector<RetouchEdit> history_;
    // The edit the player's current item was built from: its program time maps back through this one, not through a
    // newer edit whose rebuild has not landed yet.
    std::optional<RetouchEdit> itemEdit_;
    double renderWidth_ = 1920;
    double renderHeight_ = 1080;
    double framesPerSecond_ = 30;
    double time_ = 0;
    bool playing_ = false;
    std::optional<Selection> selection_;
    double zoom_ = 1;
    double viewStart_ = 0;
    bool showSound_ = false;
    bool fullScreen_ = false;
    bool renaming_ = false;
    std::string newName_;
    bool confirmDelete_ = false;
    std::optional<float> exportProgress_;
    std::optional<std::filesystem::path> exported_;
    std::optional<std::vector<RetouchClip>> exportedClips_;
    std::optional<std::string> error_;
    QTimer ticker_;
    // Each rebuild gets a generation; only the newest one's result reaches the player.
    std::uint64_t rebuildGeneration_ = 0;
    bool exporting_ = false;
    Builder builder_;
    Exporter exporter_;
};

}  // namespace morvane
