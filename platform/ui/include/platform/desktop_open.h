#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace morvane {

/// Opens a folder, a file or an address with what the desktop has for it. Where the desktop has nothing (no
/// file manager, no player, no mail program), a message over `parent`'s window says so and names the path, so
/// that the user can find it by hand; it does not wait to be closed. `opener` stands in for the desktop's own
/// (`QDesktopServices::openUrl`) in tests. Returns whether the desktop took it.
bool openWithDesktop(const QUrl& url, QWidget* parent, const std::function<bool(const QUrl&)>& opener = {});

/// The message's text for an address the desktop could not open: the file's path, or the address itself.
QString cannotOpenText(const QUrl& url);

}  // namespace morvane
