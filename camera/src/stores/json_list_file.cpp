#include "json_list_file.h"

#include "platform/atomic_file.h"
#include "platform/file_contents.h"
#include "platform/file_moves.h"
#include "platform/log.h"

namespace morvane::stores {

namespace {
// Far beyond any real list (thousands of entries with thumbnails), small enough to read whole.
constexpr std::uintmax_t kMaxListFileBytes = 256ull << 20;
}  // namespace

std::vector<Json> loadList(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) return {};
    auto text = readFileContents(file, kMaxListFileBytes);
    std::optional<Json> json = text ? parseJson(*text) : std::nullopt;
    if (!json || !json->is_array()) {
        log::error("CameraStores", "keeping the unreadable " + file.filename().string() + " aside");
        setAsideUnreadable(file);
        return {};
    }
    return json->get<std::vector<Json>>();
}

bool writeList(const std::filesystem::path& file, const Json& array) {
    std::string text;
    try {
        text = array.dump();
    } catch (const std::exception&) {
        return false;  // text that is not UTF-8
    }
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    return writeFileAtomically(file, text, AtomicWriteOptions{std::filesystem::perms(0600), true});
}

}  // namespace morvane::stores
