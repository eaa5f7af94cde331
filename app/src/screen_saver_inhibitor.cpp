#include "app/screen_saver_inhibitor.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include "platform/log.h"

namespace morvane {

ScreenSaverInhibitor::ScreenSaverInhibitor(QDBusConnection bus) : bus_(std::move(bus)) {}

ScreenSaverInhibitor::~ScreenSaverInhibitor() { setInhibited(false); }

void ScreenSaverInhibitor::setInhibited(bool inhibited) {
    if (inhibited == cookie_.has_value()) return;
    if (!bus_.isConnected()) return;
    const QString service = QString::fromLatin1(serviceName);
    if (inhibited) {
        auto* busInterface = bus_.interface();
        if (!busInterface || !busInterface->isServiceRegistered(service).value()) return;
        auto call = QDBusMessage::createMethodCall(service, QString::fromLatin1(objectPath), service,
                                                   QStringLiteral("Inhibit"));
        call << QStringLiteral("Brindlecroft") << QStringLiteral("Showing live camera pictures");
        const QDBusMessage reply = bus_.call(call, QDBus::Block, callTimeout);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            cookie_ = reply.arguments().front().toUInt();
        } else {
            log::info("ScreenSaver", "couldn't hold the screensaver off: " + reply.errorMessage().toStdString());
        }
    } else {
        auto call = QDBusMessage::createMethodCall(service, QString::fromLatin1(objectPath), service,
                                                   QStringLiteral("UnInhibit"));
        call << *cookie_;
        cookie_.reset();
        bus_.call(call, QDBus::Block, callTimeout);
    }
}

}  // namespace morvane
