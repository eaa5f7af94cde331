#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace morvane {

/// How much lower than the rest of the program the threads that only read, hash or write file data run. Packets
/// (pictures, commands, their answers) pass through other threads, which must get a core at once while a file keeps
/// every core busy; the file still gets whatever those threads leave.
constexpr int fileWorkNiceness = 10;

/// Lowers the calling thread's priority (a Linux thread has a nice value of its own) by `fileWorkNiceness`.
inline void runAsFileWork() {
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno != 0) return;
    ::setpriority(PRIO_PROCESS, self, std::min(now + fileWorkNiceness, 19));
}

}  // namespace morvane
