#include "qt_message_log.h"

#include <QString>

#include <cstring>

#include "platform/log.h"

namespace morvane::log {

namespace {

Level levelOf(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return Level::debug;
        case QtInfoMsg:
            return Level::info;
        case QtWarningMsg:
        case QtCriticalMsg:
        case QtFatalMsg:
            return Level::error;
    }
    return Level::error;
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const auto line = qtLogLine(context.category, message);
    // The log mirrors the line to a terminal, or where there is no system log.
    write(levelOf(type), line.component, line.message);
}

}  // namespace

QtLogLine qtLogLine(const char* category, const QString& message) {
    QtLogLine line{"Qt", message.toStdString()};
    if (category && *category && std::strcmp(category, "default") != 0) {
        line.component = std::string("Qt(") + category + ")";
    }
    return line;
}

void installQtMessageLog() {
    qInstallMessageHandler(handle);
}

}  // namespace morvane::log
