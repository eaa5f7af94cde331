#pragma once

#include <QtGlobal>

#include <string>

namespace morvane::log {

/// Routes Qt's own messages (warnings from the platform plugin, the painter, D-Bus, …) to the system log as
/// "Qt: <message>", or "Qt(<category>): <message>" for a named logging category. Debug messages become debug
/// lines, info messages info lines, warnings and worse error lines; a fatal message is logged before Qt
/// aborts. Standard error gets a copy as `log::write` gives one.
void installQtMessageLog();

/// The line that a Qt message becomes, without the level: component and text.
struct QtLogLine {
    std::string component;
    std::string message;
};
QtLogLine qtLogLine(const char* category, const QString& message);

}  // namespace morvane::log
