#include "camera_panels/gallery_view.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "camera_panels/gallery_rules.h"
#include "camera_panels/gallery_thumbnail.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "platform/user_folder_names.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr int kMinimumCell = 96;
constexpr int kSpacing = 2;
constexpr int kBarHeight = 48;

QPushButton* barButton(const QString& text, QWidget* parent, QColor colour = theme::blue(), bool bold = false) {
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(theme::font(theme::TextStyle::body, bold ? QFont::DemiBold : QFont::Normal));
    button->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; padding: 6px 4px; }"
                                         "QPushButton:disabled { color: rgba(235,235,245,76); }")
                              .arg(colour.name()));
    return button;
}

QWidget* bar(QWidget* parent, QColor background) {
    auto* w = new QWidget(parent);
    w->setFixedHeight(kBarHeight);
    theme::setBackground(*w, background);
    return w;
}

QToolButton* moveMenuButton(QWidget* parent, std::vector<std::pair<QString, std::function<void()>>> entries,
                            const std::vector<const char*>& symbols) {
    auto* button = new QToolButton(parent);
    button->setText(QStringLiteral("Move"));
    button->setIcon(symbolIcon("folder", theme::blue(), 20));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QToolButton { color: %1; border: none; font-size: 17px; }"
                                         "QToolButton::menu-indicator { image: none; }")
                              .arg(theme::blue().name()));
    auto* menu = new QMenu(button);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto* action = menu->addAction(symbolIcon(symbols[i], Qt::white, 18), entries[i].first);
        QObject::connect(action, &QAction::triggered, button, entries[i].second);
    }
    button->setMenu(menu);
    return button;
}

bool askToDelete(QWidget* parent, const QString& title, const QString& message) {
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(title);
    box.setInformativeText(message);
    auto* remove = box.addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == remove;
}

std::optional<fs::path> askForFolder(QWidget* parent) {
    const QString folder = QFileDialog::getExistingDirectory(parent, QStringLiteral("Move to Folder"));
    if (folder.isEmpty()) return std::nullopt;
    return fs::path(folder.toStdString());
}

}  // namespace

// MARK: - GalleryView

GalleryView::GalleryView(std::vector<GalleryItem> items, GalleryPreviewLoader loadPreview,
                         std::optional<LocalGalleryActions> local, DeleteAction onDelete, QWidget* parent)
    : QWidget(parent),
      items_(std::move(items)),
      loadPreview_(std::move(loadPreview)),
      local_(std::move(local)),
      onDelete_(std::move(onDelete)) {
    confirm = [this](const QString& title, const QString& message) { return askToDelete(this, title, message); };
    chooseFolder = [this] { return askForFolder(this); };
    theme::setBackground(*this, theme::sheetBackground());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* top = bar(this, theme::sheetBackground());
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(16, 0, 16, 0);
    selectButton_ = barButton(QStringLiteral("Cancel"), top);
    selectButton_->setMinimumWidth(selectButton_->sizeHint().width() + 8);  // room for both of its texts
    connect(selectButton_, &QPushButton::clicked, this, &GalleryView::toggleSelecting);
    title_ = new QLabel(QStringLiteral("Recent captures"), top);
    title_->setFont(theme::font(theme::TextStyle::headline));
    title_->setAlignment(Qt::AlignCenter);
    theme::setTextColor(*title_, Qt::white);
    backButton_ = barButton(QStringLiteral("Recent captures"), top);
    backButton_->setIcon(symbolIcon("chevron.left", theme::blue(), 22));
    connect(backButton_, &QPushButton::clicked, this, &GalleryView::closePager);
    doneButton_ = barButton(QStringLiteral("Done"), top, theme::blue(), true);
    connect(doneButton_, &QPushButton::clicked, this, &GalleryView::dismissRequested);
    topRow->addWidget(selectButton_);
    topRow->addWidget(backButton_);
    topRow->addWidget(title_, 1);
    topRow->addWidget(doneButton_);
    column->addWidget(top);

    stack_ = new QStackedWidget(this);
    gridPage_ = new QWidget(stack_);
    auto* gridColumn = new QVBoxLayout(gridPage_);
    gridColumn->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(gridPage_);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll_);
    auto* contentColumn = new QVBoxLayout(content);
    contentColumn->setContentsMargins(0, 0, 0, 0);
    contentColumn->setSpacing(0);

    // Shown only while there is nothing: the symbol, the title and what will appear here.
    empty_ = new QWidget(content);
    auto* emptyColumn = new QVBoxLayout(empty_);
    emptyColumn->setContentsMargins(24, 80, 24, 24);
    emptyColumn->setSpacing(10);
    auto* symbol = new QLabel(empty_);
    symbol->setPixmap(symbolPixmap("photo.on.rectangle", theme::secondary(), 56, devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignCenter);
    auto* emptyTitle = new QLabel(QStringLiteral("No captures yet"), empty_);
    emptyTitle->setFont(theme::font(theme::TextStyle::title2, QFont::Bold));
    emptyTitle->setAlignment(Qt::AlignCenter);
    theme::setTextColor(*emptyTitle, Qt::white);
    auto* emptyText = new QLabel(QStringLiteral("Photos and videos you take with Brindlecroft appear here."), empty_);
    emptyText->setFont(theme::font(theme::TextStyle::body));
    emptyText->setAlignment(Qt::AlignCenter);
    emptyText->setWordWrap(true);
    theme::setTextColor(*emptyText, theme::secondary());
    emptyColumn->addWidget(symbol);
    emptyColumn->addWidget(emptyTitle);
    emptyColumn->addWidget(emptyText);
    contentColumn->addWidget(empty_);

    grid_ = new QWidget(content);
    grid_->installEventFilter(this);  // the cells follow the grid's width
    contentColumn->addWidget(grid_);
    contentColumn->addStretch(1);
    scroll_->setWidget(content);
    gridColumn->addWidget(scroll_);
    stack_->addWidget(gridPage_);
    column->addWidget(stack_, 1);

    bottomBar_ = bar(this, theme::regularMaterial());
    auto* bottomRow = new QHBoxLayout(bottomBar_);
    bottomRow->setContentsMargins(16, 0, 16, 0);
    moveButton_ = moveMenuButton(
        bottomBar_,
        {{QStringLiteral("Move to %1").arg(userFolderNames::pictures()), [this] { movePickedToPhotos(); }},
         {QStringLiteral("Move to Folder…"), [this] { movePickedToFolder(); }}},
        {"photo.on.rectangle", "folder"});
    deleteButton_ = barButton(QString(), bottomBar_, theme::red());
    deleteButton_->setIcon(symbolIcon("trash", theme::red(), 20));
    connect(deleteButton_, &QPushButton::clicked, this, &GalleryView::deletePicked);
    bottomRow->addWidget(moveButton_);
    bottomRow->addStretch(1);
    bottomRow->addWidget(deleteButton_);
    column->addWidget(bottomBar_);

    rebuildGrid();
    refreshBars();
}

std::optional<Uuid> GalleryView::selection() const {
    if (!pager_) return std::nullopt;
    return pager_->selection();
}

std::vector<GalleryThumbnail*> GalleryView::cells() const {
    return cells_;
}

void GalleryView::setItems(std::vector<GalleryItem> items) {
    items_ = std::move(items);
    rebuildGrid();
    if (pager_) pager_->setItems(items_);
    refreshBars();
}

void GalleryView::rebuildGrid() {
    for (auto* cell : cells_) cell->deleteLater();
    cells_.clear();
    for (const auto& item : items_) {
        auto* cell = new GalleryThumbnail(item, grid_);
        const Uuid id = item.id;
        connect(cell, &QAbstractButton::clicked, this, [this, id] {
            if (selecting_) {
                togglePicked(id);
            } else {
                openCapture(id);
            }
        });
        cell->show();
        cells_.push_back(cell);
    }
    empty_->setVisible(items_.empty());
    layoutGrid();
    refreshBars();
}

void GalleryView::layoutGrid() {
    // Adaptive columns of at least 96 points sharing the width, 2 points apart.
    const int width = std::max(kMinimumCell, grid_->width());
    const int columns = std::max(1, (width + kSpacing) / (kMinimumCell + kSpacing));
    const double cell = (width - (columns - 1) * kSpacing) / static_cast<double>(columns);
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        const int row = static_cast<int>(i) / columns, col = static_cast<int>(i) % columns;
        const int x = static_cast<int>(std::lround(col * (cell + kSpacing)));
        const int y = static_cast<int>(std::lround(row * (cell + kSpacing)));
        const int side = static_cast<int>(std::lround((col + 1) * (cell + kSpacing) - kSpacing)) - x;
        cells_[i]->setGeometry(x, y, side, static_cast<int>(std::lround(cell)));
    }
    const int rows = (static_cast<int>(cells_.size()) + columns - 1) / columns;
    grid_->setFixedHeight(rows == 0 ? 0 : static_cast<int>(std::lround(rows * cell + (rows - 1) * kSpacing)));
}

void GalleryView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutGrid();
}

bool GalleryView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grid_ && event->type() == QEvent::Resize) layoutGrid();
    return QWidget::eventFilter(watched, event);
}

void GalleryView::refreshBars() {
    const bool canSelect = onDelete_ && !items_.empty();
    const bool inPager = stack_->currentWidget() != gridPage_;
    selectButton_->setVisible(canSelect && !inPager);
    backButton_->setVisible(inPager);
    selectButton_->setText(selecting_ ? QStringLiteral("Cancel") : QStringLiteral("Select"));
    bottomBar_->setVisible(selecting_ && !inPager);
    const auto picked = gallery::pickedItems(items_, picked_);
    moveButton_->setVisible(local_.has_value() && !picked.empty());
    // Only chosen captures that are still in the list count: the list may have changed while choosing.
    deleteButton_->setText(gallery::deleteButtonText(static_cast<int>(picked.size())));
    deleteButton_->setEnabled(!picked.empty());
    for (auto* cell : cells_) {
        cell->setSelectionMark(selecting_ ? std::optional<bool>(picked_.count(cell->item().id) != 0) : std::nullopt);
    }
    title_->setText(inPager && pager_ ? pager_->title() : QStringLiteral("Recent captures"));
}

void GalleryView::toggleSelecting() {
    selecting_ = !selecting_;
    picked_.clear();
    refreshBars();
}

void GalleryView::togglePicked(const Uuid& id) {
    if (!picked_.erase(id)) picked_.insert(id);
    refreshBars();
}

void GalleryView::deletePicked() {
    const int count = static_cast<int>(gallery::pickedItems(items_, picked_).size());
    if (count == 0) return;
    if (!confirm(gallery::deleteTitle(count), gallery::deleteMessage(local_.has_value()))) return;
    if (onDelete_) onDelete_(gallery::pickedItems(items_, picked_));
    selecting_ = false;
    picked_.clear();
    refreshBars();
}

void GalleryView::movePickedToPhotos() {
    if (!local_) return;
    local_->moveToPhotos(gallery::pickedItems(items_, picked_));
    selecting_ = false;
    picked_.clear();
    refreshBars();
}

void GalleryView::movePickedToFolder() {
    if (!local_) return;
    const auto moving = gallery::pickedItems(items_, picked_);
    auto folder = chooseFolder();
    if (!folder) return;  // abandoned: select mode stays
    std::vector<fs::path> files;
    std::vector<GalleryItem> withFiles;
    for (const auto& item : moving) {
        if (auto url = local_->originalURL(item)) {
            files.push_back(*url);
            withFiles.push_back(item);
        }
    }
    const auto moved = moveFilesToFolder(files, *folder);
    if (moved.size() != files.size() && moved.empty()) return;  // nothing moved: try again
    // Only the captures whose files really moved are reported.
    std::vector<GalleryItem> done;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::error_code ec;
        if (!fs::exists(files[i], ec)) done.push_back(withFiles[i]);
    }
    local_->movedToFolder(done);
    selecting_ = false;
    picked_.clear();
    refreshBars();
}

void GalleryView::openCapture(const Uuid& id) {
    closePager();
    pager_ = new GalleryPager(items_, id, loadPreview_, local_, onDelete_, stack_);
    pager_->confirm = confirm;
    pager_->chooseFolder = chooseFolder;
    connect(pager_, &GalleryPager::backRequested, this, &GalleryView::closePager);
    connect(pager_, &GalleryPager::dismissRequested, this, &GalleryView::dismissRequested);
    connect(pager_, &GalleryPager::titleChanged, this, [this] { refreshBars(); });
    stack_->addWidget(pager_);
    stack_->setCurrentWidget(pager_);
    pager_->setFocus();
    refreshBars();
}

void GalleryView::closePager() {
    if (!pager_) return;
    stack_->setCurrentWidget(gridPage_);
    stack_->removeWidget(pager_);
    pager_->deleteLater();
    pager_ = nullptr;
    refreshBars();
}

// MARK: - GalleryPager

GalleryPager::GalleryPager(std::vector<GalleryItem> items, const Uuid& start, GalleryPreviewLoader loadPreview,
                           std::optional<LocalGalleryActions> local, GalleryView::DeleteAction onDelete,
                           QWidget* parent)
    : QWidget(parent),
      items_(std::move(items)),
      loadPreview_(std::move(loadPreview)),
      local_(std::move(local)),
      onDelete_(std::move(onDelete)),
      selection_(start) {
    setFocusPolicy(Qt::StrongFocus);
    theme::setBackground(*this, Qt::black);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    stack_ = new QStackedWidget(this);
    column->addWidget(stack_, 1);
    auto arrow = [this](const char* symbol, int delta) {
        auto* button = new QToolButton(this);
        button->setIcon(symbolIcon(symbol, Qt::white, 30));
        button->setIconSize(QSize(30, 30));
        button->setFixedSize(44, 44);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(QStringLiteral("QToolButton { background: rgba(0,0,0,110); border-radius: 22px; }"));
        connect(button, &QToolButton::clicked, this, [this, delta] { step(delta); });
        return button;
    };
    previous_ = arrow("chevron.left", -1);
    next_ = arrow("chevron.right", 1);

    auto* bottom = bar(this, theme::regularMaterial());
    auto* bottomRow = new QHBoxLayout(bottom);
    bottomRow->setContentsMargins(16, 0, 16, 0);
    moveButton_ = moveMenuButton(bottom,
                                 {{QStringLiteral("Move to %1").arg(userFolderNames::pictures()),
                                   [this] {
                                       if (auto item = current(); item && local_) {
                                           local_->moveToPhotos({*item});
                                           emit dismissRequested();
                                       }
                                   }},
                                  {QStringLiteral("Move to Folder…"),
                                   [this] {
                                       auto item = current();
                                       auto file = currentFile();
                                       if (!item || !file || !local_) return;
                                       auto folder = chooseFolder ? chooseFolder() : std::nullopt;
                                       if (!folder) return;
                                       if (moveFilesToFolder({*file}, *folder).empty())
                                           return;  // failed: the pager stays
                                       local_->movedToFolder({*item});
                                       emit dismissRequested();
                                   }},
                                  {QStringLiteral("Copy to %1").arg(userFolderNames::pictures()),
                                   [this] {
                                       if (auto item = current(); item && local_) local_->saveToPhotos(*item);
                                   }}},
                                 {"photo.on.rectangle", "folder", "square.and.arrow.down"});
    deleteButton_ = barButton(QStringLiteral("Delete"), bottom, theme::red());
    deleteButton_->setIcon(symbolIcon("trash", theme::red(), 20));
    connect(deleteButton_, &QPushButton::clicked, this, &GalleryPager::deleteCurrent);
    bottomRow->addStretch(1);
    bottomRow->addWidget(moveButton_);
    bottomRow->addStretch(1);
    bottomRow->addWidget(deleteButton_);
    column->addWidget(bottom);
    showCapture(start);
}

std::optional<GalleryItem> GalleryPager::current() const {
    if (!selection_) return std::nullopt;
    for (const auto& item : items_) {
        if (item.id == *selection_) return item;
    }
    return std::nullopt;
}

std::optional<fs::path> GalleryPager::currentFile() const {
    auto item = current();
    if (!item || !local_ || !local_->originalURL) return std::nullopt;
    return local_->originalURL(*item);
}

QString GalleryPager::title() const {
    auto item = current();
    return item ? gallery::pagerTitle(item->date) : QString();
}

GalleryPage* GalleryPager::currentPage() const {
    return qobject_cast<GalleryPage*>(stack_->currentWidget());
}

void GalleryPager::setItems(std::vector<GalleryItem> items) {
    items_ = std::move(items);
    // Pages of captures that left the list go; the one on screen stays while its capture is there.
    for (auto it = pages_.begin(); it != pages_.end();) {
        const bool listed = std::any_of(items_.begin(), items_.end(), [&](const auto& i) { return i.id == it->first; });
        if (!listed && it->first != selection_) {
            stack_->removeWidget(it->second);
            it->second->deleteLater();
            it = pages_.erase(it);
        } else {
            ++it;
        }
    }
    refresh();
}

void GalleryPager::showCapture(const Uuid& id) {
    selection_ = id;
    auto item = current();
    if (item) {
        auto& page = pages_[id];
        if (!page) {
            std::optional<fs::path> file = local_ && local_->originalURL ? local_->originalURL(*item) : std::nullopt;
            page = new GalleryPage(*item, loadPreview_, file, stack_);
            stack_->addWidget(page);
        }
        stack_->setCurrentWidget(page);
        page->load();  // as each time a page appears
    }
    refresh();
}

void GalleryPager::step(int delta) {
    if (!selection_) return;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].id == *selection_) {
            const long target = static_cast<long>(i) + delta;
            if (target >= 0 && target < static_cast<long>(items_.size()))
                showCapture(items_[static_cast<std::size_t>(target)].id);
            return;
        }
    }
}

void GalleryPager::deleteCurrent() {
    auto item = current();
    const bool vault = item && item->vaultFile.has_value();
    if (!confirm || !confirm(QStringLiteral("Delete this capture?"), gallery::pageDeleteMessage(vault))) return;
    if (!item) return;
    if (onDelete_) onDelete_({*item});
    emit dismissRequested();
}

void GalleryPager::refresh() {
    const QString text = title();
    const bool hasFile = currentFile().has_value();
    moveButton_->setVisible(hasFile);
    deleteButton_->setVisible(static_cast<bool>(onDelete_));
    long index = -1;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (selection_ && items_[i].id == *selection_) index = static_cast<long>(i);
    }
    previous_->setVisible(index > 0);
    next_->setVisible(index >= 0 && index + 1 < static_cast<long>(items_.size()));
    previous_->raise();
    next_->raise();
    emit titleChanged(text);
}

void GalleryPager::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left) {
        step(-1);
    } else if (event->key() == Qt::Key_Right) {
        step(1);
    } else if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Backspace) {
        emit backRequested();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void GalleryPager::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QRect area = stack_->geometry();
    previous_->move(area.left() + 12, area.center().y() - previous_->height() / 2);
    next_->move(area.right() - 12 - next_->width(), area.center().y() - next_->height() / 2);
}

}  // namespace morvane
