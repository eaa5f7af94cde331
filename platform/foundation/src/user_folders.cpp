#include "platform/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace morvane {

std::optional<std::filesystem::path> homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> userBaseFolder(const char* variable, const std::filesystem::path& underHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') return value;
    if (auto home = homeFolder()) return *home / underHome;
    return std::nullopt;
}

}  // namespace morvane
