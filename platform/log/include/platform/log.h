#pragma once

#include <string_view>

namespace morvane::log {

enum class Level { debug, info, error };

/// Writes one line to the system log (the journal or syslog), as "<component>: <message>" (for example
/// "MovieRecorder: couldn't create the writer"). Info and error lines also go to standard error where there is no
/// system log or when standard error is a terminal; every line does when MORVANE_LOG_STDERR is set.
void write(Level level, std::string_view component, std::string_view message);

/// Whether a journal or syslog daemon takes lines on this machine.
bool hasSystemLog();

inline void info(std::string_view component, std::string_view message) {
    write(Level::info, component, message);
}
inline void error(std::string_view component, std::string_view message) {
    write(Level::error, component, message);
}
inline void debug(std::string_view component, std::string_view message) {
    write(Level::debug, component, message);
}

}  // namespace morvane::log
