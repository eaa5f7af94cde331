// A day's shoot manifest as found on disk, decoded, written back, and fed to the day's timeline files and
// marker lists, as the shoot library does after loading it.

#include <algorithm>

#include "fuzz_support.h"
#include "shoot_library/shoot_library.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    using Day = ShootLibrary::Day;
    using Clip = ShootLibrary::Clip;
    auto decoded = ShootLibrary::decodeManifest(fuzz::text({data, size}));
    if (!decoded) return 0;
    Day day = std::move(*decoded);
    std::stable_sort(day.cuts.begin(), day.cuts.end(),
                     [](const ProgramCut& a, const ProgramCut& b) { return a.at < b.at; });

    if (auto text = ShootLibrary::encodeManifest(day)) {
        auto again = ShootLibrary::decodeManifest(*text);
        fuzz::require(again && *again == day, "a manifest changed on its way through writing and reading");
    }

    std::vector<Clip> videos;
    for (const auto& clip : day.clips)
        if (clip.isVideo && ShootLibrary::isPlainFileName(clip.file)) videos.push_back(clip);
    const auto rate = ShootLibrary::dayRate(videos);
    const std::string dayKey = "2026-12-07";
    const std::filesystem::path folder = "/nonexistent/shoot/2026-12-07";
    (void)ShootLibrary::markersEDL(dayKey, day, rate);
    (void)ShootLibrary::markersCSV(dayKey, day, rate);
    if (videos.empty()) return 0;
    (void)ShootLibrary::dayFCPXML(dayKey, day, folder, videos);
    (void)ShootLibrary::dayXMEML(dayKey, day, folder, videos);
    for (const auto& [take, clips] : ShootLibrary::clipsByTake(videos)) {
        (void)ShootLibrary::dayFCPXML(dayKey, day, folder, clips);
        (void)ShootLibrary::dayXMEML(dayKey, day, folder, clips);
    }
    return 0;
}
