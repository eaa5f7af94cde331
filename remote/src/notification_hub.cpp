#include "remote/notification_hub.h"

#include <QCoreApplication>
#include <QThread>

namespace morvane {

NotificationHub::NotificationHub() {
    if (auto* app = QCoreApplication::instance()) moveToThread(app->thread());
}

NotificationHub& NotificationHub::shared() {
    // Lives as long as the process; observers disconnect themselves when they go.
    static NotificationHub* hub = new NotificationHub();
    return *hub;
}

void NotificationHub::postDeckEditExported(const QVariant& object) {
    if (QThread::currentThread() == thread()) {
        emit deckEditExported(object);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, object] { emit deckEditExported(object); }, Qt::QueuedConnection);
}

}  // namespace morvane
