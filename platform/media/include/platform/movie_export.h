#pragma once

// Writes a program plan to a QuickTime movie: HEVC picture (tagged hvc1) through libx265 and AAC sound.

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/program_renderer.h"

namespace morvane {

struct MovieExport {
    struct Settings {
        std::string preset = "medium";  ///< libx265 preset
        int crf = 18;
        int audioBitRate = 192000;
        std::string x265Params;  ///< extra "key=value:…" options for libx265
    };

    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    /// Renders the whole plan into `file`. The movie is written next to it under a temporary name and moved
    /// into place only when complete, so a failed export leaves any earlier file untouched. `progress` gets
    /// the fraction done (0 to 1) from the calling thread as frames are written. Throws `Error`.
    static void run(const ProgramRenderer::Plan& plan, const std::filesystem::path& file, const Settings& settings,
                    const std::function<void(float)>& progress = {});

    /// Programs longer than this are refused rather than written for hours.
    static constexpr double maxDuration = 6 * 3600.0;
};

}  // namespace morvane
