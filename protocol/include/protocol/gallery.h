#pragma once

#include <optional>
#include <string>

#include "platform/base64.h"
#include "platform/date.h"
#include "platform/uuid.h"
#include "protocol/json_coding.h"

namespace morvane {

/// One capture in a camera's gallery, identified and compared by `id` alone.
struct GalleryItem {
    Uuid id;
    Date date;
    bool isVideo = false;
    std::optional<double> duration;           ///< seconds; present for videos
    Bytes thumbnail;                          ///< a small JPEG
    std::optional<std::string> vaultFile;     ///< the file's name when the capture lies in the camera's vault
    std::optional<std::string> photoAssetID;  ///< the photo library's identifier of the asset

    friend bool operator==(const GalleryItem& a, const GalleryItem& b) { return a.id == b.id; }
};

/// The larger JPEG preview of one gallery capture.
struct GalleryPreview {
    Uuid id;  ///< the capture's id
    Bytes jpeg;

    friend bool operator==(const GalleryPreview&, const GalleryPreview&) = default;
};

void to_json(Json& j, const GalleryItem& item);
void from_json(const Json& j, GalleryItem& item);
void to_json(Json& j, const GalleryPreview& preview);
void from_json(const Json& j, GalleryPreview& preview);

}  // namespace morvane
