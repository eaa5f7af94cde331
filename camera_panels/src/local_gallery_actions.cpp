#include "camera_panels/local_gallery_actions.h"

#include <cerrno>
#include <unistd.h>

namespace morvane {

namespace fs = std::filesystem;

std::vector<fs::path> moveFilesToFolder(const std::vector<fs::path>& files, const fs::path& folder) {
    std::vector<fs::path> moved;
    for (const auto& file : files) {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) continue;
        const std::string stem = file.stem().string(), ext = file.extension().string();
        for (int n = 1; n < 10000; ++n) {
            const fs::path target = folder / (n == 1 ? file.filename().string() : stem + " " + std::to_string(n) + ext);
            // A hard link claims the name without replacing anything; across disks the file is copied instead.
            if (::link(file.c_str(), target.c_str()) == 0) {
                fs::remove(file, ec);
                moved.push_back(target);
                break;
            }
            if (errno == EXDEV) {
                if (fs::exists(target, ec)) continue;
                fs::copy_file(file, target, ec);
                if (ec) break;
                fs::remove(file, ec);
                moved.push_back(target);
                break;
            }
            if (errno != EEXIST) break;
        }
    }
    return moved;
}

}  // namespace morvane
