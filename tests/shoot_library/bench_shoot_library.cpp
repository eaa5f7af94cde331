// Benchmarks of the shoot library.
//
//   bench_shoot_library import <megabytes> [count]
//       Files `count` sparse movies of the given size into a day folder on the same file system and prints the time
//       per filing. Filing is a rename: a 2048 MB movie files as fast as a 0 MB one, and keeps its inode.
//   bench_shoot_library probe [seconds] [count]
//       Files `count` real movies (1920×1080 H.264 at 29.97 fps with a timecode track, `seconds` long, made once with
//       the ffmpeg tool) the way a user waits for them: from the hand-over until the library has probed the movie
//       and recorded its frame rate, size and timecode. Prints the median, the slowest, and the rename alone.
//   bench_shoot_library rewrite [clips] [markers] [rounds]
//       Loads a day of `clips` movies (two cameras per take) and `markers` markers, then adds `rounds` program cuts,
//       each of which rewrites the manifest, the marker lists and every timeline document of the day.
//
// Everything happens in a temporary folder (TMPDIR or /tmp), removed at the end.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/defaults.h"
#include "shoot_library/shoot_library.h"
#include "temp_dir.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The local noon of 2026-12-06.
Date noon() {
    std::tm parts{};
    parts.tm_year = 2026 - 1900;
    parts.tm_mon = 11;
    parts.tm_mday = 6;
    parts.tm_hour = 12;
    parts.tm_isdst = -1;
    return Date::fromUnix(static_cast<double>(std::mktime(&parts)));
}

int benchImport(const fs::path& root, long megabytes, int count) {
    Defaults defaults(root / "defaults.json");
    ShootLibrary library(ShootLibrary::Environment{&defaults, root / "Movies"});
    const fs::path incoming = root / "incoming";
    fs::create_directories(incoming);
    double total = 0;
    for (int i = 0; i < count; ++i) {
        const fs::path source = incoming / ("movie-" + std::to_string(i) + ".mov");
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(megabytes) * 1024 * 1024) != 0) {
            std::perror("sparse movie");
            return 1;
        }
        ::close(fd);
        struct stat before {};
        ::stat(source.c_str(), &before);

        TransferInfo info;
        info.fileName = source.filename().string();
        info.capturedAt = noon().addingTimeInterval(i * 600.0);
        info.isVideo = true;
        info.duration = 60.0;
        const auto start = Clock::now();
        const fs::path filed = library.importFile(source, info, "Camera A");
        total += millisecondsSince(start);

        struct stat after {};
        if (::stat(filed.c_str(), &after) != 0 || after.st_ino != before.st_ino || after.st_size != before.st_size) {
            std::fprintf(stderr, "the movie was copied, not moved\n");
            return 1;
        }
    }
    library.waitUntilIdle();
    std::printf("import: %d movies of %ld MB, %.3f ms per filing\n", count, megabytes, total / count);
    return 0;
}

int benchProbe(const fs::path& root, int seconds, int count) {
    const fs::path master = root / "master.mov";
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001 "
        "-f lavfi -i sine=frequency=440:sample_rate=48000 -t " +
        std::to_string(seconds) + " -c:v libx264 -preset ultrafast -g 30 -c:a aac -timecode '12:00:00;01' -y '" +
        master.string() + "'";
    if (std::system(command.c_str()) != 0 || !fs::exists(master)) {
        std::fprintf(stderr, "the ffmpeg tool could not make the movie\n");
        return 1;
    }
    Defaults defaults(root / "defaults.json");
    ShootLibrary library(ShootLibrary::Environment{&defaults, root / "Movies"});
    const fs::path incoming = root / "incoming";
    fs::create_directories(incoming);
    std::vector<double> waits, renames;
    for (int i = 0; i < count; ++i) {
        const fs::path source = incoming / ("movie-" + std::to_string(i) + ".mov");
        fs::copy_file(master, source, fs::copy_options::overwrite_existing);
        TransferInfo info;
        info.fileName = source.filename().string();
        info.capturedAt = noon().addingTimeInterval(i * 600.0);
        info.isVideo = true;
        info.duration = seconds;
        const auto start = Clock::now();
        const fs::path filed = library.importFile(source, info, "Camera A");
        renames.push_back(millisecondsSince(start));
        library.waitUntilIdle();
        waits.push_back(millisecondsSince(start));
        // The wait counts only if the probe's findings are in the day's manifest.
        std::ifstream in(filed.parent_path() / ShootLibrary::manifestName);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto day = ShootLibrary::decodeManifest(text);
        bool probed = false;
        for (const auto& clip : day ? day->clips : std::vector<ShootLibrary::Clip>{}) {
            if (clip.file == filed.filename().string()) {
                probed = clip.width == 1920 && clip.height == 1080 && clip.ntsc == true && clip.timecodeFrame;
            }
        }
        if (!probed) {
            std::fprintf(stderr, "the movie was filed without its probe's findings\n");
            return 1;
        }
    }
    std::sort(waits.begin(), waits.end());
    std::sort(renames.begin(), renames.end());
    std::printf("probe: %d movies of %d s, 1080p H.264 (%.1f MB each), filed and probed: median %.1f ms, slowest "
                "%.1f ms; the rename alone: median %.2f ms\n",
                count, seconds, static_cast<double>(fs::file_size(master)) / 1e6, waits[waits.size() / 2],
                waits.back(), renames[renames.size() / 2]);
    return 0;
}

int benchRewrite(const fs::path& root, int clipCount, int markerCount, int rounds) {
    Defaults defaults(root / "defaults.json");
    const Date day = noon();
    const std::string key = ShootLibrary::dayKeyString(day);
    const fs::path folder = root / "Movies" / "Brindlecroft" / key;
    fs::create_directories(folder);

    ShootLibrary::Day manifest;
    for (int i = 0; i < clipCount; ++i) {
        ShootLibrary::Clip clip;
        const int take = i / 2 + 1;
        clip.camera = i % 2 ? "Camera B" : "Camera A";
        clip.file = "Take " + std::to_string(take) + " \u2013 " + clip.camera + ".mov";
        clip.start = day.addingTimeInterval(-6 * 3600 + take * 60.0 + (i % 2) * 0.4);
        clip.duration = 45.0;
        clip.isVideo = true;
        clip.take = take;
        clip.frameRate = i % 5 == 0 ? 25 : 30;
        clip.ntsc = clip.frameRate == 30;
        clip.width = 1920;
        clip.height = 1080;
        clip.timecodeFrame = static_cast<std::int64_t>(clip.start.secondsSinceReferenceDate) % 2'000'000;
        std::ofstream(folder / clip.file);
        manifest.clips.push_back(clip);
    }
    for (int i = 0; i < markerCount; ++i)
        manifest.markers.push_back({i + 1, day.addingTimeInterval(-6 * 3600 + i * 75.0), {"Camera A", "Camera B"}});
    for (int i = 0; i < clipCount; ++i)
        manifest.cuts.push_back({i % 2 ? "Camera B" : "Camera A", day.addingTimeInterval(-6 * 3600 + i * 30.0 + 5)});
    for (int i = 0; i < clipCount / 10; ++i) {
        DeckEdit edit;
        edit.name = "Edit " + std::to_string(i);
        edit.exportedAt = day;
        const Date from = day.addingTimeInterval(-6 * 3600 + (i * 10 + 1) * 60.0 + 2);
        edit.pieces = {{"Camera A", from, from.addingTimeInterval(10)},
                       {"Camera B", from.addingTimeInterval(10), from.addingTimeInterval(20)}};
        edit.sound = DeckEdit::Sound::Mix{};
        manifest.deckEdits.push_back(edit);
    }
    std::ofstream(folder / ".quorbelin-shoot.json") << *ShootLibrary::encodeManifest(manifest);

    ShootLibrary library(ShootLibrary::Environment{&defaults, root / "Movies"});
    // The first change writes every file of the day: none exists yet.
    auto start = Clock::now();
    library.addCut("Camera A", day);
    library.waitUntilIdle();
    const double firstWrite = millisecondsSince(start);

    // Later changes: a live cut inside a take changes that take's documents, the day's documents and the manifest.
    start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        const int take = 1 + (i * 37) % (clipCount / 2);
        library.addCut(i % 2 ? "Camera A" : "Camera B", day.addingTimeInterval(-6 * 3600 + take * 60.0 + 20 + i % 7));
        library.waitUntilIdle();
    }
    const double perRewrite = millisecondsSince(start) / rounds;
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(folder)) ++files;
    std::printf(
        "rewrite: %d clips, %d markers, %zu cuts, %zu deck edits, %zu files in the day folder: "
        "%.1f ms for the first full write, %.1f ms per later rewrite\n",
        clipCount, markerCount, manifest.cuts.size(), manifest.deckEdits.size(), files, firstWrite, perRewrite);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const test::TempDir temp;
    const fs::path& root = temp.path();
    int status = 2;
    if (mode == "import") {
        status = benchImport(root, argc > 2 ? std::atol(argv[2]) : 2048, argc > 3 ? std::atoi(argv[3]) : 5);
    } else if (mode == "probe") {
        status = benchProbe(root, argc > 2 ? std::atoi(argv[2]) : 60, argc > 3 ? std::atoi(argv[3]) : 10);
    } else if (mode == "rewrite") {
        status = benchRewrite(root, argc > 2 ? std::atoi(argv[2]) : 500, argc > 3 ? std::atoi(argv[3]) : 200,
                              argc > 4 ? std::atoi(argv[4]) : 10);
    } else {
        std::fprintf(stderr,
                     "usage: %s import <megabytes> [count] | probe [seconds] [count] | rewrite [clips] [markers] "
                     "[rounds]\n",
                     argv[0]);
    }
    return status;
}
