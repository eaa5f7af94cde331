#include "platform/desktop_open.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QWidget>

namespace morvane {

QString cannotOpenText(const QUrl& url) {
    if (url.isLocalFile()) {
        const QString path = QDir::toNativeSeparators(url.toLocalFile());
        const bool folder = QFileInfo(url.toLocalFile()).isDir();
        return (folder ? QStringLiteral("No application on this computer opens folders. The folder is:\n\n%1")
                       : QStringLiteral("No application on this computer opens this file. The file is:\n\n%1"))
            .arg(path);
    }
    return QStringLiteral("No application on this computer opens this address:\n\n%1").arg(url.toString());
}

bool openWithDesktop(const QUrl& url, QWidget* parent, const std::function<bool(const QUrl&)>& opener) {
    const bool opened = opener ? opener(url) : QDesktopServices::openUrl(url);
    if (opened) return true;
    // Like the application's other alerts: the title over the message, no system icon, one "OK".
    auto* box = new QMessageBox(parent ? parent->window() : nullptr);
    box->setObjectName(QStringLiteral("cannotOpen"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(QStringLiteral("Couldn’t Open"));
    box->setText(QStringLiteral("Couldn’t Open"));
    box->setInformativeText(cannotOpenText(url));
    box->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    // The path can be selected and copied.
    if (auto* message = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
    return false;
}

}  // namespace morvane
