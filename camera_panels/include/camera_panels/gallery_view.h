#pragma once

#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "camera_panels/gallery_page.h"
#include "camera_panels/local_gallery_actions.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;

namespace morvane {

class GalleryThumbnail;
class GalleryPager;

/// One camera's captures as a grid of square thumbnails ("Recent captures"): a click opens the pager at the
/// capture; select mode picks several to delete (or, for captures stored on this device, to move). The view owns
/// no capture data: it shows `items` and calls the functions it is given.
class GalleryView : public QWidget {
    Q_OBJECT
public:
    using DeleteAction = std::function<void(const std::vector<GalleryItem>&)>;

    GalleryView(std::vector<GalleryItem> items, GalleryPreviewLoader loadPreview,
                std::optional<LocalGalleryActions> local, DeleteAction onDelete, QWidget* parent = nullptr);

    /// A new list from the creator: select mode, the picked captures and an open pager stay.
    void setItems(std::vector<GalleryItem> items);
    const std::vector<GalleryItem>& items() const { return items_; }

    // View state, for the screen's tests.
    bool selecting() const { return selecting_; }
    const std::set<Uuid>& picked() const { return picked_; }
    std::optional<Uuid> selection() const;
    GalleryPager* pager() const { return pager_; }
    QPushButton* selectButton() const { return selectButton_; }
    QPushButton* doneButton() const { return doneButton_; }
    QPushButton* deleteButton() const { return deleteButton_; }
    QToolButton* moveButton() const { return moveButton_; }
    std::vector<GalleryThumbnail*> cells() const;

    /// The confirmation asks through this (tests answer it); default: a dialog.
    std::function<bool(const QString& title, const QString& message)> confirm;
    /// The folder the captures move to; default: a folder dialog. None: abandoned.
    std::function<std::optional<std::filesystem::path>()> chooseFolder;

    void openCapture(const Uuid& id);
    void toggleSelecting();
    void togglePicked(const Uuid& id);
    void deletePicked();
    void movePickedToPhotos();
    void movePickedToFolder();
    /// Back from the pager to the grid.
    void closePager();

signals:
    /// "Done", or an action that closes the gallery.
    void dismissRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildGrid();
    void layoutGrid();
    void refreshBars();

    std::vector<GalleryItem> items_;
    GalleryPreviewLoader loadPreview_;
    std::optional<LocalGalleryActions> local_;
    DeleteAction onDelete_;

    bool selecting_ = false;
    std::set<Uuid> picked_;

    QStackedWidget* stack_ = nullptr;
    QWidget* gridPage_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* grid_ = nullptr;
    QWidget* empty_ = nullptr;
    std::vector<GalleryThumbnail*> cells_;
    GalleryPager* pager_ = nullptr;
    QLabel* title_ = nullptr;
    QPushButton* selectButton_ = nullptr;
    QPushButton* backButton_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    QWidget* bottomBar_ = nullptr;
    QToolButton* moveButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
};

/// The captures one at a time, opened on the one the user clicked: its date as the title (shown in the gallery's
/// bar, with the way back), the previous and next
/// captures a click or an arrow key away, and the page's delete (and, for captures stored here, move) actions.
class GalleryPager : public QWidget {
    Q_OBJECT
public:
    GalleryPager(std::vector<GalleryItem> items, const Uuid& start, GalleryPreviewLoader loadPreview,
                 std::optional<LocalGalleryActions> local, GalleryView::DeleteAction onDelete,
                 QWidget* parent = nullptr);

    void setItems(std::vector<GalleryItem> items);
    const std::optional<Uuid>& selection() const { return selection_; }
    /// The capture on screen, read afresh from the list; none when it left the list.
    std::optional<GalleryItem> current() const;
    QString title() const;
    GalleryPage* currentPage() const;
    QPushButton* deleteButton() const { return deleteButton_; }
    QToolButton* moveButton() const { return moveButton_; }

    void showCapture(const Uuid& id);
    void step(int delta);
    void deleteCurrent();

    std::function<bool(const QString& title, const QString& message)> confirm;
    std::function<std::optional<std::filesystem::path>()> chooseFolder;

signals:
    void backRequested();
    void dismissRequested();
    void titleChanged(const QString& title);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    std::optional<std::filesystem::path> currentFile() const;

    std::vector<GalleryItem> items_;
    GalleryPreviewLoader loadPreview_;
    std::optional<LocalGalleryActions> local_;
    GalleryView::DeleteAction onDelete_;
    std::optional<Uuid> selection_;
    std::map<Uuid, GalleryPage*> pages_;
    QStackedWidget* stack_ = nullptr;
    QToolButton* previous_ = nullptr;
    QToolButton* next_ = nullptr;
    QToolButton* moveButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
};

}  // namespace morvane
