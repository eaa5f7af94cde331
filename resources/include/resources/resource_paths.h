#pragma once

#include <QString>

namespace morvane::resources {

/// The application's mark.
QString logo();
/// The help page; its images and style sheet sit beside it in the "Help" folder.
QString helpPage();

}  // namespace morvane::resources
