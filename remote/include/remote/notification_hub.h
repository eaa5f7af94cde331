#pragma once

#include <QObject>
#include <QVariant>

#include "protocol/deck_edit.h"

Q_DECLARE_METATYPE(morvane::DeckEdit)

namespace morvane {

/// The process-wide notices between screens and the controller. Signals are delivered on the main thread,
/// whichever thread posts.
class NotificationHub : public QObject {
    Q_OBJECT
public:
    /// The one hub of the process (needs a QCoreApplication).
    static NotificationHub& shared();

    /// Announces an exported take's edit; the object is normally a `DeckEdit`.
    void postDeckEditExported(const QVariant& object);
    void postDeckEditExported(const DeckEdit& edit) { postDeckEditExported(QVariant::fromValue(edit)); }

signals:
    void deckEditExported(const QVariant& object);

private:
    NotificationHub();
};

}  // namespace morvane
