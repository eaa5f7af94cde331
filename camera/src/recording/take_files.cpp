#include "camera/take_files.h"

#include <string>

namespace morvane {

namespace fs = std::filesystem;

namespace {

// The movie of a hidden file beside it: ".<movie><suffix>".
std::optional<fs::path> movieOfHidden(const fs::path& file, const std::string& suffix) {
    const std::string name = file.filename().string();
    if (name.size() <= 1 + suffix.size() || name[0] != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    const std::string movie = name.substr(1, name.size() - 1 - suffix.size());
    if (movie.empty() || movie == "." || movie == "..") return std::nullopt;
    return file.parent_path() / movie;
}

}  // namespace

fs::path journalOf(const fs::path& movie) {
    return movie.parent_path() / ("." + movie.filename().string() + ".journal");
}

fs::path reserveOf(const fs::path& movie) {
    return movie.parent_path() / ("." + movie.filename().string() + ".reserve");
}

std::optional<fs::path> movieOfJournal(const fs::path& file) {
    return movieOfHidden(file, ".journal");
}

std::optional<fs::path> movieOfReserve(const fs::path& file) {
    return movieOfHidden(file, ".reserve");
}

}  // namespace morvane
