#include "protocol/gallery.h"

#include "json_values.h"

namespace morvane {

void to_json(Json& j, const GalleryItem& item) {
    j = wire::ObjectWriter()
            .field("id", item.id)
            .field("date", item.date)
            .field("isVideo", item.isVideo)
            .field("duration", item.duration)
            .field("thumbnail", item.thumbnail)
            .field("vaultFile", item.vaultFile)
            .field("photoAssetID", item.photoAssetID)
            .take();
}

void from_json(const Json& j, GalleryItem& item) {
    wire::ObjectReader r(j);
    GalleryItem out;
    r.field("id", out.id);
    r.field("date", out.date);
    r.field("isVideo", out.isVideo);
    r.field("duration", out.duration);
    r.field("thumbnail", out.thumbnail);
    r.field("vaultFile", out.vaultFile);
    r.field("photoAssetID", out.photoAssetID);
    item = std::move(out);
}

void to_json(Json& j, const GalleryPreview& preview) {
    j = wire::ObjectWriter().field("id", preview.id).field("jpeg", preview.jpeg).take();
}

void from_json(const Json& j, GalleryPreview& preview) {
    wire::ObjectReader r(j);
    GalleryPreview out;
    r.field("id", out.id);
    r.field("jpeg", out.jpeg);
    preview = std::move(out);
}

}  // namespace morvane
