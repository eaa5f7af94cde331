#pragma once

#include <QAbstractButton>
#include <QImage>

#include "protocol/gallery.h"

namespace morvane {

/// One capture as a square cell of the gallery's grid: its small picture filling the square, the running time of
/// a video, a lock for a capture kept in the camera's vault, and, in select mode, the selection mark.
class GalleryThumbnail : public QAbstractButton {
    Q_OBJECT
public:
    explicit GalleryThumbnail(GalleryItem item, QWidget* parent = nullptr);

    const GalleryItem& item() const { return item_; }
    /// Select mode shows a mark at the bottom-leading corner: filled when picked.
    void setSelectionMark(std::optional<bool> picked);

    QSize sizeHint() const override { return {96, 96}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    GalleryItem item_;
    QImage picture_;  // null when the bytes do not decode
    std::optional<bool> mark_;
};

}  // namespace morvane
