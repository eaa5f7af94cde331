#pragma once

#include <functional>

namespace morvane {

/// Ends the Qt event loop, through the loop itself, when the process gets SIGINT or SIGTERM, so that what
/// follows `exec()` runs as after a normal quit (stores written, running takes kept, temporary folders
/// removed). `quit` replaces `QCoreApplication::quit` as what happens then. A second signal while the first is
/// being handled ends the process at once, so a stuck program can still be stopped. Call once, after the
/// QCoreApplication exists.
void quitOnTerminationSignals(std::function<void()> quit = {});

}  // namespace morvane
