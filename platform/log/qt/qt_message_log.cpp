#include "qt_message_log.h"

#include <QString>

#include <unistd.h>

#include <cstdio>
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
    write(levelOf(type), line.component, line.message);
    // A developer at a terminal still sees Qt's messages there, unless the log already mirrors itself there.
    if (type != QtDebugMsg && ::isatty(STDERR_FILENO) && !std::getenv("MORVANE_LOG_STDERR")) {
        const std::string text = line.component + ": " + line.message + "\n";
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
}

}  // namespace

QtLogLine qtLogLine(const char* category, const QString& message) {
    QtLogLine line{"Qt", message.toStdString()};
    if (category && *category && std::strcmp(category, "default") != 0) {
        line.component = std::string("Qt(") + category + ")";
    }
    return line;
}

void installQtMessageLog() { qInstallMessageHandler(handle); }

}  // namespace morvane::log
