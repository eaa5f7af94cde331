#pragma once

#include <QString>

/// The names the desktop gives the user's folders (the last part of their paths, as the user-dirs file sets
/// them: "Videos", "Pictures", "Documents" or their translations), for texts that say where files go.
namespace morvane::userFolderNames {

QString videos();
QString pictures();
QString documents();

}  // namespace morvane::userFolderNames
