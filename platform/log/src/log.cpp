#include "platform/log.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

namespace morvane::log {

namespace {

int priorityOf(Level level) {
    switch (level) {
        case Level::debug:
            return LOG_DEBUG;
        case Level::info:
            return LOG_INFO;
        case Level::error:
            return LOG_ERR;
    }
    return LOG_INFO;
}

bool wantsStderr(Level level) {
    if (std::getenv("MORVANE_LOG_STDERR")) return true;
    // Debug lines would drown a terminal; they stay in the system log.
    if (level == Level::debug) return false;
    return !hasSystemLog() || ::isatty(STDERR_FILENO);
}

}  // namespace

bool hasSystemLog() {
    // The journal and syslog daemons both listen on /dev/log; a container or a minimal machine may have neither.
    static const bool present = [] {
        std::error_code ec;
        return std::filesystem::is_socket("/dev/log", ec);
    }();
    return present;
}

void write(Level level, std::string_view component, std::string_view message) {
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("brindlecroft", LOG_PID | LOG_NDELAY, LOG_USER); });

    std::string line;
    line.reserve(component.size() + message.size() + 3);
    line.append(component).append(": ").append(message);
    ::syslog(priorityOf(level), "%s", line.c_str());

    if (wantsStderr(level)) {
        line.push_back('\n');
        // One call per line, so lines from several threads do not interleave.
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
}

}  // namespace morvane::log
