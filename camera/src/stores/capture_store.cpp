#include "camera/capture_store.h"

#include <QBuffer>
#include <QImageReader>

#include "json_list_file.h"
#include "platform/atomic_file.h"
#include "platform/file_contents.h"

namespace morvane {

namespace fs = std::filesystem;

CaptureStore::CaptureStore(fs::path directory) : directory_(std::move(directory)) {
    std::error_code ec;
    fs::create_directories(directory_, ec);
    std::function<std::optional<GalleryItem>(const Json&)> decode = [](const Json& j) -> std::optional<GalleryItem> {
        try {
            return j.get<GalleryItem>();
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    items_ = stores::decodeEach(stores::loadList(directory_ / "index.json"), decode);
}

std::optional<Bytes> CaptureStore::jpegData(const QImage& picture, double quality) {
    if (picture.isNull()) return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "JPEG", static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100)))) {
        return std::nullopt;
    }
    return Bytes(bytes.begin(), bytes.end());
}

std::optional<Bytes> CaptureStore::thumbnailJPEG(const QImage& picture, int maxSide, double quality) {
    if (picture.isNull() || maxSide <= 0) return std::nullopt;
    const QImage shrunk = std::max(picture.width(), picture.height()) > maxSide
                              ? picture.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                              : picture;
    return jpegData(shrunk, quality);
}

namespace {

QImage readUpright(const Bytes& data) {
    QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);  // the file's orientation tag turns the picture upright
    return reader.read();
}

}  // namespace

std::optional<CaptureStore::Pending> CaptureStore::makePending(const Bytes& photoData, Date now) {
    const QImage photo = readUpright(photoData);
    auto preview = thumbnailJPEG(photo, 1600, 0.8);
    if (!preview) return std::nullopt;
    // The small thumbnail is made from the preview, not from the full photo.
    auto thumbnail = thumbnailJPEG(readUpright(*preview), 240, 0.6);
    if (!thumbnail) return std::nullopt;
    Pending pending;
    pending.item.id = Uuid();
    pending.item.date = now;
    pending.item.isVideo = false;
    pending.item.thumbnail = std::move(*thumbnail);
    pending.preview = std::move(*preview);
    return pending;
}

fs::path CaptureStore::previewFile(const Uuid& id) const { return directory_ / (id.uuidString() + ".jpg"); }

void CaptureStore::add(const Pending& pending) {
    queue_.sync([&] { save(pending); });
}

void CaptureStore::save(const Pending& pending) {
    if (!pending.preview.empty()) {
        writeFileAtomically(previewFile(pending.item.id), pending.preview,
                            AtomicWriteOptions{fs::perms(0600), true});
    }
    std::erase_if(items_, [&](const GalleryItem& i) { return i.id == pending.item.id; });
    items_.insert(items_.begin(), pending.item);
    int withoutVault = 0;
    std::vector<GalleryItem> kept;
    kept.reserve(items_.size());
    for (auto& item : items_) {
        if (item.vaultFile && !item.vaultFile->empty()) {
            kept.push_back(std::move(item));
        } else if (++withoutVault <= maxItemsWithoutVaultFile) {
            kept.push_back(std::move(item));
        } else {
            std::error_code ec;
            fs::remove(previewFile(item.id), ec);
        }
    }
    items_ = std::move(kept);
    writeIndex();
}

void CaptureStore::writeIndex() {
    Json array = Json::array();
    try {
        for (const auto& item : items_) array.push_back(item);
    } catch (const std::exception&) {
        return;  // the index keeps its previous contents
    }
    stores::writeList(directory_ / "index.json", array);
}

std::vector<GalleryItem> CaptureStore::remove(const std::vector<Uuid>& ids) {
    std::vector<GalleryItem> removed;
    queue_.sync([&] {
        std::erase_if(items_, [&](const GalleryItem& item) {
            if (std::find(ids.begin(), ids.end(), item.id) == ids.end()) return false;
            removed.push_back(item);
            std::error_code ec;
            fs::remove(previewFile(item.id), ec);
            return true;
        });
        if (!removed.empty()) writeIndex();
    });
    return removed;
}

std::vector<GalleryItem> CaptureStore::items() const {
    return queue_.syncResult([this] { return items_; });
}

std::optional<GalleryItem> CaptureStore::item(const Uuid& id) const {
    return queue_.syncResult([&]() -> std::optional<GalleryItem> {
        for (const auto& i : items_) {
            if (i.id == id) return i;
        }
        return std::nullopt;
    });
}

std::optional<Bytes> CaptureStore::preview(const Uuid& id) const {
    return queue_.syncResult([&]() -> std::optional<Bytes> {
        auto text = readFileContents(previewFile(id), 64ull << 20);
        if (!text) return std::nullopt;
        return Bytes(text->begin(), text->end());
    });
}

}  // namespace morvane
