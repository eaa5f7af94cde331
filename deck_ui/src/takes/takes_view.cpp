#include "deck_ui/takes/takes_view.h"

#include <QCheckBox>
#include <QCursor>
#include <QDateTime>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "../editor/editor_widgets.h"
#include "deck_ui/editor/retouch_editor_view.h"
#include "deck_ui/takes/take_row.h"
#include "deck_ui/takes/takes_rules.h"
#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

using namespace editorui;

namespace {

constexpr int listMaximumWidth = 720;

// An on/off switch with its title on the left.
class ToggleSwitch : public QCheckBox {
public:
    ToggleSwitch(const QString& title, QWidget* parent) : QCheckBox(title, parent) {
        setFont(theme::font(theme::TextStyle::body));
        setCursor(Qt::PointingHandCursor);
        setMinimumHeight(44);
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(text()) + 80, 44}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(theme::white());
        p.setFont(font());
        p.drawText(QRectF(0, 0, width() - 64, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
        const QRectF track(width() - 51, (height() - 31) / 2.0, 51, 31);
        theme::fillCapsule(p, track, isChecked() ? theme::green() : theme::white(0.16));
        const qreal knob = 27;
        const qreal x = isChecked() ? track.right() - knob - 2 : track.left() + 2;
        theme::fillCircle(p, QRectF(x, track.top() + 2, knob, knob), theme::white());
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

QFrame* group(QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(QStringLiteral("group"));
    frame->setStyleSheet(QStringLiteral("QFrame#group { background: #1c1c1e; border-radius: 10px; }"));
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return frame;
}

QFrame* separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: rgba(255,255,255,30); margin-left: 16px;"));
    return line;
}

QLabel* sectionHeader(const QString& text, QWidget* parent) {
    auto* header = label(text.toUpper(), theme::TextStyle::footnote, theme::secondary(), parent);
    header->setContentsMargins(16, 14, 16, 4);
    return header;
}

}  // namespace

TakesView::TakesView(std::shared_ptr<MonitorController> controller, RetouchLibrary* library, QWidget* parent)
    : QWidget(parent),
      controller_(std::move(controller)),
      library_(library                                                    ? *library
               : controller_ && controller_->environment().retouchLibrary ? *controller_->environment().retouchLibrary
                                                                          : RetouchLibrary::shared()) {
    setObjectName(QStringLiteral("takesView"));
    theme::setBackground(*this, Qt::black);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    pages_ = new QStackedWidget(this);
    outer->addWidget(pages_);

    list_ = new QWidget(pages_);
    auto* listLayout = new QVBoxLayout(list_);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);

    auto* bar = new QWidget(list_);
    bar->setFixedHeight(52);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(16, 0, 16, 0);
    // "Done" at the leading end, where the editor pushed from here has its way back: the editor's "Export" holds
    // the trailing end, and a click meant to close never lands on it.
    auto* done = textButton(
        tr("Done"), theme::TextStyle::body, [this] { emit closeRequested(); }, bar, true);
    done->setObjectName(QStringLiteral("takesDone"));
    auto* balance = new QWidget(bar);
    balance->setFixedWidth(done->sizeHint().width());
    barLayout->addWidget(done);
    barLayout->addStretch();
    barLayout->addWidget(label(tr("Takes"), theme::TextStyle::headline, theme::white(), bar));
    barLayout->addStretch();
    barLayout->addWidget(balance);
    listLayout->addWidget(bar);

    auto* scroll = new QScrollArea(list_);
    scroll_ = scroll;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The scroll bar keeps its room: one that came as a take is filed would narrow the rows and move them.
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* page = new QWidget(scroll);
    page_ = page;
    auto* centring = new QHBoxLayout(page);
    centring->setContentsMargins(16, 8, 16, 24);
    auto* column = new QWidget(page);
    column->setMaximumWidth(listMaximumWidth);
    centring->addWidget(column);
    auto* sections = new QVBoxLayout(column);
    sections->setContentsMargins(0, 0, 0, 0);
    sections->setSpacing(0);

    // Collecting.
    auto* collecting = group(column);
    collecting_ = collecting;
    auto* toggleRow = new QWidget(collecting);
    auto* toggleLayout = new QHBoxLayout(toggleRow);
    toggleLayout->setContentsMargins(16, 0, 16, 0);
    autoCollect_ = new ToggleSwitch(tr("Collect each take automatically"), toggleRow);
    autoCollect_->setObjectName(QStringLiteral("autoCollect"));
    toggleLayout->addWidget(autoCollect_);
    connect(autoCollect_, &QCheckBox::toggled, this, [this](bool on) {
        if (controller_ && controller_->collectsTakesAutomatically() != on)
            controller_->setCollectsTakesAutomatically(on);
        refreshCollecting();
    });
    collecting->layout()->addWidget(toggleRow);
    collecting->layout()->addWidget(separator(collecting));
    todaysTakes_ = symbolButton(
        "square.and.arrow.down.on.square", tr("Get today's takes from the cameras"), theme::TextStyle::body,
        [this] {
            if (!controller_) return;
            // The start of today in the local calendar and time zone.
            const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
            controller_->getTodaysTakes(Date::fromUnix(double(midnight.toSecsSinceEpoch())));
        },
        collecting);
    todaysTakes_->setObjectName(QStringLiteral("todaysTakes"));
    todaysTakes_->setMinimumHeight(44);
    todaysTakes_->setStyleSheet(todaysTakes_->styleSheet() + QStringLiteral("QToolButton { padding-left: 14px; }"));
    collecting->layout()->addWidget(todaysTakes_);
    sections->addWidget(collecting);
    footer_ = label(QString(), theme::TextStyle::footnote, theme::secondary(), column);
    footer_->setObjectName(QStringLiteral("collectingFooter"));
    footer_->setWordWrap(true);
    footer_->setContentsMargins(16, 6, 16, 4);
    sections->addWidget(footer_);

    // Arriving.
    arriving_ = new QWidget(column);
    auto* arrivingLayout = new QVBoxLayout(arriving_);
    arrivingLayout->setContentsMargins(0, 0, 0, 0);
    arrivingLayout->setSpacing(0);
    arrivingLayout->addWidget(sectionHeader(tr("Arriving"), arriving_));
    auto* arrivingGroup = group(arriving_);
    arrivingRows_ = static_cast<QVBoxLayout*>(arrivingGroup->layout());
    arrivingLayout->addWidget(arrivingGroup);
    sections->addWidget(arriving_);

    // Takes.
    sections->addWidget(sectionHeader(tr("Takes"), column));
    auto* takesGroup = group(column);
    takeRows_ = static_cast<QVBoxLayout*>(takesGroup->layout());
    sections->addWidget(takesGroup);
    sections->addStretch(1);
    for (QWidget* part : {column, static_cast<QWidget*>(collecting), arriving_, static_cast<QWidget*>(arrivingGroup),
                          static_cast<QWidget*>(takesGroup)})
        part->installEventFilter(this);

    scroll->setWidget(page);
    listLayout->addWidget(scroll, 1);
    // The rows lay themselves out again as they change: the row kept stays kept. A scroll the person makes is the
    // place kept from then on.
    connect(scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, &TakesView::keepPlace);
    connect(scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!keeping_) holdPlace();
    });
    pages_->addWidget(list_);

    connect(&library_, &RetouchLibrary::takesChanged, this, &TakesView::rebuildTakes);
    if (controller_) {
        connect(controller_.get(), &MonitorController::feedsChanged, this, [this] {
            refreshCollecting();
            rebuildArriving();
        });
        connect(controller_.get(), &MonitorController::deckCopiesArrivingChanged, this, &TakesView::rebuildArriving);
        connect(controller_.get(), &MonitorController::collectsTakesAutomaticallyChanged, this,
                &TakesView::refreshCollecting);
    }
    refreshCollecting();
    rebuildArriving();
    rebuildTakes();
}

TakesView::~TakesView() = default;

QList<TakeRow*> TakesView::rows() const {
    QList<TakeRow*> out;
    for (int i = 0; i < takeRows_->count(); ++i) {
        if (auto* row = qobject_cast<TakeRow*>(takeRows_->itemAt(i)->widget())) out.push_back(row);
    }
    return out;
}

void TakesView::refreshCollecting() {
    const bool on = controller_ ? controller_->collectsTakesAutomatically() : autoCollect_->isChecked();
    if (autoCollect_->isChecked() != on) {
        const QSignalBlocker block(autoCollect_);
        autoCollect_->setChecked(on);
        autoCollect_->update();
    }
    footer_->setText(QString::fromStdString(takes::collectingFooter(on)));
    todaysTakes_->setEnabled(controller_ && !controller_->feeds().empty());
}

TakesView::ArrivingRow TakesView::makeArrivingRow() {
    ArrivingRow made;
    auto* row = new QWidget(arriving_);
    row->setObjectName(QStringLiteral("arrivingRow"));
    row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    row->installEventFilter(this);
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(16, 10, 16, 10);
    layout->setSpacing(4);
    made.name = label(QString(), theme::TextStyle::subheadline, theme::white(), row, QFont::DemiBold);
    layout->addWidget(made.name);
    made.bar = new QProgressBar(row);
    made.bar->setRange(0, 1000);
    made.bar->setTextVisible(false);
    made.bar->setFixedHeight(4);
    made.bar->setStyleSheet(QStringLiteral("QProgressBar { background: rgba(255,255,255,40); border: none; "
                                           "border-radius: 2px; } QProgressBar::chunk { background: %1; "
                                           "border-radius: 2px; }")
                                .arg(theme::green().name()));
    // The bar keeps its room while no copy is being sent: the row's height never changes.
    QSizePolicy policy = made.bar->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    made.bar->setSizePolicy(policy);
    layout->addWidget(made.bar);
    made.text = label(QString(), theme::TextStyle::caption, theme::secondary(), row);
    made.text->setObjectName(QStringLiteral("arrivingStatus"));
    layout->addWidget(made.text);
    made.row = row;
    return made;
}

void TakesView::rebuildArriving() {
    holdPlace();
    std::map<PeerId, std::shared_ptr<CameraFeed>> connected;
    if (controller_) {
        for (const auto& feed : controller_->feeds()) {
            // A row follows its camera's reports, and the section its membership.
            connect(feed.get(), &CameraFeed::statusChanged, this, &TakesView::rebuildArriving, Qt::UniqueConnection);
            connected[feed->id()] = feed;
            if (!takes::isArriving(feed->status()) || arrivingByCamera_.contains(feed->id())) continue;
            if (!arrivingByCamera_.empty()) arrivingRows_->addWidget(separator(arriving_));
            const ArrivingRow row = makeArrivingRow();
            arrivingRows_->addWidget(row.row);
            arrivingByCamera_[feed->id()] = row;
        }
    }
    // A row, once shown, stays while the screen is open and changes in place: the takes under it keep their place.
    for (auto& [id, row] : arrivingByCamera_) {
        if (!row.row) continue;
        const auto it = connected.find(id);
        const auto status = it != connected.end() ? it->second->status() : std::nullopt;
        if (it != connected.end()) row.name->setText(QString::fromStdString(it->second->name()));
        const bool sending = it != connected.end() && takes::isArriving(status) && status->deckCopyProgress;
        if (sending) row.bar->setValue(int(std::clamp(*status->deckCopyProgress, 0.0, 1.0) * 1000));
        row.bar->setVisible(sending);
        row.text->setText(QString::fromStdString(takes::keptArrivingText(status, it != connected.end())));
    }
    arriving_->setVisible(!arrivingByCamera_.empty());
    keepPlace();
}

void TakesView::rebuildTakes() {
    holdPlace();
    // Each take keeps its row while it is unchanged; the rows are placed again newest first.
    std::map<Uuid, TakeRow*> kept;
    while (QLayoutItem* item = takeRows_->takeAt(0)) {
        QWidget* widget = item->widget();
        delete item;
        auto* row = qobject_cast<TakeRow*>(widget);
        if (row) {
            kept[row->take().id] = row;
        } else if (widget) {
            widget->hide();
            widget->deleteLater();
        }
    }
    const auto& all = library_.takes();
    if (all.empty()) {
        auto* empty = label(tr("No takes yet"), theme::TextStyle::body, theme::secondary(), this);
        empty->setObjectName(QStringLiteral("noTakes"));
        empty->setContentsMargins(16, 12, 16, 12);
        takeRows_->addWidget(empty);
    }
    // The latest take on top.
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it != all.rbegin()) takeRows_->addWidget(separator(this));
        TakeRow* row = nullptr;
        if (auto found = kept.find(it->id); found != kept.end() && found->second->take() == *it) {
            row = found->second;
            kept.erase(found);
        } else {
            row = new TakeRow(*it, controller_, library_, this);
            row->installEventFilter(this);
            const RetouchTake take = *it;
            connect(row, &TakeRow::activated, this, [this, take] { openEditor(take); });
            connect(row, &TakeRow::renameRequested, this, [this, take] { beginRename(take); });
            connect(row, &TakeRow::deleteRequested, this, [this, take] { beginDelete(take); });
        }
        takeRows_->addWidget(row);
        row->show();
    }
    for (auto& [id, row] : kept) {
        row->hide();
        // Later: the library may change from inside a row's own handler.
        row->deleteLater();
    }
    keepPlace();
}

void TakesView::holdPlace() {
    anchor_ = {};
    if (!scroll_ || !list_->isVisible()) return;
    QWidget* viewport = scroll_->viewport();
    // The rows in order down the page: the collecting group, the arriving rows, the takes.
    std::vector<QWidget*> rows{collecting_};
    for (const auto& [id, row] : arrivingByCamera_)
        if (row.row) rows.push_back(row.row);
    std::sort(rows.begin() + 1, rows.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
    for (int i = 0; i < takeRows_->count(); ++i)
        if (auto* row = qobject_cast<TakeRow*>(takeRows_->itemAt(i)->widget())) rows.push_back(row);
    auto inView = [&](QWidget* row) { return QRect(row->mapTo(viewport, QPoint(0, 0)), row->size()); };
    const QPoint pointer = viewport->mapFromGlobal(QCursor::pos());
    QWidget* chosen = nullptr;
    if (viewport->rect().contains(pointer))
        for (QWidget* row : rows)
            if (row->isVisible() && inView(row).contains(pointer)) chosen = row;
    if (!chosen)
        for (QWidget* row : rows)
            if (row->isVisible() && inView(row).bottom() >= 0) {
                chosen = row;
                break;
            }
    if (chosen) anchor_ = {chosen, inView(chosen).top()};
}

bool TakesView::eventFilter(QObject* watched, QEvent* event) {
    // The rows lay themselves out again a turn after a change (a row's own look settles when it first shows): where
    // the row kept, or what holds it, moves, the list follows at once.
    if (event->type() == QEvent::Move && !keeping_ && anchor_.row) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && (widget == anchor_.row || widget->isAncestorOf(anchor_.row))) {
            const QScopedValueRollback keeping(keeping_, true);
            const auto kept = takes::keepRowInPlace(anchor_.row->mapTo(page_, QPoint(0, 0)).y(), anchor_.offset,
                                                    page_->height(), scroll_->viewport()->height());
            if (kept.pageHeight > page_->minimumHeight()) page_->setMinimumHeight(kept.pageHeight);
            scroll_->verticalScrollBar()->setValue(kept.scroll);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TakesView::keepPlace() {
    const Anchor anchor = anchor_;
    if (!anchor.row || keeping_) return;
    const QScopedValueRollback keeping(keeping_, true);
    // Laid out now, before the next paint, so that no turn of the event loop shows the rows moved: the page as tall
    // as its rows want (never less while the screen is open), then each layout from the inside out.
    auto layOut = [this](int height) {
        const QLayout* layouts[] = {takeRows_, arrivingRows_, arriving_->layout(),
                                    takeRows_->parentWidget()->parentWidget()->layout(), page_->layout()};
        // Once to learn what the rows want, once more to place them in the page grown for it.
        for (const QLayout* layout : layouts) const_cast<QLayout*>(layout)->activate();
        height = std::max({height, page_->sizeHint().height(), page_->heightForWidth(page_->width())});
        if (height > page_->minimumHeight()) page_->setMinimumHeight(height);
        for (const QLayout* layout : layouts) const_cast<QLayout*>(layout)->activate();
    };
    layOut(0);
    const int rowTop = anchor.row->mapTo(page_, QPoint(0, 0)).y();
    const auto kept = takes::keepRowInPlace(rowTop, anchor.offset, page_->height(), scroll_->viewport()->height());
    if (kept.pageHeight > page_->height()) layOut(kept.pageHeight);
    scroll_->verticalScrollBar()->setValue(kept.scroll);
}

// MARK: Editor

void TakesView::openEditor(const RetouchTake& take) {
    if (!takes::opensEditor(take) || editor_) return;
    auto* editor = new RetouchEditorView(take.id, library_, nullptr, pages_);
    connect(editor, &RetouchEditorView::closeRequested, this, &TakesView::closeEditor);
    editor_ = editor;
    pages_->addWidget(editor);
    pages_->setCurrentWidget(editor);
}

void TakesView::closeEditor() {
    if (!editor_) return;
    RetouchEditorView* editor = editor_;
    editor_ = nullptr;
    pages_->setCurrentWidget(list_);
    pages_->removeWidget(editor);
    editor->hide();
    editor->deleteLater();
}

// MARK: Rename and delete

void TakesView::beginRename(const RetouchTake& take) {
    newName_ = take.name.value_or(std::string());
    renaming_ = take;
    if (renameAlert_) return;
    auto* alert = new QInputDialog(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowTitle(tr("Rename take"));
    alert->setLabelText(tr("Name"));
    alert->setTextValue(QString::fromStdString(newName_));
    alert->setOkButtonText(tr("Save"));
    alert->setCancelButtonText(tr("Cancel"));
    alert->setWindowModality(Qt::WindowModal);
    connect(alert, &QInputDialog::textValueChanged, this,
            [this](const QString& text) { newName_ = text.toStdString(); });
    connect(alert, &QInputDialog::finished, this, [this](int result) {
        renameAlert_ = nullptr;
        if (result == QDialog::Accepted) commitRename();
        renaming_.reset();
    });
    renameAlert_ = alert;
    alert->open();
}

void TakesView::commitRename() {
    if (renaming_) library_.rename(renaming_->id, newName_);
}

void TakesView::beginDelete(const RetouchTake& take) {
    deleting_ = take;
    if (deleteDialog_) return;
    auto* dialog = new QMessageBox(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    const QString title = QString::fromStdString(takes::deleteTitle(deleting_));
    dialog->setWindowTitle(title);
    dialog->setText(title);
    dialog->setInformativeText(QString::fromStdString(takes::deleteMessage(deleting_)));
    auto* remove = dialog->addButton(tr("Delete Take"), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("deleteTake"));
    dialog->addButton(tr("Cancel"), QMessageBox::RejectRole);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QMessageBox::finished, this, [this, dialog, remove](int) {
        deleteDialog_ = nullptr;
        if (dialog->clickedButton() == remove) {
            confirmDelete();
        } else {
            deleting_.reset();
        }
    });
    deleteDialog_ = dialog;
    dialog->open();
}

void TakesView::confirmDelete() {
    if (deleting_) library_.deleteTake(*deleting_);
    deleting_.reset();
}

}  // namespace morvane
