#pragma once

namespace morvane {

/// A call into a capture source: opening its device, a setting (a request to its driver), or stopping it.
enum class SourceCall { opening, setting, stopping };

/// How long the streamer waits for a call into its capture source before leaving it behind, stuck in its device,
/// and how many threads left behind it bears: each call that has not returned holds one, and so does each reader a
/// source's stop left behind. Creating threads fails once they run out: past `maxLeftBehind` a stalled capture is
/// not started again, until some of them let go.
struct SourceCallLimits {
    /// A source that takes longer to stop is left behind: a new one can start meanwhile.
    double stopSeconds = 1.0;
    /// Opening a device reads from it, and a setting is a request to its driver; more than a device's own opening
    /// may take.
    double callSeconds = 5.0;
    int maxLeftBehind = 3;

    /// When a call of `kind` started at `startedAt` is left behind.
    double deadline(SourceCall kind, double startedAt) const {
        return startedAt + (kind == SourceCall::stopping ? stopSeconds : callSeconds);
    }
    /// Whether a stalled capture may be started again while `leftBehind` threads are stuck in devices.
    bool mayRestart(int leftBehind) const { return leftBehind < maxLeftBehind; }
};

}  // namespace morvane
