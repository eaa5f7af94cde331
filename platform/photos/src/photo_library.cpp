#include "platform/photo_library.h"

#include "platform/file_contents.h"
#include "platform/file_moves.h"
#include "platform/user_folders.h"

#include <system_error>

namespace morvane {

namespace fs = std::filesystem;

PhotoLibrary::PhotoLibrary(fs::path picturesFolder) : folder_(std::move(picturesFolder) / "Brindlecroft") {}

fs::path PhotoLibrary::defaultPicturesFolder() {
    if (auto pictures = userDirectory("XDG_PICTURES_DIR", "Pictures")) return *pictures;
    return fs::temp_directory_path() / "Pictures";
}

fs::path PhotoLibrary::addVideo(const fs::path& file) const {
    return addFile(file);
}

fs::path PhotoLibrary::addFile(const fs::path& file) const {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) throw Error("No file at " + file.string());
    fs::create_directories(folder_, ec);
    if (ec) throw Error("Couldn't make the photo library folder: " + ec.message());

    // Copied whole under a hidden name first, so that the library never shows half a movie; a taken name gets
    // " 2", " 3"… The library is the user's, for any program to open.
    const fs::path name = file.filename();
    // The same bytes under the same name are already there: the camera ended after storing a take and before
    // letting go of it, and stores it again at its next start. One copy is enough.
    if (sameContents(file, folder_ / name)) return folder_ / name;
    const auto added = placeFileUnderFreeName(file, folder_, name.stem().string(), name.extension().string(), ec,
                                              {.copy = true, .forUser = true});
    if (!added) throw Error("Couldn't add the movie to the photo library: " + ec.message());
    return *added;
}

}  // namespace morvane
