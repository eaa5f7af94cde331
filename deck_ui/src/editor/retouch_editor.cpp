#include "deck_ui/editor/retouch_editor.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <cmath>

#include "remote/notification_hub.h"

namespace morvane {

namespace {

constexpr double endOfProgramMargin = 0.05;

std::string describe(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "The export failed";
}

}  // namespace

RetouchEditor::RetouchEditor(Uuid takeID, PreviewPlayer& player, RetouchLibrary& library, QObject* parent)
    : QObject(parent),
      takeID_(takeID),
      player_(player),
      library_(library),
      builder_(threadPoolBuilder(library.directory())) {
    auto options = RetouchBuilder::defaultExportOptions();
    options.programFolder = library.programFolder();
    exporter_ = threadPoolExporter(std::move(options));
    ticker_.setInterval(tickIntervalMs);
    connect(&ticker_, &QTimer::timeout, this, [this] { timeObserverTick(player_.currentTime()); });
    // The take may be renamed, exported or deleted elsewhere while it is open.
    connect(&library_, &RetouchLibrary::takesChanged, this, &RetouchEditor::editChanged);
}

RetouchEditor::~RetouchEditor() {
    ticker_.stop();
}

RetouchEditor::Builder RetouchEditor::threadPoolBuilder(std::filesystem::path directory) {
    return
        [directory](RetouchTake take, RetouchEdit edit, QObject* context, RetouchBuilder::BuildCompletion completion) {
            QPointer<QObject> guard(context);
            QThreadPool::globalInstance()->start([take = std::move(take), edit = std::move(edit), directory, guard,
                                                  completion = std::move(completion)]() mutable {
                std::optional<RetouchBuilder::Program> program;
                std::exception_ptr error;
                try {
                    program = RetouchBuilder::build(take, edit, directory);
                } catch (...) {
                    error = std::current_exception();
                }
                QObject* app = QCoreApplication::instance();
                if (!app) return;
                QMetaObject::invokeMethod(
                    app,
                    [guard, completion = std::move(completion), program = std::move(program), error]() mutable {
                        if (guard) completion(std::move(program), error);
                    },
                    Qt::QueuedConnection);
            });
        };
}

RetouchEditor::Exporter RetouchEditor::threadPoolExporter(RetouchBuilder::ExportOptions options) {
    return [options](RetouchBuilder::Program program, RetouchTake take, QObject* context,
                     std::function<void(float)> progress, RetouchBuilder::ExportCompletion completion) {
        RetouchBuilder::exportAsync(std::move(program), std::move(take), options, context, std::move(progress),
                                    std::move(completion));
    };
}

std::optional<RetouchTake> RetouchEditor::take() const {
    auto take = library_.take(takeID_);
    if (take && take->clips.empty() && exportedClips_) take->clips = *exportedClips_;
    return take;
}

double RetouchEditor::duration() const {
    const auto t = take();
    return t ? editor::takeLength(*t) : 0;
}

// MARK: Plain state

void RetouchEditor::setSelection(std::optional<Selection> selection) {
    if (selection == selection_) return;
    selection_ = std::move(selection);
    emit selectionChanged();
}

void RetouchEditor::setZoom(double zoom) {
    if (!std::isfinite(zoom) || zoom == zoom_) return;
    zoom_ = zoom;
    // A new zoom may leave the view start beyond the take's end.
    viewStart_ = StripGeometry{duration(), zoom_, viewStart_, 0}.clampViewStart(viewStart_);
    emit viewChanged();
}

void RetouchEditor::setViewStart(double viewStart) {
    if (!std::isfinite(viewStart) || viewStart == viewStart_) return;
    viewStart_ = viewStart;
    emit viewChanged();
}

#define MORVANE_SET_FLAG(member, value) \
    if (member == value) return;        \
    member = value;                     \
    emit stateChanged();

void RetouchEditor::setShowSound(bool show) {
    MORVANE_SET_FLAG(showSound_, show)
}
void RetouchEditor::setFullScreen(bool on) {
    MORVANE_SET_FLAG(fullScreen_, on)
}
void RetouchEditor::setRenaming(bool on) {
    MORVANE_SET_FLAG(renaming_, on)
}
void RetouchEditor::setConfirmDelete(bool on) {
    MORVANE_SET_FLAG(confirmDelete_, on)
}
#undef MORVANE_SET_FLAG

void RetouchEditor::setNewName(std::string name) {
    newName_ = std::move(name);
}

void RetouchEditor::clearError() {
    if (!error_) return;
    error_.reset();
    emit stateChanged();
}

void RetouchEditor::setWorkingEdit(const RetouchEdit& edit) {
    if (!edit_ || *edit_ == edit) return;
    edit_ = edit;
    emit editChanged();
}

void RetouchEditor::setTime(double time) {
    if (!std::isfinite(time) || time == time_) return;
    time_ = time;
    emit timeChanged();
}

void RetouchEditor::setPlaying(bool playing) {
    if (playing == playing_) return;
    playing_ = playing;
    emit playingChanged();
}

// MARK: Lifecycle

RetouchEdit RetouchEditor::baseEdit(const RetouchTake& take) const {
    if (take.edit) return *take.edit;
    return liveCut_ ? *liveCut_ : RetouchEdit::editFromLiveCut(take);
}

void RetouchEditor::loadEdit() {
    const auto take = this->take();
    if (!take || edit_) return;
    edit_ = baseEdit(*take);
    if (!take->edit) liveCut_ = edit_;
    setTime(edit_->trimStart);
    ticker_.start();
    emit editChanged();
    rebuildPreview();
}

void RetouchEditor::resume() {
    if (edit_ && !ticker_.isActive()) ticker_.start();
}

void RetouchEditor::teardown() {
    player_.pause();
    ticker_.stop();
}

void RetouchEditor::pushHistory(RetouchEdit entry) {
    history_.push_back(std::move(entry));
    while (history_.size() > historyLimit) history_.erase(history_.begin());
}

void RetouchEditor::commitEdit(EditChange change) {
    const auto take = this->take();
    if (!edit_ || !take) return;
    if (change) {
        pushHistory(*edit_);
        change(*edit_);
    } else {
        auto base = baseEdit(*take);
        if (*edit_ == base) return;
        pushHistory(std::move(base));
    }
    edit_->normalize();
    library_.saveEdit(edit_, takeID_);
    emit editChanged();
    rebuildPreview();
}

void RetouchEditor::undo() {
    if (history_.empty()) return;
    edit_ = std::move(history_.back());
    history_.pop_back();
    setSelection(std::nullopt);
    library_.saveEdit(edit_, takeID_);
    emit editChanged();
    rebuildPreview();
}

void RetouchEditor::rebuildPreview() {
    const auto take = this->take();
    if (!take || !edit_) return;
    const std::uint64_t generation = ++rebuildGeneration_;
    const double t = time_;
    const bool wasPlaying = player_.rate() != 0;
    const RetouchEdit edit = *edit_;
    QPointer<RetouchEditor> self(this);
    builder_(*take, edit, this,
             [self, generation, edit, t, wasPlaying](std::optional<RetouchBuilder::Program> program,
                                                     std::exception_ptr error) {
                 // A failed build keeps the current item; a superseded one is dropped.
                 if (!self || error || !program || generation != self->rebuildGeneration_) return;
                 const auto& vc = program->videoComposition;
                 const double rate = vc.frameDuration.isValid() && vc.frameDuration.value > 0
                                         ? 1.0 / vc.frameDuration.seconds()
                                         : self->framesPerSecond_;
                 if (vc.renderWidth != self->renderWidth_ || vc.renderHeight != self->renderHeight_ ||
                     rate != self->framesPerSecond_) {
                     self->renderWidth_ = vc.renderWidth;
                     self->renderHeight_ = vc.renderHeight;
                     self->framesPerSecond_ = rate;
                     emit self->stateChanged();
                 }
                 self->itemEdit_ = edit;
                 self->player_.replaceCurrentItem(std::move(*program));
                 self->player_.seek(edit.programTime(t), [self, generation, wasPlaying](bool finished) {
                     if (!self || !finished || !wasPlaying || generation != self->rebuildGeneration_) return;
                     self->player_.play();
                 });
             });
}

void RetouchEditor::timeObserverTick(double programSeconds) {
    if (!edit_) return;
    if (itemEdit_) setTime(itemEdit_->takeTime(programSeconds));
    setPlaying(player_.rate() != 0);
}

// MARK: Player area

void RetouchEditor::seek(double time) {
    if (!edit_) return;
    const auto target = editor::seekTarget(*edit_, time);
    if (!target) return;  // a gesture on a strip without width gives no time
    setTime(*target);
    player_.seek((itemEdit_ ? *itemEdit_ : *edit_).programTime(*target));
}

void RetouchEditor::jumpToSwitch(bool forward) {
    if (!edit_) return;
    player_.pause();
    seek(editor::jumpTarget(*edit_, time_, forward));
}

void RetouchEditor::togglePlay() {
    if (player_.rate() != 0) {
        player_.pause();
    } else {
        if (edit_ && edit_->programTime(time_) >= editor::programLength(*edit_) - endOfProgramMargin) {
            seek(edit_->trimStart);
        }
        player_.play();
    }
    setPlaying(player_.rate() != 0);
}

void RetouchEditor::moveSwitch(const Uuid& id, double time) {
    commitEdit([id, time](RetouchEdit& edit) { editor::moveSwitchTime(edit, id, time); });
}

void RetouchEditor::selectBlock(double time) {
    if (!edit_) return;
    if (auto selection = editor::selectionAt(*edit_, duration(), time)) setSelection(std::move(selection));
}

void RetouchEditor::tapCamera(const std::string& camera) {
    if (selection_) {
        if (const auto* block = selection_->as<Selection::Block>()) {
            const double start = block->start;
            commitEdit([camera, start](RetouchEdit& edit) { editor::retargetSwitch(edit, camera, start); });
            return;
        }
    }
    const double t = time_;
    commitEdit([camera, t](RetouchEdit& edit) { editor::switchAtPlayhead(edit, camera, t); });
}

// MARK: Menus and panels

void RetouchEditor::setTrimStart() {
    const double t = time_;
    commitEdit([t](RetouchEdit& edit) { editor::setTrimStart(edit, t); });
}

void RetouchEditor::setTrimEnd() {
    const double t = time_, length = duration();
    commitEdit([t, length](RetouchEdit& edit) { editor::setTrimEnd(edit, t, length); });
}

void RetouchEditor::clearTrim() {
    const auto take = this->take();
    if (!take) return;
    commitEdit([take = *take](RetouchEdit& edit) { editor::clearTrim(edit, take); });
}

void RetouchEditor::restoreLiveCut() {
    const auto take = this->take();
    if (!take) return;
    commitEdit([take = *take](RetouchEdit& edit) { editor::restoreLiveCut(edit, take); });
}

void RetouchEditor::restoreRemovedParts() {
    commitEdit([](RetouchEdit& edit) { editor::restoreRemovedParts(edit); });
}

void RetouchEditor::renameFromMenu() {
    const auto take = this->take();
    newName_ = take && take->name ? *take->name : std::string();
    setRenaming(true);
}

void RetouchEditor::askDelete() {
    setConfirmDelete(true);
}

void RetouchEditor::soundSheetClosed() {
    setShowSound(false);
    commitEdit();
}

void RetouchEditor::nudgeSwitch(const Uuid& id, double by) {
    if (!edit_) return;
    for (const auto& s : edit_->switches) {
        if (s.id == id) {
            const double target = s.time + by;
            commitEdit([id, target](RetouchEdit& edit) { editor::moveSwitchTime(edit, id, target); });
            return;
        }
    }
}

void RetouchEditor::deleteSwitch(const Uuid& id) {
    commitEdit([id](RetouchEdit& edit) { editor::deleteSwitch(edit, id); });
    setSelection(std::nullopt);
}

void RetouchEditor::removeBlock(double start, double end) {
    commitEdit([start, end](RetouchEdit& edit) { editor::removeRange(edit, start, end); });
    setSelection(std::nullopt);
}

void RetouchEditor::restoreSection(const Uuid& id) {
    commitEdit([id](RetouchEdit& edit) { editor::restoreSection(edit, id); });
    setSelection(std::nullopt);
}

void RetouchEditor::saveRename() {
    setRenaming(false);
    library_.rename(takeID_, newName_);
}

void RetouchEditor::deleteTake() {
    setConfirmDelete(false);
    if (const auto take = this->take()) library_.deleteTake(*take);
    emit dismissRequested();
}

// MARK: Export

void RetouchEditor::finishExport(QPointer<RetouchEditor> editor, RetouchLibrary& library, const Uuid& takeID,
                                 const RetouchTake& take, const RetouchEdit& edit, const std::filesystem::path& file) {
    if (editor) {
        editor->exportedClips_ = take.clips;
        editor->itemEdit_.reset();
        editor->player_.replaceCurrentItem(std::nullopt);  // the preview goes blank
    }
    // Announced from the take as it was when the export began, before the library gives up its copies.
    NotificationHub::shared().postDeckEditExported(makeDeckEdit(take, edit));
    library.recordExport(takeID, file);
    if (!editor) return;
    editor->exporting_ = false;
    editor->exportProgress_.reset();
    editor->exported_ = file;
    emit editor->stateChanged();
}

DeckEdit RetouchEditor::makeDeckEdit(const RetouchTake& take, const RetouchEdit& edit) {
    return RetouchLibrary::makeDeckEdit(take, edit);
}

void RetouchEditor::exportTask() {
    const auto take = this->take();
    if (!take || !edit_ || exporting_) return;
    exporting_ = true;
    player_.pause();
    exportProgress_ = 0;
    emit stateChanged();

    // The export outlives the editor: it is tied to the library, and reaches the editor only while it exists.
    QPointer<RetouchEditor> self(this);
    RetouchLibrary* library = &library_;
    const Uuid takeID = takeID_;
    const RetouchTake takeAtStart = *take;
    const RetouchEdit editAtStart = *edit_;
    auto fail = [self](std::exception_ptr error) {
        if (!self) return;
        self->exporting_ = false;
        self->exportProgress_.reset();
        self->error_ = describe(error);
        emit self->stateChanged();
    };
    Exporter exporter = exporter_;
    builder_(takeAtStart, editAtStart, library,
             [self, library, takeID, takeAtStart, editAtStart, fail, exporter](
                 std::optional<RetouchBuilder::Program> program, std::exception_ptr error) {
                 if (error || !program) return fail(error);
                 auto progress = [self](float fraction) {
                     if (!self || !self->exportProgress_ || !std::isfinite(fraction)) return;
                     self->exportProgress_ = fraction;
                     emit self->stateChanged();
                 };
                 exporter(std::move(*program), takeAtStart, library, progress,
                          [self, library, takeID, takeAtStart, editAtStart, fail](
                              std::optional<std::filesystem::path> file, std::exception_ptr error) {
                              if (error || !file) return fail(error);
                              finishExport(self, *library, takeID, takeAtStart, editAtStart, *file);
                          });
             });
}

}  // namespace morvane
