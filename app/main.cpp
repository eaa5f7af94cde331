// The desktop remote: one copy per user, one window showing the remote screen (or, with --deck, the remote
// screen run as the deck).

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/morvane_app.h"
#include "app/single_instance.h"
#include "platform/log.h"
#include "platform/theme.h"
#include "qt_message_log.h"
#include "quit_on_signals.h"
#include "remote/monitor_controller.h"
#include "resources/resource_paths.h"

int main(int argc, char** argv) {
    // Read before Qt looks for a display, so that --help and --version work anywhere.
    const auto line = morvane::CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
        case morvane::CommandLine::Action::help:
            std::fputs(morvane::CommandLine::helpText, stdout);
            return 0;
        case morvane::CommandLine::Action::version:
            std::printf("brindlecroft %s\n", MORVANE_VERSION);
            return 0;
        case morvane::CommandLine::Action::error:
            std::fprintf(stderr, "brindlecroft: %s\nTry 'brindlecroft --help'.\n", line.problem.c_str());
            return 2;
        case morvane::CommandLine::Action::run:
            break;
    }

    morvane::log::installQtMessageLog();
    QApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlecroft"));
    QApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("brindlecroft"));
    QApplication::setWindowIcon(QIcon(morvane::resources::logo()));

    morvane::SingleInstance instance;
    switch (instance.claim("show")) {
        case morvane::SingleInstance::Role::secondary:
            morvane::log::info("Brindlecroft", "already running: its window comes to the front");
            return 0;
        case morvane::SingleInstance::Role::failed:
            morvane::log::error("Brindlecroft", "another copy holds the lock but does not answer");
            return 1;
        case morvane::SingleInstance::Role::primary:
            break;
    }

    morvane::theme::apply(application);
    // SIGINT and SIGTERM end the event loop like the window's close, so everything below still runs.
    morvane::quitOnTerminationSignals();
    int rc = 0;
    {
        morvane::MorvaneApp::Options options;
        options.deck = line.deck;
        morvane::MorvaneApp app(std::move(options));
        QObject::connect(&instance, &morvane::SingleInstance::requested, &app, [&app](const QByteArray&) {
            morvane::log::info("Brindlecroft", "another start asked for the window");
            app.bringToFront();
        });
        app.show();
        rc = QApplication::exec();
    }
    // The window went and its screen stopped the controller; the application-wide link, which would otherwise
    // outlive the event loop, stops now and removes its temporary folder.
    morvane::MonitorController::stopSharedLink();
    QCoreApplication::processEvents();
    morvane::log::info("Brindlecroft", "quit");
    return rc;
}
