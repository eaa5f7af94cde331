#pragma once

#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <memory>

#include "deck/retouch_library.h"
#include "deck_ui/editor/retouch_sound_view.h"
#include "deck_ui/player/sound_output.h"
#include "platform/uuid.h"

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedLayout;
class QToolButton;
class QVBoxLayout;

namespace morvane {

class ProgramPlayer;
class ProgramVideoView;
class RetouchEditor;
class RoundIconButton;

/// The deck editor's screen for one take: the navigation bar with the title, undo and "Export"; the preview with
/// its transport, the switching strip, the camera buttons, the selection panel, the trim row and the sound and
/// "More" row; the sound sheet, the full-screen player, the rename and delete dialogs, the export cards and the
/// export alert. A thin view over `RetouchEditor`: it re-reads the editor on its signals and calls its operations.
///
/// Coming on screen loads the edit; leaving it tears the player down. `closeRequested` asks the presenter to close it.
class RetouchEditorView : public QWidget {
    Q_OBJECT

public:
    /// An editor of the take in `library`; its preview sound goes to `sound`, or to the default sound device.
    explicit RetouchEditorView(Uuid takeID, RetouchLibrary& library = RetouchLibrary::shared(),
                               std::unique_ptr<SoundOutput> sound = nullptr, QWidget* parent = nullptr);
    ~RetouchEditorView() override;

    RetouchEditor& editor() const { return *editor_; }
    ProgramPlayer& player() const { return *player_; }

    /// The presentations, while shown (tests and the screenshot program reach them here).
    RetouchSoundView* soundSheet() const { return soundSheet_; }
    QInputDialog* renameAlert() const { return renameAlert_; }
    QMessageBox* deleteDialog() const { return deleteDialog_; }
    QMessageBox* exportAlert() const { return exportAlert_; }
    QWidget* fullScreenPlayer() const { return fullScreen_; }
    /// The card over the content: "progress", "done" or empty.
    QString shownCard() const { return shownCard_; }
    QWidget* card() const { return card_; }

    static constexpr int columnMaximumWidth = 760;

signals:
    void closeRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeNavigationBar();
    QWidget* makeColumn();
    void buildCameraRow();
    void refreshEdit();
    void refreshTime();
    void refreshState();
    void refreshCard();
    void presentSound(bool show);
    void presentFullScreen(bool show);
    void presentRename(bool show);
    void presentDelete(bool show);
    void presentExportError();
    void placeCard();
    void fitPreview();
    void placeFullScreenButton();

    std::unique_ptr<ProgramPlayer> player_;
    std::unique_ptr<RetouchEditor> editor_;

    QStackedLayout* stack_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* loading_ = nullptr;
    QPushButton* titleButton_ = nullptr;
    QToolButton* undoButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QWidget* column_ = nullptr;
    ProgramVideoView* video_ = nullptr;
    RoundIconButton* fullScreenButton_ = nullptr;
    QToolButton* playButton_ = nullptr;
    QLabel* timecode_ = nullptr;
    QWidget* cameraRow_ = nullptr;
    QToolButton* soundButton_ = nullptr;
    QToolButton* moreButton_ = nullptr;
    QString cameraRowFor_;

    QPointer<RetouchSoundView> soundSheet_;
    QPointer<QInputDialog> renameAlert_;
    QPointer<QMessageBox> deleteDialog_;
    QPointer<QMessageBox> exportAlert_;
    QPointer<QWidget> fullScreen_;
    QWidget* card_ = nullptr;
    QString shownCard_;
    QProgressBar* cardProgress_ = nullptr;
    QLabel* cardText_ = nullptr;
};

}  // namespace morvane
