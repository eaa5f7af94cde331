// A movie from a camera as it lies on disk, read by the container probe and by the shoot library's probe (size,
// rate, duration and start timecode), as both do before filing or editing it.

#include <cmath>

#include "fuzz_support.h"
#include "platform/asset_probe.h"
#include "shoot_library/shoot_library.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    using fuzz::require;
    const auto movie = fuzz::scratchFolder() / "probe.mov";
    fuzz::writeFile(movie, {data, size});
    if (auto probe = AssetProbe::load(movie)) {
        for (const auto& track : probe->tracks) {
            if (track.kind != AssetProbe::Kind::video) continue;
            require(track.width > 0 && track.height > 0 && track.width <= AssetProbe::maxDimension &&
                        track.height <= AssetProbe::maxDimension,
                    "a picture track of unreasonable size");
            if (track.minFrameDuration) require(track.minFrameDuration->isValid(), "an invalid frame interval");
            if (track.timeRange)
                require(std::isfinite(track.timeRange->start) && std::isfinite(track.timeRange->duration),
                        "a track's time range is not finite");
        }
    }
    auto result = ShootLibrary::probe(movie, "probe.mov");
    if (!result) return 0;
    // What the probe found goes into the day's clip and from there into the timeline files.
    ShootLibrary::Day day;
    ShootLibrary::Clip clip;
    clip.file = "probe.mov";
    clip.camera = "Camera A";
    clip.start = Date{786000000};
    clip.duration = 10;
    clip.isVideo = true;
    clip.take = 1;
    day.clips = {clip};
    require(ShootLibrary::applyProbe(day, *result), "the probe did not find its clip");
    (void)ShootLibrary::dayFCPXML("2025-11-27", day, "/shoot", day.clips);
    (void)ShootLibrary::dayXMEML("2025-11-27", day, "/shoot", day.clips);
    return 0;
}
