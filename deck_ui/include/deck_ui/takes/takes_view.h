#pragma once

#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "deck/retouch_library.h"
#include "deck_ui/editor/retouch_editor_view.h"
#include "link/peer_id.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace morvane {

class MonitorController;
class TakeRow;

/// The deck's screen of collected takes: the collecting switch and the request for today's takes, the copies still
/// arriving, and every take of the library, newest first. A row opens its take in the editor, pushed on this
/// screen; its context menu (or the Delete key) renames and deletes it. While it is open, rows keep their place as
/// copies arrive: a camera's arriving row stays once shown, a row is changed in place, and a take filed on top
/// scrolls the list so that the row under the pointer (else the first in view) stays where it was.
class TakesView : public QWidget {
    Q_OBJECT

public:
    /// Over the remote's controller and the take library (the controller's, else the shared one).
    explicit TakesView(std::shared_ptr<MonitorController> controller, RetouchLibrary* library = nullptr,
                       QWidget* parent = nullptr);
    ~TakesView() override;

    RetouchLibrary& library() const { return library_; }
    /// The rows in the order shown.
    QList<TakeRow*> rows() const;
    /// The editor pushed from a row, while it is open.
    RetouchEditorView* editor() const { return editor_; }
    QInputDialog* renameAlert() const { return renameAlert_; }
    QMessageBox* deleteDialog() const { return deleteDialog_; }

    void openEditor(const RetouchTake& take);
    void beginRename(const RetouchTake& take);
    void commitRename();
    void beginDelete(const RetouchTake& take);
    void confirmDelete();

signals:
    /// "Done": the presenter closes the sheet.
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// The row that keeps its place through a change, and how far below the list's visible top it stands.
    struct Anchor {
        QPointer<QWidget> row;
        int offset = 0;
    };
    struct ArrivingRow {
        QPointer<QWidget> row;
        QLabel* name = nullptr;
        QProgressBar* bar = nullptr;
        QLabel* text = nullptr;
    };

    void rebuildTakes();
    void rebuildArriving();
    void refreshCollecting();
    void closeEditor();
    void holdPlace();
    void keepPlace();
    ArrivingRow makeArrivingRow();

    std::shared_ptr<MonitorController> controller_;
    RetouchLibrary& library_;
    std::optional<RetouchTake> renaming_;
    std::string newName_;
    std::optional<RetouchTake> deleting_;

    QStackedWidget* pages_ = nullptr;
    QWidget* list_ = nullptr;
    QCheckBox* autoCollect_ = nullptr;
    QToolButton* todaysTakes_ = nullptr;
    QLabel* footer_ = nullptr;
    QWidget* arriving_ = nullptr;
    QVBoxLayout* arrivingRows_ = nullptr;
    std::map<PeerId, ArrivingRow> arrivingByCamera_;
    QVBoxLayout* takeRows_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* page_ = nullptr;
    QWidget* collecting_ = nullptr;
    Anchor anchor_;
    bool keeping_ = false;
    QPointer<RetouchEditorView> editor_;
    QPointer<QInputDialog> renameAlert_;
    QPointer<QMessageBox> deleteDialog_;
};

}  // namespace morvane
