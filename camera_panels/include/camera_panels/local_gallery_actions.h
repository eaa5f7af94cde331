#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "protocol/gallery.h"

namespace morvane {

/// What a gallery of captures stored on this device can do with them. Its presence turns on the move and copy
/// actions; the remote's galleries have none.
struct LocalGalleryActions {
    std::function<std::optional<std::filesystem::path>(const GalleryItem&)> originalURL;
    std::function<void(const GalleryItem&)> saveToPhotos;
    std::function<void(const std::vector<GalleryItem>&)> moveToPhotos;
    std::function<void(const std::vector<GalleryItem>&)> movedToFolder;
};

/// Moves the files to `folder`, keeping each name (a taken name gets " 2", " 3", … before its extension). Returns
/// the files that really moved; a file that could not be moved stays where it was and is not listed.
std::vector<std::filesystem::path> moveFilesToFolder(const std::vector<std::filesystem::path>& files,
                                                     const std::filesystem::path& folder);

}  // namespace morvane
