// Naming, take numbering and cut bookkeeping of filed captures.

#include <sys/stat.h>

#include <QString>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

#include "platform/file_moves.h"
#include "shoot_library/shoot_library.h"
#include "text_utils.h"

namespace morvane {

namespace {

constexpr std::size_t maxFileNameBytes = 255;
constexpr std::size_t maxExtensionLength = 10;

bool existsWithoutFollowing(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool isTrimmed(QChar c) {
    return c.isSpace() || c == QLatin1Char('.');
}

}  // namespace

std::string ShootLibrary::cleanFileName(const std::string& name, const std::string& fallback) {
    QString s = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    s.replace(QLatin1Char('/'), QLatin1Char('-'));
    s.replace(QLatin1Char(':'), QLatin1Char('-'));
    s.replace(QLatin1Char('\\'), QLatin1Char('-'));
    // Control characters would end up in file names and XML documents.
    for (auto& c : s) {
        if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
    }
    qsizetype first = 0;
    qsizetype last = s.size();
    while (first < last && isTrimmed(s[first])) ++first;
    while (last > first && isTrimmed(s[last - 1])) --last;
    s = s.mid(first, last - first);
    if (s.isEmpty()) return fallback;

    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, s);
    std::size_t count = 0;
    qsizetype cut = s.size();
    while (graphemes.toNextBoundary() >= 0) {
        if (++count == maxCameraNameLength) {
            cut = graphemes.position();
            break;
        }
    }
    return s.left(cut).toStdString();
}

std::string ShootLibrary::fileExtension(const std::string& fileName, bool isVideo) {
    const std::string fallback = isVideo ? "mov" : "heic";
    const auto slash = fileName.find_last_of('/');
    const std::string last = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = last.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return fallback;
    const std::string extension = last.substr(dot + 1);
    if (extension.empty() || extension.size() > maxExtensionLength) return fallback;
    const bool plain = std::all_of(extension.begin(), extension.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
    return plain ? extension : fallback;
}

std::filesystem::path ShootLibrary::uniqueURL(const std::filesystem::path& folder, const std::string& base,
                                              const std::string& extension) {
    std::error_code ignored;
    const auto free = claimFirstFreeName(
        folder, base, "." + extension,
        [](const std::filesystem::path& path) { return existsWithoutFollowing(path) ? EEXIST : 0; }, ignored);
    return free.value_or(folder / numberedName(base, "." + extension, 1));
}

bool ShootLibrary::isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= maxFileNameBytes &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::int64_t ShootLibrary::takeNumber(const std::vector<Clip>& clips, const Clip& clip) {
    const double newStart = clip.start.secondsSinceReferenceDate;
    const double newEnd = newStart + clip.duration;
    // One camera's two recordings are two takes, however close: a take the camera already has is not joined.
    auto cameraHas = [&](std::int64_t take) {
        return std::any_of(clips.begin(), clips.end(),
                           [&](const Clip& c) { return c.isVideo && c.camera == clip.camera && c.take == take; });
    };
    for (const auto& other : clips) {
        if (!other.isVideo || cameraHas(other.take)) continue;
        const double start = other.start.secondsSinceReferenceDate;
        const double end = start + other.duration;
        if (newStart <= end + takeTolerance && start <= newEnd + takeTolerance) return other.take;
    }
    auto takes = dayTakes(clips);
    takes.push_back({clip.start, 0, false});
    return numberTakes(takes).back().number;
}

std::vector<DayTake> ShootLibrary::dayTakes(const std::vector<Clip>& clips) {
    // Each take starts with its earliest movie.
    std::map<std::int64_t, Date> starts;
    for (const auto& clip : clips) {
        if (!clip.isVideo) continue;
        auto [found, added] = starts.try_emplace(clip.take, clip.start);
        if (!added && clip.start < found->second) found->second = clip.start;
    }
    std::vector<DayTake> takes;
    for (const auto& [take, start] : starts) takes.push_back({start, take, true});
    return takes;
}

bool ShootLibrary::filedLate(const std::vector<Clip>& clips, const Clip& clip) {
    auto withClip = clips;
    withClip.push_back(clip);
    const auto takes = dayTakes(withClip);
    const auto numbers = numberTakes(takes);
    for (std::size_t i = 0; i < takes.size(); ++i)
        if (takes[i].number == clip.take) return numbers[i].late;
    return false;
}

std::optional<std::int64_t> ShootLibrary::takeAtDate(const std::vector<Clip>& clips, Date date) {
    const double t = date.secondsSinceReferenceDate;
    for (const auto& clip : clips) {
        if (!clip.isVideo) continue;
        const double start = clip.start.secondsSinceReferenceDate;
        if (start <= t && t <= start + clip.duration) return clip.take;
    }
    return std::nullopt;
}

void ShootLibrary::addCutToDay(Day& day, const ProgramCut& cut) {
    const std::string name = cleanFileName(cut.camera, "Camera");
    // After every cut of the same time, as a stable sort would place it.
    const auto place = std::upper_bound(day.cuts.begin(), day.cuts.end(), cut.at,
                                        [](Date t, const ProgramCut& c) { return t < c.at; });
    // A copy of a cut (the remote's own and each camera's, a few milliseconds apart) lands next to it. A cut of
    // the same camera with another one in between is a cut back, however quick, and is kept.
    const auto sameCut = [&](const ProgramCut& c) {
        return c.camera == name && std::abs(c.at.timeIntervalSince(cut.at)) < duplicateCutWindow;
    };
    if (place != day.cuts.begin() && sameCut(*std::prev(place))) return;
    if (place != day.cuts.end() && sameCut(*place)) return;
    day.cuts.insert(place, ProgramCut{name, cut.at});
}

void ShootLibrary::addCameraCut(Day& day, CutsKnown& known, const ProgramCut& copy) {
    const ProgramCut cut{cleanFileName(copy.camera, "Camera"), copy.at};
    // A camera that stamps the moment a cut reached it stamps up to `lateCopyWindow` after the cut; one that was
    // told when the cut was made stamps that moment, give or take what clocks differ by.
    const auto within = [&](const ProgramCut& c) {
        const double after = c.at.timeIntervalSince(cut.at);
        return c.camera == cut.camera && after > -lateCopyWindow && after < duplicateCutWindow;
    };
    if (std::any_of(known.made.begin(), known.made.end(), within)) return;
    // A status tells of a cut made elsewhere only once it has come back from a camera; the copy knows when it was made.
    const auto heardLater = [&](const ProgramCut& c) {
        const double after = c.at.timeIntervalSince(cut.at);
        return c.camera == cut.camera && after > -duplicateCutWindow && after <= lateCopyWindow;
    };
    const auto heard = std::find_if(known.heard.begin(), known.heard.end(), heardLater);
    if (heard != known.heard.end()) {
        const auto logged = std::find(day.cuts.begin(), day.cuts.end(), *heard);
        if (logged != day.cuts.end()) day.cuts.erase(logged);
        heard->at = std::min(heard->at, cut.at);
        addCutToDay(day, *heard);
        return;
    }
    addCutToDay(day, cut);
}

}  // namespace morvane
