// The desktop remote: one copy per user, one window showing the remote screen.

#include <QApplication>

#include "app/morvane_app.h"
#include "app/single_instance.h"
#include "platform/log.h"
#include "platform/theme.h"
#include "qt_message_log.h"

int main(int argc, char** argv) {
    morvane::log::installQtMessageLog();
    QApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlecroft"));
    QApplication::setDesktopFileName(QStringLiteral("brindlecroft"));

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
    morvane::MorvaneApp app;
    QObject::connect(&instance, &morvane::SingleInstance::requested, &app, [&app](const QByteArray&) {
        morvane::log::info("Brindlecroft", "another start asked for the window");
        app.bringToFront();
    });
    app.show();
    return QApplication::exec();
}
