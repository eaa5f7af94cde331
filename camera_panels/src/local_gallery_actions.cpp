#include "camera_panels/local_gallery_actions.h"

#include "platform/file_moves.h"

namespace morvane {

namespace fs = std::filesystem;

std::vector<fs::path> moveFilesToFolder(const std::vector<fs::path>& files, const fs::path& folder) {
    std::vector<fs::path> moved;
    for (const auto& file : files) {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) continue;
        if (auto placed = placeFileUnderFreeName(file, folder, file.stem().string(), file.extension().string(), ec,
                                                 {.forUser = true})) {
            moved.push_back(*placed);
        }
    }
    return moved;
}

}  // namespace morvane
