#include "resources/resource_paths.h"

namespace morvane::resources {

QString logo() { return QStringLiteral(":/Logo.png"); }
QString helpPage() { return QStringLiteral(":/Help/help.html"); }

}  // namespace morvane::resources
