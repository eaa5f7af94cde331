#pragma once

#include <QImage>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>

#include "protocol/gallery.h"

namespace morvane {

class ActivityIndicator;

/// Loads a capture's larger preview; the completion runs on the main thread with the picture, or a null image
/// when there is none.
using GalleryPreviewLoader = std::function<void(const Uuid&, std::function<void(const QImage&)>)>;

/// One capture on a page of the gallery pager: its thumbnail blurred with a spinner at once, then the larger
/// preview sharp. A video shows its caption; a video stored on this device shows its picture with a button that
/// plays it in the desktop's player.
class GalleryPage : public QWidget {
    Q_OBJECT
public:
    GalleryPage(GalleryItem item, GalleryPreviewLoader loader, std::optional<std::filesystem::path> originalURL,
                QWidget* parent = nullptr);

    const GalleryItem& item() const { return item_; }
    /// Runs the loading task, as each time the page appears.
    void load();

    bool hasPreview() const { return !preview_.isNull(); }
    bool failed() const { return failed_; }
    bool spinnerVisible() const;
    int loadsStarted() const { return loads_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setPreview(const QImage& image);
    bool playsLocally() const { return item_.isVideo && originalURL_.has_value(); }

    GalleryItem item_;
    GalleryPreviewLoader loader_;
    std::optional<std::filesystem::path> originalURL_;
    QImage thumbnail_;
    QImage blurred_;
    QImage preview_;
    bool failed_ = false;
    int loads_ = 0;
    ActivityIndicator* spinner_ = nullptr;
    QWidget* play_ = nullptr;
};

}  // namespace morvane
