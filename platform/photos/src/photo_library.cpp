#include "platform/photo_library.h"

#include "platform/user_folders.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <system_error>

namespace morvane {

namespace fs = std::filesystem;

PhotoLibrary::PhotoLibrary(fs::path picturesFolder) : folder_(std::move(picturesFolder) / "Brindlecroft") {}

fs::path PhotoLibrary::defaultPicturesFolder() {
    if (auto pictures = userDirectory("XDG_PICTURES_DIR", "Pictures")) return *pictures;
    return fs::temp_directory_path() / "Pictures";
}

fs::path PhotoLibrary::addVideo(const fs::path& file) const { return addFile(file); }

fs::path PhotoLibrary::addFile(const fs::path& file) const {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) throw Error("No file at " + file.string());
    fs::create_directories(folder_, ec);
    if (ec) throw Error("Couldn't make the photo library folder: " + ec.message());

    // Copy under a hidden name first, so that the library never shows half a movie.
    std::random_device rd;
    const fs::path temporary = folder_ / (std::string(".").append(std::to_string(rd())).append(".partial"));
    fs::copy_file(file, temporary, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        fs::remove(temporary, ec);
        throw Error("Couldn't copy the movie into the photo library: " + ec.message());
    }

    const fs::path name = file.filename();
    const std::string stem = name.stem().string();
    const std::string extension = name.extension().string();
    for (int n = 1; n < 10000; ++n) {
        const fs::path target = folder_ / (n == 1 ? name.string() : stem + " " + std::to_string(n) + extension);
        // A hard link fails when the name is taken, where a rename would replace what is there.
        if (::link(temporary.c_str(), target.c_str()) == 0) {
            fs::remove(temporary, ec);
            return target;
        }
        if (errno != EEXIST) {
            const std::string reason = std::strerror(errno);
            fs::remove(temporary, ec);
            throw Error("Couldn't add the movie to the photo library: " + reason);
        }
    }
    fs::remove(temporary, ec);
    throw Error("Couldn't find a free name in the photo library");
}

}  // namespace morvane
