#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include <QImage>

#include "platform/dispatch_queue.h"
#include "protocol/gallery.h"

namespace morvane {

/// The camera's own gallery: newest first, each capture with a small JPEG thumbnail in "index.json" and a larger
/// preview "<id>.jpg" beside it. All its work runs on its own queue.
class CaptureStore {
public:
    /// One capture on its way into the store.
    struct Pending {
        GalleryItem item;
        Bytes preview;  ///< JPEG, at most 1600 pixels on a side
    };

    /// Entries without a vault file beyond this many are dropped, oldest first.
    static constexpr int maxItemsWithoutVaultFile = 60;

    /// Loads "index.json" from `directory` (made when missing).
    explicit CaptureStore(std::filesystem::path directory);

    const std::filesystem::path& directory() const { return directory_; }

    /// The preview and thumbnail of a photo, turned upright; none when the data is no readable image. Any thread.
    static std::optional<Pending> makePending(const Bytes& photoData, Date now = Date::now());
    /// A JPEG of the picture shrunk to at most `maxSide` pixels on its longer side (never enlarged).
    static std::optional<Bytes> thumbnailJPEG(const QImage& picture, int maxSide, double quality);
    static std::optional<Bytes> jpegData(const QImage& picture, double quality);

    /// Writes the preview, puts the item first, drops what the limit says and rewrites "index.json"; returns once
    /// both are on disk (write errors are dropped). Must not be called from the store's queue.
    void add(const Pending& pending);
    /// Removes these captures and their previews; returns the items that were there.
    std::vector<GalleryItem> remove(const std::vector<Uuid>& ids);

    std::vector<GalleryItem> items() const;
    std::optional<GalleryItem> item(const Uuid& id) const;
    /// The preview JPEG of a capture, when the store has one.
    std::optional<Bytes> preview(const Uuid& id) const;

private:
    void save(const Pending& pending);  // on queue_
    void writeIndex();                  // on queue_
    std::filesystem::path previewFile(const Uuid& id) const;

    std::filesystem::path directory_;
    std::vector<GalleryItem> items_;  // on queue_
    mutable DispatchQueue queue_{"morvane.capture-store"};
};

}  // namespace morvane
