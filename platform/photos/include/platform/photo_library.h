#pragma once

// The photo library: the "Brindlecroft" folder inside the user's pictures folder.

#include <filesystem>
#include <stdexcept>
#include <string>

namespace morvane {

class PhotoLibrary {
public:
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    /// The library inside `picturesFolder` (the user's pictures folder; tests give a temporary one).
    explicit PhotoLibrary(std::filesystem::path picturesFolder);

    /// The user's pictures folder, as the desktop's user folders file names it (its XDG_PICTURES_DIR key), else
    /// Pictures in the home folder.
    static std::filesystem::path defaultPicturesFolder();

    /// The folder the library keeps its files in.
    const std::filesystem::path& folder() const { return folder_; }

    /// Copies a movie into the library and returns the copy. The copy keeps the file's name, or gets " 2",
    /// " 3", … before the extension when that name is taken; nothing in the library is ever replaced. A copy
    /// appears whole or not at all; a file already there under its name with the same bytes is the copy. Throws `Error`
    /// when the folder cannot be made or the file cannot be copied.
    std::filesystem::path addVideo(const std::filesystem::path& file) const;
    /// Copies a photo into the library the same way.
    std::filesystem::path addPhoto(const std::filesystem::path& file) const { return addFile(file); }

private:
    std::filesystem::path addFile(const std::filesystem::path& file) const;

    std::filesystem::path folder_;
};

}  // namespace morvane
