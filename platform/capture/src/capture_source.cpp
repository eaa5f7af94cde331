#include "platform/capture_source.h"

#include <cmath>
#include <cstdlib>
#include <tuple>

#include "platform/log.h"

namespace morvane {

int CaptureSource::normalizedAngle(double degrees) {
    if (!std::isfinite(degrees)) return 0;
    double turns = std::round(std::fmod(degrees, 360.0) / 90.0);
    int quarter = static_cast<int>(turns) % 4;
    if (quarter < 0) quarter += 4;
    return quarter * 90;
}

std::optional<SourceMode> closestMode(const std::vector<SourceMode>& modes, int width, int height, double fps) {
    // The size first, then the rate among that size's modes.
    const SourceMode* size = nullptr;
    auto sizeKey = [&](const SourceMode& m) {
        const double area = static_cast<double>(m.width) * m.height;
        return std::tuple(std::abs(m.width - width) + std::abs(m.height - height), area);
    };
    for (const auto& m : modes) {
        if (m.width <= 0 || m.height <= 0 || !(m.fps() > 0)) continue;
        if (!size || sizeKey(m) < sizeKey(*size)) size = &m;
    }
    if (!size) return std::nullopt;
    const SourceMode* best = nullptr;
    for (const auto& m : modes) {
        if (m.width != size->width || m.height != size->height || !(m.fps() > 0)) continue;
        if (!best) {
            best = &m;
            continue;
        }
        const double r = std::abs(m.fps() - fps), bestR = std::abs(best->fps() - fps);
        if (r < bestR - 1e-9 || (std::abs(r - bestR) <= 1e-9 && m.fps() > best->fps())) best = &m;
    }
    return *best;
}

bool CaptureSource::restartIn(const SourceMode& next, const SourceMode& previous, bool running,
                              const Callbacks& callbacks, const std::function<void(const SourceMode&)>& take) {
    stop();
    return restartIn(next, previous, running, take, [&] {
        stop();
        return start(callbacks);
    });
}

bool CaptureSource::restartIn(const SourceMode& next, const SourceMode& previous, bool running,
                              const std::function<void(const SourceMode&)>& take,
                              const std::function<bool()>& restart) {
    take(next);
    if (!running || restart()) return true;
    // Stopped in a mode it cannot run in, the watchdog would only try it again and again: back to the one it had.
    log::error("Capture", "the source could not start in " + std::to_string(next.width) + "x" +
                              std::to_string(next.height) + ": back to the mode it had");
    take(previous);
    if (!restart()) log::error("Capture", "the source could not start again in the mode it had");
    return false;
}

void CaptureSource::setCaptureAngle(double degrees) {
    angle_.store(normalizedAngle(degrees));
}

}  // namespace morvane
