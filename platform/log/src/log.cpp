#include "platform/log.h"

#include <syslog.h>

#include <cstdio>
#include <cstdlib>
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

bool wantsStderr() {
    const char* value = std::getenv("MORVANE_LOG_STDERR");
    return value != nullptr;
}

}  // namespace

void write(Level level, std::string_view component, std::string_view message) {
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("brindlecroft", LOG_PID | LOG_NDELAY, LOG_USER); });

    std::string line;
    line.reserve(component.size() + message.size() + 3);
    line.append(component).append(": ").append(message);
    ::syslog(priorityOf(level), "%s", line.c_str());

    if (wantsStderr()) {
        line.push_back('\n');
        // One call per line, so lines from several threads do not interleave.
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
}

}  // namespace morvane::log
