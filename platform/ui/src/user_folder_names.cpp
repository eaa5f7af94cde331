#include "platform/user_folder_names.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace morvane::userFolderNames {

namespace {

QString nameOf(QStandardPaths::StandardLocation location, const char* fallback) {
    const QString name = QFileInfo(QStandardPaths::writableLocation(location)).fileName();
    return name.isEmpty() ? QString::fromUtf8(fallback) : name;
}

}  // namespace

QString videos() {
    return nameOf(QStandardPaths::MoviesLocation, "Videos");
}
QString pictures() {
    return nameOf(QStandardPaths::PicturesLocation, "Pictures");
}
QString documents() {
    return nameOf(QStandardPaths::DocumentsLocation, "Documents");
}

}  // namespace morvane::userFolderNames
