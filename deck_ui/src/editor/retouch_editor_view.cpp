#include "deck_ui/editor/retouch_editor_view.h"

#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>

#include "camera_panels/round_icon_button.h"
#include "deck_ui/editor/angle_button.h"
#include "deck_ui/editor/editor_rules.h"
#include "deck_ui/editor/retouch_editor.h"
#include "deck_ui/editor/retouch_sound_view.h"
#include "deck_ui/editor/retouch_strip.h"
#include "deck_ui/editor/selection_panel.h"
#include "deck_ui/player/program_player.h"
#include "deck_ui/player/program_video_view.h"
#include "editor_widgets.h"
#include "platform/desktop_open.h"

namespace morvane {

using namespace editorui;

namespace {

constexpr int navigationHeight = 52;
constexpr int inset = 16;
constexpr int columnSpacing = 12;
constexpr double tallPictureShare = 0.55;
// The preview never shrinks below this to make room; a window smaller still scrolls.
constexpr int smallestPreview = 120;

// A rounded card centred over the editor. Opaque: the transport and the timecode under it would show through a
// translucent material and read as part of the card.
class Card : public QWidget {
public:
    explicit Card(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, true);
        theme::fillRoundedRect(p, QRectF(rect()), 16, theme::sheetBackground());
        p.setPen(QPen(QColor(72, 72, 74), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
    }
};

// The full-screen player: the picture on black, closed with Escape.
class FullScreenPlayer : public QWidget {
public:
    FullScreenPlayer(ProgramPlayer& player, std::function<void()> onClose)
        : QWidget(nullptr, Qt::Window), onClose_(std::move(onClose)) {
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(QStringLiteral("Brindlecroft"));
        QPalette p = palette();
        p.setColor(QPalette::Window, Qt::black);
        setPalette(p);
        setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* view = new ProgramVideoView(player, this);
        view->setCornerRadius(0);
        view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(view);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            close();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        if (onClose_) onClose_();
        QWidget::closeEvent(event);
    }

private:
    std::function<void()> onClose_;
};

}  // namespace

RetouchEditorView::RetouchEditorView(Uuid takeID, RetouchLibrary& library, std::unique_ptr<SoundOutput> sound,
                                     QWidget* parent)
    : QWidget(parent),
      player_(std::make_unique<ProgramPlayer>(std::move(sound))),
      editor_(std::make_unique<RetouchEditor>(takeID, *player_, library)) {
    setObjectName(QStringLiteral("retouchEditor"));
    theme::setBackground(*this, Qt::black);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(makeNavigationBar());

    auto* body = new QWidget(this);
    stack_ = new QStackedLayout(body);
    loading_ = new QWidget(body);
    auto* loadingLayout = new QVBoxLayout(loading_);
    auto* spinner = new QProgressBar(loading_);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(120, 4);
    loadingLayout->addWidget(spinner, 0, Qt::AlignCenter);
    stack_->addWidget(loading_);

    scroll_ = new QScrollArea(body);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidget(makeColumn());
    stack_->addWidget(scroll_);
    outer->addWidget(body, 1);

    card_ = new Card(this);
    card_->hide();

    connect(editor_.get(), &RetouchEditor::editChanged, this, &RetouchEditorView::refreshEdit);
    connect(editor_.get(), &RetouchEditor::timeChanged, this, &RetouchEditorView::refreshTime);
    connect(editor_.get(), &RetouchEditor::playingChanged, this, &RetouchEditorView::refreshTime);
    connect(editor_.get(), &RetouchEditor::stateChanged, this, &RetouchEditorView::refreshState);
    connect(editor_.get(), &RetouchEditor::dismissRequested, this, &RetouchEditorView::closeRequested);
    refreshEdit();
    refreshState();
}

RetouchEditorView::~RetouchEditorView() {
    editor_->teardown();
    if (fullScreen_) delete fullScreen_.data();
}

// MARK: Building

QWidget* RetouchEditorView::makeNavigationBar() {
    auto* bar = new QWidget(this);
    bar->setFixedHeight(navigationHeight);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(8, 0, 12, 0);

    auto* back = symbolButton(
        "chevron.left", tr("Takes"), theme::TextStyle::body, [this] { emit closeRequested(); }, bar);
    back->setAccessibleName(tr("Back"));
    layout->addWidget(back);
    layout->addStretch(1);

    titleButton_ = new QPushButton(bar);
    titleButton_->setObjectName(QStringLiteral("titleButton"));
    titleButton_->setAccessibleName(tr("Rename take"));
    titleButton_->setFlat(true);
    titleButton_->setCursor(Qt::PointingHandCursor);
    titleButton_->setFont(theme::font(theme::TextStyle::headline));
    titleButton_->setIcon(
        symbolIcon("pencil", theme::white(), symbolPixelSize(theme::pointSize(theme::TextStyle::caption))));
    titleButton_->setLayoutDirection(Qt::RightToLeft);  // the pencil after the title
    titleButton_->setStyleSheet(
        QStringLiteral("QPushButton { border: none; color: white; padding: 4px 8px; }"
                       "QPushButton:hover { background: rgba(255,255,255,20); border-radius: 6px; }"));
    connect(titleButton_, &QPushButton::clicked, this, [this] { editor_->renameFromMenu(); });
    layout->addWidget(titleButton_);
    layout->addStretch(1);

    undoButton_ = symbolButton(
        "arrow.uturn.backward", {}, theme::TextStyle::body, [this] { editor_->undo(); }, bar);
    undoButton_->setObjectName(QStringLiteral("undoButton"));
    undoButton_->setAccessibleName(tr("Undo"));
    undoButton_->setToolTip(tr("Undo"));
    layout->addWidget(undoButton_);
    exportButton_ = textButton(
        tr("Export"), theme::TextStyle::body, [this] { editor_->exportTask(); }, bar, true);
    exportButton_->setObjectName(QStringLiteral("exportButton"));
    layout->addWidget(exportButton_);
    return bar;
}

QWidget* RetouchEditorView::makeColumn() {
    auto* page = new QWidget(scroll_);
    auto* centring = new QHBoxLayout(page);
    centring->setContentsMargins(inset, inset, inset, inset);
    auto* column = new QWidget(page);
    column->setMaximumWidth(columnMaximumWidth);
    column->installEventFilter(this);
    centring->addWidget(column);
    auto* layout = new QVBoxLayout(column);
    column_ = column;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(columnSpacing);

    // The video, with the full-screen button over its top trailing corner.
    video_ = new ProgramVideoView(*player_, column);
    fullScreenButton_ = new RoundIconButton(
        "arrow.up.left.and.arrow.down.right", tr("Full screen"), [this] { editor_->setFullScreen(true); }, video_);
    video_->installEventFilter(this);
    layout->addWidget(video_);

    // Transport.
    auto* transport = new QHBoxLayout();
    transport->setSpacing(18);
    auto* previous = symbolButton(
        "backward.end.fill", {}, theme::TextStyle::body, [this] { editor_->jumpToSwitch(false); }, column);
    previous->setAccessibleName(tr("Previous switch"));
    playButton_ = symbolButton(
        "play.fill", {}, theme::TextStyle::title2, [this] { editor_->togglePlay(); }, column);
    playButton_->setFixedSize(44, 36);
    playButton_->setObjectName(QStringLiteral("playButton"));
    auto* next = symbolButton(
        "forward.end.fill", {}, theme::TextStyle::body, [this] { editor_->jumpToSwitch(true); }, column);
    next->setAccessibleName(tr("Next switch"));
    timecode_ = label(QString(), theme::TextStyle::subheadline, theme::white(), column);
    timecode_->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::subheadline)));
    timecode_->setObjectName(QStringLiteral("timecode"));
    transport->addStretch();
    transport->addWidget(previous);
    transport->addWidget(playButton_);
    transport->addWidget(next);
    transport->addWidget(timecode_);
    transport->addStretch();
    layout->addLayout(transport);

    layout->addWidget(new RetouchStrip(*editor_, column));

    cameraRow_ = new QWidget(column);
    auto* cameras = new QHBoxLayout(cameraRow_);
    cameras->setContentsMargins(0, 0, 0, 0);
    cameras->setSpacing(8);
    layout->addWidget(cameraRow_);

    layout->addWidget(new SelectionPanel(*editor_, column));

    auto* trim = new QHBoxLayout();
    trim->addWidget(symbolButton(
        "arrow.right.to.line", tr("Start here"), theme::TextStyle::subheadline, [this] { editor_->setTrimStart(); },
        column));
    trim->addStretch();
    trim->addWidget(symbolButton(
        "arrow.left.to.line", tr("End here"), theme::TextStyle::subheadline, [this] { editor_->setTrimEnd(); },
        column));
    layout->addLayout(trim);

    auto* soundAndMore = new QHBoxLayout();
    soundButton_ = symbolButton(
        "speaker.wave.2", QString(), theme::TextStyle::subheadline, [this] { editor_->openSound(); }, column);
    soundButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    soundButton_->setObjectName(QStringLiteral("soundButton"));
    soundAndMore->addWidget(soundButton_);
    soundAndMore->addStretch();
    moreButton_ = symbolButton("ellipsis.circle", tr("More"), theme::TextStyle::subheadline, {}, column);
    moreButton_->setObjectName(QStringLiteral("moreButton"));
    moreButton_->setPopupMode(QToolButton::InstantPopup);
    moreButton_->setStyleSheet(moreButton_->styleSheet() +
                               QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    auto* menu = new QMenu(moreButton_);
    const QColor white = theme::white();
    const qreal iconSize = symbolPixelSize(theme::pointSize(theme::TextStyle::body));
    auto* undoItem =
        menu->addAction(symbolIcon("arrow.uturn.backward", white, iconSize), tr("Undo"), [this] { editor_->undo(); });
    undoItem->setObjectName(QStringLiteral("menuUndo"));
    menu->addSeparator();
    menu->addAction(symbolIcon("dot.radiowaves.left.and.right", white, iconSize), tr("Restore to live cut"),
                    [this] { editor_->restoreLiveCut(); });
    menu->addAction(symbolIcon("arrow.left.and.right", white, iconSize), tr("Clear the trim"),
                    [this] { editor_->clearTrim(); });
    menu->addAction(symbolIcon("arrow.counterclockwise", white, iconSize), tr("Restore removed parts"),
                    [this] { editor_->restoreRemovedParts(); });
    menu->addSeparator();
    menu->addAction(symbolIcon("pencil", white, iconSize), tr("Rename Take"), [this] { editor_->renameFromMenu(); });
    auto* remove = menu->addAction(symbolIcon("trash", theme::red(), iconSize), tr("Delete Take\u2026"),
                                   [this] { editor_->askDelete(); });
    remove->setObjectName(QStringLiteral("menuDelete"));
    connect(menu, &QMenu::aboutToShow, this, [this, undoItem] { undoItem->setEnabled(!editor_->history().empty()); });
    moreButton_->setMenu(menu);
    soundAndMore->addWidget(moreButton_);
    layout->addLayout(soundAndMore);
    layout->addStretch(1);
    return page;
}

void RetouchEditorView::buildCameraRow() {
    const auto take = editor_->take();
    const auto cameras = take ? take->cameras() : std::vector<std::string>{};
    QString key;
    for (const auto& c : cameras) key += QString::fromStdString(c) + QChar(0);
    if (key == cameraRowFor_) return;
    cameraRowFor_ = key;
    auto* layout = cameraRow_->layout();
    theme::clearLayout(*layout);
    for (const auto& camera : cameras) {
        auto* button = new AngleButton(*editor_, camera, cameraRow_);
        connect(button, &AngleButton::clicked, this, [this, camera] { editor_->tapCamera(camera); });
        layout->addWidget(button);
    }
}

// MARK: Refreshing

void RetouchEditorView::refreshEdit() {
    const auto take = editor_->take();
    stack_->setCurrentWidget(editor_->loaded() ? static_cast<QWidget*>(scroll_) : loading_);
    titleButton_->setText(QString::fromStdString(editor::titleText(take)));
    undoButton_->setEnabled(!editor_->history().empty());
    if (const auto& edit = editor_->edit()) {
        soundButton_->setText(QString::fromStdString(
            editor::soundLabel(edit->sound, take ? take->cameras() : std::vector<std::string>{})));
    }
    buildCameraRow();
    refreshTime();
    refreshState();
}

void RetouchEditorView::refreshTime() {
    if (const auto& edit = editor_->edit()) {
        timecode_->setText(
            QString::fromStdString(editor::transportText(*edit, editor_->time(), editor_->framesPerSecond())));
    }
    const bool playing = editor_->playing();
    playButton_->setIcon(symbolIcon(playing ? "pause.fill" : "play.fill", theme::blue(),
                                    symbolPixelSize(theme::pointSize(theme::TextStyle::title2))));
    playButton_->setAccessibleName(playing ? tr("Pause") : tr("Play"));
}

void RetouchEditorView::refreshState() {
    exportButton_->setEnabled(!editor_->exportProgress() && editor_->edit().has_value());
    video_->setAspectRatio(editor_->renderWidth() / std::max(editor_->renderHeight(), 1.0));
    fitPreview();
    placeFullScreenButton();
    refreshTime();  // the times are written at the take's rate, which comes with the preview
    presentSound(editor_->showSound());
    presentFullScreen(editor_->fullScreen());
    presentRename(editor_->renaming());
    presentDelete(editor_->confirmDelete());
    presentExportError();
    refreshCard();
}

// The preview gives up height so that the column from the transport to the last row fits the window: a click on
// the strip then shows its panel in view. A tall picture takes at most 55 % of the window's height.
void RetouchEditorView::fitPreview() {
    if (!column_) return;
    auto* layout = column_->layout();
    const int width = column_->width();
    int others = 0;
    int count = 0;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == video_ || item->spacerItem()) continue;
        if (item->widget() && item->widget()->isHidden()) continue;
        others += item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
        ++count;
    }
    const int room = scroll_->viewport()->height() - 2 * inset - others - count * columnSpacing;
    int limit = std::max(room, smallestPreview);
    if (editor_->tallPicture()) limit = std::min(limit, std::max(int(height() * tallPictureShare), smallestPreview));
    video_->setMaximumPictureHeight(limit);
}

// Over the picture's own corner: with the preview made smaller the picture no longer fills its width.
void RetouchEditorView::placeFullScreenButton() {
    if (!fullScreenButton_) return;
    const QRect picture = video_->pictureArea();
    fullScreenButton_->move(picture.right() + 1 - fullScreenButton_->width() - 6, picture.top() + 6);
}

// MARK: Presentations

void RetouchEditorView::presentSound(bool show) {
    if (show == bool(soundSheet_)) return;
    if (!show) {
        if (soundSheet_) soundSheet_->close();
        return;
    }
    const auto take = editor_->take();
    auto* sheet = new RetouchSoundView(*editor_, take ? take->cameras() : std::vector<std::string>{}, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    // Done or closing the window alike: the panel's changes are committed once.
    connect(sheet, &QDialog::finished, this, [this] {
        soundSheet_ = nullptr;
        editor_->soundSheetClosed();
    });
    soundSheet_ = sheet;
    sheet->open();
}

void RetouchEditorView::presentFullScreen(bool show) {
    if (show == bool(fullScreen_)) return;
    if (!show) {
        if (fullScreen_) fullScreen_->close();
        return;
    }
    auto* cover = new FullScreenPlayer(*player_, [this] {
        fullScreen_ = nullptr;
        // Pictures go back to the size of the editor's own view.
        const qreal ratio = video_->devicePixelRatioF();
        player_->setPictureLimit(QSize(int(video_->width() * ratio), int(video_->height() * ratio)));
        editor_->setFullScreen(false);
    });
    fullScreen_ = cover;
    cover->showFullScreen();
}

void RetouchEditorView::presentRename(bool show) {
    if (show == bool(renameAlert_)) return;
    if (!show) {
        if (renameAlert_) renameAlert_->reject();
        return;
    }
    auto* alert = new QInputDialog(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowTitle(tr("Rename take"));
    alert->setLabelText(tr("Name"));
    alert->setTextValue(QString::fromStdString(editor_->newName()));
    alert->setOkButtonText(tr("Save"));
    alert->setCancelButtonText(tr("Cancel"));
    alert->setWindowModality(Qt::WindowModal);
    connect(alert, &QInputDialog::textValueChanged, this,
            [this](const QString& text) { editor_->setNewName(text.toStdString()); });
    connect(alert, &QInputDialog::finished, this, [this](int result) {
        renameAlert_ = nullptr;
        if (result == QDialog::Accepted) {
            editor_->saveRename();
        } else {
            editor_->setRenaming(false);
        }
    });
    renameAlert_ = alert;
    alert->open();
}

void RetouchEditorView::presentDelete(bool show) {
    if (show == bool(deleteDialog_)) return;
    if (!show) {
        if (deleteDialog_) deleteDialog_->reject();
        return;
    }
    auto* dialog = new QMessageBox(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Delete this take?"));
    dialog->setText(tr("Delete this take?"));
    dialog->setInformativeText(
        tr("Its 1080p copies and your edits are removed from this computer. The 4K originals stay on the cameras."));
    auto* remove = dialog->addButton(tr("Delete Take"), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("deleteTake"));
    dialog->addButton(tr("Cancel"), QMessageBox::RejectRole);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QMessageBox::finished, this, [this, dialog, remove](int) {
        deleteDialog_ = nullptr;
        if (dialog->clickedButton() == remove) {
            editor_->deleteTake();
        } else {
            editor_->setConfirmDelete(false);
        }
    });
    deleteDialog_ = dialog;
    dialog->open();
}

void RetouchEditorView::presentExportError() {
    const auto& error = editor_->error();
    if (bool(error) == bool(exportAlert_)) return;
    if (!error) {
        if (exportAlert_) exportAlert_->close();
        return;
    }
    auto* alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowTitle(tr("Couldn't export"));
    alert->setText(tr("Couldn't export"));
    alert->setInformativeText(QString::fromStdString(*error));
    alert->addButton(tr("OK"), QMessageBox::RejectRole);
    alert->setWindowModality(Qt::WindowModal);
    connect(alert, &QMessageBox::finished, this, [this] {
        exportAlert_ = nullptr;
        editor_->clearError();
    });
    exportAlert_ = alert;
    alert->open();
}

void RetouchEditorView::refreshCard() {
    const auto& progress = editor_->exportProgress();
    const auto& exported = editor_->exported();
    const QString wanted = progress ? QStringLiteral("progress") : (exported ? QStringLiteral("done") : QString());
    if (wanted != shownCard_) {
        shownCard_ = wanted;
        // Hidden while rebuilt, so that showing it shows the new items with it.
        card_->hide();
        delete card_->layout();
        for (auto* child : card_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) delete child;
        cardProgress_ = nullptr;
        cardText_ = nullptr;
        if (wanted.isEmpty()) {
            card_->hide();
            return;
        }
        auto* layout = new QVBoxLayout(card_);
        layout->setContentsMargins(24, 24, 24, 24);
        layout->setAlignment(Qt::AlignHCenter);
        if (progress) {
            layout->setSpacing(12);
            cardProgress_ = new QProgressBar(card_);
            cardProgress_->setRange(0, 1000);
            cardProgress_->setTextVisible(false);
            cardProgress_->setFixedSize(220, 6);
            cardText_ = label(QString(), theme::TextStyle::subheadline, theme::white(), card_);
            cardText_->setObjectName(QStringLiteral("exportProgressText"));
            layout->addWidget(cardProgress_, 0, Qt::AlignHCenter);
            layout->addWidget(cardText_, 0, Qt::AlignHCenter);
        } else {
            layout->setSpacing(14);
            auto* check = new QLabel(card_);
            check->setPixmap(symbolPixmap("checkmark.circle.fill", theme::green(),
                                          symbolPixelSize(theme::pointSize(theme::TextStyle::largeTitle)),
                                          devicePixelRatioF()));
            layout->addWidget(check, 0, Qt::AlignHCenter);
            auto* text = label(QString::fromStdString(editor::exportDoneText()), theme::TextStyle::subheadline,
                               theme::white(), card_);
            text->setObjectName(QStringLiteral("exportDoneText"));
            layout->addWidget(text, 0, Qt::AlignHCenter);
            auto* share = new QPushButton(
                symbolIcon("play.fill", theme::white(), symbolPixelSize(theme::pointSize(theme::TextStyle::body))),
                tr("Open"), card_);
            share->setObjectName(QStringLiteral("shareButton"));
            share->setCursor(Qt::PointingHandCursor);
            share->setFont(theme::font(theme::TextStyle::body, QFont::DemiBold));
            share->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none; "
                                                "border-radius: 8px; padding: 8px 16px; }")
                                     .arg(theme::blue().name()));
            connect(share, &QPushButton::clicked, this, [this] {
                if (const auto& file = editor_->exported())
                    openWithDesktop(QUrl::fromLocalFile(QString::fromStdString(file->string())), this);
            });
            layout->addWidget(share, 0, Qt::AlignHCenter);
            auto* done = textButton(
                tr("Done"), theme::TextStyle::body, [this] { editor_->done(); }, card_);
            done->setObjectName(QStringLiteral("doneButton"));
            layout->addWidget(done, 0, Qt::AlignHCenter);
        }
        card_->show();
        card_->raise();
    }
    if (progress && cardProgress_) {
        cardProgress_->setValue(int(std::clamp(*progress, 0.0f, 1.0f) * 1000));
        cardText_->setText(QString::fromStdString(editor::exportProgressText(*progress)));
    }
    placeCard();
}

void RetouchEditorView::placeCard() {
    if (!card_->isVisible() || !card_->layout()) return;
    card_->adjustSize();
    const QSize size = card_->sizeHint();
    card_->setGeometry(QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size));
}

// MARK: Lifecycle

void RetouchEditorView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (editor_->edit()) {
        editor_->resume();
    } else {
        editor_->loadEdit();
    }
}

void RetouchEditorView::hideEvent(QHideEvent* event) {
    // The full-screen cover hides nothing here: only leaving the screen tears the player down.
    if (!fullScreen_) editor_->teardown();
    QWidget::hideEvent(event);
}

void RetouchEditorView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeCard();
    fitPreview();
}

bool RetouchEditorView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == video_ && event->type() == QEvent::Resize) placeFullScreenButton();
    // The rows under the preview changed (a panel opened, the camera row filled) or the column got its width.
    if (watched == column_ && (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize)) {
        fitPreview();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace morvane
